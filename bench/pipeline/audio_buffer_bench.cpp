// Cost per video frame of moving one frame of audio through the buffer: append the frame's
// interleaved audio, read one output frame interleaved, consume it. Compared with copying
// the same bytes twice (the least any buffer must do). Divide the time by 20 ms for the share
// of a 50 fps frame period.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "pipeline/audio_buffer.h"

namespace {

using orvex::pipeline::MAudioBuffer2;

std::vector<BYTE> Noise(std::size_t bytes) {
    std::vector<BYTE> v(bytes);
    std::mt19937 rng(7);
    for (auto& b : v) b = static_cast<BYTE>(rng());
    return v;
}

// Copy in and copy out of 16 channels x 960 samples x 4 bytes.
void BM_Baseline_CopyTwice_16ch(benchmark::State& state) {
    const std::size_t bytes = 16 * 960 * 4;
    auto in = Noise(bytes);
    std::vector<BYTE> mid(bytes), out(bytes);
    for (auto _ : state) {
        std::memcpy(mid.data(), in.data(), bytes);
        std::memcpy(out.data(), mid.data(), bytes);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Baseline_CopyTwice_16ch);

void RunFrames(benchmark::State& state, M_AUD_PROPS src, M_AUD_PROPS out, int inSamples,
               int outSamples) {
    auto* buf = new MAudioBuffer2();
    buf->SetFormat(&out);
    const int bytes = inSamples * src.nChannels * (src.nBitsPerSample / 8);
    auto data = Noise(static_cast<std::size_t>(bytes));
    // Prime past the converter's delay so every read is a full frame.
    for (int i = 0; i < 4; ++i) buf->Append(&src, data.data(), bytes, false, true);
    for (auto _ : state) {
        buf->Append(&src, data.data(), bytes, false, true);
        BYTE* p = nullptr;
        const int n = buf->Read(nullptr, &p, outSamples, 0, -1, false);
        benchmark::DoNotOptimize(p);
        buf->Consume(n, nullptr);
    }
    buf->Release();
}

void BM_Frame_16ch_48k_32bit(benchmark::State& state) {
    const M_AUD_PROPS fmt{16, 48000, 32, 0};
    RunFrames(state, fmt, fmt, 960, 960);
}
BENCHMARK(BM_Frame_16ch_48k_32bit);

void BM_Frame_2ch_44k1_16bit_Resampled(benchmark::State& state) {
    RunFrames(state, M_AUD_PROPS{2, 44100, 16, 0}, M_AUD_PROPS{2, 48000, 16, 0}, 882, 960);
}
BENCHMARK(BM_Frame_2ch_44k1_16bit_Resampled);

// The card-facing case of the DeckLink path: stereo 44.1 kHz into a 16-channel 32-bit output.
void BM_Frame_2ch_44k1_16bit_To_16ch_32bit(benchmark::State& state) {
    RunFrames(state, M_AUD_PROPS{2, 44100, 16, 0}, M_AUD_PROPS{16, 48000, 32, 0}, 882, 960);
}
BENCHMARK(BM_Frame_2ch_44k1_16bit_To_16ch_32bit);

// 5.1 24-bit mixed down to stereo 16-bit at the same rate.
void BM_Frame_6ch_24bit_MixDown_2ch_16bit(benchmark::State& state) {
    RunFrames(state, M_AUD_PROPS{6, 48000, 24, 0}, M_AUD_PROPS{2, 48000, 16, 0}, 960, 960);
}
BENCHMARK(BM_Frame_6ch_24bit_MixDown_2ch_16bit);

}  // namespace

BENCHMARK_MAIN();
