// Ancillary packets (291M layout) found in one v210 blanking line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvex::sim::decklink {

struct VancPacket {
    std::uint8_t did = 0, sdid = 0;
    std::vector<std::uint8_t> data;  // user data words, 8-bit values
    bool checksum_ok = false;
};

// `luma_only`: HD lines carry packets in the Y samples; SD lines in every sample.
std::vector<VancPacket> FindVancPackets(const std::uint8_t* line, std::size_t bytes,
                                        std::int32_t width, bool luma_only);

}  // namespace orvex::sim::decklink
