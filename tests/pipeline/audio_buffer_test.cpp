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
using Values = std::vector<std::int32_t>;

// Interleaved ramp: sample i of channel c is base * (c + 1) + i.
Values Ramp(int channels, int samples, std::int32_t base) {
    Values v;
    for (int i = 0; i < samples; ++i)
        for (int c = 0; c < channels; ++c) v.push_back(base * (c + 1) + i);
    return v;
}

TEST(AudioBuffer, RefusesBadInputAndDisabledState) {
    auto buf = MakeBuffer();
    BYTE* out = nullptr;
    const M_AUD_PROPS noRate = Props(2, 0, 16), eightBit = Props(2, 48000, 8),
                      tooMany = Props(129, 48000, 16), stereo = Props(2, 48000, 16);
    EXPECT_EQ(buf->SetFormat(nullptr), kAudioNoFormat);
    EXPECT_EQ(buf->SetFormat(&noRate), E_INVALIDARG);
    for (const M_AUD_PROPS* bad : {&eightBit, &tooMany, static_cast<const M_AUD_PROPS*>(nullptr)})
        EXPECT_EQ(buf->Append(bad, nullptr, 64, false, false), E_INVALIDARG);
    EXPECT_EQ(buf->Append(&stereo, nullptr, -4, false, false), E_INVALIDARG);
    EXPECT_EQ(buf->Read(nullptr, &out, 10, 0, -1, false), 0);  // no format yet

    EXPECT_EQ(buf->Append(&stereo, nullptr, 40, false, false), 10);
    const M_AUD_PROPS disabled = Props(-1, 48000, 16);
    EXPECT_EQ(buf->SetFormat(&disabled), 0);
    EXPECT_EQ(buf->Available(), 0);
    EXPECT_EQ(static_cast<std::uint32_t>(buf->Append(&stereo, nullptr, 40, true, false)),
              0x80070032u);
    EXPECT_EQ(buf->Read(nullptr, &out, 10, 0, -1, false), 0);
    EXPECT_EQ(buf->SetFormat(&stereo), 0);
    EXPECT_EQ(buf->Append(&stereo, nullptr, 40, false, false), 10);
}

TEST(AudioBuffer, RoundTripsReadsShortWithSilenceAndConsumes) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(3, 48000, 16);
    const Values in = Ramp(3, 1000, 1000);
    const auto bytes = Pack(in, 2);
    // Trailing bytes that make no whole sample are ignored.
    ASSERT_EQ(buf->Append(&fmt, bytes.data(), static_cast<int>(bytes.size()) + 5, true, true),
              1000);
    BYTE* out = nullptr;
    ASSERT_EQ(buf->Read(&fmt, &out, 1602, 0, 3, false), 1000);
    const Values got = UnpackAll(out, 1602 * 3, 2);
    EXPECT_EQ(Values(got.begin(), got.begin() + 3000), in);
    EXPECT_EQ(Values(got.begin() + 3000, got.end()), Values(602 * 3, 0));
    EXPECT_EQ(buf->Read(nullptr, &out, -1, 0, -1, false), 1000);  // negative: all stored
    const M_AUD_PROPS otherRate = Props(3, 44100, 16);
    EXPECT_EQ(buf->Read(&otherRate, &out, 10, 0, -1, false), kAudioRateMismatch);
    EXPECT_EQ(out, nullptr);

    int remaining = -1;
    EXPECT_EQ(buf->Consume(30, &remaining), 30);
    EXPECT_EQ(remaining, 970);
    ASSERT_EQ(buf->Read(nullptr, &out, 1, 0, -1, false), 1);
    EXPECT_EQ(UnpackAll(out, 3, 2), (Values{1030, 2030, 3030}));
    EXPECT_EQ(buf->Consume(-1, &remaining), 970);
    EXPECT_EQ(remaining, 0);
}

TEST(AudioBuffer, TwentyFourBitIsStoredInThirtyTwoBitContainers) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(1, 48000, 24), as32 = Props(0, 0, 32);
    const Values in{0x123480, -0x123456, 0x7FFFFF, -0x800000};
    const auto bytes = Pack(in, 3);
    ASSERT_EQ(buf->Append(&fmt, bytes.data(), 12, true, false), 4);
    BYTE* out = nullptr;
    ASSERT_EQ(buf->Read(&as32, &out, 4, 0, -1, false), 4);
    EXPECT_EQ(UnpackAll(out, 4, 4), (Values{0x12348000, -0x12345600, 0x7FFFFF00, INT32_MIN}));
    ASSERT_EQ(buf->Read(nullptr, &out, 4, 0, -1, true), 4);
    EXPECT_EQ(std::vector<BYTE>(out, out + 12), bytes);
    // Narrower output drops the low bits, or rounds (saturating) when asked to.
    const M_AUD_PROPS as16 = Props(0, 0, 16);
    ASSERT_EQ(buf->Read(&as16, &out, 4, 0, -1, false), 4);
    EXPECT_EQ(UnpackAll(out, 4, 2), (Values{0x1234, -0x1235, 0x7FFF, -0x8000}));
    ASSERT_EQ(buf->Read(&as16, &out, 4, 0, -1, true), 4);
    EXPECT_EQ(UnpackAll(out, 4, 2), (Values{0x1235, -0x1234, 0x7FFF, -0x8000}));
    // Converting the store to 16 bits rounds.
    const M_AUD_PROPS fmt16 = Props(1, 48000, 16);
    ASSERT_EQ(buf->SetFormat(&fmt16), 4);
    ASSERT_EQ(buf->Read(nullptr, &out, 4, 0, -1, false), 4);
    EXPECT_EQ(UnpackAll(out, 4, 2), (Values{0x1235, -0x1234, 0x7FFF, -0x8000}));
}

TEST(AudioBuffer, ReadsChannelWindowsWithSilenceBeyondTheStoredChannels) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(4, 48000, 16);
    const auto bytes = Pack(Ramp(4, 8, 100), 2);
    ASSERT_EQ(buf->Append(&fmt, bytes.data(), static_cast<int>(bytes.size()), true, false), 8);
    BYTE* out = nullptr;
    ASSERT_EQ(buf->Read(nullptr, &out, 2, 2, 2, false), 2);
    EXPECT_EQ(UnpackAll(out, 4, 2), (Values{300, 400, 301, 401}));
    ASSERT_EQ(buf->Read(nullptr, &out, 1, 1, 6, false), 1);
    EXPECT_EQ(UnpackAll(out, 6, 2), (Values{200, 300, 400, 0, 0, 0}));
    ASSERT_EQ(buf->Read(nullptr, &out, 3, 10, 2, false), 3);
    EXPECT_EQ(UnpackAll(out, 6, 2), Values(6, 0));
    EXPECT_EQ(buf->Read(nullptr, &out, 3, -1, 2, false), E_INVALIDARG);
    EXPECT_EQ(buf->Read(nullptr, &out, 3, 0, 129, false), E_INVALIDARG);
}

TEST(AudioBuffer, AdoptsOnlyWhenEmptyAndSetFormatConvertsStoredAudio) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS src = Props(2, 48000, 16);
    const auto bytes = Pack(Ramp(2, 480, 1000), 2);
    ASSERT_EQ(buf->Append(&src, bytes.data(), static_cast<int>(bytes.size()), true, false), 480);
    const M_AUD_PROPS wide = Props(4, 48000, 32);
    ASSERT_EQ(buf->SetFormat(&wide), 480);
    // Holding samples, the 16-bit source is converted, not adopted; null data is silence.
    EXPECT_EQ(buf->Append(&src, nullptr, 4, true, false), 481);
    EXPECT_EQ(buf->Format().nBitsPerSample, 32);
    BYTE* out = nullptr;
    ASSERT_EQ(buf->Read(nullptr, &out, 1, 0, -1, false), 1);
    EXPECT_EQ(UnpackAll(out, 4, 4), (Values{1000 << 16, 2000 << 16, 0, 0}));
    const M_AUD_PROPS fast = Props(1, 96000, 32), bad = Props(1, 96000, 64);
    EXPECT_EQ(buf->SetFormat(&fast), 962);
    EXPECT_EQ(buf->SetFormat(&bad), E_INVALIDARG);
    EXPECT_EQ(buf->Available(), 962);
    buf->Consume(-1, nullptr);
    EXPECT_EQ(buf->Append(&src, bytes.data(), 4, true, false), 1);
    EXPECT_EQ(buf->Format().nBitsPerSample, 16);
}

TEST(AudioBuffer, ConsumeMovesRecordedPositions) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(1, 48000, 16);
    ASSERT_EQ(buf->SetFormat(&fmt), 0);
    for (LONGLONG tag = 1; tag <= 3; ++tag) {
        EXPECT_EQ(buf->MarkPosition(tag), (tag - 1) * 100);
        buf->Append(&fmt, nullptr, 200, false, false);
    }
    EXPECT_EQ(buf->Consume(100, nullptr), 100);
    EXPECT_EQ(buf->PositionOf(1), kUnknownPosition);  // inside the consumed part
    EXPECT_EQ(buf->PositionOf(2), 0);
    EXPECT_EQ(buf->PositionOf(3), 100);
}

TEST(AudioBuffer, AllocationFailureEmptiesTheStore) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(2, 48000, 16), src = Props(6, 48000, 24);
    ASSERT_EQ(buf->SetFormat(&fmt), 0);
    buf->SetStoreLimit(1000 * 2);
    EXPECT_EQ(buf->Append(&fmt, nullptr, 900 * 4, false, false), 900);
    buf->MarkPosition(7);
    EXPECT_EQ(buf->Append(&fmt, nullptr, 200 * 4, false, false), E_OUTOFMEMORY);
    EXPECT_EQ(buf->Available(), 0);
    EXPECT_EQ(buf->PositionOf(7), kUnknownPosition);
    // The converting path fails the same way, and the buffer stays usable.
    EXPECT_EQ(buf->Append(&src, nullptr, 1200 * 18, false, true), E_OUTOFMEMORY);
    EXPECT_EQ(buf->Append(&src, nullptr, 100 * 18, false, true), 100);
}

TEST(AudioBuffer, AppendAndReadFromTwoThreads) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS fmt = Props(2, 48000, 16);
    ASSERT_EQ(buf->SetFormat(&fmt), 0);
    constexpr int kFrames = 400, kPerFrame = 960;
    Values in(kPerFrame * 2);
    std::iota(in.begin(), in.end(), 0);
    const auto bytes = Pack(in, 2);
    std::atomic<bool> mismatch{false};
    std::thread reader([&] {
        long long taken = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (taken < kFrames * kPerFrame && std::chrono::steady_clock::now() < deadline) {
            // Read and Consume as one step under the buffer's own lock.
            std::lock_guard lock(*buf);
            BYTE* out = nullptr;
            const int n = buf->Read(nullptr, &out, 256, 0, -1, false);
            for (int i = 0; i < n; ++i)
                if (UnpackAll(out + i * 4, 1, 2)[0] != (taken + i) % kPerFrame * 2) mismatch = true;
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
