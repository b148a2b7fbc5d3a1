// Facts about a module (the executable or a shared library). The path is looked up from an
// address inside the module; version and build time are compiled into the module that asks,
// through ORVEX_THIS_MODULE_INFO(), so every module reports its own.
#pragma once

#include <string>

namespace orvex::platform {

struct ModuleInfo {
    std::string path;        // full path of the module file; empty when unknown
    std::string version;     // ORVEX_MODULE_VERSION of the module, "0.0.0.0" when not given
    std::string build_date;  // __DATE__ as compiled: "Mmm dd yyyy"
    std::string build_time;  // __TIME__ as compiled: "hh:mm:ss"
    std::string built;       // both as "yyyy-mm-dd hh:mm:ss"
};

// Full path of the module that contains `address`; empty when it belongs to none.
std::string ModulePathOf(const void* address);

namespace detail {
ModuleInfo MakeModuleInfo(const void* address_in_module, const char* version, const char* date,
                          const char* time);
}  // namespace detail

}  // namespace orvex::platform

#ifndef ORVEX_MODULE_VERSION
#define ORVEX_MODULE_VERSION "0.0.0.0"
#endif

// Expands, in the calling module, to that module's ModuleInfo: the anchor variable and the
// build stamps belong to the translation unit that uses the macro.
#define ORVEX_THIS_MODULE_INFO()                                             \
    ([] {                                                                    \
        static const char orvex_module_anchor = 0;                           \
        return ::orvex::platform::detail::MakeModuleInfo(                    \
            &orvex_module_anchor, ORVEX_MODULE_VERSION, __DATE__, __TIME__); \
    }())
