#include "props/typed_value.h"

#include <gtest/gtest.h>

namespace orvex::props {
namespace {

TEST(TypedValue, TypedWritePrintsLazily) {
    TypedValue value(u"old");
    value.SetInt32(-5);
    EXPECT_EQ(value.Text(), u"-5");
    value.SetHex32(255);
    EXPECT_EQ(value.Text(), u"0x000000FF");
    value.SetColour(MakeColour(255, 0, 0, 128));
    EXPECT_EQ(value.Text(), u"Red(128)");
    value.SetMeasure({12.5, MeasureUnit::kPercent});
    EXPECT_EQ(value.Text(), u"12.500%");
}

TEST(TypedValue, ReadOfAnotherTypeParsesAndKeepsTheNewType) {
    TypedValue value;
    value.SetText(u"0x10");
    EXPECT_EQ(value.Type(), ValueType::kText);
    EXPECT_EQ(value.GetInt32(), 16);
    EXPECT_EQ(value.Type(), ValueType::kInt32);
    EXPECT_EQ(value.Text(), u"0x10");  // reading does not rewrite the text
    EXPECT_TRUE(value.GetBool());
    EXPECT_EQ(value.Type(), ValueType::kBool);
    // Typed reads leave the text valid, so the next conversion still reads "0x10".
    EXPECT_EQ(value.GetInt32(), 16);

    value.SetDouble(0.25);
    EXPECT_EQ(value.GetMeasure().value, 0.25);
    EXPECT_EQ(value.Type(), ValueType::kMeasure);
    value.SetBool(true);
    EXPECT_EQ(value.GetInt64(), 0);  // "true" is no number
    EXPECT_EQ(value.Text(), u"true");
}

TEST(TypedValue, ConversionsGoThroughTheText) {
    TypedValue value;
    value.SetHex32(0xFFFFFFFF);
    EXPECT_EQ(value.GetHex64(), 0xFFFFFFFFull);
    value.SetHex32(0x80000000);
    EXPECT_EQ(value.GetInt64(), 0x80000000ll);
    value.SetPixelFormat(0x59565955);
    EXPECT_EQ(value.GetHex32(), 0u);  // "UYVY" is no number
    value.SetText(u"uyvy");
    EXPECT_EQ(value.GetPixelFormat(), 0x59565955u);
    const GUID g = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    value.SetGuid(g);
    EXPECT_EQ(value.Text(), u"{00000001-0002-0003-0405-060708090A0B}");
    value.SetText(value.Text());
    EXPECT_EQ(value.GetGuid(), g);
    SystemTime t;
    t.hour = 12;
    t.minute = 34;
    value.SetTime(t);
    EXPECT_EQ(value.GetDouble(), 12.0);
}

TEST(TypedValue, EmptyTextIsZeroForEveryType) {
    TypedValue value(u"");
    EXPECT_FALSE(value.GetBool());
    EXPECT_EQ(value.GetInt32(), 0);
    EXPECT_EQ(value.GetHex64(), 0u);
    EXPECT_EQ(value.GetDouble(), 0.0);
    EXPECT_EQ(value.GetMeasure().unit, MeasureUnit::kNone);
    EXPECT_EQ(value.GetGuid(), GUID_NULL);
    EXPECT_EQ(value.GetPixelFormat(), 0u);
    EXPECT_EQ(value.GetColour(0xFF123456), 0u);
    EXPECT_EQ(value.GetTime(), SystemTime{});
    value.SetText(u"nonsense");
    EXPECT_EQ(value.GetColour(0xFF123456), 0xFF123456u);
}

}  // namespace
}  // namespace orvex::props
