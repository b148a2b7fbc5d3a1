// The resampler of a build without libsoxr: no configuration is accepted, so audio at
// another rate than the output's is refused where it would be resampled.
#include "pipeline/audio_resampler.h"

namespace orvex::pipeline {

AudioResampler::~AudioResampler() = default;

void AudioResampler::Reset() noexcept {
    inRate_ = outRate_ = channels_ = sampleBytes_ = 0;
    primed_ = false;
}

std::size_t AudioResampler::Pending() const noexcept {
    return 0;
}

bool AudioResampler::Configure(int, int, int, int) {
    Reset();
    return false;
}

long long AudioResampler::Process(const BYTE* const*, std::size_t, BYTE* const*, std::size_t,
                                  std::size_t* consumed) {
    *consumed = 0;
    return kFailed;
}

long long AudioResampler::Flush(BYTE* const*, std::size_t) {
    return 0;
}

long long AudioResampler::Once(int, int, int, const BYTE*, std::size_t, BYTE*, std::size_t) {
    return kFailed;
}

}  // namespace orvex::pipeline
