// RGB24 to RGB32 with the AVX-512 VBMI byte permute (compiled with -mavx512f -mavx512bw
// -mavx512vbmi only; picked at the AVX-512 level where the processor has it). One permute
// over two tables, the 48 source bytes of 16 pixels and a vector of the alpha value, puts
// every output byte in place: a load, a permute and a store per 16 pixels, where the
// lane-wise forms need three loads, seven shuffles and four ORs.
#include <immintrin.h>

#include "convert/row_variants.h"

namespace orvex::convert {
namespace {

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
        const __m512i px = _mm512_permutex2var_epi8(_mm512_maskz_loadu_epi8(k48, s), idx, alpha);
        if constexpr (kStream) {
            auto* q = reinterpret_cast<__m128i*>(d);
            _mm_stream_si128(q, _mm512_castsi512_si128(px));
            _mm_stream_si128(q + 1, _mm512_extracti32x4_epi32(px, 1));
            _mm_stream_si128(q + 2, _mm512_extracti32x4_epi32(px, 2));
            _mm_stream_si128(q + 3, _mm512_extracti32x4_epi32(px, 3));
        } else {
            _mm512_storeu_si512(d, px);
        }
    }
}

}  // namespace

void Rgb24ToRgb32Row_AVX512VBMI(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    Rgb24ToRgb32<false>(s, d, w, p);
}
void Rgb24ToRgb32Row_AVX512VBMINT(const std::uint8_t* s, std::uint8_t* d, int w,
                                  const RowParams* p) {
    Rgb24ToRgb32<true>(s, d, w, p);
}

}  // namespace orvex::convert
