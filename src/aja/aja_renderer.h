// One output channel of one AJA board: its set-up (format, reference, VANC, audio, routing,
// AutoCirculate ring), the one-frame mailbox between the renderer's frame handler and the
// playout thread, and the playout thread that keeps the board's ring filled.
//
// Figures in the node "stat" of the renderer's tree: "aja.frames" (frames transferred to the
// ring), "aja.dropped" (frames that never reached the ring: the mailbox stayed full for
// 500 ms, or the output could not be opened for them), "aja.transfer_errors" (transfers the
// board refused), "aja.audio_realigned" (transfers whose audio was moved back onto its frame)
// and "aja.audio_realign_dropped" (the sample frames that took).
//
// Audio stays on its frame: the board starts each new frame's audio at the frame's interrupt
// and plays the audio cadence of the rate, so each transfer carries the cadence's samples for
// the interrupt the frame will play in, beginning with the frame's own first sample (silence
// after the frame's last). What a frame carried beyond its interrupt is dropped and counted.
//
// Locks: the renderer's output lock (read around PutFrame, write around Stop from a close),
// then mailboxLock_. The playout thread takes only mailboxLock_ and never waits while
// holding it; every wait on the board is bounded (50 ms per vertical interrupt).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "aja/aja_locker.h"
#include "aja/ntv2/ntv2card.h"
#include "aja/ntv2/ntv2devicescanner.h"
#include "aja/ntv2/ntv2task.h"
#include "com/ptr.h"
#include "orvex/interfaces.h"
#include "pipeline/active_thread.h"
#include "pipeline/audio_buffer.h"
#include "platform/event.h"

namespace orvex::aja {

// The NTV2 format of an eMVideoFormat (its low 8 bits); NTV2_FORMAT_UNKNOWN when unsupported.
NTV2VideoFormat NTV2FormatFor(eMVideoFormat format);
// The timecode format written with frames of `format`; `dropFrame` picks the drop-frame
// variant where the format has one.
TimecodeFormat TimecodeFormatFor(eMVideoFormat format, bool dropFrame);

// SetUp results.
inline constexpr int kSetUpReady = 2;
inline constexpr int kSetUpFailed = 0;
inline constexpr int kSetUpLockRefused = -2;
inline constexpr int kSetUpNoSuchFormat = -12;

class AJARenderer {
public:
    // `driverBuffers`, when given, is the renderer's current "driver.buffers" (kept by its
    // owner as the setting changes), read by the playout loop instead of the tree.
    explicit AJARenderer(const std::atomic<int>* driverBuffers = nullptr);
    ~AJARenderer();
    AJARenderer(const AJARenderer&) = delete;
    AJARenderer& operator=(const AJARenderer&) = delete;

    HRESULT Attach(int boardIndex, int channel);
    const std::string& BoardIdentifier() const { return info_.deviceIdentifier; }
    int Channel() const { return channel_; }
    bool Busy() const { return ChannelBusy(info_.deviceIdentifier, channel_); }
    bool Claimed() const { return channelLock_ != nullptr; }

    // Hands a frame to the playout thread, (re)opening the output for its format.
    HRESULT PutFrame(IOXFrame* frame, IMNode* props);
    HRESULT Open(const M_AV_PROPS* props, IMNode* node);
    void Stop();
    bool IsActive();
    int SetUp(const M_AV_PROPS* props);

    NTV2VideoFormat VideoFormat() const { return videoFormat_; }

private:
    static DWORD PlayoutRoutine(void* param);
    void Playout();
    // Takes the waiting frame for a transfer; null when there is none. `status` is the ring's,
    // read just before.
    CComPtr<IOXFrame> PrepareTransfer(const AUTOCIRCULATE_STATUS_STRUCT& status);
    int ReadInt(const char16_t* name, int fallback);
    bool ReadBool(const char16_t* name, bool fallback);
    std::u16string ReadText(const char16_t* name);
    // Adds one to `counter` and publishes it as `name` in the statistics node.
    void Count(std::atomic<int>& counter, const CComBSTR& name);
    // Takes the audio of the frame being transferred: `interrupt` is the one it will play in,
    // counted from the first frame on air.
    void TakeAudio(std::int64_t interrupt);

    CComPtr<IMNode> props_;
    const std::atomic<int>* driverBuffers_ = nullptr;
    CComPtr<IMNode> stat_;  // set by Open while the playout thread is stopped
    std::atomic<int> framesTransferred_{0}, framesDropped_{0}, transferErrors_{0};
    std::atomic<int> audioRealigned_{0}, audioRealignDropped_{0};
    const CComBSTR framesName_{u"aja.frames"}, droppedName_{u"aja.dropped"},
        errorsName_{u"aja.transfer_errors"}, realignedName_{u"aja.audio_realigned"},
        realignDroppedName_{u"aja.audio_realign_dropped"};
    CNTV2Card card_;
    NTV2DeviceInfo info_;
    int boardIndex_ = -1;
    pipeline::CActiveThread playoutThread_;
    AUTOCIRCULATE_TRANSFER_STRUCT transfer_{};
    AUTOCIRCULATE_TRANSFER_STATUS_STRUCT transferStatus_{};
    CNTV2Task task_;
    int channel_ = 0;
    NTV2VideoFormat videoFormat_ = NTV2_FORMAT_UNKNOWN;
    M_AUD_PROPS audioProps_{};
    std::mutex mailboxLock_;
    CComPtr<IOXFrame> pending_;
    platform::Event slotFree_{platform::Event::ResetMode::kManual, true};
    platform::Event framePending_{platform::Event::ResetMode::kAuto, false};  // wakes playout
    pipeline::MAudioBuffer2* audio_ = nullptr;                                // own reference
    // Under mailboxLock_: stream indices of the audio buffer's tail and head, and of the
    // waiting frame's first sample.
    std::int64_t audioAppended_ = 0, audioRemoved_ = 0, pendingAudioStart_ = 0;
    std::uint64_t frameCounter_ = 0;
    bool noVbiWait_ = false;
    bool multiFormat_ = false;
    std::unique_ptr<AJALocker> channelLock_;
    std::unique_ptr<AJALocker> formatLock_;

    // Set-up results.
    NTV2AudioSystem audioSystem_ = NTV2_AUDIOSYSTEM_1;
    NTV2FrameBufferFormat frameBufferFormat_ = NTV2_FBF_8BIT_YCBCR;
    ULWord frameSize_ = 0;
    ULWord audioTransferSize_ = 0;
    NTV2Crosspoint crosspoint_ = NTV2CROSSPOINT_CHANNEL1;
    eMVideoFormat sourceFormat_ = eMVF_Custom;
};

}  // namespace orvex::aja
