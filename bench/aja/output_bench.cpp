// Plays frames to virtual AJA boards on the real clock for --seconds (default 60) per case
// and reports per output:
//   underruns   vertical interrupts that found the ring empty while counting (the board
//               repeated a frame; target 0);
//   dropped     frames the renderer dropped or the board refused ("aja.dropped" and
//               "aja.transfer_errors"; target 0);
//   latency p50/max from ReceiverFramePut taking the frame to its transfer into the board's
//               ring, in frame periods ("input.buffers" 2, "driver.buffers" 3), and air
//               p50/max to the interrupt it goes on air at (after the frames ahead of it in
//               the ring);
//   cpu/frame   processor time per frame, ms: of the renderer (the whole process less the
//               host's thread), and of the output's queue worker and playout thread;
//   allocs/frame    heap allocations per frame in steady state: the renderer's (its threads
//               and ReceiverFramePut, apart) and the board library's own;
//   audio offset min/max  where each frame's audio began against its interrupt, sample frames,
//               measured by the board from a marker in each frame's first sample (target 0),
//               and frames whose marker was not found.
// Cases: 1080p59.94 and 2160p50, 8-bit 4:2:2, with 16 channels of 24-bit audio; 1080p59.94
// again with a busy thread per processor beside it; and four 1080p59.94 outputs on one board
// with two 2160p50 ones on another, from one process. The boards move pictures without the
// processor, as real ones do (they copy only when recording): processor time is the
// renderer's own.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/aja/output_player.h"
#include "bench/support/counted_run.h"
#include "bench/support/timed_main.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"

namespace {

using orvex::bench::AjaFigures;
using orvex::bench::AjaPlayer;

double g_seconds = 60.0;

struct Output {
    orvex::bench::OutputFormat pictures;
    int board, channel;  // device = board * 4 + channel
};
Output Hd(int channel) {
    return {orvex::bench::kHd5994, 0, channel};
}
Output Uhd(int channel) {
    return {orvex::bench::kUhd50, 1, channel};
}

struct Environment {
    Environment() {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("orvex-aja-bench-" + std::to_string(orvex::platform::CurrentProcessId()));
        std::filesystem::create_directories(dir);
        orvex::platform::SetEnvVar("ORVEX_REGISTRY_DIR", dir.string());
        std::ofstream rig(dir / "rig.xml");
        rig << "<rig>";
        for (int board = 0; board < 2; ++board)
            rig << "<board model=\"Bench\" frame-stores=\"4\" sdi-out=\"4\" multi-format=\"true\" "
                   "formats=\"hd,4k\" audio-systems=\"4\" audio-channels=\"16\" "
                   "frame-buffers=\"64\" checksum=\"false\"/>";
        rig << "</rig>";
        rig.close();
        orvex::platform::SetEnvVar("ORVEX_AJA_RIG", (dir / "rig.xml").string());
        orvex::platform::SetEnvVar("ORVEX_AJA_AUDIO_MARKERS", "1");
        ok = board.Open(OXAJASIM_PATH) && frames.Open(OXFRAME_PATH) &&
             orvex::bench::g_allocations.origin.Init(
                 std::filesystem::path(OXAJASIM_PATH).filename().c_str());
        auto reg =
            reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(board.Symbol("DllRegisterServer"));
        ok = ok && reg && reg() == S_OK;
        stats = reinterpret_cast<OxSimAjaStatsFn>(board.Symbol(OX_SIM_AJA_STATS));
        ok = ok && stats;
        CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                         reinterpret_cast<void**>(&factory));
        ok = ok && factory;
    }
    orvex::platform::DynamicLibrary board, frames;
    OxSimAjaStatsFn stats = nullptr;
    CComPtr<IOXFactory> factory;
    bool ok = false;
};

// Plays `outputs` at once, each fed by a thread of its own.
void Play(benchmark::State& state, std::vector<Output> outputs, bool stressed) {
    static Environment env;
    if (!env.ok) {
        state.SkipWithError("the virtual board or the frame library did not load");
        return;
    }
    std::vector<std::unique_ptr<AjaPlayer>> players;
    for (const Output& o : outputs) {
        players.push_back(std::make_unique<AjaPlayer>());
        std::string error;
        if (!players.back()->Open(env.factory, o.board * 4 + o.channel, o.board, o.channel,
                                  orvex::bench::Uyvy16ChannelProps(o.pictures), &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    const auto run = orvex::bench::RunCounted(state, players, stressed, g_seconds, env.stats);
    const auto& figures = run.figures;
    const AjaFigures& first = figures.front();
    const orvex::bench::AllocationCounts& allocations = orvex::bench::g_allocations;
    auto& c = state.counters;
    c["frames"] = static_cast<double>(first.frames);
    c["renderer_cpu_ms_per_frame"] = run.PerFrame(run.renderer_cpu_ms);
    c["allocs_per_frame_renderer"] = run.PerFrame(static_cast<double>(allocations.renderer));
    c["allocs_per_frame_put"] = run.PerFrame(static_cast<double>(allocations.put));
    c["allocs_per_frame_board"] = run.PerFrame(static_cast<double>(allocations.device));
    double underruns = 0, dropped = 0, latency_p50 = 0, latency_max = 0, air_max = 0;
    for (const auto& f : figures) {
        underruns += static_cast<double>(f.underruns);
        dropped += static_cast<double>(f.dropped);
        latency_p50 = std::max(latency_p50, f.latency_p50);
        latency_max = std::max(latency_max, f.latency_max);
        air_max = std::max(air_max, f.air_max);
    }
    c["underruns"] = underruns;
    c["dropped"] = dropped;
    c["latency_p50_periods"] = latency_p50;  // the worst output's
    c["latency_max_periods"] = latency_max;
    c["air_max_periods"] = air_max;
    if (figures.size() == 1) {
        c["played"] = static_cast<double>(first.played);
        c["air_p50_periods"] = first.air_p50;
        c["threads_cpu_ms_per_frame"] = first.threads_cpu_ms;
        c["audio_offset_min"] = static_cast<double>(first.channel.marker_offset_min);
        c["audio_offset_max"] = static_cast<double>(first.channel.marker_offset_max);
        c["audio_unmarked"] = static_cast<double>(first.channel.unmarked_frames);
        return;
    }
    std::printf("\n%-8s %7s %9s %8s %12s %12s %14s %9s\n", "output", "frames", "underruns",
                "dropped", "latency p50", "latency max", "air p50 / max", "cpu ms");
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const AjaFigures& f = figures[i];
        std::printf("%-8s %7lld %9lld %8lld %12.2f %12.2f %6.2f / %5.2f %9.2f\n",
                    outputs[i].pictures.height > 1080 ? "2160p50" : "1080p59", f.frames,
                    static_cast<long long>(f.underruns), static_cast<long long>(f.dropped),
                    f.latency_p50, f.latency_max, f.air_p50, f.air_max, f.threads_cpu_ms);
    }
    std::printf("(cpu ms: per frame on the output's queue worker and playout thread)\n");
}

}  // namespace

BENCHMARK_CAPTURE(Play, hd1080p5994_uyvy_16ch24, std::vector<Output>{Hd(0)}, false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, hd1080p5994_uyvy_16ch24_stressed, std::vector<Output>{Hd(0)}, true)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, uhd2160p50_uyvy_16ch24, std::vector<Output>{Uhd(0)}, false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, many_4x1080p5994_2x2160p50,
                  std::vector<Output>{Hd(0), Hd(1), Hd(2), Hd(3), Uhd(0), Uhd(1)}, false)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

int main(int argc, char** argv) {
    orvex::bench::g_allocation_hook = &orvex::bench::CountAllocation;
    return orvex::bench::RunTimedBenchmarks(argc, argv, &g_seconds);
}
