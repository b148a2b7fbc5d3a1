// The video format table and the pixel-format rules. Pure functions, no state.
#pragma once

#include <string>
#include <string_view>

#include "orvex/types.h"

namespace orvex::formats {

// A record for a named format (zero record for eMVF_Custom). fcc 0 takes the base's default
// pixel format; an RGB pixel format makes the height negative (bottom-up rows).
M_VID_PROPS VideoFormatDefaults(eMVideoFormat format, eMFCC fcc);
// The named format matching size, rate and field order, or eMVF_Custom (0).
eMVideoFormat VideoFormatDetect(const M_VID_PROPS& props, bool strict);
// Fills and corrects a record in place; returns its format (0 on failure).
eMVideoFormat VideoPropsComplete(M_VID_PROPS& props, bool strict);
bool VideoPropsIsValid(const M_VID_PROPS& props);
double PictureAspect(const M_VID_PROPS& props);

// The default stride of a row (picture_geometry.h); 0 when there is none.
int RowBytesFor(eMFCC fcc, int width);
int RowBytesMin(const M_VID_PROPS& props);
int PixelFormatBits(eMFCC fcc);
bool PixelFormatIsRGB(eMFCC fcc);
bool PixelFormatIsPlanar(eMFCC fcc);
eMFCC PixelFormatFromName(std::u16string_view name);
// 0..4 for the stereo packings none, 0x200, 0x400, 0x1200, 0x1400 (0 for anything else).
int FormatGroupIndex(int format);

// Short names for descriptions; empty for values outside the tables.
std::u16string_view VideoFormatShortName(int format);   // base 0..39 of format & 0xFF
std::u16string_view InterlaceShortName(int interlace);  // field orders 0..7
std::u16string_view StereoShortName(int packing);       // 0, 0x200, 0x400, 0x1200, 0x1400

// The enumeration's name of a format ("eMVF_HD1080_50i", "eMVF_3D_Full_SbS_1080_25p"); empty
// for values that the enumeration does not name.
std::u16string VideoFormatName(int format);
// Base tolerance in lines that detection allows above a base's height (0 for none).
int VideoFormatHeightTolerance(int format);

}  // namespace orvex::formats
