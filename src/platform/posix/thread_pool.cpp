#include "platform/thread_pool.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace orvex::platform {
namespace {

class WorkPool {
public:
    bool Queue(std::function<void()> work) {
        std::lock_guard<std::mutex> lock(m_);
        if (stopping_) return false;
        items_.push_back(std::move(work));
        // Grow lazily: a new worker only when every existing one is busy.
        if (idle_ == 0 && static_cast<int>(threads_.size()) < max_threads_) {
            try {
                threads_.emplace_back([this] { Run(); });
                ++live_;
            } catch (const std::system_error&) {
                if (threads_.empty()) {
                    items_.pop_back();
                    return false;
                }
            }
        }
        cv_.notify_one();
        return true;
    }

    // At exit: drop what has not started, let running items finish for a while. Workers
    // still busy after that are left behind with the pool (it is then never freed).
    bool Stop() {
        std::unique_lock<std::mutex> lock(m_);
        stopping_ = true;
        items_.clear();
        cv_.notify_all();
        const bool done =
            ended_.wait_for(lock, std::chrono::seconds(2), [&] { return live_ == 0; });
        lock.unlock();
        for (std::thread& t : threads_) {
            if (done) {
                t.join();
            } else {
                t.detach();
            }
        }
        return done;
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            ++idle_;
            cv_.wait(lock, [&] { return stopping_ || !items_.empty(); });
            --idle_;
            if (stopping_) break;
            std::function<void()> work = std::move(items_.front());
            items_.pop_front();
            lock.unlock();
            work();
            work = nullptr;
            lock.lock();
        }
        --live_;
        ended_.notify_all();
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::condition_variable ended_;
    std::deque<std::function<void()>> items_;
    std::vector<std::thread> threads_;
    int idle_ = 0;
    int live_ = 0;
    bool stopping_ = false;
    const int max_threads_ = std::max(2, ProcessorCount());
};

struct PoolHolder {
    std::mutex m;
    WorkPool* pool = nullptr;
    bool closed = false;
    ~PoolHolder() {
        WorkPool* p;
        {
            std::lock_guard<std::mutex> lock(m);
            closed = true;
            p = pool;
        }
        if (p != nullptr && p->Stop()) delete p;
    }
};

PoolHolder& Holder() {
    static PoolHolder holder;
    return holder;
}

}  // namespace

bool QueueWorkItem(std::function<void()> work) {
    if (!work) return false;
    PoolHolder& h = Holder();
    // Held while queueing so that exit cannot free the pool under a late caller.
    std::lock_guard<std::mutex> lock(h.m);
    if (h.closed) return false;
    if (h.pool == nullptr) h.pool = new WorkPool;
    return h.pool->Queue(std::move(work));
}

int ProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace orvex::platform
