#include "platform/module_info.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvex::platform {
namespace {

std::string ExecutablePath() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace

std::string ModulePathOf(const void* address) {
    if (address == nullptr) return {};
    Dl_info info{};
    link_map* map = nullptr;
    if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
        return {};
    }
    // The main program's link map has an empty name; the loader's idea of it may be relative.
    if (map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') {
        return ExecutablePath();
    }
    if (char* real = ::realpath(map->l_name, nullptr)) {
        std::string path(real);
        std::free(real);
        return path;
    }
    return map->l_name;
}

}  // namespace orvex::platform
