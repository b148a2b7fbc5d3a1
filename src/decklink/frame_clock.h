// The frame clock of the DeckLink output: for every frame it waits on the card's hardware
// reference clock for the next frame period, hands the frame over about 3 ms into it with
// DisplayVideoFrameSync, writes the frame's audio, counts late, skipped and missed frames,
// and drives the card's bypass relay.
//
// Lock: `lock_` guards the card interfaces; OutputFrame copies them under it and calls the
// card on the copies without it, except the synchronous audio write, which runs under it.
// Attach runs under it too, called with the renderer's output lock held (output lock first).
// The audio thread is stopped before the lock is taken, since it takes the lock itself.
#pragma once

#include <climits>
#include <cstdint>
#include <mutex>

#include "com/object.h"
#include "com/ptr.h"
#include "decklink/api/decklink_api.h"
#include "decklink/direct_audio.h"
#include "orvex/interfaces.h"
#include "pipeline/time_corrector.h"
#include "platform/clock.h"
#include "platform/event.h"

namespace orvex::decklink {

// Time since its creation on the platform clock, and one timer for precise waits.
class PerfClock {
public:
    PerfClock() : origin_(platform::Now()) {}
    void Reset() { origin_ = platform::Now(); }
    platform::Ticks Now() const { return platform::Now() - origin_; }
    // Waits `duration` ticks on the timer. duration <= 0 returns S_FALSE at once with
    // *now = -1; a timer that does not fire within twice the duration plus 1 s gives
    // 0x800705B4. *now is the clock after the wait.
    HRESULT PreciseWait(platform::Ticks duration, platform::Ticks* now);

private:
    platform::Ticks origin_;
    platform::WaitableTimer timer_{false};
};

// The counters of the frame clock, as published under the statistics node.
struct ClockCounters {
    std::int64_t skipped = 0, late = 0, missed = 0, correct_end = 0, max_wait_count = 0,
                 wait_overtime = 0, error = 0, audio_dropped = 0, audio_realigned = 0,
                 audio_realign_dropped = 0, audio_realign_padded = 0;
};

// One hand-over, for those who measure the clock (benchmarks, tests): reported just before
// DisplayVideoFrameSync (`shown` false) and once it returned successfully (`shown` true).
struct HandOver {
    std::int64_t period = 0;            // hardware period index
    platform::Ticks time_in_frame = 0;  // position in the period at the hand-over
    platform::Ticks ticks_per_frame = 0;
    LONGLONG video_id = 0;  // the SDK frame's video id
    bool shown = false;
};
using HandOverObserver = void (*)(void* context, const HandOver& hand_over);

class MDecklinkDirectOut : public AutoObjBase<MDecklinkDirectOut, IUnknown> {
public:
    static constexpr std::int32_t kNoBypass = INT32_MAX;
    static constexpr LONGLONG kMaxJump = 100'000;

    MDecklinkDirectOut();
    ~MDecklinkDirectOut() override;

    // Takes the output (either revision of IDeckLinkOutput behind `output`) in `props`' format,
    // reading "output.time_sync" and "experimental.direct_audio_thread" from `node`. Null
    // `output` detaches: field flicker removal is restored, and the bypass relay switched on
    // when no normal output was running.
    HRESULT Attach(IUnknown* output, const M_AV_PROPS* props, IMNode* node);

    // Shows `card_frame` in the next frame period with the frame's audio. `wait_frames` arms
    // the bypass watchdog (0 on the frame path). S_FALSE when the frame was skipped as late
    // or nothing is attached; the card's error when it refused the frame, or its audio (then
    // the frame was shown): *shown tells (may be null).
    HRESULT OutputFrame(IMFrame_I* frame, IDeckLinkVideoFrame* card_frame, const M_AUD_PROPS* audio,
                        const BYTE* audio_data, int audio_bytes, IMNode* stats, int wait_frames,
                        bool* shown = nullptr);
    // Waits until the card holds no frame unshown (a period at most) and the frame on air has
    // had its period: before the output closes, so that the last frame plays whole.
    void WaitUntilShown();

    static double FrameDurationFromRate(double rate, double fallback);

    ClockCounters Counters();
    std::int64_t AudioSamplesWritten() const { return audio_.SamplesWritten(); }
    std::int32_t BypassState();
    void SetHandOverObserver(HandOverObserver observer, void* context);

private:
    struct ClockReading {
        BMDTimeValue hw = 0, in_frame = 0, tpf = 0;
    };
    bool ReadClock(IDeckLinkOutput_v9_9* output, ClockReading* r);
    std::int64_t Index(BMDTimeValue hw, BMDTimeValue in_frame, double tpf) const;
    void Wait(platform::Ticks duration);
    void Publish(IMNode* stats);
    void DetachLocked();
    static CComPtr<IDeckLinkOutput_v9_9> OutputForAudio(void* self);

    std::recursive_mutex lock_;
    CComPtr<IDeckLinkOutput_v9_9> output_;
    CComPtr<IDeckLinkConfiguration> configuration_;
    bool legacy_output_ = false;
    CComBSTR device_name_;
    BOOL saved_flicker_removal_ = FALSE;
    std::int32_t bypass_ = kNoBypass;
    M_AV_PROPS av_props_{};

    // Worker-thread state (reset by Attach).
    std::int64_t last_index_ = -1;
    std::int64_t stream_start_ = -1;
    bool time_sync_ = false;
    int skip_run_ = 0;
    CMTimeCorrector input_clock_;
    std::mutex counters_lock_;  // a leaf lock: readers on other threads
    ClockCounters counters_;
    ClockCounters published_;
    bool publish_all_ = true;
    BMDReferenceStatus reference_ = 0;
    bool reference_known_ = false;
    bool priority_published_ = false;

    DirectAudio audio_;
    PerfClock clock_;
    HandOverObserver observer_ = nullptr;
    void* observer_context_ = nullptr;
    // The audio of the outputs closed before this one (its own are in audio_).
    AudioCounts audio_before_;
    double samples_tpf_ = 0;  // the period `samples_` was worked out for
    PeriodSamples samples_;
};

}  // namespace orvex::decklink
