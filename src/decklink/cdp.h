// Caption distribution packets (CDPs, 334-2): the frame rate code of an output, a CDP built
// from ATSC A/53 caption data ('GA94' item), and a CDP taken from a 'C708' item.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "orvex/types.h"

namespace orvex::decklink {

struct CdpRate {
    std::uint8_t code;      // 1 (23.976) .. 8 (60)
    std::uint8_t cc_count;  // triplets per frame at that rate
};

// The code for a frame rate (frames, not fields, per second); nothing for a rate without one.
std::optional<CdpRate> CdpRateFor(double frames_per_second);

// Frames per second of an output in `props`: the rate of its named base format, else the
// record's own rate.
double OutputFrameRate(const M_VID_PROPS& props);

// A CDP from a 'GA94' item (identifier, type byte, cc_count byte, em_data byte, triplets):
// the item's valid triplets in order, at most the rate's cc_count, padded to it. Triplets are
// read only as far as both the item's cc_count and its size allow. Nothing for an item shorter
// than 11 bytes.
std::optional<std::vector<std::uint8_t>> BuildCdpFromGa94(const std::uint8_t* item,
                                                          std::size_t size, CdpRate rate,
                                                          std::uint16_t sequence);

// The CDP of a 'C708' item (it starts at byte 4) as a copy with its checksum corrected; the
// item is not changed. Nothing for an item shorter than 11 bytes or whose cdp_length is 0 or
// runs past the item.
std::optional<std::vector<std::uint8_t>> CdpFromC708(const std::uint8_t* item, std::size_t size);

// Two's complement of the byte sum of the first size - 1 bytes.
std::uint8_t CdpChecksum(const std::uint8_t* cdp, std::size_t size);

}  // namespace orvex::decklink
