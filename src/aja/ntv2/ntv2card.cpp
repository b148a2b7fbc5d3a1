#include "aja/ntv2/ntv2card.h"

#include "aja/ntv2/ntv2devicefeatures.h"
#include "aja/ntv2/ntv2driverloader.h"
#include "aja/ntv2/ntv2signalrouter.h"
#include "aja/ntv2/ntv2utils.h"

namespace {
constexpr uint32_t kVerticalTimeoutMs = 50;

bool ValidChannel(NTV2Channel c) {
    return c < NTV2_MAX_NUM_CHANNELS;
}
bool ValidSystem(NTV2AudioSystem s) {
    return s < NTV2_NUM_AUDIOSYSTEMS;
}
}  // namespace

CNTV2Card::CNTV2Card(const UWord index, const std::string&) {
    Open(index);
}

CNTV2Card::~CNTV2Card() {
    Close();
}

bool CNTV2Card::Open(const UWord inDeviceIndex) {
    Close();
    const OxNtv2Driver* driver = orvex::aja::Ntv2Driver();
    if (!driver) return false;
    OxNtv2BoardInfo info{};
    if (driver->board_info(inDeviceIndex, &info) != OX_NTV2_OK) return false;
    void* handle = nullptr;
    if (driver->open(inDeviceIndex, &handle) != OX_NTV2_OK || !handle) return false;
    info.model[sizeof info.model - 1] = 0;
    orvex::aja::RegisterDeviceFeatures(info);
    mDriver = driver;
    mHandle = handle;
    mIndex = inDeviceIndex;
    mDeviceID = static_cast<NTV2DeviceID>(info.device_id);
    mModel = info.model;
    return true;
}

bool CNTV2Card::Close() {
    if (!mHandle) return false;
    mDriver->close(mHandle);
    mHandle = nullptr;
    mDeviceID = DEVICE_ID_NOTFOUND;
    return true;
}

NTV2DeviceID CNTV2Card::GetDeviceID() {
    return mDeviceID;
}

std::string CNTV2Card::GetDisplayName() {
    return IsOpen() ? mModel + " - " + std::to_string(mIndex) : std::string();
}

bool CNTV2Card::Read(ULWord reg, ULWord& value) {
    if (!mHandle) return false;
    uint32_t v = 0;
    if (mDriver->read_register(mHandle, reg, &v) != OX_NTV2_OK) return false;
    value = v;
    return true;
}

bool CNTV2Card::Write(ULWord reg, ULWord value) {
    return mHandle && mDriver->write_register(mHandle, reg, value) == OX_NTV2_OK;
}

bool CNTV2Card::ReadRegister(const ULWord regNum, ULWord& outValue, const ULWord mask,
                             const ULWord shift) {
    ULWord v = 0;
    if (shift > 31 || !Read(regNum, v)) return false;
    outValue = (v & mask) >> shift;
    return true;
}

bool CNTV2Card::WriteRegister(const ULWord regNum, const ULWord value, const ULWord mask,
                              const ULWord shift) {
    if (shift > 31) return false;
    ULWord v = 0;
    if (mask != 0xFFFFFFFF && !Read(regNum, v)) return false;
    return Write(regNum, (v & ~mask) | ((value << shift) & mask));
}

bool CNTV2Card::SetEveryFrameServices(const NTV2EveryFrameTaskMode mode) {
    return Write(OX_NTV2_REG_TASK_MODE, mode);
}

bool CNTV2Card::GetEveryFrameServices(NTV2EveryFrameTaskMode& outMode) {
    ULWord v = 0;
    if (!Read(OX_NTV2_REG_TASK_MODE, v)) return false;
    outMode = static_cast<NTV2EveryFrameTaskMode>(v);
    return true;
}

bool CNTV2Card::SetMultiFormatMode(const bool enable) {
    return Write(OX_NTV2_REG_MULTI_FORMAT, enable ? 1 : 0);
}

bool CNTV2Card::GetMultiFormatMode(bool& outIsEnabled) {
    ULWord v = 0;
    if (!Read(OX_NTV2_REG_MULTI_FORMAT, v)) return false;
    outIsEnabled = v != 0;
    return true;
}

bool CNTV2Card::SetReference(const NTV2ReferenceSource source, const bool) {
    return Write(OX_NTV2_REG_REFERENCE, source);
}

bool CNTV2Card::GetReference(NTV2ReferenceSource& outSource) {
    ULWord v = 0;
    if (!Read(OX_NTV2_REG_REFERENCE, v)) return false;
    outSource = static_cast<NTV2ReferenceSource>(v);
    return true;
}

bool CNTV2Card::SetVideoFormat(const NTV2VideoFormat format, const bool, const bool keepVanc,
                               const NTV2Channel channel) {
    if (!ValidChannel(channel)) return false;
    if (!Write(OX_NTV2_REG_VIDEO_FORMAT + channel, format)) return false;
    return keepVanc || Write(OX_NTV2_REG_VANC_MODE + channel, NTV2_VANCMODE_OFF);
}

bool CNTV2Card::GetVideoFormat(NTV2VideoFormat& outFormat, NTV2Channel channel) {
    ULWord v = 0;
    if (!ValidChannel(channel) || !Read(OX_NTV2_REG_VIDEO_FORMAT + channel, v)) return false;
    outFormat = static_cast<NTV2VideoFormat>(v);
    return true;
}

bool CNTV2Card::SetFrameRate(NTV2FrameRate rate, NTV2Channel channel) {
    return ValidChannel(channel) && Write(OX_NTV2_REG_FRAME_RATE + channel, rate);
}

bool CNTV2Card::GetFrameRate(NTV2FrameRate& outRate, NTV2Channel channel) {
    ULWord v = 0;
    if (!ValidChannel(channel) || !Read(OX_NTV2_REG_FRAME_RATE + channel, v)) return false;
    outRate = static_cast<NTV2FrameRate>(v);
    return true;
}

bool CNTV2Card::SetFrameBufferFormat(NTV2Channel channel, NTV2FrameBufferFormat format, bool) {
    return ValidChannel(channel) && Write(OX_NTV2_REG_FRAME_BUFFER_FMT + channel, format);
}

bool CNTV2Card::GetFrameBufferFormat(NTV2Channel channel, NTV2FrameBufferFormat& outFormat) {
    ULWord v = 0;
    if (!ValidChannel(channel) || !Read(OX_NTV2_REG_FRAME_BUFFER_FMT + channel, v)) return false;
    outFormat = static_cast<NTV2FrameBufferFormat>(v);
    return true;
}

bool CNTV2Card::EnableChannel(const NTV2Channel channel) {
    return ValidChannel(channel) && Write(OX_NTV2_REG_CHANNEL_DISABLE + channel, 0);
}

bool CNTV2Card::DisableChannel(const NTV2Channel channel) {
    return ValidChannel(channel) && Write(OX_NTV2_REG_CHANNEL_DISABLE + channel, 1);
}

bool CNTV2Card::IsChannelEnabled(const NTV2Channel channel, bool& outEnabled) {
    ULWord v = 0;
    if (!ValidChannel(channel) || !Read(OX_NTV2_REG_CHANNEL_DISABLE + channel, v)) return false;
    outEnabled = v == 0;
    return true;
}

bool CNTV2Card::SetEnableVANCData(const bool vancOn, const bool tallerVANC,
                                  const NTV2Channel channel) {
    return SetVANCMode(
        vancOn ? (tallerVANC ? NTV2_VANCMODE_TALLER : NTV2_VANCMODE_TALL) : NTV2_VANCMODE_OFF,
        channel);
}

bool CNTV2Card::GetEnableVANCData(bool& outOn, bool& outTaller, const NTV2Channel channel) {
    NTV2VANCMode mode = NTV2_VANCMODE_OFF;
    if (!GetVANCMode(mode, channel)) return false;
    outOn = mode != NTV2_VANCMODE_OFF;
    outTaller = mode == NTV2_VANCMODE_TALLER;
    return true;
}

bool CNTV2Card::SetVANCMode(const NTV2VANCMode mode, const NTV2Channel channel) {
    return ValidChannel(channel) && mode < NTV2_VANCMODE_INVALID &&
           Write(OX_NTV2_REG_VANC_MODE + channel, mode);
}

bool CNTV2Card::GetVANCMode(NTV2VANCMode& outMode, const NTV2Channel channel) {
    ULWord v = 0;
    if (!ValidChannel(channel) || !Read(OX_NTV2_REG_VANC_MODE + channel, v)) return false;
    outMode = static_cast<NTV2VANCMode>(v);
    return true;
}

bool CNTV2Card::SetVANCShiftMode(NTV2Channel channel, NTV2VANCDataShiftMode mode) {
    return ValidChannel(channel) && mode < NTV2_MAX_NUM_VANCDataShiftModes &&
           Write(OX_NTV2_REG_VANC_SHIFT + channel, mode);
}

bool CNTV2Card::GetVANCShiftMode(NTV2Channel channel, NTV2VANCDataShiftMode& outMode) {
    ULWord v = 0;
    if (!ValidChannel(channel) || !Read(OX_NTV2_REG_VANC_SHIFT + channel, v)) return false;
    outMode = static_cast<NTV2VANCDataShiftMode>(v);
    return true;
}

bool CNTV2Card::GetActiveFrameDimensions(NTV2FrameDimensions& outDimensions,
                                         const NTV2Channel channel) {
    NTV2VideoFormat format = NTV2_FORMAT_UNKNOWN;
    NTV2VANCMode vanc = NTV2_VANCMODE_OFF;
    if (!GetVideoFormat(format, channel) || !GetVANCMode(vanc, channel)) return false;
    const NTV2FrameDimensions d = GetFormatDimensions(format);
    outDimensions.Set(d.GetWidth(), d.GetHeight() + GetVancLines(format, vanc));
    return d.IsValid();
}

bool CNTV2Card::EnableOutputInterrupt(const NTV2Channel channel) {
    return SubscribeOutputVerticalEvent(channel);
}

bool CNTV2Card::SubscribeOutputVerticalEvent(const NTV2Channel channel) {
    return ValidChannel(channel) && Write(OX_NTV2_REG_OUTPUT_INTERRUPT + channel, 1);
}

bool CNTV2Card::UnsubscribeOutputVerticalEvent(const NTV2Channel channel) {
    return ValidChannel(channel) && Write(OX_NTV2_REG_OUTPUT_INTERRUPT + channel, 0);
}

bool CNTV2Card::WaitForOutputVerticalInterrupt(const NTV2Channel channel, UWord repeatCount) {
    if (!mHandle || !ValidChannel(channel)) return false;
    for (UWord i = 0; i < repeatCount; ++i)
        if (mDriver->wait_output_vertical(mHandle, channel, kVerticalTimeoutMs) != OX_NTV2_OK)
            return false;
    return true;
}

bool CNTV2Card::SetNumberAudioChannels(const ULWord numChannels, const NTV2AudioSystem system) {
    return ValidSystem(system) && Write(OX_NTV2_REG_AUDIO_CHANNELS + system, numChannels);
}

bool CNTV2Card::GetNumberAudioChannels(ULWord& outChannels, const NTV2AudioSystem system) {
    return ValidSystem(system) && Read(OX_NTV2_REG_AUDIO_CHANNELS + system, outChannels);
}

bool CNTV2Card::SetAudioRate(const NTV2AudioRate rate, const NTV2AudioSystem system) {
    return ValidSystem(system) && Write(OX_NTV2_REG_AUDIO_RATE + system, rate);
}

bool CNTV2Card::GetAudioRate(NTV2AudioRate& outRate, const NTV2AudioSystem system) {
    ULWord v = 0;
    if (!ValidSystem(system) || !Read(OX_NTV2_REG_AUDIO_RATE + system, v)) return false;
    outRate = static_cast<NTV2AudioRate>(v);
    return true;
}

bool CNTV2Card::SetAudioBufferSize(const NTV2AudioBufferSize size, const NTV2AudioSystem system) {
    return ValidSystem(system) && Write(OX_NTV2_REG_AUDIO_BUFFER + system, size);
}

bool CNTV2Card::SetAudioLoopBack(const NTV2AudioLoopBack mode, const NTV2AudioSystem system) {
    return ValidSystem(system) && Write(OX_NTV2_REG_AUDIO_LOOPBACK + system, mode);
}

bool CNTV2Card::SetSDIOutputAudioSystem(const NTV2Channel sdiOutput, const NTV2AudioSystem system) {
    return ValidChannel(sdiOutput) && ValidSystem(system) &&
           Write(OX_NTV2_REG_SDI_AUDIO_SYSTEM + sdiOutput, system);
}

bool CNTV2Card::GetSDIOutputAudioSystem(const NTV2Channel sdiOutput, NTV2AudioSystem& outSystem) {
    ULWord v = 0;
    if (!ValidChannel(sdiOutput) || !Read(OX_NTV2_REG_SDI_AUDIO_SYSTEM + sdiOutput, v))
        return false;
    outSystem = static_cast<NTV2AudioSystem>(v);
    return true;
}

bool CNTV2Card::SetSDIOutputStandard(const UWord outputSpigot, const NTV2Standard standard) {
    return outputSpigot < 8 && Write(OX_NTV2_REG_SDI_STANDARD + outputSpigot, standard);
}

bool CNTV2Card::GetSDIOutputStandard(const UWord outputSpigot, NTV2Standard& outStandard) {
    ULWord v = 0;
    if (outputSpigot >= 8 || !Read(OX_NTV2_REG_SDI_STANDARD + outputSpigot, v)) return false;
    outStandard = static_cast<NTV2Standard>(v);
    return true;
}

bool CNTV2Card::SetSDITransmitEnable(const NTV2Channel channel, const bool enable) {
    return ValidChannel(channel) && Write(OX_NTV2_REG_SDI_TRANSMIT + channel, enable ? 1 : 0);
}

bool CNTV2Card::GetSDITransmitEnable(const NTV2Channel channel, bool& outEnabled) {
    ULWord v = 0;
    if (!ValidChannel(channel) || !Read(OX_NTV2_REG_SDI_TRANSMIT + channel, v)) return false;
    outEnabled = v != 0;
    return true;
}

bool CNTV2Card::ApplySignalRoute(const CNTV2SignalRouter& router, const bool replace) {
    if (!mHandle) return false;
    if (replace && !ClearRouting()) return false;
    bool ok = true;
    for (const auto& [input, output] : router.GetConnections()) ok = Connect(input, output) && ok;
    return ok;
}

bool CNTV2Card::Connect(const NTV2InputCrosspointID input, const NTV2OutputCrosspointID output,
                        const bool) {
    return input < NTV2_LAST_INPUT_CROSSPOINT && Write(OX_NTV2_REG_ROUTE + input, output);
}

bool CNTV2Card::Disconnect(const NTV2InputCrosspointID input) {
    return Connect(input, NTV2_XptBlack);
}

bool CNTV2Card::ClearRouting() {
    if (!mHandle) return false;
    for (ULWord in = NTV2_FIRST_INPUT_CROSSPOINT; in < NTV2_LAST_INPUT_CROSSPOINT; ++in)
        if (!Write(OX_NTV2_REG_ROUTE + in, NTV2_XptBlack)) return false;
    return true;
}

bool CNTV2Card::GetConnectedOutput(const NTV2InputCrosspointID input,
                                   NTV2OutputCrosspointID& outOutput) {
    ULWord v = 0;
    if (input >= NTV2_LAST_INPUT_CROSSPOINT || !Read(OX_NTV2_REG_ROUTE + input, v)) return false;
    outOutput = static_cast<NTV2OutputCrosspointID>(v);
    return true;
}

bool CNTV2Card::InitAutoCirculate(NTV2Crosspoint channelSpec, LWord startFrame, LWord endFrame,
                                  LWord numChannels, NTV2AudioSystem audioSystem, bool withAudio,
                                  bool withRP188, bool fbfChange, bool fboChange, bool, bool, bool,
                                  bool withLTC) {
    if (!mHandle || numChannels != 1) return false;
    if (endFrame < 0) endFrame = 10;
    OxNtv2AcInit init{startFrame, endFrame, audioSystem,
                      (withAudio ? OX_NTV2_AC_AUDIO : 0u) | (withRP188 ? OX_NTV2_AC_RP188 : 0u) |
                          (withLTC ? OX_NTV2_AC_LTC : 0u) |
                          (fbfChange ? OX_NTV2_AC_FBF_CHANGE : 0u) |
                          (fboChange ? OX_NTV2_AC_FBO_CHANGE : 0u)};
    return mDriver->autocirculate(mHandle, OX_NTV2_AC_INIT, channelSpec, &init, 0) == OX_NTV2_OK;
}

bool CNTV2Card::StartAutoCirculate(const NTV2Crosspoint channelSpec, const ULWord64 startTime) {
    return mHandle && mDriver->autocirculate(mHandle, OX_NTV2_AC_START, channelSpec, nullptr,
                                             startTime) == OX_NTV2_OK;
}

bool CNTV2Card::StopAutoCirculate(NTV2Crosspoint channelSpec) {
    return mHandle &&
           mDriver->autocirculate(mHandle, OX_NTV2_AC_STOP, channelSpec, nullptr, 0) == OX_NTV2_OK;
}

bool CNTV2Card::AbortAutoCirculate(NTV2Crosspoint channelSpec) {
    return mHandle &&
           mDriver->autocirculate(mHandle, OX_NTV2_AC_ABORT, channelSpec, nullptr, 0) == OX_NTV2_OK;
}

bool CNTV2Card::GetAutoCirculate(NTV2Crosspoint channelSpec, AUTOCIRCULATE_STATUS_STRUCT* status) {
    return mHandle && status &&
           mDriver->autocirculate_status(mHandle, channelSpec, status) == OX_NTV2_OK;
}

bool CNTV2Card::TransferWithAutoCirculateEx2(PAUTOCIRCULATE_TRANSFER_STRUCT transfer,
                                             PAUTOCIRCULATE_TRANSFER_STATUS_STRUCT status,
                                             NTV2RoutingTable* routing,
                                             PAUTOCIRCULATE_TASK_STRUCT tasks) {
    if (!mHandle || !transfer || !status || routing) return false;
    return mDriver->transfer(mHandle, transfer, tasks, status) == OX_NTV2_OK;
}
