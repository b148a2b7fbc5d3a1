// A loadable module that reports its own module facts.
#include <cstring>

#include "platform/module_info.h"

extern "C" __attribute__((visibility("default"))) int PluginAdd(int a, int b) {
    return a + b;
}

// Copies the plugin's version and path into the caller's buffers.
extern "C" __attribute__((visibility("default"))) void PluginModuleInfo(char* version, char* path,
                                                                        int size) {
    const orvex::platform::ModuleInfo info = ORVEX_THIS_MODULE_INFO();
    std::strncpy(version, info.version.c_str(), static_cast<std::size_t>(size) - 1);
    std::strncpy(path, info.path.c_str(), static_cast<std::size_t>(size) - 1);
}
