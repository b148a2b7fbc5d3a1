// Helpers shared by the audio buffer tests.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pipeline/audio_buffer.h"

namespace orvex::pipeline::testing {

struct ReleaseDeleter {
    void operator()(IUnknown* p) const { p->Release(); }
};
using BufferPtr = std::unique_ptr<MAudioBuffer2, ReleaseDeleter>;
inline BufferPtr MakeBuffer() {
    return BufferPtr(new MAudioBuffer2());
}

inline M_AUD_PROPS Props(int channels, int rate, int bits) {
    return M_AUD_PROPS{channels, rate, bits, 0};
}

// Packs samples (full-scale values in the sample's own width) little endian, `bytes` each.
inline std::vector<BYTE> Pack(const std::vector<std::int32_t>& values, int bytes) {
    std::vector<BYTE> out(values.size() * static_cast<std::size_t>(bytes));
    for (std::size_t i = 0; i < values.size(); ++i)
        for (int b = 0; b < bytes; ++b)
            out[i * bytes + b] =
                static_cast<BYTE>(static_cast<std::uint32_t>(values[i]) >> (8 * b));
    return out;
}

// Reads `count` signed little-endian samples of `bytes` bytes each.
inline std::vector<std::int32_t> UnpackAll(const BYTE* p, std::size_t count, int bytes) {
    std::vector<std::int32_t> out(count);
    const int shift = 32 - 8 * bytes;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t u = 0;
        for (int b = 0; b < bytes; ++b)
            u |= static_cast<std::uint32_t>(p[i * bytes + b]) << (8 * b);
        out[i] = static_cast<std::int32_t>(u << shift) >> shift;
    }
    return out;
}

}  // namespace orvex::pipeline::testing
