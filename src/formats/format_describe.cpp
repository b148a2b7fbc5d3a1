#include "formats/format_describe.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>

#include "com/runtime.h"
#include "formats/image_format.h"
#include "formats/video_formats.h"

namespace orvex::formats {
namespace {

struct NamedCode {
    std::uint32_t code;
    std::u16string_view name;
};

// Codes whose bytes are not printable: Windows bitmap compressions and media subtypes.
constexpr NamedCode kPixelFormatNames[] = {
    {0, u"BI_RGB"},
    {1, u"BI_RLE8"},
    {2, u"BI_RLE4"},
    {3, u"BI_BITFIELDS"},
    {0xE436EB78, u"RGB1"},
    {0xE436EB79, u"RGB4"},
    {0xE436EB7A, u"RGB8"},
    {0xE436EB7B, u"RGB565"},
    {0xE436EB7C, u"RGB555"},
    {0xE436EB7D, u"RGB24"},
    {0xE436EB7E, u"RGB32"},
    {0x297C55AF, u"ARGB1555"},
    {0x6E6415E6, u"ARGB4444"},
    {0x773C9AC0, u"ARGB32"},
};

void AppendAscii(std::u16string& out, std::string_view text) {
    out.append(text.begin(), text.end());
}

// printf-style numbers, widened. 512 bytes hold any double in %.2f (at most 309 digits)
// with two ints; a fixed buffer also keeps std::string's out-of-line members out of this
// library, where they would shadow the shared C++ runtime for static archives linked after.
template <class... Args>
void AppendFormatted(std::u16string& out, const char* format, Args... args) {
    char text[512];
    const int n = std::snprintf(text, sizeof text, format, args...);
    if (n > 0) AppendAscii(out, std::string_view(text, std::min<std::size_t>(n, sizeof text - 1)));
}

// Completing a full record detects its format afresh, and detection never yields the 2K
// bases and reads full side-by-side sizes as the half packing. A record that still has the
// size, rate and field order of the format it names keeps that name in its description.
void KeepNamedFormat(const M_VID_PROPS& given, M_VID_PROPS& completed) {
    const eMVideoFormat named = given.eVideoFormat;
    if (named == eMVF_Custom || named == eMVF_Disabled || completed.eVideoFormat == named) return;
    const M_VID_PROPS table = VideoFormatDefaults(named, completed.fccType);
    if (!(table.dblRate > 0)) return;
    const bool sameSize = table.nWidth == completed.nWidth &&
                          std::llabs(table.nHeight) == std::llabs(completed.nHeight);
    const bool sameRate = std::fabs(table.dblRate - completed.dblRate) <= 0.01;
    const bool orderFits =
        completed.eInterlace == eMI_Default || completed.eInterlace == table.eInterlace;
    if (!sameSize || !sameRate || !orderFits) return;
    completed.eVideoFormat = named;
    completed.e3DFormat = table.e3DFormat;
}

}  // namespace

std::u16string PixelFormatText(eMFCC fcc) {
    const auto code = static_cast<std::uint32_t>(fcc);
    bool printable = true;
    std::u16string text;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<char16_t>((code >> (8 * i)) & 0xFF);
        printable = printable && byte >= 0x20 && byte < 0x7F;
        text.push_back(byte);
    }
    if (printable) return text;
    for (const auto& entry : kPixelFormatNames)
        if (entry.code == code) return std::u16string(entry.name);
    text.clear();
    AppendFormatted(text, "0x%X", code);
    return text;
}

std::u16string VideoFormatDescribe(const M_VID_PROPS& props) {
    M_VID_PROPS p = props;
    VideoPropsComplete(p, false);
    KeepNamedFormat(props, p);
    if (p.eVideoFormat == eMVF_Disabled) return u"<No Video>";
    if (!VideoPropsIsValid(p)) return u"<Auto/Not Specified>";

    std::u16string out;
    if (p.e3DFormat & (eM3D_SideBySide | eM3D_TopAndBottom)) {
        // Packings without a short name add nothing, not a stray blank.
        const std::u16string_view stereo = StereoShortName(p.e3DFormat);
        if (!stereo.empty()) {
            out.append(stereo);
            out.push_back(u' ');
        }
    }
    // Bases beyond the short-name list show no name rather than a lone blank.
    const std::u16string_view base = VideoFormatShortName(p.eVideoFormat);
    if (p.eVideoFormat != eMVF_Custom && !base.empty()) {
        out.append(base);
        out.push_back(u' ');
    }
    if (p.fccType != eMFCC_Default) {
        out.append(PixelFormatText(p.fccType));
        out.push_back(u' ');
    }
    AppendFormatted(out, "%dx%d@%.2f", p.nWidth, p.nHeight, p.dblRate);
    if (p.eInterlace != eMI_Default) out.append(InterlaceShortName(p.eInterlace));
    if (p.nAspectX != 0 && p.nAspectY != 0)
        AppendFormatted(out, " %d:%d", static_cast<int>(p.nAspectX), static_cast<int>(p.nAspectY));
    return out;
}

std::u16string AudioFormatDescribe(const M_AUD_PROPS& props) {
    if (props.nChannels < 0) return u"<No Audio>";
    if (!AudioPropsIsComplete(props)) return u"<Auto/Not Specified>";
    std::u16string out;
    AppendFormatted(out, "%d Hz, %d Ch, %d-bit", props.nSamplesPerSec, props.nChannels,
                    props.nBitsPerSample);
    return out;
}

HRESULT DescriptionToBstr(const std::u16string& text, BSTR* out) {
    if (!out) return S_OK;
    *out = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                             static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace orvex::formats
