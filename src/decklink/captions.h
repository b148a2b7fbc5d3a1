// What the DeckLink renderer adds to each frame it plays: the line-21 waveform (NTSC), the
// caption packets and copied blanking lines in the vertical blanking (v210 only) and the
// frame's timecode.
#pragma once

#include <cstdint>
#include <string>

#include "decklink/api/decklink_api.h"
#include "decklink/line21.h"
#include "orvex/interfaces.h"
#include "orvex/types.h"

namespace orvex::decklink {

// Frame data items (first character in the high byte, as the frame module keys them).
inline constexpr DWORD kItemC608 = DeckLinkFourCC("C608");
inline constexpr DWORD kItemC708 = DeckLinkFourCC("C708");
inline constexpr DWORD kItemGA94 = DeckLinkFourCC("GA94");
inline constexpr DWORD kItemVANC = DeckLinkFourCC("VANC");

// "cc_output" bits.
inline constexpr int kCcLine21 = 1;
inline constexpr int kCc608 = 2;
inline constexpr int kCc708 = 4;

struct CaptionSettings {
    bool timecode = true;                      // "output.timecode"
    std::u16string timecode_format = u"auto";  // "timecode_format"
    int cc_output = 7;                         // "cc_output"
    int cc_line_sdi = 9;                       // "cc_line_sdi"
    int copy_vanc = 2;                         // "output.copy_vanc"
};

// Reads the settings from the renderer's root node; an absent or unreadable one keeps its
// default.
CaptionSettings ReadCaptionSettings(IMNode* root);
// Writes the defaults (and "cc_offset_dword" 0) where the root has no value yet.
void WriteCaptionDefaults(IMNode* root);

// Whether PutFrameData would draw into the picture of this frame (line 21 on NTSC), so the
// picture must not be the host's own memory.
bool DrawsIntoPicture(IMFrame_I* frame, const M_VID_PROPS& output_props,
                      const CaptionSettings& settings);

// What the ancillary step did, for tests and statistics.
struct FrameDataResult {
    bool line21 = false;
    bool timecode = false;
    bool cdp = false;     // a CDP packet went into the caption line
    bool cea608 = false;  // a 608 packet went into the caption line
    int vanc_records = 0;
};

// One per renderer; PutFrameData runs on the frame path only (not thread-safe).
class FrameDataWriter {
public:
    // Adds the frame's captions, ancillary lines and timecode to `deck_frame`. `output_props`
    // describe the output (eVideoFormat, nWidth, dblRate). Never fails the frame: what cannot
    // be written is left out.
    FrameDataResult PutFrameData(IMFrame_I* frame, IDeckLinkOutput_v9_9* output,
                                 IDeckLinkMutableVideoFrame* deck_frame,
                                 const M_VID_PROPS& output_props, const CaptionSettings& settings);

    // Fills an already-cleared caption line: the CDP (from `c708`, else built from `ga94`)
    // and the 608 packet, as the settings ask. Null items are absent.
    FrameDataResult PutCaptionPackets(std::uint8_t* line, std::size_t line_bytes,
                                      const M_VID_PROPS& output_props, int cc_output,
                                      const BYTE* c608, LONG c608_size, const BYTE* c708,
                                      LONG c708_size, const BYTE* ga94, LONG ga94_size);

    std::uint16_t CdpSequence() const { return cdp_sequence_; }

private:
    Line21Generator line21_;
    std::uint16_t cdp_sequence_ = 0;
};

}  // namespace orvex::decklink
