#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/event.h"

namespace orvex::platform {
namespace {

pid_t KernelThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

int NiceFor(ThreadPriority p) {
    switch (p) {
        case ThreadPriority::kIdle:
            return 19;
        case ThreadPriority::kLowest:
            return 10;
        case ThreadPriority::kBelowNormal:
            return 5;
        case ThreadPriority::kNormal:
            return 0;
        case ThreadPriority::kAboveNormal:
            return -5;
        case ThreadPriority::kHighest:
            return -10;
        case ThreadPriority::kTimeCritical:
            return -20;
    }
    return 0;
}

// Without CAP_SYS_NICE a thread may lower its nice value only down to 20 - RLIMIT_NICE; then
// it takes the best value allowed, and never ends lower than it was.
bool SetNiceWithFallback(pid_t tid, int nice_value) {
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice_value) == 0) return true;
    if (errno != EPERM && errno != EACCES) return false;
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno != 0) return false;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NICE, &limit) == 0) {
        const rlim_t allowed =
            limit.rlim_cur == RLIM_INFINITY ? 40 : std::min<rlim_t>(limit.rlim_cur, 40);
        const int best = std::max(nice_value, 20 - static_cast<int>(allowed));
        if (best < current) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), best);
    }
    return true;
}

// Whether the calling thread's last raise to real time was refused.
thread_local bool t_realtime_refused = false;

bool ApplyPriority(pthread_t handle, pid_t tid, ThreadPriority priority) {
    sched_param param{};
    if (priority == ThreadPriority::kTimeCritical) {
        param.sched_priority =
            std::max(sched_get_priority_min(SCHED_FIFO), sched_get_priority_max(SCHED_FIFO) / 2);
        const int err = ::pthread_setschedparam(handle, SCHED_FIFO, &param);
        if (::pthread_equal(handle, ::pthread_self())) t_realtime_refused = err != 0;
        if (err == 0) return true;
    }
    // Back to the time-sharing policy first (a no-op unless a real-time policy was set).
    param.sched_priority = 0;
    int policy = SCHED_OTHER;
    sched_param current{};
    if (::pthread_getschedparam(handle, &policy, &current) == 0) {
        const int wanted = priority == ThreadPriority::kIdle ? SCHED_IDLE : SCHED_OTHER;
        if (policy != wanted) ::pthread_setschedparam(handle, wanted, &param);
    }
    return SetNiceWithFallback(tid, NiceFor(priority));
}

}  // namespace

struct Thread::State {
    std::mutex m;
    std::condition_variable cv;
    bool started = false;  // the new thread has published its ids
    bool resumed = false;
    bool cancelled = false;  // destroyed while still suspended: the body never runs
    std::optional<ThreadPriority> pending;
    pid_t tid = 0;
    pthread_t handle{};
    std::function<void()> body;
    Event ended{Event::ResetMode::kManual};
    std::thread thread;
};

Thread::Thread() = default;

Thread::~Thread() {
    if (!state_) return;
    {
        std::lock_guard<std::mutex> lock(state_->m);
        if (!state_->resumed) {
            state_->cancelled = true;
            state_->resumed = true;
            state_->cv.notify_all();
        }
    }
    if (state_->thread.joinable()) {
        if (state_->thread.get_id() == std::this_thread::get_id()) {
            state_->thread.detach();
        } else {
            state_->thread.join();
        }
    }
}

bool Thread::Start(std::function<void()> body, bool suspended) {
    if (state_ || !body) return false;
    auto state = std::make_shared<State>();
    state->body = std::move(body);
    state->resumed = !suspended;
    try {
        state->thread = std::thread([state] {
            std::unique_lock<std::mutex> lock(state->m);
            state->tid = KernelThreadId();
            state->handle = ::pthread_self();
            state->started = true;
            state->cv.notify_all();
            state->cv.wait(lock, [&] { return state->resumed; });
            const bool run = !state->cancelled;
            const auto pending = state->pending;
            lock.unlock();
            if (run) {
                if (pending) ApplyPriority(::pthread_self(), KernelThreadId(), *pending);
                state->body();
            }
            state->body = nullptr;  // release captures on this thread, before the end is seen
            state->ended.Set();
        });
    } catch (const std::system_error&) {
        return false;
    }
    std::unique_lock<std::mutex> lock(state->m);
    state->cv.wait(lock, [&] { return state->started; });
    lock.unlock();
    state_ = std::move(state);
    return true;
}

void Thread::Resume() {
    if (!state_) return;
    std::lock_guard<std::mutex> lock(state_->m);
    state_->resumed = true;
    state_->cv.notify_all();
}

bool Thread::Join(Ticks timeout) {
    if (!state_) return true;
    if (state_->thread.get_id() == std::this_thread::get_id()) return false;
    if (!state_->ended.Wait(timeout)) return false;
    state_->thread.join();
    state_.reset();
    return true;
}

bool Thread::Joinable() const {
    return state_ != nullptr;
}

bool Thread::SetPriority(ThreadPriority priority) {
    if (!state_) return false;
    std::lock_guard<std::mutex> lock(state_->m);
    if (!state_->resumed) {
        state_->pending = priority;
        return true;
    }
    if (state_->ended.IsSet()) return false;
    return ApplyPriority(state_->handle, state_->tid, priority);
}

std::uint64_t Thread::Id() const {
    return state_ ? static_cast<std::uint64_t>(state_->tid) : 0;
}

std::uint64_t Thread::CurrentId() {
    return static_cast<std::uint64_t>(KernelThreadId());
}

bool Thread::SetCurrentPriority(ThreadPriority priority) {
    return ApplyPriority(::pthread_self(), KernelThreadId(), priority);
}

std::string Thread::CurrentSchedulingText() {
    int policy = SCHED_OTHER;
    sched_param param{};
    if (::pthread_getschedparam(::pthread_self(), &policy, &param) == 0 &&
        (policy == SCHED_FIFO || policy == SCHED_RR))
        return std::string("real-time (") + (policy == SCHED_FIFO ? "FIFO " : "RR ") +
               std::to_string(param.sched_priority) + ")";
    errno = 0;
    const int nice_value = ::getpriority(PRIO_PROCESS, static_cast<id_t>(KernelThreadId()));
    std::string text = "time-sharing, nice " + std::to_string(errno == 0 ? nice_value : 0);
    if (t_realtime_refused) text += " (real-time not permitted)";
    return text;
}

ThreadPriority Thread::GetCurrentPriority() {
    int policy = SCHED_OTHER;
    sched_param param{};
    if (::pthread_getschedparam(::pthread_self(), &policy, &param) == 0) {
        if (policy == SCHED_FIFO || policy == SCHED_RR) return ThreadPriority::kTimeCritical;
        if (policy == SCHED_IDLE) return ThreadPriority::kIdle;
    }
    errno = 0;
    const int nice_value = ::getpriority(PRIO_PROCESS, static_cast<id_t>(KernelThreadId()));
    if (errno != 0) return ThreadPriority::kNormal;
    static constexpr ThreadPriority kLevels[] = {
        ThreadPriority::kTimeCritical, ThreadPriority::kHighest,     ThreadPriority::kAboveNormal,
        ThreadPriority::kNormal,       ThreadPriority::kBelowNormal, ThreadPriority::kLowest,
        ThreadPriority::kIdle};
    ThreadPriority nearest = ThreadPriority::kNormal;
    int distance = 100;
    for (ThreadPriority level : kLevels) {
        const int d = std::abs(NiceFor(level) - nice_value);
        if (d < distance) {
            distance = d;
            nearest = level;
        }
    }
    return nearest;
}

void Thread::SetCurrentName(const char* name) {
    if (name == nullptr) return;
    char shortened[16] = {};  // the kernel keeps 15 characters
    for (int i = 0; i < 15 && name[i] != '\0'; ++i) shortened[i] = name[i];
    ::pthread_setname_np(::pthread_self(), shortened);
}

}  // namespace orvex::platform
