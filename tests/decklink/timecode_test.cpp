// The timecode format chosen by the settings and what goes onto the card's frame.
#include <gtest/gtest.h>

#include "captions_fakes.h"
#include "decklink/timecode.h"

namespace {

using namespace orvex::decklink;
using orvex::test::FakeDeckFrame;

TEST(Timecode, FormatFollowsTheSettingAndTheOutput) {
    struct Case {
        const char16_t* setting;
        int format;
        std::optional<BMDTimecodeFormat> expect;
    } cases[] = {
        {u"auto", eMVF_PAL, bmdTimecodeVITC},
        {u"auto", eMVF_HD720_5994p, bmdTimecodeRP188VITC1},
        {u"auto", eMVF_3D_SbS_1080_25p, bmdTimecodeRP188VITC1},
        {u"something else", eMVF_PAL_16x9, bmdTimecodeVITC},
        {u"rp188-vitc2", eMVF_HD1080_50i, bmdTimecodeRP188VITC2},
        {u"vitc-2", eMVF_NTSC, bmdTimecodeVITCField2},
        {u"disabled", eMVF_PAL, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TimecodeFormatFor(c.setting, c.format), c.expect)
            << std::string(c.setting, c.setting + std::char_traits<char16_t>::length(c.setting));
}

TEST(Timecode, ComponentsAndDropFrameReachTheFrame) {
    struct Case {
        M_TIMECODE tc;
        bool enabled;
        std::optional<BMDTimecodeFormat> format;
        bool set;
        unsigned char h = 0, m = 0, s = 0, f = 0;
        BMDTimecodeFlags flags = 0;
    };
    // clang-format off
    const Case cases[] = {
        {{10, 20, 30, 12, eMTCF_NonDropFrame, 0}, true, bmdTimecodeVITC, true, 10, 20, 30, 12, 0},
        {{1, 2, 3, 4, eMTCF_Rate_30_DF, 0}, true, bmdTimecodeRP188VITC1, true, 1, 2, 3, 4,
         bmdTimecodeIsDropFrame},
        // Only the low byte of each component is a digit pair.
        {{0x123, 0x104, 0x105, 0x106, eMTCF_NonDropFrame, 0}, true, bmdTimecodeVITC, true,
         0x23, 4, 5, 6, 0},
        {{1, 2, 3, 4, static_cast<eMTimecodeFlags>(0x80000000u), 0}, true, bmdTimecodeVITC, false},
        {{1, 2, 3, 4, eMTCF_NonDropFrame, 0}, false, bmdTimecodeVITC, false},
        {{1, 2, 3, 4, eMTCF_NonDropFrame, 0}, true, std::nullopt, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        FakeDeckFrame frame(16, 2, bmdFormat8BitYUV, 32);
        M_TIME time{};
        time.tcFrame = c.tc;
        EXPECT_EQ(PutTimecode(&frame, time, c.enabled, c.format), c.set);
        ASSERT_EQ(frame.timecode.has_value(), c.set);
        if (!c.set) continue;
        EXPECT_EQ(frame.timecode->format, *c.format);
        EXPECT_EQ(frame.timecode->h, c.h);
        EXPECT_EQ(frame.timecode->m, c.m);
        EXPECT_EQ(frame.timecode->s, c.s);
        EXPECT_EQ(frame.timecode->f, c.f);
        EXPECT_EQ(frame.timecode->flags, c.flags);
    }
}

}  // namespace
