// The one place that says how many bytes a picture takes: row bytes and plane sizes for every
// pixel format, in checked 64-bit arithmetic. The frame object sizes its buffers with it, the
// format table derives its row bytes from it, and conversion validates both descriptions with
// it before it touches a byte.
//
// Ceilings: a side of at most kMaxPictureSide pixels or rows, a row stride of at most
// kMaxRowBytes, and a whole picture of at most kMaxPictureBytes. Buffer sizes travel through
// the frame interfaces as 32-bit LONG values, so a picture that a LONG cannot state is refused
// here rather than wrapped further on.
#pragma once

#include <cstdint>

#include "orvex/types.h"

namespace orvex::formats {

inline constexpr int kMaxPictureSide = 32768;
// Twice the widest row at the widest side (four bytes a pixel): room for padding, no more.
inline constexpr std::int64_t kMaxRowBytes = 2LL * 4 * kMaxPictureSide;
inline constexpr std::int64_t kMaxPictureBytes = 0x7FFFFFFF;
inline constexpr int kMaxPlanes = 3;

struct PictureGeometry {
    int planes = 0;                // 1 for packed layouts, 2 or 3 for planar ones
    std::int64_t rows = 0;         // |height|
    std::int64_t pixel_bytes = 0;  // bytes the pixels of one first-plane row occupy
    std::int64_t row_bytes = 0;    // stride of the first plane (given, or the format's default)
    std::int64_t plane_bytes[kMaxPlanes] = {};
    std::int64_t total_bytes = 0;
};

// Geometry of a picture of `width` × |`height`| pixels whose rows are `row_bytes` apart
// (0: the format's default stride, rounded as the format table rounds it). Returns
//   S_OK          the picture has a layout; every field is filled;
//   S_FALSE       nothing to lay out: a side is 0, or the pixel format has no row layout
//                 (compressed or unknown codes); *out is zero;
//   E_INVALIDARG  a negative width, a side or stride above its ceiling (INT_MIN included), a
//                 negative stride or one shorter than the row's pixels, or a picture above
//                 kMaxPictureBytes; *out is zero;
//   E_POINTER     no out record.
HRESULT PictureGeometryOf(eMFCC fcc, int width, int height, int row_bytes, PictureGeometry* out);

inline HRESULT PictureGeometryOf(const M_VID_PROPS& props, PictureGeometry* out) {
    return PictureGeometryOf(props.fccType, props.nWidth, props.nHeight, props.nRowBytes, out);
}

}  // namespace orvex::formats
