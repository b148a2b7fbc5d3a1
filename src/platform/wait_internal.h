// Shared by the clock and the waitable objects: one waiter per blocked call, woken by
// whatever may have satisfied it (an object being set, a timer re-armed, virtual time moving).
#pragma once

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

// Changes whenever a virtual clock is installed or removed; a wait whose deadline was taken
// on another clock gives up.
std::uint64_t ClockEpoch();

// now + delta without overflow; kInfinite for negative deltas or overflow.
Ticks DeadlineAfter(Ticks now, Ticks delta);

}  // namespace orvex::platform::detail
