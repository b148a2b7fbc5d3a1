// Plays frames to the virtual DeckLink card on the real clock for --seconds (default 60) per
// case and reports:
//   missed      hardware periods without a new frame, over the whole run (target 0);
//   offset p50/p99  position of the hand-over in its period, ms (target 3 ± 1);
//   cpu/frame   process processor time per frame, ms (the virtual card's own capture of
//               each picture included);
//   allocs/frame    heap allocations per frame in steady state, DisplayVideoFrameSync
//               excluded (that is the card taking its copy);
//   latency p50/max from ReceiverFramePut to DisplayVideoFrameSync, frame periods
//               ("input.buffers" 2; target <= 2);
//   repeated    periods the card repeated a frame in (its own count);
//   audio offset min/max  where each frame's audio began against its first period on air,
//               sample frames, measured by the card from a marker in each frame's first sample
//               (target 0), and frames whose marker was not found.
// Cases: 1080p59.94 UYVY -> v210 with 16 channels of 24-bit audio, alone and with a busy thread
// per processor beside it; 2160p50 UYVY -> v210. The card checksums each picture but keeps no
// copy (ORVEX_DECKLINK_PICTURES=checksum): the processor time is the renderer's and the
// checksum's.
// Each again with the card built as the vendor's Linux library ("_linux_layout"), whose
// objects reach the renderer through the layout bridge.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/busy_threads.h"
#include "bench/support/process_figures.h"
#include "bench/support/timed_main.h"
#include "com/object.h"
#include "com/ptr.h"
#include "decklink/co_ox_renderer_bmd.h"
#include "formats/video_formats.h"
#include "orvex/ids.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "sim/decklink/sim_control.h"

namespace {
// Allocations on the queue's worker (the renderer's frame path) and on the host's thread
// inside ReceiverFramePut, counted apart.
std::atomic<long long> g_worker_allocations{0}, g_put_allocations{0};
thread_local int t_counter = 0;  // 0 none, 1 worker, 2 put
void Count() {
    if (t_counter == 1) g_worker_allocations.fetch_add(1, std::memory_order_relaxed);
    if (t_counter == 2) g_put_allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

namespace {

using orvex::platform::Ticks;

double g_seconds = 60.0;

struct Case {
    int format;
    eMFCC fcc;
    int channels, bits;
    bool stressed;
    bool linux_layout = false;
};

struct Measure {
    std::vector<double> offsets_ms;            // hand-over position in the period
    std::vector<double> latency;               // in periods
    std::vector<std::atomic<Ticks>> put_time;  // by video id: the call
    std::vector<std::atomic<Ticks>> accepted;  // by video id: the call returned
    IDeckLinkOutput_v9_9* output = nullptr;
    Ticks period = 0;
    std::atomic<bool> counting{false};

    static void Note(void* self, const orvex::decklink::HandOver& h) {
        auto* m = static_cast<Measure*>(self);
        if (h.shown) {
            t_counter = m->counting ? 1 : 0;
            return;
        }
        // The card takes its copy of the picture in DisplayVideoFrameSync: not ours to count.
        t_counter = 0;
        BMDTimeValue hw = 0, in_frame = 0, tpf = 0;
        m->output->GetHardwareReferenceClock(orvex::platform::kTicksPerSecond, &hw, &in_frame,
                                             &tpf);
        m->period = tpf;
        if (!m->counting) return;
        m->offsets_ms.push_back(static_cast<double>(in_frame) / 10'000.0);
        const auto id = static_cast<std::size_t>(h.video_id);
        if (id < m->put_time.size()) {
            // From the moment the queue took the frame; a frame shown before the call returned
            // counts from the call.
            Ticks from = m->accepted[id].load();
            if (from == 0) from = m->put_time[id].load();
            if (from > 0)
                m->latency.push_back(static_cast<double>(orvex::platform::Now() - from) /
                                     static_cast<double>(tpf));
        }
    }
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

struct Environment {
    Environment() {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("orvex-decklink-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        orvex::platform::SetEnvVar("ORVEX_REGISTRY_DIR", dir.string());
        std::ofstream(dir / "rig.xml") << "<rig><card model=\"Bench\" video-out=\"sdi\" "
                                          "modes=\"all\" formats=\"2vuy,v210,BGRA\" "
                                          "flags=\"vanc,vitc,rp188\" audio-bits=\"16,32\" "
                                          "audio-channels=\"2,8,16\"/></rig>";
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_RIG", (dir / "rig.xml").string());
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_PICTURES", "checksum");
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_AUDIO_MARKERS", "1");
        ok = card.Open(OXDECKLINKSIM_PATH) && frames.Open(OXFRAME_PATH);
    }
    // Makes the card of one layout the driver: registered, or named as the Linux library.
    bool Use(bool linux_layout) {
        const char* entry = linux_layout ? "DllUnregisterServer" : "DllRegisterServer";
        auto reg = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(card.Symbol(entry));
        if (!ok || !reg || reg() != S_OK) return false;
        stats = reinterpret_cast<OxSimStatsFn>(card.Symbol(OX_SIM_STATS));
#ifdef OXDECKLINKSIM_LINUX_PATH
        if (linux_layout) {
            if (!linux_card.IsOpen() && !linux_card.Open(OXDECKLINKSIM_LINUX_PATH)) return false;
            stats = reinterpret_cast<OxSimStatsFn>(linux_card.Symbol(OX_SIM_STATS));
            return stats &&
                   orvex::platform::SetEnvVar("ORVEX_DECKLINK_LIBRARY", OXDECKLINKSIM_LINUX_PATH);
        }
#endif
        return !linux_layout && stats;
    }
    orvex::platform::DynamicLibrary card, linux_card, frames;
    OxSimStatsFn stats = nullptr;  // of the card in use
    bool ok = false;
};

void Play(benchmark::State& state, Case c) {
    static Environment env;
    if (!env.Use(c.linux_layout)) {
        state.SkipWithError("the virtual card or the frame library did not load");
        return;
    }
    CComPtr<IOXFactory> factory;
    CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                     reinterpret_cast<void**>(&factory));
    CComObject<CCoOXRendererBMD>* renderer = nullptr;
    if (!factory || FAILED(CComObject<CCoOXRendererBMD>::CreateInstance(&renderer))) {
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
    props->PropsSet(CComBSTR(u"output.10bit"), CComBSTR(u"true"));
    if (device->DeviceSet(eOXDT_Video, 0, nullptr) != S_OK) {
        state.SkipWithError("the card was not chosen");
        renderer->Release();
        return;
    }
    CComPtr<IUnknown> card;
    device->DeviceGetInternal(eOXDT_Video, &card);
    CComPtr<IDeckLinkOutput> output;
    card.QueryInterface(&output);

    // A ring of frames, deeper than the queue and what the card holds.
    M_AV_PROPS av{};
    av.vidProps = orvex::formats::VideoFormatDefaults(static_cast<eMVideoFormat>(c.format), c.fcc);
    if (av.vidProps.nWidth == 0) {  // UHD 50p and up are not in the format table
        av.vidProps.eVideoFormat = static_cast<eMVideoFormat>(c.format);
        av.vidProps.fccType = c.fcc;
        av.vidProps.nWidth = 3840;
        av.vidProps.nHeight = 2160;
        av.vidProps.nRowBytes = orvex::formats::RowBytesFor(c.fcc, 3840);
        av.vidProps.dblRate = 50.0;
        av.vidProps.nAspectX = 16;
        av.vidProps.nAspectY = 9;
    }
    av.audProps = {c.channels, 48000, c.bits, 0};
    const double rate = av.vidProps.dblRate;
    std::vector<CComPtr<IOXFrame>> ring;
    for (int i = 0; i < 8; ++i) {
        CComPtr<IOXFrame> f;
        // The factory makes UHD 50p as a custom format; the frame then names its format.
        M_AV_PROPS make = av;
        if (av.vidProps.eVideoFormat >= eMVF_4K_UHD_50p) make.vidProps.eVideoFormat = eMVF_Custom;
        if (FAILED(factory->OXFrameMake(&make, 0, &f)) || !f || FAILED(f->OXAVPropsSet(&av))) {
            state.SkipWithError("the frame factory refused the format");
            renderer->Release();
            return;
        }
        ring.push_back(f);
    }

    OxSimCardStats before{};  // the card counts repeats over its life
    env.stats(0, &before);
    Measure m;
    m.output = output;
    renderer->FrameClock()->SetHandOverObserver(&Measure::Note, &m);
    const Ticks start = orvex::platform::Now();
    const Ticks length = static_cast<Ticks>(g_seconds * 1e7);
    const long long warm = static_cast<long long>(rate * 2);  // two seconds
    const long long expected = static_cast<long long>(rate * g_seconds) + 16;
    m.put_time = std::vector<std::atomic<Ticks>>(static_cast<std::size_t>(expected + 64));
    m.accepted = std::vector<std::atomic<Ticks>>(static_cast<std::size_t>(expected + 64));
    long long n = 0, samples_given = 0;
    double cpu_at_warm = 0;
    std::unique_ptr<orvex::bench::BusyThreads> busy;
    if (c.stressed) busy = std::make_unique<orvex::bench::BusyThreads>();
    for (auto _ : state) {
        while (orvex::platform::Now() - start < length &&
               n + 1 < static_cast<long long>(m.put_time.size())) {
            if (n == warm) {
                m.counting = true;
                cpu_at_warm = orvex::bench::CpuSeconds();
                g_worker_allocations.store(0);
                g_put_allocations.store(0);
            }
            IOXFrame* f = ring[static_cast<std::size_t>(n % 8)];
            const long long s0 = static_cast<long long>(static_cast<double>(n) * 48000.0 / rate);
            const long long s1 =
                static_cast<long long>(static_cast<double>(n + 1) * 48000.0 / rate);
            // Audio of the cadence's length, written into the frame once per use.
            f->OXAudioAlloc(&av.audProps, static_cast<int>(s1 - s0));
            // A marker in the first sample of channel 0, where the card looks for it.
            OX_FRAME_INFO info{};
            f->OXAllGet(&info);
            if (info.lpAudio && info.cbAudio >= 4)
                reinterpret_cast<BYTE*>(static_cast<std::uintptr_t>(info.lpAudio))[c.bits / 8 - 1] =
                    0x40;
            samples_given += s1 - s0;
            f->OXVideoIDSet(n);
            m.put_time[static_cast<std::size_t>(n)].store(orvex::platform::Now());
            t_counter = m.counting ? 2 : 0;
            receiver->ReceiverFramePut(f, 0, nullptr);
            t_counter = 0;
            Ticks zero = 0;
            m.accepted[static_cast<std::size_t>(n)].compare_exchange_strong(zero,
                                                                            orvex::platform::Now());
            ++n;
        }
    }
    busy.reset();
    const long long worker_allocations = g_worker_allocations.load();
    const long long put_allocations = g_put_allocations.load();
    const double cpu = orvex::bench::CpuSeconds() - cpu_at_warm;
    device->DeviceClose();
    OxSimCardStats after{};
    env.stats(0, &after);
    renderer->FrameClock()->SetHandOverObserver(nullptr, nullptr);
    const orvex::decklink::ClockCounters end = renderer->FrameClock()->Counters();
    const long long counted = n - warm;
    device.Release();
    receiver.Release();
    props.Release();
    output.Release();
    card.Release();
    renderer->Release();

    state.counters["frames"] = static_cast<double>(n);
    state.counters["missed"] = static_cast<double>(end.missed);  // the whole run
    state.counters["skipped"] = static_cast<double>(end.skipped);
    state.counters["offset_p50_ms"] = Percentile(m.offsets_ms, 0.5);
    state.counters["offset_p99_ms"] = Percentile(m.offsets_ms, 0.99);
    state.counters["cpu_ms_per_frame"] =
        counted > 0 ? cpu * 1000.0 / static_cast<double>(counted) : 0;
    state.counters["allocs_per_frame_worker"] =
        counted > 0 ? static_cast<double>(worker_allocations) / static_cast<double>(counted) : 0;
    state.counters["allocs_per_frame_put"] =
        counted > 0 ? static_cast<double>(put_allocations) / static_cast<double>(counted) : 0;
    state.counters["latency_p50_periods"] = Percentile(m.latency, 0.5);
    state.counters["latency_max_periods"] = Percentile(m.latency, 1.0);
    state.counters["repeated"] = static_cast<double>(after.repeats - before.repeats);
    state.counters["audio_offset_min"] = static_cast<double>(after.marker_offset_min);
    state.counters["audio_offset_max"] = static_cast<double>(after.marker_offset_max);
    state.counters["audio_unmarked"] = static_cast<double>(after.unmarked_frames);
    state.counters["audio_realigned"] = static_cast<double>(end.audio_realigned);
}

}  // namespace

BENCHMARK_CAPTURE(Play, hd1080p5994_uyvy_to_v210_16ch24,
                  Case{eMVF_HD1080_5994p, eMFCC_UYVY, 16, 24, false})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, hd1080p5994_uyvy_to_v210_16ch24_stressed,
                  Case{eMVF_HD1080_5994p, eMFCC_UYVY, 16, 24, true})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, uhd2160p50_uyvy_to_v210_16ch24,
                  Case{eMVF_4K_UHD_50p, eMFCC_UYVY, 16, 24, false})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
#ifdef OXDECKLINKSIM_LINUX_PATH
BENCHMARK_CAPTURE(Play, hd1080p5994_uyvy_to_v210_16ch24_linux_layout,
                  Case{eMVF_HD1080_5994p, eMFCC_UYVY, 16, 24, false, true})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Play, uhd2160p50_uyvy_to_v210_16ch24_linux_layout,
                  Case{eMVF_4K_UHD_50p, eMFCC_UYVY, 16, 24, false, true})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
#endif

int main(int argc, char** argv) {
    orvex::bench::g_allocation_hook = &Count;
    return orvex::bench::RunTimedBenchmarks(argc, argv, &g_seconds);
}
