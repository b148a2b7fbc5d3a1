#include "convert/planes.h"

#include <cstring>

#include "convert/cpu_level.h"

namespace orvex::convert {
namespace {

// Calls fn(y) for every row index. A bottom-up buffer has a negative step: its rows are
// visited from the last index to the first, so that its bytes are read or written in rising
// address order, as the hardware prefetchers and the write-combining of stores work best.
// When the two sides run opposite ways, the side with more bytes per row decides. Rows are
// independent, so the order changes no byte of the result.
template <class Fn>
void ForEachRow(std::ptrdiff_t src_step, std::ptrdiff_t dst_step, std::size_t src_row_bytes,
                std::size_t dst_row_bytes, int height, Fn fn) {
    const std::ptrdiff_t leading = dst_row_bytes >= src_row_bytes ? dst_step : src_step;
    if (leading < 0) {
        for (int y = height - 1; y >= 0; --y) fn(y);
    } else {
        for (int y = 0; y < height; ++y) fn(y);
    }
}

}  // namespace

bool RowIsSubsampled(Row row) {
    return row != Row::kRgb32ToRgb24 && row != Row::kRgb24ToRgb32;
}

int ConvertRows(Row row, const std::uint8_t* src, std::ptrdiff_t src_step, std::uint8_t* dst,
                std::ptrdiff_t dst_step, int width, int height, const RowParams& params,
                int level) {
    if (src == nullptr || dst == nullptr) return kNullPointer;
    if (width < (RowIsSubsampled(row) ? 2 : 1) || height < 1) return kBadSize;
    const RowFn fn = SelectRow(row, level == kLevelNone ? ProcessorLevel() : level);
    // Row addresses by index: stepping past the last row of a bottom-up walk would form a
    // pointer before the buffer.
    ForEachRow(src_step, dst_step, RowSourceBytes(row, width), RowDestBytes(row, width), height,
               [&](int y) { fn(src + y * src_step, dst + y * dst_step, width, &params); });
    return 0;
}

int ConvertRowsTwoStep(Row first, Row second, const std::uint8_t* src, std::ptrdiff_t src_step,
                       std::uint8_t* dst, std::ptrdiff_t dst_step, int width, int height,
                       const RowParams& params, int level) {
    if (src == nullptr || dst == nullptr) return kNullPointer;
    if (width < 2 || height < 1) return kBadSize;
    // The intermediate UYVY row lives on the stack: long rows go through in pieces whose
    // width is a whole number of v210 groups and SIMD blocks.
    constexpr int kPiece = 1536;
    alignas(64) std::uint8_t buffer[kPiece * 2];
    if (level == kLevelNone) level = ProcessorLevel();
    const RowFn one = SelectRow(first, level);
    const RowFn two = SelectRow(second, level);
    ForEachRow(src_step, dst_step, RowSourceBytes(first, width), RowDestBytes(second, width),
               height, [&](int y) {
                   const std::uint8_t* s = src + y * src_step;
                   std::uint8_t* d = dst + y * dst_step;
                   for (int x = 0; x < width; x += kPiece) {
                       const int n = width - x < kPiece ? width - x : kPiece;
                       one(s + RowSourceBytes(first, x), buffer, n, &params);
                       two(buffer, d + RowDestBytes(second, x), n, &params);
                   }
               });
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
    ForEachRow(src_step, dst_step, row_bytes, row_bytes, height,
               [&](int y) { std::memcpy(dst + y * dst_step, src + y * src_step, row_bytes); });
    return 0;
}

}  // namespace orvex::convert
