// Text forms of the typed attribute values used by the tree's typed accessors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace XMLParse {

std::u16string PrintBool(bool value);
std::u16string PrintInt(std::int32_t value);
std::u16string PrintDouble(double value);

// Parsing never fails: unreadable text gives false / 0 / 0.0.
bool ParseBool(std::u16string_view text);
std::int32_t ParseInt(std::u16string_view text);
// A C integer literal with automatic base; `end` (optional) receives the characters used.
std::int64_t ParseInt64(std::u16string_view text, std::size_t* used = nullptr);
double ParseDouble(std::u16string_view text);

}  // namespace XMLParse
