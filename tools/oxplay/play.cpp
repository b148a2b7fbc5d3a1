#include "tools/oxplay/play.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "tools/common/host.h"
#include "tools/oxplay/options.h"

namespace oxplay {
namespace {

using Clock = std::chrono::steady_clock;

eMTimecodeFlags TimecodeRateFlag(int fps, bool drop) {
    switch (fps) {
        case 24:
            return eMTCF_Rate_24;
        case 25:
            return eMTCF_Rate_25;
        case 30:
            return drop ? eMTCF_Rate_30_DF : eMTCF_Rate_30;
        case 50:
            return eMTCF_Rate_50;
        case 60:
            return drop ? eMTCF_Rate_60_DF : eMTCF_Rate_60;
        default:
            return eMTCF_NonDropFrame;
    }
}

// The frame of one period. False with the reason when it cannot be made.
bool MakeFrame(const PeriodPlan& plan, Scan scan, const PlaySetup& setup, IOXFactory* factory,
               IOXFrame** out, std::string* error) {
    const M_VID_PROPS& o = setup.output;
    M_AV_PROPS av{};
    M_VID_PROPS& v = av.vidProps;
    v = o;
    v.nHeight = std::abs(o.nHeight);
    v.nRowBytes = RowBytesOf(o.fccType, o.nWidth);
    // What the period shows: its planned picture, the bars of a source without video, or
    // black before the first picture.
    PeriodPlan bars;
    const PeriodPlan* shown = &plan;
    if (!plan.picture && setup.bars) {
        bars.picture = setup.bars;
        shown = &bars;
        scan = Scan::kWhole;
    }
    FrameShape shape;
    if (shown->picture) {
        if (!ShapeFor(*shown, scan, setup.fit, &shape, error)) return false;
        const bool output_size = shape.Width() == o.nWidth && shape.Height() == v.nHeight;
        v.eVideoFormat = output_size ? o.eVideoFormat : eMVF_Custom;
        v.fccType = shape.fcc;
        v.nWidth = shape.Width();
        v.nHeight = shape.Height();
        v.nRowBytes = shape.row_bytes;
        v.eInterlace = shape.interlace;
    }
    if (v.fccType == eMFCC_RGB32) v.nHeight = -v.nHeight;  // top row first
    if (plan.samples > 0) {
        av.audProps.nChannels = setup.audio.channels;
        av.audProps.nSamplesPerSec = setup.audio.rate;
        av.audProps.nBitsPerSample = setup.audio.bits;
    }
    const auto audio = static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(plan.audio.data()));
    const LONG audio_bytes = static_cast<LONG>(plan.audio.size());
    HRESULT hr;
    if (shown->picture && shape.copy_as_is) {
        const Image& image = *shown->picture;
        hr = factory->OXFrameMakeFromMemory(
            &av, static_cast<LONG>(image.bytes.size()),
            static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(image.bytes.data())),
            plan.samples, audio_bytes, audio, out);
    } else {
        // A black picture of the frame's shape, the source's rows copied in.
        hr = factory->OXFrameMakeFromMemory(&av, 0, 0, plan.samples, audio_bytes, audio, out);
        LONG bytes = 0;
        LONGLONG memory = 0;
        if (SUCCEEDED(hr) && shown->picture) {
            hr = (*out)->OXVideoBytesGet(&bytes, &memory);
            if (SUCCEEDED(hr) &&
                (!memory || bytes < static_cast<std::int64_t>(shape.row_bytes) * shape.Height()))
                hr = E_UNEXPECTED;
            if (SUCCEEDED(hr))
                Compose(*shown, scan, shape,
                        reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(memory)));
        }
    }
    if (FAILED(hr)) {
        *error = "cannot make a frame: " + oxtools::HexCode(hr);
        return false;
    }
    return true;
}

M_TIMECODE Timecode(const TimecodeClock& clock, std::int64_t index) {
    M_TIMECODE tc{};
    const std::string text = clock.Text(index);
    std::sscanf(text.c_str(), "%d:%d:%d%*c%d", &tc.nHours, &tc.nMinutes, &tc.nSeconds, &tc.nFrames);
    tc.eTCFlags = TimecodeRateFlag(clock.fps, clock.drop_frame);
    return tc;
}

// Lets the queued frames reach the output before it closes, so the recording is whole: as
// long as the queue can hold (never more than was played), and Ctrl-C ends it.
void WaitForQueuedFrames(const PlaySetup& setup, IOXProps* props, std::int64_t played,
                         const std::atomic<bool>& stop) {
    std::int64_t buffers = 4;
    if (auto b = oxtools::GetProp(props, "input.buffers"))
        buffers = std::max(1, std::atoi(b->c_str()));
    const std::int64_t periods = std::min(buffers, played) + 4;
    const double rate = static_cast<double>(setup.clock.rate_num) / setup.clock.rate_den;
    const double seconds = static_cast<double>(periods) / rate;
    if (seconds >= 1) {
        std::printf("Waiting %.1f s for the queued frames to go out (Ctrl-C stops)\n", seconds);
        std::fflush(stdout);
    }
    const auto end =
        Clock::now() + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
    while (!stop.load() && Clock::now() < end)
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::chrono::milliseconds(20), end - Clock::now()));
}

}  // namespace

Figures ReadFigures(IOXProps* props) {
    auto get = [&](const char* name) {
        return oxtools::GetProp(props, std::string("stat::") + name).value_or("n/a");
    };
    Figures f;
    f.late = get("bmd.late");
    f.skipped = get("bmd.skipped");
    if (f.skipped == "n/a") f.skipped = get("aja.dropped");  // frames an AJA channel dropped
    f.missed = get("bmd.missed");
    f.audio_dropped = get("bmd.audio_dropped");
    f.overflow = get("buffer_overlow");
    f.queue = get("queue");
    // "locked", "none" or "not-supported", as the renderer words it.
    f.reference = get("ref_status");
    return f;
}

PlayOutcome Play(Schedule& schedule, const PlaySetup& setup, const Renderer& renderer,
                 const std::atomic<bool>& stop) {
    PlayOutcome result;
    const bool tty = isatty(STDERR_FILENO);
    const auto start = Clock::now();
    auto next_report = start + std::chrono::seconds(1);
    const double rate = static_cast<double>(setup.clock.rate_num) / setup.clock.rate_den;
    PeriodPlan plan;
    std::string error;
    while (!stop.load()) {
        if (!schedule.Next(&plan, &error)) {
            if (!error.empty()) result.exit_code = Fail(result.played == 0 ? 2 : 1, error);
            break;
        }
        CComPtr<IOXFrame> frame;
        if (!MakeFrame(plan, schedule.scan(), setup, renderer.factory, &frame, &error)) {
            result.exit_code = Fail(result.played == 0 ? 2 : 1, error);
            break;
        }
        M_TIME time{};
        time.rtStartTime = plan.start;
        time.rtEndTime = PeriodStart(plan.index + 1, setup.clock.rate_num, setup.clock.rate_den);
        time.tcFrame = Timecode(setup.timecode, plan.index);
        // The last frame ends the stream: the renderer lets out all of its sound.
        time.eFFlags = static_cast<eMFrameFlags>((setup.live ? eMFF_Live : eMFF_None) |
                                                 (plan.last ? eMFF_Last : eMFF_None));
        frame->OXTimeSet(&time);
        frame->OXTimecodeSet(&time.tcFrame);
        frame->OXFlagsSet(time.eFFlags);
        if (setup.captions && !setup.captions->empty()) {
            const auto& pairs =
                (*setup.captions)[static_cast<std::size_t>(plan.index) % setup.captions->size()];
            if (!pairs.empty())
                frame->OXDataSet(
                    0x43363038 /* 'C608' */, static_cast<LONG>(pairs.size()),
                    static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(pairs.data())));
        }
        if (setup.live) {
            // Live frames are never waited for: they come at their own pace, the clock's.
            std::this_thread::sleep_until(start + std::chrono::microseconds(plan.start / 10));
        }
        // Waits for room in the renderer's queue: the device sets the pace. The renderer
        // refuses a frame it found no room for within its wait (counted as refused); a live
        // frame is then dropped, any other is offered again.
        HRESULT hr = renderer.receiver->ReceiverFramePut(frame, -1, nullptr);
        while (hr == E_OUTOFMEMORY && !setup.live && !stop.load())
            hr = renderer.receiver->ReceiverFramePut(frame, -1, nullptr);
        if (FAILED(hr) && hr != E_OUTOFMEMORY) {
            result.exit_code = Fail(1, "the renderer refused frame " + std::to_string(plan.index) +
                                           ": " + oxtools::HexCode(hr));
            break;
        }
        ++result.played;
        if (const auto now = Clock::now(); now >= next_report) {
            next_report += std::chrono::seconds(1);
            const std::string line = FiguresLine(static_cast<double>(result.played) / rate,
                                                 result.played, ReadFigures(renderer.props));
            std::fprintf(stderr, tty ? "\r%s\033[K" : "%s\n", line.c_str());
        }
        if (plan.last) break;
    }
    if (tty) std::fprintf(stderr, "\n");
    if (!stop.load()) WaitForQueuedFrames(setup, renderer.props, result.played, stop);
    result.stopped = stop.load();
    result.figures = ReadFigures(renderer.props);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

}  // namespace oxplay
