// The registry calls whose behaviour is the same on both systems, against the test process's
// own registry (files on Linux, a private key on Windows).
#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/text.h"

namespace orvex::platform {
namespace {

constexpr std::u16string_view kKey = u"Software\\OrvexTest\\Conditional";

DWORD Dword(std::u16string_view name) {
    RegistryKey key;
    DWORD v = 0xBAD;
    if (key.Open(RegRoot::kCurrentUser, kKey) == ERROR_SUCCESS) key.QueryDword(name, &v);
    return v;
}

// A writer that read a value sets it only while it still stands as read, directly or at the
// commit of a batch: what another writer changed in between stays.
TEST(RegistryApi, ConditionalSetsLeaveWhatAnotherWriterChanged) {
    const RegistryValue one{kRegDword, {1, 0, 0, 0}};
    const struct {
        const char16_t* name;
        const RegistryValue* expected;  // null: read as absent
        DWORD after;
    } cases[] = {
        {u"as-read", &one, 9},      // unchanged since: set
        {u"changed", &one, 2},      // another writer's 2 stays
        {u"new", nullptr, 9},       // still absent: set
        {u"appeared", nullptr, 3},  // another writer's 3 stays
    };
    for (const bool batch : {false, true}) {
        SCOPED_TRACE(batch ? "batch" : "direct");
        RegistryDeleteTree(RegRoot::kCurrentUser, kKey);
        RegistryKey key;
        ASSERT_EQ(key.Create(RegRoot::kCurrentUser, kKey), ERROR_SUCCESS);
        ASSERT_EQ(key.SetDword(u"as-read", 1), ERROR_SUCCESS);
        ASSERT_EQ(key.SetDword(u"changed", 2), ERROR_SUCCESS);
        ASSERT_EQ(key.SetDword(u"appeared", 3), ERROR_SUCCESS);
        if (batch) key.BeginBatch();
        const BYTE nine[] = {9, 0, 0, 0};
        for (const auto& c : cases)
            EXPECT_EQ(key.SetValueIf(c.name, c.expected, kRegDword, nine, 4), ERROR_SUCCESS);
        if (batch) {
            EXPECT_EQ(key.CommitBatch(), ERROR_SUCCESS);
        }
        for (const auto& c : cases) EXPECT_EQ(Dword(c.name), c.after) << ToUtf8(c.name);
    }
}

}  // namespace
}  // namespace orvex::platform
