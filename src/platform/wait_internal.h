// Shared by the clock and the waitable objects: one waiter per blocked call, woken by
// whatever may have satisfied it (an object being set, a timer re-armed, virtual time moving).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/clock.h"

namespace orvex::platform::detail {

struct Waiter {
    std::mutex m;
    std::condition_variable cv;
    bool woken = false;

    void Notify() {
        std::lock_guard<std::mutex> lock(m);
        woken = true;
        cv.notify_one();
    }
};

// Blocks until `w` is notified or the clock reaches `wake` (kInfinite: only a notification).
// Under an auto-advancing virtual clock a finite `wake` moves virtual time there at once.
// Callers re-check their condition afterwards; spurious returns are allowed.
void BlockUntil(Waiter& w, Ticks wake);

// The same on the real clock (RealNow): one platform's way of waiting precisely.
void RealBlockUntil(Waiter& w, Ticks wake);

// Sleeping on a 32-bit word, as a futex: WaitWhileEquals returns once the word may differ
// from `value` (spurious returns allowed); WakeOneWaiter wakes one thread sleeping on it.
// The system's own call on each platform (std::atomic::wait loses wake-ups where the C++
// library has no such call to build on).
void WaitWhileEquals(std::atomic<std::uint32_t>& word, std::uint32_t value);
void WakeOneWaiter(std::atomic<std::uint32_t>& word);

// Changes whenever a virtual clock is installed or removed; a wait whose deadline was taken
// on another clock gives up.
std::uint64_t ClockEpoch();

// now + delta without overflow; kInfinite for negative deltas or overflow.
Ticks DeadlineAfter(Ticks now, Ticks delta);

}  // namespace orvex::platform::detail
