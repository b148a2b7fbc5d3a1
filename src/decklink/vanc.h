// Ancillary data packets (291M layout, 10-bit words) and their place in a v210 blanking line,
// and the copying of a frame's own blanking lines ('VANC' item) into the card's ancillary
// object. Everything here reads and writes only within the buffers it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decklink/api/decklink_api.h"

namespace orvex::decklink {

inline constexpr std::uint8_t kCaptionDid = 0x61;
inline constexpr std::uint8_t kCdpSdid = 0x01;
inline constexpr std::uint8_t kCea608Sdid = 0x02;

// An 8-bit value as a 10-bit word: bit 8 even parity over bits 0-7, bit 9 its inverse.
std::uint16_t AncWord(std::uint8_t value);

// The words of one packet: 000 3FF 3FF, DID, SDID, DC, the data, checksum. At most 255
// data bytes fit a packet; more gives an empty result.
std::vector<std::uint16_t> BuildAncPacket(std::uint8_t did, std::uint8_t sdid,
                                          const std::uint8_t* data, std::size_t size);

// Lines of pictures this wide or wider carry packets in their luma samples only; narrower
// (SD) lines in every sample.
inline constexpr int kLumaPlacementWidth = 1280;
inline bool UsesLumaPlacement(int width) {
    return width >= kLumaPlacementWidth;
}

// Row bytes of a v210 line of `width` pixels (0 for a width outside 1..65535).
std::size_t V210RowBytes(int width);

// Writes `packet` into a v210 line of `line_bytes` bytes and `width` pixels, starting at the
// 32-bit word `word_offset`: into the luma samples only, or into consecutive samples. Only the
// packet's own 10-bit fields change. A packet that would run past the line's samples or its
// bytes is not written at all; returns whether it was.
bool PlaceAncPacket(std::uint8_t* line, std::size_t line_bytes, int width, std::size_t word_offset,
                    const std::vector<std::uint16_t>& packet, bool luma_only);

// Copies the records of a 'VANC' item (each a signed 16-bit line number, a signed 16-bit byte
// count, that many bytes; little-endian) into the lines the ancillary object gives, at most
// `row_bytes` of each. A record whose count is negative or runs past the item ends the copy;
// a line the card does not give (or a line number below 1) is skipped. Returns the records
// copied.
int CopyVancRecords(const std::uint8_t* item, std::size_t size,
                    IDeckLinkVideoFrameAncillary* ancillary, std::size_t row_bytes);

}  // namespace orvex::decklink
