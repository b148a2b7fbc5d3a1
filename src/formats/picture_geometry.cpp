#include "formats/picture_geometry.h"

#include <algorithm>

#include "formats/format_table.h"

namespace orvex::formats {
namespace {

const PixelFormatInfo* InfoOf(std::uint32_t fcc) {
    for (const auto& info : kPixelFormats)
        if (info.code == fcc) return &info;
    return nullptr;
}

bool IsPacked422(std::uint32_t fcc) {
    return fcc == eMFCC_UYVY || fcc == eMFCC_HDYC || fcc == eMFCC_YUY2 || fcc == eMFCC_YVYU;
}

// Bytes the pixels of one row occupy, and the default stride. Every operand is bounded by the
// side ceiling, so none of this can overflow 64 bits.
void RowSizes(const PixelFormatInfo& info, std::int64_t w, std::int64_t* pixels,
              std::int64_t* stride) {
    if (info.code == eMFCC_v210) {
        // Rows of whole 48-pixel blocks: what a v210 row is, also for its readers.
        *pixels = *stride = (w + 47) / 48 * 128;
    } else if (info.code == eMFCC_r210) {
        *pixels = *stride = (w + 63) / 64 * 256;
    } else if (info.planar) {
        *pixels = *stride = w;  // the 8-bit luma plane
    } else {
        // 4:2:2 pixels come in pairs that share their chroma.
        *pixels = IsPacked422(info.code) ? (w + 1) / 2 * 4 : (info.bits * w + 7) / 8;
        // Whole 32-bit words of bits: the same stride as bytes rounded up to 4 wherever a row
        // ends on a byte, and never short of the row where it ends inside one (9-bit YVU9 at
        // 4 pixels holds 5 bytes, and 36 / 8 rounded down to 4 bytes would cut the fifth).
        *stride = std::max<std::int64_t>((info.bits * w + 31) / 32 * 4, *pixels);
    }
}

void Planes(std::uint32_t fcc, std::int64_t stride, std::int64_t rows, PictureGeometry& g) {
    const std::int64_t half_stride = (stride + 1) / 2, half_rows = (rows + 1) / 2;
    g.plane_bytes[0] = stride * rows;
    switch (fcc) {
        case eMFCC_I420:
        case eMFCC_YV12:
            g.planes = 3;
            g.plane_bytes[1] = g.plane_bytes[2] = half_stride * half_rows;
            break;
        case eMFCC_NV12:
            g.planes = 2;
            g.plane_bytes[1] = half_stride * 2 * half_rows;  // U and V interleaved
            break;
        case kFccY422:
            g.planes = 3;
            g.plane_bytes[1] = g.plane_bytes[2] = half_stride * rows;
            break;
        case kFccY444:
            g.planes = 3;
            g.plane_bytes[1] = g.plane_bytes[2] = stride * rows;
            break;
        default:
            g.planes = 1;
            break;
    }
    g.total_bytes = g.plane_bytes[0] + g.plane_bytes[1] + g.plane_bytes[2];
}

}  // namespace

HRESULT PictureGeometryOf(eMFCC fcc, int width, int height, int row_bytes, PictureGeometry* out) {
    if (!out) return E_POINTER;
    *out = PictureGeometry{};
    const std::int64_t w = width;
    const std::int64_t rows = height < 0 ? -std::int64_t{height} : std::int64_t{height};
    if (w < 0 || w > kMaxPictureSide || rows > kMaxPictureSide) return E_INVALIDARG;
    if (row_bytes < 0 || row_bytes > kMaxRowBytes) return E_INVALIDARG;
    if (w == 0 || rows == 0) return S_FALSE;
    const PixelFormatInfo* info = InfoOf(fcc);
    if (!info || info->bits <= 0) return S_FALSE;

    PictureGeometry g;
    RowSizes(*info, w, &g.pixel_bytes, &g.row_bytes);
    if (row_bytes != 0) {
        if (row_bytes < g.pixel_bytes) return E_INVALIDARG;
        g.row_bytes = row_bytes;
    }
    g.rows = rows;
    Planes(fcc, g.row_bytes, rows, g);
    if (g.total_bytes > kMaxPictureBytes) return E_INVALIDARG;
    *out = g;
    return S_OK;
}

}  // namespace orvex::formats
