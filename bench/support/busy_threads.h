// Other work beside the playout, as a playout machine always has: one busy thread per
// processor, each spinning over arithmetic and a buffer of its own, until the object goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace orvex::bench {

class BusyThreads {
public:
    explicit BusyThreads(unsigned count = std::thread::hardware_concurrency()) {
        for (unsigned i = 0; i < count; ++i)
            threads_.emplace_back([this, i] {
                std::vector<std::uint64_t> memory(1 << 18, i);  // 2 MB: beyond the L2 cache
                std::uint64_t x = i + 1;
                std::size_t at = 0;
                while (!stop_.load(std::memory_order_relaxed)) {
                    for (int k = 0; k < 4096; ++k) {
                        x = x * 6364136223846793005ull + 1442695040888963407ull;
                        at = (at + (x >> 40)) & (memory.size() - 1);
                        memory[at] += x;
                    }
                }
                sink_.fetch_add(memory[x & (memory.size() - 1)], std::memory_order_relaxed);
            });
    }
    ~BusyThreads() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }
    BusyThreads(const BusyThreads&) = delete;
    BusyThreads& operator=(const BusyThreads&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> sink_{0};
    std::vector<std::thread> threads_;
};

}  // namespace orvex::bench
