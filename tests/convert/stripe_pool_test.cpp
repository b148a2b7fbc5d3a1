#include "convert/stripe_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace orvex::convert {
namespace {

// Every task runs once and is done on return: its count is freed right after the call, so a
// late worker is a race or a use after free. Several callers share the pool or run alone.
TEST(StripePool, EveryTaskRunsOnceAndIsDoneOnReturn) {
    EXPECT_GE(StripeThreads(), 1);
    EXPECT_LE(StripeThreads(), 4);
    struct Case {
        int callers, count;
    };
    // The workers may also be stopped (as when the module may be unloaded) while calls run:
    // the calls finish as before and the next ones start the workers again.
    std::atomic<bool> stopping{true};
    std::thread stopper([&] {
        while (stopping) {
            StopStripeWorkers();
            std::this_thread::yield();
        }
    });
    for (const Case c : {Case{1, 1}, Case{1, 2}, Case{1, 7}, Case{3, 4}, Case{2, 64}}) {
        const auto caller = [count = c.count](int* failures) {
            for (int round = 0; round < 200; ++round) {
                auto runs = std::make_unique<int[]>(static_cast<std::size_t>(count));
                RunStripes(count, [&](int i) { ++runs[static_cast<std::size_t>(i)]; });
                for (int i = 0; i < count; ++i) *failures += runs[static_cast<std::size_t>(i)] != 1;
            }
        };
        std::vector<int> failures(static_cast<std::size_t>(c.callers), 0);
        std::vector<std::thread> threads;
        for (int t = 1; t < c.callers; ++t) threads.emplace_back(caller, &failures[t]);
        caller(&failures[0]);
        for (std::thread& t : threads) t.join();
        for (int f : failures) EXPECT_EQ(0, f) << c.callers << " callers, " << c.count;
    }
    stopping = false;
    stopper.join();
}

}  // namespace
}  // namespace orvex::convert
