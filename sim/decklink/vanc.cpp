#include "sim/decklink/vanc.h"

namespace orvex::sim::decklink {

std::vector<VancPacket> FindVancPackets(const std::uint8_t* line, std::size_t bytes,
                                        std::int32_t width, bool luma_only) {
    std::vector<VancPacket> out;
    if (!line || width <= 0) return out;
    // Samples in order (Cb Y Cr Y ...), three to a little-endian word; never past `bytes`.
    std::vector<std::uint16_t> all;
    const std::size_t want = static_cast<std::size_t>(width) * 2;
    for (std::size_t w = 0; 4 * w + 4 <= bytes && all.size() < want; ++w) {
        std::uint32_t word = static_cast<std::uint32_t>(line[4 * w]) |
                             (static_cast<std::uint32_t>(line[4 * w + 1]) << 8) |
                             (static_cast<std::uint32_t>(line[4 * w + 2]) << 16) |
                             (static_cast<std::uint32_t>(line[4 * w + 3]) << 24);
        for (int k = 0; k < 3 && all.size() < want; ++k) all.push_back((word >> (10 * k)) & 0x3FF);
    }
    std::vector<std::uint16_t> s;
    if (luma_only)
        for (std::size_t i = 1; i < all.size(); i += 2) s.push_back(all[i]);
    else
        s = std::move(all);
    for (std::size_t i = 0; i + 6 < s.size();) {
        if (s[i] != 0x000 || s[i + 1] != 0x3FF || s[i + 2] != 0x3FF) {
            ++i;
            continue;
        }
        const std::size_t dc = s[i + 5] & 0xFF;
        if (i + 6 + dc >= s.size()) break;  // a packet cut off by the end of the line
        VancPacket p;
        p.did = static_cast<std::uint8_t>(s[i + 3]);
        p.sdid = static_cast<std::uint8_t>(s[i + 4]);
        std::uint32_t sum = 0;
        for (std::size_t k = 3; k < 6 + dc; ++k) sum += s[i + k] & 0x1FF;
        for (std::size_t k = 0; k < dc; ++k)
            p.data.push_back(static_cast<std::uint8_t>(s[i + 6 + k]));
        p.checksum_ok = (sum & 0x1FF) == (s[i + 6 + dc] & 0x1FF);
        out.push_back(std::move(p));
        i += 7 + dc;
    }
    return out;
}

}  // namespace orvex::sim::decklink
