// Portable row primitives: the reference every SIMD variant must match byte for byte.
#include <cstring>

#include "convert/row_variants.h"

namespace orvex::convert {
namespace {

inline std::uint8_t Clamp255(int v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Byte offsets of Y0, U, Y1, V inside a 4:2:2 pixel pair.
template <bool kYuy2>
struct PairOrder {
    static constexpr int y0 = kYuy2 ? 0 : 1;
    static constexpr int u = kYuy2 ? 1 : 0;
    static constexpr int y1 = kYuy2 ? 2 : 3;
    static constexpr int v = kYuy2 ? 3 : 2;
};

template <int kBpp, bool kYuy2>
void RgbTo422(const std::uint8_t* src, std::uint8_t* dst, int width, const RowParams* p) {
    using O = PairOrder<kYuy2>;
    for (int x = 0; x + 1 < width; x += 2, src += 2 * kBpp, dst += 4) {
        const int b0 = src[0], g0 = src[1], r0 = src[2];
        const int b1 = src[kBpp], g1 = src[kBpp + 1], r1 = src[kBpp + 2];
        const int bs = b0 + b1, gs = g0 + g1, rs = r0 + r1;
        dst[O::y0] = Clamp255((p->yb * b0 + p->yg * g0 + p->yr * r0 + p->ky) >> 15);
        dst[O::y1] = Clamp255((p->yb * b1 + p->yg * g1 + p->yr * r1 + p->ky) >> 15);
        dst[O::u] = Clamp255((p->ub * bs + p->ug * gs + p->ur * rs + p->kc) >> 16);
        dst[O::v] = Clamp255((p->vb * bs + p->vg * gs + p->vr * rs + p->kc) >> 16);
    }
}

template <bool kYuy2, int kBpp>
void YuvToRgb(const std::uint8_t* src, std::uint8_t* dst, int width, const RowParams* p) {
    using O = PairOrder<kYuy2>;
    for (int x = 0; x + 1 < width; x += 2, src += 4, dst += 2 * kBpp) {
        const int u = src[O::u], v = src[O::v];
        const int cr = p->crv * v + p->kr;
        const int cg = p->cgu * u + p->cgv * v + p->kg;
        const int cb = p->cbu * u + p->kb;
        for (int i = 0; i < 2; ++i) {
            const int y = p->yc * src[i == 0 ? O::y0 : O::y1];
            std::uint8_t* d = dst + i * kBpp;
            d[0] = Clamp255((y + cb) >> 13);
            d[1] = Clamp255((y + cg) >> 13);
            d[2] = Clamp255((y + cr) >> 13);
            if constexpr (kBpp == 4) d[3] = p->alpha;
        }
    }
}

inline void PutWord(std::uint8_t* d, std::uint32_t w) {
    d[0] = static_cast<std::uint8_t>(w);
    d[1] = static_cast<std::uint8_t>(w >> 8);
    d[2] = static_cast<std::uint8_t>(w >> 16);
    d[3] = static_cast<std::uint8_t>(w >> 24);
}

inline std::uint32_t GetWord(const std::uint8_t* s) {
    return s[0] | (s[1] << 8) | (s[2] << 16) | (static_cast<std::uint32_t>(s[3]) << 24);
}

// Twelve 8-bit samples in U Y V Y order become one 16-byte v210 group.
inline void PackGroup(const std::uint8_t* c, std::uint8_t* d) {
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t w = (std::uint32_t{c[3 * k]} << 2) |
                                (std::uint32_t{c[3 * k + 1]} << 12) |
                                (std::uint32_t{c[3 * k + 2]} << 22);
        PutWord(d + 4 * k, w);
    }
}

template <bool kYuy2>
void PackV210(const std::uint8_t* src, std::uint8_t* dst, int width) {
    using O = PairOrder<kYuy2>;
    const int pairs = width / 2;
    std::uint8_t c[12];
    for (int g = 0; g * 3 < pairs; ++g, dst += 16) {
        // A partial last group repeats its last pair instead of reading past the row: the
        // padding pixels are never shown, and stay legal sample values.
        for (int i = 0; i < 3; ++i) {
            const int pair = g * 3 + i < pairs ? g * 3 + i : pairs - 1;
            const std::uint8_t* s = src + 4 * pair;
            c[i * 4 + 0] = s[O::u];
            c[i * 4 + 1] = s[O::y0];
            c[i * 4 + 2] = s[O::v];
            c[i * 4 + 3] = s[O::y1];
        }
        PackGroup(c, dst);
    }
}

}  // namespace

void Swap422Row_C(const std::uint8_t* src, std::uint8_t* dst, int width, const RowParams*) {
    for (int x = 0; x + 1 < width; x += 2, src += 4, dst += 4) {
        const std::uint8_t a = src[0], b = src[1], c = src[2], d = src[3];
        dst[0] = b;
        dst[1] = a;
        dst[2] = d;
        dst[3] = c;
    }
}

void Rgb32ToRgb24Row_C(const std::uint8_t* src, std::uint8_t* dst, int width, const RowParams*) {
    for (int x = 0; x < width; ++x, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
    }
}

void Rgb24ToRgb32Row_C(const std::uint8_t* src, std::uint8_t* dst, int width, const RowParams* p) {
    for (int x = 0; x < width; ++x, src += 3, dst += 4) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
        dst[3] = p->alpha;
    }
}

void Rgb32ToUyvyRow_C(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    RgbTo422<4, false>(s, d, w, p);
}
void Rgb32ToYuy2Row_C(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    RgbTo422<4, true>(s, d, w, p);
}
void Rgb24ToUyvyRow_C(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    RgbTo422<3, false>(s, d, w, p);
}
void Rgb24ToYuy2Row_C(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    RgbTo422<3, true>(s, d, w, p);
}
void UyvyToRgb32Row_C(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    YuvToRgb<false, 4>(s, d, w, p);
}
void Yuy2ToRgb32Row_C(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    YuvToRgb<true, 4>(s, d, w, p);
}
void UyvyToRgb24Row_C(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    YuvToRgb<false, 3>(s, d, w, p);
}
void Yuy2ToRgb24Row_C(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams* p) {
    YuvToRgb<true, 3>(s, d, w, p);
}
void UyvyToV210Row_C(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams*) {
    PackV210<false>(s, d, w);
}
void Yuy2ToV210Row_C(const std::uint8_t* s, std::uint8_t* d, int w, const RowParams*) {
    PackV210<true>(s, d, w);
}

void V210ToUyvyRow_C(const std::uint8_t* src, std::uint8_t* dst, int width, const RowParams*) {
    std::uint8_t c[12];
    for (int x = 0; x + 1 < width; x += 6, src += 16) {
        for (int k = 0; k < 4; ++k) {
            const std::uint32_t w = GetWord(src + 4 * k);
            c[3 * k] = static_cast<std::uint8_t>(w >> 2);
            c[3 * k + 1] = static_cast<std::uint8_t>(w >> 12);
            c[3 * k + 2] = static_cast<std::uint8_t>(w >> 22);
        }
        // Whole pairs only: a partial group gives 8 or 4 bytes.
        const int left = width - x < 6 ? (width - x) / 2 * 4 : 12;
        std::memcpy(dst, c, static_cast<std::size_t>(left));
        dst += left;
    }
}

}  // namespace orvex::convert
