// Threads created suspended, with priorities. Raising a priority the process may not raise
// (no real-time rights on Linux) quietly keeps the best allowed priority;
// CurrentSchedulingText says what the thread got.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"

namespace orvex::platform {

enum class ThreadPriority {
    kIdle,
    kLowest,
    kBelowNormal,
    kNormal,
    kAboveNormal,
    kHighest,
    kTimeCritical
};

class Thread {
public:
    Thread();
    ~Thread();  // joins a thread that is still running
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts `body` on a new thread; with `suspended` it waits for Resume() before running.
    // False when a thread is already attached or the system refuses one.
    bool Start(std::function<void()> body, bool suspended = false);
    void Resume();
    // True once the thread has ended (then it is detached from this object).
    bool Join(Ticks timeout = kInfinite);
    bool Joinable() const;
    // Applies now or, for a suspended thread, when it resumes. False only when even the
    // fallback could not be applied.
    bool SetPriority(ThreadPriority priority);
    std::uint64_t Id() const;  // 0 when none

    static std::uint64_t CurrentId();
    static bool SetCurrentPriority(ThreadPriority priority);
    // The calling thread's priority as the system applied it (the nearest level).
    static ThreadPriority GetCurrentPriority();
    // The calling thread's scheduling in words, e.g. "real-time (FIFO 49)", or "time-sharing,
    // nice -5 (real-time not permitted)" when the last raise to kTimeCritical was refused.
    static std::string CurrentSchedulingText();
    static void SetCurrentName(const char* name);  // for debuggers; may be truncated

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace orvex::platform
