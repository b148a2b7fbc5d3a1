// The frame's timecode on the DeckLink frame.
#pragma once

#include <optional>
#include <string_view>

#include "decklink/api/decklink_api.h"
#include "orvex/types.h"

namespace orvex::decklink {

// The DeckLink timecode format for a "timecode_format" setting on an output of `video_format`;
// nothing for "disabled". "auto" and unknown text give VITC on SD (base 1 to 5), RP188 VITC1
// on every other format.
std::optional<BMDTimecodeFormat> TimecodeFormatFor(std::u16string_view setting, int video_format);

// Sets the timecode of `time` on `frame` unless `enabled` is false, no format is chosen or bit
// 31 of the timecode flags is set. Returns whether it was set.
bool PutTimecode(IDeckLinkMutableVideoFrame* frame, const M_TIME& time, bool enabled,
                 std::optional<BMDTimecodeFormat> format);

}  // namespace orvex::decklink
