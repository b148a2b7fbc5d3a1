// Plays frames to a virtual AJA board on the real clock for --seconds (default 60) per case
// and reports:
//   underruns   vertical interrupts that found the ring empty after the first frame, over the
//               whole run (the board repeated a frame; target 0);
//   dropped     frames the renderer dropped or the board refused ("aja.dropped" and
//               "aja.transfer_errors"; target 0);
//   cpu/frame   process processor time per frame, ms (the board's own copy of each picture
//               into its frame memory included);
//   allocs/frame    heap allocations per frame in steady state on the renderer's threads (the
//               queue worker and the playout thread) and on the host's thread inside
//               ReceiverFramePut, apart;
//   audio offset min/max  where each frame's audio began against its interrupt, sample frames,
//               measured by the board from a marker in each frame's first sample (target 0),
//               and frames whose marker was not found.
// Cases: 1080p59.94 and 2160p50, 8-bit 4:2:2, with 16 channels of 24-bit audio; 1080p59.94
// again with a busy thread per processor beside it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "aja/co_ox_renderer_aja.h"
#include "bench/support/busy_threads.h"
#include "bench/support/process_figures.h"
#include "bench/support/timed_main.h"
#include "com/object.h"
#include "com/ptr.h"
#include "formats/video_formats.h"
#include "orvex/ids.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "platform/text.h"
#include "sim/aja/sim_control.h"

namespace {
// Allocations on the host's thread inside ReceiverFramePut, and on every other thread (the
// renderer's worker and playout thread: nothing else runs while the case plays).
std::atomic<bool> g_counting{false};
std::atomic<long long> g_renderer_allocations{0}, g_put_allocations{0};
thread_local int t_host = 0;  // 0 another thread, 1 the host outside the call, 2 inside it
void Count() {
    if (!g_counting.load(std::memory_order_relaxed) || t_host == 1) return;
    (t_host == 2 ? g_put_allocations : g_renderer_allocations)
        .fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

namespace {

using orvex::platform::Ticks;

double g_seconds = 60.0;

struct Case {
    eMVideoFormat format;
    int width, height;
    double rate;
    bool stressed;
};

struct Environment {
    Environment() {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("orvex-aja-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        orvex::platform::SetEnvVar("ORVEX_REGISTRY_DIR", dir.string());
        std::ofstream(dir / "rig.xml")
            << "<rig><board model=\"Bench\" frame-stores=\"4\" sdi-out=\"4\" multi-format=\"true\" "
               "formats=\"hd,4k\" audio-systems=\"4\" audio-channels=\"16\" frame-buffers=\"64\" "
               "checksum=\"false\"/></rig>";
        orvex::platform::SetEnvVar("ORVEX_AJA_RIG", (dir / "rig.xml").string());
        orvex::platform::SetEnvVar("ORVEX_AJA_AUDIO_MARKERS", "1");
        ok = board.Open(OXAJASIM_PATH) && frames.Open(OXFRAME_PATH);
        auto reg =
            reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(board.Symbol("DllRegisterServer"));
        ok = ok && reg && reg() == S_OK;
        stats = reinterpret_cast<OxSimAjaStatsFn>(board.Symbol(OX_SIM_AJA_STATS));
        ok = ok && stats;
    }
    orvex::platform::DynamicLibrary board, frames;
    OxSimAjaStatsFn stats = nullptr;
    bool ok = false;
};

int StatOf(IOXProps* props, const char16_t* name) {
    CComBSTR value;
    if (props->PropsGet(CComBSTR(std::u16string(u"stat::") + name), &value) != S_OK || !value)
        return 0;
    return std::atoi(orvex::platform::ToUtf8(value.View()).c_str());
}

void Play(benchmark::State& state, Case c) {
    static Environment env;
    if (!env.ok) {
        state.SkipWithError("the virtual board or the frame library did not load");
        return;
    }
    t_host = 1;
    CComPtr<IOXFactory> factory;
    CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                     reinterpret_cast<void**>(&factory));
    CComObject<CCoOXRendererAJA>* renderer = nullptr;
    if (!factory || FAILED(CComObject<CCoOXRendererAJA>::CreateInstance(&renderer))) {
        state.SkipWithError("no renderer");
        return;
    }
    renderer->AddRef();
    CComPtr<IOXDevice> device;
    CComPtr<IOXReceiver> receiver;
    CComPtr<IOXProps> props;
    renderer->QueryInterface(IID_IOXDevice, reinterpret_cast<void**>(&device));
    renderer->QueryInterface(IID_IOXReceiver, reinterpret_cast<void**>(&receiver));
    renderer->QueryInterface(IID_IOXProps, reinterpret_cast<void**>(&props));
    props->PropsSet(CComBSTR(u"input.buffers"), CComBSTR(u"2"));

    // A ring of frames, deeper than the queue, the mailbox and the board's ring.
    M_AV_PROPS av{};
    av.vidProps.eVideoFormat = c.format;
    av.vidProps.fccType = eMFCC_UYVY;
    av.vidProps.nWidth = c.width;
    av.vidProps.nHeight = c.height;
    av.vidProps.nRowBytes = c.width * 2;
    av.vidProps.dblRate = c.rate;
    av.vidProps.nAspectX = 16;
    av.vidProps.nAspectY = 9;
    av.audProps = {16, 48000, 24, 0};
    std::vector<CComPtr<IOXFrame>> ring;
    for (int i = 0; i < 8; ++i) {
        CComPtr<IOXFrame> f;
        // The factory makes formats it does not list as custom; the frame then names its own.
        M_AV_PROPS make = av;
        make.vidProps.eVideoFormat = eMVF_Custom;
        if (FAILED(factory->OXFrameMake(&make, 0, &f)) || !f || FAILED(f->OXAVPropsSet(&av))) {
            state.SkipWithError("the frame factory refused the format");
            renderer->Release();
            return;
        }
        ring.push_back(f);
    }

    const Ticks start = orvex::platform::RealNow();
    const Ticks length = static_cast<Ticks>(g_seconds * 1e7);
    const long long warm = static_cast<long long>(c.rate * 2);  // two seconds
    long long n = 0;
    double cpu_at_warm = 0;
    OxSimAjaChannelStats at_warm{};
    std::unique_ptr<orvex::bench::BusyThreads> busy;
    if (c.stressed) busy = std::make_unique<orvex::bench::BusyThreads>();
    for (auto _ : state) {
        while (orvex::platform::RealNow() - start < length) {
            if (n == warm) {
                env.stats(0, 0, &at_warm);
                cpu_at_warm = orvex::bench::CpuSeconds();
                g_renderer_allocations.store(0);
                g_put_allocations.store(0);
                g_counting = true;
            }
            IOXFrame* f = ring[static_cast<std::size_t>(n % 8)];
            const auto s0 = static_cast<long long>(static_cast<double>(n) * 48000.0 / c.rate);
            const auto s1 = static_cast<long long>(static_cast<double>(n + 1) * 48000.0 / c.rate);
            f->OXAudioAlloc(&av.audProps, static_cast<int>(s1 - s0));
            // A marker in the first sample of channel 0, where the board looks for it.
            OX_FRAME_INFO info{};
            f->OXAllGet(&info);
            if (info.lpAudio && info.cbAudio >= 3)
                reinterpret_cast<BYTE*>(static_cast<std::uintptr_t>(info.lpAudio))[2] = 0x40;
            t_host = 2;
            receiver->ReceiverFramePut(f, -1, nullptr);
            t_host = 1;
            ++n;
        }
    }
    g_counting = false;
    busy.reset();
    const long long renderer_allocations = g_renderer_allocations.load();
    const long long put_allocations = g_put_allocations.load();
    const double cpu = orvex::bench::CpuSeconds() - cpu_at_warm;
    OxSimAjaChannelStats end{};
    env.stats(0, 0, &end);
    const int dropped = StatOf(props, u"aja.dropped") + StatOf(props, u"aja.transfer_errors");
    device->DeviceClose();
    const long long counted = end.frames_played - at_warm.frames_played;
    device.Release();
    receiver.Release();
    props.Release();
    renderer->Release();

    state.counters["frames"] = static_cast<double>(n);
    state.counters["played"] = static_cast<double>(end.frames_played);
    state.counters["underruns"] = static_cast<double>(end.frames_dropped);
    state.counters["dropped"] = dropped;
    state.counters["cpu_ms_per_frame"] =
        counted > 0 ? cpu * 1000.0 / static_cast<double>(counted) : 0;
    state.counters["allocs_per_frame_renderer"] =
        counted > 0 ? static_cast<double>(renderer_allocations) / static_cast<double>(counted) : 0;
    state.counters["allocs_per_frame_put"] =
        counted > 0 ? static_cast<double>(put_allocations) / static_cast<double>(counted) : 0;
    state.counters["audio_offset_min"] = static_cast<double>(end.marker_offset_min);
    state.counters["audio_offset_max"] = static_cast<double>(end.marker_offset_max);
    state.counters["audio_unmarked"] = static_cast<double>(end.unmarked_frames);
}

}  // namespace

BENCHMARK_CAPTURE(Play, hd1080p5994_uyvy_16ch24,
                  Case{eMVF_HD1080_5994p, 1920, 1080, 60000.0 / 1001, false})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, hd1080p5994_uyvy_16ch24_stressed,
                  Case{eMVF_HD1080_5994p, 1920, 1080, 60000.0 / 1001, true})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, uhd2160p50_uyvy_16ch24, Case{eMVF_4K_UHD_50p, 3840, 2160, 50.0, false})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

int main(int argc, char** argv) {
    orvex::bench::g_allocation_hook = &Count;
    return orvex::bench::RunTimedBenchmarks(argc, argv, &g_seconds);
}
