#include "formats/video_formats.h"
#include "platform/text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "formats/format_table.h"
#include "formats/picture_geometry.h"

namespace orvex::formats {
namespace {

const BaseFormat* BaseOf(int format) {
    const unsigned base = static_cast<unsigned>(format) & 0xFFu;
    return base < kBaseFormats.size() ? &kBaseFormats[base] : nullptr;
}

const PixelFormatInfo* PixelInfo(std::uint32_t fcc) {
    for (const auto& info : kPixelFormats)
        if (info.code == fcc) return &info;
    return nullptr;
}

// Heights are compared as magnitudes; 64 bits keep INT_MIN harmless.
long long AbsHeight(int height) {
    return std::llabs(static_cast<long long>(height));
}

bool RateMatches(double rate, double table_rate) {
    return std::fabs(rate - table_rate) <= 0.01;
}

bool OrderFits(const M_VID_PROPS& props, int base) {
    return props.eInterlace == eMI_Default || props.eInterlace == kBaseFormats[base].field_order;
}

bool HeightWithin(long long abs_height, int table_height, int tolerance) {
    return abs_height >= table_height && abs_height <= table_height + tolerance;
}

eMVideoFormat WithHalfStereoBits(int base, const M_VID_PROPS& props) {
    return static_cast<eMVideoFormat>(base | (props.e3DFormat & kHalfStereoMask));
}

eMVideoFormat FirstMatch(const M_VID_PROPS& props, std::initializer_list<int> bases) {
    for (int base : bases)
        if (RateMatches(props.dblRate, kBaseFormats[base].rate) && OrderFits(props, base))
            return static_cast<eMVideoFormat>(base);
    return eMVF_Custom;
}

// A picture of two halves: detect one half alone and mark the packing, unless the half is
// itself packed (or nothing at all).
eMVideoFormat DetectHalf(M_VID_PROPS half, int packing) {
    half.e3DFormat = eM3D_None;
    const eMVideoFormat inner = VideoFormatDetect(half, false);
    if (inner == eMVF_Custom || (inner & kHalfStereoMask) != 0) return eMVF_Custom;
    return static_cast<eMVideoFormat>(inner | packing);
}

bool IsRowBytesMinFormat(std::uint32_t fcc) {
    switch (fcc) {
        case eMFCC_r210:
        case eMFCC_v210:
        case eMFCC_YUY2:
        case eMFCC_HDYC:
        case eMFCC_UYVY:
        case eMFCC_YVYU:
        case eMFCC_ARGB32:
        case eMFCC_RGB8:
        case eMFCC_RGB24:
        case eMFCC_RGB32:
            return true;
        default:
            return false;
    }
}

struct PixelFormatName {
    std::u16string_view name;
    std::uint32_t code;
};

constexpr PixelFormatName kPixelFormatNames[] = {
    {u"ARGB32", eMFCC_ARGB32}, {u"RGB32", eMFCC_RGB32}, {u"RGB24", eMFCC_RGB24},
    {u"YUY2", eMFCC_YUY2},     {u"YVYU", eMFCC_YVYU},   {u"UYVY", eMFCC_UYVY},
    {u"YV12", eMFCC_YV12},     {u"HDYC", eMFCC_HDYC},   {u"I420", eMFCC_I420},
    {u"Y422", kFccY422},       {u"NV12", eMFCC_NV12},   {u"Y444", kFccY444},
    {u"v210", eMFCC_v210},     {u"r210", eMFCC_r210},   {u"MJPG", kFccMJPG},
    {u"RGB8", eMFCC_RGB8},     {u"BI_RGB", 0},          {u"BI_RLE8", 1},
    {u"BI_RLE4", 2},           {u"BI_BITFIELDS", 3},    {u"ARGB4444", kFccARGB4444},
};

constexpr std::u16string_view kInterlaceShortNames[] = {u"A",   u"iT", u"iB", u"p",
                                                        u"INV", u"OF", u"D1", u"D2"};
// Indexed by FormatGroupIndex.
constexpr std::u16string_view kStereoShortNames[] = {u"", u"3D-HSbS", u"3D-HTnB", u"3D-SbS",
                                                     u"3D-TnB"};

}  // namespace

M_VID_PROPS VideoFormatDefaults(eMVideoFormat format, eMFCC fcc) {
    M_VID_PROPS props{};
    if (format == eMVF_Custom) return props;
    props.eVideoFormat = format;
    const BaseFormat* base = BaseOf(format);
    props.fccType = fcc != eMFCC_Default ? fcc : (base ? base->default_fcc : eMFCC_UYVY);
    if (base) {
        props.nWidth = base->width;
        props.nHeight = base->height;
        const int packing = format & kStereoMask;
        if (packing & eM3D_FullFlag) {
            if (packing & eM3D_SideBySide) props.nWidth *= 2;
            if (packing & eM3D_TopAndBottom) props.nHeight *= 2;
        }
        props.dblRate = base->rate;
        props.eInterlace = base->field_order;
        props.nAspectX = base->aspect_x;
        props.nAspectY = base->aspect_y;
    }
    if (PixelFormatIsRGB(props.fccType)) props.nHeight = -props.nHeight;
    props.nRowBytes = RowBytesFor(props.fccType, props.nWidth);
    props.e3DFormat = static_cast<eM3DFormat>(format & kStereoMask);
    props.eScaleType = eMST_Default;
    return props;
}

eMVideoFormat VideoFormatDetect(const M_VID_PROPS& props, bool strict) {
    const long long height = AbsHeight(props.nHeight);
    const int width = props.nWidth;
    auto tolerance = [strict](int base) {
        return strict ? 0 : kBaseFormats[base].height_tolerance;
    };

    // PAL deliberately uses the NTSC tolerance.
    if (width == 720 && HeightWithin(height, 576, tolerance(eMVF_NTSC)) &&
        RateMatches(props.dblRate, 25))
        return PictureAspect(props) > 1.4 ? eMVF_PAL_16x9 : eMVF_PAL;

    // Strict detection still knows NTSC at its full 486 lines, not only at 480.
    if (width == 720 && (HeightWithin(height, 480, tolerance(eMVF_NTSC)) ||
                         height == kBaseFormats[eMVF_NTSC].height)) {
        if (RateMatches(props.dblRate, kRate2398)) return eMVF_NTSC_2398;
        if (RateMatches(props.dblRate, kRate2997))
            return PictureAspect(props) > 1.4 ? eMVF_NTSC_16x9 : eMVF_NTSC;
    }

    if (width == 1280 && HeightWithin(height, 720, tolerance(eMVF_HD720_50p))) {
        if (RateMatches(props.dblRate, kRate5994)) return WithHalfStereoBits(7, props);
        if (RateMatches(props.dblRate, 60)) return WithHalfStereoBits(8, props);
        if (RateMatches(props.dblRate, 50)) return WithHalfStereoBits(6, props);
    }

    if (width == 1920 && HeightWithin(height, 1080, tolerance(eMVF_HD1080_25p))) {
        // Progressive before interlaced at the same rate, unless the order says otherwise.
        const eMVideoFormat found = FirstMatch(props, {9, 10, 14, 11, 15, 12, 16, 13, 17, 18, 19});
        if (found != eMVF_Custom) return WithHalfStereoBits(found, props);
    }

    if (width == 3840 && height >= 2160) {
        const eMVideoFormat found = FirstMatch(props, {26, 27, 28, 29, 30, 23, 24, 25});
        if (found != eMVF_Custom) return found;
    }

    if (width == 4096 && height >= 2160) {
        const eMVideoFormat found = FirstMatch(props, {31, 32, 33});
        if (found != eMVF_Custom) return found;
    }

    // Top-down RGB pictures have negative heights and are not taken for stacked pairs.
    if (props.nHeight >= 1440) {
        M_VID_PROPS half = props;
        half.nHeight = props.nHeight / 2;
        return DetectHalf(half, eM3D_FullTopAndBottom);
    }

    if (width >= 2560 && static_cast<long long>(props.nRowBytes) < 2LL * RowBytesMin(props)) {
        M_VID_PROPS half = props;
        half.nWidth = width / 2;
        return DetectHalf(half, eM3D_SideBySide);
    }
    return eMVF_Custom;
}

eMVideoFormat VideoPropsComplete(M_VID_PROPS& props, bool strict) {
    if (props.eVideoFormat == eMVF_Disabled) return eMVF_Disabled;

    M_VID_PROPS d{};
    if (props.eVideoFormat != eMVF_Custom) {
        d = VideoFormatDefaults(props.eVideoFormat, props.fccType);
        // Named formats without geometry cannot be completed; leave the record untouched.
        if (!(d.dblRate > 0)) return eMVF_Custom;
    }

    if (props.nAspectX == 0 || props.nAspectY == 0) props.nAspectX = props.nAspectY = 0;

    if (props.eVideoFormat != eMVF_Custom) {
        d.eScaleType = props.eScaleType;
        if (!strict) {
            if (props.dblRate > 0 && props.nWidth != 0 && props.nHeight != 0)
                d.eVideoFormat = VideoFormatDetect(props, false);
            if (props.nRowBytes != 0) d.nRowBytes = props.nRowBytes;
            if (props.nAspectX != 0) {
                d.nAspectX = props.nAspectX;
                d.nAspectY = props.nAspectY;
            }
            if (props.nHeight == 1 || props.nHeight == -1)
                d.nHeight = props.nHeight * std::abs(d.nHeight);
            else if (props.nHeight != 0)
                d.nHeight = props.nHeight;
            if (props.nWidth != 0) {
                d.nWidth = props.nWidth;
                if (props.nRowBytes == 0) d.nRowBytes = RowBytesFor(d.fccType, d.nWidth);
            }
            if (props.eInterlace != eMI_Default) d.eInterlace = props.eInterlace;
        } else if (props.nHeight != 0) {
            const long long given = AbsHeight(props.nHeight);
            const long long table = AbsHeight(d.nHeight);
            const int base = d.eVideoFormat & 0xFF;
            const bool ntsc = base >= eMVF_NTSC && base <= eMVF_NTSC_16x9;
            if (given <= table + VideoFormatHeightTolerance(d.eVideoFormat) &&
                (given >= table || (ntsc && given == 480)))
                d.nHeight = props.nHeight;
            else
                d.nHeight = props.nHeight < 0 ? -std::abs(d.nHeight) : std::abs(d.nHeight);
        }
        props = d;
    } else {
        // Completing loosely means detecting exactly, and the other way round.
        props.eVideoFormat = VideoFormatDetect(props, !strict);
    }

    if (props.eVideoFormat & kHalfStereoMask)
        props.e3DFormat = static_cast<eM3DFormat>(props.eVideoFormat & kStereoMask);

    if (strict && props.nWidth > 0 && props.nHeight != 0) {
        if (props.eInterlace != eMI_Progressive && props.eInterlace != eMI_Field1First)
            props.eInterlace = eMI_Progressive;
        if (props.fccType == eMFCC_Default)
            props.fccType = AbsHeight(props.nHeight) < 626 ? eMFCC_UYVY : eMFCC_HDYC;
    }

    // YUV pictures share chroma between pixel pairs.
    if (!PixelFormatIsRGB(props.fccType) && props.nWidth > 0) props.nWidth &= ~1;

    props.nRowBytes = std::max(props.nRowBytes, RowBytesMin(props));
    return props.eVideoFormat;
}

bool VideoPropsIsValid(const M_VID_PROPS& props) {
    if (props.eVideoFormat != eMVF_Custom && props.eVideoFormat != eMVF_Disabled) return true;
    return props.nWidth >= 1 && props.nHeight != 0 && props.nRowBytes != 0 &&
           props.fccType != eMFCC_Default;
}

double PictureAspect(const M_VID_PROPS& props) {
    if (props.nAspectX > 0 && props.nAspectY > 0)
        return static_cast<double>(props.nAspectX) / props.nAspectY;
    if (props.nHeight != 0)
        return static_cast<double>(props.nWidth) / static_cast<double>(AbsHeight(props.nHeight));
    return 16.0 / 9.0;
}

int RowBytesFor(eMFCC fcc, int width) {
    // No rows for widths below one or above the ceiling, nor for codes without a row layout.
    PictureGeometry g;
    return PictureGeometryOf(fcc, width, 1, 0, &g) == S_OK ? static_cast<int>(g.row_bytes) : 0;
}

int RowBytesMin(const M_VID_PROPS& props) {
    return IsRowBytesMinFormat(props.fccType) ? RowBytesFor(props.fccType, props.nWidth) : 0;
}

int PixelFormatBits(eMFCC fcc) {
    const PixelFormatInfo* info = PixelInfo(fcc);
    return info ? info->bits : 0;
}

bool PixelFormatIsRGB(eMFCC fcc) {
    const PixelFormatInfo* info = PixelInfo(fcc);
    return info && info->rgb;
}

bool PixelFormatIsPlanar(eMFCC fcc) {
    const PixelFormatInfo* info = PixelInfo(fcc);
    return info && info->planar;
}

eMFCC PixelFormatFromName(std::u16string_view name) {
    for (const auto& entry : kPixelFormatNames)
        if (platform::EqualsNoCase(name, entry.name)) return static_cast<eMFCC>(entry.code);
    if (name.size() != 4) return eMFCC_Default;
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        // Characters outside the 8-bit range become '?', as a code-page conversion does.
        const std::uint32_t byte = name[i] <= 0xFF ? name[i] : u'?';
        code |= byte << (8 * i);
    }
    return static_cast<eMFCC>(code);
}

int FormatGroupIndex(int format) {
    switch (format & ~0xFF) {
        case 0:
            return 0;
        case eM3D_SideBySide:
            return 1;
        case eM3D_TopAndBottom:
            return 2;
        case eM3D_FullSideBySide:
            return 3;
        case eM3D_FullTopAndBottom:
            return 4;
        default:
            return 0;
    }
}

std::u16string_view VideoFormatShortName(int format) {
    const BaseFormat* base = BaseOf(format);
    return base ? base->short_name : std::u16string_view{};
}

std::u16string_view InterlaceShortName(int interlace) {
    if (interlace < 0 || interlace >= static_cast<int>(std::size(kInterlaceShortNames))) return {};
    return kInterlaceShortNames[interlace];
}

std::u16string_view StereoShortName(int packing) {
    return kStereoShortNames[FormatGroupIndex(packing)];
}

std::u16string VideoFormatName(int format) {
    if (!VideoFormatIsNamed(format)) return {};
    const BaseFormat& base = kBaseFormats[static_cast<unsigned>(format) & 0xFFu];
    if (format == base.value) return std::u16string(base.name);
    std::u16string_view stem = base.name.substr(5);  // past "eMVF_"
    if (stem.starts_with(u"HD")) stem.remove_prefix(2);
    std::u16string name = u"eMVF_3D_";
    if (format & eM3D_FullFlag) name += u"Full_";
    name += (format & eM3D_SideBySide) ? u"SbS_" : u"TnB_";
    name += stem;
    return name;
}

int VideoFormatHeightTolerance(int format) {
    const BaseFormat* base = BaseOf(format);
    return base ? base->height_tolerance : 0;
}

}  // namespace orvex::formats
