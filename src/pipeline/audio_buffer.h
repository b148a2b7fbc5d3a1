// Continuous planar audio stream in the output's format, fed with each frame's audio and
// read one video frame's worth at a time.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "com/object.h"
#include "orvex/types.h"
#include "pipeline/audio_resampler.h"
#include "pipeline/channels_buffer.h"

namespace orvex::pipeline {

// Returned by Append on a disabled buffer (ERROR_NOT_SUPPORTED).
constexpr HRESULT E_AUDIO_DISABLED = HRESULT_FROM_WIN32(50);

// The buffer's int results are sample counts, HRESULTs, or one of these.
constexpr int kAudioNoFormat = -1;      // SetFormat without a record
constexpr int kAudioRateMismatch = -1;  // Read at a rate other than the buffer's; nothing written
constexpr int kUnknownPosition = -1;    // PositionOf a tag never marked, or already consumed

// The buffer's own critical section: callers may hold it across several calls (for example a
// Read and the Consume that follows), and every call takes it too, so it is recursive.
class AudioBufferLock {
public:
    void lock() { cs_.lock(); }
    void unlock() { cs_.unlock(); }

private:
    std::recursive_mutex cs_;
};

class MAudioBuffer2 : public AutoObjBase<MAudioBuffer2, IUnknown>, public AudioBufferLock {
public:
    MAudioBuffer2() = default;
    ~MAudioBuffer2() override = default;
    MAudioBuffer2(const MAudioBuffer2&) = delete;
    MAudioBuffer2& operator=(const MAudioBuffer2&) = delete;

    // Sets the output format, converting stored audio to it. Returns the stored samples,
    // kAudioNoFormat for a null pointer, E_INVALIDARG for an invalid format, E_OUTOFMEMORY (store
    // emptied).
    int SetFormat(const M_AUD_PROPS* props);
    // Adds interleaved audio (silence for null data). Returns the stored samples,
    // E_INVALIDARG, E_AUDIO_DISABLED or E_OUTOFMEMORY (store emptied).
    int Append(const M_AUD_PROPS* src, const BYTE* data, int bytes, bool adoptFormat, bool mixDown);
    // Writes `samples` interleaved samples of `channelCount` channels from `firstChannel` on
    // into an internal area returned in *out (valid until the next call); returns the real
    // samples, the rest being silence. kAudioRateMismatch when want's rate differs from the
    // buffer's.
    // ditherOrRound rounds to narrower output widths; otherwise low bits are dropped.
    int Read(const M_AUD_PROPS* want, BYTE** out, int samples, int firstChannel, int channelCount,
             bool ditherOrRound);
    // Drops samples from the head (all for a negative count). Returns the count dropped.
    int Consume(int samples, int* remaining);
    int Available();
    // The end of the stream: what the rate converters still hold back joins the stored
    // samples, so the last few milliseconds of resampled audio are not lost. Returns the
    // stored samples or E_OUTOFMEMORY (store emptied).
    int EndOfStream();

    // Forgets format, samples, converter state and positions.
    void Reset();
    M_AUD_PROPS Format();
    // Remembers the current end of the stream under `tag`; Consume moves it with the head.
    int MarkPosition(LONGLONG tag);
    // Sample position of `tag` from the head, or kUnknownPosition.
    int PositionOf(LONGLONG tag);
    // Caps the stored bytes per channel; growing beyond fails like a failed allocation.
    void SetStoreLimit(std::size_t bytesPerChannel);

private:
    int StoredSamples() const noexcept;
    int TakeFormat(const M_AUD_PROPS& props);
    int Fail(HRESULT hr);
    HRESULT ConvertStoredWidth(int newBytes);
    HRESULT ResampleStored(int newRate);
    HRESULT AppendResampled(AudioResampler& resampler, int srcRate, int channels,
                            std::size_t samples);
    HRESULT FlushResamplers();
    void MovePositions(int consumed);
    void ScalePositions(int oldRate, int newRate);

    M_AUD_PROPS format{};
    MChannelsBuffer store;
    GrowBlock interleaved;
    MChannelsBuffer work;
    AudioResampler resampler16;
    AudioResampler resampler32;
    std::mutex consumeLock;
    // (tag, sample position from the head), guarded by consumeLock.
    std::vector<std::pair<LONGLONG, long long>> positions;
};

}  // namespace orvex::pipeline
