// The DeckLink renderer's frame path: opening the output in a frame's format (with every
// fallback the card may need), closing and reopening it, and bringing each picture into a
// card frame for the frame clock.
#include <array>
#include <cmath>
#include <cstring>

#include "backend/output_state.h"
#include "convert/convert.h"
#include "decklink/co_ox_renderer_bmd.h"
#include "decklink/frame_3d.h"
#include "decklink/output_modes.h"
#include "formats/video_formats.h"
#include "pipeline/time_corrector.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace {

using namespace orvex::decklink;
using orvex::backend::ParseScalingQuality;
using orvex::backend::ScaleMethod;
using orvex::platform::CRWSynchroLiteGuard;
using orvex::platform::LockMode;

// How long CreateVideoFrame is retried while the card holds every buffer: 100 × 10 ms.
constexpr int kCreateFrameTries = 100;
constexpr orvex::platform::Ticks kCreateFrameRetry = 10 * orvex::platform::kTicksPerMillisecond;
constexpr BMDVideoOutputFlags kAllOutputFlags =
    bmdVideoOutputVANC | bmdVideoOutputVITC | bmdVideoOutputRP188;

// Node reads (never IOXProps: see the lock order in card_control.h).
bool Found(IMNode* root, const char16_t* name, CComBSTR& text) {
    int found = 0;
    return root && SUCCEEDED(root->AttributesGetOrDefault(CComBSTR(name), &found, &text)) &&
           found && text;
}

bool ReadBool(IMNode* root, const char16_t* name, bool fallback) {
    CComBSTR text;
    if (!Found(root, name, text)) return fallback;
    int value = 0;
    return root->AttributesGetBool(CComBSTR(name), &value) == S_OK ? value != 0 : fallback;
}

double ReadDouble(IMNode* root, const char16_t* name) {
    CComBSTR text;
    if (!Found(root, name, text)) return 0.0;
    double value = 0.0;
    return root->AttributesGetDouble(CComBSTR(name), &value) == S_OK && std::isfinite(value) ? value
                                                                                             : 0.0;
}

bool AudioLayoutTaken(const M_AUD_PROPS& a) {
    if (a.nChannels == 0 && a.nSamplesPerSec == 0 && a.nBitsPerSample == 0) return true;
    return a.nSamplesPerSec == 48000 && (a.nBitsPerSample == 16 || a.nBitsPerSample == 32) &&
           (a.nChannels == 2 || a.nChannels == 8 || a.nChannels == 16);
}

bool Yuv8(eMFCC f) {
    return f == eMFCC_UYVY || f == eMFCC_HDYC;
}

// Same layout in memory (UYVY and HDYC differ only in their colour matrix).
bool SameLayout(eMFCC a, eMFCC b) {
    if (Yuv8(a) && Yuv8(b)) return true;
    const bool rgb32a = a == eMFCC_ARGB32 || a == eMFCC_RGB32;
    const bool rgb32b = b == eMFCC_ARGB32 || b == eMFCC_RGB32;
    return rgb32a ? rgb32b : a == b;
}

// The pixel formats to offer the card for `wanted`, best first: a card that refuses the one
// asked for plays the frames converted into one it takes, never in one it refuses. Keying
// needs alpha: BGRA alone.
std::array<BMDPixelFormat, 3> PixelChoices(BMDPixelFormat wanted, bool keying) {
    if (keying) return {bmdFormat8BitBGRA, 0, 0};
    switch (wanted) {
        case bmdFormat8BitBGRA:
        case bmdFormat8BitARGB:
            return {wanted, bmdFormat10BitYUV, bmdFormat8BitYUV};
        case bmdFormat10BitYUV:
        case bmdFormat10BitRGB:
            return {wanted, bmdFormat8BitYUV, bmdFormat8BitBGRA};
        default:
            return {bmdFormat8BitYUV, bmdFormat10BitYUV, bmdFormat8BitBGRA};
    }
}

std::u16string FourCC(std::uint32_t code) {
    std::u16string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text += static_cast<char16_t>((code >> shift) & 0xFF);
    return text;
}

// Fills size and rate from the format; a format the table cannot complete keeps its name,
// which is all the display mode needs.
void Normalise(M_VID_PROPS& v) {
    M_VID_PROPS completed = v;
    if (orvex::formats::VideoPropsComplete(completed, false) != eMVF_Custom) v = completed;
}

}  // namespace

void CCoOXRendererBMD::ReadFrameSettings() {
    IMNode* root = PropsRoot();
    noCopy_.store(ReadBool(root, u"optimization.no_copy", true), std::memory_order_relaxed);
    CComBSTR quality;
    const ScaleMethod m =
        ParseScalingQuality(Found(root, u"scaling_quality", quality) ? quality.View() : u"auto");
    scaling_.store(m.method | (m.field_wise_forced ? 0x100 : 0) | (m.automatic ? 0x200 : 0),
                   std::memory_order_relaxed);
    captionSettings_.store(std::make_shared<const orvex::decklink::CaptionSettings>(
        orvex::decklink::ReadCaptionSettings(root)));
}

void CCoOXRendererBMD::CountStat(const char16_t* name, std::int64_t* counter) {
    ++*counter;
    if (statNode_)
        statNode_->AttributesSetInt(CComBSTR(name), static_cast<int>(*counter & 0x7FFFFFFF));
}

HRESULT CCoOXRendererBMD::ProcessFrame(IMFrame_I* frame) {
    if (!frame) return E_POINTER;
    M_AV_PROPS props{};
    M_TIME time{};
    frame->FrameAVPropsGet(&props);
    frame->FrameTimeGet(&time);
    BYTE* video = nullptr;
    LONG videoBytes = 0;
    frame->FrameVideoGet(&video, &videoBytes);

    // Follow the frame's format unless the host fixed the output's.
    M_VID_PROPS fixedVideo{};
    if (FormatVideoGet(eMFT_Convert, &fixedVideo, nullptr, nullptr) != S_OK) {
        M_VID_PROPS v = props.vidProps;
        Normalise(v);
        const BMDDisplayMode mode = DisplayModeFor(v.eVideoFormat);
        const bool full3d = (v.eVideoFormat & kFull3DFlag) != 0;
        bool change = false;
        {
            CRWSynchroLiteGuard lock(cards_.Lock(), LockMode::kRead);
            const OutputState& st = cards_.State();
            BMDDisplayModeSupport support = bmdDisplayModeNotSupported;
            if (st.state == kOutputOpen && mode != 0 &&
                (mode != st.display_mode || full3d != st.dual_stream_3d) &&
                SUCCEEDED(
                    st.output->DoesSupportVideoMode(mode, st.pixel_format, 0, &support, nullptr)) &&
                support == bmdDisplayModeSupported)
                change = true;
        }
        if (change) CloseOutput();
    }
    M_AUD_PROPS fixedAudio{};
    if (FormatAudioGet(eMFT_Convert, &fixedAudio, nullptr, nullptr) != S_OK &&
        AudioLayoutTaken(props.audProps)) {
        bool change = false;
        {
            CRWSynchroLiteGuard lock(cards_.Lock(), LockMode::kRead);
            change =
                cards_.State().state == kOutputOpen && props.audProps.nChannels > audioChannels_;
        }
        if (change) CloseOutput();
    }

    {
        CRWSynchroLiteGuard lock(cards_.Lock(), LockMode::kWrite);
        if (cards_.State().state == kDeviceChosen) {
            const double offset = ReadDouble(PropsRoot(), u"time-offset");
            inputClock_.ResetTime(
                static_cast<double>(orvex::pipeline::RoundTicks(offset * 10'000'000.0)));
            HRESULT hr = OpenOutputLocked((time.eFFlags & eMFF_Live) != 0, &props);
            if (FAILED(hr)) {
                FrameLost();  // the output did not open for it
                return hr;
            }
            cards_.State().state = kOutputOpen;
        }
    }

    CRWSynchroLiteGuard lock(cards_.Lock(), LockMode::kRead);
    if (video && videoBytes > 1) {
        bool shown = false;
        if (cards_.State().state == kOutputOpen) {
            M_TIME corrected{};
            inputClock_.CorrectTime(&corrected, &props.vidProps, &time, 100'000);
            ConvertAndOutputFrame(&props.vidProps, &corrected, frame, &shown);
        }
        if (!shown) FrameLost();
    }
    return S_OK;
}

HRESULT CCoOXRendererBMD::OpenOutput(bool live, const M_AV_PROPS* requested) {
    CRWSynchroLiteGuard lock(cards_.Lock(), LockMode::kWrite);
    return OpenOutputLocked(live, requested);
}

HRESULT CCoOXRendererBMD::OpenOutputLocked(bool, const M_AV_PROPS* requested) {
    OutputState& st = cards_.State();
    if (!st.output || !requested) {
        orvex::backend::PublishOutputFailed(PropsRoot(), E_NO_DEVICE_OPEN, u"no card is chosen");
        return E_NO_DEVICE_OPEN;
    }
    IDeckLinkOutput_v9_9* output = st.output;
    IMNode* root = PropsRoot();
    ReadFrameSettings();

    M_AV_PROPS av = *requested;
    av.audProps.nChannels = 16;
    Normalise(av.vidProps);
    st.display_mode = bmdModeNTSC;
    st.pixel_format = bmdFormat8BitYUV;
    st.dual_stream_3d = false;
    M_VID_PROPS fixedVideo{};
    if (FormatVideoGet(eMFT_Convert, &fixedVideo, nullptr, nullptr) == S_OK)
        av.vidProps = fixedVideo;
    M_AUD_PROPS fixedAudio{};
    if (FormatAudioGet(eMFT_Convert, &fixedAudio, nullptr, nullptr) == S_OK)
        av.audProps = fixedAudio;
    if (av.vidProps.eVideoFormat == eMVF_Custom)
        av.vidProps.eVideoFormat = orvex::formats::VideoFormatDetect(av.vidProps, false);

    BMDDisplayMode mode = DisplayModeFor(av.vidProps.eVideoFormat);
    bool dual = (av.vidProps.eVideoFormat & kFull3DFlag) != 0;
    const bool tenBit = ReadBool(root, u"output.10bit", false);
    BMDPixelFormat pixel = PixelFormatFor(av.vidProps.fccType, tenBit, st.keying_active);
    const int base = av.vidProps.eVideoFormat & 0xFF;
    const bool sd16x9 = base == eMVF_NTSC_16x9 || base == eMVF_PAL_16x9;

    output->DisableVideoOutput();
    if (st.configuration)
        st.configuration->SetFlag(bmdDeckLinkConfigLowLatencyVideoOutput,
                                  ReadBool(root, u"experimental.low_delay", true));
    if (ReadBool(root, u"optimization.own_buffer", true)) {
        output->SetVideoOutputFrameMemoryAllocator(allocator_);
        callbacks_->SetOutput(output, root);
        output->SetScheduledFrameCompletionCallback(callbacks_);
    }

    BMDVideoOutputFlags flags = kAllOutputFlags | (dual ? bmdVideoOutputDualStream3D : 0);
    const auto choices = PixelChoices(pixel, st.keying_active);
    for (;;) {
        BMDPixelFormat taken = 0;
        for (BMDPixelFormat p : choices) {
            BMDDisplayModeSupport support = bmdDisplayModeNotSupported;
            if (p && SUCCEEDED(output->DoesSupportVideoMode(mode, p, flags, &support, nullptr)) &&
                support == bmdDisplayModeSupported) {
                taken = p;
                break;
            }
        }
        if (taken && SUCCEEDED(output->EnableVideoOutput(mode, flags))) {
            pixel = taken;
            break;
        }
        if (flags & bmdVideoOutputDualStream3D) {
            flags &= ~bmdVideoOutputDualStream3D;
            dual = false;
        } else if (flags & bmdVideoOutputRP188) {
            flags &= ~bmdVideoOutputRP188;
        } else if (flags & bmdVideoOutputVANC) {
            flags &= ~bmdVideoOutputVANC;
        } else if (flags & bmdVideoOutputVITC) {
            flags &= ~bmdVideoOutputVITC;
        } else if (mode == bmdMode2k2398) {
            mode = bmdModeHD1080p2398;
        } else if (mode == bmdMode2k24) {
            mode = bmdModeHD1080p24;
        } else if (mode == bmdMode2k25) {
            mode = bmdModeHD1080p25;
        } else if (mode != bmdModeNTSC) {
            mode = bmdModeNTSC;
        } else {
            output->SetVideoOutputFrameMemoryAllocator(nullptr);
            output->SetScheduledFrameCompletionCallback(nullptr);
            orvex::backend::PublishOutputFailed(
                root, E_NO_USABLE_MODE,
                u"the card plays no display mode for " +
                    std::u16string(
                        orvex::formats::VideoFormatShortName(requested->vidProps.eVideoFormat)) +
                    u" in 8-bit or 10-bit YUV or BGRA, nor NTSC");
            return E_NO_USABLE_MODE;
        }
    }

    audioBits_ = av.audProps.nBitsPerSample ? av.audProps.nBitsPerSample : 16;
    audioChannels_ = av.audProps.nChannels ? av.audProps.nChannels : 16;
    while (audioChannels_ > 0) {
        const BMDAudioSampleType type =
            audioBits_ <= 16 ? bmdAudioSampleType16bitInteger : bmdAudioSampleType32bitInteger;
        if (SUCCEEDED(output->EnableAudioOutput(bmdAudioSampleRate48kHz, type,
                                                static_cast<unsigned>(audioChannels_),
                                                bmdAudioOutputStreamContinuous)))
            break;
        if (audioBits_ != 16) {
            audioBits_ = 16;
        } else if (audioChannels_ > 2 && audioChannels_ % 8 != 0) {
            audioChannels_ = (audioChannels_ + 7) / 8 * 8;
        } else if (audioChannels_ > 2 && audioChannels_ != 8) {
            audioChannels_ = 8;
        } else if (audioChannels_ == 8) {
            audioChannels_ = 2;
        } else {
            // Nothing of the video is left behind either.
            output->SetAudioCallback(nullptr);
            output->DisableVideoOutput();
            output->SetVideoOutputFrameMemoryAllocator(nullptr);
            output->SetScheduledFrameCompletionCallback(nullptr);
            orvex::backend::PublishOutputFailed(
                root, E_NO_USABLE_MODE,
                u"the card takes no audio layout (2, 8 or 16 channels of 16 or "
                u"32 bits at 48 kHz)");
            return E_NO_USABLE_MODE;
        }
    }
    if (audioChannels_ > 0) output->SetAudioCallback(callbacks_);

    M_AV_PROPS out{};
    out.vidProps = OutputVideoProps(mode, pixel, sd16x9);
    if (audioChannels_ > 0) {
        out.audProps.nChannels = audioChannels_;
        out.audProps.nSamplesPerSec = 48000;
        out.audProps.nBitsPerSample = audioBits_ <= 16 ? 16 : 32;
    }
    st.display_mode = mode;
    st.pixel_format = pixel;
    st.dual_stream_3d = dual;
    st.sd16x9 = sd16x9;
    directOut_->Attach(st.device, &out, root);
    if (st.configuration) st.configuration->SetFlag(bmdDeckLinkConfigLowLatencyVideoOutput, TRUE);
    cards_.ApplyConnectorsLocked(root);
    orvex::backend::PublishOutputOpen(
        root, {VideoFormatFor(mode), dual ? u"3D" : u"", FourCC(pixel), out.audProps});
    return S_OK;
}

CCoOXRendererBMD::OutputInfo CCoOXRendererBMD::CurrentOutput() {
    CRWSynchroLiteGuard lock(cards_.Lock(), LockMode::kRead);
    const OutputState& st = cards_.State();
    return OutputInfo{st.state,          st.display_mode, st.pixel_format,
                      st.dual_stream_3d, audioBits_,      audioChannels_};
}

void CCoOXRendererBMD::CloseOutput() {
    // The last frame goes on air before the output closes under it.
    directOut_->WaitUntilShown();
    CRWSynchroLiteGuard lock(cards_.Lock(), LockMode::kWrite);
    const bool was_open = cards_.State().state == kOutputOpen;
    cards_.CloseOutputLocked();
    callbacks_->SetOutput(nullptr, nullptr);
    if (was_open) orvex::backend::PublishOutputClosed(PropsRoot());
}

HRESULT CCoOXRendererBMD::CreateCardFrame(IDeckLinkOutput_v9_9* output, int width, int height,
                                          int rowBytes, BMDPixelFormat format,
                                          IDeckLinkMutableVideoFrame** out) {
    // The pool may be empty for a moment while the card shows its frames; a card that never
    // gives a buffer back (removed, closing) ends the wait with the error.
    HRESULT hr = E_OUTOFMEMORY;
    for (int attempt = 0; attempt < kCreateFrameTries; ++attempt) {
        hr = output->CreateVideoFrame(width, height, rowBytes, format, bmdFrameFlagDefault, out);
        if (hr != E_OUTOFMEMORY) break;
        if (*out) {
            (*out)->Release();
            *out = nullptr;
        }
        orvex::platform::SleepFor(kCreateFrameRetry);
    }
    if (hr == E_OUTOFMEMORY) CountStat(u"bmd.no_buffer", &noBuffer_);
    return hr;
}

HRESULT CCoOXRendererBMD::ConvertAndOutputFrame(const M_VID_PROPS* frameVideo,
                                                const M_TIME* inputTime, IMFrame_I* frame,
                                                bool* shown) {
    const OutputState& st = cards_.State();
    if (!st.output || st.state != kOutputOpen) return E_OUTPUT_NOT_RUNNING;
    thread_local bool raised = false;
    if (!raised)
        raised = orvex::platform::Thread::SetCurrentPriority(
            orvex::platform::ThreadPriority::kTimeCritical);

    M_VID_PROPS target = OutputVideoProps(st.display_mode, st.pixel_format, st.sd16x9);
    if (target.fccType == eMFCC_HDYC) target.fccType = eMFCC_UYVY;
    if (st.dual_stream_3d) {
        target.nHeight *= 2;
        target.e3DFormat = static_cast<eM3DFormat>(target.e3DFormat | 0x1400);
    }
    const int height = std::abs(target.nHeight);

    BYTE* video = nullptr;
    LONG videoBytes = 0;
    frame->FrameVideoGet(&video, &videoBytes);
    M_VID_PROPS source = *frameVideo;
    if (source.nRowBytes <= 0) source.nRowBytes = orvex::formats::RowBytesMin(source);
    // The picture must lie inside the frame's buffer before anything reads it.
    if (!video || source.nWidth <= 0 || source.nHeight == 0 || source.nRowBytes <= 0 ||
        static_cast<std::int64_t>(source.nRowBytes) * std::abs(source.nHeight) > videoBytes ||
        source.nRowBytes < orvex::formats::RowBytesMin(source))
        return E_INVALIDARG;

    const auto captionSettings = captionSettings_.load();
    const orvex::decklink::CaptionSettings& captions = *captionSettings;
    const bool divideAlpha = source.fccType == eMFCC_ARGB32 && st.keying_active;
    const bool rgb = source.fccType == eMFCC_ARGB32 || source.fccType == eMFCC_RGB32;
    // Dividing by alpha in place would change the host's own picture: such frames are copied.
    // Line 21 is drawn into the picture: never into the host's own.
    const bool zeroCopy = !divideAlpha && noCopy_.load(std::memory_order_relaxed) &&
                          !orvex::decklink::DrawsIntoPicture(frame, target, captions) &&
                          source.nWidth == target.nWidth && std::abs(source.nHeight) == height &&
                          SameLayout(source.fccType, target.fccType) &&
                          (!rgb || (source.nHeight < 0) == (target.nHeight < 0)) &&
                          (source.e3DFormat & 0x1600) == (target.e3DFormat & 0x1600);
    int rowBytes = CardRowBytes(st.pixel_format, target.nWidth);
    if (zeroCopy && allocator_->ArmZeroCopy(frame)) rowBytes = source.nRowBytes;

    CComPtr<IDeckLinkMutableVideoFrame> cardFrame;
    HRESULT hr =
        CreateCardFrame(st.output, target.nWidth, height, rowBytes, st.pixel_format, &cardFrame);
    allocator_->Disarm();  // a frame the card did not take is not kept
    if (FAILED(hr)) return hr;
    if (!cardFrame) return E_UNEXPECTED;

    void* bytes = nullptr;
    if (FAILED(hr = cardFrame->GetBytes(&bytes)) || !bytes) return FAILED(hr) ? hr : E_UNEXPECTED;
    if (bytes != video) {
        M_VID_PROPS dest = target;
        dest.nRowBytes = cardFrame->GetRowBytes();
        const int q = scaling_.load(std::memory_order_relaxed);
        ScaleMethod method;
        method.method = q & 0xFF;
        method.field_wise_forced = (q & 0x100) != 0;
        method.automatic = (q & 0x200) != 0;
        auto* out = static_cast<std::uint8_t*>(bytes);
        if (st.pixel_format == bmdFormat10BitYUV &&
            (source.nWidth != target.nWidth || std::abs(source.nHeight) != height ||
             !Yuv8(source.fccType))) {
            // Into 8-bit 4:2:2 of the output size first, then into v210.
            M_VID_PROPS mid = target;
            mid.fccType = height < 626 ? eMFCC_UYVY : eMFCC_HDYC;
            mid.nHeight = height;
            mid.nRowBytes = orvex::formats::RowBytesFor(mid.fccType, target.nWidth);
            const std::size_t size = static_cast<std::size_t>(mid.nRowBytes) * height;
            if (twoStep_.size() < size) twoStep_.resize(size);
            hr = scaler_.Convert(video, source, twoStep_.data(), mid, method);
            if (SUCCEEDED(hr) &&
                orvex::convert::ConvertStripes(twoStep_.data(), out, mid, dest, 1) !=
                    orvex::convert::ConvertStatus::kDone)
                hr = E_INVALIDARG;
        } else {
            hr = scaler_.Convert(video, source, out, dest, method);
        }
        if (FAILED(hr)) return hr;
        if (divideAlpha) DivideByAlpha(out, target.nWidth, height, dest.nRowBytes);
    }

    captions_.PutFrameData(frame, st.output, cardFrame, target, captions);

    CComPtr<IDeckLinkVideoFrame> card;
    if (st.dual_stream_3d) {
        if (const HRESULT made = Create3DFrame(&card, cardFrame, nullptr); FAILED(made))
            return made;
    } else {
        card = cardFrame.p;
    }

    M_AV_PROPS frameProps{};
    frame->FrameAVPropsGet(&frameProps);
    BYTE* audio = nullptr;
    LONG audioBytes = 0;
    if ((inputTime->eFFlags & eMFF_Pause) != eMFF_Pause) frame->FrameAudioGet(&audioBytes, &audio);
    return directOut_->OutputFrame(frame, card, &frameProps.audProps, audio,
                                   audio ? static_cast<int>(audioBytes) : 0, statNode_, 0, shown);
}
