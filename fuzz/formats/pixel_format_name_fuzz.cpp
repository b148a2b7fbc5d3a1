// Pixel format names come from property text and settings files.
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/video_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string name(size / 2, u'\0');
    for (std::size_t i = 0; i < name.size(); ++i)
        name[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    const eMFCC fcc = orvex::formats::PixelFormatFromName(name);
    orvex::formats::PixelFormatBits(fcc);
    orvex::formats::RowBytesFor(fcc, static_cast<int>(size) * 97);
    return 0;
}
