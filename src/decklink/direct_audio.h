// Embedded audio of the frame clock: each frame's samples pass through a multichannel
// buffer in the output's layout and are written to the card with WriteAudioSamplesSync,
// either right after the frame is shown or from a thread of their own. More than 50 ms left
// over after a write is dropped and counted, so audio never drifts behind the video.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "com/ptr.h"
#include "decklink/api/decklink_api.h"
#include "pipeline/audio_buffer.h"
#include "platform/event.h"
#include "platform/thread.h"

namespace orvex::decklink {

class DirectAudio {
public:
    // Writes happen once more than this many sample frames wait (synchronous path).
    static constexpr int kSyncThreshold = 256;
    // The audio thread writes once more than this many wait.
    static constexpr int kThreadThreshold = 128;
    // What may stay in the buffer after a synchronous write: 50 ms at 48 kHz.
    static constexpr int kMaxLeftOver = 48'000 / 20;

    DirectAudio();
    ~DirectAudio();
    DirectAudio(const DirectAudio&) = delete;
    DirectAudio& operator=(const DirectAudio&) = delete;

    // Empties the buffer and takes `format` (null or invalid: audio off).
    void Reset(const M_AUD_PROPS* format);
    bool Enabled() const { return enabled_; }
    const M_AUD_PROPS& Format() const { return format_; }

    // Adds the frame's samples and writes what the card takes. A failing card call returns
    // its code at once. *dropped gets the sample frames dropped past 50 ms. The last frame
    // of a stream (`last`) also drains the rate converter and writes every sample left.
    HRESULT WriteSync(IDeckLinkOutput_v9_9* output, const M_AUD_PROPS* props, const BYTE* data,
                      int bytes, std::int64_t* dropped, bool last = false);

    // The thread. `output` is asked for under the frame clock's lock by the caller-provided
    // function each time a block is ready.
    using OutputSource = CComPtr<IDeckLinkOutput_v9_9> (*)(void* context);
    bool StartThread(OutputSource source, void* context);
    void StopThread();
    bool ThreadRunning() const { return running_.load(std::memory_order_acquire); }
    HRESULT PutForThread(const M_AUD_PROPS* props, const BYTE* data, int bytes, bool last = false);

    std::int64_t SamplesWritten() const { return written_.load(std::memory_order_relaxed); }
    int Buffered();

private:
    void ThreadBody(OutputSource source, void* context);

    CComPtr<pipeline::MAudioBuffer2> buffer_;
    M_AUD_PROPS format_{};
    bool enabled_ = false;
    std::atomic<std::int64_t> written_{0};

    platform::Event wake_{platform::Event::ResetMode::kAuto};
    std::atomic<bool> running_{false};
    std::unique_ptr<platform::Thread> thread_;
};

}  // namespace orvex::decklink
