// Display texts of video and audio formats, as format lists and hosts show them.
#pragma once

#include <string>

#include "orvex/types.h"

namespace orvex::formats {

// "HD1080-50i HDYC 1920x1080@25.00iT 16:9"; "<No Video>" for a disabled output and
// "<Auto/Not Specified>" for a record that names no usable format.
std::u16string VideoFormatDescribe(const M_VID_PROPS& props);
// "48000 Hz, 2 Ch, 16-bit"; "<No Audio>" for a negative channel count, else
// "<Auto/Not Specified>" unless channels, rate and bits are all given.
std::u16string AudioFormatDescribe(const M_AUD_PROPS& props);

// Text of a pixel format: its four characters when printable, else a known name or hex.
std::u16string PixelFormatText(eMFCC fcc);

// A BSTR copy for an out-parameter; E_OUTOFMEMORY when it cannot be allocated. A null
// `out` is allowed and leaves nothing to do.
HRESULT DescriptionToBstr(const std::u16string& text, BSTR* out);

}  // namespace orvex::formats
