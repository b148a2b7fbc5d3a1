// Events and waitable timers with the semantics of the Windows kernel objects: auto-reset
// objects release one waiter and reset; manual-reset objects stay set until reset. All
// time-outs are relative, in 100-ns ticks of the platform clock (see clock.h), kInfinite
// for none.
#pragma once

#include <initializer_list>
#include <memory>
#include <span>

#include "platform/clock.h"

namespace orvex::platform {

class Waitable {
public:
    virtual ~Waitable();
    Waitable(const Waitable&) = delete;
    Waitable& operator=(const Waitable&) = delete;

    // True when the object was signalled within the time-out.
    bool Wait(Ticks timeout = kInfinite);

    struct State;
    State& state() { return *state_; }

protected:
    Waitable(bool manual_reset, bool initially_set);
    std::unique_ptr<State> state_;
};

constexpr int kWaitTimeout = -1;

// Waits until one of the objects is signalled; returns the index of the first signalled
// object in the list (consuming it when auto-reset), or kWaitTimeout.
int WaitAny(std::span<Waitable* const> objects, Ticks timeout);
inline int WaitAny(std::initializer_list<Waitable*> objects, Ticks timeout) {
    return WaitAny(std::span<Waitable* const>(objects.begin(), objects.size()), timeout);
}

class Event : public Waitable {
public:
    enum class ResetMode { kAuto, kManual };
    explicit Event(ResetMode mode, bool initially_set = false);
    void Set();
    void Reset();
    bool IsSet() const;  // a snapshot; does not consume an auto-reset event
};

// Signalled when its due time on the platform clock is reached.
class WaitableTimer : public Waitable {
public:
    explicit WaitableTimer(bool manual_reset);
    ~WaitableTimer() override;
    // Arms (or re-arms) the timer `due` ticks from now and resets it; due <= 0 signals at once.
    void SetRelative(Ticks due);
    void Cancel();  // disarms without changing the signalled state
};

}  // namespace orvex::platform
