// Which output format a file plays in, and where its picture lands in it. Pure arithmetic
// over the renderer's format list: the renderer scales what the player hands it to the
// output size, so the player only decides the shape of that picture (padded with black bars,
// cut, or as it is) and never resizes anything itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orvex/types.h"

namespace oxplay {

// A video format as the renderer's format list gives it.
struct FormatEntry {
    std::string name;
    M_VID_PROPS props{};
};

// The entry named `wanted`: the whole name or its first word ("HD1080-25p"), any case; -1.
int MatchFormatName(const std::vector<FormatEntry>& formats, const std::string& wanted);
// A frame rate as a fraction: 25 -> 25/1, 29.97 -> 30000/1001.
void RateFraction(double rate, int* num, int* den);

// The rate families outputs come in: 24 and 23.98, 25 and 50, 29.97 and 59.94, 30 and 60.
// A rate belongs to the family one of whose rates (or their halves and doubles) is nearest.
enum class RateFamily { k24, k25, k2997, k30 };
RateFamily FamilyOf(double frames_per_second);

// What the choice needs to know of the file's pictures.
struct PictureShape {
    int width = 0;
    int height = 0;
    double pixel_aspect = 1.0;  // a pixel's width over its height
    double rate = 25.0;         // frames per second (interlaced: whole frames)
    bool interlaced = false;
};

// The output that suits the pictures best: the file's rate family first, then the smallest
// frame that holds the picture without shrinking it (the largest when none does), then the
// same scan (progressive for progressive pictures), then the nearest rate. 3D and disabled
// entries are never chosen. -1 when the list has no playable entry.
int ChooseFormat(const std::vector<FormatEntry>& formats, const PictureShape& shape);

// A pixel's width over its height on the output. Rasters of 720 lines and more have square
// pixels by their standards; standard definition takes its shape from the display aspect.
double OutputPixelAspect(const M_VID_PROPS& props);

enum class Fit { kLetterbox, kStretch, kCrop };
const char* FitName(Fit fit);

// How a picture is shaped before the renderer scales it to the output: a canvas of
// `canvas_w` x `canvas_h` pixels (black where nothing lands) receives the source's region
// (`src_x`, `src_y`, `src_w`, `src_h`) at (`dst_x`, `dst_y`). The canvas has the output's
// display aspect in the source's pixels, so scaling it to the output keeps the picture's
// shape (letterbox and crop); stretch hands the whole picture as it is.
struct Placement {
    int canvas_w = 0, canvas_h = 0;
    int src_x = 0, src_y = 0, src_w = 0, src_h = 0;
    int dst_x = 0, dst_y = 0;
    bool Identity() const {
        return src_x == 0 && src_y == 0 && dst_x == 0 && dst_y == 0 && canvas_w == src_w &&
               canvas_h == src_h;
    }
};

struct PlaceRequest {
    Fit fit = Fit::kLetterbox;
    int width = 0, height = 0;  // the source picture
    double pixel_aspect = 1.0;
    int out_width = 0, out_height = 0;
    double out_pixel_aspect = 1.0;
    int x_step = 2;            // horizontal positions are multiples of this (v210: 6)
    bool keep_parity = false;  // vertical positions even, so fields keep their lines
};

// False with a reason when the canvas would be beyond 16384 pixels a side (an absurd pixel
// aspect). Differences under 1% of a side are left alone: that is rounding, not a shape.
bool Place(const PlaceRequest& request, Placement* out, std::string* error);

}  // namespace oxplay
