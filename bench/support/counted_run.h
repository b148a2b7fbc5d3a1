// What the output benchmarks share: counting a run's heap allocations by whom they are (the
// renderer on its own threads, the host inside ReceiverFramePut, the device library's own),
// a frame description of 8-bit 4:2:2 pictures with 16 channels of 24-bit audio, and one timed
// run of several players at once, counted from two seconds in. Include it in the one source
// file of a benchmark program that includes process_figures.h.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/support/allocation_origin.h"
#include "bench/support/busy_threads.h"
#include "bench/support/playout.h"
#include "bench/support/process_figures.h"
#include "orvex/types.h"
#include "platform/thread.h"

namespace orvex::bench {

// Allocations while counting. `origin` is set up with the device's libraries before the first
// run; CountAllocation is the program's allocation hook.
struct AllocationCounts {
    AllocationOrigin origin;
    std::atomic<bool> counting{false};
    std::atomic<long long> renderer{0}, put{0}, device{0};
};
inline AllocationCounts g_allocations;

inline void CountAllocation() {
    static thread_local bool in_hook = false;
    AllocationCounts& a = g_allocations;
    if (!a.counting.load(std::memory_order_relaxed) || t_host_role == HostRole::kOutside || in_hook)
        return;
    in_hook = true;  // the stack walk may allocate itself
    if (a.origin.FromLibrary())
        a.device.fetch_add(1, std::memory_order_relaxed);
    else if (t_host_role == HostRole::kInside)
        a.put.fetch_add(1, std::memory_order_relaxed);
    else
        a.renderer.fetch_add(1, std::memory_order_relaxed);
    in_hook = false;
}

// An output's pictures: UYVY at one of the benchmarks' formats.
struct OutputFormat {
    eMVideoFormat format;
    int width, height;
    double rate;
};
constexpr OutputFormat kHd5994{eMVF_HD1080_5994p, 1920, 1080, 60000.0 / 1001};
constexpr OutputFormat kUhd50{eMVF_4K_UHD_50p, 3840, 2160, 50.0};
constexpr OutputFormat kUhd5994{eMVF_4K_UHD_5994p, 3840, 2160, 60000.0 / 1001};

// Those pictures with 16 channels of 24-bit audio at 48 kHz.
inline M_AV_PROPS Uyvy16ChannelProps(const OutputFormat& o) {
    M_AV_PROPS av{};
    av.vidProps.eVideoFormat = o.format;
    av.vidProps.fccType = eMFCC_UYVY;
    av.vidProps.nWidth = o.width;
    av.vidProps.nHeight = o.height;
    av.vidProps.nRowBytes = o.width * 2;  // two bytes a pixel
    av.vidProps.dblRate = o.rate;
    av.vidProps.nAspectX = 16;
    av.vidProps.nAspectY = 9;
    av.audProps = {16, 48000, 24, 0};
    return av;
}

// A run's totals over every player.
template <class Figures>
struct CountedRun {
    std::vector<Figures> figures;  // one per player, in order
    long long counted = 0;         // frames while counting, over all players
    double renderer_cpu_ms = 0;    // the process's processor time less hosts' and busy threads'
    double PerFrame(double total) const {
        return total / static_cast<double>(std::max(1LL, counted));
    }
};

// Feeds every player on a thread of its own for `seconds` (with `busy` threads beside them
// when `stressed`), counting from two seconds in, when every output runs steadily; then
// closes and finishes them. Players have Feed(seconds, stats), Close(stats) and Finish(),
// whose figures give `counted` and `host_cpu_ms`.
template <class Player, class Stats>
auto RunCounted(benchmark::State& state, std::vector<std::unique_ptr<Player>>& players,
                bool stressed, double seconds, Stats stats) {
    AllocationCounts& a = g_allocations;
    std::unique_ptr<BusyThreads> busy;
    if (stressed) busy = std::make_unique<BusyThreads>();
    double cpu = 0;
    for (auto _ : state) {
        std::thread starter([&] {
            platform::SleepFor(2 * platform::kTicksPerSecond);
            a.renderer = a.put = a.device = 0;
            cpu = CpuSeconds() - (busy ? busy->CpuSeconds() : 0);
            a.counting = true;
        });
        std::vector<std::thread> hosts;
        for (auto& p : players)
            hosts.emplace_back([&, player = p.get()] { player->Feed(seconds, stats); });
        for (auto& h : hosts) h.join();
        starter.join();
    }
    a.counting = false;
    // The renderer's: the busy threads' time is not.
    cpu = CpuSeconds() - (busy ? busy->CpuSeconds() : 0) - cpu;
    busy.reset();
    for (auto& p : players) p->Close(stats);

    CountedRun<decltype(players.front()->Finish())> run;
    double host_cpu = 0;
    for (auto& p : players) run.figures.push_back(p->Finish());
    for (const auto& f : run.figures) {
        run.counted += f.counted;
        host_cpu += f.host_cpu_ms * static_cast<double>(f.counted) / 1000.0;
    }
    run.renderer_cpu_ms = (cpu - host_cpu) * 1000.0;
    return run;
}

}  // namespace orvex::bench
