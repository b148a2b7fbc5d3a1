// SSSE3 variants of the row primitives (compiled with -mssse3 only).
#include <tmmintrin.h>

#include "convert/row_simd.h"

namespace orvex::convert {
namespace {

struct Ssse3 {
    using V = __m128i;
    static constexpr int kLanes = 1;

    template <int kSpan>
    static V Load(const std::uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    template <int kSpan>
    static void Store(std::uint8_t* p, V v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    }
    // Lane zip of two vectors, to be stored contiguously.
    static void Zip(V a, V b, V& lo, V& hi) {
        lo = a;
        hi = b;
    }
    template <int kLane>
    static __m128i Lane(V v) {
        return v;
    }
    // Qwords 0 2 4 .. then 1 3 5 .. (a single lane: nothing moves).
    static V GatherQwords(V a) { return a; }
    static V Pat(const Pattern16& p) { return _mm_load_si128(reinterpret_cast<const V*>(p.b)); }
    static V Zero() { return _mm_setzero_si128(); }
    static V Set32(std::int32_t a) { return _mm_set1_epi32(a); }
    static V Set16x2(std::int16_t a, std::int16_t b) {
        return _mm_set1_epi32(
            static_cast<std::int32_t>((std::uint32_t(std::uint16_t(b)) << 16) | std::uint16_t(a)));
    }
    static V Set16x4(std::int16_t a, std::int16_t b, std::int16_t c, std::int16_t d) {
        return _mm_setr_epi16(a, b, c, d, a, b, c, d);
    }
    static V Shuffle(V a, V m) { return _mm_shuffle_epi8(a, m); }
    static V Madd(V a, V b) { return _mm_madd_epi16(a, b); }
    static V Hadd32(V a, V b) { return _mm_hadd_epi32(a, b); }
    static V MaddAdd(V acc, V a, V b) { return Add32(acc, Madd(a, b)); }
    static V Add16(V a, V b) { return _mm_add_epi16(a, b); }
    static V Add32(V a, V b) { return _mm_add_epi32(a, b); }
    static V And(V a, V b) { return _mm_and_si128(a, b); }
    static V Or(V a, V b) { return _mm_or_si128(a, b); }
    template <int n>
    static V Srai32(V a) {
        return _mm_srai_epi32(a, n);
    }
    template <int n>
    static V Srli32(V a) {
        return _mm_srli_epi32(a, n);
    }
    template <int n>
    static V Slli32(V a) {
        return _mm_slli_epi32(a, n);
    }
    static V PackS32(V a, V b) { return _mm_packs_epi32(a, b); }
    static V PackU16(V a, V b) { return _mm_packus_epi16(a, b); }
    static V UnpackLo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
    static V UnpackHi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
    static V UnpackLo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    static V UnpackHi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
    template <int n>
    static V AlignR(V hi, V lo) {
        return _mm_alignr_epi8(hi, lo, n);
    }
    template <int n>
    static V BSrl(V a) {
        return _mm_srli_si128(a, n);
    }
    template <int n>
    static V BSll(V a) {
        return _mm_slli_si128(a, n);
    }
};

}  // namespace
}  // namespace orvex::convert

ORVEX_DEFINE_SIMD_ROWS(SSSE3, Ssse3)
