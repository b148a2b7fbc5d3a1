#include "props/value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace orvex::props {
namespace {

SystemTime Time(int h, int m, int s, int ms = 0, int year = 0, int month = 0, int day = 0) {
    const auto u = [](int v) { return static_cast<std::uint16_t>(v); };
    return {u(year), u(month), 0, u(day), u(h), u(m), u(s), u(ms)};
}

std::string Narrow(std::u16string_view text) {
    return std::string(text.begin(), text.end());
}

// Checks parse(text) for each row; a failure names its text.
template <class T, class F>
void ExpectParsed(F parse, std::initializer_list<std::pair<std::u16string_view, T>> rows) {
    for (const auto& [text, want] : rows) EXPECT_EQ(parse(text), want) << Narrow(text);
}

TEST(BoolText, WordsNumbersAndEverythingElse) {
    for (std::u16string_view yes : {u"1", u"true", u"TRUE", u"yes", u"Yes", u"ON", u"on", u"y",
                                    u"Y", u"only", u"2", u" 7", u"0x10", u"010"})
        EXPECT_TRUE(ParseBool(yes)) << Narrow(yes);
    for (std::u16string_view no : {u"", u"0", u"false", u"False", u"-1", u"no", u"off", u"n", u"00",
                                   u"maybe", u"0x", u"-0x10"})
        EXPECT_FALSE(ParseBool(no)) << Narrow(no);
    EXPECT_EQ(PrintBool(true), u"true");
    EXPECT_EQ(PrintBool(false), u"false");
}

TEST(IntegerText, AutomaticBaseAndSaturation) {
    // "019": octal stops at 9.
    // clang-format off
    ExpectParsed<std::int32_t>(ParseInt32, {{u"42", 42}, {u"  -42xyz", -42}, {u"0x1F", 31},
        {u"017", 15}, {u"019", 1}, {u"0xg", 0}, {u"abc", 0}, {u"99999999999", INT32_MAX},
        {u"-99999999999999999999999", INT32_MIN}});
    ExpectParsed<std::int64_t>(ParseInt64,
        {{u"-9223372036854775808", INT64_MIN}, {u"9223372036854775808", INT64_MAX}});
    ExpectParsed<std::uint64_t>(ParseUInt64, {{u"0xFFFFFFFFFFFFFFFF", UINT64_MAX},
        {u"-1", UINT64_MAX}, {u"0x10000000000000000", UINT64_MAX}});
    // clang-format on
}

TEST(IntegerText, HexadecimalFormsReadBackTheirBits) {
    EXPECT_EQ(PrintHex32(0xFFFFFFFF), u"0xFFFFFFFF");
    EXPECT_EQ(ParseHex32(PrintHex32(0xFFFFFFFF)), 0xFFFFFFFFu);
    EXPECT_EQ(ParseHex32(PrintHex32(0x80000000)), 0x80000000u);
    EXPECT_EQ(PrintHex64(0xFEDCBA9876543210ull), u"0xFEDCBA9876543210");
    EXPECT_EQ(ParseUInt64(PrintHex64(0xFEDCBA9876543210ull)), 0xFEDCBA9876543210ull);
    EXPECT_EQ(PrintInt32(INT32_MIN), u"-2147483648");
    EXPECT_EQ(PrintInt64(INT64_MIN), u"-9223372036854775808");
}

TEST(DoubleText, TrailingZerosAndPrecision) {
    // Below three digits the zeros stay; the precision is capped, and zeros trimmed.
    const struct {
        double value;
        int precision;
        std::u16string_view want;
    } cases[] = {{0.25, -1, u"0.25"},   {1.5, -1, u"1.5"},
                 {2.0, -1, u"2.0"},     {1e-9, -1, u"0.0"},
                 {1.5, 3, u"1.5"},      {1.5, 2, u"1.50"},
                 {2.0, 0, u"2"},        {123.456789, 4, u"123.4568"},
                 {1.0, 100000, u"1.0"}, {std::numeric_limits<double>::infinity(), -1, u"inf"}};
    for (const auto& c : cases)
        EXPECT_EQ(PrintDouble(c.value, c.precision), c.want) << c.value << " " << c.precision;
    EXPECT_EQ(PrintDouble(1e308).size(), 309u + 2);
    // The forms written without taking memory are the same texts.
    char16_t room[orvex::props::kNumberTextRoom];
    for (double v : {0.25, 2.0, -1e-9, -std::numeric_limits<double>::max(), 123456.5,
                     std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(std::u16string(room, orvex::props::PrintDoubleTo(v, room)), PrintDouble(v)) << v;
    for (std::int32_t v : {0, -7, INT32_MIN, INT32_MAX})
        EXPECT_EQ(std::u16string(room, orvex::props::PrintInt32To(v, room)), PrintInt32(v)) << v;
}

TEST(DoubleText, ParsingWithPercentAndOddInput) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    // clang-format off
    ExpectParsed<double>(ParseDouble, {{u"1.5", 1.5}, {u" -2.5e2abc", -250.0}, {u"50%", 0.5},
        {u"50 %", 50.0}, {u".5", 0.5}, {u"1e", 1.0}, {u".", 0.0}, {u"x1", 0.0}, {u"1e999", kInf},
        {u"1e-999", 0.0}, {u"0.000e999999999999", 0.0}, {u"-Infinity", -kInf}});
    // clang-format on
    EXPECT_TRUE(std::isnan(ParseDouble(u"nan")));
}

TEST(MeasureText, UnitsPrintAndParse) {
    using enum MeasureUnit;
    // clang-format off
    for (auto [measure, text] : {std::pair{Measure{12.5, kPixels}, u"13px"},
             {{-12.5, kPoints}, u"-13pt"}, {{12.5, kPercent}, u"12.500%"},
             {{12.5, kNone}, u"12.50"}, {{1e300, kPixels}, u"2147483647px"},
             {{std::nan(""), kPoints}, u"0pt"}})
        EXPECT_EQ(PrintMeasure(measure), text) << measure.value;
    for (auto [text, value, unit] : {std::tuple{u"12.5%", 12.5, kPercent}, {u"13px", 13.0, kPixels},
             {u"13p", 13.0, kNone}, {u"13 px", 13.0, kNone}, {u"px", 0.0, kNone}}) {
        EXPECT_EQ(ParseMeasure(text).value, value) << Narrow(text);
        EXPECT_EQ(ParseMeasure(text).unit, unit) << Narrow(text);
    }
    // clang-format on
}

TEST(GuidText, RegistryFormBothWays) {
    const GUID g = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    const std::u16string text = PrintGuid(g);
    EXPECT_EQ(text, u"{12345678-9ABC-DEF0-0123-456789ABCDEF}");
    EXPECT_EQ(ParseGuid(text), g);
    // clang-format off
    ExpectParsed<GUID>(ParseGuid, {{u"123456789abcdef00123456789abcdef", g},
        {u"12 34 56 78 9A BC DE F0 01 23 45 67 89 AB CD EF trailing", g},
        {u"{12345678-9ABC-DEF0-0123-456789ABCDE}", GUID_NULL}, {u"", GUID_NULL}});
    // clang-format on
}

// clang-format off
TEST(PixelFormatText, PrintsCharactersNamesOrHexAndReadsThemBack) {
    for (auto [code, text] : {std::pair{0x59565955u, u"UYVY"}, {0x30313276u, u"v210"},
             {0u, u"BI_RGB"}, {0xE436EB7Eu, u"RGB32"}, {0x65FFAF79u, u"0x65FFAF79"},
             {0x1Fu, u"0x1F"}})
        EXPECT_EQ(PrintPixelFormat(code), text) << std::hex << code;
    for (std::uint32_t code :
         {0x59565955u, 0x30313276u, 0u, 1u, 3u, 0xE436EB7Eu, 0xE436EB7Du, 0xE436EB7Au, 0xE436EB7Bu,
          0xE436EB7Cu, 0x297C55AFu, 0x6E6415E6u, 0x773C9AC0u, 0x65FFAF79u, 0x65FFAF80u, 0x12345u})
        EXPECT_EQ(ParsePixelFormat(PrintPixelFormat(code)), code) << std::hex << code;
    ExpectParsed<std::uint32_t>(ParsePixelFormat,
        {{u"hdyc", 0x43594448u}, {u"0x123456789", 0u}, {u"0x12G45", 0u}, {u"garbage", 0u}});
}

constexpr std::uint32_t kRed = MakeColour(255, 0, 0);

TEST(ColourText, PrintsNamesNumbersAndAlpha) {
    for (auto [colour, text] : {std::pair{kRed, u"Red"}, {MakeColour(255, 0, 0, 128), u"Red(128)"},
             {MakeColour(0x12, 0x34, 0x56), u"#123456"}, {MakeColour(0, 0xFF, 0xFF), u"Aqua"},
             {MakeColour(0x12, 0x34, 0x56, 0), u"#123456(0)"}, {0u, u"Black(0)"},
             {MakeColour(0x00, 0x90, 0xB2), u"Lagoon"}})
        EXPECT_EQ(PrintColour(colour), text) << std::hex << colour;
}

constexpr std::uint32_t kFallback = MakeColour(1, 2, 3, 4);
std::uint32_t Colour(std::u16string_view text) {
    return ParseColour(text, kFallback);
}

// Names, numbers (capital hex digits, C literals, eight digits with their own alpha; two
// leading digits mean hexadecimal, so "255" is #225555 after doubling, but "5" is decimal,
// doubled) and alpha in brackets.
TEST(ColourText, ParsesNamesNumbersAndAlpha) {
    ExpectParsed<std::uint32_t>(Colour, {{u"#123456", MakeColour(0x12, 0x34, 0x56)},
        {u"#F00", kRed}, {u"#F00(0.5)", MakeColour(255, 0, 0, 128)},
        {u"Blue(0.5)", MakeColour(0, 0, 255, 128)}, {u"White(1)", MakeColour(255, 255, 255)},
        {u"Red(128)", MakeColour(255, 0, 0, 128)}, {u"Red(-3)", MakeColour(255, 0, 0, 0)},
        {u"Red(junk)", MakeColour(255, 0, 0, 0)}, {u"Transparent", 0u},
        {u"CYAN", MakeColour(0, 255, 255)}, {u"deepsea", MakeColour(0x06, 0x54, 0x8A)},
        {u" Lime ; comment", MakeColour(0, 255, 0)}, {u"FF0000", kRed}, {u"0xFF0000", kRed},
        {u"0x80FF0000", MakeColour(255, 0, 0, 0x80)},
        {u"#80FF0000(0.1)", MakeColour(255, 0, 0, 0x80)}, {u"#FFFF", MakeColour(0, 0xFF, 0xFF)},
        {u"#FFFFFFFFFFFF", 0xFFFFFFFFu}, {u"255", MakeColour(0x22, 0x55, 0x55)},
        {u"16711680", MakeColour(0x71, 0x16, 0x80, 0x16)}, {u"5", MakeColour(0, 0, 0x55)}});
}

TEST(ColourText, DefaultsForNothingReadable) {
    ExpectParsed<std::uint32_t>(Colour, {{u"", kFallback}, {u"Default", kFallback},
        {u"DEFAULT(0.5)", MakeColour(1, 2, 3, 128)}, {u"(1)", MakeColour(1, 2, 3, 255)},
        {u"nonsense", kFallback}, {u"#", kFallback}, {u"-5", kFallback},
        {u"\u00e9t\u00e9", kFallback}});
}
// clang-format on

TEST(ColourText, LongTextsAreCutAt63Characters) {
    // The alpha lies beyond the 63rd character and is not seen.
    EXPECT_EQ(Colour(u"Red" + std::u16string(59, u' ') + u"(0.5)"), MakeColour(255, 0, 0, 0));
    EXPECT_EQ(Colour(u"Red(0.5" + std::u16string(200, u'0') + u")"), MakeColour(255, 0, 0, 128));
    EXPECT_EQ(Colour(u"#" + std::u16string(100, u'F')), 0xFFFFFFFFu);
}

TEST(ColourText, EveryColourReadsBackAsPrinted) {
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        const std::uint32_t colour = (i < 256) ? (0x123456u | static_cast<std::uint32_t>(i) << 24)
                                               : static_cast<std::uint32_t>(random());
        ASSERT_EQ(ParseColour(PrintColour(colour), 0x55555555), colour)
            << Narrow(PrintColour(colour));
    }
}

// clang-format off
TEST(TimeText, Printing) {
    for (auto [time, text] : {std::pair{Time(1, 2, 3), u"01:02:03"},
             {Time(1, 2, 3, 45), u"01:02:03.045"},
             {Time(1, 2, 3, 0, 2024, 3, 5), u"2024-03-05 01:02:03"},
             {Time(1, 2, 3, 7, 2024, 3, 5), u"2024-03-05 01:02:03.007"}})
        EXPECT_EQ(PrintTime(time), text);
    EXPECT_EQ(PrintTime(Time(1, 2, 3, 7, 2024, 3, 5), true), u"01:02:03.007");
}

SystemTime ParseTimeOnly(std::u16string_view text) {
    return ParseTime(text);
}

TEST(TimeText, GroupsFractionsAndUnitLetters) {
    // "59.9996": rounding carries into the second; "25:00:00" wraps at a day.
    ExpectParsed<SystemTime>(ParseTimeOnly, {{u"01:02:03.5", Time(1, 2, 3, 500)},
        {u"12:34", Time(12, 34, 0)}, {u"90", Time(1, 30, 0)}, {u"3.25", Time(0, 0, 3, 250)},
        {u"59.9996", Time(0, 1, 0, 0)}, {u"1h30m", Time(1, 30, 0)}, {u"1H", Time(1, 0, 0)},
        {u"5m30s", Time(0, 5, 30)}, {u"45s", Time(0, 0, 45)}, {u"3.5s", Time(0, 0, 3, 500)},
        {u"0.25S", Time(0, 0, 0, 250)}, {u"1m3.5s", Time(0, 1, 3, 500)},
        {u"01:02:03.5s", Time(1, 2, 3, 500)}, {u"1.2.3", Time(0, 1, 2, 300)},
        {u"2m", Time(0, 2, 0)}, {u"25:00:00", Time(1, 0, 0)}});
    // clang-format on
    const SystemTime huge = ParseTime(u"99999999999999999999999999:99999999999999:9999.99999");
    EXPECT_LT(huge.hour, 24);
    EXPECT_LT(huge.minute, 60);
    EXPECT_LT(huge.second, 60);
    EXPECT_EQ(huge.millisecond, 0);
    EXPECT_EQ(ParseTime(u""), SystemTime{});
    EXPECT_EQ(ParseTime(u"abc"), SystemTime{});
    EXPECT_EQ(ParseTime(u"10:20:30 "), SystemTime{});  // trailing blank ends the scan at once
}

TEST(TimeText, DatesInThreeForms) {
    const SystemTime expected = Time(10, 20, 30, 0, 2024, 3, 15);
    // clang-format off
    ExpectParsed<SystemTime>(ParseTimeOnly, {{u"2024-03-15 10:20:30", expected},
        {u"15/03/2024 10:20:30", expected}, {u"15.3.2024\t10:20:30", expected},
        {u"2024-03 10:20:30", Time(10, 20, 30)}, {u"someday 10:20:30", Time(10, 20, 30)},
        {u"99999-1-1 00:00:01", Time(0, 0, 1, 0, 65535, 1, 1)},
        {u"-5/-1/2000 00:00:01", Time(0, 0, 1, 0, 2000, 0, 0)}});
    // clang-format on
    EXPECT_EQ(ParseTime(u"2024-03-15 10:20:30", false), Time(10, 20, 30));
    const SystemTime printed = Time(23, 59, 58, 999, 2026, 12, 6);
    EXPECT_EQ(ParseTime(PrintTime(printed)), printed);
}

}  // namespace
}  // namespace orvex::props
