// The 4:2:2 to RGB rows with the 512-bit multiply-accumulate (compiled with -mavx512f
// -mavx512bw -mavx512vnni only; picked where the processor has it). See row_avx2_vnni.cpp.
#include "convert/row_avx512.h"

namespace orvex::convert {
namespace {

struct Avx512Vnni : Avx512 {
    static V MaddAdd(V acc, V a, V b) { return _mm512_dpwssd_epi32(acc, a, b); }
};

}  // namespace
}  // namespace orvex::convert

namespace orvex::convert {
ORVEX_DEFINE_INVERSE_ROWS(AVX512VNNI, Avx512Vnni)
ORVEX_DEFINE_INVERSE_ROWS(AVX512VNNINT, Streaming<Avx512Vnni>)
}  // namespace orvex::convert
