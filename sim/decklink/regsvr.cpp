// orvex-regsvr: registers or unregisters a COM server library, as a user does once after
// installing it: loads the library and calls its DllRegisterServer (or, with /u,
// DllUnregisterServer).
#include <cstdio>
#include <cstring>
#include <string>

#include "com/types.h"
#include "platform/dynamic_library.h"

int main(int argc, char** argv) {
    bool unregister = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "/u") || !std::strcmp(argv[i], "-u"))
            unregister = true;
        else
            path = argv[i];
    }
    if (!path) {
        std::fprintf(stderr, "usage: orvex-regsvr [-u] LIBRARY\n");
        return 2;
    }
    orvex::platform::DynamicLibrary lib;
    if (!lib.Open(path)) {
        std::fprintf(stderr, "cannot load %s: %s\n", path, lib.Error().c_str());
        return 1;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto fn = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(lib.Symbol(entry));
    if (!fn) {
        std::fprintf(stderr, "%s has no %s\n", path, entry);
        return 1;
    }
    const HRESULT hr = fn();
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s failed: 0x%08X\n", entry, static_cast<unsigned>(hr));
        return 1;
    }
    std::printf("%s: %s succeeded\n", path, entry);
    return 0;
}
