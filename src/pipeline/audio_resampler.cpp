#include "pipeline/audio_resampler.h"

#include <soxr.h>

#include <array>

#include "pipeline/sample_convert.h"

namespace orvex::pipeline {

namespace {

soxr_datatype_t SplitType(int sampleBytes) {
    return sampleBytes == 2 ? SOXR_INT16_S : SOXR_INT32_S;
}

soxr_io_spec_t IoSpec(int sampleBytes) {
    soxr_io_spec_t io = soxr_io_spec(SplitType(sampleBytes), SplitType(sampleBytes));
    // Output must be reproducible bit for bit; dither would make it differ run to run.
    io.flags |= SOXR_NO_DITHER;
    return io;
}

soxr_runtime_spec_t Runtime() {
    // One thread: the converter runs on the caller's (time-critical) thread only. Small
    // transform blocks keep what the converter holds back between calls under 10 ms at
    // 48 kHz, so a frame's audio is available by the time that frame plays.
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = 8;
    runtime.log2_large_dft_size = 10;
    return runtime;
}

soxr_t Engine(void* p) {
    return static_cast<soxr_t>(p);
}

}  // namespace

AudioResampler::~AudioResampler() {
    Reset();
}

void AudioResampler::Reset() noexcept {
    if (engine_) soxr_delete(Engine(engine_));
    engine_ = nullptr;
    inRate_ = outRate_ = channels_ = sampleBytes_ = 0;
    primed_ = false;
}

std::size_t AudioResampler::Pending() const noexcept {
    if (!engine_ || !primed_) return 0;
    const double delay = soxr_delay(Engine(engine_));
    return static_cast<std::size_t>(delay > 0 ? delay : 0) + kOutputMargin;
}

bool AudioResampler::Configure(int inRate, int outRate, int channels, int sampleBytes) {
    if (Matches(inRate, outRate, channels, sampleBytes)) return true;
    Reset();
    if (inRate <= 0 || outRate <= 0 || channels < 1 || channels > kMaxAudioChannels ||
        (sampleBytes != 2 && sampleBytes != 4))
        return false;
    const soxr_io_spec_t io = IoSpec(sampleBytes);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = Runtime();
    soxr_error_t error = nullptr;
    soxr_t engine = soxr_create(inRate, outRate, static_cast<unsigned>(channels), &error, &io,
                                &quality, &runtime);
    if (!engine || error) {
        if (engine) soxr_delete(engine);
        return false;
    }
    engine_ = engine;
    inRate_ = inRate;
    outRate_ = outRate;
    channels_ = channels;
    sampleBytes_ = sampleBytes;
    return true;
}

long long AudioResampler::Process(const BYTE* const* in, std::size_t inSamples, BYTE* const* out,
                                  std::size_t outCapacity, std::size_t* consumedOut) {
    *consumedOut = 0;
    if (!engine_) return kFailed;
    primed_ = true;
    std::array<const void*, kMaxAudioChannels> inputs{};
    std::array<void*, kMaxAudioChannels> outputs{};
    std::size_t produced = 0;
    std::size_t consumed = 0;
    for (;;) {
        for (int c = 0; c < channels_; ++c) {
            inputs[c] = in[c] + consumed * static_cast<std::size_t>(sampleBytes_);
            outputs[c] = out[c] + produced * static_cast<std::size_t>(sampleBytes_);
        }
        std::size_t used = 0;
        std::size_t made = 0;
        if (soxr_process(Engine(engine_), inputs.data(), inSamples - consumed, &used,
                         outputs.data(), outCapacity - produced, &made))
            return kFailed;
        consumed += used;
        produced += made;
        // Stop when all input is taken, or when no progress is possible (output full).
        if (consumed >= inSamples || (used == 0 && made == 0) || produced >= outCapacity) break;
    }
    *consumedOut = consumed;
    return static_cast<long long>(produced);
}

long long AudioResampler::Flush(BYTE* const* out, std::size_t outCapacity) {
    if (!engine_ || !primed_) return 0;
    primed_ = false;
    std::array<void*, kMaxAudioChannels> outputs{};
    std::size_t produced = 0;
    while (produced < outCapacity) {
        for (int c = 0; c < channels_; ++c)
            outputs[c] = out[c] + produced * static_cast<std::size_t>(sampleBytes_);
        std::size_t made = 0;
        if (soxr_process(Engine(engine_), nullptr, 0, nullptr, outputs.data(),
                         outCapacity - produced, &made))
            break;
        if (made == 0) break;
        produced += made;
    }
    soxr_clear(Engine(engine_));
    return static_cast<long long>(produced);
}

long long AudioResampler::Once(int inRate, int outRate, int sampleBytes, const BYTE* in,
                               std::size_t inSamples, BYTE* out, std::size_t outCapacity) {
    if (inRate <= 0 || outRate <= 0 || (sampleBytes != 2 && sampleBytes != 4)) return kFailed;
    const soxr_io_spec_t io = IoSpec(sampleBytes);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = Runtime();
    const void* inputs[1] = {in};
    void* outputs[1] = {out};
    std::size_t made = 0;
    if (soxr_oneshot(inRate, outRate, 1, inputs, inSamples, nullptr, outputs, outCapacity, &made,
                     &io, &quality, &runtime))
        return kFailed;
    return static_cast<long long>(made);
}

}  // namespace orvex::pipeline
