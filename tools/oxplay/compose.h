// The picture a period hands to the renderer, put together from the planned source
// picture(s): placed on a canvas of the output's shape (letterbox, crop or stretch), fields
// taken from two pictures or one, and moved down a line when the source's field order is the
// output's other one. Only whole rows and pixel pairs are copied: the renderer scales.
#pragma once

#include <cstdint>
#include <string>

#include "tools/oxplay/output_format.h"
#include "tools/oxplay/schedule.h"

namespace oxplay {

struct FitSettings {
    Fit fit = Fit::kLetterbox;
    int out_width = 0, out_height = 0;
    double out_pixel_aspect = 1.0;
    eMInterlace out_order = eMI_Progressive;
};

struct FrameShape {
    Placement placement;
    eMFCC fcc = eMFCC_UYVY;
    int row_bytes = 0;
    eMInterlace interlace = eMI_Progressive;  // of the handed picture
    int shift = 0;            // lines the picture moves down to swap its field order
    bool copy_as_is = false;  // the source picture's bytes are the frame's
    int Width() const { return placement.canvas_w; }
    int Height() const { return placement.canvas_h; }
};

// The shape of `plan`'s frame (its picture must be set). False with a reason when the
// picture cannot be fitted.
bool ShapeFor(const PeriodPlan& plan, Scan scan, const FitSettings& fit, FrameShape* out,
              std::string* error);

// Writes `plan`'s picture into `dst`, a picture of `shape` already black.
void Compose(const PeriodPlan& plan, Scan scan, const FrameShape& shape, std::uint8_t* dst);

}  // namespace oxplay
