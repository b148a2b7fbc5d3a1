// The tables that turn the SDK's formats into DeckLink display modes and pixel formats and
// back. Pure functions.
#pragma once

#include "decklink/api/decklink_api.h"
#include "orvex/types.h"

namespace orvex::decklink {

inline constexpr BMDPixelFormat kNoPixelFormat = 0xFFFFFFFFu;
inline constexpr int kFull3DFlag = 0x1000;

// The display mode of a format (low byte; 0 counts as NTSC); 0 when the card has none.
BMDDisplayMode DisplayModeFor(int video_format);
// The format of a display mode (eMVF_Custom when unknown).
eMVideoFormat VideoFormatFor(BMDDisplayMode mode);
// The frame rate that sizes the queue limits (0 for the UHD 50/59.94/60 modes, which are not
// doubled).
double QueueRateFor(BMDDisplayMode mode);
// The card's pixel format for a requested layout (kNoPixelFormat when it has none).
BMDPixelFormat PixelFormatFor(eMFCC requested, bool ten_bit, bool keying);
// The SDK layout of a card pixel format at `height` lines.
eMFCC FccFor(BMDPixelFormat format, int height);
// Row bytes of a card pixel format.
int CardRowBytes(BMDPixelFormat format, int width);
// The picture description of the output: the mode's format in the card's pixel format.
M_VID_PROPS OutputVideoProps(BMDDisplayMode mode, BMDPixelFormat format, bool sd16x9);

}  // namespace orvex::decklink
