// Bodies of the SIMD row primitives, written once over a vector type whose operations act
// on each 128-bit lane on its own (the SSSE3, AVX2 and AVX-512BW byte shuffles, packs and
// multiply-adds all do). A wider vector processes several lane blocks side by side: lane L
// of every load and store sits `span` bytes after lane L-1, so each lane works through a
// contiguous run of pixels and no result needs a cross-lane fix-up. The 4:2:2 <-> RGB32
// kernels instead load or store whole vectors and put the lanes in order with one permute
// per vector, which is cheaper than splitting every load and store by lane.
//
// Included only by the instruction-set files, each with its own compile flags and traits.
// Everything here has internal linkage, so the linker can never hand a wide-instruction
// copy of a helper to baseline code.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <utility>

#include "convert/row_variants.h"

namespace orvex::convert {
namespace {

struct Pattern16 {
    alignas(16) std::int8_t b[16];
};

// 4:2:2 byte offsets of Y0, U, Y1, V inside a pair.
constexpr int PairOffset(bool yuy2, int what) {
    constexpr int kUyvy[4] = {1, 0, 3, 2};  // Y0 U Y1 V
    constexpr int kYuy2[4] = {0, 1, 2, 3};
    return yuy2 ? kYuy2[what] : kUyvy[what];
}

// -- lane patterns -------------------------------------------------------------------------

constexpr Pattern16 kSwapPairs = {{1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14}};
// Four BGRA pixels to their first three bytes, packed at the bottom.
constexpr Pattern16 kDropFourth = {{0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1}};
// Four packed BGR pixels to BGR0.
constexpr Pattern16 kAddFourth = {{0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1}};
// The same four pixels four bytes further into the register.
constexpr Pattern16 kAddFourthAt4 = {{4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1}};
// B0..3 G0..3 R0..3 A0..3 back to four BGRA pixels.
constexpr Pattern16 kPlanarToPixels = {{0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15}};
// U0..7 V0..7 to U0 V0 U1 V1 ...
constexpr Pattern16 kInterleaveHalves = {{0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15}};

// Y of pixel 4h+i of an 8-pixel 4:2:2 chunk paired with its pair's U (what = 1) or V
// (what = 3), as two zero-extended 16-bit values.
constexpr Pattern16 MakeLumaChromaPattern(bool yuy2, int half, int what) {
    Pattern16 p{};
    for (int i = 0; i < 4; ++i) {
        const int px = half * 4 + i;
        p.b[4 * i] = static_cast<std::int8_t>(4 * (px / 2) + PairOffset(yuy2, px % 2 ? 2 : 0));
        p.b[4 * i + 2] = static_cast<std::int8_t>(4 * (px / 2) + PairOffset(yuy2, what));
        p.b[4 * i + 1] = p.b[4 * i + 3] = -1;
    }
    return p;
}

// v210 packing of twelve samples (U Y V Y order, read from the source order): word k gets
// samples 3k and 3k+1 as 16-bit values for a multiply-add, sample 3k+2 at bit 16.
constexpr int SampleByte(bool yuy2, int n) {
    return 4 * (n / 4) + PairOffset(yuy2, n % 4 == 0 ? 1 : n % 4 == 1 ? 0 : n % 4 == 2 ? 3 : 2);
}
// `at`: the byte of the lane where the twelve samples start.
constexpr Pattern16 MakePackLowPattern(bool yuy2, int at) {
    Pattern16 p{};
    for (int k = 0; k < 4; ++k) {
        p.b[4 * k] = static_cast<std::int8_t>(at + SampleByte(yuy2, 3 * k));
        p.b[4 * k + 2] = static_cast<std::int8_t>(at + SampleByte(yuy2, 3 * k + 1));
        p.b[4 * k + 1] = p.b[4 * k + 3] = -1;
    }
    return p;
}
constexpr Pattern16 MakePackHighPattern(bool yuy2, int at) {
    Pattern16 p{};
    for (int k = 0; k < 4; ++k) {
        p.b[4 * k] = p.b[4 * k + 1] = p.b[4 * k + 3] = -1;
        p.b[4 * k + 2] = static_cast<std::int8_t>(at + SampleByte(yuy2, 3 * k + 2));
    }
    return p;
}

// The same traits with every store non-temporal, in 128-bit pieces (the destination is
// 16-byte aligned, wider alignment is not assumed). A large picture's destination is not
// read again by the conversion, and streaming it skips the read for ownership that a
// cached store pays on every line: the rows that move about as many bytes as memcpy then
// move fewer. The caller fences once after the last row.
template <class Base>
struct Streaming : Base {
    using V = typename Base::V;
    template <int kSpan>
    static void Store(std::uint8_t* p, V v) {
        StorePieces<kSpan>(p, v, std::make_integer_sequence<int, Base::kLanes>());
    }

private:
    template <int kSpan, int... kLane>
    static void StorePieces(std::uint8_t* p, V v, std::integer_sequence<int, kLane...>) {
        (_mm_stream_si128(reinterpret_cast<__m128i*>(p + kLane * kSpan),
                          Base::template Lane<kLane>(v)),
         ...);
    }
};

// -- shared pieces -------------------------------------------------------------------------

// Four vectors of twelve useful bytes each (at the bottom) into three full vectors.
template <class T>
inline void Join4To3(typename T::V c0, typename T::V c1, typename T::V c2, typename T::V c3,
                     typename T::V& o0, typename T::V& o1, typename T::V& o2) {
    o0 = T::Or(c0, T::template BSll<12>(c1));
    o1 = T::Or(T::template BSrl<4>(c1), T::template BSll<8>(c2));
    o2 = T::Or(T::template BSrl<8>(c2), T::template BSll<4>(c3));
}

// Three full vectors into four of twelve bytes each (at the bottom, top bytes undefined).
template <class T>
inline void Split3To4(typename T::V c0, typename T::V c1, typename T::V c2, typename T::V& q0,
                      typename T::V& q1, typename T::V& q2, typename T::V& q3) {
    q0 = c0;
    q1 = T::template AlignR<12>(c1, c0);
    q2 = T::template AlignR<8>(c2, c1);
    q3 = T::template BSrl<4>(c2);
}

// -- kernels -------------------------------------------------------------------------------

template <class T>
void Swap422Simd(const std::uint8_t* s, std::uint8_t* d, int w) {
    const auto m = T::Pat(kSwapPairs);
    for (int x = 0; x < w; x += 16 * T::kLanes, s += 32 * T::kLanes, d += 32 * T::kLanes) {
        const auto a = T::template Load<16>(s);
        const auto b = T::template Load<16>(s + 16 * T::kLanes);
        T::template Store<16>(d, T::Shuffle(a, m));
        T::template Store<16>(d + 16 * T::kLanes, T::Shuffle(b, m));
    }
}

// 16 pixels per lane.
template <class T>
void Rgb32ToRgb24Simd(const std::uint8_t* s, std::uint8_t* d, int w) {
    const auto m = T::Pat(kDropFourth);
    if constexpr (T::kLanes == 2) {
        // Two lanes: a dword permute per vector joins the 12 bytes of its two lanes and
        // puts the 24 where a blend completes the output vectors, so that every load and
        // store is a whole contiguous vector (the loads and stores split by lane below
        // interleave four cache lines and ran 1.03x the peer's time at 1920x1080).
        const auto p0 = T::SetDwords(0, 1, 2, 4, 5, 6, 0, 0);
        const auto p1 = T::SetDwords(2, 4, 5, 6, 0, 0, 0, 1);
        const auto p2 = T::SetDwords(5, 6, 0, 0, 0, 1, 2, 4);
        const auto p3 = T::SetDwords(0, 0, 0, 1, 2, 4, 5, 6);
        for (int x = 0; x < w; x += 32, s += 128, d += 96) {
            const auto a0 = T::PermuteDwords(T::Shuffle(T::template Load<16>(s), m), p0);
            const auto a1 = T::PermuteDwords(T::Shuffle(T::template Load<16>(s + 32), m), p1);
            const auto a2 = T::PermuteDwords(T::Shuffle(T::template Load<16>(s + 64), m), p2);
            const auto a3 = T::PermuteDwords(T::Shuffle(T::template Load<16>(s + 96), m), p3);
            T::template Store<16>(d, T::template BlendDwords<0xC0>(a0, a1));
            T::template Store<16>(d + 32, T::template BlendDwords<0xF0>(a1, a2));
            T::template Store<16>(d + 64, T::template BlendDwords<0xFC>(a2, a3));
        }
        return;
    }
    for (int x = 0; x < w; x += 16 * T::kLanes, s += 64 * T::kLanes, d += 48 * T::kLanes) {
        typename T::V o0, o1, o2;
        Join4To3<T>(T::Shuffle(T::template Load<64>(s), m),
                    T::Shuffle(T::template Load<64>(s + 16), m),
                    T::Shuffle(T::template Load<64>(s + 32), m),
                    T::Shuffle(T::template Load<64>(s + 48), m), o0, o1, o2);
        T::template Store<48>(d, o0);
        T::template Store<48>(d + 16, o1);
        T::template Store<48>(d + 32, o2);
    }
}

// 16 pixels per lane.
template <class T>
void Rgb24ToRgb32Simd(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    const auto alpha = T::Set32(static_cast<std::int32_t>(std::uint32_t{p->alpha} << 24));
    if constexpr (T::kLanes == 2) {
        // Two lanes: eight pixels a vector, the low lane loaded at their first byte and the
        // high one eight bytes on (so nothing past the 24 bytes is read), so that every
        // store is one whole vector (stores split by lane ran 1.07x the peer's SSSE3 time
        // at 1920x1080).
        const auto m = T::Pat2(kAddFourth, kAddFourthAt4);
        for (int x = 0; x < w; x += 32, s += 96, d += 128) {
            for (int i = 0; i < 4; ++i)
                T::template Store<16>(d + 32 * i,
                                      T::Or(T::Shuffle(T::template Load<8>(s + 24 * i), m), alpha));
        }
        return;
    }
    const auto m = T::Pat(kAddFourth);
    for (int x = 0; x < w; x += 16 * T::kLanes, s += 48 * T::kLanes, d += 64 * T::kLanes) {
        typename T::V q0, q1, q2, q3;
        Split3To4<T>(T::template Load<48>(s), T::template Load<48>(s + 16),
                     T::template Load<48>(s + 32), q0, q1, q2, q3);
        T::template Store<64>(d, T::Or(T::Shuffle(q0, m), alpha));
        T::template Store<64>(d + 16, T::Or(T::Shuffle(q1, m), alpha));
        T::template Store<64>(d + 32, T::Or(T::Shuffle(q2, m), alpha));
        T::template Store<64>(d + 48, T::Or(T::Shuffle(q3, m), alpha));
    }
}

template <class T>
struct ForwardConstants {
    typename T::V zero, cy, cu, cv, ky, kc;
    explicit ForwardConstants(const RowParams* p)
        : zero(T::Zero()),
          cy(T::Set16x4(p->yb, p->yg, p->yr, 0)),
          cu(T::Set16x4(p->ub, p->ug, p->ur, 0)),
          cv(T::Set16x4(p->vb, p->vg, p->vr, 0)),
          ky(T::Set32(p->ky)),
          kc(T::Set32(p->kc)) {}
};

// Four BGRx pixels: luma sums of each pixel, chroma products of the two pairs.
template <class T>
inline void ForwardChunk(const ForwardConstants<T>& k, typename T::V px, typename T::V& y,
                         typename T::V& u, typename T::V& v) {
    const auto lo = T::UnpackLo8(px, k.zero);
    const auto hi = T::UnpackHi8(px, k.zero);
    y = T::Hadd32(T::Madd(lo, k.cy), T::Madd(hi, k.cy));
    const auto sums = T::Add16(T::UnpackLo64(lo, hi), T::UnpackHi64(lo, hi));
    u = T::Madd(sums, k.cu);
    v = T::Madd(sums, k.cv);
}

// 16 pixels per lane, from four chunks of four BGRx pixels, to two chunks of 4:2:2.
template <class T, bool kYuy2>
inline void Forward16(const ForwardConstants<T>& k, const typename T::V* px, typename T::V& o0,
                      typename T::V& o1) {
    typename T::V y[4], u[4], v[4];
    for (int i = 0; i < 4; ++i) ForwardChunk<T>(k, px[i], y[i], u[i], v[i]);
    for (int i = 0; i < 4; ++i) y[i] = T::template Srai32<15>(T::Add32(y[i], k.ky));
    const auto u0 = T::template Srai32<16>(T::Add32(T::Hadd32(u[0], u[1]), k.kc));
    const auto u1 = T::template Srai32<16>(T::Add32(T::Hadd32(u[2], u[3]), k.kc));
    const auto v0 = T::template Srai32<16>(T::Add32(T::Hadd32(v[0], v[1]), k.kc));
    const auto v1 = T::template Srai32<16>(T::Add32(T::Hadd32(v[2], v[3]), k.kc));
    const auto luma = T::PackU16(T::PackS32(y[0], y[1]), T::PackS32(y[2], y[3]));
    const auto chroma =
        T::Shuffle(T::PackU16(T::PackS32(u0, u1), T::PackS32(v0, v1)), T::Pat(kInterleaveHalves));
    if constexpr (kYuy2) {
        o0 = T::UnpackLo8(luma, chroma);
        o1 = T::UnpackHi8(luma, chroma);
    } else {
        o0 = T::UnpackLo8(chroma, luma);
        o1 = T::UnpackHi8(chroma, luma);
    }
}

// Contiguous loads: lane L of chunk i holds pixels 4 (i * lanes + L) to +3, so each output
// 8-byte group of four pixels lands one qword permute away from its place.
template <class T, bool kYuy2>
void Rgb32To422Simd(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    const ForwardConstants<T> k(p);
    constexpr int kVec = 16 * T::kLanes;
    for (int x = 0; x < w; x += kVec, s += 4 * kVec, d += 2 * kVec) {
        const typename T::V px[4] = {T::template Load<16>(s), T::template Load<16>(s + kVec),
                                     T::template Load<16>(s + 2 * kVec),
                                     T::template Load<16>(s + 3 * kVec)};
        typename T::V o0, o1;
        Forward16<T, kYuy2>(k, px, o0, o1);
        T::template Store<16>(d, T::GatherQwords(o0));
        T::template Store<16>(d + kVec, T::GatherQwords(o1));
    }
}

template <class T, bool kYuy2>
void Rgb24To422Simd(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    const ForwardConstants<T> k(p);
    const auto m = T::Pat(kAddFourth);
    for (int x = 0; x < w; x += 16 * T::kLanes, s += 48 * T::kLanes, d += 32 * T::kLanes) {
        typename T::V q[4];
        Split3To4<T>(T::template Load<48>(s), T::template Load<48>(s + 16),
                     T::template Load<48>(s + 32), q[0], q[1], q[2], q[3]);
        for (auto& c : q) c = T::Shuffle(c, m);
        typename T::V o0, o1;
        Forward16<T, kYuy2>(k, q, o0, o1);
        T::template Store<32>(d, o0);
        T::template Store<32>(d + 16, o1);
    }
}

template <class T, bool kYuy2>
struct InverseConstants {
    typename T::V yu[2], yv[2], r, gu, gv, b, kr, kg, kb, alpha, planar;
    explicit InverseConstants(const RowParams* p)
        : yu{T::Pat(MakeLumaChromaPattern(kYuy2, 0, 1)),
             T::Pat(MakeLumaChromaPattern(kYuy2, 1, 1))},
          yv{T::Pat(MakeLumaChromaPattern(kYuy2, 0, 3)),
             T::Pat(MakeLumaChromaPattern(kYuy2, 1, 3))},
          r(T::Set16x2(p->yc, p->crv)),
          gu(T::Set16x2(p->yc, p->cgu)),
          gv(T::Set16x2(0, p->cgv)),
          b(T::Set16x2(p->yc, p->cbu)),
          kr(T::Set32(p->kr)),
          kg(T::Set32(p->kg)),
          kb(T::Set32(p->kb)),
          alpha(T::Set32(p->alpha)),
          planar(T::Pat(kPlanarToPixels)) {}
};

// Four BGRA pixels from half h of an 8-pixel 4:2:2 chunk. Each pixel's Y pairs with its
// U and with its V, so one multiply-add gives a whole R or B sum.
template <class T, bool kYuy2>
inline typename T::V InverseHalf(const InverseConstants<T, kYuy2>& k, typename T::V x, int h) {
    const auto yu = T::Shuffle(x, k.yu[h]);
    const auto yv = T::Shuffle(x, k.yv[h]);
    const auto r = T::template Srai32<13>(T::MaddAdd(k.kr, yv, k.r));
    const auto g = T::template Srai32<13>(T::MaddAdd(T::MaddAdd(k.kg, yu, k.gu), yv, k.gv));
    const auto b = T::template Srai32<13>(T::MaddAdd(k.kb, yu, k.b));
    const auto planar = T::PackU16(T::PackS32(b, g), T::PackS32(r, k.alpha));
    return T::Shuffle(planar, k.planar);
}

// RGB32: 8 pixels per lane from contiguous loads; the two halves of each lane go out
// through a lane zip, so no load or store is split by lane.
template <class T, bool kYuy2>
void YuvToRgb32Simd(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    InverseConstants<T, kYuy2> k(p);
    if constexpr (T::kLanes == 2) {
        // Two lanes: eight pixels are loaded into both lanes at once (a broadcast is a plain
        // load, no shuffle), the low lane converts the first four and the high lane the last
        // four, so the result is the eight pixels in order and goes out as one whole vector.
        // This row is bound by the shuffle port; the lane zip below costs two cross-lane
        // permutes per 16 pixels there, and ran 1.03-1.06x the peer's time at 1920x1080.
        k.yu[0] = T::Pat2(MakeLumaChromaPattern(kYuy2, 0, 1), MakeLumaChromaPattern(kYuy2, 1, 1));
        k.yv[0] = T::Pat2(MakeLumaChromaPattern(kYuy2, 0, 3), MakeLumaChromaPattern(kYuy2, 1, 3));
        for (int x = 0; x < w; x += 16, s += 32, d += 64) {
            T::template Store<16>(d, InverseHalf<T, kYuy2>(k, T::LoadBoth(s), 0));
            T::template Store<16>(d + 32, InverseHalf<T, kYuy2>(k, T::LoadBoth(s + 16), 0));
        }
        return;
    }
    for (int x = 0; x < w; x += 8 * T::kLanes, s += 16 * T::kLanes, d += 32 * T::kLanes) {
        const auto a = T::template Load<16>(s);
        typename T::V lo, hi;
        T::Zip(InverseHalf<T, kYuy2>(k, a, 0), InverseHalf<T, kYuy2>(k, a, 1), lo, hi);
        T::template Store<16>(d, lo);
        T::template Store<16>(d + 16 * T::kLanes, hi);
    }
}

// RGB24: 16 pixels per lane.
template <class T, bool kYuy2>
void YuvToRgb24Simd(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    const InverseConstants<T, kYuy2> k(p);
    const auto drop = T::Pat(kDropFourth);
    for (int x = 0; x < w; x += 16 * T::kLanes, s += 32 * T::kLanes, d += 48 * T::kLanes) {
        const auto a = T::template Load<32>(s);
        const auto b = T::template Load<32>(s + 16);
        typename T::V o0, o1, o2;
        Join4To3<T>(T::Shuffle(InverseHalf<T, kYuy2>(k, a, 0), drop),
                    T::Shuffle(InverseHalf<T, kYuy2>(k, a, 1), drop),
                    T::Shuffle(InverseHalf<T, kYuy2>(k, b, 0), drop),
                    T::Shuffle(InverseHalf<T, kYuy2>(k, b, 1), drop), o0, o1, o2);
        T::template Store<48>(d, o0);
        T::template Store<48>(d + 16, o1);
        T::template Store<48>(d + 32, o2);
    }
}

// 24 pixels (four v210 groups) per lane. Vector i takes groups i * lanes to i * lanes +
// lanes - 1, one a lane, each lane loaded on its own from its 12 source bytes, and is
// stored whole: the output is contiguous, where storing by lane interleaves cache lines.
// The last lane of a step would load four bytes past it, so the last vector loads its
// groups four bytes early and shuffles with patterns moved by four.
template <class T, bool kYuy2>
void PackV210Simd(const std::uint8_t* s, std::uint8_t* d, int w) {
    const auto lowPat = T::Pat(MakePackLowPattern(kYuy2, 0));
    const auto highPat = T::Pat(MakePackHighPattern(kYuy2, 0));
    const auto lowPatLast = T::Pat(MakePackLowPattern(kYuy2, 4));
    const auto highPatLast = T::Pat(MakePackHighPattern(kYuy2, 4));
    const auto scale = T::Set16x2(4, 4096);  // samples 3k and 3k+1 to bits 2 and 12
    const auto pack = [&scale](typename T::V g, typename T::V lowP, typename T::V highP) {
        const auto low = T::Madd(T::Shuffle(g, lowP), scale);
        return T::Or(low, T::template Slli32<6>(T::Shuffle(g, highP)));
    };
    constexpr int kIn = 12 * T::kLanes, kOut = 16 * T::kLanes;
    for (int x = 0; x < w; x += 24 * T::kLanes, s += 4 * kIn, d += 4 * kOut) {
        for (int i = 0; i < 3; ++i) {
            T::template Store<16>(d + kOut * i,
                                  pack(T::template Load<12>(s + kIn * i), lowPat, highPat));
        }
        T::template Store<16>(d + kOut * 3,
                              pack(T::template Load<12>(s + kIn * 3 - 4), lowPatLast, highPatLast));
    }
}

// 24 pixels (four v210 groups) per lane.
template <class T>
void UnpackV210Simd(const std::uint8_t* s, std::uint8_t* d, int w) {
    const auto m0 = T::Set32(0xFF), m1 = T::Set32(0xFF00), m2 = T::Set32(0xFF0000);
    const auto drop = T::Pat(kDropFourth);
    for (int x = 0; x < w; x += 24 * T::kLanes, s += 64 * T::kLanes, d += 48 * T::kLanes) {
        typename T::V c[4];
        for (int i = 0; i < 4; ++i) {
            const auto v = T::template Load<64>(s + 16 * i);
            // The top eight bits of the samples at bits 0, 10 and 20 land in bytes 0, 1, 2.
            const auto b = T::Or(
                T::Or(T::And(T::template Srli32<2>(v), m0), T::And(T::template Srli32<4>(v), m1)),
                T::And(T::template Srli32<6>(v), m2));
            c[i] = T::Shuffle(b, drop);
        }
        typename T::V o0, o1, o2;
        Join4To3<T>(c[0], c[1], c[2], c[3], o0, o1, o2);
        T::template Store<48>(d, o0);
        T::template Store<48>(d + 16, o1);
        T::template Store<48>(d + 32, o2);
    }
}

}  // namespace
}  // namespace orvex::convert

// The 4:2:2 to RGB rows of one instruction-set file over its traits; also defined on their
// own by the files of the multiply-accumulate extensions.
#define ORVEX_DEFINE_INVERSE_ROWS(suffix, Traits)                               \
    void UyvyToRgb32Row_##suffix(const std::uint8_t* s, std::uint8_t* d, int w, \
                                 const RowParams* p) {                          \
        YuvToRgb32Simd<Traits, false>(s, d, w, p);                              \
    }                                                                           \
    void Yuy2ToRgb32Row_##suffix(const std::uint8_t* s, std::uint8_t* d, int w, \
                                 const RowParams* p) {                          \
        YuvToRgb32Simd<Traits, true>(s, d, w, p);                               \
    }                                                                           \
    void UyvyToRgb24Row_##suffix(const std::uint8_t* s, std::uint8_t* d, int w, \
                                 const RowParams* p) {                          \
        YuvToRgb24Simd<Traits, false>(s, d, w, p);                              \
    }                                                                           \
    void Yuy2ToRgb24Row_##suffix(const std::uint8_t* s, std::uint8_t* d, int w, \
                                 const RowParams* p) {                          \
        YuvToRgb24Simd<Traits, true>(s, d, w, p);                               \
    }

// Defines the exported variants of one instruction-set file over its traits.
#define ORVEX_DEFINE_SIMD_ROWS(suffix, Traits)                                                     \
    namespace orvex::convert {                                                                     \
    void Swap422Row_##suffix(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams*) {    \
        Swap422Simd<Traits>(s, d, w);                                                              \
    }                                                                                              \
    void Rgb32ToRgb24Row_##suffix(const std::uint8_t* s, std::uint8_t* d, int w,                   \
                                  const RowParams*) {                                              \
        Rgb32ToRgb24Simd<Traits>(s, d, w);                                                         \
    }                                                                                              \
    void Rgb24ToRgb32Row_##suffix(const std::uint8_t* s, std::uint8_t* d, int w,                   \
                                  const RowParams* p) {                                            \
        Rgb24ToRgb32Simd<Traits>(s, d, w, p);                                                      \
    }                                                                                              \
    void Rgb32ToUyvyRow_##suffix(const std::uint8_t* s, std::uint8_t* d, int w,                    \
                                 const RowParams* p) {                                             \
        Rgb32To422Simd<Traits, false>(s, d, w, p);                                                 \
    }                                                                                              \
    void Rgb32ToYuy2Row_##suffix(const std::uint8_t* s, std::uint8_t* d, int w,                    \
                                 const RowParams* p) {                                             \
        Rgb32To422Simd<Traits, true>(s, d, w, p);                                                  \
    }                                                                                              \
    void Rgb24ToUyvyRow_##suffix(const std::uint8_t* s, std::uint8_t* d, int w,                    \
                                 const RowParams* p) {                                             \
        Rgb24To422Simd<Traits, false>(s, d, w, p);                                                 \
    }                                                                                              \
    void Rgb24ToYuy2Row_##suffix(const std::uint8_t* s, std::uint8_t* d, int w,                    \
                                 const RowParams* p) {                                             \
        Rgb24To422Simd<Traits, true>(s, d, w, p);                                                  \
    }                                                                                              \
    ORVEX_DEFINE_INVERSE_ROWS(suffix, Traits)                                                      \
    void UyvyToV210Row_##suffix(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams*) { \
        PackV210Simd<Traits, false>(s, d, w);                                                      \
    }                                                                                              \
    void Yuy2ToV210Row_##suffix(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams*) { \
        PackV210Simd<Traits, true>(s, d, w);                                                       \
    }                                                                                              \
    void V210ToUyvyRow_##suffix(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams*) { \
        UnpackV210Simd<Traits>(s, d, w);                                                           \
    }                                                                                              \
    }  // namespace orvex::convert
