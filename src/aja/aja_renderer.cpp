#include "aja/aja_renderer.h"

#include <algorithm>
#include <vector>

#include "aja/ntv2/ntv2devicefeatures.h"
#include "aja/ntv2/ntv2rp188.h"
#include "aja/ntv2/ntv2signalrouter.h"
#include "aja/ntv2/ntv2utils.h"
#include "formats/video_formats.h"
#include "orvex/ids.h"
#include "pipeline/receiver_impl.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace orvex::aja {
namespace {

constexpr HRESULT kDeviceInUse = HRESULT_FROM_WIN32(2404);  // 0x80070964
constexpr platform::Ticks kMailboxWait = 500 * platform::kTicksPerMillisecond;
constexpr int kRingFrames = 7;
constexpr platform::Ticks kFrameWait = 20 * platform::kTicksPerMillisecond;

struct FormatRow {
    eMVideoFormat source;
    NTV2VideoFormat ntv2;
    TimecodeFormat tc;
    bool dropFrameCapable;
};

// eMVideoFormat (low 8 bits) to NTV2 format and timecode format. UHD 50/59.94/60p are played
// as the boards' 4x1920x1080 high-rate formats.
constexpr FormatRow kFormats[] = {
    {eMVF_NTSC, NTV2_FORMAT_525_5994, kTCFormat30fps, true},
    {eMVF_NTSC_16x9, NTV2_FORMAT_525_5994, kTCFormat30fps, true},
    {eMVF_NTSC_2398, NTV2_FORMAT_525_2398, kTCFormat24fps, false},
    {eMVF_PAL, NTV2_FORMAT_625_5000, kTCFormat25fps, false},
    {eMVF_PAL_16x9, NTV2_FORMAT_625_5000, kTCFormat25fps, false},
    {eMVF_HD720_50p, NTV2_FORMAT_720p_5000, kTCFormat50fps, false},
    {eMVF_HD720_5994p, NTV2_FORMAT_720p_5994, kTCFormat60fps, true},
    {eMVF_HD720_60p, NTV2_FORMAT_720p_6000, kTCFormat60fps, false},
    {eMVF_HD1080_2398p, NTV2_FORMAT_1080p_2398, kTCFormat24fps, false},
    {eMVF_HD1080_24p, NTV2_FORMAT_1080p_2400, kTCFormat24fps, false},
    {eMVF_HD1080_25p, NTV2_FORMAT_1080p_2500, kTCFormat25fps, false},
    {eMVF_HD1080_2997p, NTV2_FORMAT_1080p_2997, kTCFormat30fps, true},
    {eMVF_HD1080_30p, NTV2_FORMAT_1080p_3000, kTCFormat30fps, false},
    {eMVF_HD1080_50i, NTV2_FORMAT_1080i_5000, kTCFormat25fps, false},
    {eMVF_HD1080_5994i, NTV2_FORMAT_1080i_5994, kTCFormat30fps, true},
    {eMVF_HD1080_60i, NTV2_FORMAT_1080i_6000, kTCFormat30fps, false},
    {eMVF_HD1080_50p, NTV2_FORMAT_1080p_5000_A, kTCFormat50fps, false},
    {eMVF_HD1080_5994p, NTV2_FORMAT_1080p_5994_A, kTCFormat60fps, true},
    {eMVF_HD1080_60p, NTV2_FORMAT_1080p_6000_A, kTCFormat60fps, false},
    {eMVF_2K_2398p, NTV2_FORMAT_2K_2398, kTCFormat24fps, false},
    {eMVF_2K_24p, NTV2_FORMAT_2K_2400, kTCFormat24fps, false},
    {eMVF_2K_25p, NTV2_FORMAT_2K_2500, kTCFormat25fps, false},
    {eMVF_4K_UHD_2398p, NTV2_FORMAT_4x1920x1080p_2398, kTCFormat24fps, false},
    {eMVF_4K_UHD_24p, NTV2_FORMAT_4x1920x1080p_2400, kTCFormat24fps, false},
    {eMVF_4K_UHD_25p, NTV2_FORMAT_4x1920x1080p_2500, kTCFormat25fps, false},
    {eMVF_4K_UHD_2997p, NTV2_FORMAT_4x1920x1080p_2997, kTCFormat30fps, true},
    {eMVF_4K_UHD_30p, NTV2_FORMAT_4x1920x1080p_3000, kTCFormat30fps, false},
    {eMVF_4K_DCI_2398p, NTV2_FORMAT_4x2048x1080p_2398, kTCFormat24fps, false},
    {eMVF_4K_DCI_24p, NTV2_FORMAT_4x2048x1080p_2400, kTCFormat24fps, false},
    {eMVF_4K_DCI_25p, NTV2_FORMAT_4x2048x1080p_2500, kTCFormat25fps, false},
    {eMVF_4K_UHD_50p, NTV2_FORMAT_4x1920x1080p_5000, kTCFormat50fps, false},
    {eMVF_4K_UHD_5994p, NTV2_FORMAT_4x1920x1080p_5994, kTCFormat60fps, true},
    {eMVF_4K_UHD_60p, NTV2_FORMAT_4x1920x1080p_6000, kTCFormat60fps, false},
};

const FormatRow* RowFor(eMVideoFormat format) {
    const auto base = static_cast<eMVideoFormat>(static_cast<std::uint32_t>(format) & 0xFF);
    for (const FormatRow& r : kFormats)
        if (r.source == base) return &r;
    return nullptr;
}

NTV2ReferenceSource ReferenceFor(std::u16string_view text) {
    struct Ref {
        const char16_t* name;
        NTV2ReferenceSource source;
    };
    static constexpr Ref kRefs[] = {
        {u"external", NTV2_REFERENCE_EXTERNAL},   {u"sdi1", NTV2_REFERENCE_INPUT1},
        {u"sdi2", NTV2_REFERENCE_INPUT2},         {u"freerun", NTV2_REFERENCE_FREERUN},
        {u"analog", NTV2_REFERENCE_ANALOG_INPUT}, {u"hdmi", NTV2_REFERENCE_HDMI_INPUT},
    };
    for (const Ref& r : kRefs)
        if (platform::EqualsNoCase(text, r.name)) return r.source;
    return NTV2_REFERENCE_FREERUN;
}

}  // namespace

NTV2VideoFormat NTV2FormatFor(eMVideoFormat format) {
    const FormatRow* r = RowFor(format);
    return r ? r->ntv2 : NTV2_FORMAT_UNKNOWN;
}

TimecodeFormat TimecodeFormatFor(eMVideoFormat format, bool dropFrame) {
    const FormatRow* r = RowFor(format);
    if (!r) return kTCFormatUnknown;
    if (dropFrame && r->dropFrameCapable)
        return r->tc == kTCFormat60fps ? kTCFormat60fpsDF : kTCFormat30fpsDF;
    return r->tc;
}

AJARenderer::AJARenderer(const std::atomic<int>* driverBuffers)
    : driverBuffers_(driverBuffers), audio_(new pipeline::MAudioBuffer2()) {}

AJARenderer::~AJARenderer() {
    Stop();
    card_.Close();
    if (audio_) audio_->Release();
}

int AJARenderer::ReadInt(const char16_t* name, int fallback) {
    const std::u16string text = ReadText(name);
    return text.empty() ? fallback : pipeline::ParseIntProperty(text, fallback);
}

bool AJARenderer::ReadBool(const char16_t* name, bool fallback) {
    const std::u16string text = ReadText(name);
    if (platform::EqualsNoCase(text, u"true") || text == u"1") return true;
    if (platform::EqualsNoCase(text, u"false") || text == u"0") return false;
    return fallback;
}

std::u16string AJARenderer::ReadText(const char16_t* name) {
    if (!props_) return {};
    int found = 0;
    CComBSTR value;
    if (FAILED(props_->AttributesGetOrDefault(CComBSTR(name), &found, &value)) || !found || !value)
        return {};
    return std::u16string(value.View());
}

HRESULT AJARenderer::Attach(int boardIndex, int channel) {
    CNTV2DeviceScanner scanner;
    if (boardIndex < 0 || static_cast<std::size_t>(boardIndex) >= scanner.GetNumDevices())
        return E_INVALID_INDEX;
    if (!scanner.GetDeviceInfo(static_cast<ULWord>(boardIndex), info_)) return E_FAIL;
    if (channel < 0 || channel >= NTV2DeviceGetNumFrameStores(info_.deviceID) || channel >= 8)
        return E_INVALIDARG;
    if (!card_.Open(static_cast<UWord>(boardIndex))) return E_FAIL;
    card_.SetEveryFrameServices(NTV2_OEM_TASKS);
    boardIndex_ = boardIndex;
    channel_ = channel;
    audioSystem_ = channel < NTV2DeviceGetNumAudioSystems(info_.deviceID)
                       ? static_cast<NTV2AudioSystem>(channel)
                       : NTV2_AUDIOSYSTEM_1;
    return S_OK;
}

int AJARenderer::SetUp(const M_AV_PROPS* props) {
    const NTV2DeviceID id = info_.deviceID;
    const auto ch = static_cast<NTV2Channel>(channel_);
    // 1. Multi-format.
    multiFormat_ = false;
    if (NTV2DeviceCanDoMultiFormat(id)) {
        card_.SetMultiFormatMode(ReadBool(u"multiformat", true));
        bool on = false;
        if (card_.GetMultiFormatMode(on)) multiFormat_ = on;
    }
    // 2. Format and its claim.
    const NTV2VideoFormat format = NTV2FormatFor(props->vidProps.eVideoFormat);
    if (format == NTV2_FORMAT_UNKNOWN || !NTV2DeviceCanDoVideoFormat(id, format))
        return kSetUpNoSuchFormat;
    formatLock_ = ClaimFormat(info_.deviceIdentifier, FormatLockNumber(format, multiFormat_));
    if (!formatLock_) return kSetUpLockRefused;
    videoFormat_ = format;
    sourceFormat_ = props->vidProps.eVideoFormat;
    // 3. Channel 1's rate follows the new family.
    const NTV2FrameRate rate = GetNTV2FrameRateFromVideoFormat(format);
    if (multiFormat_) {
        NTV2FrameRate first = NTV2_FRAMERATE_UNKNOWN;
        if (card_.GetFrameRate(first, NTV2_CHANNEL1) && RateFamily(first) != RateFamily(rate) &&
            ch != NTV2_CHANNEL1)
            card_.SetFrameRate(rate, NTV2_CHANNEL1);
    }
    // 4, 5. Format and frame buffer. Each channel keeps its own frame store, ring and
    // routing; without multi-format the board applies one format to all of them.
    if (!card_.SetVideoFormat(format, false, false, ch)) return kSetUpNoSuchFormat;
    frameBufferFormat_ = NTV2_FBF_8BIT_YCBCR;
    if (!card_.SetFrameBufferFormat(ch, frameBufferFormat_)) return kSetUpFailed;
    // 6. Reference, free-run when the board refuses the one asked for.
    if (!card_.SetReference(ReferenceFor(ReadText(u"ref-in"))) &&
        !card_.SetReference(NTV2_REFERENCE_FREERUN))
        return kSetUpFailed;
    // 7. Enable the channel.
    if (!card_.EnableChannel(ch)) return kSetUpFailed;
    // 8. VANC for HD, SD and 2K 1080p formats only.
    // HD, SD and 2K 1080p rasters carry VANC; UHD and film 2K do not.
    const NTV2FrameGeometry geometry = GetNTV2FrameGeometryFromVideoFormat(format);
    const bool vancFormat = geometry == NTV2_FG_1920x1080 || geometry == NTV2_FG_1280x720 ||
                            geometry == NTV2_FG_720x486 || geometry == NTV2_FG_720x576 ||
                            geometry == NTV2_FG_2048x1080;
    if (ReadBool(u"vanc.enabled", false) && !NTV2_IS_FBF_RGB(frameBufferFormat_) && vancFormat) {
        card_.SetEnableVANCData(true, ReadBool(u"vanc.wide", false), ch);
        if (NTV2_IS_FBF_8BIT(frameBufferFormat_))
            card_.SetVANCShiftMode(ch, NTV2_VANCDATA_8BITSHIFT_ENABLE);
    } else {
        card_.SetEnableVANCData(false, false, ch);
    }
    // 9. The output interrupt, or polling.
    noVbiWait_ = !card_.SubscribeOutputVerticalEvent(ch);
    // 10. Frame size with the VANC state as the board holds it.
    bool vanc = false, wide = false;
    card_.GetEnableVANCData(vanc, wide, ch);
    frameSize_ = GetVideoActiveSize(format, frameBufferFormat_, vanc, wide);
    if (!frameSize_) return kSetUpFailed;
    // 11. Audio.
    const ULWord channels = NTV2DeviceGetMaxAudioChannels(id);
    const auto own = static_cast<NTV2AudioSystem>(channel_);
    const NTV2AudioRate audioRate =
        props->audProps.nSamplesPerSec <= 48000 ? NTV2_AUDIO_48K : NTV2_AUDIO_96K;
    if (!card_.SetNumberAudioChannels(channels, own))
        card_.SetNumberAudioChannels(channels, NTV2_AUDIOSYSTEM_1);
    if (!card_.SetAudioRate(audioRate, own)) card_.SetAudioRate(audioRate, NTV2_AUDIOSYSTEM_1);
    card_.SetAudioBufferSize(NTV2_AUDIO_BUFFER_BIG, own);
    card_.SetAudioBufferSize(NTV2_AUDIO_BUFFER_BIG, NTV2_AUDIOSYSTEM_1);
    card_.SetSDIOutputAudioSystem(ch, audioSystem_);
    card_.SetAudioLoopBack(NTV2_AUDIO_LOOPBACK_OFF, own);
    NTV2AudioRate actual = NTV2_AUDIO_48K;
    card_.GetAudioRate(actual, audioSystem_);
    const bool at96 = actual == NTV2_AUDIO_96K;
    audioProps_ = M_AUD_PROPS{static_cast<int>(channels), at96 ? 96000 : 48000, 32, 0};
    audioTransferSize_ = at96 ? 410624 : 205824;
    // 12. Routing through the frame store's YCbCr output (no converter for 8-bit YCbCr).
    CNTV2SignalRouter router;
    const bool rgb = NTV2_IS_FBF_RGB(frameBufferFormat_);
    NTV2OutputXptID source = GetFrameBufferOutputXptFromChannel(ch, rgb);
    if (rgb) {
        router.AddConnection(GetCSCInputXptFromChannel(ch), source);
        source = GetCSCOutputXptFromChannel(ch);
    }
    if (ch < NTV2DeviceGetNumVideoOutputs(id))
        router.AddConnection(GetSDIOutputInputXpt(ch), source);
    if (ReadBool(u"hdmi-out", true) && NTV2DeviceGetNumHDMIVideoOutputs(id) > 0)
        router.AddConnection(NTV2_XptHDMIOutInput, source);
    if (ReadBool(u"analog-out", true) && NTV2DeviceCanDoAnalogVideoOut(id))
        router.AddConnection(NTV2_XptAnalogOutInput, source);
    if (!card_.ApplySignalRoute(router, false)) return kSetUpFailed;
    if (ch < NTV2DeviceGetNumVideoOutputs(id)) {
        card_.SetSDIOutputStandard(static_cast<UWord>(ch), GetNTV2StandardFromVideoFormat(format));
        if (NTV2DeviceHasBiDirectionalSDI(id)) card_.SetSDITransmitEnable(ch, true);
    }
    // 13. The ring: seven frames per channel, lowered to what the board's memory holds.
    crosspoint_ = NTV2ChannelToOutputCrosspoint(ch);
    card_.StopAutoCirculate(crosspoint_);
    transfer_ = AUTOCIRCULATE_TRANSFER_STRUCT{};
    transferStatus_ = AUTOCIRCULATE_TRANSFER_STATUS_STRUCT{};
    transfer_.channelSpec = crosspoint_;
    transfer_.videoBufferSize = frameSize_;
    transfer_.videoDmaOffset = 0;
    transfer_.audioBufferSize = audioTransferSize_;
    transfer_.frameRepeatCount = 1;
    transfer_.desiredFrame = -1;
    transfer_.frameBufferFormat = frameBufferFormat_;
    transfer_.bDisableExtraAudioInfo = true;
    LWord first = channel_ * kRingFrames;
    LWord last = first + kRingFrames - 1;
    const LWord frames = static_cast<LWord>(NTV2DeviceGetNumberFrameBuffers(
        id, GetNTV2FrameGeometryFromVideoFormat(format), frameBufferFormat_));
    if (last >= frames) {
        last = frames - 1;
        first = std::min(first, last - 2);
    }
    if (first < 0) return kSetUpFailed;
    if (!card_.InitAutoCirculate(crosspoint_, first, last, 1, audioSystem_, true, true, false, true,
                                 false, false, false, true))
        return kSetUpFailed;
    return kSetUpReady;
}

bool AJARenderer::IsActive() {
    AUTOCIRCULATE_STATUS_STRUCT status{};
    if (!card_.GetAutoCirculate(crosspoint_, &status)) return false;
    return status.state != NTV2_AUTOCIRCULATE_DISABLED &&
           status.state != NTV2_AUTOCIRCULATE_STOPPING;
}

void AJARenderer::Count(std::atomic<int>& counter, const CComBSTR& name) {
    const int value = counter.fetch_add(1, std::memory_order_relaxed) + 1;
    if (stat_) stat_->AttributesSetInt(name, value & 0x7FFFFFFF);
}

HRESULT AJARenderer::Open(const M_AV_PROPS* props, IMNode* node) {
    Stop();
    props_ = node;
    stat_.Release();
    if (node) node->NodeChildGet(CComBSTR(u"stat"), 1, &stat_);
    if (stat_) {
        // Published from the first open, so a host finds every figure.
        stat_->AttributesSetInt(framesName_, framesTransferred_.load());
        stat_->AttributesSetInt(droppedName_, framesDropped_.load());
        stat_->AttributesSetInt(errorsName_, transferErrors_.load());
        stat_->AttributesSetInt(realignedName_, audioRealigned_.load());
        stat_->AttributesSetInt(realignDroppedName_, audioRealignDropped_.load());
    }
    if (!props) return E_NO_USABLE_MODE;
    const M_VID_PROPS& v = props->vidProps;
    if (v.eVideoFormat == eMVF_Custom) return E_NO_USABLE_MODE;
    if (v.eVideoFormat == eMVF_Disabled &&
        !(v.nWidth > 0 && v.nHeight != 0 && v.nRowBytes != 0 && v.fccType != 0))
        return E_NO_USABLE_MODE;
    channelLock_ = ClaimChannel(info_.deviceIdentifier, channel_);
    if (!channelLock_) return kDeviceInUse;
    if (SetUp(props) != kSetUpReady) {
        Stop();
        return E_NO_USABLE_MODE;
    }
    slotFree_.Set();
    frameCounter_ = 0;
    {
        std::lock_guard<std::mutex> lock(mailboxLock_);
        audio_->Reset();
        audio_->SetFormat(&audioProps_);
        audioAppended_ = audioRemoved_ = pendingAudioStart_ = 0;
    }
    if (FAILED(playoutThread_.StartIfEnded(this, &PlayoutRoutine))) {
        Stop();
        return E_NO_USABLE_MODE;
    }
    return S_OK;
}

void AJARenderer::Stop() {
    // The playout loop sees the request within one bounded board wait.
    playoutThread_.Stop(0xFFFFFFFFu);
    if (card_.IsOpen() && channelLock_) card_.StopAutoCirculate(crosspoint_);
    {
        std::lock_guard<std::mutex> lock(mailboxLock_);
        pending_.Release();
    }
    slotFree_.Set();
    channelLock_.reset();
    formatLock_.reset();
    videoFormat_ = NTV2_FORMAT_UNKNOWN;
}

HRESULT AJARenderer::PutFrame(IOXFrame* frame, IMNode* node) {
    if (!frame) return E_INVALIDARG;
    OX_FRAME_INFO info{};
    frame->OXAllGet(&info);
    const NTV2VideoFormat format = NTV2FormatFor(info.avProps.vidProps.eVideoFormat);
    if (!playoutThread_.IsRunning() || !IsActive() || format != videoFormat_) {
        Stop();
        const HRESULT hr = Open(&info.avProps, node);
        if (FAILED(hr)) {
            Count(framesDropped_, droppedName_);
            return hr;
        }
    }
    if (!slotFree_.Wait(kMailboxWait)) {
        Count(framesDropped_, droppedName_);
        return E_TIMEOUT;
    }
    std::lock_guard<std::mutex> lock(mailboxLock_);
    pending_ = frame;
    pendingAudioStart_ = audioAppended_;
    const M_AUD_PROPS& a = info.avProps.audProps;
    if (a.nChannels > 0 && a.nSamplesPerSec > 0 && a.nBitsPerSample > 0 && info.cbAudio &&
        info.lpAudio && info.cbAudio <= 0x7FFFFFFF) {
        const int before = audio_->Available();
        const int stored = audio_->Append(&a, reinterpret_cast<const BYTE*>(info.lpAudio),
                                          static_cast<int>(info.cbAudio), false, true);
        if (stored > before) audioAppended_ += stored - before;
    }
    slotFree_.Reset();
    framePending_.Set();
    return S_OK;
}

void AJARenderer::TakeAudio(std::int64_t interrupt) {
    // What the frame before carried beyond its interrupt is dropped: the board starts this
    // frame's audio at its interrupt, so the transfer must start with its first sample.
    const std::int64_t lead = pendingAudioStart_ - audioRemoved_;
    if (lead > 0) {
        audioRemoved_ += audio_->Consume(static_cast<int>(lead), nullptr);
        Count(audioRealigned_, realignedName_);
        const int dropped =
            audioRealignDropped_.fetch_add(static_cast<int>(lead)) + static_cast<int>(lead);
        if (stat_) stat_->AttributesSetInt(realignDroppedName_, dropped & 0x7FFFFFFF);
    }
    NTV2FrameRate rate = GetNTV2FrameRateFromVideoFormat(videoFormat_);
    if (rate == NTV2_FRAMERATE_UNKNOWN) card_.GetFrameRate(rate, NTV2_CHANNEL1);
    NTV2AudioRate audioRate = NTV2_AUDIO_48K;
    card_.GetAudioRate(audioRate, audioSystem_);
    const int samples = static_cast<int>(
        GetAudioSamplesPerFrame(rate, audioRate, static_cast<ULWord>(interrupt % 5)));
    BYTE* out = nullptr;
    const int got = audio_->Read(&audioProps_, &out, samples, 0, audioProps_.nChannels, false);
    if (got >= 0 && out && samples > 0) {
        // The interrupt's samples, silence where the frame had fewer.
        transfer_.audioBuffer = reinterpret_cast<ULWord*>(out);
        transfer_.audioBufferSize = static_cast<ULWord>(samples * audioProps_.nChannels * 4);
        audioRemoved_ += audio_->Consume(got, nullptr);
    } else {
        transfer_.audioBuffer = nullptr;
        transfer_.audioBufferSize = 0;
    }
}

CComPtr<IOXFrame> AJARenderer::PrepareTransfer(const AUTOCIRCULATE_STATUS_STRUCT& status) {
    std::lock_guard<std::mutex> lock(mailboxLock_);
    if (!pending_) {
        slotFree_.Set();
        return nullptr;
    }
    OX_FRAME_INFO info{};
    pending_->OXAllGet(&info);
    // The board takes at most one frame of its format; a larger picture is cut there.
    transfer_.videoBuffer = reinterpret_cast<ULWord*>(info.lpVideo);
    transfer_.videoBufferSize = std::min<ULWord>(info.cbVideo, frameSize_);
    // Audio: the samples of the interrupt the frame will play in (the next one after those
    // already in the ring, counted from the first frame on air).
    TakeAudio(static_cast<std::int64_t>(status.framesProcessed) + status.framesDropped +
              status.bufferLevel);
    const M_VID_PROPS& v = info.avProps.vidProps;
    transfer_.frameBufferOrientation = formats::PixelFormatIsRGB(v.fccType) && v.nHeight > 0
                                           ? NTV2_FRAMEBUFFER_ORIENTATION_BOTTOMUP
                                           : NTV2_FRAMEBUFFER_ORIENTATION_TOPDOWN;
    const M_TIMECODE& tc = info.mTime.tcFrame;
    const TimecodeFormat tcFormat =
        TimecodeFormatFor(v.eVideoFormat, (static_cast<std::uint32_t>(tc.eTCFlags) & 1u) != 0);
    CRP188 rp188(static_cast<ULWord>(tc.nFrames), static_cast<ULWord>(tc.nSeconds),
                 static_cast<ULWord>(tc.nMinutes), static_cast<ULWord>(tc.nHours),
                 tcFormat == kTCFormatUnknown ? kTCFormat30fps : tcFormat);
    rp188.GetRP188Reg(transfer_.rp188);
    CComPtr<IOXFrame> taken = std::move(pending_);
    slotFree_.Set();
    ++frameCounter_;
    return taken;
}

DWORD AJARenderer::PlayoutRoutine(void* param) {
    static_cast<AJARenderer*>(param)->Playout();
    return 0;
}

void AJARenderer::Playout() {
    const auto ch = static_cast<NTV2Channel>(channel_);
    // The ring holds a few frames: the thread that keeps it filled runs at real-time priority
    // where the process may, and says what it got.
    platform::Thread::SetCurrentPriority(platform::ThreadPriority::kTimeCritical);
    if (stat_)
        stat_->AttributesSet(
            CComBSTR(u"thread_priority"),
            CComBSTR(platform::FromUtf8(platform::Thread::CurrentSchedulingText()).c_str()));
    card_.StartAutoCirculate(crosspoint_, 0);
    while (playoutThread_.running.load()) {
        AUTOCIRCULATE_STATUS_STRUCT status{};
        const bool known = card_.GetAutoCirculate(crosspoint_, &status);
        int buffers = std::max(driverBuffers_ ? driverBuffers_->load(std::memory_order_relaxed)
                                              : ReadInt(u"driver.buffers", 3),
                               2);
        buffers = std::min(buffers, status.endFrame - status.startFrame - 1);
        CComPtr<IOXFrame> frame;
        const bool room = known && static_cast<LWord>(status.bufferLevel) < buffers;
        if (room && (frame = PrepareTransfer(status))) {
            transferStatus_ = AUTOCIRCULATE_TRANSFER_STATUS_STRUCT{};
            task_.Clear();
            RP188_STRUCT* tc = &transfer_.rp188;
            RP188_STRUCT* own[8] = {};
            own[channel_] = tc;
            task_.AddTimeCodeWriteTask(own[0], own[1], tc, tc, tc, tc, own[2], own[3], own[4],
                                       own[5], own[6], own[7]);
            if (card_.TransferWithAutoCirculateEx2(&transfer_, &transferStatus_, nullptr, task_))
                Count(framesTransferred_, framesName_);
            else
                Count(transferErrors_, errorsName_);
        } else if (room) {
            // The ring has room: fill it as soon as the next frame arrives, up to the
            // pre-buffer, rather than one frame per interrupt.
            framePending_.Wait(kFrameWait);
        } else if (noVbiWait_ || !known) {
            platform::SleepFor(platform::kTicksPerMillisecond);
        } else if (!card_.WaitForOutputVerticalInterrupt(ch)) {
            platform::SleepFor(platform::kTicksPerMillisecond);
        }
        frame.Release();  // the board has its copy
    }
    card_.StopAutoCirculate(crosspoint_);
}

}  // namespace orvex::aja
