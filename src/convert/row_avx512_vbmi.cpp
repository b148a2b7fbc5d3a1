// Rows with the AVX-512 VBMI byte permutes (compiled with -mavx512f -mavx512bw
// -mavx512vbmi only; picked at the AVX-512 level where the processor has it). A byte
// permute across the whole vector takes its bytes from anywhere in one or two sources, so
// these rows load and store whole, contiguous vectors where the lane-wise forms split
// every load or store into 16-byte pieces one lane span apart.
//
// RGB24 to RGB32: one permute over two tables, the 48 source bytes of 16 pixels and a
// vector of the alpha value, puts every output byte in place: a load, a permute and a
// store per 16 pixels, where the lane-wise forms need three loads, seven shuffles and four
// ORs.
#include <immintrin.h>

#include "convert/row_variants.h"

namespace orvex::convert {
namespace {

template <bool kStream>
inline void Store(std::uint8_t* d, __m512i v) {
    if constexpr (kStream) {
        auto* q = reinterpret_cast<__m128i*>(d);
        _mm_stream_si128(q, _mm512_castsi512_si128(v));
        _mm_stream_si128(q + 1, _mm512_extracti32x4_epi32(v, 1));
        _mm_stream_si128(q + 2, _mm512_extracti32x4_epi32(v, 2));
        _mm_stream_si128(q + 3, _mm512_extracti32x4_epi32(v, 3));
    } else {
        _mm512_storeu_si512(d, v);
    }
}

// Output byte 4i + c takes source byte 3i + c, and the fourth byte of each pixel the
// alpha table (indices 64 and up).
__m512i PixelIndex() {
    alignas(64) std::uint8_t idx[64];
    for (int i = 0; i < 16; ++i) {
        for (int c = 0; c < 3; ++c) idx[4 * i + c] = static_cast<std::uint8_t>(3 * i + c);
        idx[4 * i + 3] = 64;
    }
    return _mm512_load_si512(idx);
}

// Widths are multiples of 64 pixels (RowBlockPixels); the loads are masked to the 48 bytes
// of each group, so none reads past the row. The streaming form needs a 16-byte aligned
// destination.
template <bool kStream>
void Rgb24ToRgb32(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    const __m512i idx = PixelIndex();
    const __m512i alpha = _mm512_set1_epi8(static_cast<char>(p->alpha));
    constexpr __mmask64 k48 = (__mmask64{1} << 48) - 1;
    for (int x = 0; x < w; x += 16, s += 48, d += 64) {
        Store<kStream>(d, _mm512_permutex2var_epi8(_mm512_maskz_loadu_epi8(k48, s), idx, alpha));
    }
}

// RGB32 to RGB24, 64 pixels a step: output vector o holds bytes 64o to 64o + 63 of the
// 192, all of which come from source vectors o and o + 1. Four loads, three two-table
// permutes, three stores.
__m512i DropFourthIndex(int o) {
    alignas(64) std::uint8_t idx[64];
    for (int i = 0; i < 64; ++i) {
        const int j = 64 * o + i;
        idx[i] = static_cast<std::uint8_t>(4 * (j / 3) + j % 3 - 64 * o);
    }
    return _mm512_load_si512(idx);
}

void Rgb32ToRgb24(const std::uint8_t* s, std::uint8_t* d, int w) {
    const __m512i i0 = DropFourthIndex(0), i1 = DropFourthIndex(1), i2 = DropFourthIndex(2);
    for (int x = 0; x < w; x += 64, s += 256, d += 192) {
        const __m512i a = _mm512_loadu_si512(s), b = _mm512_loadu_si512(s + 64);
        const __m512i c = _mm512_loadu_si512(s + 128), e = _mm512_loadu_si512(s + 192);
        _mm512_storeu_si512(d, _mm512_permutex2var_epi8(a, i0, b));
        _mm512_storeu_si512(d + 64, _mm512_permutex2var_epi8(b, i1, c));
        _mm512_storeu_si512(d + 128, _mm512_permutex2var_epi8(c, i2, e));
    }
}

// 4:2:2 to v210, 24 pixels (four groups) a step: the 48 source bytes to one 64-byte
// vector. Word k of a group takes samples 3k and 3k + 1 as 16-bit values for a
// multiply-add and sample 3k + 2 at bit 16, as in the lane-wise form.
constexpr int PairByte(bool yuy2, int what) {
    constexpr int kUyvy[4] = {1, 0, 3, 2};  // Y0 U Y1 V
    return yuy2 ? what : kUyvy[what];
}
// Byte of sample n (U Y V Y order) of a group of six pixels.
constexpr int GroupSampleByte(bool yuy2, int n) {
    constexpr int kWhat[4] = {1, 0, 3, 2};  // U, Y0, V, Y1
    return 4 * (n / 4) + PairByte(yuy2, kWhat[n % 4]);
}

__m512i PackIndex(bool yuy2, bool high) {
    alignas(64) std::uint8_t idx[64] = {};
    for (int g = 0; g < 4; ++g) {
        for (int k = 0; k < 4; ++k) {
            std::uint8_t* word = idx + 16 * g + 4 * k;
            if (high) {
                word[2] = static_cast<std::uint8_t>(12 * g + GroupSampleByte(yuy2, 3 * k + 2));
            } else {
                word[0] = static_cast<std::uint8_t>(12 * g + GroupSampleByte(yuy2, 3 * k));
                word[2] = static_cast<std::uint8_t>(12 * g + GroupSampleByte(yuy2, 3 * k + 1));
            }
        }
    }
    return _mm512_load_si512(idx);
}

template <bool kYuy2, bool kStream>
void PackV210(const std::uint8_t* s, std::uint8_t* d, int w) {
    const __m512i low = PackIndex(kYuy2, false), high = PackIndex(kYuy2, true);
    const __m512i scale = _mm512_set1_epi32(4096 << 16 | 4);  // samples 3k, 3k+1 to bits 2, 12
    constexpr __mmask64 kLow = 0x5555555555555555ull, kHigh = 0x4444444444444444ull;
    constexpr __mmask64 k48 = (__mmask64{1} << 48) - 1;
    for (int x = 0; x < w; x += 24, s += 48, d += 64) {
        const __m512i px = _mm512_maskz_loadu_epi8(k48, s);
        const __m512i lo = _mm512_madd_epi16(_mm512_maskz_permutexvar_epi8(kLow, low, px), scale);
        const __m512i hi = _mm512_slli_epi32(_mm512_maskz_permutexvar_epi8(kHigh, high, px), 6);
        Store<kStream>(d, _mm512_or_si512(lo, hi));
    }
}

}  // namespace

void Rgb32ToRgb24Row_AVX512VBMI(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams*) {
    Rgb32ToRgb24(s, d, w);
}
void UyvyToV210Row_AVX512VBMI(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams*) {
    PackV210<false, false>(s, d, w);
}
void UyvyToV210Row_AVX512VBMINT(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams*) {
    PackV210<false, true>(s, d, w);
}
void Yuy2ToV210Row_AVX512VBMI(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams*) {
    PackV210<true, false>(s, d, w);
}
void Yuy2ToV210Row_AVX512VBMINT(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams*) {
    PackV210<true, true>(s, d, w);
}

void Rgb24ToRgb32Row_AVX512VBMI(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    Rgb24ToRgb32<false>(s, d, w, p);
}
void Rgb24ToRgb32Row_AVX512VBMINT(const std::uint8_t* s, std::uint8_t* d, int w,
                                  const RowParams* p) {
    Rgb24ToRgb32<true>(s, d, w, p);
}

}  // namespace orvex::convert
