// The real clock and real-time waits on Windows: QueryPerformanceCounter, and a
// high-resolution waitable timer for the last stretch of a wait, where a condition variable
// (on the system tick) would overshoot.
#include <windows.h>

#include <chrono>
#include <limits>

#include "platform/clock.h"
#include "platform/wait_internal.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace orvex::platform {
namespace {

LONGLONG Frequency() {
    static const LONGLONG f = [] {
        LARGE_INTEGER q;
        ::QueryPerformanceFrequency(&q);
        return q.QuadPart;
    }();
    return f;
}

// Below this much left, a wait sleeps on the timer rather than on the condition variable.
constexpr Ticks kTimerStretch = 2 * kTicksPerMillisecond;

// One timer per thread, high resolution where the system has it (Windows 10 1803 on).
HANDLE ThreadTimer() {
    struct Timer {
        HANDLE h = nullptr;
        Timer() {
            h = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                         TIMER_ALL_ACCESS);
            if (!h) h = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        }
        ~Timer() {
            if (h) ::CloseHandle(h);
        }
    };
    thread_local Timer timer;
    return timer.h;
}

}  // namespace

Ticks RealNow() {
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    const LONGLONG f = Frequency();
    // Whole seconds and the rest apart, so that the product cannot overflow.
    return (c.QuadPart / f) * kTicksPerSecond + (c.QuadPart % f) * kTicksPerSecond / f;
}

namespace detail {

void RealBlockUntil(Waiter& w, Ticks wake) {
    std::unique_lock<std::mutex> lock(w.m);
    if (wake == kInfinite) {
        w.cv.wait(lock, [&] { return w.woken; });
        w.woken = false;
        return;
    }
    for (;;) {
        if (w.woken) break;
        const Ticks left = wake - RealNow();
        if (left <= 0) break;
        if (left > kTimerStretch) {
            w.cv.wait_for(lock, std::chrono::microseconds((left - kTimerStretch / 2) / 10));
            continue;
        }
        HANDLE timer = ThreadTimer();
        lock.unlock();
        LARGE_INTEGER due;
        due.QuadPart = -left;  // relative, in 100-ns units
        if (timer && ::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
            ::WaitForSingleObject(timer, INFINITE);
        } else {
            ::Sleep(1);
        }
        lock.lock();
        break;  // the caller checks its condition again
    }
    w.woken = false;
}

void WaitWhileEquals(std::atomic<std::uint32_t>& word, std::uint32_t value) {
    static_assert(sizeof(word) == sizeof(value));
    ::WaitOnAddress(&word, &value, sizeof value, INFINITE);
}

void WakeOneWaiter(std::atomic<std::uint32_t>& word) {
    ::WakeByAddressSingle(&word);
}

}  // namespace detail
}  // namespace orvex::platform
