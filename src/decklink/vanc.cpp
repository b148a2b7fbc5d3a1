#include "decklink/vanc.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace orvex::decklink {

std::uint16_t AncWord(std::uint8_t value) {
    const bool odd = (std::popcount(static_cast<unsigned>(value)) & 1) != 0;
    return static_cast<std::uint16_t>(value | (odd ? 0x100 : 0x200));
}

std::vector<std::uint16_t> BuildAncPacket(std::uint8_t did, std::uint8_t sdid,
                                          const std::uint8_t* data, std::size_t size) {
    if (size > 255 || (size && !data)) return {};
    std::vector<std::uint16_t> words;
    words.reserve(size + 7);
    words.insert(words.end(), {0x000, 0x3FF, 0x3FF, AncWord(did), AncWord(sdid),
                               AncWord(static_cast<std::uint8_t>(size))});
    for (std::size_t i = 0; i < size; ++i) words.push_back(AncWord(data[i]));
    unsigned sum = 0;
    for (std::size_t i = 3; i < words.size(); ++i) sum += words[i] & 0x1FF;
    sum &= 0x1FF;
    words.push_back(static_cast<std::uint16_t>(sum | ((sum & 0x100) ? 0 : 0x200)));
    return words;
}

std::size_t V210RowBytes(int width) {
    if (width < 1 || width > 65535) return 0;
    return (static_cast<std::size_t>(width) + 47) / 48 * 128;
}

bool PlaceAncPacket(std::uint8_t* line, std::size_t line_bytes, int width, std::size_t word_offset,
                    const std::vector<std::uint16_t>& packet, bool luma_only) {
    if (!line || width < 1 || packet.empty()) return false;
    // Sample s of the line is field s % 3 of 32-bit word s / 3; luma samples are the odd ones.
    const std::uint64_t samples =
        std::min<std::uint64_t>(2ull * static_cast<std::uint64_t>(width), line_bytes / 4 * 3);
    if (word_offset > samples / 3) return false;
    std::uint64_t first = 3ull * word_offset;
    if (luma_only && first % 2 == 0) ++first;
    const std::uint64_t step = luma_only ? 2 : 1;
    const std::uint64_t last = first + step * (packet.size() - 1);
    if (last >= samples) return false;
    for (std::size_t i = 0; i < packet.size(); ++i) {
        const std::uint64_t s = first + step * i;
        std::uint8_t* at = line + s / 3 * 4;
        const unsigned shift = static_cast<unsigned>(s % 3) * 10;
        std::uint32_t word =
            static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
            (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
        word =
            (word & ~(0x3FFu << shift)) | (static_cast<std::uint32_t>(packet[i] & 0x3FF) << shift);
        at[0] = static_cast<std::uint8_t>(word);
        at[1] = static_cast<std::uint8_t>(word >> 8);
        at[2] = static_cast<std::uint8_t>(word >> 16);
        at[3] = static_cast<std::uint8_t>(word >> 24);
    }
    return true;
}

int CopyVancRecords(const std::uint8_t* item, std::size_t size,
                    IDeckLinkVideoFrameAncillary* ancillary, std::size_t row_bytes) {
    if (!item || !ancillary) return 0;
    int copied = 0;
    std::size_t at = 0;
    while (size - at >= 4) {
        const auto line = static_cast<std::int16_t>(item[at] | (item[at + 1] << 8));
        const auto count = static_cast<std::int16_t>(item[at + 2] | (item[at + 3] << 8));
        if (count < 0 || static_cast<std::size_t>(count) > size - at - 4) break;
        const std::uint8_t* bytes = item + at + 4;
        at += 4 + static_cast<std::size_t>(count);
        void* buffer = nullptr;
        if (line < 1 ||
            FAILED(ancillary->GetBufferForVerticalBlankingLine(static_cast<unsigned>(line),
                                                               &buffer)) ||
            !buffer)
            continue;
        std::memcpy(buffer, bytes, std::min(static_cast<std::size_t>(count), row_bytes));
        ++copied;
    }
    return copied;
}

}  // namespace orvex::decklink
