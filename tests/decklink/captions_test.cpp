// What goes onto a card frame: captions in the picture and in the blanking, copied blanking
// lines in the order the setting asks, and the timecode in the format the settings choose.
#include <gtest/gtest.h>

#include <tuple>

#include "captions_fakes.h"
#include "captions_gst.h"
#include "decklink/captions.h"
#include "decklink/cdp.h"
#include "decklink/timecode.h"
#include "decklink/vanc.h"
#include "props/xml_node.h"

namespace {

using namespace orvex::decklink;
using orvex::test::FakeDeckFrame;
using orvex::test::FakeOutput;
using orvex::test::Ga94Item;
using orvex::test::ItemFrame;
using Bytes = std::vector<std::uint8_t>;

M_VID_PROPS Output(eMVideoFormat format, int width) {
    M_VID_PROPS p{};
    p.eVideoFormat = format;
    p.nWidth = width;
    return p;
}

struct Rig {
    Rig(eMVideoFormat format, int width, int height, BMDPixelFormat pixels)
        : props(Output(format, width)),
          output(V210RowBytes(width)),
          deck(width, height, pixels,
               pixels == bmdFormat10BitYUV ? static_cast<int>(V210RowBytes(width)) : width * 2) {}
    FrameDataResult Put() { return writer.PutFrameData(&frame, &output, &deck, props, settings); }
    Bytes& Line(unsigned n) { return output.ancillary.lines[n]; }

    M_VID_PROPS props;
    FakeOutput output;
    FakeDeckFrame deck;
    ItemFrame frame;
    CaptionSettings settings;
    FrameDataWriter writer;
};

// Line 21 goes into NTSC 8-bit pictures only while its bit is set; 8-bit outputs get no packets.
TEST(PutFrameData, Line21AndTimecodeWithoutPacketsOnAn8BitOutput) {
    struct Case {
        eMVideoFormat format;
        int height, cc_output;
        bool line21;
    } cases[] = {{eMVF_NTSC, 486, -1, true},
                 {eMVF_PAL, 576, -1, false},
                 {eMVF_NTSC, 486, kCc608 | kCc708, false}};
    for (const Case& c : cases) {
        Rig rig(c.format, 720, c.height, bmdFormat8BitYUV);
        if (c.cc_output >= 0) rig.settings.cc_output = c.cc_output;
        rig.frame.items[kItemC608] = {0x94, 0x2C, 0x80, 0x80};
        rig.frame.items[kItemGA94] = Ga94Item({{0xFC, 1, 2}});
        rig.frame.time.tcFrame = {1, 2, 3, 4, eMTCF_NonDropFrame, 0};
        const Bytes before = rig.deck.bytes;
        const auto r = rig.Put();
        EXPECT_EQ(r.line21, c.line21) << c.format;
        EXPECT_EQ(rig.deck.bytes != before, c.line21) << c.format;
        EXPECT_TRUE(r.timecode);
        EXPECT_EQ(rig.deck.timecode->format, bmdTimecodeVITC);
        EXPECT_EQ(rig.output.ancillary_made, 0);
        EXPECT_EQ(rig.deck.ancillary, nullptr);
        EXPECT_EQ(rig.writer.CdpSequence(), 0);
    }
}

struct PlacementCase {
    const char* name;
    eMVideoFormat format;
    int width;
    int cc_count;  // of the output's rate; 0 where the rate has no CDP code
    double custom_rate = 0;
};

class CaptionLine : public ::testing::TestWithParam<PlacementCase> {};

// Without a CDP for the rate the 608 packet still goes out, alone.
TEST_P(CaptionLine, CdpAnd608PacketsLandOnTheCaptionLine) {
    const PlacementCase c = GetParam();
    Rig rig(c.format, c.width, 4, bmdFormat10BitYUV);
    rig.props.dblRate = c.custom_rate;
    rig.frame.items[kItemC608] = {0x94, 0x2C};
    rig.frame.items[kItemGA94] = Ga94Item({{0xFC, 0x94, 0x2C}, {0xFE, 0x41, 0x42}});
    for (std::uint16_t expect_sequence = 1; expect_sequence <= 2; ++expect_sequence) {
        const auto r = rig.Put();
        EXPECT_EQ(r.cdp, c.cc_count > 0);
        EXPECT_TRUE(r.cea608);
        EXPECT_EQ(rig.deck.ancillary, &rig.output.ancillary);
        const auto packets = orvex::test::GstPackets(rig.Line(9), c.width);
        ASSERT_EQ(packets.size(), c.cc_count ? 2u : 1u);
        EXPECT_EQ(packets.back().sdid, 0x02);
        EXPECT_EQ(packets.back().data, (Bytes{0x80, 0x94, 0x2C}));
        if (!c.cc_count) {
            EXPECT_EQ(rig.writer.CdpSequence(), 0);
            continue;
        }
        EXPECT_EQ(packets[0].sdid, 0x01);
        ASSERT_EQ(packets[0].data.size(), 13u + 3u * c.cc_count);
        EXPECT_EQ((packets[0].data[5] << 8) | packets[0].data[6], expect_sequence);
        EXPECT_EQ(Bytes(packets[0].data.begin() + 9, packets[0].data.begin() + 15),
                  (Bytes{0xFC, 0x94, 0x2C, 0xFE, 0x41, 0x42}));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, CaptionLine,
                         ::testing::Values(PlacementCase{"PAL", eMVF_PAL, 720, 24},
                                           PlacementCase{"HD720p50", eMVF_HD720_50p, 1280, 12},
                                           PlacementCase{"UHD5994", eMVF_4K_UHD_5994p, 3840, 10},
                                           PlacementCase{"NoCdpCode", eMVF_Custom, 1920, 0, 12.5}),
                         [](const auto& info) { return std::string(info.param.name); });

// A 'GA94' item too short for a CDP sends none and takes no sequence number: the next CDP
// follows on, or a receiver would take the gap for a lost packet.
TEST(PutFrameData, AShortGa94ItemTakesNoSequenceNumber) {
    Rig rig(eMVF_PAL, 720, 4, bmdFormat10BitYUV);
    rig.frame.items[kItemGA94] = Bytes{'G', 'A', '9', '4', 3, 0xC1};
    EXPECT_FALSE(rig.Put().cdp);
    rig.frame.items[kItemGA94] = Ga94Item({{0xFC, 0x94, 0x2C}});
    EXPECT_TRUE(rig.Put().cdp);
    const auto packets = orvex::test::GstPackets(rig.Line(9), 720);
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ((packets[0].data[5] << 8) | packets[0].data[6], 1);
}

TEST(PutFrameData, A708ItemIsSentCorrectedAndTheHostItemKept) {
    Rig rig(eMVF_HD1080_50i, 1920, 4, bmdFormat10BitYUV);
    const Bytes ga94 = Ga94Item({{0xFC, 0x94, 0x2C}});
    Bytes cdp = *BuildCdpFromGa94(ga94.data(), ga94.size(), {3, 24}, 9);
    Bytes item{1, 2, 3, 4};
    item.insert(item.end(), cdp.begin(), cdp.end());
    item.back() ^= 0xFF;
    rig.frame.items[kItemC708] = item;
    rig.frame.items[kItemGA94] = ga94;  // the 708 item wins
    const auto r = rig.Put();
    EXPECT_TRUE(r.cdp);
    EXPECT_EQ(rig.frame.items[kItemC708], item);
    const auto packets = orvex::test::GstPackets(rig.Line(9), 1920);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].data, cdp);
    EXPECT_EQ(rig.writer.CdpSequence(), 0);  // no packet was built
}

TEST(PutFrameData, CopiedLinesGoBeforeOrAfterTheCaptionsAsSet) {
    // One record on the caption line itself and one on line 12.
    auto vanc_item = [](std::size_t bytes) {
        Bytes item;
        for (int line : {9, 12}) {
            item.insert(item.end(), {static_cast<std::uint8_t>(line), 0,
                                     static_cast<std::uint8_t>(bytes & 0xFF),
                                     static_cast<std::uint8_t>(bytes >> 8)});
            item.insert(item.end(), bytes, 0x77);
        }
        return item;
    };
    const std::size_t row = V210RowBytes(1920);
    struct Case {
        int copy_vanc;
        int records;
        bool captions_survive;
    } cases[] = {{0, 0, true}, {1, 2, true}, {2, 2, false}};
    for (const Case& c : cases) {
        Rig rig(eMVF_HD1080_50i, 1920, 4, bmdFormat10BitYUV);
        rig.settings.copy_vanc = c.copy_vanc;
        rig.frame.items[kItemC608] = {0x94, 0x2C};
        rig.frame.items[kItemVANC] = vanc_item(row);
        const auto r = rig.Put();
        EXPECT_EQ(r.vanc_records, c.records) << c.copy_vanc;
        EXPECT_EQ(!orvex::test::GstPackets(rig.Line(9), 1920).empty(), c.captions_survive)
            << c.copy_vanc;
        if (c.copy_vanc) {
            EXPECT_EQ(rig.Line(12), Bytes(row, 0x77));
        }
    }
}

TEST(PutFrameData, TheCaptionLineIsClearedAndACardWithoutItChangesNothingElse) {
    Rig rig(eMVF_HD1080_50i, 1920, 4, bmdFormat10BitYUV);
    rig.settings.cc_line_sdi = 10;
    rig.frame.items[kItemC608] = {0x94, 0x2C};
    rig.Put();
    const Bytes& line = rig.Line(10);
    const auto packets = orvex::test::GstPackets(line, 1920);
    ASSERT_EQ(packets.size(), 1u);
    // Past the packet every byte is zero (the fake fills new lines with 0xEE).
    EXPECT_TRUE(std::all_of(line.begin() + 64, line.end(), [](std::uint8_t b) { return b == 0; }));

    Rig refused(eMVF_HD1080_50i, 1920, 4, bmdFormat10BitYUV);
    refused.output.ancillary.refused_line = 9;
    refused.frame.items[kItemC608] = {0x94, 0x2C};
    refused.frame.time.tcFrame = {1, 2, 3, 4, eMTCF_NonDropFrame, 0};
    const auto r = refused.Put();
    EXPECT_FALSE(r.cea608);
    EXPECT_TRUE(r.timecode);
    EXPECT_EQ(refused.deck.ancillary, &refused.output.ancillary);
}

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
        const auto& t = *frame.timecode;
        EXPECT_EQ(std::tie(t.format, t.h, t.m, t.s, t.f, t.flags),
                  std::tie(*c.format, c.h, c.m, c.s, c.f, c.flags));
    }
}

}  // namespace
