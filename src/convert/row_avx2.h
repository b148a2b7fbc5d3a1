// The AVX2 vector traits of the row primitives, for the files compiled with those
// instruction sets only (row_avx2.cpp and its multiply-accumulate extension).
#pragma once

#include <immintrin.h>

#include "convert/row_simd.h"

namespace orvex::convert {
namespace {

struct Avx2 {
    using V = __m256i;
    static constexpr int kLanes = 2;

    template <int kSpan>
    static V Load(const std::uint8_t* p) {
        if constexpr (kSpan == 16) {
            return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
        } else {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + kSpan));
            return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
        }
    }
    // The 16 bytes at p in both lanes.
    static V LoadBoth(const std::uint8_t* p) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    template <int kSpan>
    static void Store(std::uint8_t* p, V v) {
        if constexpr (kSpan == 16) {
            _mm256_storeu_si256(reinterpret_cast<V*>(p), v);
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(v));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + kSpan), _mm256_extracti128_si256(v, 1));
        }
    }
    // Lanes a0 b0 a1 b1, to be stored contiguously.
    static void Zip(V a, V b, V& lo, V& hi) {
        lo = _mm256_permute2x128_si256(a, b, 0x20);
        hi = _mm256_permute2x128_si256(a, b, 0x31);
    }
    template <int kLane>
    static __m128i Lane(V v) {
        if constexpr (kLane == 0) {
            return _mm256_castsi256_si128(v);
        } else {
            return _mm256_extracti128_si256(v, kLane);
        }
    }
    static V SetDwords(int a, int b, int c, int d, int e, int f, int g, int h) {
        return _mm256_setr_epi32(a, b, c, d, e, f, g, h);
    }
    static V PermuteDwords(V a, V idx) { return _mm256_permutevar8x32_epi32(a, idx); }
    // Dwords of b where the mask has a bit, of a elsewhere.
    template <int kMask>
    static V BlendDwords(V a, V b) {
        return _mm256_blend_epi32(a, b, kMask);
    }
    // Qwords 0 2 1 3.
    static V GatherQwords(V a) { return _mm256_permute4x64_epi64(a, 0xD8); }
    static V Pat(const Pattern16& p) {
        return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(p.b)));
    }
    // A pattern per lane: `lo` for the low lane, `hi` for the high one.
    static V Pat2(const Pattern16& lo, const Pattern16& hi) {
        return _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(lo.b))),
            _mm_load_si128(reinterpret_cast<const __m128i*>(hi.b)), 1);
    }
    static V Zero() { return _mm256_setzero_si256(); }
    static V Set32(std::int32_t a) { return _mm256_set1_epi32(a); }
    static V Set16x2(std::int16_t a, std::int16_t b) {
        return _mm256_set1_epi32(
            static_cast<std::int32_t>((std::uint32_t(std::uint16_t(b)) << 16) | std::uint16_t(a)));
    }
    static V Set16x4(std::int16_t a, std::int16_t b, std::int16_t c, std::int16_t d) {
        return _mm256_setr_epi16(a, b, c, d, a, b, c, d, a, b, c, d, a, b, c, d);
    }
    static V Shuffle(V a, V m) { return _mm256_shuffle_epi8(a, m); }
    static V Madd(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V Hadd32(V a, V b) { return _mm256_hadd_epi32(a, b); }
    static V MaddAdd(V acc, V a, V b) { return Add32(acc, Madd(a, b)); }
    static V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
    static V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
    static V And(V a, V b) { return _mm256_and_si256(a, b); }
    static V Or(V a, V b) { return _mm256_or_si256(a, b); }
    template <int n>
    static V Srai32(V a) {
        return _mm256_srai_epi32(a, n);
    }
    template <int n>
    static V Srli32(V a) {
        return _mm256_srli_epi32(a, n);
    }
    template <int n>
    static V Slli32(V a) {
        return _mm256_slli_epi32(a, n);
    }
    static V PackS32(V a, V b) { return _mm256_packs_epi32(a, b); }
    static V PackU16(V a, V b) { return _mm256_packus_epi16(a, b); }
    static V UnpackLo8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
    static V UnpackHi8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
    static V UnpackLo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    static V UnpackHi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
    template <int n>
    static V AlignR(V hi, V lo) {
        return _mm256_alignr_epi8(hi, lo, n);
    }
    template <int n>
    static V BSrl(V a) {
        return _mm256_bsrli_epi128(a, n);
    }
    template <int n>
    static V BSll(V a) {
        return _mm256_bslli_epi128(a, n);
    }
};

}  // namespace
}  // namespace orvex::convert
