// Blanking lines as a host filled them: the packet scan never reads past the line.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sim/decklink/vanc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const bool luma_only = data[0] & 1;
    const std::int32_t width = 1 + ((data[1] | (data[2] << 8)) % 4096);
    // An exact-size copy, so that the address sanitizer sees any read past the end.
    std::vector<std::uint8_t> line(data + 3, data + size);
    for (const auto& p :
         orvex::sim::decklink::FindVancPackets(line.data(), line.size(), width, luma_only))
        if (p.data.size() > 255) __builtin_trap();
    return 0;
}
