// The one place that picks a row primitive's variant for an instruction-set level, and the
// one place that finishes a row's tail with the portable form.
#include <cpuid.h>

#include <cmath>
#include <iterator>
#include <utility>

#include "convert/row_variants.h"

namespace orvex::convert {
namespace {

std::int16_t Q(double v, int bits) {
    return static_cast<std::int16_t>(std::lround(v * (1 << bits)));
}

// Instruction-set extensions that are not levels of their own: where the processor has
// one, a row with a variant using it runs that variant at the extension's level.
enum class Extension { kNone, kAvxVnni, kAvx512Vnni, kAvx512Vbmi };

bool Has(Extension e) {
    // AVX-VNNI by CPUID leaf 7, sub-leaf 1, EAX bit 4: not every compiler's
    // __builtin_cpu_supports knows its name (the AVX state is checked with the AVX2 level).
    static const bool avx_vnni = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __get_cpuid_count(7, 1, &a, &b, &c, &d) != 0 && (a >> 4 & 1u) != 0;
    }();
    static const bool avx512_vnni = __builtin_cpu_supports("avx512vnni") != 0;
    static const bool avx512_vbmi = __builtin_cpu_supports("avx512vbmi") != 0;
    switch (e) {
        case Extension::kAvxVnni:
            return avx_vnni;
        case Extension::kAvx512Vnni:
            return avx512_vnni;
        case Extension::kAvx512Vbmi:
            return avx512_vbmi;
        default:
            return false;
    }
}

struct Variants {
    RowFn c, ssse3, avx2, avx512;
    RowFn avx2Nt, avx512Nt;  // the same with non-temporal stores
    int lanePixels;          // pixels per 128-bit lane and step of the SIMD forms
    bool avx512Pays;         // memory-bound rows run no faster at 512 bits; AVX2 serves them
    // Variants with an extension at the AVX2 and the AVX-512 level, or null.
    RowFn avx2Ext = nullptr, avx512Ext = nullptr;
    RowFn avx2ExtNt = nullptr, avx512ExtNt = nullptr;
    Extension avx2Needs = Extension::kNone, avx512Needs = Extension::kNone;
};

#define ORVEX_ROW_VARIANTS(name, lane, pays)                                                      \
    {                                                                                             \
        name##_C, name##_SSSE3, name##_AVX2, name##_AVX512, name##_AVX2NT, name##_AVX512NT, lane, \
            pays                                                                                  \
    }
#define ORVEX_ROW_VARIANTS_VNNI(name, lane)                                                       \
    {                                                                                             \
        name##_C, name##_SSSE3, name##_AVX2, name##_AVX512, name##_AVX2NT, name##_AVX512NT, lane, \
            true, name##_AVX2VNNI, name##_AVX512VNNI, name##_AVX2VNNINT, name##_AVX512VNNINT,     \
            Extension::kAvxVnni, Extension::kAvx512Vnni                                           \
    }
// A row with a byte-permute form at the AVX-512 level only.
#define ORVEX_ROW_VARIANTS_VBMI(name, lane, pays)                                                 \
    {                                                                                             \
        name##_C, name##_SSSE3, name##_AVX2, name##_AVX512, name##_AVX2NT, name##_AVX512NT, lane, \
            pays, nullptr, name##_AVX512VBMI, nullptr, name##_AVX512VBMINT, Extension::kNone,     \
            Extension::kAvx512Vbmi                                                                \
    }

// clang-format off
constexpr Variants kVariants[] = {
    ORVEX_ROW_VARIANTS(Swap422Row, 16, false),
    // No streaming twin of the permute form: streamed, it took 1.05-1.2x the time of the
    // AVX2 one at 3840x2160.
    {Rgb32ToRgb24Row_C, Rgb32ToRgb24Row_SSSE3, Rgb32ToRgb24Row_AVX2, Rgb32ToRgb24Row_AVX512,
     Rgb32ToRgb24Row_AVX2NT, Rgb32ToRgb24Row_AVX512NT, 16, false, nullptr,
     Rgb32ToRgb24Row_AVX512VBMI, nullptr, nullptr, Extension::kNone, Extension::kAvx512Vbmi},
    ORVEX_ROW_VARIANTS_VBMI(Rgb24ToRgb32Row, 16, false),
    ORVEX_ROW_VARIANTS(Rgb32ToUyvyRow, 16, true),
    ORVEX_ROW_VARIANTS(Rgb32ToYuy2Row, 16, true),
    ORVEX_ROW_VARIANTS(Rgb24ToUyvyRow, 16, true),
    ORVEX_ROW_VARIANTS(Rgb24ToYuy2Row, 16, true),
    ORVEX_ROW_VARIANTS_VNNI(UyvyToRgb32Row, 8),
    ORVEX_ROW_VARIANTS_VNNI(Yuy2ToRgb32Row, 8),
    ORVEX_ROW_VARIANTS_VNNI(UyvyToRgb24Row, 16),
    ORVEX_ROW_VARIANTS_VNNI(Yuy2ToRgb24Row, 16),
    ORVEX_ROW_VARIANTS_VBMI(UyvyToV210Row, 24, true),
    ORVEX_ROW_VARIANTS_VBMI(Yuy2ToV210Row, 24, true),
    ORVEX_ROW_VARIANTS(V210ToUyvyRow, 24, true),
};
// clang-format on
static_assert(std::size(kVariants) == static_cast<std::size_t>(Row::kCount));

#undef ORVEX_ROW_VARIANTS
#undef ORVEX_ROW_VARIANTS_VNNI
#undef ORVEX_ROW_VARIANTS_VBMI

// The variant with an extension at a level, where there is one and the processor has it.
RowFn ExtendedVariant(const Variants& v, int lanes, bool stream = false) {
    if (lanes == 4 && v.avx512Ext != nullptr && Has(v.avx512Needs))
        return stream ? v.avx512ExtNt : v.avx512Ext;
    if (lanes == 2 && v.avx2Ext != nullptr && Has(v.avx2Needs))
        return stream ? v.avx2ExtNt : v.avx2Ext;
    return nullptr;
}

int LanesOf(int level) {
    return level >= kLevelAvx512 ? 4 : level >= kLevelAvx2 ? 2 : level >= kLevelSsse3 ? 1 : 0;
}

// Only the AVX2 and AVX-512 forms have streaming twins; below them `stream` is ignored.
RowFn OwnVariant(Row row, int lanes, bool stream = false) {
    const Variants& v = kVariants[static_cast<int>(row)];
    if (const RowFn ext = ExtendedVariant(v, lanes, stream)) return ext;
    switch (lanes) {
        case 4:
            return stream ? v.avx512Nt : v.avx512;
        case 2:
            return stream ? v.avx2Nt : v.avx2;
        case 1:
            return v.ssse3;
        default:
            return v.c;
    }
}

// The widest variant at or below the level that exists and pays.
int BestLanes(Row row, int level, bool stream) {
    for (int lanes = LanesOf(level); lanes > 0; lanes /= 2) {
        const Variants& v = kVariants[static_cast<int>(row)];
        // A row the plain 512-bit form does not speed up may still gain from an extension
        // (where it has the form asked for).
        if (lanes == 4 && !v.avx512Pays && ExtendedVariant(v, 4, stream) == nullptr) continue;
        if (OwnVariant(row, lanes) != nullptr) return lanes;
    }
    return 0;
}

// SIMD on the whole blocks, the portable form on what is left.
template <Row kRow, int kLanes, bool kStream>
void RunRow(const std::uint8_t* src, std::uint8_t* dst, int width, const RowParams* p) {
    const Variants& v = kVariants[static_cast<int>(kRow)];
    const int block = v.lanePixels * kLanes;
    const int bulk = width - width % block;
    if (bulk > 0) OwnVariant(kRow, kLanes, kStream)(src, dst, bulk, p);
    if (bulk < width) {
        v.c(src + RowSourceBytes(kRow, bulk), dst + RowDestBytes(kRow, bulk), width - bulk, p);
    }
}

template <Row kRow>
RowFn RunnerFor(int lanes, bool stream) {
    switch (lanes) {
        case 4:
            return stream ? RunRow<kRow, 4, true> : RunRow<kRow, 4, false>;
        case 2:
            return stream ? RunRow<kRow, 2, true> : RunRow<kRow, 2, false>;
        case 1:
            return RunRow<kRow, 1, false>;
        default:
            return kVariants[static_cast<int>(kRow)].c;
    }
}

template <int... kRows>
RowFn RunnerFor(Row row, int lanes, bool stream, std::integer_sequence<int, kRows...>) {
    RowFn fn = nullptr;
    ((static_cast<int>(row) == kRows ? (fn = RunnerFor<static_cast<Row>(kRows)>(lanes, stream))
                                     : fn),
     ...);
    return fn;
}

}  // namespace

RowParams MakeRowParams(YuvMatrix matrix, std::uint8_t alpha) {
    const double kr = matrix == YuvMatrix::kBt709 ? 0.2126 : 0.299;
    const double kb = matrix == YuvMatrix::kBt709 ? 0.0722 : 0.114;
    const double kg = 1.0 - kr - kb;
    const double ys = 219.0 / 255.0, cs = 224.0 / 255.0;
    RowParams p{};
    // Forward rows balanced: the luma row sums to the scale of white, the chroma rows to 0.
    p.yr = Q(kr * ys, 15);
    p.yb = Q(kb * ys, 15);
    p.yg = static_cast<std::int16_t>(Q(ys, 15) - p.yr - p.yb);
    p.ub = Q(cs / 2, 15);
    p.ur = Q(-kr * cs / (2 * (1 - kb)), 15);
    p.ug = static_cast<std::int16_t>(-p.ub - p.ur);
    p.vr = Q(cs / 2, 15);
    p.vb = Q(-kb * cs / (2 * (1 - kr)), 15);
    p.vg = static_cast<std::int16_t>(-p.vr - p.vb);
    p.ky = (16 << 15) + (1 << 14);
    p.kc = (128 << 16) + (1 << 15);
    p.yc = Q(1 / ys, 13);
    p.crv = Q(2 * (1 - kr) / cs, 13);
    p.cbu = Q(2 * (1 - kb) / cs, 13);
    p.cgu = Q(-2 * (1 - kb) * kb / kg / cs, 13);
    p.cgv = Q(-2 * (1 - kr) * kr / kg / cs, 13);
    p.kr = -16 * p.yc - 128 * p.crv + (1 << 12);
    p.kg = -16 * p.yc - 128 * (p.cgu + p.cgv) + (1 << 12);
    p.kb = -16 * p.yc - 128 * p.cbu + (1 << 12);
    p.alpha = alpha;
    return p;
}

std::size_t RowSourceBytes(Row row, int width) {
    const auto w = static_cast<std::size_t>(width < 0 ? 0 : width);
    switch (row) {
        case Row::kRgb32ToRgb24:
        case Row::kRgb32ToUyvy:
        case Row::kRgb32ToYuy2:
            return 4 * w;
        case Row::kRgb24ToRgb32:
        case Row::kRgb24ToUyvy:
        case Row::kRgb24ToYuy2:
            return 3 * w;
        case Row::kV210ToUyvy:
            return (w + 5) / 6 * 16;
        default:
            return 2 * w;
    }
}

std::size_t RowDestBytes(Row row, int width) {
    const auto w = static_cast<std::size_t>(width < 0 ? 0 : width);
    switch (row) {
        case Row::kRgb24ToRgb32:
        case Row::kUyvyToRgb32:
        case Row::kYuy2ToRgb32:
            return 4 * w;
        case Row::kRgb32ToRgb24:
        case Row::kUyvyToRgb24:
        case Row::kYuy2ToRgb24:
            return 3 * w;
        case Row::kUyvyToV210:
        case Row::kYuy2ToV210:
            return (w + 5) / 6 * 16;
        default:
            return 2 * w;
    }
}

RowFn SelectRow(Row row, int level, bool stream) {
    // The RGB to 4:2:2 rows are bound by their shuffles, not by memory: the lane extracts
    // of the streaming stores only add to that (1.10-1.39x the cached time at 3840x2160).
    const bool forward = row == Row::kRgb32ToUyvy || row == Row::kRgb32ToYuy2 ||
                         row == Row::kRgb24ToUyvy || row == Row::kRgb24ToYuy2;
    stream = stream && !forward;
    return RunnerFor(row, BestLanes(row, level, stream), stream,
                     std::make_integer_sequence<int, static_cast<int>(Row::kCount)>());
}

RowFn RowVariant(Row row, int level) {
    switch (level) {
        case kLevelPortable:
            return OwnVariant(row, 0);
        case kLevelSsse3:
            return OwnVariant(row, 1);
        case kLevelAvx2:
            return OwnVariant(row, 2);
        case kLevelAvx512:
            return OwnVariant(row, 4);
        default:
            return nullptr;
    }
}

int RowVariantsOfLevel(Row row, int level, RowFn out[2]) {
    const Variants& v = kVariants[static_cast<int>(row)];
    int n = 0;
    const int lanes = LanesOf(level);
    const RowFn plain = lanes == 4 ? v.avx512 : lanes == 2 ? v.avx2 : lanes == 1 ? v.ssse3 : v.c;
    const RowFn extended = ExtendedVariant(v, lanes);
    if (plain != nullptr) out[n++] = plain;
    if (extended != nullptr) out[n++] = extended;
    return n;
}

int RowStreamingVariantsOfLevel(Row row, int level, RowFn out[2]) {
    const Variants& v = kVariants[static_cast<int>(row)];
    int n = 0;
    const int lanes = LanesOf(level);
    const RowFn plain = lanes == 4 ? v.avx512Nt : lanes == 2 ? v.avx2Nt : nullptr;
    const RowFn extended = ExtendedVariant(v, lanes, true);
    if (plain != nullptr) out[n++] = plain;
    if (extended != nullptr) out[n++] = extended;
    return n;
}

int RowBlockPixels(Row row, int level) {
    return kVariants[static_cast<int>(row)].lanePixels * (LanesOf(level) > 0 ? LanesOf(level) : 1);
}

}  // namespace orvex::convert
