#include <gtest/gtest.h>

#include <random>

#include "audio_test_util.h"

namespace orvex::pipeline {
namespace {

using testing::MakeBuffer;
using testing::Props;
using Values = std::vector<std::int32_t>;

// One sample per channel, mixed from values.size() channels into `target`, read back.
Values MixOnce(const Values& values, int target, int bits, bool mixDown = true) {
    auto buf = MakeBuffer();
    const int wire = bits / 8;
    const M_AUD_PROPS out = Props(target, 48000, bits);
    const M_AUD_PROPS src = Props(static_cast<int>(values.size()), 48000, bits);
    EXPECT_EQ(buf->SetFormat(&out), 0);
    const auto bytes = testing::Pack(values, wire);
    EXPECT_EQ(buf->Append(&src, bytes.data(), static_cast<int>(bytes.size()), false, mixDown), 1);
    BYTE* data = nullptr;
    EXPECT_EQ(buf->Read(nullptr, &data, 1, 0, -1, false), 1);
    return testing::UnpackAll(data, static_cast<std::size_t>(target), wire);
}

// Channel c carries 1 << c, so every sum shows which channels went into it.
Values Bits(int channels) {
    Values v;
    for (int c = 0; c < channels; ++c) v.push_back(1 << c);
    return v;
}

TEST(AudioMixDown, SixChannelsToStereo) {
    for (int bits : {16, 24, 32})
        EXPECT_EQ(MixOnce(Bits(6), 2, bits), (Values{1 | 4 | 8 | 16, 2 | 4 | 8 | 32})) << bits;
    EXPECT_EQ(MixOnce(Bits(6), 2, 16, false), (Values{1, 2}));  // dropped, not mixed
}

TEST(AudioMixDown, MonoTakesEveryChannelOnce) {
    for (int n : {2, 6, 8, 11, 14}) EXPECT_EQ(MixOnce(Bits(n), 1, 32), Values{(1 << n) - 1}) << n;
}

TEST(AudioMixDown, BackChannelsGoToFrontOrSurroundNeverBoth) {
    EXPECT_EQ(MixOnce(Bits(8), 6, 16), (Values{1, 2, 4, 8, 16 | 64, 32 | 128}));
    EXPECT_EQ(MixOnce(Bits(7), 6, 16), (Values{1, 2, 4, 8, 16 | 64, 32}));
    EXPECT_EQ(MixOnce(Bits(8), 5, 32), (Values{1 | 64, 2 | 32 | 128, 4, 8, 16}));
    EXPECT_EQ(MixOnce(Bits(11), 8, 32),
              (Values{1, 2, 4, 8, 16 | 256 | 512, 32 | 256 | 1024, 64, 128}));
    EXPECT_EQ(MixOnce(Bits(11), 2, 32),
              (Values{1 | 4 | 8 | 16 | 64 | 256 | 512, 2 | 4 | 8 | 32 | 128 | 256 | 1024}));
}

TEST(AudioMixDown, SumsSaturate) {
    EXPECT_EQ(MixOnce({30000, 30000, 30000}, 1, 16), Values{32767});
    EXPECT_EQ(MixOnce({-30000, -30000, -30000}, 2, 16), (Values{-32768, -32768}));
    EXPECT_EQ(MixOnce({INT32_MAX, 5, 9}, 1, 32), Values{INT32_MAX});
    EXPECT_EQ(MixOnce({-0x800000, -0x800000, 0}, 1, 24), Values{-0x800000});
}

// Random formats, lengths and windows: every call stays in bounds and the counts add up.
TEST(AudioBufferSweep, AnyChannelCountWidthAndLengthStaysInBounds) {
    std::mt19937 rng(1234);
    const int widths[] = {16, 24, 32, -16, 20};
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 140; ++round) {
        auto buf = MakeBuffer();
        const int target = round < 128 ? round + 1 : pick(1, 128);
        const M_AUD_PROPS out = Props(target, 48000, widths[pick(0, 4)]);
        ASSERT_EQ(buf->SetFormat(&out), 0);
        int stored = 0;
        for (int call = 0; call < 4; ++call) {
            const bool sameRate = pick(0, 2) > 0;
            const M_AUD_PROPS src =
                Props(pick(1, 128), sameRate ? 48000 : 44100, widths[pick(0, 4)]);
            const int samples = pick(0, 300);
            std::vector<BYTE> data(samples * src.nChannels * WireBytes(src.nBitsPerSample) +
                                   pick(0, 7));
            for (auto& b : data) b = static_cast<BYTE>(rng());
            const int now = buf->Append(&src, call == 3 ? nullptr : data.data(),
                                        static_cast<int>(data.size()), false, pick(0, 1));
            // Same rate: at least the new samples (plus any converter tail).
            ASSERT_GE(now, stored + (sameRate ? samples : 0));
            stored = now;
        }
        BYTE* data = nullptr;
        const int want = pick(-1, 500), first = pick(0, 130), count = pick(-1, 128);
        const M_AUD_PROPS as = Props(0, 0, widths[pick(0, 4)]);
        const int real = buf->Read(&as, &data, want, first, count, pick(0, 1));
        ASSERT_GE(real, 0);
        ASSERT_LE(real, stored);
        const std::size_t area = static_cast<std::size_t>(want < 0 ? real : want) *
                                 (count >= 1 ? count : target) * WireBytes(as.nBitsPerSample);
        volatile BYTE sink = 0;  // the caller may read the whole area
        for (std::size_t i = 0; i < area; ++i) sink = sink ^ data[i];
        int remaining = -1;
        EXPECT_EQ(buf->Consume(pick(-1, 400), &remaining) + remaining, stored);
    }
}

}  // namespace
}  // namespace orvex::pipeline
