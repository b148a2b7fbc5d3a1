#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <vector>

#include "platform/wait_internal.h"

namespace orvex::platform {
namespace {

// Only one virtual clock may be installed at a time, so its state is a process global that
// outlives every VirtualClock object; Now() never touches freed memory.
struct VirtualGlobal {
    std::mutex m;
    std::atomic<bool> installed{false};
    std::atomic<Ticks> now{0};
    std::atomic<std::uint64_t> epoch{0};
    VirtualClock::Mode mode = VirtualClock::Mode::kAutoAdvance;
    struct Sleeper {
        detail::Waiter* waiter;
        Ticks wake;
    };
    std::vector<Sleeper> sleepers;

    // Caller holds m.
    void AdvanceLocked(Ticks when) {
        if (when <= now.load(std::memory_order_relaxed)) return;
        now.store(when, std::memory_order_release);
        for (const Sleeper& s : sleepers) {
            if (s.wake != kInfinite && s.wake <= when) s.waiter->Notify();
        }
    }
};

VirtualGlobal& Virtual() {
    static VirtualGlobal* g = new VirtualGlobal;  // never destroyed: waits may run at exit
    return *g;
}

}  // namespace

struct VirtualClock::State {
    Mode mode;
};

Ticks Now() {
    VirtualGlobal& v = Virtual();
    if (v.installed.load(std::memory_order_acquire)) return v.now.load(std::memory_order_acquire);
    return RealNow();
}

void SleepUntil(Ticks deadline) {
    const std::uint64_t epoch = detail::ClockEpoch();
    detail::Waiter w;  // nobody notifies it: only time ends the sleep
    while (Now() < deadline && detail::ClockEpoch() == epoch) detail::BlockUntil(w, deadline);
}

void SleepFor(Ticks duration) {
    if (duration <= 0) return;
    const Ticks deadline = detail::DeadlineAfter(Now(), duration);
    if (deadline == kInfinite) {
        detail::Waiter w;
        for (;;) detail::BlockUntil(w, kInfinite);
    }
    SleepUntil(deadline);
}

VirtualClock::VirtualClock(Mode mode, Ticks start) : state_(std::make_unique<State>()) {
    state_->mode = mode;
    VirtualGlobal& v = Virtual();
    std::lock_guard<std::mutex> lock(v.m);
    if (v.installed.load()) throw std::logic_error("a virtual clock is already installed");
    v.mode = mode;
    v.now.store(start);
    v.epoch.fetch_add(1);
    v.installed.store(true, std::memory_order_release);
}

VirtualClock::~VirtualClock() {
    VirtualGlobal& v = Virtual();
    std::lock_guard<std::mutex> lock(v.m);
    v.installed.store(false, std::memory_order_release);
    v.epoch.fetch_add(1);
    // Waits measured on this clock end (as timed out); infinite waits go on for real.
    for (const auto& s : v.sleepers) s.waiter->Notify();
}

Ticks VirtualClock::Now() const {
    return Virtual().now.load(std::memory_order_acquire);
}

void VirtualClock::Advance(Ticks delta) {
    if (delta <= 0) return;
    VirtualGlobal& v = Virtual();
    std::lock_guard<std::mutex> lock(v.m);
    Ticks target = detail::DeadlineAfter(v.now.load(), delta);
    if (target == kInfinite) target = std::numeric_limits<Ticks>::max();
    v.AdvanceLocked(target);
}

void VirtualClock::AdvanceTo(Ticks when) {
    VirtualGlobal& v = Virtual();
    std::lock_guard<std::mutex> lock(v.m);
    v.AdvanceLocked(when);
}

std::size_t VirtualClock::BlockedWaits() const {
    VirtualGlobal& v = Virtual();
    std::lock_guard<std::mutex> lock(v.m);
    return static_cast<std::size_t>(
        std::count_if(v.sleepers.begin(), v.sleepers.end(),
                      [](const VirtualGlobal::Sleeper& s) { return s.wake != kInfinite; }));
}

std::size_t VirtualClock::IdleThreads() const {
    VirtualGlobal& v = Virtual();
    // Lock order: the clock's lock, then a waiter's (as when time wakes sleepers).
    std::lock_guard<std::mutex> lock(v.m);
    return static_cast<std::size_t>(
        std::count_if(v.sleepers.begin(), v.sleepers.end(), [](const VirtualGlobal::Sleeper& s) {
            std::lock_guard<std::mutex> waiter_lock(s.waiter->m);
            return !s.waiter->woken;
        }));
}

VirtualClock::Mode VirtualClock::mode() const {
    return state_->mode;
}

namespace detail {

std::uint64_t ClockEpoch() {
    return Virtual().epoch.load(std::memory_order_acquire);
}

Ticks DeadlineAfter(Ticks now, Ticks delta) {
    if (delta < 0) return kInfinite;
    if (now > std::numeric_limits<Ticks>::max() - delta) return kInfinite;
    return now + delta;
}

void BlockUntil(Waiter& w, Ticks wake) {
    VirtualGlobal& v = Virtual();
    if (v.installed.load(std::memory_order_acquire)) {
        std::unique_lock<std::mutex> clock_lock(v.m);
        if (v.installed.load()) {
            if (wake != kInfinite) {
                if (v.mode == VirtualClock::Mode::kAutoAdvance) {
                    v.AdvanceLocked(wake);
                    return;
                }
                if (v.now.load() >= wake) return;
            }
            // Registered under the clock's lock after the time check, so an Advance that
            // follows cannot be missed.
            v.sleepers.push_back({&w, wake});
            clock_lock.unlock();
            {
                std::unique_lock<std::mutex> lock(w.m);
                w.cv.wait(lock, [&] { return w.woken; });
            }
            clock_lock.lock();
            auto it = std::find_if(v.sleepers.begin(), v.sleepers.end(),
                                   [&](const VirtualGlobal::Sleeper& s) { return s.waiter == &w; });
            if (it != v.sleepers.end()) v.sleepers.erase(it);
            // Cleared only once out of the list, so IdleThreads never counts a woken thread.
            std::lock_guard<std::mutex> lock(w.m);
            w.woken = false;
            return;
        }
    }
    RealBlockUntil(w, wake);
}

}  // namespace detail
}  // namespace orvex::platform
