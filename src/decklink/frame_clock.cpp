#include "decklink/frame_clock.h"

#include <algorithm>
#include <cmath>

#include "decklink/stats.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace orvex::decklink {
namespace {

using platform::Ticks;

constexpr HRESULT kTimeout = static_cast<HRESULT>(0x800705B4);
constexpr Ticks kMs = platform::kTicksPerMillisecond;
// A wait that ends this much later than asked counts as overtime.
constexpr Ticks kOvertime = 50'000;

// The counters in the order of their names.
constexpr const char16_t* kCounterNames[] = {u"bmd.skipped",
                                             u"bmd.late",
                                             u"bmd.missed",
                                             u"bmd.correct_end",
                                             u"bmd.max_wait_count",
                                             u"bmd.wait_overtime",
                                             u"bmd.error",
                                             u"bmd.audio_dropped",
                                             u"bmd.audio_realigned",
                                             u"bmd.audio_realign_dropped",
                                             u"bmd.audio_realign_padded"};
constexpr int kCounters = static_cast<int>(std::size(kCounterNames));

std::int64_t* CounterAt(ClockCounters& c, int i) {
    std::int64_t* fields[] = {&c.skipped,
                              &c.late,
                              &c.missed,
                              &c.correct_end,
                              &c.max_wait_count,
                              &c.wait_overtime,
                              &c.error,
                              &c.audio_dropped,
                              &c.audio_realigned,
                              &c.audio_realign_dropped,
                              &c.audio_realign_padded};
    static_assert(std::size(fields) == kCounters);
    return fields[i];
}

// The names as BSTRs, made once: publishing allocates nothing of ours.
const CComBSTR& CounterName(int i) {
    static const auto names = [] {
        std::array<CComBSTR, kCounters> n;
        for (int k = 0; k < kCounters; ++k) n[static_cast<std::size_t>(k)] = kCounterNames[k];
        return n;
    }();
    return names[static_cast<std::size_t>(i)];
}

bool ReadBool(IMNode* node, const char16_t* name, bool fallback) {
    if (!node) return fallback;
    int value = 0;
    return node->AttributesGetBool(CComBSTR(name), &value) == S_OK ? value != 0 : fallback;
}

}  // namespace

HRESULT PerfClock::PreciseWait(Ticks duration, Ticks* now) {
    if (duration <= 0) {
        if (now) *now = -1;
        return S_FALSE;
    }
    timer_.SetRelative(duration);
    const Ticks limit = (duration / kMs * 2 + 1000) * kMs;
    const bool fired = timer_.Wait(limit);
    if (now) *now = Now();
    return fired ? S_OK : kTimeout;
}

MDecklinkDirectOut::MDecklinkDirectOut() = default;

MDecklinkDirectOut::~MDecklinkDirectOut() {
    Attach(nullptr, nullptr, nullptr);
}

double MDecklinkDirectOut::FrameDurationFromRate(double rate, double fallback) {
    double duration = rate > 0 ? static_cast<double>(pipeline::RoundTicks(1e7 / rate)) : fallback;
    double exact = duration;
    pipeline::SnapFrameDuration(duration, &exact);
    return exact;
}

void MDecklinkDirectOut::DetachLocked() {
    if (configuration_) {
        if (saved_flicker_removal_)
            configuration_->SetFlag(bmdDeckLinkConfigFieldFlickerRemoval, TRUE);
        // No normal output since attach, or the last frame followed missed periods, or the
        // watchdog is armed: let the input through.
        if (bypass_ < 1) configuration_->SetInt(bmdDeckLinkConfigBypass, 0);
    }
    configuration_.Release();
    output_.Release();
    device_name_.Empty();
    legacy_output_ = false;
    saved_flicker_removal_ = FALSE;
    bypass_ = kNoBypass;
}

HRESULT MDecklinkDirectOut::Attach(IUnknown* output, const M_AV_PROPS* props, IMNode* node) {
    // The audio thread takes the lock to find the output: stop it before taking the lock.
    audio_.StopThread();
    std::lock_guard lock(lock_);
    DetachLocked();
    {
        // Audio losses and corrections count over the renderer's life, not per output.
        const AudioCounts closed = audio_.Counts();
        std::lock_guard counters(counters_lock_);
        audio_before_.realigned += closed.realigned;
        audio_before_.realign_dropped += closed.realign_dropped;
        audio_before_.realign_padded += closed.realign_padded;
        audio_before_.dropped += closed.dropped;
    }

    if (output) {
        CComPtr<IDeckLinkOutput> current;
        if (SUCCEEDED(output->QueryInterface(IidOf<IDeckLinkOutput>(),
                                             reinterpret_cast<void**>(&current))) &&
            current) {
            output_ = current.p;
        } else if (FAILED(output->QueryInterface(IidOf<IDeckLinkOutput_v9_9>(),
                                                 reinterpret_cast<void**>(&output_))) ||
                   !output_) {
            output_.Release();
            return E_NOINTERFACE;
        } else {
            legacy_output_ = true;
        }
        CComPtr<IDeckLink> device;
        if (SUCCEEDED(
                output->QueryInterface(IidOf<IDeckLink>(), reinterpret_cast<void**>(&device))) &&
            device)
            device->GetDisplayName(&device_name_);
        if (SUCCEEDED(output->QueryInterface(IidOf<IDeckLinkConfiguration>(),
                                             reinterpret_cast<void**>(&configuration_))) &&
            configuration_) {
            configuration_->GetFlag(bmdDeckLinkConfigFieldFlickerRemoval, &saved_flicker_removal_);
            configuration_->SetFlag(bmdDeckLinkConfigFieldFlickerRemoval, FALSE);
        } else {
            configuration_.Release();
        }
        CComPtr<IDeckLinkAttributes> attributes;
        BOOL has_bypass = FALSE;
        if (SUCCEEDED(output->QueryInterface(IidOf<IDeckLinkAttributes>(),
                                             reinterpret_cast<void**>(&attributes))) &&
            attributes && SUCCEEDED(attributes->GetFlag(BMDDeckLinkHasBypass, &has_bypass)) &&
            has_bypass) {
            bypass_ = 0;
            if (configuration_) configuration_->SetInt(bmdDeckLinkConfigBypass, -1);
        }
    }

    audio_.Reset(props ? &props->audProps : nullptr);
    av_props_ = props ? *props : M_AV_PROPS{};
    last_index_ = -1;
    last_on_air_ = -1;
    stream_start_ = -1;
    time_sync_ = false;
    skip_run_ = 0;
    input_clock_.ResetTime(0.0);
    {
        std::lock_guard counters(counters_lock_);
        // Failed displays count over the renderer's life, not per output.
        const ClockCounters kept = counters_;
        counters_ = ClockCounters{};
        counters_.error = kept.error;
        published_ = ClockCounters{};
        publish_all_ = true;
    }
    reference_known_ = false;
    priority_published_ = false;
    clock_.Reset();
    if (output_ && node) {
        time_sync_ = ReadBool(node, u"output.time_sync", false);
        if (ReadBool(node, u"experimental.direct_audio_thread", false) && audio_.Enabled())
            audio_.StartThread(&MDecklinkDirectOut::OutputForAudio, this);
    }
    return S_OK;
}

CComPtr<IDeckLinkOutput_v9_9> MDecklinkDirectOut::OutputForAudio(void* self) {
    auto* me = static_cast<MDecklinkDirectOut*>(self);
    std::lock_guard lock(me->lock_);
    return me->output_;
}

bool MDecklinkDirectOut::ReadClock(IDeckLinkOutput_v9_9* output, ClockReading* r) {
    if (FAILED(output->GetHardwareReferenceClock(platform::kTicksPerSecond, &r->hw, &r->in_frame,
                                                 &r->tpf)) ||
        r->tpf <= 0)
        return false;
    return true;
}

std::int64_t MDecklinkDirectOut::Index(BMDTimeValue hw, BMDTimeValue in_frame, double tpf) const {
    return static_cast<std::int64_t>(static_cast<double>(hw - in_frame + 10'000) / tpf);
}

void MDecklinkDirectOut::Wait(Ticks duration) {
    const Ticks before = clock_.Now();
    Ticks after = 0;
    if (clock_.PreciseWait(duration, &after) == S_FALSE) return;
    if (after - before - duration > kOvertime) {
        std::lock_guard counters(counters_lock_);
        ++counters_.wait_overtime;
    }
}

void MDecklinkDirectOut::Publish(IMNode* stats) {
    if (!stats) return;
    ClockCounters now = Counters();
    bool all = false;
    {
        std::lock_guard counters(counters_lock_);
        all = publish_all_;
        publish_all_ = false;
    }
    // Only what changed is written: a steady clock writes nothing.
    for (int i = 0; i < kCounters; ++i) {
        const std::int64_t value = *CounterAt(now, i);
        if (!all && value == *CounterAt(published_, i)) continue;
        stats->AttributesSetInt(CounterName(i),
                                static_cast<int>(std::min<std::int64_t>(value, INT32_MAX)));
        *CounterAt(published_, i) = value;
    }
}

void MDecklinkDirectOut::WaitUntilShown() {
    CComPtr<IDeckLinkOutput_v9_9> output;
    {
        std::lock_guard lock(lock_);
        output = output_;
    }
    ClockReading r;
    if (!output || !ReadClock(output, &r)) return;
    for (Ticks waited = 0; waited <= r.tpf; waited += kMs) {
        unsigned int held = 0;
        if (FAILED(output->GetBufferedVideoFrameCount(&held))) return;
        if (held == 0) {
            // On air: it stays there for the rest of its period, with its audio.
            if (ReadClock(output, &r)) Wait(r.tpf - r.in_frame);
            return;
        }
        Wait(kMs);
    }
}

HRESULT MDecklinkDirectOut::OutputFrame(IMFrame_I* frame, IDeckLinkVideoFrame* card_frame,
                                        const M_AUD_PROPS* audio, const BYTE* audio_data,
                                        int audio_bytes, IMNode* stats, int wait_frames,
                                        bool* shown) {
    if (shown) *shown = false;
    if (!frame || !card_frame) return E_POINTER;
    M_AV_PROPS frame_props{};
    M_TIME time{};
    frame->FrameAVPropsGet(&frame_props);
    frame->FrameTimeGet(&time);
    M_TIME corrected{};
    input_clock_.CorrectTime(&corrected, &frame_props.vidProps, &time, kMaxJump);
    const LONGLONG input_time = corrected.rtStartTime;
    const bool live = (time.eFFlags & eMFF_Live) != 0;

    CComPtr<IDeckLinkOutput_v9_9> output;
    CComPtr<IDeckLinkConfiguration> configuration;
    {
        std::lock_guard lock(lock_);
        output = output_;
    }
    if (!output) return S_FALSE;

    ClockReading r;
    if (!ReadClock(output, &r)) return E_UNEXPECTED;
    const platform::Ticks local_time = clock_.Now();  // right after the hardware clock
    double tpf = static_cast<double>(r.tpf);
    pipeline::SnapFrameDuration(tpf, &tpf);
    if (stream_start_ < 0) {
        stream_start_ =
            pipeline::RoundTicks(static_cast<double>(Index(r.hw, r.in_frame, tpf)) * tpf) + 100'000;
        std::lock_guard counters(counters_lock_);
        const std::int64_t error = counters_.error;
        counters_ = ClockCounters{};
        counters_.error = error;
        publish_all_ = true;
    }
    const LONGLONG stream_time = r.hw - stream_start_;
    WriteStreamTimes(stats, r.hw, stream_start_, input_time, local_time);

    if (!live && time_sync_ && input_time + r.tpf < stream_time) {
        if (skip_run_ < 2) {
            ++skip_run_;
            {
                std::lock_guard counters(counters_lock_);
                ++counters_.skipped;
            }
            Publish(stats);
            return S_FALSE;
        }
        std::lock_guard counters(counters_lock_);
        ++counters_.late;
    }

    const platform::ThreadPriority old_priority = platform::Thread::GetCurrentPriority();
    platform::Thread::SetCurrentPriority(platform::ThreadPriority::kTimeCritical);
    if (!priority_published_ && stats) {
        // What the clock's thread got: real-time where the process may have it.
        static const CComBSTR kThreadPriority(u"thread_priority");
        stats->AttributesSet(
            kThreadPriority,
            CComBSTR(platform::FromUtf8(platform::Thread::CurrentSchedulingText()).c_str()));
        priority_published_ = true;
    }
    struct RestorePriority {
        platform::ThreadPriority priority;
        ~RestorePriority() { platform::Thread::SetCurrentPriority(priority); }
    } restore{old_priority};

    const bool audio_wanted = audio_.Enabled() && audio && audio_data && audio_bytes > 0 &&
                              (time.eFFlags & eMFF_Pause) != eMFF_Pause;

    // The frame's audio goes to the card now, due with the period the frame will go on air
    // in (the one after the period it will be handed over in, as the wait below finds it):
    // about a period ahead of it, so that the card keeps playing while this thread waits or
    // is held up. Should the frame go on air in another period, its audio is taken back.
    // A reading exactly on a boundary is taken, as the wait below takes it, for the new period.
    const BMDTimeValue in_frame_now = r.in_frame == r.tpf ? 0 : r.in_frame;
    std::int64_t predicted = Index(r.hw, in_frame_now, tpf);
    if (predicted == last_index_ || (last_index_ < 0 && r.tpf - in_frame_now < 10'000)) ++predicted;
    ++predicted;
    HRESULT audio_hr = S_OK;
    if (audio_wanted) {
        if (samples_tpf_ != tpf) {
            samples_ = SamplesPerPeriod(tpf, audio_.Format().nSamplesPerSec);
            samples_tpf_ = tpf;
        }
        const std::int64_t due = GridAtPeriod(predicted, samples_);
        audio_hr = audio_.AddFrame(
            audio, audio_data, audio_bytes, due, GridAtPeriod(predicted + 1, samples_) - due,
            last_on_air_ < 0 || predicted != last_on_air_ + 1, (time.eFFlags & eMFF_Last) != 0);
    }
    if (audio_.Enabled() && audio_.ThreadRunning()) {
        audio_.WakeThread();
    } else if (audio_.Enabled() && SUCCEEDED(audio_hr)) {
        // Also for a frame without audio: what waits is written, and the card's silence since
        // the last frame is known when the next audio comes.
        std::lock_guard lock(lock_);
        if (output_) audio_hr = audio_.Write(output_);
    }

    // Wait for a period in which no frame was shown yet.
    std::int64_t waits = 0;
    std::int64_t index = 0;
    for (;;) {
        {
            std::lock_guard lock(lock_);
            output = output_;
            configuration = configuration_;
        }
        if (!output) return E_UNEXPECTED;
        if (!ReadClock(output, &r)) return E_UNEXPECTED;
        if (r.in_frame == r.tpf) {
            // Exactly on the boundary: the reading is ambiguous, look again in a moment.
            Wait(10'000);
            std::lock_guard counters(counters_lock_);
            ++counters_.correct_end;
            r.in_frame = 0;
        }
        index = Index(r.hw, r.in_frame, tpf);
        if (index != last_index_ && (last_index_ >= 0 || r.tpf - r.in_frame >= 10'000)) break;
        Wait(r.tpf - r.in_frame + 20'000);
        ++waits;
    }
    // Settle about 3 ms into the period.
    platform::Ticks in_frame_at_hand_over = r.in_frame;
    if (r.in_frame < 20'000) {
        Wait(30'000 - r.in_frame);
        in_frame_at_hand_over = 30'000;
    }
    // A card still holding the last frame unshown (its clock read ahead of the card: the
    // boundary has not passed yet) would put this one in its place: wait, a period at most,
    // until it has gone on air.
    for (Ticks waited = 0; waited <= r.tpf; waited += kMs) {
        unsigned int held = 0;
        if (FAILED(output->GetBufferedVideoFrameCount(&held)) || held == 0) break;
        Wait(kMs);
    }
    bool missed = false;
    {
        std::lock_guard counters(counters_lock_);
        if (last_index_ >= 0 && index > last_index_ + 1) {
            counters_.missed += index - last_index_ - 1;
            missed = true;
        }
        counters_.max_wait_count = std::max(counters_.max_wait_count, waits);
    }
    const bool first = last_index_ < 0;
    last_index_ = index;

    HandOver hand_over{index, in_frame_at_hand_over, r.tpf, 0, false};
    if (observer_) {
        frame->FrameVideoIDGet(&hand_over.video_id);
        observer_(observer_context_, hand_over);
    }
    HRESULT hr = output->DisplayVideoFrameSync(card_frame);
    if (FAILED(hr)) {
        {
            std::lock_guard counters(counters_lock_);
            ++counters_.error;
        }
        if (audio_wanted) audio_.TakeBack();  // no picture, no sound
        last_on_air_ = -1;
        Publish(stats);
        return hr;
    }
    skip_run_ = 0;
    if (shown) *shown = true;
    // The frame goes on air at the boundary after its transfer ended.
    std::int64_t on_air = index + 1;
    ClockReading after;
    const bool read_after = ReadClock(output, &after);
    if (read_after && after.in_frame < after.tpf)
        on_air = std::max(on_air, Index(after.hw, after.in_frame, tpf) + 1);
    // A transfer that ran into a later period (the first frame may be handed over with as
    // little as 1 ms of its period left; a card call may stall) puts the frame on air a period
    // later: the next frame waits for the period after, or the card would replace this one
    // unseen, and the periods that repeated the previous frame meanwhile count as missed.
    if (on_air - 1 > last_index_) {
        if (!first) {
            std::lock_guard counters(counters_lock_);
            counters_.missed += on_air - 1 - last_index_;
        }
        last_index_ = on_air - 1;
    }
    if (observer_) {
        hand_over.shown = true;
        observer_(observer_context_, hand_over);
    }

    // Bypass watchdog.
    if (configuration && bypass_ != kNoBypass) {
        if (missed) {
            configuration->SetInt(bmdDeckLinkConfigBypass, -1);
            bypass_ = -100;
        } else if (wait_frames == 0 && bypass_ <= 0) {
            configuration->SetInt(bmdDeckLinkConfigBypass, -1);
            bypass_ = 1;
        } else if (wait_frames > 0) {
            if (bypass_ < 0) {
                ++bypass_;
            } else {
                const LONGLONG ms = pipeline::RoundTicks(static_cast<double>(r.tpf) / 10'000.0);
                configuration->SetInt(bmdDeckLinkConfigBypass, ms * wait_frames + 1);
                bypass_ = 0;
            }
        }
    }

    // The frame went on air in another period than its audio was placed for: the audio is
    // taken back, and the next frame's starts on its period.
    if (audio_wanted) {
        if (on_air != predicted) audio_.TakeBack();
        last_on_air_ = on_air;
    }

    BMDReferenceStatus reference = 0;
    if (SUCCEEDED(output->GetReferenceStatus(&reference)) &&
        (!reference_known_ || reference != reference_) && stats) {
        static const CComBSTR kRefStatus(u"ref_status");
        stats->AttributesSet(kRefStatus, CComBSTR(ReferenceStatusText(reference)));
        reference_ = reference;
        reference_known_ = true;
    }
    Publish(stats);
    return FAILED(audio_hr) ? audio_hr : S_OK;
}

ClockCounters MDecklinkDirectOut::Counters() {
    const AudioCounts audio = audio_.Counts();
    std::lock_guard counters(counters_lock_);
    ClockCounters c = counters_;
    c.audio_dropped = audio_before_.dropped + audio.dropped;
    c.audio_realigned = audio_before_.realigned + audio.realigned;
    c.audio_realign_dropped = audio_before_.realign_dropped + audio.realign_dropped;
    c.audio_realign_padded = audio_before_.realign_padded + audio.realign_padded;
    return c;
}

std::int32_t MDecklinkDirectOut::BypassState() {
    std::lock_guard lock(lock_);
    return bypass_;
}

void MDecklinkDirectOut::SetHandOverObserver(HandOverObserver observer, void* context) {
    observer_ = observer;
    observer_context_ = context;
}

}  // namespace orvex::decklink
