// A loadable module that reports its own module facts.
#include <cstdio>

#include "platform/module_info.h"

extern "C" __attribute__((visibility("default"))) int PluginAdd(int a, int b) {
    return a + b;
}

// Copies the plugin's version and path into the caller's buffers of `size` bytes each.
extern "C" __attribute__((visibility("default"))) void PluginModuleInfo(char* version, char* path,
                                                                        int size) {
    const orvex::platform::ModuleInfo info = ORVEX_THIS_MODULE_INFO();
    std::snprintf(version, static_cast<std::size_t>(size), "%s", info.version.c_str());
    std::snprintf(path, static_cast<std::size_t>(size), "%s", info.path.c_str());
}

#if !defined(_WIN32)
#include "platform/registry.h"

// Reads the DWORD value "v" of the current user's key `path` through the plugin's own registry
// store; -1 when it cannot.
extern "C" __attribute__((visibility("default"))) long long PluginReadDword(const char16_t* path) {
    orvex::platform::RegistryKey key;
    DWORD v = 0;
    if (key.Open(orvex::platform::RegRoot::kCurrentUser, path) != ERROR_SUCCESS ||
        key.QueryDword(u"v", &v) != ERROR_SUCCESS)
        return -1;
    return v;
}
#endif
