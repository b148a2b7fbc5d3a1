#include <gtest/gtest.h>

#include <random>

#include "audio_test_util.h"

namespace orvex::pipeline {
namespace {

using testing::MakeBuffer;
using testing::Pack;
using testing::Props;
using testing::UnpackAll;

// One sample per channel with value `values[c]`, mixed from `source` into a buffer of
// `target` channels (same rate), read back at the buffer's width.
std::vector<std::int32_t> MixOnce(const std::vector<std::int32_t>& values, int target, int bits) {
    auto buf = MakeBuffer();
    const int wire = (bits + 7) / 8;
    const M_AUD_PROPS out = Props(target, 48000, bits);
    const M_AUD_PROPS src = Props(static_cast<int>(values.size()), 48000, bits);
    EXPECT_EQ(buf->SetFormat(&out), 0);
    const auto bytes = Pack(values, wire);
    EXPECT_EQ(buf->Append(&src, bytes.data(), static_cast<int>(bytes.size()), false, true), 1);
    BYTE* data = nullptr;
    EXPECT_EQ(buf->Read(nullptr, &data, 1, 0, -1, false), 1);
    return UnpackAll(data, static_cast<std::size_t>(target), wire);
}

// Channel c carries 1 << c, so every sum shows which channels went into it.
std::vector<std::int32_t> Bits(int channels) {
    std::vector<std::int32_t> v;
    for (int c = 0; c < channels; ++c) v.push_back(1 << c);
    return v;
}

TEST(AudioMixDown, SixChannelsToStereo) {
    // 24-bit source into a 24-bit stereo buffer: 0+2+3+4 and 1+2+3+5.
    EXPECT_EQ(MixOnce(Bits(6), 2, 24), (std::vector<std::int32_t>{1 + 4 + 8 + 16, 2 + 4 + 8 + 32}));
    EXPECT_EQ(MixOnce(Bits(6), 2, 16), (std::vector<std::int32_t>{1 + 4 + 8 + 16, 2 + 4 + 8 + 32}));
    // Without mix-down the extra channels are dropped.
    auto buf = MakeBuffer();
    const M_AUD_PROPS out = Props(2, 48000, 16), src = Props(6, 48000, 16);
    buf->SetFormat(&out);
    const auto bytes = Pack(Bits(6), 2);
    ASSERT_EQ(buf->Append(&src, bytes.data(), 12, false, false), 1);
    BYTE* data = nullptr;
    ASSERT_EQ(buf->Read(nullptr, &data, 1, 0, -1, false), 1);
    EXPECT_EQ(UnpackAll(data, 2, 2), (std::vector<std::int32_t>{1, 2}));
}

TEST(AudioMixDown, MonoTakesEveryChannelOnce) {
    for (int n : {2, 6, 8, 11, 14})
        EXPECT_EQ(MixOnce(Bits(n), 1, 32), std::vector<std::int32_t>{(1 << n) - 1}) << n;
}

TEST(AudioMixDown, BackChannelsGoToFrontOrSurroundNeverBoth) {
    // 7.1 to 5.1: back pair into the surround pair.
    EXPECT_EQ(MixOnce(Bits(8), 6, 16), (std::vector<std::int32_t>{1, 2, 4, 8, 16 | 64, 32 | 128}));
    // 7 channels to 6: channel 6 into 4 only.
    EXPECT_EQ(MixOnce(Bits(7), 6, 16), (std::vector<std::int32_t>{1, 2, 4, 8, 16 | 64, 32}));
    // 8 to 5: channel 6 to the front left, 7 to the front right, 5 to the right.
    EXPECT_EQ(MixOnce(Bits(8), 5, 32), (std::vector<std::int32_t>{1 | 64, 2 | 32 | 128, 4, 8, 16}));
    // 11 to 8: 8 into both surrounds, 9 left surround, 10 right surround.
    EXPECT_EQ(MixOnce(Bits(11), 8, 32),
              (std::vector<std::int32_t>{1, 2, 4, 8, 16 | 256 | 512, 32 | 256 | 1024, 64, 128}));
    // 11 to 2: everything lands in the front pair.
    EXPECT_EQ(MixOnce(Bits(11), 2, 32),
              (std::vector<std::int32_t>{1 | 4 | 8 | 16 | 64 | 256 | 512,
                                         2 | 4 | 8 | 32 | 128 | 256 | 1024}));
}

TEST(AudioMixDown, SumsSaturate) {
    EXPECT_EQ(MixOnce({30000, 30000, 30000}, 1, 16), std::vector<std::int32_t>{32767});
    EXPECT_EQ(MixOnce({-30000, -30000, -30000}, 2, 16),
              (std::vector<std::int32_t>{-32768, -32768}));
    EXPECT_EQ(MixOnce({INT32_MAX, 5, 9}, 1, 32), std::vector<std::int32_t>{INT32_MAX});
    EXPECT_EQ(MixOnce({-0x800000, -0x800000, 0}, 1, 24), std::vector<std::int32_t>{-0x800000});
}

// Random formats, lengths and windows: every call must stay in bounds (run under ASan) and
// the counts must add up.
TEST(AudioBufferSweep, AnyChannelCountWidthAndLengthStaysInBounds) {
    std::mt19937 rng(1234);
    const int widths[] = {16, 24, 32, -16, 20};
    const int rates[] = {48000, 48000, 44100};
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 150; ++round) {
        auto buf = MakeBuffer();
        const int target = round < 128 ? round + 1 : pick(1, 128);
        const M_AUD_PROPS out = Props(target, 48000, widths[pick(0, 4)]);
        ASSERT_EQ(buf->SetFormat(&out), 0);
        long long expected = 0;
        for (int call = 0; call < 4; ++call) {
            const M_AUD_PROPS src = Props(pick(1, 128), rates[pick(0, 2)], widths[pick(0, 4)]);
            const int frame = src.nChannels * ((std::abs(src.nBitsPerSample) + 7) / 8);
            const int samples = pick(0, 300);
            std::vector<BYTE> data(static_cast<std::size_t>(samples) * frame + pick(0, 7));
            for (auto& b : data) b = static_cast<BYTE>(rng());
            const int stored = buf->Append(&src, call == 3 ? nullptr : data.data(),
                                           static_cast<int>(data.size()), false, pick(0, 1));
            // Same rate: at least the new samples (plus any converter tail); otherwise never
            // fewer than before.
            ASSERT_GE(stored, expected + (src.nSamplesPerSec == 48000 ? samples : 0));
            expected = stored;
        }
        BYTE* data = nullptr;
        const int want = pick(-1, 500), first = pick(0, 130), count = pick(-1, 128);
        const M_AUD_PROPS as = Props(0, 0, widths[pick(0, 4)]);
        const int real = buf->Read(&as, &data, want, first, count, pick(0, 1));
        ASSERT_GE(real, 0);
        ASSERT_LE(real, expected);
        if (want > 0) {
            const int channels = count >= 1 ? count : target;
            const int bytes = (std::abs(as.nBitsPerSample) + 7) / 8;
            // Touch the whole area the caller may read.
            volatile BYTE sink = 0;
            for (std::size_t i = 0; i < static_cast<std::size_t>(want) * channels * bytes; ++i)
                sink = sink ^ data[i];
        }
        int remaining = -1;
        EXPECT_EQ(buf->Consume(pick(-1, 400), &remaining) + remaining, expected);
    }
}

}  // namespace
}  // namespace orvex::pipeline
