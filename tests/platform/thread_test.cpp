#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "drop_privileges.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "platform/thread_pool.h"
#include "test_util.h"

namespace orvex::platform {
namespace {

TEST(Thread, SuspendedThreadRunsOnlyAfterResume) {
    std::atomic<bool> ran{false};
    Thread thread;
    // The body runs once resumed, when the object knows its thread: it cannot join itself.
    ASSERT_TRUE(thread.Start([&] { ran = !thread.Join(0); }, true));
    EXPECT_TRUE(thread.Joinable());
    EXPECT_NE(thread.Id(), 0u);
    EXPECT_NE(thread.Id(), Thread::CurrentId());
    EXPECT_FALSE(thread.Start([] {}));  // one thread per object
    EXPECT_FALSE(ran);
    thread.Resume();
    ASSERT_TRUE(thread.Join());
    EXPECT_TRUE(ran);
    EXPECT_FALSE(thread.Joinable());
    EXPECT_EQ(thread.Id(), 0u);

    // Destroyed while suspended: the body never runs and nothing hangs.
    {
        Thread never;
        ASSERT_TRUE(never.Start([&] { ran = false; }, true));
    }
    EXPECT_TRUE(ran);
}

TEST(Thread, JoinTimesOutOnTheVirtualClock) {
    VirtualClock clock;
    Event release(Event::ResetMode::kManual);
    Thread thread;
    ASSERT_TRUE(thread.Start([&] { release.Wait(); }));
    EXPECT_FALSE(thread.Join(250 * kTicksPerMillisecond));
    EXPECT_EQ(Now(), 250 * kTicksPerMillisecond);
    EXPECT_TRUE(thread.Joinable());
    release.Set();
    EXPECT_TRUE(thread.Join());
}

// Lowering always takes effect; raising never ends below the normal level.
TEST(Thread, PrioritiesApplyOrFallBackQuietly) {
    for (ThreadPriority p :
         {ThreadPriority::kIdle, ThreadPriority::kNormal, ThreadPriority::kTimeCritical}) {
        Thread thread;
        std::atomic<int> seen{-1};
        ASSERT_TRUE(
            thread.Start([&] { seen = static_cast<int>(Thread::GetCurrentPriority()); }, true));
        EXPECT_TRUE(thread.SetPriority(p));
        thread.Resume();
        ASSERT_TRUE(thread.Join());
        if (p <= ThreadPriority::kNormal) {
            EXPECT_EQ(seen, static_cast<int>(p));
        } else {
            EXPECT_GE(seen, static_cast<int>(ThreadPriority::kNormal));
        }
    }

    Thread running;
    Event release(Event::ResetMode::kManual);
    std::atomic<int> seen{-1};
    ASSERT_TRUE(running.Start([&] {
        release.Wait();
        seen = static_cast<int>(Thread::GetCurrentPriority());
    }));
    EXPECT_TRUE(running.SetPriority(ThreadPriority::kTimeCritical));
    EXPECT_TRUE(running.SetPriority(ThreadPriority::kLowest));
    release.Set();
    ASSERT_TRUE(running.Join());
    EXPECT_EQ(seen, static_cast<int>(ThreadPriority::kLowest));
    EXPECT_FALSE(running.SetPriority(ThreadPriority::kNormal));  // no thread attached

    // What a raised thread got, in words: real time, or why not.
    std::string said;
    std::thread([&] {
        Thread::SetCurrentPriority(ThreadPriority::kTimeCritical);
        said = Thread::CurrentSchedulingText();
    }).join();
    EXPECT_TRUE(said.rfind("real-time", 0) == 0 || said == "time critical" ||
                said.find("(real-time not permitted)") != std::string::npos)
        << said;
}

// The same as an ordinary user, in a helper process.
TEST(Thread, PrioritiesFallBackWithoutRights) {
    if (!test::PrivilegesLimitPriorities()) GTEST_SKIP() << "every user may raise priorities here";
    // Started below the normal level (under nice), an ordinary user cannot even get back to it.
    if (Thread::GetCurrentPriority() < ThreadPriority::kNormal) GTEST_SKIP() << "run under nice";
    test::TempDir tmp;
    ASSERT_TRUE(LaunchDetached(PLATFORM_TEST_HELPER, {"priorities", tmp / "result"}));
    ASSERT_TRUE(test::WaitUntil([&] {
        const std::string text = test::ReadFile(tmp / "result");
        return text.size() >= 4 && text.substr(text.size() - 4) == "end\n";
    }));
    EXPECT_EQ(test::ReadFile(tmp / "result"), "end\n");
}

TEST(ThreadPool, RunsEveryItemQueuedFromManyThreads) {
    EXPECT_GE(ProcessorCount(), 1);
    constexpr int kProducers = 4, kItems = 500;
    std::atomic<int> done{0};
    Event all_done(Event::ResetMode::kManual);
    std::mutex m;
    std::set<std::thread::id> workers;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&] {
            for (int i = 0; i < kItems; ++i) {
                ASSERT_TRUE(QueueWorkItem([&] {
                    {
                        std::lock_guard<std::mutex> lock(m);
                        workers.insert(std::this_thread::get_id());
                    }
                    if (++done == kProducers * kItems) all_done.Set();
                }));
            }
        });
    }
    for (auto& t : producers) t.join();
    ASSERT_TRUE(all_done.Wait(30 * kTicksPerSecond));
    EXPECT_EQ(done, kProducers * kItems);
    EXPECT_EQ(workers.count(std::this_thread::get_id()), 0u);
    EXPECT_FALSE(QueueWorkItem(nullptr));
}

}  // namespace
}  // namespace orvex::platform
