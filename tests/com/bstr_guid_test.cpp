#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "com/ptr.h"
#include "com/runtime.h"

namespace {

TEST(Bstr, LayoutAndLengths) {
    BSTR b = SysAllocString(OLESTR("abc"));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    std::uint32_t prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(b) - 4, 4);
    EXPECT_EQ(prefix, 6u);
    EXPECT_EQ(b[3], 0);
    SysFreeString(b);

    // Embedded zeros count; a null source gives a zeroed string of that length.
    const OLECHAR with_zero[] = {u'a', 0, u'b'};
    b = SysAllocStringLen(with_zero, 3);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(b[2], u'b');
    SysFreeString(b);
    b = SysAllocStringLen(nullptr, 4);
    ASSERT_NE(b, nullptr);
    for (int i = 0; i <= 4; ++i) EXPECT_EQ(b[i], 0);
    SysFreeString(b);

    // Odd byte lengths keep their exact size and are still terminated.
    b = SysAllocStringByteLen("xyz", 3);
    EXPECT_EQ(SysStringByteLen(b), 3u);
    EXPECT_EQ(SysStringLen(b), 1u);
    EXPECT_EQ(reinterpret_cast<char*>(b)[3], 0);
    SysFreeString(b);
}

TEST(Bstr, NullAndHugeInputsAreSafe) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, std::numeric_limits<UINT>::max()), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, std::numeric_limits<UINT>::max()), nullptr);
    EXPECT_FALSE(SysReAllocString(nullptr, OLESTR("x")));

    BSTR b = SysAllocString(OLESTR("one"));
    EXPECT_TRUE(SysReAllocString(&b, OLESTR("three")));
    EXPECT_EQ(orvex::com::View(b), u"three");
    EXPECT_TRUE(SysReAllocStringLen(&b, OLESTR("ab"), 1));
    EXPECT_EQ(orvex::com::View(b), u"a");
    SysFreeString(b);
}

TEST(Bstr, SmartHolderCopiesAndMoves) {
    CComBSTR a(u"hello");
    CComBSTR b = a;
    EXPECT_NE(a.m_str, b.m_str);
    EXPECT_EQ(b.View(), u"hello");
    CComBSTR c = std::move(a);
    EXPECT_EQ(a.m_str, nullptr);
    EXPECT_EQ(c.View(), u"hello");
    BSTR out = nullptr;
    EXPECT_EQ(c.CopyTo(&out), S_OK);
    EXPECT_EQ(orvex::com::View(out), u"hello");
    SysFreeString(out);
    EXPECT_EQ(c.CopyTo(nullptr), E_POINTER);
}

TEST(TextConversion, RoundTripsAndReplacesInvalidSequences) {
    using orvex::com::ToUtf16;
    using orvex::com::ToUtf8;
    const std::u16string mixed = u"A\u00e9\u20ac\U0001F600z";
    EXPECT_EQ(ToUtf16(ToUtf8(mixed)), mixed);
    EXPECT_EQ(ToUtf8(u"\u00e9"), "\xC3\xA9");
    // A lone surrogate survives the round trip; truncated and overlong sequences become
    // U+FFFD, never a crash.
    const std::u16string lone(1, char16_t(0xD800));
    EXPECT_EQ(ToUtf16(ToUtf8(lone)), lone);
    EXPECT_EQ(ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");
    EXPECT_EQ(ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(ToUtf16("\xED\xA0\x80"), lone);
    EXPECT_EQ(ToUtf16("\xF4\x90\x80\x80").size(), 4u);
}

TEST(GuidText, WritesBracedUpperCaseAndReadsOnlyTheBracedForm) {
    constexpr GUID g = MakeGuid("0123abcd-4567-89ef-0a1b-2c3d4e5f6a7b");
    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(g, buf, 39), 39);
    EXPECT_EQ(std::u16string_view(buf), u"{0123ABCD-4567-89EF-0A1B-2C3D4E5F6A7B}");
    EXPECT_EQ(StringFromGUID2(g, buf, 38), 0);
    EXPECT_EQ(StringFromGUID2(g, nullptr, 39), 0);
    EXPECT_EQ(orvex::com::GuidToString(g), u"{0123ABCD-4567-89EF-0A1B-2C3D4E5F6A7B}");

    // Read back in any case, but only in the exact braced form.
    CLSID parsed;
    EXPECT_EQ(CLSIDFromString(OLESTR("{0123abcd-4567-89EF-0a1b-2C3D4E5F6A7B}"), &parsed), S_OK);
    EXPECT_EQ(parsed, g);

    for (const OLECHAR* bad : {OLESTR("0123abcd-4567-89ef-0a1b-2c3d4e5f6a7b"),
                               OLESTR("{0123abcd-4567-89ef-0a1b-2c3d4e5f6a7b"),
                               OLESTR("{0123abcd-4567-89ef-0a1b-2c3d4e5f6a7b}x"),
                               OLESTR("{0123abcd-4567-89ef-0a1b2c3d4e5f6a7b}"),
                               OLESTR("{0123abcg-4567-89ef-0a1b-2c3d4e5f6a7b}"), OLESTR("{"),
                               OLESTR(""), OLESTR("{0123abcd-4567-89ef-0a1b-2c3d4e5f6a7}")}) {
        parsed = g;
        EXPECT_EQ(CLSIDFromString(bad, &parsed), CO_E_CLASSSTRING);
        EXPECT_EQ(parsed, GUID_NULL);
    }
    EXPECT_EQ(CLSIDFromString(nullptr, &parsed), S_OK);
    EXPECT_EQ(parsed, GUID_NULL);
    EXPECT_EQ(CLSIDFromString(OLESTR("{}"), nullptr), E_INVALIDARG);
    EXPECT_EQ(IIDFromString(OLESTR("nope"), &parsed), E_INVALIDARG);
}

}  // namespace
