// A day of playout on the virtual clock: 1080p59.94 with 16 channels of audio from a host that
// keeps its own time (each frame put when the host's clock says it is due), to a virtual card
// whose clock runs 100 ppm fast or slow against the host's. --hours=N sets the length
// (default 24: 5,178,816 frames). Reports per case:
//   frames      frames put;
//   missed      periods without a new frame, as the renderer counts them ("bmd.missed");
//   repeated    periods the card repeated a frame in (its own count);
//   audio offset min/max  where each frame's audio began against its first period, sample
//               frames, measured by the card from a marker in each frame's first sample, and
//               frames whose marker was not found (the card plays the marked frames' audio
//               and keeps no pictures);
//   heap_start_mb/heap_end_mb  the process's heap after the first minute and at the end.
// A card 100 ppm fast asks for one frame more every 10,000 periods than the host makes: those
// periods repeat, and their audio is silence. A card 100 ppm slow holds the host back.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

using orvex::platform::Ticks;

double g_hours = 24.0;

std::int64_t VirtualNow(void*) {
    return orvex::platform::Now();
}

struct Environment {
    Environment() {
        const auto dir =
            std::filesystem::temp_directory_path() /
            ("orvex-drift-bench-" + std::to_string(orvex::platform::CurrentProcessId()));
        std::filesystem::create_directories(dir);
        orvex::platform::SetEnvVar("ORVEX_REGISTRY_DIR", dir.string());
        std::ofstream(dir / "rig.xml") << "<rig><card model=\"Drift\" video-out=\"sdi\" "
                                          "modes=\"all\" formats=\"2vuy,v210\" "
                                          "audio-bits=\"16,32\" audio-channels=\"2,8,16\"/></rig>";
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_RIG", (dir / "rig.xml").string());
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_PICTURES", "count");
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_AUDIO_MARKERS", "1");
        ok = card.Open(OXDECKLINKSIM_PATH) && frames.Open(OXFRAME_PATH);
        auto reg =
            reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(card.Symbol("DllRegisterServer"));
        ok = ok && reg && reg() == S_OK;
        stats = reinterpret_cast<OxSimStatsFn>(card.Symbol(OX_SIM_STATS));
        fault = reinterpret_cast<OxSimSetFaultFn>(card.Symbol(OX_SIM_SET_FAULT));
        time = reinterpret_cast<OxSimSetTimeSourceFn>(card.Symbol(OX_SIM_SET_TIME_SOURCE));
        reset = reinterpret_cast<OxSimResetFn>(card.Symbol(OX_SIM_RESET));
        ok = ok && stats && fault && time && reset;
    }
    orvex::platform::DynamicLibrary card, frames;
    OxSimStatsFn stats = nullptr;
    OxSimSetFaultFn fault = nullptr;
    OxSimSetTimeSourceFn time = nullptr;
    OxSimResetFn reset = nullptr;
    bool ok = false;
};

void Drift(benchmark::State& state, double ppm) {
    static Environment env;
    if (!env.ok) {
        state.SkipWithError("the virtual card or the frame library did not load");
        return;
    }
    orvex::platform::VirtualClock clock(orvex::platform::VirtualClock::Mode::kAutoAdvance,
                                        1'000'000'000);
    env.time(&VirtualNow, nullptr);
    env.reset();  // cards made afresh on this clock
    CComPtr<IOXFactory> factory;
    CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                     reinterpret_cast<void**>(&factory));
    CComObject<CCoOXRendererBMD>* renderer = nullptr;
    if (!factory || FAILED(CComObject<CCoOXRendererBMD>::CreateInstance(&renderer))) {
        state.SkipWithError("no renderer");
        env.time(nullptr, nullptr);
        return;
    }
    renderer->AddRef();
    CComPtr<IOXDevice> device;
    CComPtr<IOXReceiver> receiver;
    CComPtr<IOXProps> props;
    renderer->QueryInterface(IID_IOXDevice, reinterpret_cast<void**>(&device));
    renderer->QueryInterface(IID_IOXReceiver, reinterpret_cast<void**>(&receiver));
    renderer->QueryInterface(IID_IOXProps, reinterpret_cast<void**>(&props));
    props->PropsSet(CComBSTR(u"input.buffers"), CComBSTR(u"0"));
    device->DeviceSet(eOXDT_Video, 0, nullptr);
    env.fault(0, "drift-ppm", ppm);

    M_AV_PROPS av{};
    av.vidProps = orvex::formats::VideoFormatDefaults(eMVF_HD1080_5994p, eMFCC_UYVY);
    av.audProps = {16, 48000, 16, 0};
    std::vector<CComPtr<IOXFrame>> ring;
    for (int cadence = 0; cadence < 2; ++cadence) {  // 800 and 801 sample frames
        CComPtr<IOXFrame> f;
        factory->OXFrameMake(&av, 800 + cadence, &f);
        OX_FRAME_INFO info{};
        if (f) f->OXAllGet(&info);
        if (!f || !info.lpAudio) {
            state.SkipWithError("the frame factory refused the format");
            renderer->Release();
            env.time(nullptr, nullptr);
            return;
        }
        reinterpret_cast<BYTE*>(static_cast<std::uintptr_t>(info.lpAudio))[1] = 0x40;  // marker
        ring.push_back(f);
    }

    // The host's own time: frame n is due at n periods of 1001/60000 s after the start.
    const long long frames = static_cast<long long>(g_hours * 3600.0 * 60000.0 / 1001.0);
    const Ticks start = orvex::platform::Now();
    std::size_t heap_start = 0;
    OxSimCardStats before{};
    env.stats(0, &before);
    for (auto _ : state) {
        for (long long n = 0; n < frames; ++n) {
            const Ticks due =
                start + static_cast<Ticks>(static_cast<__int128>(n) * 10'010'000 / 60);
            if (orvex::platform::Now() < due) orvex::platform::SleepUntil(due);
            // The cadence of the 1001 rates: 800.8 sample frames a period.
            const bool long_one = (n + 1) * 4004 / 5 - n * 4004 / 5 == 801;
            receiver->ReceiverFramePut(ring[long_one ? 1 : 0], 0, nullptr);
            if (n == 3600) heap_start = orvex::platform::HeapBytesInUse();
        }
    }
    const std::size_t heap_end = orvex::platform::HeapBytesInUse();
    OxSimCardStats after{};
    env.stats(0, &after);
    const std::int64_t repeated = after.repeats - before.repeats;
    clock.Advance(2 * 166'834);  // the last frame's audio plays
    env.stats(0, &after);
    const orvex::decklink::ClockCounters counters = renderer->FrameClock()->Counters();
    device->DeviceClose();
    device.Release();
    receiver.Release();
    props.Release();
    renderer->Release();
    env.fault(0, "clear", 0);
    env.time(nullptr, nullptr);

    state.counters["frames"] = static_cast<double>(frames);
    state.counters["missed"] = static_cast<double>(counters.missed);
    state.counters["repeated"] = static_cast<double>(repeated);
    state.counters["audio_offset_min"] = static_cast<double>(after.marker_offset_min);
    state.counters["audio_offset_max"] = static_cast<double>(after.marker_offset_max);
    state.counters["audio_unmarked"] = static_cast<double>(after.unmarked_frames);
    state.counters["audio_realigned"] = static_cast<double>(counters.audio_realigned);
    state.counters["heap_start_mb"] = static_cast<double>(heap_start) / 1048576.0;
    state.counters["heap_end_mb"] = static_cast<double>(heap_end) / 1048576.0;
}

}  // namespace

BENCHMARK_CAPTURE(Drift, card_100ppm_fast, 100.0)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Drift, card_100ppm_slow, -100.0)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

int main(int argc, char** argv) {
    return orvex::bench::RunBenchmarksWith(argc, argv, "--hours=", 0.01, &g_hours);
}
