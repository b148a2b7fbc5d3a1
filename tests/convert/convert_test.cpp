#include "convert/convert.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "convert/planes.h"
#include "formats/video_formats.h"
#include "test_buffers.h"

namespace orvex::convert {

void PrintTo(ConvertStatus status, std::ostream* os) {
    *os << static_cast<int>(status);
}

namespace {

using enum ConvertStatus;
using testing::PageEndBuffer;

constexpr eMFCC kLayouts[] = {eMFCC_RGB32, eMFCC_RGB24, eMFCC_UYVY,
                              eMFCC_HDYC,  eMFCC_YUY2,  eMFCC_v210};

// The default strides, as the picture geometry gives them.
int RowBytes(eMFCC fcc, int width) {
    return formats::RowBytesFor(fcc, width);
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

// Every refusal names its cause and leaves the destination as it was.
TEST(Convert, RefusalsNameTheirCauseAndLeaveTheDestination) {
    const M_VID_PROPS uyvy = Props(eMFCC_UYVY, 16, 4), v210 = Props(eMFCC_v210, 64, 8);
    M_VID_PROPS narrow = uyvy, negative = uyvy, wide = uyvy, tall = uyvy, lowest = uyvy,
                wrapping = Props(eMFCC_RGB32, 0x40000001, 1), empty = uyvy;
    narrow.nRowBytes = 16;  // shorter than the 32 bytes of a row
    negative.nRowBytes = -32;
    wide.nWidth = INT_MAX;
    tall.nHeight = 32769;
    lowest.nHeight = INT_MIN;
    empty.nWidth = 0;
    struct Case {
        const char* what;
        M_VID_PROPS from, to;
        bool null_source;
        ConvertStatus want;
    } cases[] = {
        {"outside the table", Props(eMFCC_NV12, 16, 4), uyvy, false, kUnknownLayout},
        {"RGB32 to v210", Props(eMFCC_RGB32, 64, 8), v210, false, kNotSupported},
        {"ARGB32 to v210", Props(eMFCC_ARGB32, 64, 8), v210, false, kNotSupported},
        {"RGB24 to v210", Props(eMFCC_RGB24, 64, 8), v210, false, kNotSupported},
        {"no source", uyvy, uyvy, true, kNullPointer},
        {"stride below the row", uyvy, narrow, false, kBadGeometry},
        {"negative stride", negative, uyvy, false, kBadGeometry},
        {"one 4:2:2 pixel", uyvy, Props(eMFCC_YUY2, 1, 4), false, kBadGeometry},
        {"no width", empty, uyvy, false, kBadGeometry},
        {"INT_MAX width", wide, uyvy, false, kBadGeometry},
        {"wrapping RGB32 row", uyvy, wrapping, false, kBadGeometry},
        {"height above the ceiling", uyvy, tall, false, kBadGeometry},
        {"INT_MIN height", lowest, uyvy, false, kBadGeometry},
    };
    std::vector<std::uint8_t> src(4096, 0x40);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (int stripes : {0, 1, 3}) {
            std::vector<std::uint8_t> dst(4096, 0xA5);
            const std::uint8_t* from = c.null_source ? nullptr : src.data();
            const ConvertStatus got = stripes == 0
                                          ? Convert(from, dst.data(), c.from, c.to)
                                          : ConvertStripes(from, dst.data(), c.from, c.to, stripes);
            EXPECT_EQ(c.want, got) << stripes;
            for (std::uint8_t b : dst) ASSERT_EQ(0xA5, b) << stripes;
        }
    }
    // The value callers have always known for an unsupported pair.
    EXPECT_EQ(-9999, static_cast<int>(kNotSupported));
}

// Shared bytes are refused, except copies and 4:2:2 swaps in place, which match a copy.
TEST(Convert, OverlapIsRefusedUnlessThePairRunsInPlace) {
    const int w = 98, h = 9, rb = RowBytes(eMFCC_UYVY, w);
    PageEndBuffer buf(std::size_t(rb) * h * 2);
    buf.Fill(4);
    const std::vector<std::uint8_t> before(buf.data(), buf.data() + buf.size());
    const M_VID_PROPS uyvy = Props(eMFCC_UYVY, w, h), yuy2 = Props(eMFCC_YUY2, w, h);
    struct Overlap {
        M_VID_PROPS from, to;
        std::ptrdiff_t offset;  // of the destination from the source
    } refused[] = {
        {uyvy, yuy2, rb},                         // one row apart
        {uyvy, yuy2, -rb * (h - 1)},              // the destination's last row is the first
        {uyvy, Props(eMFCC_RGB32, w / 2, h), 0},  // same start, other layout
        {uyvy, Props(eMFCC_UYVY, w, h, eMI_Field1First), 0},  // no shift in place
    };
    for (const Overlap& o : refused) {
        const std::uint8_t* s = buf.data() + (o.offset < 0 ? -o.offset : 0);
        std::uint8_t* d = buf.data() + (o.offset < 0 ? 0 : o.offset);
        M_VID_PROPS from = o.from;
        if (o.to.eInterlace == eMI_Field1First) from.eInterlace = eMI_Field2First;
        EXPECT_EQ(kOverlap, Convert(s, d, from, o.to)) << o.offset;
        EXPECT_EQ(kOverlap, ConvertStripes(s, d, from, o.to, 3)) << o.offset;
        ASSERT_EQ(0, std::memcmp(before.data(), buf.data(), buf.size()));
    }
    // Right after the source's last pixel is not an overlap.
    EXPECT_EQ(kDone, Convert(buf.data(), buf.data() + rb * h, uyvy, yuy2));

    for (const auto& [from, to] :
         {std::pair{uyvy, yuy2}, std::pair{yuy2, uyvy}, std::pair{uyvy, Props(eMFCC_HDYC, w, h)}}) {
        PageEndBuffer in_place(std::size_t(rb) * h), apart(std::size_t(rb) * h);
        in_place.Fill(8);
        ASSERT_EQ(kDone, Convert(in_place.data(), apart.data(), from, to));
        ASSERT_EQ(kDone, Convert(in_place.data(), in_place.data(), from, to));
        EXPECT_EQ(0, std::memcmp(apart.data(), in_place.data(), apart.size()));
    }
    // The swap reads before it writes at every level, tail included (98 is no whole block).
    for (int level = kLevelPortable; level <= ProcessorLevelSupported(); ++level) {
        PageEndBuffer in_place(std::size_t(rb) * h), apart(std::size_t(rb) * h);
        in_place.Fill(static_cast<std::uint32_t>(level));
        const RowParams p = MakeRowParams(YuvMatrix::kBt601);
        ASSERT_EQ(
            0, ConvertRows(Row::kSwap422, in_place.data(), rb, apart.data(), rb, w, h, p, level));
        ASSERT_EQ(0, ConvertRows(Row::kSwap422, in_place.data(), rb, in_place.data(), rb, w, h, p,
                                 level));
        EXPECT_EQ(0, std::memcmp(apart.data(), in_place.data(), apart.size())) << level;
    }
}

// A bottom-up RGB24 source (positive height) lands upright.
TEST(Convert, BottomUpRgb24IsUpright) {
    const int w = 38, h = 7;
    const M_VID_PROPS sp = Props(eMFCC_RGB24, w, h), dp = Props(eMFCC_UYVY, w, h);
    const int srb = RowBytes(eMFCC_RGB24, w);
    PageEndBuffer src(ImageBytes(sp)), dst(ImageBytes(dp)), want(ImageBytes(dp));
    src.Fill(3);
    ASSERT_EQ(kDone, Convert(src.data(), dst.data(), sp, dp));
    const RowParams p = MakeRowParams(YuvMatrix::kBt601);
    for (int y = 0; y < h; ++y) {
        SelectRow(Row::kRgb24ToUyvy, kLevelPortable)(src.data() + (h - 1 - y) * srb,
                                                     want.data() + y * w * 2, w, &p);
    }
    EXPECT_EQ(0, std::memcmp(want.data(), dst.data(), dst.size()));
}

// Opposite field orders shift the picture one line and repeat the line at the edge.
TEST(Convert, OppositeFieldOrdersShiftOneLine) {
    const int w = 720;
    {
        const M_VID_PROPS sp = Props(eMFCC_UYVY, w, 576, eMI_Default, eMVF_PAL);
        const M_VID_PROPS dp = Props(eMFCC_UYVY, w, 486, eMI_Default, eMVF_NTSC);
        PageEndBuffer src(ImageBytes(sp)), dst(ImageBytes(dp));
        FillRowIndex(src.data(), w * 2, 576);
        ASSERT_EQ(kDone, Convert(src.data(), dst.data(), sp, dp));
        for (int r = 0; r < 485; ++r) ASSERT_EQ((r + 1) & 0xFF, dst.data()[r * w * 2]) << r;
        EXPECT_EQ(485 & 0xFF, dst.data()[485 * w * 2]);
        EXPECT_EQ(485 & 0xFF, dst.data()[486 * w * 2 - 1]);
    }
    {
        const M_VID_PROPS sp = Props(eMFCC_YUY2, w, 486, eMI_Field2First);
        const M_VID_PROPS dp = Props(eMFCC_YUY2, w, 486, eMI_Field1First);
        PageEndBuffer src(ImageBytes(sp)), dst(ImageBytes(dp));
        FillRowIndex(src.data(), w * 2, 486);
        ASSERT_EQ(kDone, Convert(src.data(), dst.data(), sp, dp));
        EXPECT_EQ(0, dst.data()[0]);
        for (int r = 1; r < 486; ++r) ASSERT_EQ((r - 1) & 0xFF, dst.data()[r * w * 2]) << r;
    }
}

// Into bottom-up RGB the shift turns round, and the picture still lands upright.
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
    ASSERT_EQ(kDone, Convert(src.data(), dst.data(), sp, dp));
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

// A full HD UYVY row packs into 5120 bytes, written to the page end and no further.
TEST(Convert, FullHdUyvyPacksInto5120ByteRows) {
    const M_VID_PROPS sp = Props(eMFCC_UYVY, 1920, 4), dp = Props(eMFCC_v210, 1920, 4);
    PageEndBuffer src(ImageBytes(sp)), dst(5120 * 4);
    src.Set(0xFF);
    dst.Set(0);
    ASSERT_EQ(kDone, Convert(src.data(), dst.data(), sp, dp));
    EXPECT_EQ(0x3F, dst.data()[5120 * 4 - 1]);  // the top of a 0x3FC sample at bit 20
}

// Only the common region is written.
TEST(Convert, WritesOnlyTheCommonRegion) {
    const M_VID_PROPS sp = Props(eMFCC_RGB32, 10, -6), dp = Props(eMFCC_RGB24, 16, -9);
    std::vector<std::uint8_t> src(ImageBytes(sp), 0x11), dst(ImageBytes(dp), 0xEE);
    ASSERT_EQ(kDone, Convert(src.data(), dst.data(), sp, dp));
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

// Any stripe count gives the bytes of one stripe, bottom-up and uneven heights included.
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
            const ConvertStatus status = ConvertStripes(src.data(), one.data(), sp, dp, 1);
            const bool unsupported = LayoutIndex(to) == 5 && LayoutIndex(from) < 2;
            EXPECT_EQ(unsupported ? kNotSupported : kDone, status);
            EXPECT_EQ(status, ConvertStripes(src.data(), many.data(), sp, dp, 3));
            EXPECT_EQ(status, Convert(src.data(), entry.data(), sp, dp));
            ASSERT_EQ(0, std::memcmp(one.data(), many.data(), one.size())) << h << " " << sign;
            ASSERT_EQ(0, std::memcmp(one.data(), entry.data(), one.size())) << h << " " << sign;
        }
    }
}

// Pictures large enough for Convert to cut into stripes of falling height (odd heights, so
// that no cut divides evenly) give the bytes of one stripe, bottom-up RGB included.
TEST(Convert, LargePicturesEqualOneStripe) {
    for (const auto& [from, to] :
         {std::pair{eMFCC_RGB32, eMFCC_UYVY}, std::pair{eMFCC_YUY2, eMFCC_RGB24},
          std::pair{eMFCC_v210, eMFCC_RGB32}}) {
        for (int height : {1001, -1001}) {
            const M_VID_PROPS sp = Props(from, 720, height), dp = Props(to, 720, height);
            PageEndBuffer src(ImageBytes(sp)), one(ImageBytes(dp)), striped(ImageBytes(dp));
            src.Fill(11);
            one.Set(0x5A);
            striped.Set(0xA5);
            ASSERT_EQ(kDone, ConvertStripes(src.data(), one.data(), sp, dp, 1));
            ASSERT_EQ(kDone, Convert(src.data(), striped.data(), sp, dp));
            EXPECT_EQ(0, std::memcmp(one.data(), striped.data(), one.size()))
                << from << " " << height;
        }
    }
}

// Streaming stores (large pictures, the streaming runners) give the bytes of cached ones.
TEST(Convert, StreamedPicturesEqualCachedOnes) {
    // 12 MiB of RGB32 destination each: large enough to stream.
    for (const auto& [from, height] : {std::pair{eMFCC_YUY2, -1536}, std::pair{eMFCC_v210, 1536}}) {
        const M_VID_PROPS sp = Props(from, 2048, 1536), dp = Props(eMFCC_RGB32, 2048, height);
        PageEndBuffer src(ImageBytes(sp)), aligned(ImageBytes(dp)), offset(ImageBytes(dp) + 4);
        ASSERT_EQ(0u, reinterpret_cast<std::uintptr_t>(aligned.data()) % 16);
        src.Fill(7);
        aligned.Set(0x5A);
        offset.Set(0x5A);
        ASSERT_EQ(kDone, Convert(src.data(), aligned.data(), sp, dp));
        ASSERT_EQ(kDone, Convert(src.data(), offset.data() + 4, sp, dp));
        EXPECT_EQ(0, std::memcmp(aligned.data(), offset.data() + 4, aligned.size())) << from;
    }
    const RowParams params = MakeRowParams(YuvMatrix::kBt709);
    for (Row row : {Row::kUyvyToRgb32, Row::kRgb24ToYuy2, Row::kUyvyToV210, Row::kSwap422}) {
        for (int width : {2, 190, 1000}) {
            const std::size_t sb = RowSourceBytes(row, width);
            const auto db = static_cast<std::ptrdiff_t>((RowDestBytes(row, width) + 15) / 16 * 16);
            PageEndBuffer src(sb * 3), cached(std::size_t(db) * 3), streamed(std::size_t(db) * 3);
            src.Fill(static_cast<std::uint32_t>(width));
            cached.Set(0);
            streamed.Set(0);
            ASSERT_EQ(0, ConvertRows(row, src.data(), std::ptrdiff_t(sb), cached.data(), db, width,
                                     3, params, kLevelNone, false));
            ASSERT_EQ(0, ConvertRows(row, src.data(), std::ptrdiff_t(sb), streamed.data(), db,
                                     width, 3, params, kLevelNone, true));
            EXPECT_EQ(0, std::memcmp(cached.data(), streamed.data(), cached.size()))
                << int(row) << " " << width;
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

// UYVY and HDYC differ only in matrix; v210 to RGB goes through the unpacked row.
TEST(Convert, CellsUseTheirMatrices) {
    const int w = 50, h = 3;
    PageEndBuffer rgb(w * 4 * h), a(w * 2 * h), b(w * 2 * h);
    rgb.Fill(9);
    ASSERT_EQ(kDone,
              Convert(rgb.data(), a.data(), Props(eMFCC_RGB32, w, -h), Props(eMFCC_UYVY, w, h)));
    ASSERT_EQ(kDone,
              Convert(rgb.data(), b.data(), Props(eMFCC_RGB32, w, -h), Props(eMFCC_HDYC, w, h)));
    EXPECT_NE(0, std::memcmp(a.data(), b.data(), a.size()));

    const M_VID_PROPS v = Props(eMFCC_v210, w, h);
    PageEndBuffer packed(ImageBytes(v)), direct(w * 4 * h), viaUyvy(w * 4 * h);
    ASSERT_EQ(kDone, Convert(b.data(), packed.data(), Props(eMFCC_HDYC, w, h), v));
    ASSERT_EQ(kDone, Convert(packed.data(), direct.data(), v, Props(eMFCC_RGB32, w, -h)));
    ASSERT_EQ(kDone, Convert(b.data(), viaUyvy.data(), Props(eMFCC_HDYC, w, h),
                             Props(eMFCC_RGB32, w, -h)));
    EXPECT_EQ(0, std::memcmp(direct.data(), viaUyvy.data(), direct.size()));
    for (int i = 3; i < w * 4 * h; i += 4) ASSERT_EQ(255, direct.data()[i]);
}

}  // namespace
}  // namespace orvex::convert
