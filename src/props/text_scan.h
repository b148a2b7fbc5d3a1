// Locale-independent scanners behind the value text forms: C integer literals with the
// strtol family's rules and decimal doubles with strtod's. They never read past the view.
#pragma once

#include "platform/text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvex::props::detail {

inline bool IsSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}
inline bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
int HexDigitValue(char16_t c);  // -1 when not a hexadecimal digit
using platform::AsciiLower;
using platform::EqualsNoCase;

struct IntegerScan {
    bool read = false;  // at least one digit
    bool negative = false;
    bool overflow = false;  // magnitude above 64 bits (then saturated)
    std::uint64_t magnitude = 0;
    std::size_t end = 0;  // past the last character consumed; 0 when nothing was read
};

// Leading white space, an optional sign, then digits in `base` (0: decimal, "0x" hexadecimal
// or leading-zero octal; 16 also takes an optional "0x").
IntegerScan ScanInteger(std::u16string_view text, int base);

// The strtol family's answers for a scan: saturated in range, negation wrapping for unsigned.
std::int32_t ToInt32(const IntegerScan& scan);
std::uint32_t ToUInt32(const IntegerScan& scan);
std::int64_t ToInt64(const IntegerScan& scan);
std::uint64_t ToUInt64(const IntegerScan& scan);

struct DoubleScan {
    bool read = false;
    double value = 0;
    std::size_t end = 0;
};

// Leading white space, sign, digits with an optional point and exponent, or inf/nan.
DoubleScan ScanDouble(std::u16string_view text);

std::u16string Widen(std::string_view ascii);

}  // namespace orvex::props::detail
