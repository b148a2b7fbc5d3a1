// The base video formats and the pixel formats as constant tables. Stereo formats are not
// rows of their own: they are a base combined with a packing (value = base | packing).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "orvex/types.h"

namespace orvex::formats {

inline constexpr double kRate2398 = 24 / 1.001;
inline constexpr double kRate2997 = 30 / 1.001;
inline constexpr double kRate5994 = 60 / 1.001;

struct BaseFormat {
    eMVideoFormat value;
    std::u16string_view name;        // the enumeration's name
    std::u16string_view short_name;  // empty for eMVF_Disabled
    int width;
    int height;
    double rate;
    eMInterlace field_order;
    short aspect_x;
    short aspect_y;
    eMFCC default_fcc;  // for base 0 unused (a zero record has none)
    int height_tolerance;
};

// clang-format off
inline constexpr std::array<BaseFormat, 41> kBaseFormats{{
    {eMVF_Custom, u"eMVF_Custom", u"Custom", 0, 0, 0, eMI_Default, 0, 0, eMFCC_UYVY, 0},
    {eMVF_NTSC, u"eMVF_NTSC", u"NTSC", 720, 486, kRate2997, eMI_Field2First, 4, 3, eMFCC_UYVY, 39},
    {eMVF_NTSC_2398, u"eMVF_NTSC_2398", u"NTSC-23p", 720, 486, kRate2398, eMI_Progressive, 4, 3, eMFCC_UYVY, 39},
    {eMVF_NTSC_16x9, u"eMVF_NTSC_16x9", u"NTSC-16x9", 720, 486, kRate2997, eMI_Field2First, 16, 9, eMFCC_UYVY, 39},
    {eMVF_PAL, u"eMVF_PAL", u"PAL", 720, 576, 25, eMI_Field1First, 4, 3, eMFCC_UYVY, 49},
    {eMVF_PAL_16x9, u"eMVF_PAL_16x9", u"PAL-16x9", 720, 576, 25, eMI_Field1First, 16, 9, eMFCC_UYVY, 49},
    {eMVF_HD720_50p, u"eMVF_HD720_50p", u"HD720-50p", 1280, 720, 50, eMI_Progressive, 16, 9, eMFCC_HDYC, 30},
    {eMVF_HD720_5994p, u"eMVF_HD720_5994p", u"HD720-59p", 1280, 720, kRate5994, eMI_Progressive, 16, 9, eMFCC_HDYC, 30},
    {eMVF_HD720_60p, u"eMVF_HD720_60p", u"HD720-60p", 1280, 720, 60, eMI_Progressive, 16, 9, eMFCC_HDYC, 30},
    {eMVF_HD1080_2398p, u"eMVF_HD1080_2398p", u"HD1080-23p", 1920, 1080, kRate2398, eMI_Progressive, 16, 9, eMFCC_HDYC, 45},
    {eMVF_HD1080_24p, u"eMVF_HD1080_24p", u"HD1080-24p", 1920, 1080, 24, eMI_Progressive, 16, 9, eMFCC_HDYC, 45},
    {eMVF_HD1080_25p, u"eMVF_HD1080_25p", u"HD1080-25p", 1920, 1080, 25, eMI_Progressive, 16, 9, eMFCC_HDYC, 45},
    {eMVF_HD1080_2997p, u"eMVF_HD1080_2997p", u"HD1080-29p", 1920, 1080, kRate2997, eMI_Progressive, 16, 9, eMFCC_HDYC, 45},
    {eMVF_HD1080_30p, u"eMVF_HD1080_30p", u"HD1080-30p", 1920, 1080, 30, eMI_Progressive, 16, 9, eMFCC_HDYC, 45},
    {eMVF_HD1080_50i, u"eMVF_HD1080_50i", u"HD1080-50i", 1920, 1080, 25, eMI_Field1First, 16, 9, eMFCC_HDYC, 45},
    {eMVF_HD1080_5994i, u"eMVF_HD1080_5994i", u"HD1080-59i", 1920, 1080, kRate2997, eMI_Field1First, 16, 9, eMFCC_HDYC, 45},
    {eMVF_HD1080_60i, u"eMVF_HD1080_60i", u"HD1080-60i", 1920, 1080, 30, eMI_Field1First, 16, 9, eMFCC_HDYC, 45},
    {eMVF_HD1080_50p, u"eMVF_HD1080_50p", u"HD1080-50p", 1920, 1080, 50, eMI_Progressive, 16, 9, eMFCC_HDYC, 45},
    {eMVF_HD1080_5994p, u"eMVF_HD1080_5994p", u"HD1080-59p", 1920, 1080, kRate5994, eMI_Progressive, 16, 9, eMFCC_HDYC, 45},
    {eMVF_HD1080_60p, u"eMVF_HD1080_60p", u"HD1080-60p", 1920, 1080, 60, eMI_Progressive, 16, 9, eMFCC_HDYC, 45},
    {eMVF_2K_2398p, u"eMVF_2K_2398p", u"2K-23p", 2048, 1556, kRate2398, eMI_Progressive, 239, 100, eMFCC_HDYC, 0},
    {eMVF_2K_24p, u"eMVF_2K_24p", u"2K-24p", 2048, 1556, 24, eMI_Progressive, 239, 100, eMFCC_HDYC, 0},
    {eMVF_2K_25p, u"eMVF_2K_25p", u"2K-25p", 2048, 1556, 25, eMI_Progressive, 239, 100, eMFCC_HDYC, 0},
    {eMVF_4K_UHD_50i, u"eMVF_4K_UHD_50i", u"4K-UHD-50i", 3840, 2160, 25, eMI_Field1First, 16, 9, eMFCC_HDYC, 0},
    {eMVF_4K_UHD_5994i, u"eMVF_4K_UHD_5994i", u"4K-UHD-5994i", 3840, 2160, kRate2997, eMI_Field1First, 16, 9, eMFCC_HDYC, 0},
    {eMVF_4K_UHD_60i, u"eMVF_4K_UHD_60i", u"4K-UHD-60i", 3840, 2160, 30, eMI_Field1First, 16, 9, eMFCC_HDYC, 0},
    {eMVF_4K_UHD_2398p, u"eMVF_4K_UHD_2398p", u"4K-UHD-23p", 3840, 2160, kRate2398, eMI_Progressive, 16, 9, eMFCC_HDYC, 0},
    {eMVF_4K_UHD_24p, u"eMVF_4K_UHD_24p", u"4K-UHD-24p", 3840, 2160, 24, eMI_Progressive, 16, 9, eMFCC_HDYC, 0},
    {eMVF_4K_UHD_25p, u"eMVF_4K_UHD_25p", u"4K-UHD-25p", 3840, 2160, 25, eMI_Progressive, 16, 9, eMFCC_HDYC, 0},
    {eMVF_4K_UHD_2997p, u"eMVF_4K_UHD_2997p", u"4K-UHD-29p", 3840, 2160, kRate2997, eMI_Progressive, 16, 9, eMFCC_HDYC, 0},
    {eMVF_4K_UHD_30p, u"eMVF_4K_UHD_30p", u"4K-UHD-30p", 3840, 2160, 30, eMI_Progressive, 16, 9, eMFCC_HDYC, 0},
    {eMVF_4K_DCI_2398p, u"eMVF_4K_DCI_2398p", u"4K-DCI-23p", 4096, 2160, kRate2398, eMI_Progressive, 256, 135, eMFCC_HDYC, 0},
    {eMVF_4K_DCI_24p, u"eMVF_4K_DCI_24p", u"4K-DCI-24p", 4096, 2160, 24, eMI_Progressive, 256, 135, eMFCC_HDYC, 0},
    {eMVF_4K_DCI_25p, u"eMVF_4K_DCI_25p", u"4K-DCI-25p", 4096, 2160, 25, eMI_Progressive, 256, 135, eMFCC_HDYC, 0},
    // 50/59.94/60p 4K: named, but no geometry here; backends map them to card modes themselves.
    {eMVF_4K_UHD_50p, u"eMVF_4K_UHD_50p", u"4K-UHD-50p", 0, 0, 0, eMI_Default, 0, 0, eMFCC_UYVY, 0},
    {eMVF_4K_UHD_5994p, u"eMVF_4K_UHD_5994p", u"4K-UHD-59p", 0, 0, 0, eMI_Default, 0, 0, eMFCC_UYVY, 0},
    {eMVF_4K_UHD_60p, u"eMVF_4K_UHD_60p", u"4K-UHD-60p", 0, 0, 0, eMI_Default, 0, 0, eMFCC_UYVY, 0},
    {eMVF_4K_DCI_50p, u"eMVF_4K_DCI_50p", u"4K-DCI-50p", 0, 0, 0, eMI_Default, 0, 0, eMFCC_UYVY, 0},
    {eMVF_4K_DCI_5994p, u"eMVF_4K_DCI_5994p", u"4K-DCI-59p", 0, 0, 0, eMI_Default, 0, 0, eMFCC_UYVY, 0},
    {eMVF_4K_DCI_60p, u"eMVF_4K_DCI_60p", u"4K-DCI-60p", 0, 0, 0, eMI_Default, 0, 0, eMFCC_UYVY, 0},
    {eMVF_Disabled, u"eMVF_Disabled", u"", 0, 0, 0, eMI_Default, 0, 0, eMFCC_UYVY, 0},
}};
// clang-format on

constexpr bool BaseTableMatchesEnumeration() {
    for (std::size_t i = 0; i < kBaseFormats.size(); ++i)
        if (static_cast<std::size_t>(kBaseFormats[i].value) != i) return false;
    return kBaseFormats.back().value == eMVF_Disabled;
}
static_assert(BaseTableMatchesEnumeration(), "row i of the base table must be base format i");

inline constexpr int kStereoMask = 0x1600;  // packing bits of a format value
inline constexpr int kHalfStereoMask = 0x600;

// Which bases each packing combines with.
constexpr bool IsStereoBase(int packing, int base) {
    switch (packing) {
        case eM3D_SideBySide:
            return base >= eMVF_HD720_50p && base <= eMVF_HD1080_60p;
        case eM3D_TopAndBottom:
            return (base >= eMVF_HD720_50p && base <= eMVF_HD1080_30p) ||
                   (base >= eMVF_HD1080_50p && base <= eMVF_HD1080_60p);
        case eM3D_FullSideBySide:
        case eM3D_FullTopAndBottom:
            return base >= eMVF_HD720_50p && base <= eMVF_HD1080_60i;
        default:
            return false;
    }
}

// True for the base formats 0..40 and the stereo combinations that the enumeration names.
constexpr bool VideoFormatIsNamed(int format) {
    if (format >= 0 && format < static_cast<int>(kBaseFormats.size())) return true;
    return IsStereoBase(format & ~0xFF, format & 0xFF);
}

// Every stereo value the enumeration declares must be a composition the rule above accepts,
// and the rule must accept no more than these.
inline constexpr eMVideoFormat kNamedStereoFormats[] = {
    eMVF_3D_SbS_720_50p,         eMVF_3D_SbS_720_5994p,       eMVF_3D_SbS_720_60p,
    eMVF_3D_SbS_1080_2398p,      eMVF_3D_SbS_1080_24p,        eMVF_3D_SbS_1080_25p,
    eMVF_3D_SbS_1080_2997p,      eMVF_3D_SbS_1080_30p,        eMVF_3D_SbS_1080_50i,
    eMVF_3D_SbS_1080_5994i,      eMVF_3D_SbS_1080_60i,        eMVF_3D_SbS_1080_50p,
    eMVF_3D_SbS_1080_5994p,      eMVF_3D_SbS_1080_60p,        eMVF_3D_TnB_720_50p,
    eMVF_3D_TnB_720_5994p,       eMVF_3D_TnB_720_60p,         eMVF_3D_TnB_1080_2398p,
    eMVF_3D_TnB_1080_24p,        eMVF_3D_TnB_1080_25p,        eMVF_3D_TnB_1080_2997p,
    eMVF_3D_TnB_1080_30p,        eMVF_3D_TnB_1080_50p,        eMVF_3D_TnB_1080_5994p,
    eMVF_3D_TnB_1080_60p,        eMVF_3D_Full_SbS_720_50p,    eMVF_3D_Full_SbS_720_5994p,
    eMVF_3D_Full_SbS_720_60p,    eMVF_3D_Full_SbS_1080_2398p, eMVF_3D_Full_SbS_1080_24p,
    eMVF_3D_Full_SbS_1080_25p,   eMVF_3D_Full_SbS_1080_2997p, eMVF_3D_Full_SbS_1080_30p,
    eMVF_3D_Full_SbS_1080_50i,   eMVF_3D_Full_SbS_1080_5994i, eMVF_3D_Full_SbS_1080_60i,
    eMVF_3D_Full_TnB_720_50p,    eMVF_3D_Full_TnB_720_5994p,  eMVF_3D_Full_TnB_720_60p,
    eMVF_3D_Full_TnB_1080_2398p, eMVF_3D_Full_TnB_1080_24p,   eMVF_3D_Full_TnB_1080_25p,
    eMVF_3D_Full_TnB_1080_2997p, eMVF_3D_Full_TnB_1080_30p,   eMVF_3D_Full_TnB_1080_50i,
    eMVF_3D_Full_TnB_1080_5994i, eMVF_3D_Full_TnB_1080_60i,
};

constexpr bool StereoRuleMatchesEnumeration() {
    int accepted = 0;
    for (int packing : {0x200, 0x400, 0x1200, 0x1400})
        for (int base = 0; base < 256; ++base) accepted += IsStereoBase(packing, base) ? 1 : 0;
    if (accepted != static_cast<int>(std::size(kNamedStereoFormats))) return false;
    for (eMVideoFormat f : kNamedStereoFormats)
        if (!IsStereoBase(f & ~0xFF, f & 0xFF)) return false;
    return true;
}
static_assert(StereoRuleMatchesEnumeration(), "stereo rule and enumeration disagree");

struct PixelFormatInfo {
    std::uint32_t code;
    int bits;
    bool rgb;
    bool planar;
};

inline constexpr std::uint32_t kFccY422 = 0x32323459;
inline constexpr std::uint32_t kFccIYU2 = 0x32555949;
inline constexpr std::uint32_t kFccY444 = 0x34343459;
inline constexpr std::uint32_t kFccYVU9 = 0x39555659;
inline constexpr std::uint32_t kFccRGB565 = 0xE436EB7B;
inline constexpr std::uint32_t kFccRGB555 = 0xE436EB7C;
inline constexpr std::uint32_t kFccMJPG = 0x47504A4D;
inline constexpr std::uint32_t kFccARGB4444 = 0x6E6415E6;

// Codes not listed have 0 bits, are not RGB and not planar.
inline constexpr PixelFormatInfo kPixelFormats[] = {
    {eMFCC_r210, 32, true, false},  {eMFCC_v210, 20, false, false}, {eMFCC_I420, 12, false, true},
    {eMFCC_YV12, 12, false, true},  {eMFCC_NV12, 16, false, true},  {eMFCC_YUY2, 16, false, false},
    {eMFCC_HDYC, 16, false, false}, {eMFCC_YVYU, 16, false, false}, {eMFCC_UYVY, 16, false, false},
    {eMFCC_RGB24, 24, true, false}, {eMFCC_RGB32, 32, true, false}, {eMFCC_ARGB32, 32, true, false},
    {eMFCC_RGB8, 8, true, false},   {kFccY422, 16, false, true},    {kFccIYU2, 24, false, false},
    {kFccY444, 24, false, true},    {kFccYVU9, 9, false, false},    {kFccRGB565, 16, true, false},
    {kFccRGB555, 16, true, false},
};

}  // namespace orvex::formats
