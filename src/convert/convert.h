// Picture conversion between the card layouts RGB32/ARGB32, RGB24, UYVY, HDYC, YUY2 and
// v210. No scaling: the region converted is the smaller width and height of the two
// descriptions. A field-order mismatch is corrected by a one-line shift; bottom-up RGB
// buffers are walked from their last row; large conversions run in horizontal stripes on
// the conversion's own stripe workers (stripe_pool.h), and every call returns only when all
// of its stripes are done.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/cpu_level.h"
#include "convert/planes.h"
#include "orvex/types.h"

namespace orvex::convert {

// What a conversion did. kNotSupported keeps the value that the table's unsupported pairs
// have always reported; kNullPointer and kBadGeometry are the row primitives' own statuses.
enum class ConvertStatus : int {
    kDone = 0,
    kUnknownLayout = -1,  // a pixel format outside the table
    kBadGeometry = -6,    // a side, stride or size the description cannot have, or no region
    kNullPointer = -8,
    kOverlap = -10,  // source and destination share bytes, and the pair cannot run in place
    kNotSupported = -9999,
};

// The entry point: picks the stripe count itself and returns when the picture is done. On any
// status but kDone the destination is untouched.
//
// Source and destination may be the same buffer only for a copy or a 4:2:2 byte-order swap
// (UYVY/HDYC and YUY2) of the same description without a field-order shift: those read each
// pixel group before they write it. Any other sharing of bytes is refused with kOverlap.
[[nodiscard]] ConvertStatus Convert(const std::uint8_t* src, std::uint8_t* dst,
                                    const M_VID_PROPS& src_props, const M_VID_PROPS& dst_props);

// The core, also used with one stripe directly; the same statuses as Convert. Stripe counts
// above 64 are taken as 64.
[[nodiscard]] ConvertStatus ConvertStripes(const std::uint8_t* src, std::uint8_t* dst,
                                           const M_VID_PROPS& src_props,
                                           const M_VID_PROPS& dst_props, int stripes);

// Destination bytes from which Convert writes a picture with non-temporal stores (the rows
// that are bound by memory; the RGB to 4:2:2 rows keep cached stores). In a steady loop a
// 1920x1080 picture (4-8 MB of destination) stays in the last-level cache, and streaming it
// gained nothing (0.96-1.07x the cached time); at 3840x2160 (17-33 MB) the memory-bound rows
// took 0.53-0.89x.
constexpr std::size_t kStreamBytes = 12 * 1024 * 1024;

// Layout index of a pixel format: 0 RGB32/ARGB32, 1 RGB24, 2 UYVY, 3 HDYC, 4 YUY2, 5 v210;
// kNoLayout for anything else.
constexpr int kNoLayout = -1;
int LayoutIndex(eMFCC fcc);

// +1 field 1 first, -1 field 2 first, 0 progressive or unknown.
int FieldOrder(const M_VID_PROPS& props);

// True when the description is an RGB buffer stored bottom-up (positive height).
bool IsBottomUp(const M_VID_PROPS& props);

}  // namespace orvex::convert
