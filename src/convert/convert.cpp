#include "convert/convert.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "convert/planes.h"
#include "convert/row_choice.h"
#include "convert/stripe_pool.h"
#include "formats/picture_geometry.h"
#include "formats/video_formats.h"

namespace orvex::convert {
namespace {

enum class Cell { kNotSupported, kCopy, kRow, kTwoStep };

// One entry of the conversion table. `multiplier` scales the pixel width handed to the
// routine; a negative one marks the routines that take an alpha value (always 255).
struct Entry {
    Cell cell = Cell::kNotSupported;
    Row row = Row::kSwap422;
    Row second = Row::kSwap422;  // kTwoStep: applied to the unpacked UYVY row
    YuvMatrix matrix = YuvMatrix::kBt601;
    int multiplier = 1;
};

constexpr Entry Copy() {
    return {Cell::kCopy};
}
constexpr Entry Rows(Row r, YuvMatrix m = YuvMatrix::kBt601, int mult = 1) {
    return {Cell::kRow, r, r, m, mult};
}
constexpr Entry Unpacked(Row second, YuvMatrix m = YuvMatrix::kBt709) {
    return {Cell::kTwoStep, Row::kV210ToUyvy, second, m, 1};
}
constexpr Entry kNone{};

// BT.601 for UYVY and YUY2, BT.709 for HDYC; v210 carries no matrix of its own and is
// taken as BT.709, the matrix of the formats it is used for.
constexpr YuvMatrix k601 = YuvMatrix::kBt601;
constexpr YuvMatrix k709 = YuvMatrix::kBt709;

// clang-format off
constexpr std::array<std::array<Entry, 6>, 6> kTable = {{
    // to: RGB32, RGB24, UYVY, HDYC, YUY2, v210
    {Copy(), Rows(Row::kRgb32ToRgb24), Rows(Row::kRgb32ToUyvy, k601),
     Rows(Row::kRgb32ToUyvy, k709), Rows(Row::kRgb32ToYuy2, k601), kNone},
    {Rows(Row::kRgb24ToRgb32, k601, -1), Copy(), Rows(Row::kRgb24ToUyvy, k601),
     Rows(Row::kRgb24ToUyvy, k709), Rows(Row::kRgb24ToYuy2, k601), kNone},
    {Rows(Row::kUyvyToRgb32, k601, -1), Rows(Row::kUyvyToRgb24, k601), Copy(), Copy(),
     Rows(Row::kSwap422), Rows(Row::kUyvyToV210)},
    {Rows(Row::kUyvyToRgb32, k709), Rows(Row::kUyvyToRgb24, k709), Copy(), Copy(),
     Rows(Row::kSwap422), Rows(Row::kUyvyToV210)},
    {Rows(Row::kYuy2ToRgb32, k601, -1), Rows(Row::kYuy2ToRgb24, k601), Rows(Row::kSwap422),
     Rows(Row::kSwap422), Copy(), Rows(Row::kYuy2ToV210)},
    {Unpacked(Row::kUyvyToRgb32), Unpacked(Row::kUyvyToRgb24), Rows(Row::kV210ToUyvy),
     Rows(Row::kV210ToUyvy), Unpacked(Row::kSwap422), Copy()},
}};
// clang-format on

static_assert(static_cast<int>(ConvertStatus::kNullPointer) == kNullPointer);
static_assert(static_cast<int>(ConvertStatus::kBadGeometry) == kBadSize);

// Bytes the pixels of a row of `width` take in a layout; `width` is within the checked region.
std::size_t RegionRowBytes(eMFCC fcc, int width) {
    formats::PictureGeometry g;
    formats::PictureGeometryOf(fcc, width, 1, 0, &g);
    return static_cast<std::size_t>(g.pixel_bytes);
}

// A buffer walked in display order: first row and signed step.
struct Walk {
    const std::uint8_t* start;
    std::ptrdiff_t step;
};

Walk MakeWalk(const std::uint8_t* base, const M_VID_PROPS& props, std::ptrdiff_t row_bytes) {
    if (IsBottomUp(props)) {
        return {base + (static_cast<std::ptrdiff_t>(props.nHeight) - 1) * row_bytes, -row_bytes};
    }
    return {base, row_bytes};
}

// Everything a stripe needs to know before it touches a byte.
struct Plan {
    const Entry* entry = nullptr;
    int src_layout = kNoLayout, dst_layout = kNoLayout;
    formats::PictureGeometry src, dst;
    int width = 0, height = 0;  // the common region
};

// Destination or source bytes (the larger) a stripe must hold to be worth a hand-off: a
// worker's wake-up costs some tens of microseconds, a stripe of this size about as much.
constexpr std::size_t kMinStripeBytes = 256 * 1024;
// Stripes of Convert's own choice per stripe thread.
constexpr int kStripesPerThread = 4;
// Stripes one call cuts at most, whatever the caller asks for.
constexpr int kMaxCallStripes = 64;
// Destination or source bytes the shortest of Convert's shrinking stripes holds: claiming a
// stripe costs a counter increment and the stripe's own set-up (a whole call on a 16x2
// picture takes 0.2 us), against some 10 us for a stripe of this size.
constexpr std::size_t kMinTailBytes = 128 * 1024;

// One line of shift when both field orders are known and differ.
bool FieldsShift(const M_VID_PROPS& sp, const M_VID_PROPS& dp) {
    const int so = FieldOrder(sp), dor = FieldOrder(dp);
    return so != 0 && dor != 0 && so != dor;
}

// Bytes a description's rows span in memory, from its lowest address.
std::uintptr_t Extent(const formats::PictureGeometry& g) {
    return static_cast<std::uintptr_t>((g.rows - 1) * g.row_bytes + g.pixel_bytes);
}

// Copies and 4:2:2 swaps read each pixel group before they write it, so they may run on one
// buffer, as long as both descriptions walk the same rows in the same order.
bool RunsInPlace(const Plan& plan, const std::uint8_t* src, const std::uint8_t* dst,
                 const M_VID_PROPS& sp, const M_VID_PROPS& dp) {
    const bool same_walk = src == dst && plan.src.row_bytes == plan.dst.row_bytes &&
                           sp.nHeight == dp.nHeight && IsBottomUp(sp) == IsBottomUp(dp);
    const bool in_place_cell = plan.entry->cell == Cell::kCopy ||
                               (plan.entry->cell == Cell::kRow && plan.entry->row == Row::kSwap422);
    return same_walk && in_place_cell && !FieldsShift(sp, dp);
}

ConvertStatus MakePlan(const std::uint8_t* src, const std::uint8_t* dst, const M_VID_PROPS& sp,
                       const M_VID_PROPS& dp, Plan* plan) {
    plan->src_layout = LayoutIndex(sp.fccType);
    plan->dst_layout = LayoutIndex(dp.fccType);
    if (plan->src_layout == kNoLayout || plan->dst_layout == kNoLayout)
        return ConvertStatus::kUnknownLayout;
    plan->entry = &kTable[plan->src_layout][plan->dst_layout];
    if (plan->entry->cell == Cell::kNotSupported) return ConvertStatus::kNotSupported;
    if (src == nullptr || dst == nullptr) return ConvertStatus::kNullPointer;
    // Both descriptions are checked whole (sides, strides, sizes) before any arithmetic on
    // them; a description without a picture has nothing to convert either.
    if (formats::PictureGeometryOf(sp, &plan->src) != S_OK ||
        formats::PictureGeometryOf(dp, &plan->dst) != S_OK) {
        return ConvertStatus::kBadGeometry;
    }
    plan->width = std::min(sp.nWidth, dp.nWidth);
    plan->height = static_cast<int>(std::min(plan->src.rows, plan->dst.rows));
    if (plan->src_layout >= 2 || plan->dst_layout >= 2) plan->width &= ~1;  // whole 4:2:2 pairs
    if (plan->width < 1) return ConvertStatus::kBadGeometry;

    const auto s0 = reinterpret_cast<std::uintptr_t>(src);
    const auto d0 = reinterpret_cast<std::uintptr_t>(dst);
    const bool disjoint = s0 + Extent(plan->src) <= d0 || d0 + Extent(plan->dst) <= s0;
    if (!disjoint && !RunsInPlace(*plan, src, dst, sp, dp)) return ConvertStatus::kOverlap;
    return ConvertStatus::kDone;
}

ConvertStatus ConvertOneStripe(const std::uint8_t* src, std::uint8_t* dst, const M_VID_PROPS& sp,
                               const M_VID_PROPS& dp, bool stream) {
    Plan plan;
    const ConvertStatus checked = MakePlan(src, dst, sp, dp, &plan);
    if (checked != ConvertStatus::kDone) return checked;
    const Entry& e = *plan.entry;
    const int width = plan.width;
    int height = plan.height;
    const auto srb = static_cast<std::ptrdiff_t>(plan.src.row_bytes);
    const auto drb = static_cast<std::ptrdiff_t>(plan.dst.row_bytes);
    Walk s = MakeWalk(src, sp, srb);
    const Walk d0 = MakeWalk(dst, dp, drb);
    std::uint8_t* d = const_cast<std::uint8_t*>(d0.start);
    const std::ptrdiff_t dstep = d0.step;

    // Field-order correction: shift by one line, then repeat the edge line left empty.
    enum { kNoShift, kShiftDest, kShiftSource } shift = kNoShift;
    const int so = FieldOrder(sp), dor = FieldOrder(dp);
    const int dir = IsBottomUp(dp) ? -1 : 1;
    const int full_height = height;
    if (so != 0 && dor != 0 && height >= 2) {
        if ((so - dor) * dir < 0) {
            shift = kShiftDest;
            d += dstep;
            --height;
        } else if ((so - dor) * dir > 0) {
            shift = kShiftSource;
            s.start += s.step;
            --height;
        }
    }

    const RowParams params = MakeRowParams(e.matrix, 255);
    const int n = width * std::abs(e.multiplier);
    int status = 0;
    switch (e.cell) {
        case Cell::kCopy:
            // The same rows of the same buffer: nothing to move.
            if (s.start != d) {
                status =
                    CopyRows(s.start, s.step, d, dstep, RegionRowBytes(sp.fccType, width), height);
            }
            break;
        case Cell::kRow:
            // RGB24 -> RGB32 writes the opaque alpha in the same pass.
            status = ConvertRows(e.row, s.start, s.step, d, dstep, n, height, params, kLevelNone,
                                 stream);
            break;
        case Cell::kTwoStep:
            status = ConvertRowsTwoStep(e.row, e.second, s.start, s.step, d, dstep, n, height,
                                        params, kLevelNone, stream);
            break;
        case Cell::kNotSupported:
            break;
    }
    if (status != 0) return static_cast<ConvertStatus>(status);

    const std::size_t line = RegionRowBytes(dp.fccType, width);
    std::uint8_t* first = const_cast<std::uint8_t*>(d0.start);
    if (shift == kShiftDest) {
        std::memmove(first, first + dstep, line);
    } else if (shift == kShiftSource) {
        std::uint8_t* last = first + dstep * (full_height - 1);
        std::memmove(last, last - dstep, line);
    }
    return ConvertStatus::kDone;
}

// The stripe's share of a buffer: rows [row0, row0 + rows) in display order.
M_VID_PROPS StripeOf(const M_VID_PROPS& props, int row_bytes, int row0, int rows,
                     std::ptrdiff_t& offset) {
    M_VID_PROPS part = props;
    part.nRowBytes = row_bytes;
    if (IsBottomUp(props)) {
        offset = static_cast<std::ptrdiff_t>(props.nHeight - row0 - rows) * row_bytes;
        part.nHeight = rows;
    } else {
        offset = static_cast<std::ptrdiff_t>(row0) * row_bytes;
        part.nHeight = props.nHeight < 0 ? -rows : rows;
    }
    return part;
}

bool SameLayout(eMFCC a, eMFCC b) {
    const auto canon = [](eMFCC f) {
        if (f == eMFCC_HDYC) return eMFCC_UYVY;
        if (f == eMFCC_RGB32) return eMFCC_ARGB32;
        return f;
    };
    return canon(a) == canon(b);
}

bool OppositeOrders(const M_VID_PROPS& a, const M_VID_PROPS& b) {
    return FieldOrder(a) * FieldOrder(b) < 0;
}

// Row counts of `count` stripes of about equal height.
int EqualStripes(int height, int count, int* rows) {
    for (int i = 0; i < count; ++i) rows[i] = height / count + (i < height % count ? 1 : 0);
    return count;
}

// Row counts of stripes that shrink towards the end: each takes 1 / (2 x threads) of the
// rows still left, and no fewer than kMinTailBytes hold. The tasks are claimed in order, so
// whoever finishes first finds a short stripe left, not a long one: with equal stripes of
// 1/8 of a 1920x1080 picture the caller waited at the join for half a stripe on average.
int ShrinkingStripes(int height, std::size_t row_bytes, int* rows) {
    const int share = 2 * StripeThreads();
    const int min_rows = static_cast<int>(std::clamp<std::size_t>(
        kMinTailBytes / std::max<std::size_t>(row_bytes, 1), 1, static_cast<std::size_t>(height)));
    int count = 0;
    for (int left = height; left > 0; ++count) {
        int take = std::max((left + share - 1) / share, min_rows);
        if (count == kMaxCallStripes - 1) take = left;
        rows[count] = std::min(take, left);
        left -= rows[count];
    }
    return count;
}

// The core: cuts the picture into stripes (`shrinking`: of falling height, else `stripes`
// of equal height) and converts them on the stripe workers.
ConvertStatus ConvertCut(const std::uint8_t* src, std::uint8_t* dst, const M_VID_PROPS& src_props,
                         const M_VID_PROPS& dst_props, int stripes, bool shrinking) {
    ProcessorLevelInit();
    Plan plan;
    const ConvertStatus checked = MakePlan(src, dst, src_props, dst_props, &plan);
    if (checked != ConvertStatus::kDone) return checked;
    const int height = plan.height;
    const std::size_t dst_row = RegionRowBytes(dst_props.fccType, plan.width);
    const bool stream = static_cast<std::size_t>(height) * dst_row >= kStreamBytes;
    // A shifted field order moves the whole picture by one line: cut into stripes, every
    // stripe would shift and repeat its own edge line. Copies gain nothing from stripes.
    if (stripes <= 1 || height < 2 || SameLayout(src_props.fccType, dst_props.fccType) ||
        OppositeOrders(src_props, dst_props)) {
        return ConvertOneStripe(src, dst, src_props, dst_props, stream);
    }
    std::array<int, kMaxCallStripes> rows{};
    stripes = shrinking
                  ? ShrinkingStripes(
                        height, std::max(dst_row, RegionRowBytes(src_props.fccType, plan.width)),
                        rows.data())
                  : EqualStripes(height, std::min({stripes, height, kMaxCallStripes}), rows.data());
    if (stripes <= 1) return ConvertOneStripe(src, dst, src_props, dst_props, stream);
    // A row's first use times its variants: on this thread, before the stripes share the
    // processors, so that the stripes neither wait for it nor disturb it.
    if (plan.entry->cell != Cell::kCopy) {
        ChosenRow(plan.entry->row);
        ChosenRow(plan.entry->second);
    }

    // Fork and join on the stripe workers: RunStripes returns when every stripe is done.
    struct Stripe {
        const std::uint8_t* src;
        std::uint8_t* dst;
        M_VID_PROPS sp, dp;
        ConvertStatus status;
    };
    std::array<Stripe, kMaxCallStripes> parts;
    // Checked strides, within the ceiling and so within an int.
    const auto srb = static_cast<int>(plan.src.row_bytes);
    const auto drb = static_cast<int>(plan.dst.row_bytes);
    int row0 = 0;
    for (int i = 0; i < stripes; ++i) {
        const int n = rows[static_cast<std::size_t>(i)];
        std::ptrdiff_t so = 0, doff = 0;
        Stripe& it = parts[static_cast<std::size_t>(i)];
        it.sp = StripeOf(src_props, srb, row0, n, so);
        it.dp = StripeOf(dst_props, drb, row0, n, doff);
        it.src = src + so;
        it.dst = dst + doff;
        it.status = ConvertStatus::kDone;
        row0 += n;
    }
    RunStripes(stripes, [&parts, stream](int i) {
        Stripe& it = parts[static_cast<std::size_t>(i)];
        it.status = ConvertOneStripe(it.src, it.dst, it.sp, it.dp, stream);
    });
    for (int i = 0; i < stripes; ++i) {
        const ConvertStatus s = parts[static_cast<std::size_t>(i)].status;
        if (s != ConvertStatus::kDone) return s;
    }
    return ConvertStatus::kDone;
}

}  // namespace

int LayoutIndex(eMFCC fcc) {
    switch (fcc) {
        case eMFCC_RGB32:
        case eMFCC_ARGB32:
            return 0;
        case eMFCC_RGB24:
            return 1;
        case eMFCC_UYVY:
            return 2;
        case eMFCC_HDYC:
            return 3;
        case eMFCC_YUY2:
            return 4;
        case eMFCC_v210:
            return 5;
        default:
            return kNoLayout;
    }
}

int FieldOrder(const M_VID_PROPS& props) {
    eMInterlace order = props.eInterlace;
    if (order == eMI_Default) {
        // The base format decides, so stereo variants follow their 2D base.
        const auto base = static_cast<eMVideoFormat>(props.eVideoFormat & 0xFF);
        if (base == 0) return 0;
        order = formats::VideoFormatDefaults(base, eMFCC_UYVY).eInterlace;
    }
    switch (order) {
        case eMI_Field1First:
            return 1;
        case eMI_Field2First:
            return -1;
        default:
            return 0;
    }
}

bool IsBottomUp(const M_VID_PROPS& props) {
    const std::uint32_t f = props.fccType;
    const bool rgb = (f >= 0xE436EB7Au && f <= 0xE436EB7Eu) || f == eMFCC_ARGB32 || f == eMFCC_r210;
    return rgb && props.nHeight > 0;
}

ConvertStatus ConvertStripes(const std::uint8_t* src, std::uint8_t* dst,
                             const M_VID_PROPS& src_props, const M_VID_PROPS& dst_props,
                             int stripes) {
    return ConvertCut(src, dst, src_props, dst_props, stripes, false);
}

ConvertStatus Convert(const std::uint8_t* src, std::uint8_t* dst, const M_VID_PROPS& src_props,
                      const M_VID_PROPS& dst_props) {
    ProcessorLevelInit();
    if (SameLayout(src_props.fccType, dst_props.fccType) || OppositeOrders(src_props, dst_props)) {
        return ConvertStripes(src, dst, src_props, dst_props, 1);
    }
    Plan plan;
    const ConvertStatus checked = MakePlan(src, dst, src_props, dst_props, &plan);
    if (checked != ConvertStatus::kDone) return checked;
    const int threads = StripeThreads();
    if (threads == 1) {
        return ConvertStripes(src, dst, src_props, dst_props, 1);
    }
    // Striped only when the picture holds several stripes' worth of bytes per thread, so
    // that a worker the machine serves late still takes a share (the caller takes stripes
    // too and never waits for one that has not started); the stripes shrink towards the
    // end (ShrinkingStripes).
    const std::size_t region_bytes = static_cast<std::size_t>(plan.height) *
                                     std::max(RegionRowBytes(src_props.fccType, plan.width),
                                              RegionRowBytes(dst_props.fccType, plan.width));
    const auto stripes = static_cast<int>(std::min<std::size_t>(
        region_bytes / kMinStripeBytes, static_cast<std::size_t>(threads * kStripesPerThread)));
    return ConvertCut(src, dst, src_props, dst_props, std::max(stripes, 1), stripes > 1);
}

}  // namespace orvex::convert
