// The one clock of the module: monotonic 100-ns ticks. Frame pacing, precise waits, timers
// and the virtual devices all read it.
//
// Tests may install a virtual clock. Under a virtual clock every timed wait of this folder
// (Event, WaitableTimer, WaitAny, SleepFor/SleepUntil, Thread::Join with a time-out) takes
// no real time:
//   - kAutoAdvance: a wait that is not satisfied at once moves virtual time forward to its
//     deadline and returns as timed out (unless it became satisfied meanwhile). Deterministic
//     for single-threaded timing logic.
//   - kManual: time moves only by VirtualClock::Advance/AdvanceTo; a timed wait blocks until
//     it is satisfied or another thread advances time past its deadline.
// Infinite waits block for real in both modes, until satisfied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace orvex::platform {

using Ticks = std::int64_t;  // 100 ns
constexpr Ticks kTicksPerSecond = 10'000'000;
constexpr Ticks kTicksPerMillisecond = 10'000;
constexpr Ticks kTicksPerMicrosecond = 10;
constexpr Ticks kInfinite = -1;  // a time-out that never expires

// Current time of the process clock (the installed virtual clock, else the real one).
Ticks Now();
// Real monotonic time, whatever clock is installed (for benchmarks and diagnostics).
Ticks RealNow();

void SleepFor(Ticks duration);
void SleepUntil(Ticks deadline);

class VirtualClock {
public:
    enum class Mode { kAutoAdvance, kManual };
    // Installs itself as the process clock; the destructor restores the real clock. Only one
    // virtual clock may be installed at a time.
    explicit VirtualClock(Mode mode = Mode::kAutoAdvance, Ticks start = 0);
    ~VirtualClock();
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    Ticks Now() const;
    void Advance(Ticks delta);   // wakes timed waits whose deadline passed
    void AdvanceTo(Ticks when);  // no effect when `when` is not later than Now()
    Mode mode() const;
    // Timed waits now blocked on virtual time (manual mode). Lets a test advance time only
    // once the thread under test is known to wait.
    std::size_t BlockedWaits() const;
    // Threads blocked in any wait of this folder, timed or not, that nothing has woken yet.
    // When every thread of the code under test is counted here, nothing can happen until
    // time moves or the test acts: a test steps time exactly once per such quiet point.
    std::size_t IdleThreads() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace orvex::platform
