// One AJA renderer of the playout benchmark, playing on one channel of a virtual board: the
// host's frames go in through ReceiverFramePut on the thread that calls Feed, each frame's
// transfer into the board's ring is measured as it happens, and Finish gathers the figures.
#pragma once

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>

#include "aja/co_ox_renderer_aja.h"
#include "bench/support/playout.h"
#include "com/object.h"
#include "com/ptr.h"
#include "orvex/ids.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "sim/aja/sim_control.h"

namespace orvex::bench {

struct AjaFigures {
    long long frames = 0, counted = 0;
    std::int64_t underruns = 0, dropped = 0, played = 0;
    double latency_p50 = 0, latency_max = 0, air_p50 = 0, air_max = 0;
    double threads_cpu_ms = 0;  // per frame, on the queue's worker and the playout thread
    double host_cpu_ms = 0;     // per frame, on the host's thread
    double period_ms = 0;
    OxSimAjaChannelStats channel{};
};

class AjaPlayer {
public:
    // Chooses device `device` (board `board`, channel `channel`) for a renderer of its own.
    bool Open(IOXFactory* factory, int device, int board, int channel, const M_AV_PROPS& av,
              std::string* error) {
        CComObject<CCoOXRendererAJA>* renderer = nullptr;
        if (FAILED(CComObject<CCoOXRendererAJA>::CreateInstance(&renderer))) {
            *error = "no renderer";
            return false;
        }
        renderer_ = renderer;
        renderer->QueryInterface(IID_IOXDevice, reinterpret_cast<void**>(&device_));
        renderer->QueryInterface(IID_IOXReceiver, reinterpret_cast<void**>(&receiver_));
        renderer->QueryInterface(IID_IOXProps, reinterpret_cast<void**>(&props_));
        props_->PropsSet(CComBSTR(u"input.buffers"), CComBSTR(u"2"));
        if (FAILED(device_->DeviceSet(eOXDT_Video, device, nullptr)) || !renderer->Current()) {
            *error = "the channel was not chosen";
            return false;
        }
        renderer->Current()->SetFrameObserver(&AjaPlayer::Note, this);
        board_ = board;
        channel_ = channel;
        rate_ = av.vidProps.dblRate;
        return frames_.Make(factory, av, error);
    }

    // Puts frames for `seconds`, counting from two seconds in.
    void Feed(double seconds, OxSimAjaStatsFn stats) {
        t_host_role = HostRole::kOutside;
        const auto warm = static_cast<long long>(rate_ * 2);
        latencies_ = std::make_unique<Latencies>(static_cast<std::size_t>(rate_ * seconds) + 64);
        const platform::Ticks start = platform::Now();
        const auto length = static_cast<platform::Ticks>(seconds * 1e7);
        double host_at_warm = 0;
        long long n = 0;
        while (platform::Now() - start < length &&
               n + 1 < static_cast<long long>(latencies_->Capacity())) {
            if (n == warm) {
                stats(board_, channel_, &at_warm_);
                worker_.Start();
                playout_.Start();
                host_at_warm = ThreadCpuSeconds(pthread_self());
                counting_ = true;
            }
            IOXFrame* f = frames_.Next(n);
            latencies_->Putting(n);
            t_host_role = HostRole::kInside;
            receiver_->ReceiverFramePut(f, -1, nullptr);
            t_host_role = HostRole::kOutside;
            latencies_->Accepted(n);
            ++n;
        }
        counting_ = false;
        stats(board_, channel_, &window_);
        figures_.frames = n;
        figures_.counted = window_.frames_played - at_warm_.frames_played;
        host_cpu_ = ThreadCpuSeconds(pthread_self()) - host_at_warm;
        threads_cpu_ = worker_.Seconds() + playout_.Seconds();
        t_host_role = HostRole::kNone;
    }

    // Closes the output once the last frame has played.
    void Close(OxSimAjaStatsFn stats) {
        figures_.dropped = StatOf(u"aja.dropped") + StatOf(u"aja.transfer_errors");
        device_->DeviceClose();
        stats(board_, channel_, &figures_.channel);
    }

    AjaFigures Finish() {
        AjaFigures& f = figures_;
        f.underruns = window_.frames_dropped - at_warm_.frames_dropped;
        f.played = figures_.channel.frames_played;
        f.latency_p50 = Percentile(latencies_->HandOver(), 0.5);
        f.latency_max = Percentile(latencies_->HandOver(), 1.0);
        f.air_p50 = Percentile(latencies_->Air(), 0.5);
        f.air_max = Percentile(latencies_->Air(), 1.0);
        const double counted = static_cast<double>(std::max(1LL, f.counted));
        f.threads_cpu_ms = threads_cpu_ * 1000.0 / counted;
        f.host_cpu_ms = host_cpu_ * 1000.0 / counted;
        f.period_ms = 1000.0 / rate_;
        if (renderer_->Current()) renderer_->Current()->SetFrameObserver(nullptr, nullptr);
        frames_.Release();
        device_.Release();
        receiver_.Release();
        props_.Release();
        renderer_.Release();
        return f;
    }

private:
    int StatOf(const char16_t* name) {
        CComBSTR value;
        if (props_->PropsGet(CComBSTR(std::u16string(u"stat::") + name), &value) != S_OK || !value)
            return 0;
        return std::atoi(platform::ToUtf8(value.View()).c_str());
    }

    static void Note(void* self, const aja::FrameProgress& p) {
        auto* me = static_cast<AjaPlayer*>(self);
        (p.transferred ? me->playout_ : me->worker_).Seen();
        if (!p.transferred || !me->counting_.load(std::memory_order_relaxed)) return;
        // The playout thread transfers right after an interrupt once the ring is full: the
        // frame goes on air after those ahead of it, at the interrupt a period later each.
        const auto period = static_cast<platform::Ticks>(1e7 / me->rate_);
        me->latencies_->Reached(p.video_id, period, (p.ring_ahead + 1) * period);
    }

    CComPtr<CComObject<CCoOXRendererAJA>> renderer_;
    CComPtr<IOXDevice> device_;
    CComPtr<IOXReceiver> receiver_;
    CComPtr<IOXProps> props_;
    HostFrames frames_;
    std::unique_ptr<Latencies> latencies_;
    std::atomic<bool> counting_{false};
    ThreadClock worker_, playout_;
    double threads_cpu_ = 0, host_cpu_ = 0, rate_ = 0;
    int board_ = 0, channel_ = 0;
    OxSimAjaChannelStats at_warm_{}, window_{};
    AjaFigures figures_;
};

}  // namespace orvex::bench
