// Hostile caption and VANC items through the whole caption path, in exact-size allocations.
// Input: one byte of settings (output format, cc_output, copy_vanc, caption line), then items,
// each a code byte (0..3), a 16-bit little-endian length and that many bytes (cut at the end).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decklink/captions.h"
#include "decklink/captions_fakes.h"
#include "decklink/vanc.h"

namespace {

struct Output {
    eMVideoFormat format;
    int width;
    double rate;
};

constexpr Output kOutputs[] = {
    {eMVF_NTSC, 720, 0},        {eMVF_PAL, 720, 0},     {eMVF_HD720_5994p, 1280, 0},
    {eMVF_HD1080_50i, 1920, 0}, {eMVF_2K_24p, 2048, 0}, {eMVF_4K_UHD_60p, 3840, 0},
    {eMVF_Custom, 200, 12.5},   {eMVF_Custom, 48, 30},
};
constexpr DWORD kCodes[] = {orvex::decklink::kItemC608, orvex::decklink::kItemC708,
                            orvex::decklink::kItemGA94, orvex::decklink::kItemVANC};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvex::decklink;
    if (size < 1) return 0;
    const std::uint8_t choice = data[0];
    const Output& out = kOutputs[choice & 7];

    orvex::test::ItemFrame frame;
    std::size_t at = 1;
    while (size - at >= 3) {
        const DWORD code = kCodes[data[at] & 3];
        std::size_t length = data[at + 1] | (data[at + 2] << 8);
        at += 3;
        if (length > size - at) length = size - at;
        frame.items[code].assign(data + at, data + at + length);
        at += length;
    }

    M_VID_PROPS props{};
    props.eVideoFormat = out.format;
    props.nWidth = out.width;
    props.dblRate = out.rate;
    CaptionSettings settings;
    settings.cc_output = (choice >> 3) & 7;
    settings.copy_vanc = (choice >> 6) & 3;
    settings.cc_line_sdi = (choice & 0x80) ? 0 : 9;
    settings.timecode_format = u"auto";

    const std::size_t row_bytes = V210RowBytes(out.width);
    for (BMDPixelFormat pixels : {bmdFormat10BitYUV, bmdFormat8BitYUV}) {
        orvex::test::FakeOutput output(row_bytes);
        const int frame_row =
            pixels == bmdFormat10BitYUV ? static_cast<int>(row_bytes) : out.width * 2;
        orvex::test::FakeDeckFrame deck(out.width, 4, pixels, frame_row);
        FrameDataWriter writer;
        writer.PutFrameData(&frame, &output, &deck, props, settings);
    }
    return 0;
}
