// The real clock and real-time waits on POSIX systems: the monotonic clock, and condition
// variable waits against it.
#include <chrono>
#include <limits>

#include "platform/clock.h"
#include "platform/wait_internal.h"

namespace orvex::platform {

Ticks RealNow() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count() / 100;
}

namespace detail {

void RealBlockUntil(Waiter& w, Ticks wake) {
    std::unique_lock<std::mutex> lock(w.m);
    if (wake == kInfinite || wake > std::numeric_limits<Ticks>::max() / 100) {
        w.cv.wait(lock, [&] { return w.woken; });
    } else {
        using namespace std::chrono;
        const steady_clock::time_point tp{
            duration_cast<steady_clock::duration>(nanoseconds(wake * 100))};
        w.cv.wait_until(lock, tp, [&] { return w.woken; });
    }
    w.woken = false;
}

void WaitWhileEquals(std::atomic<std::uint32_t>& word, std::uint32_t value) {
    word.wait(value, std::memory_order_relaxed);  // a futex on Linux
}

void WakeOneWaiter(std::atomic<std::uint32_t>& word) {
    word.notify_one();
}

}  // namespace detail
}  // namespace orvex::platform
