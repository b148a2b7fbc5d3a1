// Sample-rate conversion of planar audio, backed by libsoxr.
#pragma once

#include <cstddef>

#include "orvex/types.h"

namespace orvex::pipeline {

// A streaming converter for a fixed set of planar channels: each channel keeps its own filter
// state across calls, so blocks resampled one after another join without clicks and the
// produced length follows the exact rate ratio over any run.
class AudioResampler {
public:
    AudioResampler() = default;
    ~AudioResampler();
    AudioResampler(const AudioResampler&) = delete;
    AudioResampler& operator=(const AudioResampler&) = delete;

    // Keeps the current state when nothing changed; otherwise starts afresh. sampleBytes is
    // the storage width, 2 or 4. False when the converter cannot be created.
    bool Configure(int inRate, int outRate, int channels, int sampleBytes);
    bool Matches(int inRate, int outRate, int channels, int sampleBytes) const noexcept {
        return engine_ && inRate == inRate_ && outRate == outRate_ && channels == channels_ &&
               sampleBytes == sampleBytes_;
    }
    // Upper bound of the samples per channel that Flush can still produce.
    std::size_t Pending() const noexcept;
    int Channels() const noexcept { return channels_; }

    // Resamples up to `inSamples` samples of each channel, writing at most `outCapacity`
    // samples per channel; *consumed gets the input taken (all of it unless the output
    // filled up). Returns the samples produced per channel, or kFailed.
    long long Process(const BYTE* const* in, std::size_t inSamples, BYTE* const* out,
                      std::size_t outCapacity, std::size_t* consumed);
    // Drains what the filters still hold (the end of the stream) and starts afresh.
    long long Flush(BYTE* const* out, std::size_t outCapacity);
    // Forgets the configuration and the state.
    void Reset() noexcept;

    // Resamples one complete block (no state kept): writes about inSamples * outRate / inRate
    // samples of each channel into `out`. Returns the count produced, or kFailed.
    static long long Once(int inRate, int outRate, int sampleBytes, const BYTE* in,
                          std::size_t inSamples, BYTE* out, std::size_t outCapacity);

    // What Process and Once return when the converter cannot run.
    static constexpr long long kFailed = -1;

    // Samples of headroom the output of Process needs beyond the rate ratio.
    static constexpr std::size_t kOutputMargin = 512;

private:
    void* engine_ = nullptr;
    int inRate_ = 0;
    int outRate_ = 0;
    int channels_ = 0;
    int sampleBytes_ = 0;
    bool primed_ = false;  // holds input not yet drained
};

}  // namespace orvex::pipeline
