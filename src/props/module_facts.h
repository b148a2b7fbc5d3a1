// What the property store tells about the module file itself ("dll-version", "dll-path"...).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvex::props {

struct ModuleFacts {
    std::u16string path;            // full path of the module file
    std::uint64_t product_version;  // four 16-bit parts, most significant first
    std::uint64_t file_version;
    std::string build_date;  // "Mmm dd yyyy", the day padded with a space
    std::string build_time;  // "hh:mm:ss"
};

// The text of a fixed property (names compared case-insensitively), or nothing when `name`
// is not one of them.
std::optional<std::u16string> FixedPropertyText(std::u16string_view name, const ModuleFacts& facts);

// The facts of the module this code is linked into.
const ModuleFacts& CurrentModuleFacts();

}  // namespace orvex::props
