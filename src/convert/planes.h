// Image-level primitives: a row primitive run over a block of rows with signed row steps
// (a negative step walks a bottom-up buffer). They return 0 on success, kNullPointer for
// a missing buffer and kBadSize for a width or height below the minimum (1, or 2 for
// widths of 4:2:2 and v210 layouts).
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/row.h"

namespace orvex::convert {

constexpr int kNullPointer = -8;
constexpr int kBadSize = -6;

// `level` picks the variants by that level's fixed rule; kLevelNone takes the process's
// choice (row_choice.h). With `stream` the
// destination is written with non-temporal stores where it is 16-byte aligned row by row
// (the call fences before it returns): for large pictures that nothing reads back soon.
int ConvertRows(Row row, const std::uint8_t* src, std::ptrdiff_t src_step, std::uint8_t* dst,
                std::ptrdiff_t dst_step, int width, int height, const RowParams& params,
                int level = kLevelNone, bool stream = false);

// Two primitives in a row through a small intermediate buffer; `first` must produce UYVY.
// `stream` applies to the final destination only.
int ConvertRowsTwoStep(Row first, Row second, const std::uint8_t* src, std::ptrdiff_t src_step,
                       std::uint8_t* dst, std::ptrdiff_t dst_step, int width, int height,
                       const RowParams& params, int level = kLevelNone, bool stream = false);

int CopyRows(const std::uint8_t* src, std::ptrdiff_t src_step, std::uint8_t* dst,
             std::ptrdiff_t dst_step, std::size_t row_bytes, int height);

// True for primitives whose rows are 4:2:2 or v210 on either side (even widths).
bool RowIsSubsampled(Row row);

}  // namespace orvex::convert
