// One DeckLink renderer of the playout benchmark, playing on one virtual card: the host's
// frames go in through ReceiverFramePut on the thread that calls Feed, the frame clock's
// hand-overs are measured as they happen, and Finish gathers the figures.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "bench/support/playout.h"
#include "com/object.h"
#include "com/ptr.h"
#include "decklink/co_ox_renderer_bmd.h"
#include "formats/video_formats.h"
#include "orvex/ids.h"
#include "platform/clock.h"
#include "sim/decklink/sim_control.h"

namespace orvex::bench {

struct DeckLinkFigures {
    long long frames = 0, counted = 0;
    std::int64_t missed = 0, skipped = 0, repeated = 0, audio_realigned = 0;
    double offset_p50_ms = 0, offset_p99_ms = 0;
    double latency_p50 = 0, latency_max = 0, air_p50 = 0, air_max = 0;
    double worker_cpu_ms = 0;  // per frame, on the queue's worker (the frame path's thread)
    double host_cpu_ms = 0;    // per frame, on the host's thread (making and putting frames)
    double period_ms = 0;
};

class DeckLinkPlayer {
public:
    // Chooses `card` for a renderer of its own; `error` says why not.
    bool Open(IOXFactory* factory, int card, const M_AV_PROPS& av, std::string* error) {
        CComObject<CCoOXRendererBMD>* renderer = nullptr;
        if (FAILED(CComObject<CCoOXRendererBMD>::CreateInstance(&renderer))) {
            *error = "no renderer";
            return false;
        }
        renderer_ = renderer;
        renderer->QueryInterface(IID_IOXDevice, reinterpret_cast<void**>(&device_));
        renderer->QueryInterface(IID_IOXReceiver, reinterpret_cast<void**>(&receiver_));
        CComPtr<IOXProps> props;
        renderer->QueryInterface(IID_IOXProps, reinterpret_cast<void**>(&props));
        props->PropsSet(CComBSTR(u"input.buffers"), CComBSTR(u"2"));
        props->PropsSet(CComBSTR(u"output.10bit"), CComBSTR(u"true"));
        if (device_->DeviceSet(eOXDT_Video, card, nullptr) != S_OK) {
            *error = "the card was not chosen";
            return false;
        }
        CComPtr<IUnknown> unknown;
        device_->DeviceGetInternal(eOXDT_Video, &unknown);
        unknown.QueryInterface(&output_);
        card_ = card;
        rate_ = av.vidProps.dblRate;
        return output_ && frames_.Make(factory, av, error);
    }

    // Puts frames for `seconds`, counting from two seconds in.
    void Feed(double seconds, OxSimStatsFn stats) {
        t_host_role = HostRole::kOutside;
        const auto warm = static_cast<long long>(rate_ * 2);
        latencies_ = std::make_unique<Latencies>(static_cast<std::size_t>(rate_ * seconds) + 64);
        offsets_ms_.reserve(latencies_->Capacity());
        renderer_->FrameClock()->SetHandOverObserver(&DeckLinkPlayer::Note, this);
        const platform::Ticks start = platform::Now();
        const auto length = static_cast<platform::Ticks>(seconds * 1e7);
        double host_at_warm = 0;
        long long n = 0;
        while (platform::Now() - start < length &&
               n + 1 < static_cast<long long>(latencies_->Capacity())) {
            if (n == warm) {
                stats(card_, &before_);  // the card counts repeats over its life
                clock_before_ = renderer_->FrameClock()->Counters();
                worker_.Start();
                host_at_warm = ThreadCpuSeconds(pthread_self());
                counting_ = true;
            }
            IOXFrame* f = frames_.Next(n);
            latencies_->Putting(n);
            t_host_role = HostRole::kInside;
            receiver_->ReceiverFramePut(f, 0, nullptr);
            t_host_role = HostRole::kOutside;
            latencies_->Accepted(n);
            ++n;
        }
        counting_ = false;
        stats(card_, &window_);
        // Read before the close, which starts the frame clock's counts afresh.
        clock_window_ = renderer_->FrameClock()->Counters();
        figures_.frames = n;
        figures_.counted = n - warm;
        host_cpu_ = ThreadCpuSeconds(pthread_self()) - host_at_warm;
        worker_cpu_ = worker_.Seconds();
        t_host_role = HostRole::kNone;
    }

    // Closes the output once the last frame has played.
    void Close(OxSimStatsFn stats) {
        device_->DeviceClose();
        renderer_->FrameClock()->SetHandOverObserver(nullptr, nullptr);
        stats(card_, &after_);
    }

    DeckLinkFigures Finish() {
        DeckLinkFigures& f = figures_;
        f.missed = clock_window_.missed - clock_before_.missed;
        f.skipped = clock_window_.skipped - clock_before_.skipped;
        f.audio_realigned = renderer_->FrameClock()->Counters().audio_realigned;
        f.repeated = window_.repeats - before_.repeats;
        f.offset_p50_ms = Percentile(offsets_ms_, 0.5);
        f.offset_p99_ms = Percentile(offsets_ms_, 0.99);
        f.latency_p50 = Percentile(latencies_->HandOver(), 0.5);
        f.latency_max = Percentile(latencies_->HandOver(), 1.0);
        f.air_p50 = Percentile(latencies_->Air(), 0.5);
        f.air_max = Percentile(latencies_->Air(), 1.0);
        const double counted = static_cast<double>(std::max(1LL, f.counted));
        f.worker_cpu_ms = worker_cpu_ * 1000.0 / counted;
        f.host_cpu_ms = host_cpu_ * 1000.0 / counted;
        f.period_ms = 1000.0 / rate_;
        frames_.Release();
        device_.Release();
        receiver_.Release();
        output_.Release();
        renderer_.Release();
        return f;
    }

    const OxSimCardStats& CardAfter() const { return after_; }

private:
    static void Note(void* self, const decklink::HandOver& h) {
        auto* me = static_cast<DeckLinkPlayer*>(self);
        me->worker_.Seen();
        if (h.shown || !me->counting_.load(std::memory_order_relaxed)) return;
        me->offsets_ms_.push_back(static_cast<double>(h.time_in_frame) / 10'000.0);
        // On air at the boundary after the hand-over.
        me->latencies_->Reached(h.video_id, h.ticks_per_frame, h.ticks_per_frame - h.time_in_frame);
    }

    CComPtr<CComObject<CCoOXRendererBMD>> renderer_;
    CComPtr<IOXDevice> device_;
    CComPtr<IOXReceiver> receiver_;
    CComPtr<IDeckLinkOutput> output_;
    HostFrames frames_;
    std::unique_ptr<Latencies> latencies_;
    std::vector<double> offsets_ms_;
    std::atomic<bool> counting_{false};
    ThreadClock worker_;
    double worker_cpu_ = 0, host_cpu_ = 0, rate_ = 0;
    int card_ = 0;
    OxSimCardStats before_{}, window_{}, after_{};  // at two seconds, at the last put, closed
    decklink::ClockCounters clock_before_, clock_window_;
    DeckLinkFigures figures_;
};

}  // namespace orvex::bench
