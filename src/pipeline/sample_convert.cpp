#include "pipeline/sample_convert.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace orvex::pipeline {

int WireBytes(int bits) {
    const std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(bits));
    const std::int64_t bytes = (magnitude + 7) / 8;
    return bytes >= 2 && bytes <= 4 ? static_cast<int>(bytes) : 0;
}

int StorageBytes(int bits) {
    const int wire = WireBytes(bits);
    return wire == 0 ? 0 : (wire == 2 ? 2 : 4);
}

bool IsValidFormat(const M_AUD_PROPS& props) {
    return props.nChannels >= 1 && props.nChannels <= kMaxAudioChannels &&
           props.nSamplesPerSec > 0 && WireBytes(props.nBitsPerSample) != 0;
}

bool IsDisabledFormat(const M_AUD_PROPS& props) {
    return props.nChannels < 0;
}

namespace {

// Loads a sample of width W as a full-scale 32-bit value.
template <int W>
inline std::int32_t Load(const BYTE* p) {
    if constexpr (W == 2) {
        std::int16_t v;
        std::memcpy(&v, p, 2);
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << 16);
    } else if constexpr (W == 3) {
        const std::uint32_t u = (static_cast<std::uint32_t>(p[0]) << 8) |
                                (static_cast<std::uint32_t>(p[1]) << 16) |
                                (static_cast<std::uint32_t>(p[2]) << 24);
        return static_cast<std::int32_t>(u);
    } else {
        std::int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
}

// Keeps the upper (32 - shift) bits of a full-scale value, rounding half up with
// saturation when asked.
template <int Shift, Narrowing Mode>
inline std::int32_t Narrow(std::int32_t v) {
    if constexpr (Mode == Narrowing::kTruncate) {
        return v >> Shift;
    } else {
        constexpr std::int64_t kMax = (std::int64_t{1} << (31 - Shift)) - 1;
        const std::int64_t r =
            (static_cast<std::int64_t>(v) + (std::int64_t{1} << (Shift - 1))) >> Shift;
        return static_cast<std::int32_t>(std::min(r, kMax));
    }
}

template <int W, Narrowing Mode>
inline void Store(BYTE* p, std::int32_t v) {
    if constexpr (W == 2) {
        const auto s = static_cast<std::int16_t>(Narrow<16, Mode>(v));
        std::memcpy(p, &s, 2);
    } else if constexpr (W == 3) {
        const auto u = static_cast<std::uint32_t>(Narrow<8, Mode>(v));
        p[0] = static_cast<BYTE>(u);
        p[1] = static_cast<BYTE>(u >> 8);
        p[2] = static_cast<BYTE>(u >> 16);
    } else {
        std::memcpy(p, &v, 4);
    }
}

template <int S, int D, Narrowing Mode>
void ConvertLoop(const BYTE* src, std::ptrdiff_t srcStride, BYTE* dst, std::ptrdiff_t dstStride,
                 std::size_t samples) {
    for (std::size_t i = 0; i < samples; ++i) {
        Store<D, Mode>(dst, Load<S>(src));
        src += srcStride;
        dst += dstStride;
    }
}

template <int S, Narrowing Mode>
void ConvertTo(const BYTE* src, std::ptrdiff_t srcStride, BYTE* dst, std::ptrdiff_t dstStride,
               int dstBytes, std::size_t samples) {
    switch (dstBytes) {
        case 2:
            return ConvertLoop<S, 2, Mode>(src, srcStride, dst, dstStride, samples);
        case 3:
            return ConvertLoop<S, 3, Mode>(src, srcStride, dst, dstStride, samples);
        case 4:
            return ConvertLoop<S, 4, Mode>(src, srcStride, dst, dstStride, samples);
        default:
            return;
    }
}

template <Narrowing Mode>
void ConvertFrom(const BYTE* src, std::ptrdiff_t srcStride, int srcBytes, BYTE* dst,
                 std::ptrdiff_t dstStride, int dstBytes, std::size_t samples) {
    switch (srcBytes) {
        case 2:
            return ConvertTo<2, Mode>(src, srcStride, dst, dstStride, dstBytes, samples);
        case 3:
            return ConvertTo<3, Mode>(src, srcStride, dst, dstStride, dstBytes, samples);
        case 4:
            return ConvertTo<4, Mode>(src, srcStride, dst, dstStride, dstBytes, samples);
        default:
            return;
    }
}

}  // namespace

void ConvertSamples(const BYTE* src, std::ptrdiff_t srcStride, int srcBytes, BYTE* dst,
                    std::ptrdiff_t dstStride, int dstBytes, std::size_t samples, Narrowing mode) {
    // Same width, both packed: a plain copy.
    if (srcBytes == dstBytes && srcStride == srcBytes && dstStride == dstBytes) {
        if (samples) std::memcpy(dst, src, samples * static_cast<std::size_t>(srcBytes));
        return;
    }
    if (mode == Narrowing::kRound)
        ConvertFrom<Narrowing::kRound>(src, srcStride, srcBytes, dst, dstStride, dstBytes, samples);
    else
        ConvertFrom<Narrowing::kTruncate>(src, srcStride, srcBytes, dst, dstStride, dstBytes,
                                          samples);
}

void MixAdd16(std::int16_t* dst, const std::int16_t* src, std::size_t samples) {
    for (std::size_t i = 0; i < samples; ++i) {
        const int s = dst[i] + src[i];
        dst[i] = static_cast<std::int16_t>(std::clamp(s, -32768, 32767));
    }
}

void MixAdd32(std::int32_t* dst, const std::int32_t* src, std::size_t samples) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    for (std::size_t i = 0; i < samples; ++i) {
        const std::int64_t s = std::int64_t{dst[i]} + src[i];
        dst[i] = static_cast<std::int32_t>(std::clamp(s, kMin, kMax));
    }
}

int MixDownRoutes(int n, int t, MixRoute* routes) {
    int count = 0;
    auto add = [&](int from, int to) { routes[count++] = MixRoute{from, to}; };
    if (t < 1 || t >= n) return 0;
    if (t == 1) {
        // Mono takes every channel once; the rows below would add some of them a second time.
        for (int c = 1; c < n; ++c) add(c, 0);
        return count;
    }
    if (n >= 3 && t < 3) add(2, 0), add(2, 1);
    if (n >= 4 && t < 4) add(3, 0), add(3, 1);
    if (n >= 5 && t < 5) add(4, 0);
    if (n >= 6 && t < 6) add(5, 1);
    // From six target channels on, the back channels go to the surround pair instead of the
    // front pair, never to both.
    const bool surround = t > 5;
    if (n >= 7 && t < 7) add(6, surround ? 4 : 0);
    if (n >= 8 && t < 8) add(7, surround ? 5 : 1);
    if (n >= 9 && t < 9) {
        if (surround)
            add(8, 4), add(8, 5);
        else
            add(8, 0), add(8, 1);
    }
    if (n >= 10 && t <= 9) add(9, surround ? 4 : 0);
    if (n >= 11 && t < 11) add(10, surround ? 5 : 1);
    return count;
}

}  // namespace orvex::pipeline
