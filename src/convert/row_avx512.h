// The AVX-512 (F + BW) vector traits of the row primitives, for the files compiled with those
// instruction sets only (row_avx512.cpp and its multiply-accumulate extension).
#pragma once

#include <immintrin.h>

#include "convert/row_simd.h"

namespace orvex::convert {
namespace {

struct Avx512 {
    using V = __m512i;
    static constexpr int kLanes = 4;

    template <int kSpan>
    static V Load(const std::uint8_t* p) {
        if constexpr (kSpan == 16) {
            return _mm512_loadu_si512(p);
        } else {
            const auto lane = [p](int i) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i * kSpan));
            };
            const __m256i lo = _mm256_inserti128_si256(_mm256_castsi128_si256(lane(0)), lane(1), 1);
            const __m256i hi = _mm256_inserti128_si256(_mm256_castsi128_si256(lane(2)), lane(3), 1);
            return _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1);
        }
    }
    template <int kSpan>
    static void Store(std::uint8_t* p, V v) {
        if constexpr (kSpan == 16) {
            _mm512_storeu_si512(p, v);
        } else {
            const __m256i lo = _mm512_castsi512_si256(v);
            const __m256i hi = _mm512_extracti64x4_epi64(v, 1);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(lo));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + kSpan),
                             _mm256_extracti128_si256(lo, 1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 2 * kSpan), _mm256_castsi256_si128(hi));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 3 * kSpan),
                             _mm256_extracti128_si256(hi, 1));
        }
    }
    // Lanes a0 b0 a1 b1 a2 b2 a3 b3, to be stored contiguously.
    static void Zip(V a, V b, V& lo, V& hi) {
        lo = _mm512_permutex2var_epi64(a, _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11), b);
        hi = _mm512_permutex2var_epi64(a, _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15), b);
    }
    template <int kLane>
    static __m128i Lane(V v) {
        if constexpr (kLane == 0) {
            return _mm512_castsi512_si128(v);
        } else {
            return _mm512_extracti32x4_epi32(v, kLane);
        }
    }
    // Qwords 0 2 4 6 1 3 5 7.
    static V GatherQwords(V a) {
        return _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), a);
    }
    static V Pat(const Pattern16& p) {
        return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(p.b)));
    }
    static V Zero() { return _mm512_setzero_si512(); }
    static V Set32(std::int32_t a) { return _mm512_set1_epi32(a); }
    static V Set16x2(std::int16_t a, std::int16_t b) {
        return _mm512_set1_epi32(
            static_cast<std::int32_t>((std::uint32_t(std::uint16_t(b)) << 16) | std::uint16_t(a)));
    }
    static V Set16x4(std::int16_t a, std::int16_t b, std::int16_t c, std::int16_t d) {
        const std::uint64_t q =
            std::uint64_t(std::uint16_t(a)) | (std::uint64_t(std::uint16_t(b)) << 16) |
            (std::uint64_t(std::uint16_t(c)) << 32) | (std::uint64_t(std::uint16_t(d)) << 48);
        return _mm512_set1_epi64(static_cast<long long>(q));
    }
    static V Shuffle(V a, V m) { return _mm512_shuffle_epi8(a, m); }
    static V Madd(V a, V b) { return _mm512_madd_epi16(a, b); }
    // No horizontal add at this width: gather the even and the odd dwords of each lane
    // pair (the same two shuffles and an add that the 128-bit instruction costs).
    static V Hadd32(V a, V b) {
        const V even = _mm512_setr_epi32(0, 2, 16, 18, 4, 6, 20, 22, 8, 10, 24, 26, 12, 14, 28, 30);
        const V odd = _mm512_setr_epi32(1, 3, 17, 19, 5, 7, 21, 23, 9, 11, 25, 27, 13, 15, 29, 31);
        return _mm512_add_epi32(_mm512_permutex2var_epi32(a, even, b),
                                _mm512_permutex2var_epi32(a, odd, b));
    }
    static V MaddAdd(V acc, V a, V b) { return Add32(acc, Madd(a, b)); }
    static V Add16(V a, V b) { return _mm512_add_epi16(a, b); }
    static V Add32(V a, V b) { return _mm512_add_epi32(a, b); }
    static V And(V a, V b) { return _mm512_and_si512(a, b); }
    static V Or(V a, V b) { return _mm512_or_si512(a, b); }
    template <int n>
    static V Srai32(V a) {
        return _mm512_srai_epi32(a, n);
    }
    template <int n>
    static V Srli32(V a) {
        return _mm512_srli_epi32(a, n);
    }
    template <int n>
    static V Slli32(V a) {
        return _mm512_slli_epi32(a, n);
    }
    static V PackS32(V a, V b) { return _mm512_packs_epi32(a, b); }
    static V PackU16(V a, V b) { return _mm512_packus_epi16(a, b); }
    static V UnpackLo8(V a, V b) { return _mm512_unpacklo_epi8(a, b); }
    static V UnpackHi8(V a, V b) { return _mm512_unpackhi_epi8(a, b); }
    static V UnpackLo64(V a, V b) { return _mm512_unpacklo_epi64(a, b); }
    static V UnpackHi64(V a, V b) { return _mm512_unpackhi_epi64(a, b); }
    template <int n>
    static V AlignR(V hi, V lo) {
        return _mm512_alignr_epi8(hi, lo, n);
    }
    template <int n>
    static V BSrl(V a) {
        return _mm512_bsrli_epi128(a, n);
    }
    template <int n>
    static V BSll(V a) {
        return _mm512_bslli_epi128(a, n);
    }
};

}  // namespace
}  // namespace orvex::convert
