#include "pipeline/active_thread.h"

namespace orvex::pipeline {
namespace {

// The routine's run, so that WaitWake finds its own event even after a restart replaced the
// object's current one.
thread_local void* t_current_run = nullptr;

}  // namespace

CActiveThread::~CActiveThread() {
    Stop(0xFFFFFFFFu);
}

HRESULT CActiveThread::StartIfEnded(void* param, ThreadRoutine routine) {
    if (!param || !routine) return E_INVALIDARG;
    std::lock_guard lock(lock_);
    if (IsRunningLocked() != 0) return S_FALSE;
    return StartLocked(param, routine);
}

HRESULT CActiveThread::StartLocked(void* param, ThreadRoutine routine) {
    std::shared_ptr<Run> run;
    try {
        run = std::make_shared<Run>();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    Run* raw = run.get();
    // The thread keeps only a raw pointer: the run outlives it, because it is dropped only
    // once `ended` is seen, after the routine has returned.
    bool started = raw->thread.Start(
        [raw, param, routine] {
            t_current_run = raw;
            routine(param);
            t_current_run = nullptr;
            raw->ended.Set();
        },
        true);
    if (!started) return E_FAIL;
    run_ = std::move(run);
    running.store(true, std::memory_order_release);
    raw->thread.Resume();
    return S_OK;
}

int CActiveThread::IsRunningLocked() {
    if (!run_) return 0;
    if (run_->ended.IsSet()) {
        run_->thread.Join();  // the routine has returned; this only reaps the thread
        run_.reset();
        running.store(false, std::memory_order_release);
        return 0;
    }
    return running.load(std::memory_order_acquire) ? 1 : 2;
}

int CActiveThread::IsRunning() {
    std::lock_guard lock(lock_);
    return IsRunningLocked();
}

bool CActiveThread::Signal() {
    std::lock_guard lock(lock_);
    if (!run_) return false;
    run_->wakeEvent.Set();
    return true;
}

std::shared_ptr<CActiveThread::Run> CActiveThread::CurrentRun() {
    std::lock_guard lock(lock_);
    return run_;
}

HRESULT CActiveThread::Stop(DWORD timeoutMs) {
    running.store(false, std::memory_order_release);
    std::shared_ptr<Run> run = CurrentRun();
    if (!run) return S_FALSE;
    run->wakeEvent.Set();
    // A worker stopping itself cannot wait for its own end; it ends when its routine returns.
    if (t_current_run == run.get()) return E_TIMEOUT;
    const platform::Ticks timeout =
        timeoutMs == 0xFFFFFFFFu
            ? platform::kInfinite
            : static_cast<platform::Ticks>(timeoutMs) * platform::kTicksPerMillisecond;
    // Waited for outside the lock: the worker takes it to signal itself.
    if (!run->ended.Wait(timeout)) return E_TIMEOUT;
    std::lock_guard lock(lock_);
    if (run_ == run) IsRunningLocked();
    return S_OK;
}

void CActiveThread::WaitWake() {
    auto* run = static_cast<Run*>(t_current_run);
    if (run) run->wakeEvent.Wait();
}

}  // namespace orvex::pipeline
