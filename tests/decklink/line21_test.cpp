// The line-21 waveform as a real caption decoder reads it, and its place in the card's frame.
#include <gtest/gtest.h>
#include <libzvbi.h>

#include <array>
#include <cstring>
#include <vector>

#include "captions_fakes.h"
#include "convert/convert.h"
#include "decklink/line21.h"

namespace {

using orvex::decklink::Line21Generator;
using orvex::decklink::PutLine21;
using orvex::test::FakeDeckFrame;

constexpr std::size_t kLine = Line21Generator::kLineBytes;

// libzvbi's raw decoder over two 8-bit 4:2:2 lines, field 1 then field 2.
class CaptionDecoder {
public:
    CaptionDecoder() {
        vbi_raw_decoder_init(&rd_);
        rd_.scanning = 525;
        rd_.sampling_format = VBI_PIXFMT_UYVY;
        rd_.sampling_rate = 13'500'000;
        rd_.bytes_per_line = static_cast<int>(kLine);
        rd_.offset = 122;  // first digital sample after 0H
        rd_.start[0] = 21;
        rd_.count[0] = 1;
        rd_.start[1] = 284;
        rd_.count[1] = 1;
        rd_.interlaced = FALSE;
        rd_.synchronous = TRUE;
        services_ = vbi_raw_decoder_add_services(&rd_, VBI_SLICED_CAPTION_525, 0);
    }
    ~CaptionDecoder() { vbi_raw_decoder_destroy(&rd_); }
    bool Ready() const { return (services_ & VBI_SLICED_CAPTION_525) != 0; }

    // The pairs found on (field 1 line, field 2 line); -1 where nothing was decoded.
    std::array<int, 4> Decode(const std::uint8_t* field1, const std::uint8_t* field2) {
        std::vector<std::uint8_t> raw(2 * kLine);
        std::memcpy(raw.data(), field1, kLine);
        std::memcpy(raw.data() + kLine, field2, kLine);
        vbi_sliced sliced[2]{};
        const int n = vbi_raw_decode(&rd_, raw.data(), sliced);
        std::array<int, 4> out{-1, -1, -1, -1};
        for (int i = 0; i < n; ++i) {
            const int at = sliced[i].line == 21 ? 0 : sliced[i].line == 284 ? 2 : -1;
            if (at < 0) continue;
            out[at] = sliced[i].data[0];
            out[at + 1] = sliced[i].data[1];
        }
        return out;
    }

private:
    vbi_raw_decoder rd_{};
    unsigned services_ = 0;
};

TEST(Line21, EveryByteValueReachesTheDecoder) {
    CaptionDecoder decoder;
    ASSERT_TRUE(decoder.Ready());
    Line21Generator gen;
    std::vector<std::uint8_t> f1(kLine), f2(kLine);
    for (int v = 0; v < 256; ++v) {
        const auto a = static_cast<std::uint8_t>(v), b = static_cast<std::uint8_t>(255 - v);
        const auto c = static_cast<std::uint8_t>(v ^ 0x5A), d = static_cast<std::uint8_t>(v * 7);
        gen.Draw(f1.data(), a, b);
        gen.Draw(f2.data(), c, d);
        EXPECT_EQ(decoder.Decode(f1.data(), f2.data()), (std::array<int, 4>{a, b, c, d}))
            << "value " << v;
    }
}

TEST(Line21, DrawsOnlyChromaNeutralSamplesWithinTheLevels) {
    Line21Generator gen;
    std::vector<std::uint8_t> line(kLine + 8, 0xCC);
    gen.Draw(line.data(), 0xFF, 0x00);
    for (std::size_t i = 0; i < kLine; i += 2) {
        ASSERT_EQ(line[i], 0x80);
        ASSERT_GE(line[i + 1], 0x10);
        ASSERT_LE(line[i + 1], 0x7E);
    }
    EXPECT_EQ(line[kLine], 0xCC);  // nothing past the line
    EXPECT_EQ(line[2 * 719 + 1], 0x10);
}

// Reads the first two picture lines of a frame back as 8-bit 4:2:2, top line first.
std::vector<std::uint8_t> TopLinesAsUyvy(FakeDeckFrame& frame, eMFCC fcc) {
    M_VID_PROPS src{};
    src.fccType = fcc;
    src.nWidth = 720;
    const bool flipped = frame.flags & bmdFrameFlagFlipVertical;
    src.nHeight = fcc == eMFCC_RGB32 && !flipped ? -2 : 2;
    src.nRowBytes = frame.row_bytes;
    src.eInterlace = eMI_Progressive;
    M_VID_PROPS dst = src;
    dst.fccType = eMFCC_UYVY;
    dst.nHeight = 2;
    dst.nRowBytes = static_cast<int>(kLine);
    std::vector<std::uint8_t> out(2 * kLine);
    const std::uint8_t* rows =
        frame.bytes.data() +
        (flipped ? static_cast<std::size_t>(frame.height - 2) * frame.row_bytes : 0);
    EXPECT_EQ(orvex::convert::ConvertStripes(rows, out.data(), src, dst, 1),
              orvex::convert::ConvertStatus::kDone);
    return out;
}

struct LayoutCase {
    BMDPixelFormat format;
    eMFCC fcc;
    int row_bytes;
    BMDFrameFlags flags;
};

class Line21Layouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Line21Layouts, DecodesFromTheFrameAndLeavesTheRestAlone) {
    const LayoutCase c = GetParam();
    FakeDeckFrame frame(720, 486, c.format, c.row_bytes, c.flags);
    const std::vector<std::uint8_t> before = frame.bytes;
    const std::uint8_t pairs[4] = {0x94, 0x2C, 0x15, 0xAE};
    Line21Generator gen;
    ASSERT_TRUE(PutLine21(gen, &frame, pairs, 4));

    const auto top = TopLinesAsUyvy(frame, c.fcc);
    CaptionDecoder decoder;
    // The second picture line carries field 1, the first field 2.
    EXPECT_EQ(decoder.Decode(top.data() + kLine, top.data()),
              (std::array<int, 4>{0x94, 0x2C, 0x15, 0xAE}));

    // Every other line is untouched.
    const std::size_t rb = static_cast<std::size_t>(c.row_bytes);
    const bool flipped = c.flags & bmdFrameFlagFlipVertical;
    const std::size_t first = flipped ? 0 : 2 * rb, last = flipped ? (486 - 2) * rb : 486 * rb;
    EXPECT_TRUE(std::equal(frame.bytes.begin() + first, frame.bytes.begin() + last,
                           before.begin() + first));
}

INSTANTIATE_TEST_SUITE_P(Frames, Line21Layouts,
                         ::testing::Values(LayoutCase{bmdFormat8BitYUV, eMFCC_UYVY, 1440, 0},
                                           LayoutCase{bmdFormat10BitYUV, eMFCC_v210, 1920, 0},
                                           LayoutCase{bmdFormat8BitBGRA, eMFCC_RGB32, 2880, 0},
                                           LayoutCase{bmdFormat8BitBGRA, eMFCC_RGB32, 2880,
                                                      bmdFrameFlagFlipVertical}));

TEST(Line21, RefusesWhatItCannotDrawSafely) {
    Line21Generator gen;
    const std::uint8_t pairs[4] = {1, 2, 3, 4};
    FakeDeckFrame rgb10(720, 486, bmdFormat10BitRGB, 3072);
    FakeDeckFrame short_rows(720, 486, bmdFormat8BitYUV, 1000);
    FakeDeckFrame one_line(720, 1, bmdFormat8BitYUV, 1440);
    FakeDeckFrame flipped_yuv(720, 486, bmdFormat8BitYUV, 1440, bmdFrameFlagFlipVertical);
    for (FakeDeckFrame* f : {&rgb10, &short_rows, &one_line, &flipped_yuv}) {
        const auto before = f->bytes;
        EXPECT_FALSE(PutLine21(gen, f, pairs, 4));
        EXPECT_EQ(f->bytes, before);
    }
    FakeDeckFrame ok(720, 486, bmdFormat8BitYUV, 1440);
    EXPECT_FALSE(PutLine21(gen, &ok, pairs, 1));  // not even one pair
}

TEST(Line21, AFieldOnePairAloneLeavesTheFirstLine) {
    Line21Generator gen;
    const std::uint8_t pair[2] = {0x80, 0x80};
    for (BMDPixelFormat format : {bmdFormat8BitYUV, bmdFormat10BitYUV}) {
        FakeDeckFrame frame(720, 486, format, format == bmdFormat8BitYUV ? 1440 : 1920);
        const auto before = frame.bytes;
        ASSERT_TRUE(PutLine21(gen, &frame, pair, 2));
        EXPECT_TRUE(
            std::equal(before.begin(), before.begin() + frame.row_bytes, frame.bytes.begin()));
        EXPECT_FALSE(std::equal(before.begin() + frame.row_bytes,
                                before.begin() + 2 * frame.row_bytes,
                                frame.bytes.begin() + frame.row_bytes));
    }
}

}  // namespace
