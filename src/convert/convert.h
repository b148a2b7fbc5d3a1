// Picture conversion between the card layouts RGB32/ARGB32, RGB24, UYVY, HDYC, YUY2 and
// v210. No scaling: the region converted is the smaller width and height of the two
// descriptions. A field-order mismatch is corrected by a one-line shift; bottom-up RGB
// buffers are walked from their last row; large conversions run in horizontal stripes on
// the platform work-item pool.
#pragma once

#include <cstdint>

#include "convert/cpu_level.h"
#include "orvex/types.h"

namespace orvex::convert {

constexpr int kNotSupported = -9999;
constexpr int kNotConvertible = -1;

// The entry point: picks the stripe count itself and returns when the picture is done.
void Convert(const std::uint8_t* src, std::uint8_t* dst, const M_VID_PROPS& src_props,
             const M_VID_PROPS& dst_props);

// The core. Returns 0, kNotSupported for a pair the table does not convert,
// kNotConvertible for a layout outside the table, or a primitive's status (kNullPointer,
// kBadSize, also for a row size too small for the width).
int ConvertStripes(const std::uint8_t* src, std::uint8_t* dst, const M_VID_PROPS& src_props,
                   const M_VID_PROPS& dst_props, int stripes);

// Layout index of a pixel format: 0 RGB32/ARGB32, 1 RGB24, 2 UYVY, 3 HDYC, 4 YUY2, 5 v210;
// -1 for anything else.
int LayoutIndex(eMFCC fcc);

// +1 field 1 first, -1 field 2 first, 0 progressive or unknown.
int FieldOrder(const M_VID_PROPS& props);

// True when the description is an RGB buffer stored bottom-up (positive height).
bool IsBottomUp(const M_VID_PROPS& props);

}  // namespace orvex::convert
