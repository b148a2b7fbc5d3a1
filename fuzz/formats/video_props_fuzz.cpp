// Frame records arrive from other modules; every field may hold anything.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "formats/picture_geometry.h"
#include "formats/video_formats.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    M_VID_PROPS props{};
    std::memcpy(&props, data, size < sizeof props ? size : sizeof props);
    const bool strict = size > sizeof props && (data[sizeof props] & 1);
    using namespace orvex::formats;
    VideoFormatDetect(props, strict);
    PictureAspect(props);
    VideoPropsIsValid(props);
    VideoFormatDefaults(props.eVideoFormat, props.fccType);
    VideoFormatShortName(props.eVideoFormat);
    VideoFormatName(props.eVideoFormat);
    InterlaceShortName(props.eInterlace);
    StereoShortName(props.e3DFormat);
    // Whatever the record says, a picture that gets a layout fits the ceilings.
    PictureGeometry g;
    if (PictureGeometryOf(props, &g) == S_OK &&
        (g.total_bytes > kMaxPictureBytes || g.row_bytes < g.pixel_bytes || g.total_bytes <= 0))
        __builtin_trap();
    VideoPropsComplete(props, strict);
    return 0;
}
