#include "convert/planes.h"

#include <cstring>

#include "convert/cpu_level.h"

namespace orvex::convert {

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
    for (int y = 0; y < height; ++y) fn(src + y * src_step, dst + y * dst_step, width, &params);
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
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* s = src + y * src_step;
        std::uint8_t* d = dst + y * dst_step;
        for (int x = 0; x < width; x += kPiece) {
            const int n = width - x < kPiece ? width - x : kPiece;
            one(s + RowSourceBytes(first, x), buffer, n, &params);
            two(buffer, d + RowDestBytes(second, x), n, &params);
        }
    }
    return 0;
}

int CopyRows(const std::uint8_t* src, std::ptrdiff_t src_step, std::uint8_t* dst,
             std::ptrdiff_t dst_step, std::size_t row_bytes, int height) {
    if (src == nullptr || dst == nullptr) return kNullPointer;
    if (row_bytes < 1 || height < 1) return kBadSize;
    for (int y = 0; y < height; ++y) std::memcpy(dst + y * dst_step, src + y * src_step, row_bytes);
    return 0;
}

}  // namespace orvex::convert
