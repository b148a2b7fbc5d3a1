#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "test_util.h"

namespace orvex::platform {
namespace {

constexpr Ticks kMs = kTicksPerMillisecond;

using test::WaitUntil;

TEST(VirtualClockAuto, TimedWaitsAdvanceTimeExactly) {
    VirtualClock clock(VirtualClock::Mode::kAutoAdvance, 1000);
    Event event(Event::ResetMode::kAuto);
    EXPECT_FALSE(event.Wait(100 * kMs));
    EXPECT_EQ(Now(), 1000 + 100 * kMs);
    EXPECT_FALSE(event.Wait(0));
    EXPECT_EQ(Now(), 1000 + 100 * kMs);
    SleepFor(2 * kTicksPerSecond);
    EXPECT_EQ(Now(), 1000 + 100 * kMs + 2 * kTicksPerSecond);
    SleepUntil(5);  // in the past: no effect
    EXPECT_EQ(clock.Now(), Now());

    event.Set();
    const Ticks before = Now();
    EXPECT_TRUE(event.Wait(100 * kMs));  // satisfied at once: no time passes
    EXPECT_EQ(Now(), before);
    EXPECT_FALSE(event.IsSet());  // auto-reset consumed by the wait
}

TEST(VirtualClockAuto, TimerFiresAtItsDueTime) {
    VirtualClock clock(VirtualClock::Mode::kAutoAdvance);
    Event event(Event::ResetMode::kManual);
    WaitableTimer timer(false);
    timer.SetRelative(40 * kMs);
    EXPECT_EQ(WaitAny({&event, &timer}, kTicksPerSecond), 1);
    EXPECT_EQ(Now(), 40 * kMs);
    EXPECT_FALSE(timer.Wait(0));  // auto-reset: consumed

    // Timed out before the due time; fires on a later wait.
    timer.SetRelative(50 * kMs);
    EXPECT_FALSE(timer.Wait(20 * kMs));
    EXPECT_EQ(Now(), 60 * kMs);
    EXPECT_TRUE(timer.Wait(kInfinite));  // a due timer bounds even an infinite wait
    EXPECT_EQ(Now(), 90 * kMs);

    WaitableTimer manual(true);
    manual.SetRelative(0);  // signals at once
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));   // stays set
    manual.SetRelative(10 * kMs);  // re-arming resets it
    EXPECT_FALSE(manual.Wait(0));
    manual.Cancel();
    EXPECT_FALSE(manual.Wait(kTicksPerSecond));
    EXPECT_EQ(Now(), 90 * kMs + kTicksPerSecond);
}

TEST(VirtualClockManual, WaitsWakeWhenAnotherThreadAdvances) {
    VirtualClock clock(VirtualClock::Mode::kManual, 0);
    Event event(Event::ResetMode::kAuto);
    std::atomic<int> result{-2};
    Thread waiter;
    ASSERT_TRUE(waiter.Start([&] { result = event.Wait(50 * kMs) ? 1 : 0; }));
    clock.Advance(49 * kMs);
    event.Set();  // before the deadline: the wait succeeds
    ASSERT_TRUE(waiter.Join());
    EXPECT_EQ(result, 1);

    result = -2;
    ASSERT_TRUE(waiter.Start([&] { result = event.Wait(50 * kMs) ? 1 : 0; }));
    // Whether the waiter has blocked yet or not, time past its deadline ends the wait.
    ASSERT_TRUE(WaitUntil([&] {
        clock.Advance(kMs);
        return result != -2;
    }));
    ASSERT_TRUE(waiter.Join());
    EXPECT_EQ(result, 0);

    WaitableTimer timer(false);
    timer.SetRelative(10 * kMs);
    std::atomic<bool> fired{false};
    ASSERT_TRUE(waiter.Start([&] { fired = timer.Wait(kInfinite); }));
    clock.AdvanceTo(clock.Now() + 10 * kMs);
    ASSERT_TRUE(waiter.Join());
    EXPECT_TRUE(fired);

    // Sleep and Join with a time-out both follow virtual time.
    std::atomic<bool> slept{false};
    const Ticks wake = clock.Now() + kTicksPerSecond;
    ASSERT_TRUE(waiter.Start([&] {
        SleepUntil(wake);
        slept = true;
    }));
    EXPECT_FALSE(slept);  // virtual time has not moved
    clock.AdvanceTo(wake);
    ASSERT_TRUE(waiter.Join());
    EXPECT_TRUE(slept);
}

TEST(VirtualClock, RemovingTheClockEndsTimedWaits) {
    Event event(Event::ResetMode::kManual);
    std::atomic<bool> result{true};
    Thread waiter;
    {
        VirtualClock clock(VirtualClock::Mode::kManual);
        ASSERT_TRUE(waiter.Start([&] { result = event.Wait(kTicksPerSecond); }));
        ASSERT_TRUE(WaitUntil([&] { return clock.BlockedWaits() == 1; }));
    }
    ASSERT_TRUE(waiter.Join());
    EXPECT_FALSE(result);
    EXPECT_THROW(
        {
            VirtualClock a;
            VirtualClock b;
        },
        std::logic_error);
}

TEST(VirtualClock, IdleThreadsCountsUntimedWaitsUntilTheyAreWoken) {
    VirtualClock clock(VirtualClock::Mode::kManual);
    Event event(Event::ResetMode::kManual);
    Thread waiter;
    ASSERT_TRUE(waiter.Start([&] { event.Wait(kInfinite); }));
    ASSERT_TRUE(WaitUntil([&] { return clock.IdleThreads() == 1; }));
    EXPECT_EQ(clock.BlockedWaits(), 0u);
    event.Set();
    // Woken but perhaps not yet running: no longer idle.
    EXPECT_EQ(clock.IdleThreads(), 0u);
    ASSERT_TRUE(waiter.Join());
}

TEST(WaitAny, ReportsFirstSignalledAndConsumesOnlyAutoReset) {
    Event manual(Event::ResetMode::kManual, true);
    Event automatic(Event::ResetMode::kAuto, true);
    EXPECT_EQ(WaitAny({&automatic, &manual}, 0), 0);
    EXPECT_EQ(WaitAny({&automatic, &manual}, 0), 1);
    EXPECT_EQ(WaitAny({&automatic, &manual}, 0), 1);
    manual.Reset();
    EXPECT_EQ(WaitAny({&automatic, &manual}, 0), kWaitTimeout);
    EXPECT_EQ(WaitAny({nullptr, &manual}, 0), kWaitTimeout);
    EXPECT_EQ(WaitAny(std::span<Waitable* const>(), 0), kWaitTimeout);
}

TEST(WaitAny, RealTimerAndEventNeverMissASet) {
    WaitableTimer timer(false);
    Event event(Event::ResetMode::kAuto);
    for (int i = 0; i < 500; ++i) {
        timer.SetRelative(kTicksPerSecond * 60);
        std::thread setter([&] { event.Set(); });
        EXPECT_EQ(WaitAny({&timer, &event}, kInfinite), 1);
        setter.join();
    }
    timer.SetRelative(kMs);
    EXPECT_EQ(WaitAny({&event, &timer}, kInfinite), 1);
}

TEST(Event, SetReleasesOneWaiterOrAllByResetMode) {
    for (auto mode : {Event::ResetMode::kAuto, Event::ResetMode::kManual}) {
        const bool automatic = mode == Event::ResetMode::kAuto;
        Event event(mode);
        std::atomic<int> woken{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i) threads.emplace_back([&] { woken += event.Wait() ? 1 : 0; });
        for (int i = 1; i <= (automatic ? 4 : 1); ++i) {
            event.Set();
            ASSERT_TRUE(WaitUntil([&] { return woken >= (automatic ? i : 4); }));
            EXPECT_EQ(woken, automatic ? i : 4);
        }
        for (auto& t : threads) t.join();
        EXPECT_EQ(event.IsSet(), !automatic);
    }
}

TEST(Event, PingPongBetweenManyThreads) {
    constexpr int kRounds = 2000;
    Event ping(Event::ResetMode::kAuto), pong(Event::ResetMode::kAuto);
    std::atomic<int> count{0};
    std::vector<std::thread> threads;
    // Two threads per side: each Set must hand over to exactly one of the other side.
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&] {
            for (int r = 0; r < kRounds; ++r) {
                ping.Wait();
                ++count;
                pong.Set();
            }
        });
        threads.emplace_back([&] {
            for (int r = 0; r < kRounds; ++r) {
                pong.Wait();
                ping.Set();
            }
        });
    }
    ping.Set();
    for (int i = 0; i < 2; ++i) threads[i * 2].join();
    pong.Set();  // the last ponger may be left waiting
    for (int i = 0; i < 2; ++i) threads[i * 2 + 1].join();
    EXPECT_EQ(count, 2 * kRounds);
}

}  // namespace
}  // namespace orvex::platform
