// Pixel format names come from property text and settings files.
#include "../fuzz_text.h"
#include "formats/video_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const eMFCC fcc = orvex::formats::PixelFormatFromName(FuzzText(data, size));
    orvex::formats::PixelFormatBits(fcc);
    orvex::formats::RowBytesFor(fcc, static_cast<int>(size) * 97);
    return 0;
}
