#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pipeline/time_corrector.h"

namespace orvex::pipeline {
namespace {

constexpr LONGLONG kSecond = 10'000'000;
constexpr LONGLONG kMaxJump = 100'000;

M_VID_PROPS Rate(double fps) {
    M_VID_PROPS p{};
    p.dblRate = fps;
    return p;
}

M_TIME Timed(LONGLONG start, LONGLONG end, std::int32_t flags = 0) {
    M_TIME t{};
    t.rtStartTime = start;
    t.rtEndTime = end;
    t.eFFlags = static_cast<eMFrameFlags>(flags);
    return t;
}

TEST(FrameDuration, SnapsCommonRatesAndFallsBackTo25) {
    EXPECT_DOUBLE_EQ(FrameDuration(29.97), 10'010'000.0 / 30);
    EXPECT_DOUBLE_EQ(FrameDuration(30000.0 / 1001), 10'010'000.0 / 30);
    EXPECT_DOUBLE_EQ(FrameDuration(23.976), 10'010'000.0 / 24);
    EXPECT_DOUBLE_EQ(FrameDuration(59.94), 10'010'000.0 / 60);
    EXPECT_DOUBLE_EQ(FrameDuration(50), 200000.0);
    EXPECT_DOUBLE_EQ(FrameDuration(24), 10'000'000.0 / 24);
    EXPECT_DOUBLE_EQ(FrameDuration(48), 10'000'000.0 / 48);  // no range: unrounded
    for (double bad : {0.0, -25.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_DOUBLE_EQ(FrameDuration(bad), 400000.0) << bad;
    // Range bounds are inclusive, on the rounded value.
    double exact = 0;
    EXPECT_TRUE(SnapFrameDuration(417200.4, &exact));
    EXPECT_DOUBLE_EQ(exact, 10'010'000.0 / 24);
    EXPECT_FALSE(SnapFrameDuration(417200.5, &exact));
    EXPECT_DOUBLE_EQ(exact, 417200.5);
    EXPECT_TRUE(SnapFrameDuration(199949.5, &exact));
    EXPECT_FALSE(SnapFrameDuration(166750, &exact));
}

TEST(TimeCorrector, FirstFrameStartsAtNextAndKeepsTheOffset) {
    CMTimeCorrector tc;
    const M_VID_PROPS props = Rate(25);
    M_TIME out{};
    M_TIME in = Timed(5 * kSecond, 5 * kSecond + 400000, 0x30);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    EXPECT_EQ(out.rtStartTime, 0);
    EXPECT_EQ(out.rtEndTime, 400000);
    EXPECT_EQ(out.eFFlags, eMFF_Break);  // break set, bits 0x10 and 0x20 cleared
    for (int i = 1; i < 5; ++i) {
        in = Timed(5 * kSecond + i * 400000, 5 * kSecond + (i + 1) * 400000 - 3, eMFF_Live);
        tc.CorrectTime(&out, &props, &in, kMaxJump);
        EXPECT_EQ(out.rtStartTime, i * 400000);
        EXPECT_EQ(out.rtEndTime, (i + 1) * 400000 - 3);  // a real end is kept
        EXPECT_EQ(out.eFFlags, eMFF_Live);
    }
    EXPECT_EQ(tc.offset, -5 * kSecond);
}

TEST(TimeCorrector, JumpsBeyondTheLimitReanchor) {
    CMTimeCorrector tc;
    tc.ResetTime(1000.0);
    const M_VID_PROPS props = Rate(25);
    M_TIME out{}, in = Timed(kSecond, kSecond + 400000);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    EXPECT_EQ(out.rtStartTime, 1000);
    // Within 10 ms: the offset holds, the gap shows.
    in = Timed(kSecond + 400000 + kMaxJump, kSecond + 800000 + kMaxJump);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    EXPECT_EQ(out.rtStartTime, 1000 + 400000 + kMaxJump);
    const LONGLONG end = out.rtEndTime;
    // Beyond it (either way): the frame starts exactly at the previous end.
    in = Timed(20 * kSecond, 20 * kSecond + 400000);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    EXPECT_EQ(out.rtStartTime, end);
    EXPECT_EQ(out.eFFlags & eMFF_Break, 0);
    in = Timed(kSecond, kSecond + 400000);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    EXPECT_EQ(out.rtStartTime, end + 400000);
    // A zero limit never re-anchors.
    in = Timed(50 * kSecond, 50 * kSecond + 400000);
    tc.CorrectTime(&out, &props, &in, 0);
    EXPECT_EQ(out.rtStartTime, end + 400000 + 49 * kSecond);
}

TEST(TimeCorrector, BreakAndLastFramesStartAtThePreviousEnd) {
    CMTimeCorrector tc;
    const M_VID_PROPS props = Rate(50);
    M_TIME out{}, in = Timed(0, 200000, eMFF_Break);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    for (std::int32_t flag : {int{eMFF_Break}, int{eMFF_Last}}) {
        const LONGLONG end = out.rtEndTime;
        // Only 1 ms off: no jump, but the flag re-anchors anyway.
        in = Timed(in.rtStartTime + 210000, in.rtStartTime + 410000, flag);
        tc.CorrectTime(&out, &props, &in, kMaxJump);
        EXPECT_EQ(out.rtStartTime, end);
        EXPECT_EQ(out.eFFlags & eMFF_Break, 0);
    }
}

TEST(TimeCorrector, ShortFramesGetTheRateDuration) {
    CMTimeCorrector tc;
    const M_VID_PROPS props = Rate(29.97);
    M_TIME out{}, in = Timed(kSecond, kSecond + 1000);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    EXPECT_EQ(out.rtEndTime - out.rtStartTime, 333667);
    in = Timed(out.rtEndTime - tc.offset, out.rtEndTime - tc.offset + 1001);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    EXPECT_EQ(out.rtEndTime - out.rtStartTime, 1001);
    // An end before the start is no duration either.
    in = Timed(out.rtEndTime - tc.offset, 5);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    EXPECT_EQ(out.rtEndTime - out.rtStartTime, 333667);
}

TEST(TimeCorrector, UntimedFramesAreSpacedExactly) {
    CMTimeCorrector tc;
    tc.ResetTime(0.0);
    const M_VID_PROPS props = Rate(29.97);
    M_TIME out{}, none{};
    const double d = 10'010'000.0 / 30;
    for (int i = 0; i < 3000; ++i) {
        tc.CorrectTime(&out, &props, i % 2 ? &none : nullptr, kMaxJump);
        ASSERT_EQ(out.rtStartTime, std::llround(i * d)) << i;
        ASSERT_EQ(out.rtEndTime, std::llround((i + 1) * d)) << i;
    }
    EXPECT_EQ(out.rtEndTime, 1001 * kSecond / 10);  // 3000 frames: 100.1 s exactly
    EXPECT_EQ(tc.offset, CMTimeCorrector::kUnsetOffset);
    EXPECT_EQ(out.eFFlags, eMFF_Break);  // still no offset
    // A pause frame with no time keeps its pause bits.
    none.eFFlags = eMFF_Pause;
    tc.CorrectTime(&out, &props, &none, kMaxJump);
    EXPECT_EQ(out.eFFlags & eMFF_Pause, eMFF_Pause);
}

TEST(TimeCorrector, ExtremeTimesSaturateInsteadOfOverflowing) {
    CMTimeCorrector tc;
    const M_VID_PROPS tiny = Rate(1e-300);
    M_TIME out{}, in = Timed(std::numeric_limits<LONGLONG>::max() - 10, 0);
    tc.ResetTime(1e30);
    tc.CorrectTime(&out, &tiny, &in, kMaxJump);
    EXPECT_EQ(out.rtStartTime, std::numeric_limits<LONGLONG>::max());
    EXPECT_NE(tc.offset, CMTimeCorrector::kUnsetOffset);
    in = Timed(std::numeric_limits<LONGLONG>::min(), std::numeric_limits<LONGLONG>::max());
    tc.CorrectTime(&out, &tiny, &in, kMaxJump);
    tc.CorrectTime(&out, &tiny, nullptr, kMaxJump);
    EXPECT_EQ(tc.CorrectTime(nullptr, &tiny, &in, kMaxJump), nullptr);
}

}  // namespace
}  // namespace orvex::pipeline
