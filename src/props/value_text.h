// Text forms of typed attribute values: how each type prints and how text parses back.
// Parsing never fails; unreadable text gives the type's zero value (or the default colour).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "com/types.h"

namespace orvex::props {

enum class MeasureUnit : std::int32_t { kNone = 0, kPercent = 1, kPixels = 2, kPoints = 3 };

struct Measure {
    double value = 0;
    MeasureUnit unit = MeasureUnit::kNone;
};

// Colours: red in bits 0..7, green 8..15, blue 16..23, alpha 24..31.
constexpr std::uint32_t MakeColour(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                                   std::uint8_t alpha = 255) {
    return red | (green << 8) | (blue << 16) | (static_cast<std::uint32_t>(alpha) << 24);
}

// The Windows SYSTEMTIME layout: 16-bit fields, day of week unused here.
struct SystemTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t day_of_week = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t millisecond = 0;
    friend bool operator==(const SystemTime&, const SystemTime&) = default;
};
static_assert(sizeof(SystemTime) == 16);

std::u16string PrintBool(bool value);
std::u16string PrintInt32(std::int32_t value);
// PrintInt32 and PrintDouble (six decimals) into `out`, without taking memory: for figures
// written again and again. Return the number of characters.
inline constexpr std::size_t kNumberTextRoom = 352;
std::size_t PrintInt32To(std::int32_t value, char16_t (&out)[kNumberTextRoom]);
std::size_t PrintDoubleTo(double value, char16_t (&out)[kNumberTextRoom]);
std::u16string PrintHex32(std::uint32_t value);
std::u16string PrintInt64(std::int64_t value);
std::u16string PrintHex64(std::uint64_t value);
// precision < 0: six decimals; then, for precision < 0 or >= 3, trailing zeros go while
// one digit stays after the point.
std::u16string PrintDouble(double value, int precision = -1);
std::u16string PrintMeasure(const Measure& measure);
std::u16string PrintGuid(const GUID& guid);
std::u16string PrintPixelFormat(std::uint32_t fcc);
std::u16string PrintColour(std::uint32_t colour);
// Date and time when the year is set and `time_only` is false, else the time alone.
std::u16string PrintTime(const SystemTime& time, bool time_only = false);

bool ParseBool(std::u16string_view text);
std::int32_t ParseInt32(std::u16string_view text);
std::uint32_t ParseHex32(std::u16string_view text);
std::int64_t ParseInt64(std::u16string_view text);
std::uint64_t ParseUInt64(std::u16string_view text);
double ParseDouble(std::u16string_view text);
Measure ParseMeasure(std::u16string_view text);
GUID ParseGuid(std::u16string_view text);
std::uint32_t ParsePixelFormat(std::u16string_view text);
std::uint32_t ParseColour(std::u16string_view text, std::uint32_t default_colour);
// Reads the time right to left; with `want_date` also a leading date (y-m-d, d/m/y, d.m.y).
SystemTime ParseTime(std::u16string_view text, bool want_date = true);

}  // namespace orvex::props
