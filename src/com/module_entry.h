// Process attach and detach of a module: DllMain on Windows, constructor and destructor
// functions of the shared object elsewhere.
#pragma once

#if defined(_WIN32)
#define ORVEX_MODULE_ENTRY(attach, detach)                                          \
    extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void*) { \
        if (reason == 1) return attach(instance) ? 1 : 0;                           \
        if (reason == 0) detach();                                                  \
        return 1;                                                                   \
    }
#else
#define ORVEX_MODULE_ENTRY(attach, detach)                  \
    namespace {                                             \
    __attribute__((constructor)) void OrvexModuleAttach() { \
        attach(nullptr);                                    \
    }                                                       \
    __attribute__((destructor)) void OrvexModuleDetach() {  \
        detach();                                           \
    }                                                       \
    }
#endif
