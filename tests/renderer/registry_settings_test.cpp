// The renderers' registry settings: what goes into the shared key, with which type, and
// how it comes back.
#include <gtest/gtest.h>

#include <cstring>

#include "backend/registry_settings.h"
#include "com/ptr.h"
#include "props/xml_node.h"
#include "support/temp_registry.h"

namespace {

using orvex::backend::kSettingsKeyPath;
using orvex::platform::RegistryDeleteTree;
using orvex::platform::RegistryKey;
using orvex::platform::RegRoot;
using XMLParse::CoXMLNode;
using XMLParse::XMLNodePtr;

class RegistrySettings : public ::testing::Test {
protected:
    void SetUp() override { RegistryDeleteTree(RegRoot::kCurrentUser, kSettingsKeyPath); }

    RegistryKey Key() {
        RegistryKey key;
        EXPECT_EQ(key.Create(RegRoot::kCurrentUser, kSettingsKeyPath), 0);
        return key;
    }
    // Type and data of a value; type 0 when missing.
    std::pair<DWORD, std::vector<BYTE>> Value(std::u16string_view name) {
        RegistryKey key;
        std::pair<DWORD, std::vector<BYTE>> out{0, {}};
        if (key.Open(RegRoot::kCurrentUser, kSettingsKeyPath) != 0) return out;
        if (key.QueryValue(name, &out.first, &out.second) != 0) out.first = 0;
        return out;
    }
    DWORD Dword(std::u16string_view name) {
        auto [type, data] = Value(name);
        EXPECT_EQ(type, orvex::platform::kRegDword);
        DWORD v = 0;
        if (data.size() == 4) std::memcpy(&v, data.data(), 4);
        return v;
    }
    std::u16string Text(std::u16string_view name) {
        RegistryKey key;
        std::u16string v;
        key.Open(RegRoot::kCurrentUser, kSettingsKeyPath);
        EXPECT_EQ(key.QueryString(name, &v), 0) << orvex::com::ToUtf8(name);
        return v;
    }
};

TEST(RegistryTypeOf, DecimalHexAndText) {
    using orvex::backend::RegistryTypeOf;
    std::uint64_t n = 0;
    EXPECT_EQ(RegistryTypeOf(u"25", &n), orvex::platform::kRegDword);
    EXPECT_EQ(n, 25u);
    EXPECT_EQ(RegistryTypeOf(u"0", &n), orvex::platform::kRegDword);
    EXPECT_EQ(RegistryTypeOf(u"2147483647", &n), orvex::platform::kRegDword);
    for (const char16_t* text : {u"-1", u"007", u" 25", u"2147483648", u"", u"0x1F"})
        EXPECT_EQ(RegistryTypeOf(text, &n), orvex::platform::kRegSz) << orvex::com::ToUtf8(text);
    EXPECT_EQ(RegistryTypeOf(u"0x00000000000000FF", &n), orvex::platform::kRegQword);
    EXPECT_EQ(n, 255u);
    EXPECT_EQ(RegistryTypeOf(u"0x00000000000000ff", &n), orvex::platform::kRegSz);
}

TEST_F(RegistrySettings, ValuesLoadAsTextAndWriteBackByTheTypeRules) {
    {
        RegistryKey key = Key();
        key.SetString(u"sz25", u"25");
        key.SetString(u"minus", u"-1");
        key.SetString(u"octal", u"007");
        key.SetString(u"expand", u"%HOME%", orvex::platform::kRegExpandSz);
        key.SetQword(u"q_small", 7);
        key.SetQword(u"q_big", 0x100000000ull);
        key.SetDword(u"d_neg", 0xFFFFFFFFu);
        const BYTE blob[] = {1, 2, 3};
        key.SetValue(u"blob", orvex::platform::kRegBinary, blob, sizeof blob);
        key.SetValue(u"short_dword", orvex::platform::kRegDword, blob, 3);
        const char16_t unterminated[] = {u'a', u'b'};
        key.SetValue(u"unterminated", orvex::platform::kRegSz, unterminated, sizeof unterminated);
        key.SetString(u"", u"default value is not a property");
    }
    XMLNodePtr root = CoXMLNode::Create(u"m-props");
    ASSERT_EQ(orvex::backend::RegistryLoad(root, RegRoot::kCurrentUser, kSettingsKeyPath, true),
              S_OK);
    std::u16string v;
    EXPECT_TRUE(root->GetAttr(u"sz25", &v) && v == u"25");
    EXPECT_TRUE(root->GetAttr(u"q_big", &v) && v == u"4294967296");
    EXPECT_TRUE(root->GetAttr(u"d_neg", &v) && v == u"-1");
    EXPECT_TRUE(root->GetAttr(u"expand", &v) && v == u"%HOME%");
    EXPECT_FALSE(root->HasAttr(u"blob"));
    EXPECT_FALSE(root->HasAttr(u"short_dword"));
    EXPECT_FALSE(root->HasAttr(u"unterminated"));
    EXPECT_FALSE(root->HasAttr(u""));

    EXPECT_EQ(Dword(u"sz25"), 25u);
    EXPECT_EQ(Text(u"minus"), u"-1");
    EXPECT_EQ(Text(u"octal"), u"007");
    EXPECT_EQ(Dword(u"q_small"), 7u);
    EXPECT_EQ(Text(u"q_big"), u"4294967296");
    EXPECT_EQ(Text(u"d_neg"), u"-1");
    EXPECT_EQ(Value(u"expand").first, orvex::platform::kRegSz);
    auto [type, data] = Value(u"blob");
    EXPECT_EQ(type, orvex::platform::kRegBinary);
    EXPECT_EQ(data, (std::vector<BYTE>{1, 2, 3}));
}

// The shared settings' schema stands in the tree before the key is read: a value it refuses
// does not reach the tree, which keeps its own, and stays in the key as the user wrote it.
TEST_F(RegistrySettings, ValuesTheSchemaRefusesStayInTheKeyOnly) {
    {
        RegistryKey key = Key();
        key.SetString(u"input.buffers", u"1000000");
        key.SetString(u"keying-level", u"loud");
        key.SetDword(u"cc_output", 5);
    }
    XMLNodePtr root = CoXMLNode::Create(u"m-props");
    root->SetAttr(u"input.buffers", u"2");
    ASSERT_EQ(orvex::backend::RegistryLoad(root, RegRoot::kCurrentUser, kSettingsKeyPath, true),
              S_OK);
    std::u16string v;
    EXPECT_TRUE(root->GetAttr(u"input.buffers", &v) && v == u"2");
    EXPECT_FALSE(root->HasAttr(u"keying-level"));
    EXPECT_TRUE(root->GetAttr(u"cc_output", &v) && v == u"5");
    EXPECT_EQ(Text(u"input.buffers"), u"1000000");
    EXPECT_EQ(Text(u"keying-level"), u"loud");
    CComBSTR max;
    EXPECT_EQ(root->AttributesInfoGet(CComBSTR(u"input.buffers"), eMIT_Max, &max), S_OK);
    EXPECT_EQ(max.View(), u"1000");
}

TEST_F(RegistrySettings, DottedNamesReachIntoChildNodes) {
    XMLNodePtr root = CoXMLNode::Create(u"m-props");
    root->SetValue(u"root text");
    root->AttributesSet(CComBSTR(u"device::init_first"), CComBSTR(u"1"));
    root->AttributesSet(CComBSTR(u"device::sub::hex"), CComBSTR(u"0x0000000000000010"));
    root->SetAttr(u"output.time_sync", u"on");
    root->SetAttr(u"output.state", u"open");  // what opened: not a setting
    root->AttributesSet(CComBSTR(u"attributes_info::device"), CComBSTR(u"schema"));
    ASSERT_EQ(orvex::backend::RegistrySave(root, RegRoot::kCurrentUser, kSettingsKeyPath), S_OK);
    EXPECT_EQ(Value(u"output.state").first, 0u);
    EXPECT_EQ(Dword(u"device.init_first"), 1u);
    EXPECT_EQ(Value(u"device.sub.hex").first, orvex::platform::kRegQword);
    EXPECT_EQ(Text(u"output.time_sync"), u"on");
    EXPECT_EQ(Text(u""), u"root text");
    EXPECT_EQ(Value(u"attributes_info.device").first, 0u);  // the schema is not a setting

    Key().SetString(u"device.init_first", u"0");
    XMLNodePtr fresh = CoXMLNode::Create(u"m-props");
    fresh->AttributesSet(CComBSTR(u"device::init_first"), CComBSTR(u"1"));
    orvex::backend::RegistryLoad(fresh, RegRoot::kCurrentUser, kSettingsKeyPath, false);
    CComBSTR got;
    fresh->AttributesGet(CComBSTR(u"device::init_first"), &got);
    EXPECT_EQ(got.View(), u"0");
    got.Empty();
    // No node "sub": the rest of the name stays one property of the deepest node found.
    fresh->AttributesGet(CComBSTR(u"device::sub.hex"), &got);
    EXPECT_EQ(got.View(), u"16");
    std::u16string v;
    EXPECT_TRUE(fresh->GetAttr(u"output.time_sync", &v) && v == u"on");
}

}  // namespace
