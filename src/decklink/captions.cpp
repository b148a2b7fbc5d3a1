#include "decklink/captions.h"

#include <cstring>
#include <vector>

#include "com/ptr.h"
#include "decklink/cdp.h"
#include "decklink/timecode.h"
#include "decklink/vanc.h"

namespace orvex::decklink {
namespace {

struct Item {
    const BYTE* data = nullptr;
    LONG size = 0;
    explicit operator bool() const { return data && size > 0; }
};

Item ReadItem(IMFrame_I* frame, DWORD code) {
    Item item;
    if (FAILED(frame->FrameDataGet(code, &item.size, const_cast<BYTE**>(&item.data))) ||
        !item.data || item.size <= 0)
        return Item{};
    return item;
}

bool IsNtsc(int video_format) {
    const int base = video_format & 0xFF;
    return base >= eMVF_NTSC && base <= eMVF_NTSC_16x9;
}

constexpr std::size_t kAfterCdpMargin = 10;

}  // namespace

CaptionSettings ReadCaptionSettings(IMNode* root) {
    CaptionSettings s;
    if (!root) return s;
    int value = 0;
    if (root->AttributesGetBool(CComBSTR(u"output.timecode"), &value) == S_OK)
        s.timecode = value != 0;
    CComBSTR text;
    if (root->AttributesGet(CComBSTR(u"timecode_format"), &text) == S_OK)
        s.timecode_format = std::u16string(text.View());
    if (root->AttributesGetInt(CComBSTR(u"cc_output"), &value) == S_OK) s.cc_output = value;
    if (root->AttributesGetInt(CComBSTR(u"cc_line_sdi"), &value) == S_OK) s.cc_line_sdi = value;
    if (root->AttributesGetInt(CComBSTR(u"output.copy_vanc"), &value) == S_OK) s.copy_vanc = value;
    return s;
}

void WriteCaptionDefaults(IMNode* root) {
    if (!root) return;
    const CaptionSettings d;
    auto set_absent = [&](const char16_t* name, std::u16string_view value) {
        CComBSTR current;
        if (root->AttributesGet(CComBSTR(name), &current) == S_OK) return;
        root->AttributesSet(CComBSTR(name), CComBSTR(value));
    };
    set_absent(u"output.timecode", u"true");
    set_absent(u"timecode_format", d.timecode_format);
    set_absent(u"cc_output", u"7");
    set_absent(u"cc_line_sdi", u"9");
    set_absent(u"output.copy_vanc", u"2");
    set_absent(u"cc_offset_dword", u"0");
}

bool DrawsIntoPicture(IMFrame_I* frame, const M_VID_PROPS& output_props,
                      const CaptionSettings& settings) {
    return frame && IsNtsc(output_props.eVideoFormat) && (settings.cc_output & kCcLine21) &&
           ReadItem(frame, kItemC608);
}

FrameDataResult FrameDataWriter::PutCaptionPackets(std::uint8_t* line, std::size_t line_bytes,
                                                   const M_VID_PROPS& output_props, int cc_output,
                                                   const BYTE* c608, LONG c608_size,
                                                   const BYTE* c708, LONG c708_size,
                                                   const BYTE* ga94, LONG ga94_size) {
    FrameDataResult result;
    const int width = output_props.nWidth;
    const bool luma = UsesLumaPlacement(width);
    std::size_t offset = 0;
    if (cc_output & kCc708) {
        std::optional<std::vector<std::uint8_t>> cdp;
        bool numbered = false;
        if (c708 && c708_size > 0) {
            cdp = CdpFromC708(c708, static_cast<std::size_t>(c708_size));
        } else if (ga94 && ga94_size > 0) {
            // No CDP for a rate without a code: a reserved code makes receivers drop it.
            if (auto rate = CdpRateFor(OutputFrameRate(output_props))) {
                cdp = BuildCdpFromGa94(ga94, static_cast<std::size_t>(ga94_size), *rate,
                                       static_cast<std::uint16_t>(cdp_sequence_ + 1));
                numbered = cdp.has_value();
            }
        }
        if (cdp) {
            const auto packet = BuildAncPacket(kCaptionDid, kCdpSdid, cdp->data(), cdp->size());
            if (PlaceAncPacket(line, line_bytes, width, 0, packet, luma)) {
                result.cdp = true;
                offset = (cdp->size() + kAfterCdpMargin) & ~std::size_t{3};
                // The number is taken only by a CDP that goes out: a gap in the sequence
                // tells a receiver that one was lost.
                if (numbered) ++cdp_sequence_;
            }
        }
    }
    if ((cc_output & kCc608) && c608 && c608_size >= 2) {
        const std::uint8_t data[3] = {0x80, c608[0], c608[1]};
        const auto packet = BuildAncPacket(kCaptionDid, kCea608Sdid, data, 3);
        result.cea608 = PlaceAncPacket(line, line_bytes, width, offset, packet, luma);
    }
    return result;
}

FrameDataResult FrameDataWriter::PutFrameData(IMFrame_I* frame, IDeckLinkOutput_v9_9* output,
                                              IDeckLinkMutableVideoFrame* deck_frame,
                                              const M_VID_PROPS& output_props,
                                              const CaptionSettings& settings) {
    FrameDataResult result;
    if (!frame || !deck_frame) return result;
    // The card frame's width is the picture's, whatever the format table knows of the mode.
    M_VID_PROPS props = output_props;
    if (const std::int32_t width = deck_frame->GetWidth(); width > 0) props.nWidth = width;
    const Item c608 = ReadItem(frame, kItemC608);

    if (IsNtsc(props.eVideoFormat) && c608 && (settings.cc_output & kCcLine21))
        result.line21 =
            PutLine21(line21_, deck_frame, c608.data, static_cast<std::size_t>(c608.size));

    const Item c708 = ReadItem(frame, kItemC708);
    const Item ga94 = ReadItem(frame, kItemGA94);
    const Item vanc = ReadItem(frame, kItemVANC);
    const BMDPixelFormat pixel_format = deck_frame->GetPixelFormat();
    if (output && (c608 || c708 || ga94 || vanc) && pixel_format == bmdFormat10BitYUV &&
        (settings.cc_output & (kCc608 | kCc708))) {
        CComPtr<IDeckLinkVideoFrameAncillary> ancillary;
        if (SUCCEEDED(output->CreateAncillaryData(pixel_format, &ancillary)) && ancillary) {
            const std::size_t row_bytes = V210RowBytes(props.nWidth);
            if (settings.copy_vanc == 1 && vanc)
                result.vanc_records += CopyVancRecords(
                    vanc.data, static_cast<std::size_t>(vanc.size), ancillary, row_bytes);
            void* line = nullptr;
            if (settings.cc_line_sdi > 0 && row_bytes &&
                SUCCEEDED(ancillary->GetBufferForVerticalBlankingLine(
                    static_cast<unsigned>(settings.cc_line_sdi), &line)) &&
                line) {
                std::memset(line, 0, row_bytes);
                const FrameDataResult packets = PutCaptionPackets(
                    static_cast<std::uint8_t*>(line), row_bytes, props, settings.cc_output,
                    c608.data, c608.size, c708.data, c708.size, ga94.data, ga94.size);
                result.cdp = packets.cdp;
                result.cea608 = packets.cea608;
            }
            if (settings.copy_vanc >= 2 && vanc)
                result.vanc_records += CopyVancRecords(
                    vanc.data, static_cast<std::size_t>(vanc.size), ancillary, row_bytes);
            deck_frame->SetAncillaryData(ancillary);
        }
    }

    M_TIME time{};
    frame->FrameTimeGet(&time);
    result.timecode = PutTimecode(deck_frame, time, settings.timecode,
                                  TimecodeFormatFor(settings.timecode_format, props.eVideoFormat));
    return result;
}

}  // namespace orvex::decklink
