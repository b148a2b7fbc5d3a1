#include "formats/video_formats.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <tuple>

#include "formats/format_table.h"

namespace orvex::formats {
namespace {

M_VID_PROPS Record(int width, int height, double rate, eMInterlace order = eMI_Default,
                   eMFCC fcc = eMFCC_Default, int row_bytes = 0) {
    M_VID_PROPS p{};
    p.nWidth = width;
    p.nHeight = height;
    p.dblRate = rate;
    p.eInterlace = order;
    p.fccType = fcc;
    p.nRowBytes = row_bytes;
    return p;
}

// Width, height, row bytes: the three fields most callers rely on.
std::tuple<int, int, int> Size(const M_VID_PROPS& p) {
    return {p.nWidth, p.nHeight, p.nRowBytes};
}

TEST(VideoFormatDefaults, OutsideTheTablesIsEmpty) {
    const M_VID_PROPS zero = VideoFormatDefaults(eMVF_Custom, eMFCC_RGB32);
    EXPECT_EQ(zero.fccType, eMFCC_Default);
    EXPECT_EQ(Size(zero), std::make_tuple(0, 0, 0));
    for (int format : {41, 0xFF, 0x12FF, 0x7FFFFFFF, -1, int{eMVF_4K_UHD_50p}}) {
        const M_VID_PROPS p =
            VideoFormatDefaults(static_cast<eMVideoFormat>(format), eMFCC_Default);
        EXPECT_EQ(Size(p), std::make_tuple(0, 0, 0)) << format;
        EXPECT_EQ(p.dblRate, 0.0) << format;
        EXPECT_EQ(p.fccType, eMFCC_UYVY) << format;
    }
}

// Row sizes are the picture geometry's; here only "no row" and which formats have a minimum.
TEST(RowBytes, ZeroWithoutARowAndAMinimumForPackedFormatsOnly) {
    EXPECT_EQ(RowBytesFor(eMFCC_v210, 1920), 5120);
    EXPECT_EQ(RowBytesFor(eMFCC_RGB32, 32768), 131072);
    for (auto [fcc, width] : {std::pair{static_cast<eMFCC>(0x12345678), 1920},
                              {eMFCC_UYVY, -720},
                              {eMFCC_v210, INT_MIN},
                              {eMFCC_I420, INT_MAX},
                              {eMFCC_RGB32, 32769}})
        EXPECT_EQ(RowBytesFor(fcc, width), 0) << fcc << " " << width;

    M_VID_PROPS p = Record(1920, 1080, 25, eMI_Default, eMFCC_HDYC);
    EXPECT_EQ(RowBytesMin(p), 3840);
    p.fccType = eMFCC_I420;
    EXPECT_EQ(RowBytesMin(p), 0);
    p.fccType = static_cast<eMFCC>(kFccRGB565);  // RGB, but not one of the accepted ones
    EXPECT_EQ(RowBytesMin(p), 0);
}

// The pixel-format table's answers are its entries; only the name lookup has rules of its own.
TEST(PixelFormats, NamesAndFourCharacterCodes) {
    EXPECT_EQ(PixelFormatBits(eMFCC_GPU_YUV422), 0);  // not in the table
    // clang-format off
    for (auto [name, fcc] : {std::pair<const char16_t*, std::uint32_t>{u"uyvy", eMFCC_UYVY},
             {u"V210", eMFCC_v210}, {u"argb32", eMFCC_ARGB32}, {u"ARGB4444", 0x6E6415E6},
             {u"bi_bitfields", 3}, {u"ABCD", 0x44434241}, {u"ABCDE", eMFCC_Default},
             {u"ABC", eMFCC_Default}, {u"AB\u20ACD", 0x443F4241}})
        EXPECT_EQ(PixelFormatFromName(name), static_cast<eMFCC>(fcc)) << std::hex << fcc;
    // clang-format on
}

M_VID_PROPS Aspect(M_VID_PROPS p, int x, int y) {
    p.nAspectX = x;
    p.nAspectY = y;
    return p;
}

TEST(VideoFormatDetect, SizeRateOrderAndPackingWithinTheirTolerances) {
    M_VID_PROPS half_sbs = Record(1920, 1080, 25, eMI_Progressive);
    half_sbs.e3DFormat = eM3D_FullSideBySide;  // only the half bits are carried
    constexpr eMInterlace kP = eMI_Progressive;
    const struct {
        M_VID_PROPS record;
        bool strict;
        eMVideoFormat want;
    } cases[] = {
        // clang-format off
        // Standard definition. PAL takes the 39-line tolerance, not its own 49; the table's own
        // NTSC height is exact, so strict detection accepts it; without an aspect the pixel
        // ratio 720:480 is wider than 1.4, so taken for 16:9.
        {Record(720, 576, 25), true, eMVF_PAL}, {Record(720, 615, 25), false, eMVF_PAL},
        {Aspect(Record(720, 576, 25), 16, 9), true, eMVF_PAL_16x9},
        {Record(720, 616, 25), false, eMVF_Custom}, {Record(720, 576, 30), false, eMVF_Custom},
        {Aspect(Record(720, 486, 30 / 1.001), 4, 3), false, eMVF_NTSC},
        {Aspect(Record(720, 486, 30 / 1.001), 4, 3), true, eMVF_NTSC},
        {Aspect(Record(720, 483, 30 / 1.001), 4, 3), true, eMVF_Custom},
        {Record(720, -480, 24 / 1.001), true, eMVF_NTSC_2398},
        {Record(720, 480, 29.97), true, eMVF_NTSC_16x9},
        // Rates within one hundredth.
        {Record(1280, 720, 59.94), true, eMVF_HD720_5994p},
        {Record(1280, 720, 59.95), true, eMVF_HD720_5994p},
        {Record(1280, 720, 59.95 + 0.0011), true, eMVF_Custom},
        {Record(1280, 720, 60.009), true, eMVF_HD720_60p},
        {Record(1920, 1080, 25.009, kP), true, eMVF_HD1080_25p},
        {Record(1920, 1080, 25.011, kP), true, eMVF_Custom},
        {Record(1920, 1080, 29.98, kP), true, eMVF_HD1080_2997p},
        {Record(1920, 1080, 29.96, kP), true, eMVF_Custom},
        {Record(1920, 1080, 0.0 / 0.0), false, eMVF_Custom},
        // Field order, and the loose tolerance at 1080.
        {Record(1920, 1088, 25), false, eMVF_HD1080_50i},
        {Record(1920, 1088, 25), true, eMVF_Custom}, {Record(1920, 1079, 50), false, eMVF_Custom},
        {Record(1920, 1080, 25, kP), true, eMVF_HD1080_25p},
        {Record(1920, 1080, 25, eMI_Field2First), true, eMVF_Custom},
        {Record(1920, 1125, 50), false, eMVF_HD1080_50p},
        {Record(1920, 1126, 50), false, eMVF_Custom},
        {Record(1920, 1080, 24), true, eMVF_HD1080_24p},
        // Ultra high definition has no upper height.
        {Record(3840, 2160, 25), true, eMVF_4K_UHD_25p},
        {Record(3840, 2160, 25, eMI_Field1First), true, eMVF_4K_UHD_50i},
        {Record(3840, 2400, 30 / 1.001), true, eMVF_4K_UHD_2997p},
        {Record(4096, -2160, 24), true, eMVF_4K_DCI_24p},
        {Record(4096, 2160, 50), true, eMVF_Custom}, {Record(2048, 1556, 24), true, eMVF_Custom},
        // Stereo: two stacked pictures (never top-down RGB, never of an unknown half), side by
        // side when the rows are too short for the full width.
        {half_sbs, true, eMVF_3D_SbS_1080_25p},
        {Record(1920, 2160, 25, kP), true, eMVF_3D_Full_TnB_1080_25p},
        {Record(1280, 1440, 50), true, eMVF_3D_Full_TnB_720_50p},
        {Record(1280, -1440, 50), true, eMVF_Custom}, {Record(1000, 2000, 25), true, eMVF_Custom},
        {Record(3840, 1080, 25, kP, eMFCC_HDYC, 7680), true, eMVF_3D_SbS_1080_25p},
        {Record(3840, 1080, 25, kP, eMFCC_Default, 7680), true, eMVF_Custom},
        {Record(3840, 1080, 25, kP, eMFCC_HDYC, 15360), true, eMVF_Custom},
        {Record(3000, 1080, 25, kP, eMFCC_HDYC, 0), true, eMVF_Custom},
        // clang-format on
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(VideoFormatDetect(cases[i].record, cases[i].strict), cases[i].want)
            << "case " << i;
}

TEST(VideoPropsComplete, DisabledAndGeometrylessFormatsStayAsTheyAre) {
    M_VID_PROPS p = Record(123, 45, 7, eMI_Inverse);
    p.eVideoFormat = eMVF_Disabled;
    p.nAspectX = 3;
    const M_VID_PROPS before = p;
    EXPECT_EQ(VideoPropsComplete(p, false), eMVF_Disabled);
    EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);

    p.eVideoFormat = eMVF_4K_UHD_50p;
    const M_VID_PROPS uhd = p;
    EXPECT_EQ(VideoPropsComplete(p, true), eMVF_Custom);
    EXPECT_EQ(std::memcmp(&p, &uhd, sizeof p), 0);
}

TEST(VideoPropsComplete, NamedFormatLooseTakesGivenValues) {
    M_VID_PROPS p{};
    p.eVideoFormat = eMVF_HD1080_50i;
    p.nHeight = -1;  // only a direction
    p.nAspectX = 4;  // incomplete aspect is dropped
    EXPECT_EQ(VideoPropsComplete(p, false), eMVF_HD1080_50i);
    EXPECT_EQ(p.nHeight, -1080);
    EXPECT_EQ(p.nWidth, 1920);
    EXPECT_EQ(p.nAspectX, 16);
    EXPECT_EQ(p.nRowBytes, 3840);

    p = Record(1280, 0, 0, eMI_Progressive);
    p.eVideoFormat = eMVF_HD1080_50i;
    p.eScaleType = eMST_Crop;
    EXPECT_EQ(VideoPropsComplete(p, false), eMVF_HD1080_50i);
    EXPECT_EQ(p.nWidth, 1280);
    EXPECT_EQ(p.nRowBytes, 2560);  // recomputed for the new width
    EXPECT_EQ(p.eInterlace, eMI_Progressive);
    EXPECT_EQ(p.eScaleType, eMST_Crop);

    // A full description that fits another format is re-detected.
    p = Record(1280, 720, 50);
    p.eVideoFormat = eMVF_HD1080_50i;
    EXPECT_EQ(VideoPropsComplete(p, false), eMVF_HD720_50p);

    // Given row bytes below the minimum are raised.
    p = Record(0, 0, 0, eMI_Default, eMFCC_Default, 100);
    p.eVideoFormat = eMVF_PAL;
    VideoPropsComplete(p, false);
    EXPECT_EQ(p.nRowBytes, 1440);
}

TEST(VideoPropsComplete, StrictTakesOnlyPlausibleHeights) {
    auto complete = [](eMVideoFormat format, int height) {
        M_VID_PROPS p{};
        p.eVideoFormat = format;
        p.nHeight = height;
        p.nWidth = 100;  // ignored when strict
        VideoPropsComplete(p, true);
        return p;
    };
    // No tolerance for 2K.
    const struct {
        eMVideoFormat format;
        int height, want;
    } cases[] = {{eMVF_HD1080_25p, 1088, 1088}, {eMVF_HD1080_25p, 1125, 1125},
                 {eMVF_HD1080_25p, 1126, 1080}, {eMVF_HD1080_25p, -1000, -1080},
                 {eMVF_NTSC, 480, 480},         {eMVF_NTSC, 482, 486},
                 {eMVF_PAL, 480, 576},          {eMVF_2K_24p, 1600, 1556}};
    for (const auto& c : cases) EXPECT_EQ(complete(c.format, c.height).nHeight, c.want) << c.height;
    EXPECT_EQ(complete(eMVF_HD1080_25p, 1088).nWidth, 1920);
}

TEST(VideoPropsComplete, CustomRecordsAreDetectedAndCorrected) {
    // Loose completion detects exactly; strict completion allows the tolerance.
    M_VID_PROPS p = Record(1920, 1088, 25);
    EXPECT_EQ(VideoPropsComplete(p, false), eMVF_Custom);
    p = Record(1920, 1088, 25, eMI_Field2First);
    EXPECT_EQ(VideoPropsComplete(p, true), eMVF_Custom);
    EXPECT_EQ(p.eInterlace, eMI_Progressive);
    EXPECT_EQ(p.fccType, eMFCC_HDYC);
    EXPECT_EQ(p.nRowBytes, 3840);

    p = Record(1920, 1088, 25);
    EXPECT_EQ(VideoPropsComplete(p, true), eMVF_HD1080_50i);

    p = Record(721, 500, 12, eMI_Default, eMFCC_UYVY);
    VideoPropsComplete(p, false);
    EXPECT_EQ(p.nWidth, 720);
    p = Record(721, 500, 12, eMI_Default, eMFCC_RGB24);
    VideoPropsComplete(p, false);
    EXPECT_EQ(p.nWidth, 721);
    EXPECT_EQ(p.nRowBytes, 2164);

    p = Record(640, 480, 12);
    VideoPropsComplete(p, true);
    EXPECT_EQ(p.fccType, eMFCC_UYVY);

    p = Record(3840, 1080, 25, eMI_Progressive, eMFCC_HDYC, 7680);
    EXPECT_EQ(VideoPropsComplete(p, false), eMVF_3D_SbS_1080_25p);
    EXPECT_EQ(p.e3DFormat, eM3D_SideBySide);
}

TEST(VideoProps, ValidityAndAspect) {
    M_VID_PROPS p{};
    EXPECT_FALSE(VideoPropsIsValid(p));
    p.eVideoFormat = eMVF_PAL;
    EXPECT_TRUE(VideoPropsIsValid(p));
    p = Record(2, -2, 0, eMI_Default, eMFCC_RGB24, 8);
    EXPECT_TRUE(VideoPropsIsValid(p));
    p.eVideoFormat = eMVF_Disabled;
    EXPECT_TRUE(VideoPropsIsValid(p));
    p.fccType = eMFCC_Default;
    EXPECT_FALSE(VideoPropsIsValid(p));

    p = Record(720, -576, 25);
    EXPECT_DOUBLE_EQ(PictureAspect(p), 1.25);
    p.nAspectX = 16;
    p.nAspectY = 9;
    EXPECT_DOUBLE_EQ(PictureAspect(p), 16.0 / 9);
    p.nAspectY = -9;
    EXPECT_DOUBLE_EQ(PictureAspect(p), 1.25);
    EXPECT_DOUBLE_EQ(PictureAspect(M_VID_PROPS{}), 16.0 / 9);
}

}  // namespace
}  // namespace orvex::formats
