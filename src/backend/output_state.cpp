#include "backend/output_state.h"

#include <cstdio>

#include "com/ptr.h"
#include "formats/format_describe.h"
#include "formats/video_formats.h"

namespace orvex::backend {
namespace {

void Write(IMNode* root, const char16_t* state, const std::u16string& mode,
           const std::u16string& pixel, const std::u16string& audio, const std::u16string& error) {
    if (!root) return;
    root->AttributesSet(CComBSTR(u"output.state"), CComBSTR(state));
    root->AttributesSet(CComBSTR(u"output.mode"), CComBSTR(mode.c_str()));
    root->AttributesSet(CComBSTR(u"output.pixel_format"), CComBSTR(pixel.c_str()));
    root->AttributesSet(CComBSTR(u"output.audio"), CComBSTR(audio.c_str()));
    root->AttributesSet(CComBSTR(u"output.error"), CComBSTR(error.c_str()));
}

}  // namespace

void PublishOutputOpen(IMNode* root, const OutputDescription& output) {
    std::u16string mode(formats::VideoFormatShortName(output.video_format));
    if (!output.extra.empty()) mode += u" " + output.extra;
    const std::u16string audio =
        output.audio.nChannels > 0 ? formats::AudioFormatDescribe(output.audio) : u"none";
    Write(root, u"open", mode, output.pixel, audio, u"");
}

void PublishOutputClosed(IMNode* root) {
    Write(root, u"closed", u"", u"", u"", u"");
}

void PublishOutputFailed(IMNode* root, HRESULT error, const std::u16string& reason) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(error));
    std::u16string text;
    for (const char* c = code; *c; ++c) text += static_cast<char16_t>(*c);
    Write(root, u"failed", u"", u"", u"", text + u": " + reason);
}

}  // namespace orvex::backend
