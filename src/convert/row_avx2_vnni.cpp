// The 4:2:2 to RGB rows with the 256-bit multiply-accumulate (compiled with -mavx2
// -mavxvnni only; picked where the processor has it). Each colour sum is one multiply-add
// plus its constant; the extension does both in one instruction, a quarter of the
// arithmetic of these rows. Its sums do not saturate, so the bytes are those of the plain
// AVX2 rows.
#include "convert/row_avx2.h"

namespace orvex::convert {
namespace {

struct Avx2Vnni : Avx2 {
    static V MaddAdd(V acc, V a, V b) { return _mm256_dpwssd_avx_epi32(acc, a, b); }
};

}  // namespace
}  // namespace orvex::convert

namespace orvex::convert {
ORVEX_DEFINE_INVERSE_ROWS(AVX2VNNI, Avx2Vnni)
ORVEX_DEFINE_INVERSE_ROWS(AVX2VNNINT, Streaming<Avx2Vnni>)
}  // namespace orvex::convert
