#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pipeline/time_corrector.h"

namespace orvex::pipeline {
namespace {

constexpr LONGLONG kSecond = 10'000'000;
constexpr LONGLONG kMaxJump = 100'000;
constexpr LONGLONG kMax = std::numeric_limits<LONGLONG>::max();

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
    EXPECT_DOUBLE_EQ(FrameDuration(23.976), 10'010'000.0 / 24);
    EXPECT_DOUBLE_EQ(FrameDuration(59.94), 10'010'000.0 / 60);
    EXPECT_DOUBLE_EQ(FrameDuration(48), 10'000'000.0 / 48);  // no range: unrounded
    for (double bad : {0.0, -25.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_DOUBLE_EQ(FrameDuration(bad), 400000.0) << bad;
    // Bounds are inclusive, on the rounded value.
    double exact = 0;
    EXPECT_TRUE(SnapFrameDuration(417200.4, &exact));
    EXPECT_DOUBLE_EQ(exact, 10'010'000.0 / 24);
    EXPECT_FALSE(SnapFrameDuration(417200.5, &exact));
    EXPECT_DOUBLE_EQ(exact, 417200.5);
    EXPECT_TRUE(SnapFrameDuration(199949.5, &exact));
}

TEST(TimeCorrector, FirstFrameStartsAtNextAndLaterFramesKeepTheOffset) {
    CMTimeCorrector tc;
    const M_VID_PROPS props = Rate(25);
    M_TIME out{}, in = Timed(5 * kSecond, 5 * kSecond + 400000, 0x30);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    EXPECT_EQ(out.rtStartTime, 0);
    EXPECT_EQ(out.rtEndTime, 400000);
    EXPECT_EQ(out.eFFlags, eMFF_Break);  // break set, 0x10 and 0x20 cleared
    for (int i = 1; i < 4; ++i) {
        in = Timed(5 * kSecond + i * 400000, 5 * kSecond + (i + 1) * 400000 - 3, eMFF_Live);
        tc.CorrectTime(&out, &props, &in, kMaxJump);
        EXPECT_EQ(out.rtStartTime, i * 400000);
        EXPECT_EQ(out.rtEndTime, (i + 1) * 400000 - 3);  // a real end is kept
        EXPECT_EQ(out.eFFlags, eMFF_Live);
    }
}

TEST(TimeCorrector, JumpsBeyondTheLimitAndBreaksReanchor) {
    CMTimeCorrector tc;
    tc.ResetTime(1000.0);
    const M_VID_PROPS props = Rate(25);
    M_TIME out{}, in = Timed(kSecond, kSecond + 400000);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    EXPECT_EQ(out.rtStartTime, 1000);
    // Within 10 ms the offset holds and the gap shows.
    in = Timed(kSecond + 400000 + kMaxJump, kSecond + 800000 + kMaxJump);
    tc.CorrectTime(&out, &props, &in, kMaxJump);
    EXPECT_EQ(out.rtStartTime, 1000 + 400000 + kMaxJump);
    // Beyond it, forwards or backwards, or flagged as a break or last frame however close:
    // the frame starts exactly at the previous end.
    const M_TIME next[] = {Timed(20 * kSecond, 20 * kSecond + 400000),
                           Timed(kSecond, kSecond + 400000),
                           Timed(kSecond + 410000, kSecond + 810000, eMFF_Break),
                           Timed(kSecond + 820000, kSecond + 1220000, eMFF_Last)};
    for (const M_TIME& frame : next) {
        const LONGLONG end = out.rtEndTime;
        tc.CorrectTime(&out, &props, &frame, kMaxJump);
        EXPECT_EQ(out.rtStartTime, end);
        EXPECT_EQ(out.eFFlags & eMFF_Break, 0);
    }
    // A zero limit never re-anchors.
    const LONGLONG end = out.rtEndTime;
    in = Timed(50 * kSecond, 50 * kSecond + 400000);
    tc.CorrectTime(&out, &props, &in, 0);
    EXPECT_EQ(out.rtStartTime, end + 50 * kSecond - (kSecond + 1220000));
}

TEST(TimeCorrector, ShortFramesGetTheRateDuration) {
    CMTimeCorrector tc;
    const M_VID_PROPS props = Rate(29.97);
    M_TIME out{};
    // At most 0.1 ms, or an end before the start: the rate's duration; longer: kept.
    for (LONGLONG length : {1000LL, 1001LL, -5LL}) {
        const M_TIME in = Timed(out.rtEndTime + kSecond, out.rtEndTime + kSecond + length);
        tc.CorrectTime(&out, &props, &in, kMaxJump);
        EXPECT_EQ(out.rtEndTime - out.rtStartTime, length == 1001 ? 1001 : 333667);
    }
}

TEST(TimeCorrector, UntimedFramesAreSpacedExactly) {
    CMTimeCorrector tc;
    const M_VID_PROPS props = Rate(29.97);
    M_TIME out{}, none{};
    const double d = 10'010'000.0 / 30;
    for (int i = 0; i < 3000; ++i) {
        tc.CorrectTime(&out, &props, i % 2 ? &none : nullptr, kMaxJump);
        ASSERT_EQ(out.rtStartTime, std::llround(i * d)) << i;
        ASSERT_EQ(out.rtEndTime, std::llround((i + 1) * d)) << i;
    }
    EXPECT_EQ(out.rtEndTime, 1001 * kSecond / 10);  // 3000 frames: 100.1 s exactly
    EXPECT_EQ(out.eFFlags, eMFF_Break);             // still no offset
    // Not untimed: anchors at `next` (truncated, so within a tick) and keeps its pause bits.
    none.eFFlags = eMFF_Pause;
    tc.CorrectTime(&out, &props, &none, kMaxJump);
    EXPECT_LE(std::llabs(out.rtStartTime - 1001 * kSecond / 10), 1);
    EXPECT_EQ(out.eFFlags, eMFF_Pause);
}

TEST(TimeCorrector, ExtremeTimesSaturateInsteadOfOverflowing) {
    CMTimeCorrector tc;
    const M_VID_PROPS tiny = Rate(1e-300);
    M_TIME out{}, in = Timed(kMax - 10, 0);
    tc.ResetTime(1e30);
    tc.CorrectTime(&out, &tiny, &in, kMaxJump);
    EXPECT_EQ(out.rtStartTime, kMax);
    EXPECT_NE(tc.offset, CMTimeCorrector::kUnsetOffset);
    in = Timed(std::numeric_limits<LONGLONG>::min(), kMax);
    tc.CorrectTime(&out, &tiny, &in, kMaxJump);
    tc.CorrectTime(&out, &tiny, nullptr, kMaxJump);
    EXPECT_EQ(tc.CorrectTime(nullptr, &tiny, &in, kMaxJump), nullptr);
}

}  // namespace
}  // namespace orvex::pipeline
