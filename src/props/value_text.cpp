#include "props/value_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>

#include "formats/video_formats.h"
#include "props/text_scan.h"

namespace orvex::props {

using detail::Widen;

namespace {

template <typename... Args>
std::u16string Format(const char* format, Args... args) {
    std::array<char, 96> buffer{};
    const int n = std::snprintf(buffer.data(), buffer.size(), format, args...);
    return Widen(std::string_view(buffer.data(), n > 0 ? static_cast<std::size_t>(n) : 0));
}

// `value` in fixed notation into `out`; the number of characters.
std::size_t FixedInto(double value, int precision, char* out, std::size_t room) {
    const auto result = std::to_chars(out, out + room, value, std::chars_format::fixed, precision);
    return result.ec == std::errc() ? static_cast<std::size_t>(result.ptr - out) : 0;
}

std::string FixedText(double value, int precision) {
    std::array<char, 512> buffer{};
    return std::string(buffer.data(), FixedInto(value, precision, buffer.data(), buffer.size()));
}

// Drops trailing zeros while one digit stays after the point.
std::size_t TrimZeros(const char* text, std::size_t n) {
    while (n >= 2 && text[n - 1] == '0' && text[n - 2] != '.') --n;
    return n;
}

long long RoundHalfAway(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return std::llround(value);
}

struct PrintedCode {
    std::uint32_t code;
    std::u16string_view name;
};

constexpr PrintedCode kPrintedCodes[] = {
    {0x00000000, u"BI_RGB"},       {0x00000001, u"BI_RLE8"}, {0x00000002, u"BI_RLE4"},
    {0x00000003, u"BI_BITFIELDS"}, {0xE436EB78, u"RGB1"},    {0xE436EB79, u"RGB4"},
    {0xE436EB7A, u"RGB8"},         {0xE436EB7B, u"RGB565"},  {0xE436EB7C, u"RGB555"},
    {0xE436EB7D, u"RGB24"},        {0xE436EB7E, u"RGB32"},   {0x297C55AF, u"ARGB1555"},
    {0x6E6415E6, u"ARGB4444"},     {0x773C9AC0, u"ARGB32"},
};

}  // namespace

std::u16string PrintBool(bool value) {
    return value ? u"true" : u"false";
}
std::u16string PrintInt32(std::int32_t value) {
    return Format("%d", value);
}
std::u16string PrintHex32(std::uint32_t value) {
    return Format("0x%08X", value);
}
std::u16string PrintInt64(std::int64_t value) {
    return Format("%" PRId64, value);
}
std::u16string PrintHex64(std::uint64_t value) {
    return Format("0x%016" PRIX64, value);
}

std::u16string PrintDouble(double value, int precision) {
    std::string text = FixedText(value, precision < 0 ? 6 : std::min(precision, 100));
    if (text.size() >= 4 && (precision < 0 || precision >= 3))
        text.resize(TrimZeros(text.data(), text.size()));
    return Widen(text);
}

std::size_t PrintInt32To(std::int32_t value, char16_t (&out)[kNumberTextRoom]) {
    std::array<char, 16> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    const auto n = static_cast<std::size_t>(result.ptr - text.data());
    std::copy(text.data(), text.data() + n, out);
    return n;
}

std::size_t PrintDoubleTo(double value, char16_t (&out)[kNumberTextRoom]) {
    // The longest text, DBL_MAX with six decimals, takes 316 characters.
    std::array<char, kNumberTextRoom> text{};
    std::size_t n = FixedInto(value, 6, text.data(), text.size());
    if (n >= 4) n = TrimZeros(text.data(), n);
    std::copy(text.data(), text.data() + n, out);
    return n;
}

std::u16string PrintMeasure(const Measure& measure) {
    switch (measure.unit) {
        case MeasureUnit::kPoints:
            return Format("%lldpt", RoundHalfAway(measure.value));
        case MeasureUnit::kPixels:
            return Format("%lldpx", RoundHalfAway(measure.value));
        case MeasureUnit::kPercent:
            return Widen(FixedText(measure.value, 3) + "%");
        default:
            return Widen(FixedText(measure.value, 2));
    }
}

std::u16string PrintGuid(const GUID& g) {
    return Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
}

std::u16string PrintPixelFormat(std::uint32_t fcc) {
    std::u16string text;
    for (int i = 0; i < 4; ++i) {
        const char16_t c = static_cast<char16_t>((fcc >> (8 * i)) & 0xFF);
        if (c < 0x20 || c > 0x7E) {
            text.clear();
            break;
        }
        text += c;
    }
    if (!text.empty()) return text;
    for (const auto& entry : kPrintedCodes)
        if (entry.code == fcc) return std::u16string(entry.name);
    return Format("0x%X", fcc);
}

bool ParseBool(std::u16string_view text) {
    if (text == u"0") return false;
    if (text == u"1") return true;
    if (detail::EqualsNoCase(text, u"false")) return false;
    for (std::u16string_view word : {u"true", u"yes", u"only", u"on", u"y"})
        if (detail::EqualsNoCase(text, word)) return true;
    return detail::ToInt32(detail::ScanInteger(text, 0)) > 0;
}

std::int32_t ParseInt32(std::u16string_view text) {
    return detail::ToInt32(detail::ScanInteger(text, 0));
}

// Hexadecimal values print as 0xFFFFFFFF and the like; read them back as the same 32 bits
// instead of saturating at the signed maximum.
std::uint32_t ParseHex32(std::u16string_view text) {
    return detail::ToUInt32(detail::ScanInteger(text, 0));
}

std::int64_t ParseInt64(std::u16string_view text) {
    return detail::ToInt64(detail::ScanInteger(text, 0));
}

std::uint64_t ParseUInt64(std::u16string_view text) {
    return detail::ToUInt64(detail::ScanInteger(text, 0));
}

double ParseDouble(std::u16string_view text) {
    const detail::DoubleScan scan = detail::ScanDouble(text);
    if (!scan.read) return 0;
    if (scan.end < text.size() && text[scan.end] == u'%') return scan.value / 100;
    return scan.value;
}

Measure ParseMeasure(std::u16string_view text) {
    const detail::DoubleScan scan = detail::ScanDouble(text);
    if (!scan.read) return {};
    Measure measure{scan.value, MeasureUnit::kNone};
    const std::u16string_view rest = text.substr(scan.end);
    if (rest.starts_with(u"%"))
        measure.unit = MeasureUnit::kPercent;
    else if (rest.starts_with(u"px"))
        measure.unit = MeasureUnit::kPixels;
    else if (rest.starts_with(u"pt"))
        measure.unit = MeasureUnit::kPoints;
    return measure;
}

GUID ParseGuid(std::u16string_view text) {
    std::uint8_t bytes[16] = {};
    std::size_t count = 0;
    int high = -1;
    for (char16_t c : text) {
        const int digit = detail::HexDigitValue(c);
        if (digit < 0) continue;
        if (high < 0) {
            high = digit;
            continue;
        }
        bytes[count++] = static_cast<std::uint8_t>(high << 4 | digit);
        high = -1;
        if (count == 16) break;
    }
    GUID guid = GUID_NULL;
    if (count < 16) return guid;
    guid.Data1 =
        static_cast<std::uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    guid.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
    guid.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
    for (int i = 0; i < 8; ++i) guid.Data4[i] = bytes[8 + i];
    return guid;
}

std::uint32_t ParsePixelFormat(std::u16string_view text) {
    const std::uint32_t fcc = formats::PixelFormatFromName(text);
    if (fcc != 0) return fcc;
    // What PrintPixelFormat writes must read back: the longer printed names and the
    // hexadecimal form (four-character texts stay four-character codes).
    for (const auto& entry : kPrintedCodes)
        if (entry.name.size() != 4 && detail::EqualsNoCase(text, entry.name)) return entry.code;
    if (text.size() >= 5 && text.size() <= 10 && text[0] == u'0' &&
        (text[1] == u'x' || text[1] == u'X')) {
        std::uint32_t value = 0;
        for (char16_t c : text.substr(2)) {
            const int digit = detail::HexDigitValue(c);
            if (digit < 0) return 0;
            value = value << 4 | static_cast<std::uint32_t>(digit);
        }
        return value;
    }
    return 0;
}

}  // namespace orvex::props
