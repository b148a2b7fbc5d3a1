// What the virtual card knows about display modes and pixel formats: picture size, exact
// frame rate, field order, pixel aspect, and the row-byte rule of each pixel layout.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "decklink/api/decklink_api.h"

namespace orvex::sim::decklink {

struct ModeInfo {
    BMDDisplayMode mode;
    const char* name;  // shown by IDeckLinkDisplayMode::GetName
    std::int32_t width;
    std::int32_t height;
    std::int64_t duration;  // frame duration in units of `scale`
    std::int64_t scale;     // units per second
    BMDFieldDominance field;
    int aspect_num;  // pixel aspect ratio
    int aspect_den;
};

const ModeInfo* FindMode(BMDDisplayMode mode);
// Every mode of the table, ending with a null entry's mode == 0.
const ModeInfo* AllModes();

// Smallest row bytes of a line `width` pixels wide; 0 for an unknown format or width.
std::int64_t MinRowBytes(BMDPixelFormat format, std::int64_t width);

// Four-character code text ("Hi50", "pal ") and back; numbers ("32", "0x20") also parse.
std::string FourCCText(std::uint32_t code);
std::optional<std::uint32_t> ParseCode(std::string_view text);

}  // namespace orvex::sim::decklink
