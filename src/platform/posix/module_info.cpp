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

// "Dec  6 2026" + "10:11:12" -> "2026-12-06 10:11:12".
std::string IsoBuildStamp(const char* date, const char* time) {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (date == nullptr || time == nullptr || std::strlen(date) != 11) return {};
    int month = 0;
    for (int m = 0; m < 12; ++m) {
        if (std::strncmp(date, kMonths + 3 * m, 3) == 0) month = m + 1;
    }
    if (month == 0) return {};
    const int day = std::atoi(date + 4);
    const int year = std::atoi(date + 7);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %.8s", year, month, day, time);
    return buf;
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

namespace detail {

ModuleInfo MakeModuleInfo(const void* address_in_module, const char* version, const char* date,
                          const char* time) {
    ModuleInfo info;
    info.path = ModulePathOf(address_in_module);
    info.version = version != nullptr ? version : "";
    // Up to four dot-separated numbers; anything else ends the reading.
    const char* p = info.version.c_str();
    for (unsigned& number : info.version_numbers) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(p, &end, 10);
        if (end == p) break;
        number = static_cast<unsigned>(n);
        if (*end != '.') break;
        p = end + 1;
    }
    info.build_date = date != nullptr ? date : "";
    info.build_time = time != nullptr ? time : "";
    info.built = IsoBuildStamp(date, time);
    return info;
}

}  // namespace detail
}  // namespace orvex::platform
