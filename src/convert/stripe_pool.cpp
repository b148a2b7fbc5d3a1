#include "convert/stripe_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "platform/thread.h"
#include "platform/thread_pool.h"

namespace orvex::convert {
namespace {

constexpr int kMaxThreads = 4;

// Checks of the join's spin before the caller sleeps. By the join every task is claimed, so
// the workers are finishing their last one; with the short last stripes Convert cuts that
// is a few microseconds, where sleeping on the condition variable and being woken again
// cost about a tenth of a 1920x1080 call (0.3-0.5 ms). At about 40 ns a pause this bounds
// the spin to some tens of microseconds; a worker the machine does not serve in that time
// is waited for asleep.
constexpr int kJoinSpins = 1024;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

// One striped call. Lives on the caller's stack: the caller withdraws it from the pool and
// waits until `active` is 0 before it returns, so no worker can reach it afterwards.
struct Job {
    const std::function<void(int)>* task;
    int count;
    std::atomic<int> next{0};
    // Workers inside the job: raised under the pool's lock while the job is posted, lowered
    // under it too, and read without it by the caller's spin once the job is withdrawn.
    std::atomic<int> active{0};
};

void Work(Job& job) {
    for (int i = job.next.fetch_add(1, std::memory_order_relaxed); i < job.count;
         i = job.next.fetch_add(1, std::memory_order_relaxed)) {
        (*job.task)(i);
    }
}

class StripePool {
public:
    void Run(int count, const std::function<void(int)>& task) {
        Job job{&task, count};
        bool shared = false;
        {
            std::lock_guard<std::mutex> lock(m_);
            if (!stopping_ && job_ == nullptr && StartWorkers()) {
                job_ = &job;
                ++generation_;
                shared = true;
            }
        }
        if (shared) wake_.notify_all();
        Work(job);
        if (!shared) return;
        // Withdraw the job, then wait for the workers that joined it to leave it: no worker
        // joins after this, and those inside are finishing their last task. A short bounded
        // spin first, then asleep.
        {
            std::lock_guard<std::mutex> lock(m_);
            job_ = nullptr;
        }
        for (int i = 0; i < kJoinSpins; ++i) {
            if (job.active.load(std::memory_order_acquire) == 0) return;
            CpuRelax();
        }
        std::unique_lock<std::mutex> lock(m_);
        left_.wait(lock, [&] { return job.active.load(std::memory_order_relaxed) == 0; });
    }

    // The workers finish what they hold and are joined; unless `final`, the next call starts
    // them again. Lock order: shutdown_, then m_ (never held while joining).
    void Shutdown(bool final) {
        std::lock_guard<std::mutex> one_at_a_time(shutdown_);
        {
            std::lock_guard<std::mutex> lock(m_);
            if (stopping_) return;  // stopped for good
            stopping_ = true;
        }
        wake_.notify_all();
        // No worker is added while stopping_ is set, so the list is stable here.
        for (std::thread& t : threads_) t.join();
        threads_.clear();
        if (final) return;
        std::lock_guard<std::mutex> lock(m_);
        stopping_ = false;
        started_ = false;
    }

private:
    // Under m_. False when no worker could be started at all.
    bool StartWorkers() {
        if (started_) return !threads_.empty();
        started_ = true;
        const int wanted = StripeThreads() - 1;
        for (int i = 0; i < wanted; ++i) {
            try {
                threads_.emplace_back([this] { Serve(); });
            } catch (const std::system_error&) {
                break;  // the caller and the workers there are will do
            }
        }
        return !threads_.empty();
    }

    void Serve() {
        platform::Thread::SetCurrentName("orvex convert");
        std::uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            wake_.wait(lock, [&] { return stopping_ || (job_ != nullptr && generation_ != seen); });
            if (stopping_) return;
            seen = generation_;
            Job& job = *job_;
            job.active.fetch_add(1, std::memory_order_relaxed);
            lock.unlock();
            Work(job);
            lock.lock();
            // The job may be gone as soon as the count reaches 0: nothing of it is touched
            // after this line.
            if (job.active.fetch_sub(1, std::memory_order_release) == 1) left_.notify_all();
        }
    }

    std::mutex shutdown_;
    std::mutex m_;
    std::condition_variable wake_;  // a job was posted, or the pool stops
    std::condition_variable left_;  // a worker left a job
    Job* job_ = nullptr;
    std::uint64_t generation_ = 0;  // counts jobs, so a worker joins each at most once
    std::vector<std::thread> threads_;
    bool started_ = false;
    bool stopping_ = false;
};

StripePool& Pool() {
    // Never freed, so that a call made while the statics are torn down still finds a pool (a
    // stopped one, which leaves the work to the caller). The joiner's destructor runs with
    // the library's other statics and joins the workers.
    static StripePool* const pool = new StripePool;
    static const struct Joiner {
        ~Joiner() { pool->Shutdown(true); }
    } joiner;
    return *pool;
}

}  // namespace

int StripeThreads() {
    static const int threads = std::clamp(platform::ProcessorCount(), 1, kMaxThreads);
    return threads;
}

void RunStripes(int count, const std::function<void(int)>& task) {
    if (count <= 0) return;
    if (count == 1 || StripeThreads() == 1) {
        for (int i = 0; i < count; ++i) task(i);
        return;
    }
    Pool().Run(count, task);
}

void StopStripeWorkers() {
    Pool().Shutdown(false);
}

}  // namespace orvex::convert
