#include "decklink/timecode.h"

namespace orvex::decklink {
namespace {

struct FormatName {
    std::u16string_view name;
    BMDTimecodeFormat format;
};

constexpr FormatName kFormats[] = {
    {u"rp188-vitc", bmdTimecodeRP188VITC1}, {u"rp188-vitc2", bmdTimecodeRP188VITC2},
    {u"rp188-ltc", bmdTimecodeRP188LTC},    {u"vitc", bmdTimecodeVITC},
    {u"vitc-2", bmdTimecodeVITCField2},     {u"serial", bmdTimecodeSerial},
};

constexpr std::uint32_t kTimecodeNotSet = 0x80000000u;

}  // namespace

std::optional<BMDTimecodeFormat> TimecodeFormatFor(std::u16string_view setting, int video_format) {
    if (setting == u"disabled") return std::nullopt;
    for (const FormatName& f : kFormats)
        if (setting == f.name) return f.format;
    const int base = video_format & 0xFF;
    return base >= eMVF_NTSC && base <= eMVF_PAL_16x9 ? bmdTimecodeVITC : bmdTimecodeRP188VITC1;
}

bool PutTimecode(IDeckLinkMutableVideoFrame* frame, const M_TIME& time, bool enabled,
                 std::optional<BMDTimecodeFormat> format) {
    const M_TIMECODE& tc = time.tcFrame;
    if (!frame || !enabled || !format ||
        (static_cast<std::uint32_t>(tc.eTCFlags) & kTimecodeNotSet))
        return false;
    const BMDTimecodeFlags flags = (tc.eTCFlags & 1) ? bmdTimecodeIsDropFrame : 0;
    return SUCCEEDED(
        frame->SetTimecodeFromComponents(*format, static_cast<unsigned char>(tc.nHours & 0xFF),
                                         static_cast<unsigned char>(tc.nMinutes & 0xFF),
                                         static_cast<unsigned char>(tc.nSeconds & 0xFF),
                                         static_cast<unsigned char>(tc.nFrames & 0xFF), flags));
}

}  // namespace orvex::decklink
