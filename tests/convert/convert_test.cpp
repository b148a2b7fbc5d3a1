#include "convert/convert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "convert/planes.h"
#include "test_buffers.h"

namespace orvex::convert {
namespace {

using testing::PageEndBuffer;

constexpr eMFCC kLayouts[] = {eMFCC_RGB32, eMFCC_RGB24, eMFCC_UYVY,
                              eMFCC_HDYC,  eMFCC_YUY2,  eMFCC_v210};

int RowBytes(eMFCC fcc, int width) {
    switch (fcc) {
        case eMFCC_v210:
            return (width + 47) / 48 * 128;
        case eMFCC_RGB24:
            return (width * 3 + 3) & ~3;
        case eMFCC_RGB32:
        case eMFCC_ARGB32:
            return width * 4;
        default:
            return (width * 2 + 3) & ~3;
    }
}

M_VID_PROPS Props(eMFCC fcc, int width, int height, eMInterlace order = eMI_Progressive,
                  eMVideoFormat format = eMVF_Custom) {
    M_VID_PROPS p{};
    p.eVideoFormat = format;
    p.fccType = fcc;
    p.nWidth = width;
    p.nHeight = height;
    p.eInterlace = order;
    return p;
}

std::size_t ImageBytes(const M_VID_PROPS& p) {
    return std::size_t(RowBytes(p.fccType, p.nWidth)) * std::size_t(std::abs(p.nHeight));
}

// Every row filled with its own index, so shifts and flips show in the destination.
void FillRowIndex(std::uint8_t* data, int row_bytes, int rows) {
    for (int r = 0; r < rows; ++r) std::memset(data + r * row_bytes, r & 0xFF, row_bytes);
}

TEST(Convert, RgbToV210IsNotSupportedAndLeavesTheDestination) {
    for (eMFCC from : {eMFCC_RGB32, eMFCC_ARGB32, eMFCC_RGB24}) {
        const M_VID_PROPS sp = Props(from, 64, 8), dp = Props(eMFCC_v210, 64, 8);
        std::vector<std::uint8_t> src(ImageBytes(sp), 0x40), dst(ImageBytes(dp), 0xA5);
        EXPECT_EQ(kNotSupported, ConvertStripes(src.data(), dst.data(), sp, dp, 1));
        Convert(src.data(), dst.data(), sp, dp);
        for (std::uint8_t b : dst) ASSERT_EQ(0xA5, b);
    }
}

TEST(Convert, StatusOfBadInput) {
    const M_VID_PROPS uyvy = Props(eMFCC_UYVY, 16, 4);
    std::vector<std::uint8_t> buf(4096);
    EXPECT_EQ(kNotConvertible,
              ConvertStripes(buf.data(), buf.data(), Props(eMFCC_NV12, 16, 4), uyvy, 1));
    EXPECT_EQ(kNullPointer, ConvertStripes(nullptr, buf.data(), uyvy, uyvy, 1));
    EXPECT_EQ(kNullPointer,
              ConvertStripes(buf.data(), nullptr, Props(eMFCC_RGB32, 16, 4), uyvy, 2));
    // Row sizes too small for the width would overlap rows and overrun the buffer.
    M_VID_PROPS narrow = uyvy;
    narrow.nRowBytes = 16;
    EXPECT_EQ(kBadSize, ConvertStripes(buf.data(), buf.data() + 2048, uyvy, narrow, 1));
    EXPECT_EQ(kBadSize,
              ConvertStripes(buf.data(), buf.data() + 2048, uyvy, Props(eMFCC_YUY2, 1, 4), 1));
}

// A bottom-up RGB24 source (positive height) lands upright: destination row 0 comes from
// the source's last row in memory.
TEST(Convert, BottomUpRgb24IsUpright) {
    const int w = 38, h = 7;
    const M_VID_PROPS sp = Props(eMFCC_RGB24, w, h), dp = Props(eMFCC_UYVY, w, h);
    const int srb = RowBytes(eMFCC_RGB24, w);
    PageEndBuffer src(ImageBytes(sp)), dst(ImageBytes(dp)), want(ImageBytes(dp));
    src.Fill(3);
    Convert(src.data(), dst.data(), sp, dp);
    const RowParams p = MakeRowParams(YuvMatrix::kBt601);
    for (int y = 0; y < h; ++y) {
        SelectRow(Row::kRgb24ToUyvy, kLevelPortable)(src.data() + (h - 1 - y) * srb,
                                                     want.data() + y * w * 2, w, &p);
    }
    EXPECT_EQ(0, std::memcmp(want.data(), dst.data(), dst.size()));
}

// A picture with field 1 first shown on a field-2-first destination moves up one line and
// repeats its last line; the other way round it moves down and repeats its first line.
TEST(Convert, OppositeFieldOrdersShiftOneLine) {
    const int w = 720;
    {
        const M_VID_PROPS sp = Props(eMFCC_UYVY, w, 576, eMI_Default, eMVF_PAL);
        const M_VID_PROPS dp = Props(eMFCC_UYVY, w, 486, eMI_Default, eMVF_NTSC);
        PageEndBuffer src(ImageBytes(sp)), dst(ImageBytes(dp));
        FillRowIndex(src.data(), w * 2, 576);
        Convert(src.data(), dst.data(), sp, dp);
        for (int r = 0; r < 485; ++r) ASSERT_EQ((r + 1) & 0xFF, dst.data()[r * w * 2]) << r;
        EXPECT_EQ(485 & 0xFF, dst.data()[485 * w * 2]);
        EXPECT_EQ(485 & 0xFF, dst.data()[486 * w * 2 - 1]);
    }
    {
        const M_VID_PROPS sp = Props(eMFCC_YUY2, w, 486, eMI_Field2First);
        const M_VID_PROPS dp = Props(eMFCC_YUY2, w, 486, eMI_Field1First);
        PageEndBuffer src(ImageBytes(sp)), dst(ImageBytes(dp));
        FillRowIndex(src.data(), w * 2, 486);
        Convert(src.data(), dst.data(), sp, dp);
        EXPECT_EQ(0, dst.data()[0]);
        for (int r = 1; r < 486; ++r) ASSERT_EQ((r - 1) & 0xFF, dst.data()[r * w * 2]) << r;
    }
}

// Into a bottom-up RGB destination the walk turns round: the picture moves down a line
// and its first line repeats, and it still lands upright.
TEST(Convert, OppositeFieldOrdersIntoBottomUpRgb) {
    const int w = 64, h = 40;
    const M_VID_PROPS sp = Props(eMFCC_UYVY, w, h, eMI_Default, eMVF_PAL);
    const M_VID_PROPS dp = Props(eMFCC_RGB32, w, h, eMI_Field2First);
    PageEndBuffer src(ImageBytes(sp)), dst(ImageBytes(dp));
    for (int r = 0; r < h; ++r) {
        for (int x = 0; x < w; ++x) {
            src.data()[r * w * 2 + 2 * x] = 128;                                        // chroma
            src.data()[r * w * 2 + 2 * x + 1] = static_cast<std::uint8_t>(16 + 5 * r);  // luma
        }
    }
    Convert(src.data(), dst.data(), sp, dp);
    const auto grey = [&](int display_row) { return dst.data()[(h - 1 - display_row) * w * 4]; };
    EXPECT_EQ(0, grey(0));
    EXPECT_EQ(0, grey(1));
    for (int r = 2; r < h; ++r) ASSERT_LT(grey(r - 1), grey(r)) << r;
}

// Stereo variants follow their base format's field order; the interlace field wins.
TEST(Convert, FieldOrderOfDescriptions) {
    EXPECT_EQ(1, FieldOrder(Props(eMFCC_UYVY, 720, 576, eMI_Default, eMVF_PAL)));
    EXPECT_EQ(-1, FieldOrder(Props(eMFCC_UYVY, 720, 486, eMI_Default, eMVF_NTSC_16x9)));
    EXPECT_EQ(1, FieldOrder(Props(eMFCC_HDYC, 1920, 1080, eMI_Default, eMVF_3D_SbS_1080_50i)));
    EXPECT_EQ(0, FieldOrder(Props(eMFCC_HDYC, 1920, 1080, eMI_Default, eMVF_HD1080_25p)));
    EXPECT_EQ(0, FieldOrder(Props(eMFCC_HDYC, 1920, 1080, eMI_Progressive, eMVF_HD1080_50i)));
    EXPECT_EQ(-1, FieldOrder(Props(eMFCC_HDYC, 1920, 1080, eMI_Field2First)));
    EXPECT_TRUE(IsBottomUp(Props(eMFCC_ARGB32, 4, 4)));
    EXPECT_FALSE(IsBottomUp(Props(eMFCC_RGB32, 4, -4)));
    EXPECT_FALSE(IsBottomUp(Props(eMFCC_UYVY, 4, 4)));
}

// A full HD UYVY row packs into 320 groups: 5120 bytes, written to the last one and no
// further (the destination ends at a page boundary).
TEST(Convert, FullHdUyvyPacksInto5120ByteRows) {
    const M_VID_PROPS sp = Props(eMFCC_UYVY, 1920, 4), dp = Props(eMFCC_v210, 1920, 4);
    PageEndBuffer src(ImageBytes(sp)), dst(5120 * 4);
    src.Set(0xFF);
    dst.Set(0);
    Convert(src.data(), dst.data(), sp, dp);
    EXPECT_EQ(0x3F, dst.data()[5120 * 4 - 1]);  // the top of a 0x3FC sample at bit 20
}

// Only the common region is written.
TEST(Convert, WritesOnlyTheCommonRegion) {
    const M_VID_PROPS sp = Props(eMFCC_RGB32, 10, -6), dp = Props(eMFCC_RGB24, 16, -9);
    std::vector<std::uint8_t> src(ImageBytes(sp), 0x11), dst(ImageBytes(dp), 0xEE);
    Convert(src.data(), dst.data(), sp, dp);
    const int drb = RowBytes(eMFCC_RGB24, 16);
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < drb; ++x) {
            const bool inside = y < 6 && x < 30;
            ASSERT_EQ(inside ? 0x11 : 0xEE, dst[y * drb + x]) << y << "," << x;
        }
    }
}

struct Pair {
    eMFCC from, to;
};

class EveryCell : public ::testing::TestWithParam<Pair> {};

// Stripes on the pool give the same bytes as one stripe, for every cell, with bottom-up
// and top-down RGB buffers and heights that do not divide evenly.
TEST_P(EveryCell, StripesEqualOneStripe) {
    const auto [from, to] = GetParam();
    for (int sign : {1, -1}) {
        for (int h : {1, 2, 37}) {
            const M_VID_PROPS sp = Props(from, 98, sign * h), dp = Props(to, 98, h + 3);
            PageEndBuffer src(ImageBytes(sp)), one(ImageBytes(dp)), many(ImageBytes(dp)),
                entry(ImageBytes(dp));
            src.Fill(static_cast<std::uint32_t>(h));
            one.Set(0x33);
            many.Set(0x33);
            entry.Set(0x33);
            const int status = ConvertStripes(src.data(), one.data(), sp, dp, 1);
            const bool unsupported = LayoutIndex(to) == 5 && LayoutIndex(from) < 2;
            EXPECT_EQ(unsupported ? kNotSupported : 0, status);
            EXPECT_EQ(status, ConvertStripes(src.data(), many.data(), sp, dp, 3));
            Convert(src.data(), entry.data(), sp, dp);
            ASSERT_EQ(0, std::memcmp(one.data(), many.data(), one.size())) << h << " " << sign;
            ASSERT_EQ(0, std::memcmp(one.data(), entry.data(), one.size())) << h << " " << sign;
        }
    }
}

std::vector<Pair> AllPairs() {
    std::vector<Pair> pairs;
    for (eMFCC a : kLayouts) {
        for (eMFCC b : kLayouts) pairs.push_back({a, b});
    }
    return pairs;
}

INSTANTIATE_TEST_SUITE_P(All, EveryCell, ::testing::ValuesIn(AllPairs()),
                         [](const ::testing::TestParamInfo<Pair>& info) {
                             return "from" + std::to_string(LayoutIndex(info.param.from)) + "to" +
                                    std::to_string(LayoutIndex(info.param.to));
                         });

// The convert cells agree with their primitives: UYVY and HDYC differ only in matrix, and
// v210 to RGB goes through the unpacked row.
TEST(Convert, CellsUseTheirMatrices) {
    const int w = 50, h = 3;
    PageEndBuffer rgb(w * 4 * h), a(w * 2 * h), b(w * 2 * h);
    rgb.Fill(9);
    Convert(rgb.data(), a.data(), Props(eMFCC_RGB32, w, -h), Props(eMFCC_UYVY, w, h));
    Convert(rgb.data(), b.data(), Props(eMFCC_RGB32, w, -h), Props(eMFCC_HDYC, w, h));
    EXPECT_NE(0, std::memcmp(a.data(), b.data(), a.size()));

    const M_VID_PROPS v = Props(eMFCC_v210, w, h);
    PageEndBuffer packed(ImageBytes(v)), direct(w * 4 * h), viaUyvy(w * 4 * h);
    Convert(b.data(), packed.data(), Props(eMFCC_HDYC, w, h), v);
    Convert(packed.data(), direct.data(), v, Props(eMFCC_RGB32, w, -h));
    Convert(b.data(), viaUyvy.data(), Props(eMFCC_HDYC, w, h), Props(eMFCC_RGB32, w, -h));
    EXPECT_EQ(0, std::memcmp(direct.data(), viaUyvy.data(), direct.size()));
    for (int i = 3; i < w * 4 * h; i += 4) ASSERT_EQ(255, direct.data()[i]);
}

}  // namespace
}  // namespace orvex::convert
