// The scaling converter of the card outputs: resizes a picture to the output size with
// libswscale, then brings it into the output's pixel layout with our conversion step.
// Side-by-side and top-and-bottom targets are written as two halves, one per eye.
//
// "scaling_quality" is a level L (or "auto"): L >= 10 forces the field-wise path and counts
// as L - 10; then L < 1 is nearest neighbour, L = 3 bilinear, L >= 9 Lanczos, and any other
// level is its own method: 1 nearest, 2 bilinear, 4 bicubic, 5 Catmull-Rom cubic
// (B = 0, C = 1/2), 6 Mitchell-Netravali cubic (B = C = 1/3), 7 cubic B-spline (B = 1,
// C = 0), 8 area averaging (super-sampling). "auto" (or text that is not a number) takes
// area averaging when either side shrinks to less than half, else Catmull-Rom.
//
// The field-wise path scales each field of an interlaced picture on its own (so the fields
// do not blur into each other); it is taken when forced, or when the picture shrinks in
// height with a cubic, area or Lanczos method and both pictures are interlaced.
//
// Not thread-safe: one converter per frame path; buffers are kept between frames.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "orvex/types.h"

struct SwsContext;

namespace orvex::backend {

struct ScaleMethod {
    int method = 5;  // 1, 2, 4, 5, 6, 7, 8 or 16
    bool field_wise_forced = false;
    bool automatic = true;
};

ScaleMethod ParseScalingQuality(std::u16string_view text);

class ScalingConverter {
public:
    ScalingConverter() = default;
    ~ScalingConverter();
    ScalingConverter(const ScalingConverter&) = delete;
    ScalingConverter& operator=(const ScalingConverter&) = delete;

    // Writes `src` (described by `sp`) into `dst` (described by `dp`). S_OK, E_INVALIDARG
    // for sizes or layouts it cannot handle, E_OUTOFMEMORY.
    HRESULT Convert(const std::uint8_t* src, const M_VID_PROPS& sp, std::uint8_t* dst,
                    const M_VID_PROPS& dp, const ScaleMethod& method);

    // Which path the last scaled picture took (for tests): 0 none, 1 frame-wise, 2 field-wise.
    int LastPath() const { return last_path_; }
    int LastMethod() const { return last_method_; }

private:
    HRESULT ConvertOne(const std::uint8_t* src, const M_VID_PROPS& sp, std::uint8_t* dst,
                       const M_VID_PROPS& dp, const ScaleMethod& method);
    HRESULT Scale(const std::uint8_t* src, const M_VID_PROPS& sp, std::uint8_t* dst,
                  const M_VID_PROPS& dp, int method, bool field_wise);

    SwsContext* context_ = nullptr;
    std::vector<std::uint8_t> source_copy_;  // a layout libswscale cannot read, as UYVY
    std::vector<std::uint8_t> scaled_;       // the resized picture before the layout step
    int last_path_ = 0;
    int last_method_ = 0;
};

}  // namespace orvex::backend
