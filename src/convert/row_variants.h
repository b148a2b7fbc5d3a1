// Declarations of every variant of every row primitive. Internal to the library: callers
// go through SelectRow. The _C forms take any width; the SIMD forms take multiples of
// their block (see row_select.cpp).
#pragma once

#include "convert/row.h"

namespace orvex::convert {

#define ORVEX_DECLARE_ROWS(suffix)                                                            \
    void Swap422Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);      \
    void Rgb32ToRgb24Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*); \
    void Rgb24ToRgb32Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*); \
    void Rgb32ToUyvyRow_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);  \
    void Rgb32ToYuy2Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);  \
    void Rgb24ToUyvyRow_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);  \
    void Rgb24ToYuy2Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);  \
    void UyvyToRgb32Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);  \
    void Yuy2ToRgb32Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);  \
    void UyvyToRgb24Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);  \
    void Yuy2ToRgb24Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);  \
    void UyvyToV210Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);   \
    void Yuy2ToV210Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);   \
    void V210ToUyvyRow_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);

ORVEX_DECLARE_ROWS(C)
ORVEX_DECLARE_ROWS(SSSE3)
ORVEX_DECLARE_ROWS(AVX2)
ORVEX_DECLARE_ROWS(AVX512)
// The same with non-temporal stores; the destination must be 16-byte aligned.
ORVEX_DECLARE_ROWS(AVX2NT)
ORVEX_DECLARE_ROWS(AVX512NT)

// The 4:2:2 to RGB rows of the multiply-accumulate extensions (AVX-VNNI, AVX-512 VNNI).
#define ORVEX_DECLARE_INVERSE_ROWS(suffix)                                                   \
    void UyvyToRgb32Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*); \
    void Yuy2ToRgb32Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*); \
    void UyvyToRgb24Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*); \
    void Yuy2ToRgb24Row_##suffix(const std::uint8_t*, std::uint8_t*, int, const RowParams*);

ORVEX_DECLARE_INVERSE_ROWS(AVX2VNNI)
ORVEX_DECLARE_INVERSE_ROWS(AVX512VNNI)
ORVEX_DECLARE_INVERSE_ROWS(AVX2VNNINT)
ORVEX_DECLARE_INVERSE_ROWS(AVX512VNNINT)

#undef ORVEX_DECLARE_INVERSE_ROWS

// The rows with the 512-bit byte permutes (AVX-512 VBMI).
#define ORVEX_DECLARE_VBMI_ROW(name)                                                   \
    void name##_AVX512VBMI(const std::uint8_t*, std::uint8_t*, int, const RowParams*); \
    void name##_AVX512VBMINT(const std::uint8_t*, std::uint8_t*, int, const RowParams*);
ORVEX_DECLARE_VBMI_ROW(Rgb24ToRgb32Row)
ORVEX_DECLARE_VBMI_ROW(UyvyToV210Row)
ORVEX_DECLARE_VBMI_ROW(Yuy2ToV210Row)
#undef ORVEX_DECLARE_VBMI_ROW
void Rgb32ToRgb24Row_AVX512VBMI(const std::uint8_t*, std::uint8_t*, int, const RowParams*);
#undef ORVEX_DECLARE_ROWS

}  // namespace orvex::convert
