// Plays frames to virtual DeckLink cards on the real clock for --seconds (default 60) per
// case and reports per output:
//   missed      hardware periods without a new frame, as the frame clock counts them, and
//   repeated    periods the card repeated a frame in (its own count), both while counting
//               (from two seconds in to the last put; target 0);
//   offset p50/p99  position of the hand-over in its period, ms (target 3 ± 1);
//   latency p50/max from ReceiverFramePut taking the frame to DisplayVideoFrameSync, in frame
//               periods ("input.buffers" 2; target p50 <= 2, max <= 3), and air p50/max to
//               the boundary the frame goes on air at;
//   cpu/frame   processor time per frame, ms: of the renderer (the whole process less the
//               host's thread), and of the queue's worker alone, with the renderer's share of
//               a period;
//   allocs/frame    heap allocations per frame in steady state: the renderer's (its threads
//               and ReceiverFramePut, apart) and the card's own (made inside the card's calls,
//               as a driver allocates inside its own);
//   audio offset min/max  where each frame's audio began against its first period on air,
//               sample frames, measured by the card from a marker in each frame's first sample
//               (target 0), and frames whose marker was not found.
// Cases: 1080p59.94 UYVY -> v210 with 16 channels of 24-bit audio, alone and with a busy thread
// per processor beside it; 2160p50 and 2160p59.94 UYVY -> v210; and four 1080p59.94 outputs
// with two 2160p50 ones, each on a card of its own, from one process. The cards only count
// the pictures they are shown (ORVEX_DECKLINK_PICTURES=count unless set otherwise): processor
// time is the renderer's own, with only the cards' bookkeeping of their calls in it.
// The single-output cases run again with the card built as the vendor's Linux library
// ("_linux_layout"), whose objects reach the renderer through the layout bridge.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/decklink/output_player.h"
#include "bench/support/counted_run.h"
#include "bench/support/timed_main.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"

namespace {

using orvex::bench::DeckLinkFigures;
using orvex::bench::DeckLinkPlayer;

double g_seconds = 60.0;
constexpr int kCards = 6;

using orvex::bench::kHd5994;
using orvex::bench::kUhd50;
using orvex::bench::kUhd5994;
using Output = orvex::bench::OutputFormat;

struct Environment {
    Environment() {
        const auto dir =
            std::filesystem::temp_directory_path() /
            ("orvex-decklink-bench-" + std::to_string(orvex::platform::CurrentProcessId()));
        std::filesystem::create_directories(dir);
        orvex::platform::SetEnvVar("ORVEX_REGISTRY_DIR", dir.string());
        std::ofstream rig(dir / "rig.xml");
        rig << "<rig>";
        for (int i = 0; i < kCards; ++i)
            rig << "<card model=\"Bench\" video-out=\"sdi\" modes=\"all\" "
                   "formats=\"2vuy,v210,BGRA\" flags=\"vanc,vitc,rp188\" audio-bits=\"16,32\" "
                   "audio-channels=\"2,8,16\"/>";
        rig << "</rig>";
        rig.close();
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_RIG", (dir / "rig.xml").string());
        if (!std::getenv("ORVEX_DECKLINK_PICTURES"))
            orvex::platform::SetEnvVar("ORVEX_DECKLINK_PICTURES", "count");
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_AUDIO_MARKERS", "1");
        ok = card.Open(OXDECKLINKSIM_PATH) && frames.Open(OXFRAME_PATH) &&
             orvex::bench::g_allocations.origin.Init(
                 std::filesystem::path(OXDECKLINKSIM_PATH).filename().c_str());
#ifdef OXDECKLINKSIM_LINUX_PATH
        // Only the Linux-layout cases need it: without it they alone are skipped.
        if (ok && linux_card.Open(OXDECKLINKSIM_LINUX_PATH))
            orvex::bench::g_allocations.origin.Init(
                std::filesystem::path(OXDECKLINKSIM_LINUX_PATH).filename().c_str());
#endif
    }
    // Makes the card of one layout the driver: registered, or named as the Linux library.
    bool Use(bool linux_layout) {
        const char* entry = linux_layout ? "DllUnregisterServer" : "DllRegisterServer";
        auto reg = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(card.Symbol(entry));
        if (!ok || !reg || reg() != S_OK) return false;
        stats = nullptr;
        if (!linux_layout) {
            orvex::platform::UnsetEnvVar("ORVEX_DECKLINK_LIBRARY");
            stats = reinterpret_cast<OxSimStatsFn>(card.Symbol(OX_SIM_STATS));
        }
#ifdef OXDECKLINKSIM_LINUX_PATH
        if (linux_layout &&
            orvex::platform::SetEnvVar("ORVEX_DECKLINK_LIBRARY", OXDECKLINKSIM_LINUX_PATH))
            stats = reinterpret_cast<OxSimStatsFn>(linux_card.Symbol(OX_SIM_STATS));
#endif
        if (!factory)
            CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                             reinterpret_cast<void**>(&factory));
        return stats && factory;
    }
    orvex::platform::DynamicLibrary card, linux_card, frames;
    OxSimStatsFn stats = nullptr;  // of the card in use
    CComPtr<IOXFactory> factory;
    bool ok = false;
};

// Plays `outputs`, output i on card i, each fed by a thread of its own.
void Play(benchmark::State& state, std::vector<Output> outputs, bool stressed, bool linux_layout) {
    static Environment env;
    if (!env.Use(linux_layout)) {
        state.SkipWithError("the virtual card or the frame library did not load");
        return;
    }
    std::vector<std::unique_ptr<DeckLinkPlayer>> players;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        players.push_back(std::make_unique<DeckLinkPlayer>());
        std::string error;
        if (!players.back()->Open(env.factory, static_cast<int>(i),
                                  orvex::bench::Uyvy16ChannelProps(outputs[i]), &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    const auto run = orvex::bench::RunCounted(state, players, stressed, g_seconds, env.stats);
    const auto& figures = run.figures;
    const DeckLinkFigures& first = figures.front();
    const orvex::bench::AllocationCounts& allocations = orvex::bench::g_allocations;
    auto& c = state.counters;
    c["frames"] = static_cast<double>(first.frames);
    const double renderer_ms = run.PerFrame(run.renderer_cpu_ms);
    c["renderer_cpu_ms_per_frame"] = renderer_ms;
    c["renderer_share_of_period"] = renderer_ms / first.period_ms;
    c["allocs_per_frame_renderer"] = run.PerFrame(static_cast<double>(allocations.renderer));
    c["allocs_per_frame_put"] = run.PerFrame(static_cast<double>(allocations.put));
    c["allocs_per_frame_card"] = run.PerFrame(static_cast<double>(allocations.device));
    double missed = 0, repeated = 0, latency_p50 = 0, latency_max = 0, air_max = 0;
    for (const auto& f : figures) {
        missed += static_cast<double>(f.missed);
        repeated += static_cast<double>(f.repeated);
        latency_p50 = std::max(latency_p50, f.latency_p50);
        latency_max = std::max(latency_max, f.latency_max);
        air_max = std::max(air_max, f.air_max);
    }
    c["missed"] = missed;
    c["repeated"] = repeated;
    c["latency_p50_periods"] = latency_p50;  // the worst output's
    c["latency_max_periods"] = latency_max;
    c["air_max_periods"] = air_max;
    if (figures.size() == 1) {
        c["skipped"] = static_cast<double>(first.skipped);
        c["offset_p50_ms"] = first.offset_p50_ms;
        c["offset_p99_ms"] = first.offset_p99_ms;
        c["air_p50_periods"] = first.air_p50;
        c["worker_cpu_ms_per_frame"] = first.worker_cpu_ms;
        const OxSimCardStats& card = players.front()->CardAfter();
        c["audio_offset_min"] = static_cast<double>(card.marker_offset_min);
        c["audio_offset_max"] = static_cast<double>(card.marker_offset_max);
        c["audio_unmarked"] = static_cast<double>(card.unmarked_frames);
        c["audio_realigned"] = static_cast<double>(first.audio_realigned);
        return;
    }
    std::printf("\n%-8s %7s %7s %9s %12s %12s %14s %9s\n", "output", "frames", "missed", "repeated",
                "latency p50", "latency max", "air p50 / max", "cpu ms");
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const DeckLinkFigures& f = figures[i];
        std::printf("%-8s %7lld %7lld %9lld %12.2f %12.2f %6.2f / %5.2f %9.2f\n",
                    outputs[i].height > 1080 ? "2160p50" : "1080p59", f.frames,
                    static_cast<long long>(f.missed), static_cast<long long>(f.repeated),
                    f.latency_p50, f.latency_max, f.air_p50, f.air_max, f.worker_cpu_ms);
    }
    std::printf("(cpu ms: per frame on the output's queue worker)\n");
}

}  // namespace

BENCHMARK_CAPTURE(Play, hd1080p5994_uyvy_to_v210_16ch24, std::vector<Output>{kHd5994}, false, false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, hd1080p5994_uyvy_to_v210_16ch24_stressed, std::vector<Output>{kHd5994},
                  true, false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, uhd2160p50_uyvy_to_v210_16ch24, std::vector<Output>{kUhd50}, false, false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, uhd2160p5994_uyvy_to_v210_16ch24, std::vector<Output>{kUhd5994}, false,
                  false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, many_4x1080p5994_2x2160p50,
                  std::vector<Output>{kHd5994, kHd5994, kHd5994, kHd5994, kUhd50, kUhd50}, false,
                  false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
#ifdef OXDECKLINKSIM_LINUX_PATH
BENCHMARK_CAPTURE(Play, hd1080p5994_uyvy_to_v210_16ch24_linux_layout, std::vector<Output>{kHd5994},
                  false, true)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, uhd2160p50_uyvy_to_v210_16ch24_linux_layout, std::vector<Output>{kUhd50},
                  false, true)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
#endif

int main(int argc, char** argv) {
    orvex::bench::g_allocation_hook = &orvex::bench::CountAllocation;
    return orvex::bench::RunTimedBenchmarks(argc, argv, &g_seconds);
}
