#include "convert/planes.h"

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "convert/cpu_level.h"
#include "convert/row_choice.h"

namespace orvex::convert {
namespace {

// Calls fn(y) for every row index, in the order that reads the source in rising address
// order: a bottom-up source (negative step) is visited from its last row index to its
// first. Loads stall on what the prefetchers have not brought in, and the prefetchers
// follow rising addresses best; stores are buffered and mind the order less (4:2:2 into
// a bottom-up RGB32 buffer took 1.4-1.5x the time of the top-down one when the
// destination led the walk and the source was read downwards). Rows are independent, so
// the order changes no byte of the result.
template <class Fn>
void ForEachRow(std::ptrdiff_t src_step, int height, Fn fn) {
    if (src_step < 0) {
        for (int y = height - 1; y >= 0; --y) fn(y);
    } else {
        for (int y = 0; y < height; ++y) fn(y);
    }
}

// Streaming stores need every row start 16-byte aligned; they are ordered before what
// follows (another thread's read after the stripe is handed back) by one fence.
bool CanStream(const std::uint8_t* dst, std::ptrdiff_t dst_step) {
    return (reinterpret_cast<std::uintptr_t>(dst) & 15) == 0 && dst_step % 16 == 0;
}

// Rows that follow each other without a gap, the same way on both sides, are one long row:
// one call runs them, with no per-row call and no tail per row. Only where the long row
// is the same bytes as the rows one by one: whole 4:2:2 pairs and whole v210 groups per
// row, and a pixel count that fits the width.
bool Coalesce(Row row, const std::uint8_t*& src, std::ptrdiff_t src_step, std::uint8_t*& dst,
              std::ptrdiff_t dst_step, int& width, int& height) {
    if (height < 2 || (src_step < 0) != (dst_step < 0)) return false;
    if (RowIsSubsampled(row) && width % 2 != 0) return false;
    const std::size_t sb = RowSourceBytes(row, width), db = RowDestBytes(row, width);
    const auto s = static_cast<std::size_t>(src_step < 0 ? -src_step : src_step);
    const auto d = static_cast<std::size_t>(dst_step < 0 ? -dst_step : dst_step);
    const std::int64_t pixels = std::int64_t{width} * height;
    if (s != sb || d != db || pixels > INT32_MAX) return false;
    const int all = static_cast<int>(pixels);
    const auto rows = static_cast<std::size_t>(height);
    if (RowSourceBytes(row, all) != sb * rows || RowDestBytes(row, all) != db * rows) return false;
    if (src_step < 0) {
        src += (height - 1) * src_step;
        dst += (height - 1) * dst_step;
    }
    width = all;
    height = 1;
    return true;
}

// The runner of a row: the process's choice, or the fixed rule of a level asked for.
RowFn RunnerOf(Row row, int level, bool stream) {
    if (level != kLevelNone) return SelectRow(row, level, stream);
    const RowCandidate& chosen = ChosenRow(row);
    return stream ? chosen.streamed : chosen.cached;
}

}  // namespace

bool RowIsSubsampled(Row row) {
    return row != Row::kRgb32ToRgb24 && row != Row::kRgb24ToRgb32;
}

int ConvertRows(Row row, const std::uint8_t* src, std::ptrdiff_t src_step, std::uint8_t* dst,
                std::ptrdiff_t dst_step, int width, int height, const RowParams& params, int level,
                bool stream) {
    if (src == nullptr || dst == nullptr) return kNullPointer;
    if (width < (RowIsSubsampled(row) ? 2 : 1) || height < 1) return kBadSize;
    stream = stream && CanStream(dst, dst_step);
    const RowFn fn = RunnerOf(row, level, stream);
    if (Coalesce(row, src, src_step, dst, dst_step, width, height)) {
        fn(src, dst, width, &params);
        if (stream) _mm_sfence();
        return 0;
    }
    // Row addresses by index: stepping past the last row of a bottom-up walk would form a
    // pointer before the buffer.
    // The destination side that runs against the walk is not fetched ahead: touching the head
    // of its next row cost 3-13 % on the rows into RGB24 and out of RGB (1080 lines, on 4 KB
    // and on 2 MB pages alike) and gained nothing on the others.
    ForEachRow(src_step, height,
               [&](int y) { fn(src + y * src_step, dst + y * dst_step, width, &params); });
    if (stream) _mm_sfence();
    return 0;
}

int ConvertRowsTwoStep(Row first, Row second, const std::uint8_t* src, std::ptrdiff_t src_step,
                       std::uint8_t* dst, std::ptrdiff_t dst_step, int width, int height,
                       const RowParams& params, int level, bool stream) {
    if (src == nullptr || dst == nullptr) return kNullPointer;
    if (width < 2 || height < 1) return kBadSize;
    stream = stream && CanStream(dst, dst_step);
    // The intermediate UYVY row lives on the stack: long rows go through in pieces whose
    // width is a whole number of v210 groups and SIMD blocks.
    constexpr int kPiece = 1536;
    alignas(64) std::uint8_t buffer[kPiece * 2];
    const RowFn one = RunnerOf(first, level, false);
    const RowFn two = RunnerOf(second, level, stream);
    ForEachRow(src_step, height, [&](int y) {
        const std::uint8_t* s = src + y * src_step;
        std::uint8_t* d = dst + y * dst_step;
        for (int x = 0; x < width; x += kPiece) {
            const int n = width - x < kPiece ? width - x : kPiece;
            one(s + RowSourceBytes(first, x), buffer, n, &params);
            two(buffer, d + RowDestBytes(second, x), n, &params);
        }
    });
    if (stream) _mm_sfence();
    return 0;
}

int CopyRows(const std::uint8_t* src, std::ptrdiff_t src_step, std::uint8_t* dst,
             std::ptrdiff_t dst_step, std::size_t row_bytes, int height) {
    if (src == nullptr || dst == nullptr) return kNullPointer;
    if (row_bytes < 1 || height < 1) return kBadSize;
    // Rows without gaps that run the same way on both sides are one block of memory: one
    // call copies it forward, whichever way the rows are numbered.
    const auto dense = static_cast<std::ptrdiff_t>(row_bytes);
    if (src_step == dst_step && (src_step == dense || src_step == -dense)) {
        const std::ptrdiff_t low = src_step < 0 ? (height - 1) * src_step : 0;
        std::memcpy(dst + low, src + low, row_bytes * static_cast<std::size_t>(height));
        return 0;
    }
    ForEachRow(src_step, height,
               [&](int y) { std::memcpy(dst + y * dst_step, src + y * src_step, row_bytes); });
    return 0;
}

}  // namespace orvex::convert
