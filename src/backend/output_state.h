// What a card output opened, as properties a host reads: "output.state" ("open", "closed",
// "failed"), "output.mode" (the format's short name), "output.pixel_format" (the card's
// layout), "output.audio" and "output.error" (a failed open's HRESULT and reason; empty after
// a success). A fallback can make them differ from what the frames asked for.
#pragma once

#include <string>

#include "orvex/interfaces.h"

namespace orvex::backend {

struct OutputDescription {
    int video_format = 0;  // eMVideoFormat
    std::u16string extra;  // after the mode's name ("3D")
    std::u16string pixel;  // "v210", "2vuy", ...
    M_AUD_PROPS audio{};   // no channels: none
};

// Writes the properties into `root` through node calls (any lock held).
void PublishOutputOpen(IMNode* root, const OutputDescription& output);
void PublishOutputClosed(IMNode* root);
void PublishOutputFailed(IMNode* root, HRESULT error, const std::u16string& reason);

// The property names, with their values before any output opened.
inline constexpr const char16_t* kOutputDefaults[][2] = {
    {u"output.state", u"closed"}, {u"output.mode", u""},  {u"output.pixel_format", u""},
    {u"output.audio", u""},       {u"output.error", u""},
};

}  // namespace orvex::backend
