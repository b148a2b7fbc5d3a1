// The scaling converter's choices (level to method, which path) and what it writes, and the
// alpha divide of keyed pictures.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "backend/scaler.h"
#include "decklink/divide_alpha.h"
#include "formats/video_formats.h"

namespace {

using namespace orvex::decklink;
using namespace orvex::backend;

TEST(ScalingQuality, LevelsMapToMethods) {
    struct Row {
        const char16_t* text;
        int method;
        bool field_wise, automatic;
    } rows[] = {
        {u"auto", 5, false, true}, {u"", 5, false, true},     {u"4x", 5, false, true},
        {u"-4", 1, false, false},  {u"3", 2, false, false},   {u"9", 16, false, false},
        {u"99", 16, true, false},  {u" 12 ", 2, true, false},
    };
    for (const Row& r : rows) {
        const ScaleMethod m = ParseScalingQuality(r.text);
        EXPECT_EQ(m.method, r.method) << std::u16string_view(r.text).size();
        EXPECT_EQ(m.field_wise_forced, r.field_wise);
        EXPECT_EQ(m.automatic, r.automatic);
    }
}

M_VID_PROPS Props(eMVideoFormat format, eMFCC fcc) {
    return orvex::formats::VideoFormatDefaults(format, fcc);
}

std::vector<std::uint8_t> Buffer(const M_VID_PROPS& p, std::uint8_t fill) {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(p.nRowBytes) * std::abs(p.nHeight),
                                     fill);
}

TEST(ScalingConverter, ResizesThenConvertsAndPicksThePathByFields) {
    struct Row {
        eMVideoFormat from, to;
        eMFCC from_fcc, to_fcc;
        const char16_t* quality;
        int path, method;
    } rows[] = {
        // Same size: our conversion alone.
        {eMVF_HD1080_50i, eMVF_HD1080_50i, eMFCC_ARGB32, eMFCC_UYVY, u"auto", 0, 0},
        // Up from PAL: Catmull-Rom, frame-wise (the picture grows).
        {eMVF_PAL, eMVF_HD1080_50i, eMFCC_UYVY, eMFCC_UYVY, u"auto", 1, 5},
        // Interlaced down by more than half: area averaging per field.
        {eMVF_HD1080_50i, eMVF_PAL, eMFCC_UYVY, eMFCC_UYVY, u"auto", 2, 8},
        // Bilinear never goes field-wise unless forced.
        {eMVF_HD1080_50i, eMVF_PAL, eMFCC_UYVY, eMFCC_UYVY, u"2", 1, 2},
        {eMVF_HD1080_50i, eMVF_PAL, eMFCC_UYVY, eMFCC_UYVY, u"12", 2, 2},
        // Progressive pictures stay frame-wise; v210 is read through UYVY.
        {eMVF_HD720_50p, eMVF_HD1080_50p, eMFCC_v210, eMFCC_v210, u"9", 1, 16},
        {eMVF_HD1080_25p, eMVF_HD720_50p, eMFCC_RGB32, eMFCC_HDYC, u"6", 1, 6},
    };
    for (const Row& r : rows) {
        const M_VID_PROPS sp = Props(r.from, r.from_fcc), dp = Props(r.to, r.to_fcc);
        std::vector<std::uint8_t> src = Buffer(sp, 0x80), dst = Buffer(dp, 0);
        ScalingConverter scaler;
        ASSERT_EQ(scaler.Convert(src.data(), sp, dst.data(), dp, ParseScalingQuality(r.quality)),
                  S_OK)
            << r.from << "->" << r.to;
        EXPECT_EQ(scaler.LastPath(), r.path) << r.from << "->" << r.to;
        if (r.path) {
            EXPECT_EQ(scaler.LastMethod(), r.method);
        }
    }
}

TEST(ScalingConverter, AFlatPictureStaysFlatWhenScaled) {
    // Grey UYVY (U = V = 128, Y = 100) scaled up with every method stays that grey.
    const M_VID_PROPS sp = Props(eMVF_PAL, eMFCC_UYVY), dp = Props(eMVF_HD720_50p, eMFCC_UYVY);
    std::vector<std::uint8_t> src = Buffer(sp, 128);
    for (std::size_t i = 1; i < src.size(); i += 2) src[i] = 100;
    for (const char16_t* q : {u"1", u"2", u"4", u"5", u"6", u"7", u"8", u"9"}) {
        std::vector<std::uint8_t> dst = Buffer(dp, 0);
        ScalingConverter scaler;
        ASSERT_EQ(scaler.Convert(src.data(), sp, dst.data(), dp, ParseScalingQuality(q)), S_OK);
        for (std::size_t i = 0; i < dst.size(); ++i)
            ASSERT_NEAR(dst[i], i % 2 ? 100 : 128, 1)
                << "method " << static_cast<int>(q[0]) << " byte " << i;
    }
}

TEST(ScalingConverter, TopAndBottomTargetsGetOneHalfPerEye) {
    // A 2D source shown to both eyes of a double-height picture.
    const M_VID_PROPS sp = Props(eMVF_HD1080_50i, eMFCC_UYVY);
    M_VID_PROPS dp = sp;
    dp.nHeight *= 2;
    dp.e3DFormat = static_cast<eM3DFormat>(0x1400);
    std::vector<std::uint8_t> src = Buffer(sp, 0x55), dst = Buffer(dp, 0);
    ScalingConverter scaler;
    ASSERT_EQ(scaler.Convert(src.data(), sp, dst.data(), dp, ParseScalingQuality(u"auto")), S_OK);
    EXPECT_EQ(std::count(dst.begin(), dst.end(), 0x55), static_cast<long>(dst.size()));

    // A top-and-bottom source: each eye gets its own half.
    M_VID_PROPS tb = dp;
    std::vector<std::uint8_t> both = Buffer(tb, 0x10);
    std::fill(both.begin() + static_cast<long>(both.size() / 2), both.end(), 0x90);
    std::vector<std::uint8_t> out = Buffer(tb, 0);
    ASSERT_EQ(scaler.Convert(both.data(), tb, out.data(), tb, ParseScalingQuality(u"auto")), S_OK);
    EXPECT_EQ(out, both);
}

TEST(ScalingConverter, RefusesSizesItCannotTrust) {
    M_VID_PROPS sp = Props(eMVF_PAL, eMFCC_UYVY), dp = Props(eMVF_HD1080_50i, eMFCC_UYVY);
    std::vector<std::uint8_t> src = Buffer(sp, 0), dst = Buffer(dp, 0);
    ScalingConverter scaler;
    const ScaleMethod m = ParseScalingQuality(u"auto");
    M_VID_PROPS bad = sp;
    bad.nRowBytes = 10;  // shorter than a row
    EXPECT_EQ(scaler.Convert(src.data(), bad, dst.data(), dp, m), E_INVALIDARG);
    bad = sp;
    bad.nWidth = 100'000;
    EXPECT_EQ(scaler.Convert(src.data(), bad, dst.data(), dp, m), E_INVALIDARG);
    EXPECT_EQ(scaler.Convert(nullptr, sp, dst.data(), dp, m), E_INVALIDARG);
    bad = sp;
    bad.fccType = eMFCC_I420;
    EXPECT_EQ(scaler.Convert(src.data(), bad, dst.data(), dp, m), E_INVALIDARG);
}

TEST(DivideByAlpha, RoundsHalfAwayAndClamps) {
    struct Row {
        std::uint8_t in[4], out[4];
    } rows[] = {
        {{64, 32, 0, 128}, {128, 64, 0, 128}},   // halves of 128
        {{1, 2, 3, 3}, {85, 171, 255, 3}},       // 85.33 -> 85, 170.67 -> 171, 256 -> 255
        {{200, 100, 50, 0}, {200, 100, 50, 0}},  // no alpha: colour stays
        {{255, 255, 255, 255}, {255, 255, 255, 255}},
        {{1, 0, 0, 2}, {128, 0, 0, 2}},    // 128 exactly
        {{3, 0, 0, 200}, {4, 0, 0, 200}},  // 3.84 -> 4
    };
    for (const Row& r : rows) {
        std::uint8_t px[8] = {r.in[0], r.in[1], r.in[2], r.in[3], 9, 9, 9, 9};
        DivideByAlpha(px, 1, 1, 8);
        for (int c = 0; c < 4; ++c) EXPECT_EQ(px[c], r.out[c]) << c;
        EXPECT_EQ(px[4], 9);  // past the width: untouched
    }
}

}  // namespace
