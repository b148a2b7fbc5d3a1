#include "platform/module_info.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orvex::platform {
namespace {

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
