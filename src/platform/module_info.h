// Facts about a module (the executable or a shared library). The path is looked up from an
// address inside the module; version and build time are compiled into the module that asks,
// through ORVEX_THIS_MODULE_INFO(), so every module reports its own.
#pragma once

#include <string>

namespace orvex::platform {

struct ModuleInfo {
    std::string path;     // full path of the module file; empty when unknown
    std::string version;  // "major.minor.patch.build"; "0.0.0.0" when the module gives none
    unsigned version_numbers[4] = {0, 0, 0, 0};  // the same, as numbers
    std::string build_date;                      // __DATE__ as compiled: "Mmm dd yyyy"
    std::string build_time;                      // __TIME__ as compiled: "hh:mm:ss"
    std::string built;                           // both as "yyyy-mm-dd hh:mm:ss"
};

// Full path of the module that contains `address`; empty when it belongs to none.
std::string ModulePathOf(const void* address);

namespace detail {
ModuleInfo MakeModuleInfo(const void* address_in_module, const char* version, const char* date,
                          const char* time);
}  // namespace detail

}  // namespace orvex::platform

// A module gives its version as ORVEX_MODULE_VERSION ("1.2.3.4"), or as the numbers
// ORVEX_MODULE_VERSION_MAJOR/_MINOR/_PATCH/_BUILD (missing ones count as 0).
#ifndef ORVEX_MODULE_VERSION
#define ORVEX_DETAIL_STRINGIFY2(x) #x
#define ORVEX_DETAIL_STRINGIFY(x) ORVEX_DETAIL_STRINGIFY2(x)
#ifndef ORVEX_MODULE_VERSION_MAJOR
#define ORVEX_MODULE_VERSION_MAJOR 0
#endif
#ifndef ORVEX_MODULE_VERSION_MINOR
#define ORVEX_MODULE_VERSION_MINOR 0
#endif
#ifndef ORVEX_MODULE_VERSION_PATCH
#define ORVEX_MODULE_VERSION_PATCH 0
#endif
#ifndef ORVEX_MODULE_VERSION_BUILD
#define ORVEX_MODULE_VERSION_BUILD 0
#endif
#define ORVEX_MODULE_VERSION                                                           \
    ORVEX_DETAIL_STRINGIFY(ORVEX_MODULE_VERSION_MAJOR)                                 \
    "." ORVEX_DETAIL_STRINGIFY(ORVEX_MODULE_VERSION_MINOR) "." ORVEX_DETAIL_STRINGIFY( \
        ORVEX_MODULE_VERSION_PATCH) "." ORVEX_DETAIL_STRINGIFY(ORVEX_MODULE_VERSION_BUILD)
#endif

// Expands, in the calling module, to that module's ModuleInfo: the anchor variable and the
// build stamps belong to the translation unit that uses the macro.
#define ORVEX_THIS_MODULE_INFO()                                             \
    ([] {                                                                    \
        static const char orvex_module_anchor = 0;                           \
        return ::orvex::platform::detail::MakeModuleInfo(                    \
            &orvex_module_anchor, ORVEX_MODULE_VERSION, __DATE__, __TIME__); \
    }())
