// Sample-width conversion, (de)interleaving and saturating mix-down of audio blocks.
//
// Wire samples (interleaved, as frames carry them) are 2, 3 or 4 bytes, little endian,
// signed. Stored samples are 2 bytes (16-bit formats) or 4 bytes (24- and 32-bit formats).
// 32-bit containers hold full-scale values: a 24-bit sample sits in the upper three bytes,
// so 24- and 32-bit audio share one scale and one mixing range.
#pragma once

#include <cstddef>
#include <cstdint>

#include "orvex/types.h"

namespace orvex::pipeline {

constexpr int kMaxAudioChannels = 128;

// Bytes per interleaved sample for a bit count: (|bits| + 7) / 8 when that is 2, 3 or 4,
// else 0 (unsupported).
int WireBytes(int bits);
// Bytes per stored sample: 2 or 4; 0 for unsupported widths.
int StorageBytes(int bits);
// 1 to 128 channels, a positive rate and a supported width.
bool IsValidFormat(const M_AUD_PROPS& props);
bool IsDisabledFormat(const M_AUD_PROPS& props);

enum class Narrowing { kTruncate, kRound };

// Converts `samples` samples from a strided source of width srcBytes (2, 3 or 4) to a strided
// destination of width dstBytes (2, 3 or 4). Narrowing rounds half up and saturates, or
// drops the low bits. Source and destination must not overlap.
void ConvertSamples(const BYTE* src, std::ptrdiff_t srcStride, int srcBytes, BYTE* dst,
                    std::ptrdiff_t dstStride, int dstBytes, std::size_t samples, Narrowing mode);

// dst[i] = saturate(dst[i] + src[i]) in the sample range of the storage width.
void MixAdd16(std::int16_t* dst, const std::int16_t* src, std::size_t samples);
void MixAdd32(std::int32_t* dst, const std::int32_t* src, std::size_t samples);

// One add of the mix-down: channel `from` goes into channel `to`.
struct MixRoute {
    int from;
    int to;
};

// The adds that fold `sourceChannels` channels into `targetChannels` (< sourceChannels), in
// the order they apply. Returns the count written to `routes` (at most kMaxAudioChannels * 2).
int MixDownRoutes(int sourceChannels, int targetChannels, MixRoute* routes);

}  // namespace orvex::pipeline
