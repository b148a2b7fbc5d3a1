// Ancillary packets in a v210 blanking line as GStreamer's VBI parser reads them, their
// placement limits, and the copying of a frame's own blanking lines.
#include <gtest/gtest.h>

#include <bit>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "captions_fakes.h"
#include "captions_gst.h"
#include "decklink/vanc.h"

namespace {

using namespace orvex::decklink;
using orvex::test::FakeAncillary;
using orvex::test::V210Samples;

using orvex::test::GstPackets;

TEST(AncPacket, WordsCarryParityAndChecksum) {
    for (int v = 0; v < 256; ++v) {
        const std::uint16_t w = AncWord(static_cast<std::uint8_t>(v));
        const bool odd = std::popcount(static_cast<unsigned>(v)) & 1;
        ASSERT_EQ(w & 0xFF, v);
        ASSERT_EQ((w >> 8) & 1, odd ? 1 : 0);
        ASSERT_EQ((w >> 9) & 1, odd ? 0 : 1);
    }
    const std::uint8_t data[3] = {0x80, 0x94, 0x2C};
    const auto p = BuildAncPacket(0x61, 0x02, data, 3);
    ASSERT_EQ(p.size(), 10u);
    EXPECT_EQ(std::vector<std::uint16_t>(p.begin(), p.begin() + 3),
              (std::vector<std::uint16_t>{0x000, 0x3FF, 0x3FF}));
    EXPECT_EQ(p[5] & 0xFF, 3);
    EXPECT_EQ(p[9], 0x2A6);  // bits 0-8 of 161 102 203 180 194 12C summed, bit 9 = !bit 8
    std::vector<std::uint8_t> too_long(256);
    EXPECT_TRUE(BuildAncPacket(0x61, 0x01, too_long.data(), too_long.size()).empty());
}

struct FormatCase {
    const char* name;
    int width;
};

class AncPlacement : public ::testing::TestWithParam<FormatCase> {};

TEST_P(AncPlacement, GStreamerFindsBothCaptionPackets) {
    const int width = GetParam().width;
    std::vector<std::uint8_t> line(V210RowBytes(width), 0);
    std::vector<std::uint8_t> cdp(85);
    for (std::size_t i = 0; i < cdp.size(); ++i) cdp[i] = static_cast<std::uint8_t>(i * 37 + 1);
    const std::uint8_t cc[3] = {0x80, 0x94, 0x2C};
    const bool luma = UsesLumaPlacement(width);
    ASSERT_TRUE(PlaceAncPacket(line.data(), line.size(), width, 0,
                               BuildAncPacket(0x61, 0x01, cdp.data(), cdp.size()), luma));
    ASSERT_TRUE(PlaceAncPacket(line.data(), line.size(), width, (85 + 10) & ~3,
                               BuildAncPacket(0x61, 0x02, cc, 3), luma));
    const auto found = GstPackets(line, width);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].did, 0x61);
    EXPECT_EQ(found[0].sdid, 0x01);
    EXPECT_EQ(found[0].data, cdp);
    EXPECT_EQ(found[1].did, 0x61);
    EXPECT_EQ(found[1].sdid, 0x02);
    EXPECT_EQ(found[1].data, std::vector<std::uint8_t>(cc, cc + 3));
}

INSTANTIATE_TEST_SUITE_P(Formats, AncPlacement,
                         ::testing::Values(FormatCase{"SD", 720}, FormatCase{"HD720", 1280},
                                           FormatCase{"DCI4K", 4096}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AncPlacement, LumaPlacementKeepsChromaAndCorruptChecksumIsRejected) {
    const int width = 1920;
    std::vector<std::uint8_t> line(V210RowBytes(width));
    for (std::size_t i = 0; i < line.size(); ++i) line[i] = static_cast<std::uint8_t>(i * 13);
    const auto before = V210Samples(line.data(), line.size());
    const std::uint8_t data[3] = {1, 2, 3};
    const auto packet = BuildAncPacket(0x61, 0x02, data, 3);
    ASSERT_TRUE(PlaceAncPacket(line.data(), line.size(), width, 8, packet, true));
    const auto after = V210Samples(line.data(), line.size());
    for (std::size_t s = 0; s < after.size(); ++s) {
        const bool in_packet = s % 2 == 1 && s >= 24 && (s - 25) / 2 < packet.size();
        // Chroma, and the other fields of each touched word, keep their values.
        EXPECT_EQ(after[s], in_packet ? packet[(s - 25) / 2] : before[s]) << s;
    }
    // The two top bits of each word are not samples and stay as they were.
    for (std::size_t w = 0; w < line.size(); w += 4)
        EXPECT_EQ(line[w + 3] >> 6, static_cast<std::uint8_t>((w + 3) * 13) >> 6);

    std::vector<std::uint8_t> blank(V210RowBytes(width), 0);
    auto bad = packet;
    bad.back() ^= 0x001;
    ASSERT_TRUE(PlaceAncPacket(blank.data(), blank.size(), width, 0, bad, true));
    EXPECT_TRUE(GstPackets(blank, width).empty());
}

TEST(AncPlacement, APacketThatDoesNotFitIsNotWrittenAtAll) {
    std::vector<std::uint8_t> data(255, 0x11);
    const auto packet = BuildAncPacket(0x61, 0x01, data.data(), data.size());  // 262 words
    struct Case {
        int width;
        std::size_t bytes, offset;
        bool luma, fits;
    } cases[] = {
        {1920, V210RowBytes(1920), 0, true, true},
        {1920, V210RowBytes(1920), 1200, true, false},  // runs past the line's samples
        {1920, V210RowBytes(1920), 5000, true, false},  // offset past the line
        {180, V210RowBytes(180), 0, true, false},       // narrower than the packet
        {720, V210RowBytes(720), 0, false, true},
        {720, V210RowBytes(720), 400, false, false},
        {720, 64, 0, false, false},  // a buffer shorter than the width says
        {720, 0, 0, false, false},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> line(c.bytes + 16, 0xA5);
        const std::vector<std::uint8_t> before = line;
        EXPECT_EQ(PlaceAncPacket(line.data(), c.bytes, c.width, c.offset, packet, c.luma), c.fits)
            << c.width << " " << c.bytes << " " << c.offset;
        if (!c.fits) {
            EXPECT_EQ(line, before);
        }
        EXPECT_TRUE(std::equal(line.end() - 16, line.end(), before.end() - 16));
    }
}

// A 'VANC' item from (line, count, bytes) records; `count` may differ from the bytes given.
std::vector<std::uint8_t> Records(
    std::initializer_list<std::tuple<int, int, std::vector<std::uint8_t>>> records) {
    std::vector<std::uint8_t> item;
    for (const auto& [line, count, bytes] : records) {
        for (int v : {line, count}) {
            item.push_back(static_cast<std::uint8_t>(v & 0xFF));
            item.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
        }
        item.insert(item.end(), bytes.begin(), bytes.end());
    }
    return item;
}

TEST(VancCopy, CopiesOnlyWhatTheItemAndTheLineHold) {
    const std::vector<std::uint8_t> four{1, 2, 3, 4}, ten(10, 9);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> item;
        int copied;
        std::map<unsigned, std::vector<std::uint8_t>> expect;  // first bytes of each line
    };
    // clang-format off
    Case cases[] = {
        {"two records", Records({{11, 4, four}, {12, 4, four}}), 2, {{11, four}, {12, four}}},
        {"count longer than the row is cut to the row", Records({{13, 10, ten}}), 1,
         {{13, std::vector<std::uint8_t>(8, 9)}}},
        {"negative count ends the copy", Records({{11, 4, four}, {12, -4, four}, {13, 4, four}}),
         1, {{11, four}}},
        {"count past the item ends the copy", Records({{11, 4, four}, {12, 40, four}}), 1,
         {{11, four}}},
        {"line 0 and negative lines are skipped",
         Records({{0, 4, four}, {-3, 4, four}, {14, 4, four}}), 1, {{14, four}}},
        {"refused line is skipped", Records({{15, 4, four}, {16, 4, four}}), 1, {{16, four}}},
        {"truncated header", {11, 0, 4}, 0, {}},
        {"empty record", Records({{17, 0, {}}}), 1, {{17, {}}}},
    };
    // clang-format on
    for (auto& c : cases) {
        FakeAncillary anc(8);
        anc.refused_line = 15;
        // Copy from a buffer of exactly the item's size, so ASan sees any overread.
        std::vector<std::uint8_t> exact(c.item);
        EXPECT_EQ(CopyVancRecords(exact.data(), exact.size(), &anc, 8), c.copied) << c.what;
        for (const auto& [line, bytes] : c.expect) {
            ASSERT_TRUE(anc.lines.count(line)) << c.what << " line " << line;
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), anc.lines[line].begin())) << c.what;
        }
        EXPECT_EQ(anc.lines.size(), c.expect.size()) << c.what;
    }
}

}  // namespace
