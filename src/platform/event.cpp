#include "platform/event.h"

#include <algorithm>
#include <vector>

#include "platform/wait_internal.h"

namespace orvex::platform {

struct Waitable::State {
    std::mutex m;
    bool manual_reset = false;
    bool set = false;
    // Timers only: fires lazily, when a waiter or IsSet observes that its due time passed.
    bool armed = false;
    Ticks due = 0;
    std::vector<detail::Waiter*> waiters;

    // Caller holds m.
    void NotifyWaiters() {
        for (detail::Waiter* w : waiters) w->Notify();
    }
    // Caller holds m. Turns a due timer into a signalled one.
    void Fire(Ticks now) {
        if (armed && now >= due) {
            armed = false;
            set = true;
        }
    }
};

Waitable::Waitable(bool manual_reset, bool initially_set) : state_(std::make_unique<State>()) {
    // Room for the waiters an object usually has at once, so that a wait on a frame path
    // takes no memory.
    state_->waiters.reserve(4);
    state_->manual_reset = manual_reset;
    state_->set = initially_set;
}

Waitable::~Waitable() = default;

bool Waitable::Wait(Ticks timeout) {
    Waitable* self = this;
    return WaitAny(std::span<Waitable* const>(&self, 1), timeout) == 0;
}

int WaitAny(std::span<Waitable* const> objects, Ticks timeout) {
    const std::uint64_t epoch = detail::ClockEpoch();
    const Ticks deadline = detail::DeadlineAfter(Now(), timeout);
    detail::Waiter waiter;
    bool registered = false;      // with every object (after the first pass)
    bool any_registered = false;  // with some: the first pass may stop half-way
    int result = kWaitTimeout;

    auto unregister = [&] {
        if (!any_registered) return;
        for (Waitable* object : objects) {
            if (object == nullptr) continue;
            Waitable::State& s = object->state();
            std::lock_guard<std::mutex> lock(s.m);
            auto it = std::find(s.waiters.begin(), s.waiters.end(), &waiter);
            if (it != s.waiters.end()) s.waiters.erase(it);
        }
    };

    for (;;) {
        const Ticks now = Now();
        Ticks wake = deadline;
        // Each object is checked and (first time round) registered under its own lock, so a
        // Set that comes after the check always finds this waiter and wakes it.
        for (std::size_t i = 0; i < objects.size() && result == kWaitTimeout; ++i) {
            if (objects[i] == nullptr) continue;
            Waitable::State& s = objects[i]->state();
            std::lock_guard<std::mutex> lock(s.m);
            s.Fire(now);
            if (s.set) {
                if (!s.manual_reset) s.set = false;
                result = static_cast<int>(i);
                break;
            }
            if (!registered) {
                s.waiters.push_back(&waiter);
                any_registered = true;
            }
            if (s.armed && (wake == kInfinite || s.due < wake)) wake = s.due;
        }
        if (result != kWaitTimeout) break;
        registered = true;
        if (deadline != kInfinite && (now >= deadline || detail::ClockEpoch() != epoch)) break;
        detail::BlockUntil(waiter, wake);
    }
    unregister();
    return result;
}

Event::Event(ResetMode mode, bool initially_set)
    : Waitable(mode == ResetMode::kManual, initially_set) {}

void Event::Set() {
    std::lock_guard<std::mutex> lock(state_->m);
    if (state_->set) return;
    state_->set = true;
    state_->NotifyWaiters();
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(state_->m);
    state_->set = false;
}

bool Event::IsSet() const {
    std::lock_guard<std::mutex> lock(state_->m);
    return state_->set;
}

WaitableTimer::WaitableTimer(bool manual_reset) : Waitable(manual_reset, false) {}

WaitableTimer::~WaitableTimer() = default;

void WaitableTimer::SetRelative(Ticks due) {
    const Ticks now = Now();
    std::lock_guard<std::mutex> lock(state_->m);
    state_->set = due <= 0;
    state_->armed = due > 0;
    if (due > 0) {
        const Ticks when = detail::DeadlineAfter(now, due);
        state_->armed = when != kInfinite;  // beyond the clock's range: never fires
        state_->due = when;
    }
    // Waiters recompute their wake-up time (or take the signal).
    state_->NotifyWaiters();
}

void WaitableTimer::Cancel() {
    std::lock_guard<std::mutex> lock(state_->m);
    state_->armed = false;
}

}  // namespace orvex::platform
