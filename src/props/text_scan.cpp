#include "props/text_scan.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

namespace orvex::props::detail {

int HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

IntegerScan ScanInteger(std::u16string_view text, int base) {
    IntegerScan scan;
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) scan.negative = text[i++] == u'-';

    const bool has_hex_prefix = i + 2 < text.size() && text[i] == u'0' &&
                                (text[i + 1] == u'x' || text[i + 1] == u'X') &&
                                HexDigitValue(text[i + 2]) >= 0;
    if (base == 0) base = has_hex_prefix ? 16 : (i < text.size() && text[i] == u'0') ? 8 : 10;
    if (base == 16 && has_hex_prefix) i += 2;

    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (; i < text.size(); ++i) {
        const int digit = HexDigitValue(text[i]);
        if (digit < 0 || digit >= base) break;
        scan.read = true;
        if (scan.magnitude > (kMax - digit) / base) {
            scan.overflow = true;
            scan.magnitude = kMax;
        } else if (!scan.overflow) {
            scan.magnitude = scan.magnitude * base + digit;
        }
    }
    if (scan.read)
        scan.end = i;
    else
        scan.negative = false;
    return scan;
}

namespace {

template <typename T>
T ToSigned(const IntegerScan& scan) {
    using U = std::make_unsigned_t<T>;
    const U max = static_cast<U>(std::numeric_limits<T>::max());
    if (scan.negative) {
        if (scan.overflow || scan.magnitude > static_cast<std::uint64_t>(max) + 1)
            return std::numeric_limits<T>::min();
        return static_cast<T>(static_cast<U>(0) - static_cast<U>(scan.magnitude));
    }
    if (scan.overflow || scan.magnitude > max) return std::numeric_limits<T>::max();
    return static_cast<T>(scan.magnitude);
}

template <typename U>
U ToUnsigned(const IntegerScan& scan) {
    const std::uint64_t max = std::numeric_limits<U>::max();
    if (scan.overflow || scan.magnitude > max) return static_cast<U>(max);
    const U value = static_cast<U>(scan.magnitude);
    return scan.negative ? static_cast<U>(U{0} - value) : value;
}

}  // namespace

std::int32_t ToInt32(const IntegerScan& scan) {
    return ToSigned<std::int32_t>(scan);
}
std::uint32_t ToUInt32(const IntegerScan& scan) {
    return ToUnsigned<std::uint32_t>(scan);
}
std::int64_t ToInt64(const IntegerScan& scan) {
    return ToSigned<std::int64_t>(scan);
}
std::uint64_t ToUInt64(const IntegerScan& scan) {
    return ToUnsigned<std::uint64_t>(scan);
}

namespace {

bool StartsWithNoCase(std::u16string_view text, std::size_t at, std::u16string_view word) {
    return text.size() - at >= word.size() && EqualsNoCase(text.substr(at, word.size()), word);
}

}  // namespace

DoubleScan ScanDouble(std::u16string_view text) {
    DoubleScan scan;
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';

    if (StartsWithNoCase(text, i, u"inf") || StartsWithNoCase(text, i, u"nan")) {
        const bool nan = AsciiLower(text[i]) == u'n';
        std::size_t end = i + 3;
        if (!nan && StartsWithNoCase(text, i, u"infinity")) end = i + 8;
        scan.read = true;
        scan.end = end;
        scan.value = nan ? std::numeric_limits<double>::quiet_NaN()
                         : std::numeric_limits<double>::infinity();
        if (negative) scan.value = -scan.value;
        return scan;
    }

    // Collect the decimal form as ASCII for from_chars, which ignores the C locale.
    std::string ascii;
    std::size_t int_digits = 0, frac_digits = 0;
    long first_significant = 0;  // decimal exponent of the first non-zero digit, roughly
    bool seen_significant = false;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++int_digits) ascii += char(text[i]);
    for (std::size_t k = 0; k < int_digits && !seen_significant; ++k)
        if (ascii[k] != '0') {
            seen_significant = true;
            first_significant = static_cast<long>(int_digits - k - 1);
        }
    if (i < text.size() && text[i] == u'.') {
        std::size_t j = i + 1;
        std::string fraction;
        for (; j < text.size() && IsDigit(text[j]); ++j) fraction += char(text[j]);
        frac_digits = fraction.size();
        if (int_digits + frac_digits > 0) {
            for (std::size_t k = 0; k < frac_digits && !seen_significant; ++k)
                if (fraction[k] != '0') {
                    seen_significant = true;
                    first_significant = -static_cast<long>(k + 1);
                }
            ascii += '.';
            ascii += fraction;
            i = j;
        }
    }
    if (int_digits + frac_digits == 0) return scan;

    long exponent = 0;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        std::size_t j = i + 1;
        bool exp_negative = false;
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-'))
            exp_negative = text[j++] == u'-';
        if (j < text.size() && IsDigit(text[j])) {
            for (; j < text.size() && IsDigit(text[j]); ++j)
                if (exponent < 100000) exponent = exponent * 10 + (text[j] - u'0');
            if (exp_negative) exponent = -exponent;
            ascii += 'e';
            ascii += std::to_string(exponent);
            i = j;
        }
    }

    double value = 0;
    const auto result = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value,
                                        std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range)
        value = (seen_significant && first_significant + exponent > 0)
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
    scan.read = true;
    scan.end = i;
    scan.value = negative ? -value : value;
    return scan;
}

std::u16string Widen(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

}  // namespace orvex::props::detail
