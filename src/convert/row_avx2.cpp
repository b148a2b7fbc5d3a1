// AVX2 variants of the row primitives (compiled with -mavx2 only). Each 128-bit lane
// works on its own run of pixels; see row_simd.h.
#include "convert/row_avx2.h"

ORVEX_DEFINE_SIMD_ROWS(AVX2, Avx2)
ORVEX_DEFINE_SIMD_ROWS(AVX2NT, Streaming<Avx2>)
