// A decoded FFmpeg picture brought into a layout the renderer takes, at its own size: 8-bit
// Y'CbCr as UYVY (HDYC for BT.709 colours), deeper Y'CbCr as v210, RGB as RGB32. Full-range
// Y'CbCr becomes studio range; a picture meant to be shown turned is turned.
#pragma once

#include <string>

#include "tools/oxplay/source.h"

struct AVFrame;

namespace oxplay {

// `rotation`: degrees clockwise, 0, 90, 180 or 270. False with a reason for a layout that
// holds no pictures (hardware surfaces, bitstreams) or a size beyond 16384 a side.
bool PictureFromFrame(const AVFrame* frame, int rotation, Image* out, std::string* error);

// The clockwise turn (0, 90, 180, 270) that a display matrix asks for; 0 for none.
int RotationOf(const std::int32_t* display_matrix);

}  // namespace oxplay
