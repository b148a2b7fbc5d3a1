// The one place that knows each row primitive's variants: the fixed rule that picks one for
// an instruction-set level, the candidates a machine chooses among (row_choice.cpp times
// them), and the runners that finish a row's tail with the portable form.
#include <cpuid.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

#include "convert/cpu_level.h"
#include "convert/row_variants.h"

namespace orvex::convert {
namespace {

std::int16_t Q(double v, int bits) {
    return static_cast<std::int16_t>(std::lround(v * (1 << bits)));
}

// Instruction-set extensions that are not levels of their own: where the machine has one, a
// row with a variant using it may run that variant at the extension's level.
enum class Extension { kNone, kAvxVnni, kAvx512Vnni, kAvx512Vbmi };

bool Has(const RowFeatures& f, Extension e) {
    switch (e) {
        case Extension::kAvxVnni:
            return f.avx_vnni && f.level >= kLevelAvx2;
        case Extension::kAvx512Vnni:
            return f.avx512_vnni && f.level >= kLevelAvx512;
        case Extension::kAvx512Vbmi:
            return f.avx512_vbmi && f.level >= kLevelAvx512;
        default:
            return false;
    }
}

const char* ExtensionName(Extension e) {
    switch (e) {
        case Extension::kAvxVnni:
            return "avx2vnni";
        case Extension::kAvx512Vnni:
            return "avx512vnni";
        case Extension::kAvx512Vbmi:
            return "avx512vbmi";
        default:
            return "";
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

int LanesOf(int level) {
    return level >= kLevelAvx512 ? 4 : level >= kLevelAvx2 ? 2 : level >= kLevelSsse3 ? 1 : 0;
}

int LevelOf(int lanes) {
    return lanes == 4 ? kLevelAvx512 : lanes == 2 ? kLevelAvx2 : lanes == 1 ? kLevelSsse3 : 0;
}

// The raw variant of a width, plain or with the extension, or null where there is none.
// Only the AVX2 and AVX-512 forms have streaming twins; below them `stream` is ignored.
constexpr RowFn Raw(const Variants& v, int lanes, bool ext, bool stream) {
    switch (lanes) {
        case 4:
            return ext ? (stream ? v.avx512ExtNt : v.avx512Ext) : (stream ? v.avx512Nt : v.avx512);
        case 2:
            return ext ? (stream ? v.avx2ExtNt : v.avx2Ext) : (stream ? v.avx2Nt : v.avx2);
        case 1:
            return ext ? nullptr : v.ssse3;
        default:
            return ext ? nullptr : v.c;
    }
}

// The variant with the extension at a width, where there is one (in the form asked for)
// and the machine has its extension.
bool HasExtended(const Variants& v, int lanes, const RowFeatures& f, bool stream) {
    const Extension needs = lanes == 4 ? v.avx512Needs : v.avx2Needs;
    return Raw(v, lanes, true, stream) != nullptr && Has(f, needs);
}

// A variant by width and extension.
struct Pick {
    int lanes = 0;
    bool ext = false;
};

// The fixed rule of a level: the widest variant at or below it that exists and pays, with
// the extension where the machine has it. A row the plain 512-bit form does not speed up
// may still gain from an extension (where that has the form asked for).
Pick FixedPick(Row row, const RowFeatures& f, bool stream) {
    const Variants& v = kVariants[static_cast<int>(row)];
    for (int lanes = LanesOf(f.level); lanes > 0; lanes /= 2) {
        if (HasExtended(v, lanes, f, stream)) return {lanes, true};
        if (lanes == 4 && !v.avx512Pays) continue;
        if (Raw(v, lanes, false, stream) != nullptr) return {lanes, false};
    }
    return {};
}

// The RGB to 4:2:2 rows are bound by their shuffles, not by memory: the lane extracts of the
// streaming stores only add to that (1.10-1.39x the cached time at 3840x2160).
bool StreamPays(Row row) {
    return row != Row::kRgb32ToUyvy && row != Row::kRgb32ToYuy2 && row != Row::kRgb24ToUyvy &&
           row != Row::kRgb24ToYuy2;
}

// SIMD on the whole blocks, the portable form on what is left.
template <Row kRow, int kLanes, bool kExt, bool kStream>
void RunRow(const std::uint8_t* src, std::uint8_t* dst, int width, const RowParams* p) {
    constexpr const Variants& v = kVariants[static_cast<int>(kRow)];
    constexpr int block = v.lanePixels * kLanes;
    const int bulk = width - width % block;
    if (bulk > 0) Raw(v, kLanes, kExt, kStream)(src, dst, bulk, p);
    if (bulk < width) {
        v.c(src + RowSourceBytes(kRow, bulk), dst + RowDestBytes(kRow, bulk), width - bulk, p);
    }
}

template <Row kRow, int kLanes, bool kExt>
RowFn RunnerOfWidth(bool stream) {
    return stream ? RunRow<kRow, kLanes, kExt, true> : RunRow<kRow, kLanes, kExt, false>;
}

template <Row kRow>
RowFn RunnerFor(Pick pick, bool stream) {
    switch (pick.lanes) {
        case 4:
            return pick.ext ? RunnerOfWidth<kRow, 4, true>(stream)
                            : RunnerOfWidth<kRow, 4, false>(stream);
        case 2:
            return pick.ext ? RunnerOfWidth<kRow, 2, true>(stream)
                            : RunnerOfWidth<kRow, 2, false>(stream);
        case 1:
            return RunRow<kRow, 1, false, false>;
        default:
            return kVariants[static_cast<int>(kRow)].c;
    }
}

template <int... kRows>
RowFn RunnerFor(Row row, Pick pick, bool stream, std::integer_sequence<int, kRows...>) {
    RowFn fn = nullptr;
    ((static_cast<int>(row) == kRows ? (fn = RunnerFor<static_cast<Row>(kRows)>(pick, stream))
                                     : fn),
     ...);
    return fn;
}

RowFn Runner(Row row, Pick pick, bool stream) {
    return RunnerFor(row, pick, stream,
                     std::make_integer_sequence<int, static_cast<int>(Row::kCount)>());
}

// The extensions of this processor, by CPUID. AVX-VNNI is leaf 7, sub-leaf 1, EAX bit 4:
// not every compiler's __builtin_cpu_supports knows its name (the AVX state is checked with
// the AVX2 level).
RowFeatures ProbeExtensions() {
    RowFeatures f;
    unsigned a = 0, b = 0, c = 0, d = 0;
    f.avx_vnni = __get_cpuid_count(7, 1, &a, &b, &c, &d) != 0 && (a >> 4 & 1u) != 0;
    f.avx512_vnni = __builtin_cpu_supports("avx512vnni") != 0;
    f.avx512_vbmi = __builtin_cpu_supports("avx512vbmi") != 0;
    return f;
}

// Every raw variant of one level this machine can run, plain and with the extension.
int RawVariantsOfLevel(Row row, int level, bool stream, RowFn out[2]) {
    const Variants& v = kVariants[static_cast<int>(row)];
    const int lanes = LanesOf(level);
    int n = 0;
    const RowFn plain = stream && lanes < 2 ? nullptr : Raw(v, lanes, false, stream);
    if (plain != nullptr) out[n++] = plain;
    if (HasExtended(v, lanes, ProcessorRowFeatures(level), stream))
        out[n++] = Raw(v, lanes, true, stream);
    return n;
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

RowFeatures ProcessorRowFeatures(int level) {
    static const RowFeatures extensions = ProbeExtensions();
    RowFeatures f = extensions;
    f.level = std::min(level, ProcessorLevelSupported());
    return f;
}

RowFn SelectRow(Row row, int level, bool stream) {
    stream = stream && StreamPays(row);
    return Runner(row, FixedPick(row, ProcessorRowFeatures(level), stream), stream);
}

int RowCandidates(Row row, const RowFeatures& f, RowCandidate out[kMaxRowCandidates]) {
    const Variants& v = kVariants[static_cast<int>(row)];
    Pick picks[kMaxRowCandidates];
    int n = 0;
    const Pick fixed = FixedPick(row, f, false);  // the portable form where nothing else runs
    picks[n++] = fixed;
    for (int lanes = LanesOf(f.level); lanes > 0; lanes /= 2) {
        for (const bool ext : {true, false}) {
            const bool runs =
                ext ? HasExtended(v, lanes, f, false)
                    : Raw(v, lanes, false, false) != nullptr && (lanes != 4 || v.avx512Pays);
            const bool listed = fixed.lanes == lanes && fixed.ext == ext;
            if (runs && !listed && n < kMaxRowCandidates) picks[n++] = {lanes, ext};
        }
    }
    for (int i = 0; i < n; ++i) {
        const Pick p = picks[i];
        RowCandidate& c = out[i];
        c.cached = Runner(row, p, false);
        c.level = LevelOf(p.lanes);
        c.name = p.ext ? ExtensionName(p.lanes == 4 ? v.avx512Needs : v.avx2Needs)
                       : ProcessorLevelName(c.level);
        // The variant's own streaming twin, else the fixed rule's: where the destination
        // goes to memory, skipping the read of its lines outweighs the row's own cost.
        if (!StreamPays(row)) {
            c.streamed = c.cached;
        } else if (p.lanes >= 2 && Raw(v, p.lanes, p.ext, true) != nullptr) {
            c.streamed = Runner(row, p, true);
        } else {
            c.streamed = Runner(row, FixedPick(row, f, true), true);
        }
    }
    return n;
}

RowFn RowVariant(Row row, int level) {
    if (level != kLevelPortable && level != kLevelSsse3 && level != kLevelAvx2 &&
        level != kLevelAvx512) {
        return nullptr;
    }
    const RowFeatures f = ProcessorRowFeatures(level);
    const Variants& v = kVariants[static_cast<int>(row)];
    const int lanes = LanesOf(level);
    return Raw(v, lanes, HasExtended(v, lanes, f, false), false);
}

int RowVariantsOfLevel(Row row, int level, RowFn out[2]) {
    return RawVariantsOfLevel(row, level, false, out);
}

int RowStreamingVariantsOfLevel(Row row, int level, RowFn out[2]) {
    return RawVariantsOfLevel(row, level, true, out);
}

int RowBlockPixels(Row row, int level) {
    return kVariants[static_cast<int>(row)].lanePixels * (LanesOf(level) > 0 ? LanesOf(level) : 1);
}

}  // namespace orvex::convert
