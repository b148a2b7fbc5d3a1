// The format rules without an object: lists, descriptions, merges, comparisons, overrides.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "formats/format_describe.h"
#include "formats/image_format.h"
#include "formats/video_formats.h"

using namespace orvex::formats;

namespace {

std::string Narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

M_VID_PROPS Named(eMVideoFormat format, eMFCC fcc = eMFCC_Default) {
    return VideoFormatDefaults(format, fcc);
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

TEST(StandardLists, VideoListHoldsEveryOfferedFormatInOrder) {
    const auto list = StandardVideoList();
    ASSERT_EQ(list.size(), 88u);
    EXPECT_EQ(Narrow(VideoFormatDescribe(list[0])), "<Auto/Not Specified>");
    EXPECT_EQ(Narrow(VideoFormatDescribe(list[14])), "HD1080-50i HDYC 1920x1080@25.00iT 16:9");
    EXPECT_EQ(Narrow(VideoFormatDescribe(list[1])), "NTSC UYVY 720x486@29.97iB 4:3");
    EXPECT_EQ(list.back().eVideoFormat, eMVF_Disabled);
    EXPECT_EQ(Narrow(VideoFormatDescribe(list.back())), "<No Video>");

    // Bases without table values stay listed, with zero size.
    EXPECT_EQ(list[34].eVideoFormat, eMVF_4K_UHD_50p);
    EXPECT_EQ(list[34].nWidth, 0);
    EXPECT_EQ(list[39].eVideoFormat, eMVF_4K_DCI_60p);

    // Stereo groups: 14 half side-by-side, 11 of each other packing.
    EXPECT_EQ(list[40].eVideoFormat, eMVF_3D_SbS_720_50p);
    EXPECT_EQ(list[53].eVideoFormat, eMVF_3D_SbS_1080_60p);
    EXPECT_EQ(list[54].eVideoFormat, eMVF_3D_TnB_720_50p);
    EXPECT_EQ(list[62].eVideoFormat, eMVF_3D_TnB_1080_50p);
    EXPECT_EQ(list[65].eVideoFormat, eMVF_3D_Full_SbS_720_50p);
    EXPECT_EQ(list[76].eVideoFormat, eMVF_3D_Full_TnB_720_50p);
    EXPECT_EQ(list[86].eVideoFormat, eMVF_3D_Full_TnB_1080_60i);
    EXPECT_EQ(list[70].nWidth, 3840);  // full side by side of 1080 25p
    EXPECT_EQ(Narrow(VideoFormatDescribe(list[70])),
              "3D-SbS HD1080-25p HDYC 3840x1080@25.00p 16:9");
    EXPECT_EQ(Narrow(VideoFormatDescribe(list[40])), "3D-HSbS HD720-50p HDYC 1280x720@50.00p 16:9");
    // Formats that detection never gives back keep their names.
    EXPECT_EQ(Narrow(VideoFormatDescribe(list[20])), "2K-23p HDYC 2048x1556@23.98p 239:100");
}

TEST(StandardLists, AudioListHoldsNotSpecifiedEveryLayoutAndNoAudio) {
    const auto list = StandardAudioList();
    ASSERT_EQ(list.size(), 191u);
    EXPECT_EQ(Narrow(AudioFormatDescribe(list[0])), "<Auto/Not Specified>");
    EXPECT_EQ(Narrow(AudioFormatDescribe(list[1])), "48000 Hz, 2 Ch, 16-bit");
    EXPECT_EQ(Narrow(AudioFormatDescribe(list[9])), "48000 Hz, 1 Ch, 16-bit");
    EXPECT_EQ(Narrow(AudioFormatDescribe(list[10])), "44100 Hz, 2 Ch, 16-bit");
    EXPECT_EQ(Narrow(AudioFormatDescribe(list[64])), "48000 Hz, 2 Ch, 24-bit");
    EXPECT_EQ(Narrow(AudioFormatDescribe(list[189])), "8000 Hz, 1 Ch, 32-bit");
    EXPECT_EQ(list.back().nChannels, -1);
    EXPECT_EQ(Narrow(AudioFormatDescribe(list.back())), "<No Audio>");
    for (const auto& entry : list) EXPECT_EQ(entry.nTrackSplitBits, 0);
}

TEST(Describe, VideoTextsForCustomRgbAndOddRecords) {
    // Top-down RGB keeps its sign; named non-printable codes; custom formats have no name.
    EXPECT_EQ(Narrow(VideoFormatDescribe(Named(eMVF_NTSC, eMFCC_RGB32))),
              "NTSC RGB32 720x-486@29.97iB 4:3");
    EXPECT_EQ(Narrow(VideoFormatDescribe(Custom(eMFCC_ARGB32, 640, 360, 30, eMI_Default))),
              "ARGB32 640x360@30.00");

    // Field orders beyond the short-name list and bases beyond the table add nothing.
    M_VID_PROPS deinterlaced = Custom(eMFCC_UYVY, 640, 360, 30, eMI_DeinterlaceF1);
    EXPECT_EQ(Narrow(VideoFormatDescribe(deinterlaced)), "UYVY 640x360@30.00");
    deinterlaced.eInterlace = static_cast<eMInterlace>(-7);
    EXPECT_EQ(Narrow(VideoFormatDescribe(deinterlaced)), "UYVY 640x360@30.00");
    M_VID_PROPS unknownBase = Custom(eMFCC_UYVY, 640, 360, 30, eMI_Progressive);
    unknownBase.eVideoFormat = static_cast<eMVideoFormat>(0xFE);
    EXPECT_EQ(Narrow(VideoFormatDescribe(unknownBase)), "UYVY 640x360@30.00p");

    // Disabled wins over everything else; an empty record is not specified.
    M_VID_PROPS disabled = Named(eMVF_HD720_50p);
    disabled.eVideoFormat = eMVF_Disabled;
    EXPECT_EQ(Narrow(VideoFormatDescribe(disabled)), "<No Video>");
    EXPECT_EQ(Narrow(VideoFormatDescribe(M_VID_PROPS{})), "<Auto/Not Specified>");
}

TEST(Describe, PixelFormatAndAudioTexts) {
    EXPECT_EQ(Narrow(PixelFormatText(eMFCC_v210)), "v210");
    EXPECT_EQ(Narrow(PixelFormatText(eMFCC_RGB24)), "RGB24");
    EXPECT_EQ(Narrow(PixelFormatText(static_cast<eMFCC>(0x297C55AF))), "ARGB1555");
    EXPECT_EQ(Narrow(PixelFormatText(static_cast<eMFCC>(1))), "BI_RLE8");
    EXPECT_EQ(Narrow(PixelFormatText(static_cast<eMFCC>(0x01020304))), "0x1020304");

    EXPECT_EQ(Narrow(AudioFormatDescribe({6, 0, 16, 0})), "<Auto/Not Specified>");
    EXPECT_EQ(Narrow(AudioFormatDescribe({6, 48000, 0, 0})), "<Auto/Not Specified>");
    EXPECT_EQ(Narrow(AudioFormatDescribe({-1, 48000, 16, 0})), "<No Audio>");
    EXPECT_EQ(Narrow(AudioFormatDescribe({16, 96000, 24, 0xFFFF})), "96000 Hz, 16 Ch, 24-bit");
}

TEST(Merge, VideoTakesUnsetFieldsFromBase) {
    const M_VID_PROPS base = Named(eMVF_HD1080_50i, eMFCC_v210);
    EXPECT_EQ(VideoPropsMerge(nullptr, base).nRowBytes, base.nRowBytes);

    M_VID_PROPS sizeOnly{};
    sizeOnly.nWidth = 1280;
    sizeOnly.nHeight = 720;
    M_VID_PROPS r = VideoPropsMerge(&sizeOnly, base);
    EXPECT_EQ(r.fccType, eMFCC_v210);
    EXPECT_EQ(r.nWidth, 1280);
    EXPECT_EQ(r.nRowBytes, 3456);
    EXPECT_EQ(r.eInterlace, eMI_Field1First);
    EXPECT_DOUBLE_EQ(r.dblRate, 25.0);
    EXPECT_EQ(r.nAspectX, 16);
    EXPECT_EQ(r.eVideoFormat, eMVF_Custom);

    // Nothing to inherit: UYVY and its minimum row.
    r = VideoPropsMerge(&sizeOnly, M_VID_PROPS{});
    EXPECT_EQ(r.fccType, eMFCC_UYVY);
    EXPECT_EQ(r.nRowBytes, 2560);

    // A missing height takes the base's whole size, row bytes for the record's pixel format.
    M_VID_PROPS widthOnly{};
    widthOnly.fccType = eMFCC_RGB24;
    widthOnly.nWidth = 641;
    r = VideoPropsMerge(&widthOnly, base);
    EXPECT_EQ(r.nWidth, 1920);
    EXPECT_EQ(r.nRowBytes, 5760);

    // Half an aspect takes the base's; odd widths survive only in RGB.
    M_VID_PROPS odd = Custom(eMFCC_RGB24, 641, 480, 30, eMI_Progressive);
    odd.nAspectX = 4;
    r = VideoPropsMerge(&odd, base);
    EXPECT_EQ(r.nWidth, 641);
    EXPECT_EQ(r.nAspectY, 9);
    odd.fccType = eMFCC_YUY2;
    EXPECT_EQ(VideoPropsMerge(&odd, base).nWidth, 640);
}

TEST(Merge, AudioFillsOnlyFromCompleteBase) {
    const M_AUD_PROPS base{2, 48000, 16, 2};
    const M_AUD_PROPS rateOnly{0, 44100, 0, 0};
    M_AUD_PROPS r = AudioPropsMerge(&rateOnly, base);
    EXPECT_EQ(r.nChannels, 2);
    EXPECT_EQ(r.nSamplesPerSec, 44100);
    EXPECT_EQ(r.nBitsPerSample, 16);

    const M_AUD_PROPS noAudio{-1, 0, 0, 0};
    EXPECT_EQ(AudioPropsMerge(&noAudio, base).nSamplesPerSec, 0);
    EXPECT_EQ(AudioPropsMerge(&rateOnly, M_AUD_PROPS{2, 0, 16, 0}).nChannels, 0);
    EXPECT_EQ(AudioPropsMerge(nullptr, base).nSamplesPerSec, 48000);
}

TEST(Equal, LevelZeroComparesThePicture) {
    M_VID_PROPS a = Named(eMVF_HD1080_25p);
    M_VID_PROPS b = a;
    b.eScaleType = eMST_Crop;  // a named format ignores the scaling
    EXPECT_TRUE(VideoPropsEqual(a, b, 0));
    b = a;
    b.nAspectX = 4;
    b.nAspectY = 3;
    EXPECT_FALSE(VideoPropsEqual(a, b, 0));
    b.eScaleType = eMST_IgnoreAR;
    EXPECT_TRUE(VideoPropsEqual(a, b, 0));
    b = a;
    b.nAspectX = 32;
    b.nAspectY = 18;
    EXPECT_TRUE(VideoPropsEqual(a, b, 0));
    b = a;
    b.eInterlace = eMI_Field2First;
    EXPECT_FALSE(VideoPropsEqual(a, b, 0));

    // Custom records: rates within 0.01 count as equal, then every field counts.
    M_VID_PROPS c = Custom(eMFCC_UYVY, 640, 360, 30.0, eMI_Progressive);
    M_VID_PROPS d = c;
    d.dblRate = 30.005;
    EXPECT_TRUE(VideoPropsEqual(c, d, 0));
    d.dblRate = 30.01;
    EXPECT_FALSE(VideoPropsEqual(c, d, 0));
    d = c;
    d.eScaleType = eMST_LetterBox;
    EXPECT_FALSE(VideoPropsEqual(c, d, 0));
    d = c;
    d.nHeight = -360;
    EXPECT_FALSE(VideoPropsEqual(c, d, 0));
    d.dblRate = std::numeric_limits<double>::quiet_NaN();
    c.dblRate = d.dblRate;
    d.nHeight = 360;
    EXPECT_FALSE(VideoPropsEqual(c, d, 0));
}

TEST(Equal, HigherLevelsCompareSizeThenPixelFormatThenRows) {
    M_VID_PROPS a = Custom(eMFCC_RGB32, 1920, 1080, 25, eMI_Progressive);
    M_VID_PROPS b = Custom(eMFCC_UYVY, 1920, -1080, 50, eMI_Field1First);
    EXPECT_TRUE(VideoPropsEqual(a, b, 1));
    EXPECT_FALSE(VideoPropsEqual(a, b, 2));
    b.fccType = eMFCC_RGB32;
    EXPECT_TRUE(VideoPropsEqual(a, b, 2));
    b.nRowBytes = 8192;
    EXPECT_TRUE(VideoPropsEqual(a, b, 2));
    EXPECT_FALSE(VideoPropsEqual(a, b, 3));
    b.nWidth = 1280;
    EXPECT_FALSE(VideoPropsEqual(a, b, 1));

    EXPECT_TRUE(AudioPropsEqual({2, 48000, 16, 2}, {2, 48000, 16, 128}));
    EXPECT_FALSE(AudioPropsEqual({2, 48000, 16, 0}, {0, 48000, 16, 0}));
    EXPECT_TRUE(AudioPropsEqual({}, {}));
}

TEST(Override, FieldOrderAspectScaleRateAndAlpha) {
    M_VID_PROPS ovr{};
    ovr.eInterlace = eMI_Inverse;
    M_VID_PROPS v = Named(eMVF_HD1080_50i);
    EXPECT_EQ(VideoOverrideApply(v, ovr), kOverrideFieldOrder);
    EXPECT_EQ(v.eInterlace, eMI_Field2First);
    VideoOverrideApply(v, ovr);
    EXPECT_EQ(v.eInterlace, eMI_Field1First);
    v.eInterlace = eMI_Progressive;
    EXPECT_EQ(VideoOverrideApply(v, ovr), 0);
    EXPECT_EQ(v.eInterlace, eMI_Progressive);

    ovr = {};
    ovr.eInterlace = eMI_OneField;
    ovr.nAspectX = 4;  // half an aspect is ignored
    ovr.eScaleType = eMST_Crop;
    ovr.dblRate = 24;
    EXPECT_EQ(VideoOverrideApply(v, ovr), kOverrideFieldOrder | kOverrideScaleType | kOverrideRate);
    EXPECT_EQ(v.eInterlace, eMI_Field1First);
    EXPECT_EQ(v.nAspectX, 16);
    EXPECT_EQ(v.eScaleType, eMST_Crop);
    EXPECT_DOUBLE_EQ(v.dblRate, 24);

    // The pixel format only moves between RGB32 and ARGB32.
    ovr = {};
    ovr.fccType = eMFCC_ARGB32;
    EXPECT_EQ(VideoOverrideApply(v, ovr), 0);
    EXPECT_EQ(v.fccType, eMFCC_HDYC);
    v.fccType = eMFCC_RGB32;
    EXPECT_EQ(VideoOverrideApply(v, ovr), kOverridePixelFormat);
    EXPECT_EQ(v.fccType, eMFCC_ARGB32);
}
