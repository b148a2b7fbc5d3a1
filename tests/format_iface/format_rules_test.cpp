// The format rules without an object: lists, descriptions, merges, comparisons, overrides.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "formats/format_describe.h"
#include "formats/image_format.h"
#include "formats/video_formats.h"

using namespace orvex::formats;

namespace {

std::string Text(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

M_VID_PROPS Custom(eMFCC fcc, int width, int height, double rate, eMInterlace order) {
    M_VID_PROPS p{};
    p.fccType = fcc;
    p.nWidth = width;
    p.nHeight = height;
    p.nRowBytes = RowBytesFor(fcc, width);
    p.dblRate = rate;
    p.eInterlace = order;
    return p;
}

}  // namespace

TEST(FormatRules, StandardListsDescribeTheirEntries) {
    const auto video = StandardVideoList();
    ASSERT_EQ(video.size(), 88u);
    // Completion alone would re-detect these as a custom 2K and a half side-by-side format.
    EXPECT_EQ(Text(VideoFormatDescribe(video[20])), "2K-23p HDYC 2048x1556@23.98p 239:100");
    EXPECT_EQ(Text(VideoFormatDescribe(video[70])), "3D-SbS HD1080-25p HDYC 3840x1080@25.00p 16:9");
    const auto audio = StandardAudioList();
    ASSERT_EQ(audio.size(), 191u);
    EXPECT_EQ(Text(AudioFormatDescribe(audio[1])), "48000 Hz, 2 Ch, 16-bit");
}

TEST(FormatRules, DescriptionsOfOddRecordsStayWithinTheNameLists) {
    EXPECT_EQ(Text(VideoFormatDescribe(VideoFormatDefaults(eMVF_NTSC, eMFCC_RGB32))),
              "NTSC RGB32 720x-486@29.97iB 4:3");
    M_VID_PROPS odd = Custom(eMFCC_UYVY, 640, 360, 30, eMI_DeinterlaceF1);
    EXPECT_EQ(Text(VideoFormatDescribe(odd)), "UYVY 640x360@30.00");
    odd.eInterlace = static_cast<eMInterlace>(-7);
    odd.eVideoFormat = static_cast<eMVideoFormat>(0xFE);
    EXPECT_EQ(Text(VideoFormatDescribe(odd)), "UYVY 640x360@30.00");
    odd.dblRate = std::numeric_limits<double>::max();  // 309 digits before the point
    EXPECT_EQ(Text(VideoFormatDescribe(odd)).substr(0, 19), "UYVY 640x360@179769");
    EXPECT_EQ(Text(PixelFormatText(static_cast<eMFCC>(0x01020304))), "0x1020304");
    EXPECT_EQ(Text(AudioFormatDescribe({6, 48000, 0, 0})), "<Auto/Not Specified>");
}

TEST(FormatRules, MergesFillOnlyUnsetFields) {
    const M_VID_PROPS base = VideoFormatDefaults(eMVF_HD1080_50i, eMFCC_v210);
    M_VID_PROPS sizeOnly{};
    sizeOnly.nWidth = 1281;
    sizeOnly.nHeight = 720;
    M_VID_PROPS r = VideoPropsMerge(&sizeOnly, base);
    EXPECT_EQ(r.fccType, eMFCC_v210);
    EXPECT_EQ(r.nWidth, 1280);  // even widths for YUV
    EXPECT_EQ(r.nRowBytes, 3456);
    EXPECT_DOUBLE_EQ(r.dblRate, 25.0);
    EXPECT_EQ(VideoPropsMerge(&sizeOnly, M_VID_PROPS{}).fccType, eMFCC_UYVY);
    // Audio merges only from a complete record, and never into "no audio".
    const M_AUD_PROPS rateOnly{0, 44100, 0, 0}, noAudio{-1, 0, 0, 0};
    EXPECT_EQ(AudioPropsMerge(&rateOnly, {2, 48000, 16, 2}).nBitsPerSample, 16);
    EXPECT_EQ(AudioPropsMerge(&rateOnly, {2, 0, 16, 0}).nChannels, 0);
    EXPECT_EQ(AudioPropsMerge(&noAudio, {2, 48000, 16, 2}).nSamplesPerSec, 0);
}

TEST(FormatRules, EqualityLevels) {
    const M_VID_PROPS a = VideoFormatDefaults(eMVF_HD1080_25p, eMFCC_Default);
    M_VID_PROPS b = a;
    b.eScaleType = eMST_Crop;  // a named format ignores the scaling
    EXPECT_TRUE(VideoPropsEqual(a, b, 0));
    b.nAspectX = 4;
    b.nAspectY = 3;
    EXPECT_FALSE(VideoPropsEqual(a, b, 0));
    b.eScaleType = eMST_IgnoreAR;
    EXPECT_TRUE(VideoPropsEqual(a, b, 0));

    // Custom records: rates within 0.01 are equal, then every field counts.
    M_VID_PROPS c = Custom(eMFCC_RGB32, 640, 360, 30.0, eMI_Progressive);
    M_VID_PROPS d = c;
    d.dblRate = 30.005;
    EXPECT_TRUE(VideoPropsEqual(c, d, 0));
    d.dblRate = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(VideoPropsEqual(c, d, 0));
    d = c;
    d.nHeight = -360;
    EXPECT_FALSE(VideoPropsEqual(c, d, 0));
    EXPECT_TRUE(VideoPropsEqual(c, d, 2));
    d.nRowBytes = 4096;
    EXPECT_FALSE(VideoPropsEqual(c, d, 3));
    d.fccType = eMFCC_UYVY;
    EXPECT_FALSE(VideoPropsEqual(c, d, 2));
    EXPECT_TRUE(VideoPropsEqual(c, d, 1));

    EXPECT_TRUE(AudioPropsEqual({2, 48000, 16, 2}, {2, 48000, 16, 128}));
    EXPECT_FALSE(AudioPropsEqual({2, 48000, 16, 0}, {0, 48000, 16, 0}));
}

TEST(FormatRules, OverrideSwapsFieldsAndOnlyTheAlphaFlag) {
    M_VID_PROPS ovr{};
    ovr.eInterlace = eMI_Inverse;
    M_VID_PROPS v = VideoFormatDefaults(eMVF_HD1080_50i, eMFCC_RGB32);
    EXPECT_EQ(VideoOverrideApply(v, ovr), kOverrideFieldOrder);
    EXPECT_EQ(v.eInterlace, eMI_Field2First);
    v.eInterlace = eMI_Progressive;
    EXPECT_EQ(VideoOverrideApply(v, ovr), 0);

    ovr = {};
    ovr.eInterlace = eMI_OneField;
    ovr.nAspectX = 4;  // half an aspect is ignored
    ovr.fccType = eMFCC_ARGB32;
    EXPECT_EQ(VideoOverrideApply(v, ovr), kOverrideFieldOrder | kOverridePixelFormat);
    EXPECT_EQ(v.eInterlace, eMI_Field1First);
    EXPECT_EQ(v.fccType, eMFCC_ARGB32);
    v.fccType = eMFCC_UYVY;
    EXPECT_EQ(VideoOverrideApply(v, ovr) & kOverridePixelFormat, 0);
    EXPECT_EQ(v.fccType, eMFCC_UYVY);
}
