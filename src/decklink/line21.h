// CEA-608 captions drawn as the line-21 waveform into the first two lines of an NTSC picture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "decklink/api/decklink_api.h"

namespace orvex::decklink {

// One line of 720 samples, 8-bit 4:2:2 (U Y V Y): every sample is chroma 0x80 and a luma
// level. The clock run-in, start bit and levels are fixed; only the two data bytes change.
class Line21Generator {
public:
    static constexpr int kSamples = 720;
    static constexpr std::size_t kLineBytes = kSamples * 2;
    static constexpr int kDataStart =
        277;  // first sample of bit 0 of the first byte, less the edge

    Line21Generator();
    // Writes the waveform of the byte pair into `line` (kLineBytes). The bytes go as they are
    // (bit 7 is the caption parity bit).
    void Draw(std::uint8_t* line, std::uint8_t first, std::uint8_t second) const;

private:
    std::array<std::uint8_t, kSamples> template_{};  // luma levels
};

// Draws both lines into the frame's first two picture lines: the first line carries the field-2
// pair (`pairs` bytes 2 and 3), the second the field-1 pair (bytes 0 and 1). An item of fewer
// than 4 bytes draws only the lines it has a pair for. For anything but top-down 8-bit 4:2:2
// the lines are drawn into a scratch buffer and converted into the frame's own layout. Returns
// false when the frame's layout or size allows no drawing.
bool PutLine21(const Line21Generator& generator, IDeckLinkVideoFrame* frame,
               const std::uint8_t* pairs, std::size_t size);

}  // namespace orvex::decklink
