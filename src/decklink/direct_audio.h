// Embedded audio of the frame clock: each frame's samples pass through a multichannel buffer
// in the output's layout and are written to the card with WriteAudioSamplesSync, either right
// after the frame is shown or from a thread of their own that the frame clock wakes.
//
// Audio stays on its video. Positions are counted on the card's sample grid: sample k starts
// at k / rate seconds of the card's hardware clock, and a period's audio starts with the first
// sample that starts at or after the period. A frame's first sample is due at the start of the
// period in which the frame goes on air. Every write first finds where its next sample would
// land (where the audio already on the card ends; once the card has run dry, the grid position
// of the card's clock) and compares it with where that sample is due: samples whose time has
// passed are dropped, and a gap (a repeated period, a late write, a frame without audio) is
// filled with silence, so the next frame after any disturbance starts on its period again.
// Every correction is counted. A sample within one of its place is left where it is: hosts
// round the fractional periods of the 1001 rates their own way, and moving their frames by a
// sample would click.
//
// Lock: the buffer's own lock guards the buffer and the frames' positions; card calls are made
// without it. The synchronous path runs on the frame clock's thread under the frame clock's
// lock; the thread is the only other reader of the buffer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "com/ptr.h"
#include "decklink/api/decklink_api.h"
#include "pipeline/audio_buffer.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace orvex::decklink {

// Samples per video period as an exact fraction.
struct PeriodSamples {
    std::int64_t num = 0, den = 1;
};
// For a period of `ticks_per_frame` 100-ns ticks (as the frame clock snaps it) at `rate`.
PeriodSamples SamplesPerPeriod(double ticks_per_frame, int rate);
// Grid index of the first sample of `period` (periods counted from hardware time 0).
std::int64_t GridAtPeriod(std::int64_t period, PeriodSamples samples);
// Grid index of the first sample that starts at or after hardware time `hw` (100-ns ticks).
std::int64_t GridAtTime(std::int64_t hw, int rate);

// Audio corrections and losses, counted since the output opened.
struct AudioCounts {
    std::int64_t realigned = 0;        // writes that moved audio back onto its video
    std::int64_t realign_dropped = 0;  // sample frames dropped as past their time
    std::int64_t realign_padded = 0;   // sample frames of silence written into gaps
    std::int64_t dropped = 0;          // sample frames dropped because the card took none
};

class DirectAudio {
public:
    // What may stay in the buffer after a write: 50 ms at 48 kHz. More means the card is not
    // taking audio; it is dropped, so audio cannot pile up behind the video.
    static constexpr int kMaxLeftOver = 48'000 / 20;
    // Frames whose audio may wait in the buffer at once.
    static constexpr std::size_t kMaxFrames = 64;

    DirectAudio();
    ~DirectAudio();
    DirectAudio(const DirectAudio&) = delete;
    DirectAudio& operator=(const DirectAudio&) = delete;

    // Empties the buffer and takes `format` (null or invalid: audio off); forgets where the
    // card's audio ends.
    void Reset(const M_AUD_PROPS* format);
    bool Enabled() const { return enabled_; }
    const M_AUD_PROPS& Format() const { return format_; }

    // Adds a frame's audio, due from grid index `due` on. The last frame of a stream (`last`)
    // also drains the rate converter, so the stream's last milliseconds go out too.
    HRESULT AddFrame(const M_AUD_PROPS* props, const BYTE* data, int bytes, std::int64_t due,
                     bool last = false);
    // Writes what waits, aligned as above. A failing card call returns its code.
    HRESULT Write(IDeckLinkOutput_v9_9* output);

    // The thread. `output` is asked for under the frame clock's lock by the caller-provided
    // function each time the thread is woken.
    using OutputSource = CComPtr<IDeckLinkOutput_v9_9> (*)(void* context);
    bool StartThread(OutputSource source, void* context);
    void StopThread();
    bool ThreadRunning() const { return running_.load(std::memory_order_acquire); }
    void WakeThread() { wake_.Set(); }

    std::int64_t SamplesWritten() const { return written_.load(std::memory_order_relaxed); }
    AudioCounts Counts();
    int Buffered();

private:
    struct Anchor {
        std::int64_t stream = 0;  // index of the frame's first sample in the buffer's stream
        std::int64_t due = 0;     // grid index it is due at
    };
    // Caller holds the buffer's lock.
    std::int64_t HeadDueLocked(std::int64_t* segment_left);
    void ConsumeLocked(int samples);
    // Writes the silence that waits but `keep` sample frames.
    HRESULT WriteSilence(IDeckLinkOutput_v9_9* output, std::int64_t* land, std::int64_t keep);
    // Drops what is past its time and pads up to the head's place, given where the next
    // sample lands; `count` counts it as a correction.
    void AlignLocked(std::int64_t land, bool count);
    // Where a sample written now lands behind `buffered` others, from the card's clock (`hw`,
    // or read now when negative).
    HRESULT Landing(IDeckLinkOutput_v9_9* output, std::int64_t hw, unsigned int buffered,
                    std::int64_t* land);
    void ThreadBody(OutputSource source, void* context);

    CComPtr<pipeline::MAudioBuffer2> buffer_;
    M_AUD_PROPS format_{};
    bool enabled_ = false;
    std::vector<BYTE> zeros_;  // a block of silence in the output layout
    std::atomic<std::int64_t> written_{0};

    // Guarded by the buffer's lock.
    std::array<Anchor, kMaxFrames> anchors_{};
    std::size_t first_anchor_ = 0, anchor_count_ = 0;
    std::int64_t appended_ = 0;  // stream index of the buffer's tail
    std::int64_t removed_ = 0;   // stream index of the buffer's head
    std::int64_t pad_ = 0;       // silence still to write before the head
    int input_rate_ = 0;         // the frames' own rate, and the stream index and input
    std::int64_t input_base_ = 0, input_frames_ = 0;  // sample frames counted from there
    std::int64_t card_end_ = 0;                       // grid index where the audio on the card ends
    bool card_end_known_ = false;
    bool displaced_ = false;  // the last write landed later than it was placed
    AudioCounts counts_;

    platform::Event wake_{platform::Event::ResetMode::kAuto};
    std::atomic<bool> running_{false};
    std::unique_ptr<platform::Thread> thread_;
};

}  // namespace orvex::decklink
