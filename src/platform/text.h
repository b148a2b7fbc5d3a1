// UTF-16 <-> UTF-8 conversion.
#pragma once

#include <string>
#include <string_view>

namespace orvex::platform {

// Unpaired surrogates go through as three-byte sequences, so any UTF-16 text round-trips;
// invalid UTF-8 (stray or truncated sequences, overlong forms) reads as U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// ASCII letters fold; every other unit compares as it is.
char16_t AsciiLower(char16_t c);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

}  // namespace orvex::platform
