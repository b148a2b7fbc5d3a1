// The registry layer on the system registry (Windows): value types as the system stores
// them, key names without case, subtrees, held changes, and values written by other
// processes. The test process's private key (ORVEX_REGISTRY_KEY) stands for both roots.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/registry.h"
#include "test_util.h"

namespace orvex::platform {
namespace {

using test::Bytes;
using test::Name;

TEST(SystemRegistry, ValuesKeepTheirTypesAndBytes) {
    RegistryKey key;
    ASSERT_EQ(key.Create(RegRoot::kCurrentUser, u"Software\\OrvexTest\\Types"), ERROR_SUCCESS);
    const struct {
        std::u16string name;
        DWORD type;
        std::vector<BYTE> data;
    } cases[] = {
        {u"", kRegSz, Bytes({'d', 0, 0, 0})},
        {u"text", kRegSz, Bytes({0xE9, 0, 'x', 0, 0, 0})},
        {u"path", kRegExpandSz, Bytes({'%', 0, 'A', 0, '%', 0, 0, 0})},
        {u"dword", kRegDword, Bytes({1, 2, 3, 4})},
        {u"qword", kRegQword, Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
        {u"binary", kRegBinary, Bytes({0, 255, 0})},
        {u"empty", kRegBinary, {}},
        {u"unterminated", kRegSz, Bytes({'a', 0})},
    };
    for (const auto& c : cases)
        ASSERT_EQ(key.SetValue(c.name, c.type, c.data.data(), c.data.size()), ERROR_SUCCESS);
    RegistryKey again;
    ASSERT_EQ(again.Open(RegRoot::kCurrentUser, u"software\\ORVEXTEST\\types"), ERROR_SUCCESS);
    for (const auto& c : cases) {
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_EQ(again.QueryValue(c.name, &type, &data), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(data, c.data);
    }
    std::u16string text;
    EXPECT_EQ(again.QueryString(u"TEXT", &text), ERROR_SUCCESS);
    EXPECT_EQ(text, u"\u00e9x");
    DWORD number = 0;
    EXPECT_EQ(again.QueryDword(u"dword", &number), ERROR_SUCCESS);
    EXPECT_EQ(number, 0x04030201u);
    EXPECT_EQ(again.QueryDword(u"qword", &number), ERROR_INVALID_DATA);
    EXPECT_EQ(again.QueryValue(u"missing", nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(again.DeleteValue(u"text"), ERROR_ACCESS_DENIED);  // opened for reading
    EXPECT_EQ(key.DeleteValue(u"missing"), ERROR_FILE_NOT_FOUND);
}

TEST(SystemRegistry, SubtreesAreListedAndDeletedWhole) {
    RegistryKey key;
    ASSERT_EQ(key.Create(RegRoot::kClassesRoot, u"CLSID\\{T}\\InprocServer32"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString(u"ThreadingModel", u"Free"), ERROR_SUCCESS);
    RegistryKey parent;
    ASSERT_EQ(parent.Open(RegRoot::kClassesRoot, u"CLSID", true), ERROR_SUCCESS);
    std::u16string name;
    ASSERT_EQ(parent.EnumKey(0, &name), ERROR_SUCCESS);
    EXPECT_EQ(name, u"{T}");
    EXPECT_EQ(parent.EnumKey(1, &name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(parent.DeleteTree(u"{t}"), ERROR_SUCCESS);
    EXPECT_EQ(parent.DeleteTree(u"{t}"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegistryDeleteTree(RegRoot::kClassesRoot, u"CLSID"), ERROR_SUCCESS);
    EXPECT_EQ(key.Open(RegRoot::kClassesRoot, u"CLSID"), ERROR_FILE_NOT_FOUND);
}

TEST(SystemRegistry, HeldChangesShowThroughTheKeyAndLandOnCommit) {
    RegistryKey key;
    ASSERT_EQ(key.Create(RegRoot::kCurrentUser, u"Software\\OrvexTest\\Batch"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDword(u"kept", 1), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDword(u"gone", 2), ERROR_SUCCESS);
    key.BeginBatch();
    ASSERT_EQ(key.SetDword(u"kept", 3), ERROR_SUCCESS);
    ASSERT_EQ(key.DeleteValue(u"gone"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDword(u"new", 4), ERROR_SUCCESS);
    RegistryKey other;
    ASSERT_EQ(other.Open(RegRoot::kCurrentUser, u"Software\\OrvexTest\\Batch"), ERROR_SUCCESS);
    DWORD v = 0;
    // Held back from everybody else...
    ASSERT_EQ(other.QueryDword(u"kept", &v), ERROR_SUCCESS);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(other.QueryDword(u"new", &v), ERROR_FILE_NOT_FOUND);
    // ...but seen through the key that holds them, in order.
    std::vector<std::u16string> names;
    std::u16string name;
    for (DWORD i = 0; key.EnumValue(i, &name, nullptr, nullptr) == ERROR_SUCCESS; ++i)
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"kept", u"new"}));
    ASSERT_EQ(key.QueryDword(u"kept", &v), ERROR_SUCCESS);
    EXPECT_EQ(v, 3u);
    ASSERT_EQ(key.CommitBatch(), ERROR_SUCCESS);
    ASSERT_EQ(other.QueryDword(u"new", &v), ERROR_SUCCESS);
    EXPECT_EQ(v, 4u);
    EXPECT_EQ(other.QueryDword(u"gone", &v), ERROR_FILE_NOT_FOUND);
    // Dropped when the key closes without a commit.
    key.BeginBatch();
    ASSERT_EQ(key.SetDword(u"dropped", 5), ERROR_SUCCESS);
    key.Close();
    EXPECT_EQ(other.QueryDword(u"dropped", &v), ERROR_FILE_NOT_FOUND);
}

// Two helper processes write into the same key as this one; every value of all three is
// there afterwards (the helpers inherit this process's registry location).
TEST(SystemRegistry, ValuesWrittenByOtherProcessesAreRead) {
    test::TempDir tmp;
    constexpr int kValues = 40;
    const std::string count = std::to_string(kValues);
    ASSERT_TRUE(
        LaunchDetached(PLATFORM_TEST_HELPER, {"reg-write", tmp.str(), "p", count, tmp / "p.done"}));
    ASSERT_TRUE(
        LaunchDetached(PLATFORM_TEST_HELPER, {"reg-write", tmp.str(), "q", count, tmp / "q.done"}));
    RegistryKey key;
    ASSERT_EQ(key.Create(RegRoot::kCurrentUser, u"Software\\OrvexTest\\Shared"), ERROR_SUCCESS);
    for (int i = 0; i < kValues; ++i)
        ASSERT_EQ(key.SetDword(Name("r", i), static_cast<DWORD>(i)), ERROR_SUCCESS);
    ASSERT_TRUE(
        test::WaitUntil([&] { return FileExists(tmp / "p.done") && FileExists(tmp / "q.done"); }));
    std::set<std::u16string> names;
    std::u16string name;
    DWORD type = 0;
    for (DWORD i = 0; key.EnumValue(i, &name, &type, nullptr) == ERROR_SUCCESS; ++i) {
        EXPECT_EQ(type, kRegDword);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 3u * kValues);
    for (const char* prefix : {"p", "q", "r"}) {
        DWORD v = 0;
        ASSERT_EQ(key.QueryDword(Name(prefix, kValues - 1), &v), ERROR_SUCCESS);
        EXPECT_EQ(v, static_cast<DWORD>(kValues - 1));
    }
}

}  // namespace
}  // namespace orvex::platform
