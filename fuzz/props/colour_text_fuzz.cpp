// Colours from arbitrary text; every colour that comes out must print and read back.
#include <cstdlib>

#include "../fuzz_text.h"
#include "props/value_text.h"

using namespace orvex::props;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint32_t colour = ParseColour(FuzzText(data, size), 0x80402010);
    if (ParseColour(PrintColour(colour), 0x11223344) != colour) std::abort();
    return 0;
}
