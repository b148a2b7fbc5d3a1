#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <thread>

#include "audio_test_util.h"

namespace orvex::pipeline {
namespace {

using testing::MakeBuffer;
using testing::Pack;
using testing::Props;
using testing::UnpackAll;

// Interleaved ramp: sample i of channel c is base * (c + 1) + i.
std::vector<std::int32_t> Ramp(int channels, int samples, std::int32_t base) {
    std::vector<std::int32_t> v;
    for (int i = 0; i < samples; ++i)
        for (int c = 0; c < channels; ++c) v.push_back(base * (c + 1) + i);
    return v;
}

TEST(AudioBuffer, RefusesBadArgumentsAndDisabledState) {
    auto buf = MakeBuffer();
    BYTE* out = reinterpret_cast<BYTE*>(1);
    EXPECT_EQ(buf->SetFormat(nullptr), -1);
    const M_AUD_PROPS noRate = Props(2, 0, 16), eightBit = Props(2, 48000, 8),
                      tooMany = Props(129, 48000, 16);
    EXPECT_EQ(buf->SetFormat(&noRate), E_INVALIDARG);
    EXPECT_EQ(buf->Append(&eightBit, nullptr, 64, false, false), E_INVALIDARG);
    EXPECT_EQ(buf->Append(&tooMany, nullptr, 64, false, false), E_INVALIDARG);
    EXPECT_EQ(buf->Append(nullptr, nullptr, 64, false, false), E_INVALIDARG);
    // No format yet: reads as empty.
    EXPECT_EQ(buf->Read(nullptr, &out, 10, 0, -1, false), 0);
    EXPECT_EQ(out, nullptr);

    const M_AUD_PROPS stereo = Props(2, 48000, 16);
    EXPECT_EQ(buf->Append(&stereo, nullptr, -4, false, false), E_INVALIDARG);
    EXPECT_EQ(buf->Append(&stereo, nullptr, 40, false, false), 10);
    const M_AUD_PROPS disabled = Props(-1, 48000, 16);
    EXPECT_EQ(buf->SetFormat(&disabled), 0);
    EXPECT_EQ(buf->Available(), 0);
    EXPECT_EQ(buf->Append(&stereo, nullptr, 40, true, false), E_AUDIO_DISABLED);
    EXPECT_EQ(static_cast<std::uint32_t>(E_AUDIO_DISABLED), 0x80070032u);
    EXPECT_EQ(buf->Read(nullptr, &out, 10, 0, -1, false), 0);
    // Enabling again takes the new format.
    EXPECT_EQ(buf->SetFormat(&stereo), 0);
    EXPECT_EQ(buf->Append(&stereo, nullptr, 40, false, false), 10);
}

TEST(AudioBuffer, SameFormatRoundTripsAndConsumes) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(3, 48000, 16);
    const auto in = Ramp(3, 100, 1000);
    const auto bytes = Pack(in, 2);
    // Trailing bytes that do not make a whole sample are ignored.
    EXPECT_EQ(buf->Append(&fmt, bytes.data(), static_cast<int>(bytes.size()) + 5, true, true), 100);
    EXPECT_EQ(buf->Append(&fmt, bytes.data(), static_cast<int>(bytes.size()), false, true), 200);

    BYTE* out = nullptr;
    ASSERT_EQ(buf->Read(&fmt, &out, 100, 0, 3, false), 100);
    EXPECT_EQ(UnpackAll(out, in.size(), 2), in);

    int remaining = -1;
    EXPECT_EQ(buf->Consume(30, &remaining), 30);
    EXPECT_EQ(remaining, 170);
    ASSERT_EQ(buf->Read(nullptr, &out, 1, 0, -1, false), 1);
    EXPECT_EQ(UnpackAll(out, 3, 2), (std::vector<std::int32_t>{1030, 2030, 3030}));
    EXPECT_EQ(buf->Consume(1000, &remaining), 170);
    EXPECT_EQ(remaining, 0);
    EXPECT_EQ(buf->Append(&fmt, bytes.data(), 6, false, false), 1);
    EXPECT_EQ(buf->Consume(-1, &remaining), 1);
    EXPECT_EQ(buf->Available(), 0);
}

TEST(AudioBuffer, ShortReadIsPaddedWithSilence) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(2, 48000, 32);
    std::vector<std::int32_t> in(2000, 0x12345678);
    const auto bytes = Pack(in, 4);
    ASSERT_EQ(buf->Append(&fmt, bytes.data(), static_cast<int>(bytes.size()), true, false), 1000);
    BYTE* out = nullptr;
    ASSERT_EQ(buf->Read(nullptr, &out, 1602, 0, -1, false), 1000);
    const auto got = UnpackAll(out, 1602 * 2, 4);
    EXPECT_TRUE(
        std::all_of(got.begin(), got.begin() + 2000, [](auto v) { return v == 0x12345678; }));
    EXPECT_TRUE(std::all_of(got.begin() + 2000, got.end(), [](auto v) { return v == 0; }));
    // A negative count reads everything stored.
    EXPECT_EQ(buf->Read(nullptr, &out, -1, 0, -1, false), 1000);
    // A different rate is refused without touching the output.
    const M_AUD_PROPS other = Props(2, 44100, 32);
    out = nullptr;
    EXPECT_EQ(buf->Read(&other, &out, 10, 0, -1, false), -1);
    EXPECT_EQ(out, nullptr);
}

TEST(AudioBuffer, TwentyFourBitIsStoredInThirtyTwoBitContainers) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(1, 48000, 24);
    const std::vector<std::int32_t> in{0x123480, -0x123456, 0x7FFFFF, -0x800000};
    const auto bytes = Pack(in, 3);
    ASSERT_EQ(buf->Append(&fmt, bytes.data(), static_cast<int>(bytes.size()), true, false), 4);
    BYTE* out = nullptr;
    const M_AUD_PROPS as32 = Props(0, 0, 32);
    ASSERT_EQ(buf->Read(&as32, &out, 4, 0, -1, false), 4);
    EXPECT_EQ(UnpackAll(out, 4, 4),
              (std::vector<std::int32_t>{0x12348000, -0x12345600, 0x7FFFFF00, INT32_MIN}));
    ASSERT_EQ(buf->Read(nullptr, &out, 4, 0, -1, true), 4);
    EXPECT_EQ(std::vector<BYTE>(out, out + 12), bytes);
    // Converting the stored audio to 16 bits rounds, saturating at the top.
    const M_AUD_PROPS fmt16 = Props(1, 48000, 16);
    ASSERT_EQ(buf->SetFormat(&fmt16), 4);
    ASSERT_EQ(buf->Read(nullptr, &out, 4, 0, -1, false), 4);
    EXPECT_EQ(UnpackAll(out, 4, 2), (std::vector<std::int32_t>{0x1235, -0x1234, 0x7FFF, -0x8000}));
}

TEST(AudioBuffer, NarrowingOnReadTruncatesOrRounds) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(1, 48000, 32);
    const std::vector<std::int32_t> in{0x00018000, -0x00018000, 0x7FFFFFFF, 0x00017FFF};
    const auto bytes = Pack(in, 4);
    ASSERT_EQ(buf->Append(&fmt, bytes.data(), static_cast<int>(bytes.size()), true, false), 4);
    const M_AUD_PROPS as16 = Props(0, 0, 16);
    BYTE* out = nullptr;
    ASSERT_EQ(buf->Read(&as16, &out, 4, 0, -1, false), 4);
    EXPECT_EQ(UnpackAll(out, 4, 2), (std::vector<std::int32_t>{1, -2, 0x7FFF, 1}));
    ASSERT_EQ(buf->Read(&as16, &out, 4, 0, -1, true), 4);
    EXPECT_EQ(UnpackAll(out, 4, 2), (std::vector<std::int32_t>{2, -1, 0x7FFF, 1}));
    // 16-bit source widens exactly into 32-bit storage and back.
    auto wide = MakeBuffer();
    ASSERT_EQ(wide->SetFormat(&fmt), 0);
    const M_AUD_PROPS src16 = Props(1, 48000, 16);
    const auto small = Pack({-32768, -1, 0, 32767}, 2);
    ASSERT_EQ(wide->Append(&src16, small.data(), 8, false, false), 4);
    ASSERT_EQ(wide->Read(&as16, &out, 4, 0, -1, true), 4);
    EXPECT_EQ(UnpackAll(out, 4, 2), (std::vector<std::int32_t>{-32768, -1, 0, 32767}));
}

TEST(AudioBuffer, ReadsChannelWindowsAndWidensWithSilence) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(4, 48000, 16);
    const auto bytes = Pack(Ramp(4, 8, 100), 2);
    ASSERT_EQ(buf->Append(&fmt, bytes.data(), static_cast<int>(bytes.size()), true, false), 8);
    BYTE* out = nullptr;
    // Channels 2 and 3 only.
    ASSERT_EQ(buf->Read(nullptr, &out, 2, 2, 2, false), 2);
    EXPECT_EQ(UnpackAll(out, 4, 2), (std::vector<std::int32_t>{300, 400, 301, 401}));
    // Six channels from channel 1: three real, three silent.
    ASSERT_EQ(buf->Read(nullptr, &out, 1, 1, 6, false), 1);
    EXPECT_EQ(UnpackAll(out, 6, 2), (std::vector<std::int32_t>{200, 300, 400, 0, 0, 0}));
    // A window wholly past the stored channels is silent but counts the real samples.
    ASSERT_EQ(buf->Read(nullptr, &out, 3, 10, 2, false), 3);
    EXPECT_EQ(UnpackAll(out, 6, 2), std::vector<std::int32_t>(6, 0));
    EXPECT_EQ(buf->Read(nullptr, &out, 3, -1, 2, false), E_INVALIDARG);
    EXPECT_EQ(buf->Read(nullptr, &out, 3, 0, 129, false), E_INVALIDARG);
    EXPECT_EQ(buf->Read(nullptr, nullptr, 3, 0, 2, false), E_POINTER);
}

TEST(AudioBuffer, NullDataAppendsSilenceAndAdoptsOnlyWhenEmpty) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS out48 = Props(2, 48000, 32);
    ASSERT_EQ(buf->SetFormat(&out48), 0);
    EXPECT_EQ(buf->Append(&out48, nullptr, 8, false, false), 1);
    BYTE* out = nullptr;
    ASSERT_EQ(buf->Read(nullptr, &out, 1, 0, -1, false), 1);
    EXPECT_EQ(UnpackAll(out, 2, 4), (std::vector<std::int32_t>{0, 0}));
    // Holding samples, adoption is not allowed: the stereo 16-bit source is converted.
    const M_AUD_PROPS src16 = Props(2, 48000, 16);
    const auto bytes = Pack({1, 2}, 2);
    EXPECT_EQ(buf->Append(&src16, bytes.data(), 4, true, false), 2);
    EXPECT_EQ(buf->Format().nBitsPerSample, 32);
    ASSERT_EQ(buf->Read(nullptr, &out, 2, 0, -1, false), 2);
    EXPECT_EQ(UnpackAll(out, 4, 4), (std::vector<std::int32_t>{0, 0, 1 << 16, 2 << 16}));
    // Empty again: the source format is adopted.
    buf->Consume(-1, nullptr);
    EXPECT_EQ(buf->Append(&src16, bytes.data(), 4, true, false), 1);
    EXPECT_EQ(buf->Format().nBitsPerSample, 16);
}

TEST(AudioBuffer, SetFormatConvertsStoredAudio) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(2, 48000, 16);
    const auto bytes = Pack(Ramp(2, 480, 1000), 2);
    ASSERT_EQ(buf->Append(&fmt, bytes.data(), static_cast<int>(bytes.size()), true, false), 480);
    // Wider and with more channels: values kept, new channels silent.
    const M_AUD_PROPS wide = Props(4, 48000, 32);
    ASSERT_EQ(buf->SetFormat(&wide), 480);
    BYTE* out = nullptr;
    ASSERT_EQ(buf->Read(nullptr, &out, 1, 0, -1, false), 1);
    EXPECT_EQ(UnpackAll(out, 4, 4), (std::vector<std::int32_t>{1000 << 16, 2000 << 16, 0, 0}));
    // Twice the rate gives twice the samples.
    const M_AUD_PROPS fast = Props(1, 96000, 32);
    EXPECT_EQ(buf->SetFormat(&fast), 960);
    EXPECT_EQ(buf->Format().nChannels, 1);
    // An invalid format leaves the stored audio alone.
    const M_AUD_PROPS bad = Props(1, 96000, 64);
    EXPECT_EQ(buf->SetFormat(&bad), E_INVALIDARG);
    EXPECT_EQ(buf->Available(), 960);
}

TEST(AudioBuffer, ConsumeMovesRecordedPositions) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(1, 48000, 16);
    ASSERT_EQ(buf->SetFormat(&fmt), 0);
    EXPECT_EQ(buf->MarkPosition(1), 0);
    buf->Append(&fmt, nullptr, 200, false, false);
    EXPECT_EQ(buf->MarkPosition(2), 100);
    buf->Append(&fmt, nullptr, 200, false, false);
    EXPECT_EQ(buf->MarkPosition(3), 200);
    EXPECT_EQ(buf->Consume(100, nullptr), 100);
    EXPECT_EQ(buf->PositionOf(1), -1);  // inside the consumed part
    EXPECT_EQ(buf->PositionOf(2), 0);
    EXPECT_EQ(buf->PositionOf(3), 100);
    EXPECT_EQ(buf->Consume(-1, nullptr), 100);
    EXPECT_EQ(buf->PositionOf(2), -1);
    EXPECT_EQ(buf->PositionOf(3), 0);
}

TEST(AudioBuffer, AllocationFailureEmptiesTheStore) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(2, 48000, 16);
    ASSERT_EQ(buf->SetFormat(&fmt), 0);
    buf->SetStoreLimit(1000 * 2);
    EXPECT_EQ(buf->Append(&fmt, nullptr, 900 * 4, false, false), 900);
    buf->MarkPosition(7);
    EXPECT_EQ(buf->Append(&fmt, nullptr, 200 * 4, false, false), E_OUTOFMEMORY);
    EXPECT_EQ(buf->Available(), 0);
    EXPECT_EQ(buf->PositionOf(7), -1);
    // The converting path fails the same way, and the buffer stays usable.
    const M_AUD_PROPS src = Props(6, 48000, 24);
    EXPECT_EQ(buf->Append(&src, nullptr, 1200 * 18, false, true), E_OUTOFMEMORY);
    EXPECT_EQ(buf->Append(&src, nullptr, 100 * 18, false, true), 100);
}

TEST(AudioBuffer, AppendAndReadFromTwoThreads) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(2, 48000, 16);
    ASSERT_EQ(buf->SetFormat(&fmt), 0);
    constexpr int kFrames = 400, kPerFrame = 960;
    std::vector<std::int32_t> in(kPerFrame * 2);
    std::iota(in.begin(), in.end(), 0);
    const auto bytes = Pack(in, 2);
    std::atomic<bool> mismatch{false};
    std::thread reader([&] {
        long long taken = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (taken < kFrames * kPerFrame && std::chrono::steady_clock::now() < deadline) {
            std::lock_guard lock(*buf);
            BYTE* out = nullptr;
            const int n = buf->Read(nullptr, &out, 256, 0, -1, false);
            for (int i = 0; i < n; ++i) {
                const long long at = (taken + i) % kPerFrame;
                if (testing::Unpack(out + i * 4, 2) != static_cast<std::int16_t>(at * 2))
                    mismatch = true;
            }
            taken += buf->Consume(n, nullptr);
            if (n == 0) std::this_thread::yield();
        }
        EXPECT_EQ(taken, kFrames * kPerFrame);
    });
    for (int f = 0; f < kFrames; ++f)
        ASSERT_GT(buf->Append(&fmt, bytes.data(), static_cast<int>(bytes.size()), false, true), 0);
    reader.join();
    EXPECT_FALSE(mismatch);
}

}  // namespace
}  // namespace orvex::pipeline
