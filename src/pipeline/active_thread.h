// A worker thread with a wake-up event and a stop request, restartable after it has ended.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "com/types.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace orvex::pipeline {

class CActiveThread {
public:
    using ThreadRoutine = DWORD (*)(void* param);

    CActiveThread() = default;
    ~CActiveThread();  // stops the thread, waiting without limit
    CActiveThread(const CActiveThread&) = delete;
    CActiveThread& operator=(const CActiveThread&) = delete;

    // Runs routine(param) on a new thread when none is alive, as one step: two producers
    // finding the worker gone start one thread between them. S_FALSE when one is alive;
    // E_INVALIDARG without param or routine; E_FAIL (and no thread) when the system refuses
    // one.
    HRESULT StartIfEnded(void* param, ThreadRoutine routine);
    // 0: no thread, or it has ended (it is then forgotten); 1: alive and running; 2: alive
    // with a stop requested.
    int IsRunning();
    // Wakes the thread if there is one.
    bool Signal();
    // Requests a stop and waits up to timeoutMs for the thread to end. S_FALSE when no thread
    // runs, S_OK when it ended, 0x800705B4 when it is still alive (threads are never killed).
    HRESULT Stop(DWORD timeoutMs);

    // For the thread routine: waits for the next wake-up of the calling worker.
    void WaitWake();

    // True from start until a stop is requested; read without a lock by the worker loop.
    std::atomic<bool> running{false};

private:
    struct Run {
        platform::Thread thread;
        platform::Event wakeEvent{platform::Event::ResetMode::kAuto};
        platform::Event ended{platform::Event::ResetMode::kManual};
    };

    // Caller holds lock_.
    int IsRunningLocked();
    HRESULT StartLocked(void* param, ThreadRoutine routine);
    std::shared_ptr<Run> CurrentRun();

    std::mutex lock_;
    std::shared_ptr<Run> run_;  // null when no thread
};

}  // namespace orvex::pipeline
