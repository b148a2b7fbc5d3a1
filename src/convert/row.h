// Row primitives of the pixel conversion: one row in, one row out. Every primitive has a
// portable form (row_c.cpp) and, where it pays, variants per instruction-set level
// (row_ssse3.cpp, row_avx2.cpp, row_avx512.cpp, each compiled with its own flags). The
// SIMD variants only take widths that are a multiple of their block; RunRow in
// row_select.cpp runs them on the bulk and finishes the tail with the portable form.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvex::convert {

// Instruction-set levels, lowest first. Variants exist for portable, SSSE3, AVX2 and
// AVX-512 (BW); the other levels fall back to the best lower variant.
enum CpuLevel : int {
    kLevelPortable = 0,
    kLevelSse2 = 1,
    kLevelSsse3 = 2,
    kLevelSse41 = 3,
    kLevelAvx2 = 4,
    kLevelAvx512 = 5,
    kLevelCount = 6,
    // Not a level: an unknown level name, or "the level in force" where a level is optional.
    kLevelNone = -1,
};

enum class YuvMatrix { kBt601, kBt709 };

// Fixed-point constants of the colour conversions, shared by every variant so that all
// of them produce the same bytes. Studio range (Y 16..235, C 16..240).
//
// RGB -> YUV, Q15 coefficients, round half up:
//   Y = (yb*B + yg*G + yr*R + ky) >> 15               ky = 16 << 15 | 1 << 14
//   U = (ub*Bs + ug*Gs + ur*Rs + kc) >> 16            kc = 128 << 16 | 1 << 15
// where Bs, Gs, Rs are the sums over the pixel pair (chroma is the pair's average).
// The coefficient rows are balanced so that grey maps to exactly 128 and white to 235.
//
// YUV -> RGB, Q13 coefficients, round half up, clamped to 0..255:
//   R = (yc*Y + crv*V + kr) >> 13
//   G = (yc*Y + cgu*U + cgv*V + kg) >> 13             (cgu, cgv negative)
//   B = (yc*Y + cbu*U + kb) >> 13
// with the offsets of Y (16) and C (128) folded into kr, kg, kb.
struct RowParams {
    std::int16_t yb, yg, yr;
    std::int16_t ub, ug, ur;
    std::int16_t vb, vg, vr;
    std::int32_t ky, kc;
    std::int16_t yc, crv, cgu, cgv, cbu;
    std::int32_t kr, kg, kb;
    std::uint8_t alpha;
};

RowParams MakeRowParams(YuvMatrix matrix, std::uint8_t alpha = 255);

using RowFn = void (*)(const std::uint8_t* src, std::uint8_t* dst, int width,
                       const RowParams* params);

// The primitives. Widths are in pixels; 4:2:2 and v210 primitives take even widths.
enum class Row : int {
    kSwap422,       // UYVY <-> YUY2 (exchanges the bytes of every 16-bit pair)
    kRgb32ToRgb24,  // drops the fourth byte
    kRgb24ToRgb32,  // fourth byte = alpha
    kRgb32ToUyvy,
    kRgb32ToYuy2,
    kRgb24ToUyvy,
    kRgb24ToYuy2,
    kUyvyToRgb32,  // fourth byte = alpha
    kYuy2ToRgb32,
    kUyvyToRgb24,
    kYuy2ToRgb24,
    kUyvyToV210,  // pack
    kYuy2ToV210,
    kV210ToUyvy,  // unpack
    kCount,
};

// Bytes a primitive reads and writes for `width` pixels.
std::size_t RowSourceBytes(Row row, int width);
std::size_t RowDestBytes(Row row, int width);

// What a choice of variants may use: an instruction-set level and the extensions that are
// not levels of their own (the processor's, or a test's stand-in).
struct RowFeatures {
    int level = kLevelPortable;
    bool avx_vnni = false;     // 256-bit multiply-accumulate
    bool avx512_vnni = false;  // 512-bit multiply-accumulate
    bool avx512_vbmi = false;  // 512-bit byte permutes
};

// The processor's features, with the level capped at `level`.
RowFeatures ProcessorRowFeatures(int level);

// One variant of a primitive that a machine may run, as runners with the tail handled (any
// width): `cached` with ordinary stores, `streamed` with non-temporal ones (this variant's
// own, else those of the fixed rule at the level) under the conditions of SelectRow.
struct RowCandidate {
    RowFn cached = nullptr;
    RowFn streamed = nullptr;
    int level = kLevelPortable;  // kLevelSsse3, kLevelAvx2 or kLevelAvx512
    const char* name = "c";      // "ssse3", "avx2", "avx2vnni", "avx512", "avx512vbmi"...
};
constexpr int kMaxRowCandidates = 6;

// The variants of `row` worth trying on a machine with `f`: the one that SelectRow picks at
// f.level comes first, the others follow from the widest down. Forms known not to pay
// (the plain 512-bit forms of the memory-bound rows) are left out. Returns the count.
int RowCandidates(Row row, const RowFeatures& f, RowCandidate out[kMaxRowCandidates]);

// The variant a level uses, with the tail handled (any width). With `stream` the variant
// writes its destination with non-temporal stores where the level has such a form (AVX2 and
// up) and the row is bound by memory (not the RGB to 4:2:2 rows): the destination must then
// be 16-byte aligned, and the caller fences (_mm_sfence) before anything else reads it.
RowFn SelectRow(Row row, int level, bool stream = false);
// The raw variant of one level that SelectRow runs (with the multiply-accumulate extension
// where the processor has one), or null where that level has no variant of its own; for
// tests that compare variants. Widths must be multiples of RowBlockPixels.
RowFn RowVariant(Row row, int level);
// Every raw variant of one level this processor can run (the plain one, and the one with
// the extension where there is one): up to two, in `out`; returns the count.
int RowVariantsOfLevel(Row row, int level, RowFn out[2]);
// Their streaming twins (AVX2 and up), which need a 16-byte aligned destination.
int RowStreamingVariantsOfLevel(Row row, int level, RowFn out[2]);
int RowBlockPixels(Row row, int level);

}  // namespace orvex::convert
