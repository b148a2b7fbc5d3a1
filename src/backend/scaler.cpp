#include "backend/scaler.h"

#include <cstdlib>
#include <limits>

#if ORVEX_HAVE_SWSCALE
extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}
#else
// Built without libswscale: no layout can be resized, and Scale refuses every picture.
enum AVPixelFormat {
    AV_PIX_FMT_NONE = -1,
    AV_PIX_FMT_UYVY422,
    AV_PIX_FMT_YUYV422,
    AV_PIX_FMT_BGRA,
    AV_PIX_FMT_BGR24
};
struct SwsContext {};
namespace {
void sws_freeContext(SwsContext*) {}
}  // namespace
#endif

#include "convert/convert.h"
#include "formats/video_formats.h"

namespace orvex::backend {
namespace {

// The largest picture side taken (8K and a margin).
constexpr int kMaxSide = 16384;

AVPixelFormat SwsFormat(eMFCC fcc) {
    switch (fcc) {
        case eMFCC_UYVY:
        case eMFCC_HDYC:
            return AV_PIX_FMT_UYVY422;
        case eMFCC_YUY2:
            return AV_PIX_FMT_YUYV422;
        case eMFCC_RGB32:
        case eMFCC_ARGB32:
            return AV_PIX_FMT_BGRA;
        case eMFCC_RGB24:
            return AV_PIX_FMT_BGR24;
        default:
            return AV_PIX_FMT_NONE;
    }
}

bool SizeOk(const M_VID_PROPS& p) {
    const int h = std::abs(p.nHeight);
    return p.nWidth > 0 && p.nWidth <= kMaxSide && h > 0 && h <= kMaxSide && p.nRowBytes > 0 &&
           p.nRowBytes >= formats::RowBytesMin(p);
}

#if ORVEX_HAVE_SWSCALE
int SwsFlags(int method, double* params) {
    params[0] = SWS_PARAM_DEFAULT;
    params[1] = SWS_PARAM_DEFAULT;
    const int exact = SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP;
    switch (method) {
        case 1:
            return SWS_POINT | exact;
        case 2:
            return SWS_BILINEAR | exact;
        case 4:
            return SWS_BICUBIC | exact;
        case 5:  // Catmull-Rom
            params[0] = 0.0;
            params[1] = 0.5;
            return SWS_BICUBIC | exact;
        case 6:  // Mitchell-Netravali
            params[0] = 1.0 / 3.0;
            params[1] = 1.0 / 3.0;
            return SWS_BICUBIC | exact;
        case 7:  // cubic B-spline
            params[0] = 1.0;
            params[1] = 0.0;
            return SWS_BICUBIC | exact;
        case 8:
            return SWS_AREA | exact;
        default:
            return SWS_LANCZOS | exact;
    }
}
#endif

// The first row in memory order and the step to the next row down the picture.
[[maybe_unused]] void Rows(const M_VID_PROPS& p, const std::uint8_t* base,
                           const std::uint8_t** first, std::ptrdiff_t* step) {
    if (convert::IsBottomUp(p)) {
        *first = base + static_cast<std::ptrdiff_t>(p.nRowBytes) * (std::abs(p.nHeight) - 1);
        *step = -static_cast<std::ptrdiff_t>(p.nRowBytes);
    } else {
        *first = base;
        *step = p.nRowBytes;
    }
}

}  // namespace

ScaleMethod ParseScalingQuality(std::u16string_view text) {
    ScaleMethod m;
    long long level = 0;
    bool digits = false, negative = false;
    std::size_t i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        digits = true;
        if (level < 1000) level = level * 10 + (text[i] - u'0');
    }
    while (i < text.size() && text[i] == u' ') ++i;
    if (!digits || i != text.size()) return m;  // "auto" and anything else
    if (negative) level = -level;
    m.automatic = false;
    if (level >= 10) {
        m.field_wise_forced = true;
        level -= 10;
    }
    if (level < 1)
        m.method = 1;
    else if (level == 3)
        m.method = 2;
    else if (level >= 9)
        m.method = 16;
    else
        m.method = static_cast<int>(level);
    return m;
}

ScalingConverter::~ScalingConverter() {
    sws_freeContext(context_);
}

HRESULT ScalingConverter::Convert(const std::uint8_t* src, const M_VID_PROPS& sp, std::uint8_t* dst,
                                  const M_VID_PROPS& dp, const ScaleMethod& method) {
    if (!src || !dst || !SizeOk(sp) || !SizeOk(dp)) return E_INVALIDARG;
    const int packing = dp.e3DFormat & 0x600;
    if (packing != 0x200 && packing != 0x400) return ConvertOne(src, sp, dst, dp, method);

    // One half per eye.
    const bool sbs = packing == 0x200;
    M_VID_PROPS half = dp;
    half.e3DFormat = static_cast<eM3DFormat>(0);
    if (sbs)
        half.nWidth = dp.nWidth / 2;
    else
        half.nHeight = dp.nHeight / 2;
    // A source in either packing gives each eye its own half; any other source is shown to
    // both eyes.
    M_VID_PROPS src_half = sp;
    src_half.e3DFormat = static_cast<eM3DFormat>(0);
    const int src_packing = sp.e3DFormat & 0x600;
    const bool split_source = src_packing == 0x200 || src_packing == 0x400;
    const bool src_sbs = src_packing == 0x200;
    if (split_source) {
        if (src_sbs)
            src_half.nWidth = sp.nWidth / 2;
        else
            src_half.nHeight = sp.nHeight / 2;
    }
    if (half.nWidth <= 0 || half.nHeight == 0 || src_half.nWidth <= 0 || src_half.nHeight == 0)
        return E_INVALIDARG;
    for (int eye = 0; eye < 2; ++eye) {
        const std::uint8_t* s = src;
        std::uint8_t* d = dst;
        // The right eye is the right or the lower half; bottom-up RGB buffers store the lower
        // half first, so there the left eye is the one further into memory.
        if (sbs) {
            if (eye == 1) d += formats::RowBytesFor(dp.fccType, half.nWidth);
        } else if ((eye == 1) != convert::IsBottomUp(dp)) {
            d += static_cast<std::ptrdiff_t>(dp.nRowBytes) * std::abs(half.nHeight);
        }
        if (split_source) {
            if (src_sbs) {
                if (eye == 1) s += formats::RowBytesFor(sp.fccType, src_half.nWidth);
            } else if ((eye == 1) != convert::IsBottomUp(sp)) {
                s += static_cast<std::ptrdiff_t>(sp.nRowBytes) * std::abs(src_half.nHeight);
            }
        }
        HRESULT hr = ConvertOne(s, src_half, d, half, method);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT ScalingConverter::ConvertOne(const std::uint8_t* src, const M_VID_PROPS& sp,
                                     std::uint8_t* dst, const M_VID_PROPS& dp,
                                     const ScaleMethod& method) {
    if (convert::LayoutIndex(sp.fccType) < 0 || convert::LayoutIndex(dp.fccType) < 0)
        return E_INVALIDARG;
    const int sh = std::abs(sp.nHeight), dh = std::abs(dp.nHeight);
    if (sp.nWidth == dp.nWidth && sh == dh) {
        last_path_ = 0;
        return convert::ConvertStripes(src, dst, sp, dp, 1) == orvex::convert::ConvertStatus::kDone
                   ? S_OK
                   : E_INVALIDARG;
    }

    int m = method.method;
    if (method.automatic) m = (dp.nWidth * 2 < sp.nWidth || dh * 2 < sh) ? 8 : 5;
    const bool field_wise =
        method.field_wise_forced ||
        (dh < sh && m >= 5 && convert::FieldOrder(sp) != 0 && convert::FieldOrder(dp) != 0);

    // A layout libswscale cannot read goes to UYVY first, at the source size.
    const std::uint8_t* scale_src = src;
    M_VID_PROPS scale_sp = sp;
    if (SwsFormat(sp.fccType) == AV_PIX_FMT_NONE) {
        scale_sp.fccType = eMFCC_UYVY;
        scale_sp.nHeight = sh;
        scale_sp.nRowBytes = formats::RowBytesFor(eMFCC_UYVY, sp.nWidth);
        const std::size_t bytes = static_cast<std::size_t>(scale_sp.nRowBytes) * sh;
        if (source_copy_.size() < bytes) source_copy_.resize(bytes);
        if (convert::ConvertStripes(src, source_copy_.data(), sp, scale_sp, 1) !=
            orvex::convert::ConvertStatus::kDone)
            return E_INVALIDARG;
        scale_src = source_copy_.data();
    }

    // Scale in the source's layout, straight into the output when the layouts agree.
    const bool same_layout = SwsFormat(scale_sp.fccType) == SwsFormat(dp.fccType) &&
                             convert::IsBottomUp(dp) == convert::IsBottomUp(scale_sp);
    M_VID_PROPS scaled = scale_sp;
    scaled.nWidth = dp.nWidth;
    scaled.nHeight = formats::PixelFormatIsRGB(scaled.fccType) ? -dh : dh;  // top-down
    scaled.nRowBytes = formats::RowBytesFor(scaled.fccType, dp.nWidth);
    scaled.eInterlace = dp.eInterlace;
    std::uint8_t* scale_dst = dst;
    if (same_layout) {
        scaled = dp;
    } else {
        const std::size_t bytes = static_cast<std::size_t>(scaled.nRowBytes) * dh;
        if (scaled_.size() < bytes) scaled_.resize(bytes);
        scale_dst = scaled_.data();
    }
    HRESULT hr = Scale(scale_src, scale_sp, scale_dst, scaled, m, field_wise);
    if (FAILED(hr)) return hr;
    last_path_ = field_wise ? 2 : 1;
    last_method_ = m;
    if (same_layout) return S_OK;
    return convert::ConvertStripes(scale_dst, dst, scaled, dp, 1) ==
                   orvex::convert::ConvertStatus::kDone
               ? S_OK
               : E_INVALIDARG;
}

HRESULT ScalingConverter::Scale(const std::uint8_t* src, const M_VID_PROPS& sp, std::uint8_t* dst,
                                const M_VID_PROPS& dp, int method, bool field_wise) {
#if !ORVEX_HAVE_SWSCALE
    (void)src, (void)sp, (void)dst, (void)dp, (void)method, (void)field_wise;
    return E_NOTIMPL;
#else
    const AVPixelFormat sf = SwsFormat(sp.fccType), df = SwsFormat(dp.fccType);
    if (sf == AV_PIX_FMT_NONE || df == AV_PIX_FMT_NONE) return E_INVALIDARG;
    const std::uint8_t* s0 = nullptr;
    const std::uint8_t* d0c = nullptr;
    std::ptrdiff_t ss = 0, ds = 0;
    Rows(sp, src, &s0, &ss);
    Rows(dp, dst, &d0c, &ds);
    std::uint8_t* d0 = const_cast<std::uint8_t*>(d0c);
    int sh = std::abs(sp.nHeight), dh = std::abs(dp.nHeight);
    const int passes = field_wise && sh >= 2 && dh >= 2 ? 2 : 1;
    if (passes == 2) {
        sh /= 2;
        dh /= 2;
    }
    if (ss * passes > std::numeric_limits<int>::max() ||
        ss * passes < std::numeric_limits<int>::min() ||
        ds * passes > std::numeric_limits<int>::max() ||
        ds * passes < std::numeric_limits<int>::min())
        return E_INVALIDARG;
    double params[2];
    const int flags = SwsFlags(method, params);
    context_ = sws_getCachedContext(context_, sp.nWidth, sh, sf, dp.nWidth, dh, df, flags, nullptr,
                                    nullptr, params);
    if (!context_) return E_OUTOFMEMORY;
    for (int field = 0; field < passes; ++field) {
        const std::uint8_t* sp0[4] = {s0 + ss * field, nullptr, nullptr, nullptr};
        std::uint8_t* dp0[4] = {d0 + ds * field, nullptr, nullptr, nullptr};
        const int sstride[4] = {static_cast<int>(ss * passes), 0, 0, 0};
        const int dstride[4] = {static_cast<int>(ds * passes), 0, 0, 0};
        if (sws_scale(context_, sp0, sstride, 0, sh, dp0, dstride) != dh) return E_FAIL;
    }
    return S_OK;
#endif
}

}  // namespace orvex::backend
