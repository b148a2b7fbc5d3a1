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

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

TEST(BoolText, WordsNumbersAndEverythingElse) {
    for (std::u16string_view yes : {u"1", u"true", u"TRUE", u"yes", u"Yes", u"ON", u"on", u"y",
                                    u"Y", u"only", u"2", u" 7", u"0x10", u"010"})
        EXPECT_TRUE(ParseBool(yes)) << Narrow(std::u16string(yes));
    for (std::u16string_view no : {u"", u"0", u"false", u"False", u"-1", u"no", u"off", u"n", u"00",
                                   u"maybe", u"0x", u"-0x10"})
        EXPECT_FALSE(ParseBool(no)) << Narrow(std::u16string(no));
    EXPECT_EQ(PrintBool(true), u"true");
    EXPECT_EQ(PrintBool(false), u"false");
}

TEST(IntegerText, AutomaticBaseAndSaturation) {
    EXPECT_EQ(ParseInt32(u"42"), 42);
    EXPECT_EQ(ParseInt32(u"  -42xyz"), -42);
    EXPECT_EQ(ParseInt32(u"0x1F"), 31);
    EXPECT_EQ(ParseInt32(u"017"), 15);
    EXPECT_EQ(ParseInt32(u"019"), 1);  // octal stops at 9
    EXPECT_EQ(ParseInt32(u"0xg"), 0);
    EXPECT_EQ(ParseInt32(u"abc"), 0);
    EXPECT_EQ(ParseInt32(u"99999999999"), INT32_MAX);
    EXPECT_EQ(ParseInt32(u"-99999999999999999999999"), INT32_MIN);
    EXPECT_EQ(ParseInt64(u"-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(ParseInt64(u"9223372036854775808"), INT64_MAX);
    EXPECT_EQ(ParseUInt64(u"0xFFFFFFFFFFFFFFFF"), UINT64_MAX);
    EXPECT_EQ(ParseUInt64(u"-1"), UINT64_MAX);
    EXPECT_EQ(ParseUInt64(u"0x10000000000000000"), UINT64_MAX);
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
    EXPECT_EQ(PrintDouble(0.25), u"0.25");
    EXPECT_EQ(PrintDouble(1.5), u"1.5");
    EXPECT_EQ(PrintDouble(2.0), u"2.0");
    EXPECT_EQ(PrintDouble(1e-9), u"0.0");
    EXPECT_EQ(PrintDouble(1.5, 3), u"1.5");
    EXPECT_EQ(PrintDouble(1.5, 2), u"1.50");  // below three digits the zeros stay
    EXPECT_EQ(PrintDouble(2.0, 0), u"2");
    EXPECT_EQ(PrintDouble(123.456789, 4), u"123.4568");
    EXPECT_EQ(PrintDouble(std::numeric_limits<double>::infinity()), u"inf");
    EXPECT_EQ(PrintDouble(1e308).size(), 309u + 2);
    EXPECT_EQ(PrintDouble(1.0, 100000), u"1.0");  // precision is capped, zeros trimmed
}

TEST(DoubleText, ParsingWithPercentAndOddInput) {
    EXPECT_EQ(ParseDouble(u"1.5"), 1.5);
    EXPECT_EQ(ParseDouble(u" -2.5e2abc"), -250.0);
    EXPECT_EQ(ParseDouble(u"50%"), 0.5);
    EXPECT_EQ(ParseDouble(u"50 %"), 50.0);
    EXPECT_EQ(ParseDouble(u".5"), 0.5);
    EXPECT_EQ(ParseDouble(u"1e"), 1.0);
    EXPECT_EQ(ParseDouble(u"."), 0.0);
    EXPECT_EQ(ParseDouble(u"x1"), 0.0);
    EXPECT_EQ(ParseDouble(u"1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ParseDouble(u"1e-999"), 0.0);
    EXPECT_EQ(ParseDouble(u"0.000e999999999999"), 0.0);
    EXPECT_EQ(ParseDouble(u"-Infinity"), -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(ParseDouble(u"nan")));
}

TEST(MeasureText, UnitsPrintAndParse) {
    EXPECT_EQ(PrintMeasure({12.5, MeasureUnit::kPixels}), u"13px");
    EXPECT_EQ(PrintMeasure({-12.5, MeasureUnit::kPoints}), u"-13pt");
    EXPECT_EQ(PrintMeasure({12.5, MeasureUnit::kPercent}), u"12.500%");
    EXPECT_EQ(PrintMeasure({12.5, MeasureUnit::kNone}), u"12.50");
    EXPECT_EQ(PrintMeasure({1e300, MeasureUnit::kPixels}), u"2147483647px");
    EXPECT_EQ(PrintMeasure({std::nan(""), MeasureUnit::kPoints}), u"0pt");

    Measure m = ParseMeasure(u"12.5%");
    EXPECT_EQ(m.value, 12.5);
    EXPECT_EQ(m.unit, MeasureUnit::kPercent);
    EXPECT_EQ(ParseMeasure(u"13px").unit, MeasureUnit::kPixels);
    EXPECT_EQ(ParseMeasure(u"13p").unit, MeasureUnit::kNone);
    EXPECT_EQ(ParseMeasure(u"13 px").unit, MeasureUnit::kNone);
    m = ParseMeasure(u"px");
    EXPECT_EQ(m.value, 0.0);
    EXPECT_EQ(m.unit, MeasureUnit::kNone);
}

TEST(GuidText, RegistryFormBothWays) {
    const GUID g = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    const std::u16string text = PrintGuid(g);
    EXPECT_EQ(text, u"{12345678-9ABC-DEF0-0123-456789ABCDEF}");
    EXPECT_EQ(ParseGuid(text), g);
    EXPECT_EQ(ParseGuid(u"123456789abcdef00123456789abcdef"), g);
    EXPECT_EQ(ParseGuid(u"12 34 56 78 9A BC DE F0 01 23 45 67 89 AB CD EF trailing"), g);
    EXPECT_EQ(ParseGuid(u"{12345678-9ABC-DEF0-0123-456789ABCDE}"), GUID_NULL);
    EXPECT_EQ(ParseGuid(u""), GUID_NULL);
}

TEST(PixelFormatText, PrintsCharactersNamesOrHexAndReadsThemBack) {
    EXPECT_EQ(PrintPixelFormat(0x59565955), u"UYVY");
    EXPECT_EQ(PrintPixelFormat(0x30313276), u"v210");
    EXPECT_EQ(PrintPixelFormat(0), u"BI_RGB");
    EXPECT_EQ(PrintPixelFormat(0xE436EB7E), u"RGB32");
    EXPECT_EQ(PrintPixelFormat(0x65FFAF79), u"0x65FFAF79");
    EXPECT_EQ(PrintPixelFormat(0x1F), u"0x1F");

    for (std::uint32_t code :
         {0x59565955u, 0x30313276u, 0u, 1u, 3u, 0xE436EB7Eu, 0xE436EB7Du, 0xE436EB7Au, 0xE436EB7Bu,
          0xE436EB7Cu, 0x297C55AFu, 0x6E6415E6u, 0x773C9AC0u, 0x65FFAF79u, 0x65FFAF80u, 0x12345u})
        EXPECT_EQ(ParsePixelFormat(PrintPixelFormat(code)), code) << std::hex << code;
    EXPECT_EQ(ParsePixelFormat(u"hdyc"), 0x43594448u);
    EXPECT_EQ(ParsePixelFormat(u"0x123456789"), 0u);
    EXPECT_EQ(ParsePixelFormat(u"0x12G45"), 0u);
    EXPECT_EQ(ParsePixelFormat(u"garbage"), 0u);
}

constexpr std::uint32_t kRed = MakeColour(255, 0, 0);

TEST(ColourText, PrintsNamesNumbersAndAlpha) {
    EXPECT_EQ(PrintColour(kRed), u"Red");
    EXPECT_EQ(PrintColour(MakeColour(255, 0, 0, 128)), u"Red(128)");
    EXPECT_EQ(PrintColour(MakeColour(0x12, 0x34, 0x56)), u"#123456");
    EXPECT_EQ(PrintColour(MakeColour(0x12, 0x34, 0x56, 0)), u"#123456(0)");
    EXPECT_EQ(PrintColour(MakeColour(0, 0xFF, 0xFF)), u"Aqua");
    EXPECT_EQ(PrintColour(MakeColour(0x00, 0x90, 0xB2)), u"Lagoon");
    EXPECT_EQ(PrintColour(0), u"Black(0)");
}

TEST(ColourText, ParsesNamesNumbersAndAlpha) {
    const std::uint32_t fallback = MakeColour(1, 2, 3, 4);
    EXPECT_EQ(ParseColour(u"#123456", fallback), MakeColour(0x12, 0x34, 0x56));
    EXPECT_EQ(ParseColour(u"#F00", fallback), kRed);
    EXPECT_EQ(ParseColour(u"#F00(0.5)", fallback), MakeColour(255, 0, 0, 128));
    EXPECT_EQ(ParseColour(u"Blue(0.5)", fallback), MakeColour(0, 0, 255, 128));
    EXPECT_EQ(ParseColour(u"White(1)", fallback), MakeColour(255, 255, 255));
    EXPECT_EQ(ParseColour(u"Red(128)", fallback), MakeColour(255, 0, 0, 128));
    EXPECT_EQ(ParseColour(u"Red(-3)", fallback), MakeColour(255, 0, 0, 0));
    EXPECT_EQ(ParseColour(u"Red(junk)", fallback), MakeColour(255, 0, 0, 0));
    EXPECT_EQ(ParseColour(u"Transparent", fallback), 0u);
    EXPECT_EQ(ParseColour(u"CYAN", fallback), MakeColour(0, 255, 255));
    EXPECT_EQ(ParseColour(u"deepsea", fallback), MakeColour(0x06, 0x54, 0x8A));
    EXPECT_EQ(ParseColour(u" Lime ; comment", fallback), MakeColour(0, 255, 0));
    // Numbers: capital hex digits, C literals, eight digits with their own alpha.
    EXPECT_EQ(ParseColour(u"FF0000", fallback), kRed);
    EXPECT_EQ(ParseColour(u"0xFF0000", fallback), kRed);
    EXPECT_EQ(ParseColour(u"0x80FF0000", fallback), MakeColour(255, 0, 0, 0x80));
    EXPECT_EQ(ParseColour(u"#80FF0000(0.1)", fallback), MakeColour(255, 0, 0, 0x80));
    EXPECT_EQ(ParseColour(u"#FFFF", fallback), MakeColour(0, 0xFF, 0xFF));
    EXPECT_EQ(ParseColour(u"#FFFFFFFFFFFF", fallback), 0xFFFFFFFFu);
    // Two leading digits mean hexadecimal, so "255" is #225555 after doubling.
    EXPECT_EQ(ParseColour(u"255", fallback), MakeColour(0x22, 0x55, 0x55));
    EXPECT_EQ(ParseColour(u"16711680", fallback), MakeColour(0x71, 0x16, 0x80, 0x16));
    EXPECT_EQ(ParseColour(u"5", fallback), MakeColour(0, 0, 0x55));  // decimal, doubled
}

TEST(ColourText, DefaultsForNothingReadable) {
    const std::uint32_t fallback = MakeColour(1, 2, 3, 4);
    EXPECT_EQ(ParseColour(u"", fallback), fallback);
    EXPECT_EQ(ParseColour(u"Default", fallback), fallback);
    EXPECT_EQ(ParseColour(u"DEFAULT(0.5)", fallback), MakeColour(1, 2, 3, 128));
    EXPECT_EQ(ParseColour(u"(1)", fallback), MakeColour(1, 2, 3, 255));
    EXPECT_EQ(ParseColour(u"nonsense", fallback), fallback);
    EXPECT_EQ(ParseColour(u"#", fallback), fallback);
    EXPECT_EQ(ParseColour(u"-5", fallback), fallback);
    EXPECT_EQ(ParseColour(u"\u00e9t\u00e9", fallback), fallback);
}

TEST(ColourText, LongTextsAreCutAt63Characters) {
    const std::uint32_t fallback = MakeColour(1, 2, 3, 4);
    // The alpha lies beyond the 63rd character and is not seen.
    std::u16string text = u"Red" + std::u16string(59, u' ') + u"(0.5)";
    EXPECT_EQ(ParseColour(text, fallback), MakeColour(255, 0, 0, 0));
    text = u"Red(0.5" + std::u16string(200, u'0') + u")";
    EXPECT_EQ(ParseColour(text, fallback), MakeColour(255, 0, 0, 128));
    text = u"#" + std::u16string(100, u'F');
    EXPECT_EQ(ParseColour(text, fallback), 0xFFFFFFFFu);
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

TEST(TimeText, Printing) {
    EXPECT_EQ(PrintTime(Time(1, 2, 3)), u"01:02:03");
    EXPECT_EQ(PrintTime(Time(1, 2, 3, 45)), u"01:02:03.045");
    EXPECT_EQ(PrintTime(Time(1, 2, 3, 0, 2024, 3, 5)), u"2024-03-05 01:02:03");
    EXPECT_EQ(PrintTime(Time(1, 2, 3, 7, 2024, 3, 5)), u"2024-03-05 01:02:03.007");
    EXPECT_EQ(PrintTime(Time(1, 2, 3, 7, 2024, 3, 5), true), u"01:02:03.007");
}

TEST(TimeText, GroupsFractionsAndUnitLetters) {
    EXPECT_EQ(ParseTime(u"01:02:03.5"), Time(1, 2, 3, 500));
    EXPECT_EQ(ParseTime(u"12:34"), Time(12, 34, 0));
    EXPECT_EQ(ParseTime(u"90"), Time(1, 30, 0));
    EXPECT_EQ(ParseTime(u"3.25"), Time(0, 0, 3, 250));
    EXPECT_EQ(ParseTime(u"59.9996"), Time(0, 1, 0, 0));  // rounding carries into the second
    EXPECT_EQ(ParseTime(u"1h30m"), Time(1, 30, 0));
    EXPECT_EQ(ParseTime(u"1H"), Time(1, 0, 0));
    EXPECT_EQ(ParseTime(u"5m30s"), Time(0, 5, 30));
    EXPECT_EQ(ParseTime(u"45s"), Time(0, 0, 45));
    EXPECT_EQ(ParseTime(u"3.5s"), Time(0, 0, 3, 500));
    EXPECT_EQ(ParseTime(u"0.25S"), Time(0, 0, 0, 250));
    EXPECT_EQ(ParseTime(u"1m3.5s"), Time(0, 1, 3, 500));
    EXPECT_EQ(ParseTime(u"01:02:03.5s"), Time(1, 2, 3, 500));
    EXPECT_EQ(ParseTime(u"1.2.3"), Time(0, 1, 2, 300));
    EXPECT_EQ(ParseTime(u"2m"), Time(0, 2, 0));
    EXPECT_EQ(ParseTime(u"25:00:00"), Time(1, 0, 0));  // wraps at a day
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
    EXPECT_EQ(ParseTime(u"2024-03-15 10:20:30"), expected);
    EXPECT_EQ(ParseTime(u"15/03/2024 10:20:30"), expected);
    EXPECT_EQ(ParseTime(u"15.3.2024\t10:20:30"), expected);
    EXPECT_EQ(ParseTime(u"2024-03-15 10:20:30", false), Time(10, 20, 30));
    EXPECT_EQ(ParseTime(u"2024-03 10:20:30"), Time(10, 20, 30));
    EXPECT_EQ(ParseTime(u"someday 10:20:30"), Time(10, 20, 30));
    EXPECT_EQ(ParseTime(u"99999-1-1 00:00:01"), Time(0, 0, 1, 0, 65535, 1, 1));
    EXPECT_EQ(ParseTime(u"-5/-1/2000 00:00:01"), Time(0, 0, 1, 0, 2000, 0, 0));
    const SystemTime printed = Time(23, 59, 58, 999, 2026, 12, 6);
    EXPECT_EQ(ParseTime(PrintTime(printed)), printed);
}

}  // namespace
}  // namespace orvex::props
