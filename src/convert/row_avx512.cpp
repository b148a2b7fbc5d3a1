// AVX-512 (F + BW) variants of the row primitives (compiled with -mavx512f -mavx512bw
// only). Four 128-bit lanes side by side; see row_simd.h.
#include "convert/row_avx512.h"

ORVEX_DEFINE_SIMD_ROWS(AVX512, Avx512)
ORVEX_DEFINE_SIMD_ROWS(AVX512NT, Streaming<Avx512>)
