#include <windows.h>

#include <process.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/event.h"
#include "platform/thread.h"

namespace orvex::platform {
namespace {

int WinPriority(ThreadPriority p) {
    switch (p) {
        case ThreadPriority::kIdle:
            return THREAD_PRIORITY_IDLE;
        case ThreadPriority::kLowest:
            return THREAD_PRIORITY_LOWEST;
        case ThreadPriority::kBelowNormal:
            return THREAD_PRIORITY_BELOW_NORMAL;
        case ThreadPriority::kNormal:
            return THREAD_PRIORITY_NORMAL;
        case ThreadPriority::kAboveNormal:
            return THREAD_PRIORITY_ABOVE_NORMAL;
        case ThreadPriority::kHighest:
            return THREAD_PRIORITY_HIGHEST;
        case ThreadPriority::kTimeCritical:
            return THREAD_PRIORITY_TIME_CRITICAL;
    }
    return THREAD_PRIORITY_NORMAL;
}

// A level the process may not take (the real-time class needs a privilege) falls back to the
// highest one it may.
bool Apply(HANDLE thread, ThreadPriority priority) {
    if (::SetThreadPriority(thread, WinPriority(priority))) return true;
    return priority > ThreadPriority::kHighest &&
           ::SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
}

}  // namespace

struct Thread::State {
    std::mutex m;
    bool resumed = false;
    bool cancelled = false;  // destroyed while still suspended: the body never runs
    HANDLE handle = nullptr;
    DWORD id = 0;
    std::function<void()> body;
    Event ended{Event::ResetMode::kManual};

    ~State() {
        if (handle) ::CloseHandle(handle);
    }
};

namespace {

unsigned __stdcall ThreadMain(void* arg) {
    std::unique_ptr<std::function<void()>> run(static_cast<std::function<void()>*>(arg));
    (*run)();
    return 0;
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() {
    if (!state_) return;
    bool resume = false;
    {
        std::lock_guard<std::mutex> lock(state_->m);
        if (!state_->resumed) {
            state_->cancelled = true;
            state_->resumed = true;
            resume = true;
        }
    }
    if (resume) ::ResumeThread(state_->handle);
    if (::GetCurrentThreadId() != state_->id) ::WaitForSingleObject(state_->handle, INFINITE);
}

bool Thread::Start(std::function<void()> body, bool suspended) {
    if (state_ || !body) return false;
    auto state = std::make_shared<State>();
    state->body = std::move(body);
    state->resumed = !suspended;
    auto* holder = new std::function<void()>([state] {
        bool run = false;
        {
            std::lock_guard<std::mutex> lock(state->m);
            run = !state->cancelled;
        }
        if (run) state->body();
        state->body = nullptr;  // release captures on this thread, before the end is seen
        state->ended.Set();
    });
    unsigned id = 0;
    // _beginthreadex rather than CreateThread: the C runtime's per-thread data is set up.
    const std::uintptr_t h =
        ::_beginthreadex(nullptr, 0, &ThreadMain, holder, CREATE_SUSPENDED, &id);
    if (h == 0) {
        delete holder;
        return false;
    }
    state->handle = reinterpret_cast<HANDLE>(h);
    state->id = id;
    state_ = std::move(state);
    if (!suspended) ::ResumeThread(state_->handle);
    return true;
}

void Thread::Resume() {
    if (!state_) return;
    {
        std::lock_guard<std::mutex> lock(state_->m);
        if (state_->resumed) return;
        state_->resumed = true;
    }
    ::ResumeThread(state_->handle);
}

bool Thread::Join(Ticks timeout) {
    if (!state_) return true;
    if (state_->id == ::GetCurrentThreadId()) return false;
    if (!state_->ended.Wait(timeout)) return false;
    ::WaitForSingleObject(state_->handle, INFINITE);
    state_.reset();
    return true;
}

bool Thread::Joinable() const {
    return state_ != nullptr;
}

bool Thread::SetPriority(ThreadPriority priority) {
    if (!state_) return false;
    if (state_->ended.IsSet()) return false;
    // A suspended thread takes it now and keeps it when it resumes.
    return Apply(state_->handle, priority);
}

std::uint64_t Thread::Id() const {
    return state_ ? state_->id : 0;
}

std::uint64_t Thread::CurrentId() {
    return ::GetCurrentThreadId();
}

bool Thread::SetCurrentPriority(ThreadPriority priority) {
    return Apply(::GetCurrentThread(), priority);
}

std::string Thread::CurrentSchedulingText() {
    const int p = ::GetThreadPriority(::GetCurrentThread());
    if (p >= THREAD_PRIORITY_TIME_CRITICAL) return "time critical";
    return "priority " + std::to_string(p);
}

ThreadPriority Thread::GetCurrentPriority() {
    const int p = ::GetThreadPriority(::GetCurrentThread());
    if (p <= THREAD_PRIORITY_IDLE) return ThreadPriority::kIdle;
    if (p >= THREAD_PRIORITY_TIME_CRITICAL) return ThreadPriority::kTimeCritical;
    static constexpr ThreadPriority kLevels[] = {
        ThreadPriority::kLowest, ThreadPriority::kBelowNormal, ThreadPriority::kNormal,
        ThreadPriority::kAboveNormal, ThreadPriority::kHighest};
    for (ThreadPriority level : kLevels)
        if (WinPriority(level) >= p) return level;
    return ThreadPriority::kHighest;
}

void Thread::SetCurrentName(const char* name) {
    if (name == nullptr) return;
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    // Present from Windows 10 1607; older systems go without a name.
    static const auto set = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (!set) return;
    wchar_t wide[64] = {};
    for (int i = 0; i < 63 && name[i] != '\0'; ++i) wide[i] = static_cast<unsigned char>(name[i]);
    set(::GetCurrentThread(), wide);
}

}  // namespace orvex::platform
