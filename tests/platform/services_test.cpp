#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/critical_section.h"
#include "platform/dynamic_library.h"
#include "platform/module_info.h"
#include "platform/named_claim.h"
#include "platform/process.h"
#include "test_util.h"

namespace orvex::platform {
namespace {

std::string UniqueName(const std::string& base) {
    static std::atomic<int> counter{0};
    return base + "-" + std::to_string(CurrentProcessId()) + "-" + std::to_string(counter++);
}

TEST(NamedClaim, BehavesLikeANamedKernelEventWithinTheProcess) {
    const std::string name = UniqueName("_Lock_Board 1/Ch\\0:*?\"<>|%2F.");
    EXPECT_FALSE(NamedClaim::Exists(name));
    NamedClaim probe;
    EXPECT_FALSE(probe.Open(name));

    NamedClaim first, second;
    bool existed = true;
    ASSERT_TRUE(first.Create(name, &existed));
    EXPECT_FALSE(existed);
    EXPECT_FALSE(first.Create(name, &existed));  // one claim per object
    ASSERT_TRUE(second.Create(name, &existed));
    EXPECT_TRUE(existed);
    EXPECT_TRUE(NamedClaim::Exists(name));

    // Escaping keeps names apart that a plain file name would merge.
    const std::string similar = name.substr(0, name.size() - 4) + "%252F.";
    EXPECT_FALSE(NamedClaim::Exists(similar));

    // The claim lives while any holder does, whichever closes first.
    first.Close();
    EXPECT_TRUE(NamedClaim::Exists(name));
    NamedClaim moved(std::move(second));
    EXPECT_FALSE(second.IsHeld());
    EXPECT_TRUE(NamedClaim::Exists(name));
    moved.Close();
    EXPECT_FALSE(NamedClaim::Exists(name));
    ASSERT_TRUE(first.Create(name, &existed));
    EXPECT_FALSE(existed);

    EXPECT_FALSE(probe.Create("", &existed));
    const std::string long_name = UniqueName(std::string(5000, 'n'));
    NamedClaim long_claim;
    ASSERT_TRUE(long_claim.Create(long_name, &existed));
    EXPECT_FALSE(existed);
    EXPECT_TRUE(NamedClaim::Exists(long_name));
    EXPECT_FALSE(NamedClaim::Exists(long_name + "x"));
}

TEST(NamedClaim, HolderInAnotherProcessThatIsKilledReleasesIt) {
    test::TempDir tmp;
    const std::string name = UniqueName("_Lock_killed");
    ASSERT_TRUE(
        LaunchDetached(PLATFORM_TEST_HELPER, {"claim-kill", name, tmp / "held", tmp / "go"}));
    ASSERT_TRUE(test::WaitUntil([&] { return FileExists(tmp / "held"); }));

    EXPECT_TRUE(NamedClaim::Exists(name));
    NamedClaim mine;
    bool existed = false;
    ASSERT_TRUE(mine.Create(name, &existed));
    EXPECT_TRUE(existed);
    mine.Close();  // the other process still holds it
    EXPECT_TRUE(NamedClaim::Exists(name));

    test::WriteFile(tmp / "go", "go");  // the helper now dies by SIGKILL
    ASSERT_TRUE(test::WaitUntil([&] { return !NamedClaim::Exists(name); }));
    ASSERT_TRUE(mine.Create(name, &existed));
    EXPECT_FALSE(existed);
}

TEST(Process, LaunchesDetachedAndReportsFailures) {
    test::TempDir tmp;
    ASSERT_TRUE(LaunchDetached(PLATFORM_TEST_HELPER, {"touch", tmp / "made by child"}));
    EXPECT_TRUE(test::WaitUntil([&] { return FileExists(tmp / "made by child"); }));
    EXPECT_FALSE(LaunchDetached(tmp / "no such program"));
    test::WriteFile(tmp / "plain", "not a program");
    EXPECT_FALSE(LaunchDetached(tmp / "plain"));
    EXPECT_FALSE(LaunchDetached(""));
    EXPECT_TRUE(FileExists(tmp.str()));  // folders count
    EXPECT_FALSE(FileExists(tmp / "missing"));
    EXPECT_FALSE(FileExists(""));
}

TEST(ModuleInfo, EachModuleReportsItsOwnPathAndVersion) {
    static const int anchor = 0;
    const ModuleInfo mine = ORVEX_THIS_MODULE_INFO();
    EXPECT_EQ(std::filesystem::path(mine.path).stem(), "test_platform");
    EXPECT_TRUE(std::filesystem::path(mine.path).is_absolute());
    EXPECT_EQ(mine.version, "0.0.0.0");
    const ModuleInfo given = detail::MakeModuleInfo(&anchor, "1.20.3", "Feb 29 2024", "23:59:58");
    EXPECT_EQ(std::vector<unsigned>(given.version_numbers, given.version_numbers + 4),
              (std::vector<unsigned>{1, 20, 3, 0}));
    EXPECT_EQ(given.built, "2024-02-29 23:59:58");
    EXPECT_EQ(mine.build_time.size(), 8u);
    ASSERT_EQ(mine.built.size(), 19u);
    EXPECT_EQ(mine.built.substr(11), mine.build_time);
    EXPECT_EQ(ModulePathOf(nullptr), "");
    int on_stack = 0;
    EXPECT_EQ(ModulePathOf(&on_stack), "");

    DynamicLibrary plugin;
    ASSERT_TRUE(plugin.Open(PLATFORM_TEST_PLUGIN)) << plugin.Error();
    auto info = reinterpret_cast<void (*)(char*, char*, int)>(plugin.Symbol("PluginModuleInfo"));
    ASSERT_NE(info, nullptr);
    char version[4096] = {}, path[4096] = {};
    info(version, path, sizeof path);
    EXPECT_STREQ(version, "9.8.7.0");
    EXPECT_EQ(std::string(path), std::filesystem::canonical(PLATFORM_TEST_PLUGIN).string());
    EXPECT_EQ(ModulePathOf(reinterpret_cast<const void*>(info)), std::string(path));
}

TEST(DynamicLibrary, OpensFindsSymbolsAndReportsErrors) {
    DynamicLibrary lib;
    EXPECT_FALSE(lib.Open("/no/such/library.so"));
    EXPECT_FALSE(lib.Error().empty());
    EXPECT_FALSE(lib.Open(""));
    EXPECT_FALSE(lib.IsOpen());
    EXPECT_EQ(lib.Symbol("PluginAdd"), nullptr);

    ASSERT_TRUE(lib.Open(PLATFORM_TEST_PLUGIN));
    EXPECT_TRUE(lib.Error().empty());
    auto add = reinterpret_cast<int (*)(int, int)>(lib.Symbol("PluginAdd"));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(2, 3), 5);
    EXPECT_EQ(lib.Symbol("NoSuchSymbol"), nullptr);
    EXPECT_EQ(lib.Symbol(nullptr), nullptr);

    DynamicLibrary moved(std::move(lib));
    EXPECT_FALSE(lib.IsOpen());
    EXPECT_TRUE(moved.IsOpen());
    moved.Close();
    EXPECT_FALSE(moved.IsOpen());
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CriticalSection cs;
    cs.Enter();
    EXPECT_TRUE(cs.TryEnter());  // the owner enters again
    std::thread other([&] { EXPECT_FALSE(cs.TryEnter()); });
    other.join();
    cs.Leave();
    cs.Leave();

    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                CriticalSectionLock outer(cs);
                CriticalSectionLock inner(cs);
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 40000);
}

}  // namespace
}  // namespace orvex::platform
