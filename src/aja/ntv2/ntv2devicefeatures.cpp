#include "aja/ntv2/ntv2devicefeatures.h"

#include <map>
#include <mutex>

namespace {

std::mutex g_lock;
std::map<ULWord, OxNtv2BoardInfo>& Table() {
    static std::map<ULWord, OxNtv2BoardInfo> table;
    return table;
}

OxNtv2BoardInfo Lookup(NTV2DeviceID id) {
    std::lock_guard<std::mutex> lock(g_lock);
    auto it = Table().find(id);
    return it == Table().end() ? OxNtv2BoardInfo{} : it->second;
}

bool Bit(const uint32_t* words, std::size_t nwords, ULWord value) {
    return value / 32 < nwords && (words[value / 32] >> (value % 32)) & 1u;
}

}  // namespace

namespace orvex::aja {
void RegisterDeviceFeatures(const OxNtv2BoardInfo& info) {
    std::lock_guard<std::mutex> lock(g_lock);
    Table()[info.device_id] = info;
}
}  // namespace orvex::aja

UWord NTV2DeviceGetNumFrameStores(const NTV2DeviceID id) {
    return Lookup(id).frame_stores;
}
ULWord NTV2DeviceGetNumVideoChannels(const NTV2DeviceID id) {
    return Lookup(id).frame_stores;
}
UWord NTV2DeviceGetNumVideoOutputs(const NTV2DeviceID id) {
    return Lookup(id).sdi_outputs;
}
UWord NTV2DeviceGetNumHDMIVideoOutputs(const NTV2DeviceID id) {
    return Lookup(id).hdmi_outputs;
}
UWord NTV2DeviceGetNumAnalogVideoOutputs(const NTV2DeviceID id) {
    return Lookup(id).analog_outputs;
}
bool NTV2DeviceCanDoAnalogVideoOut(const NTV2DeviceID id) {
    return Lookup(id).analog_outputs > 0;
}
UWord NTV2DeviceGetNumAudioSystems(const NTV2DeviceID id) {
    return Lookup(id).audio_systems;
}
UWord NTV2DeviceGetMaxAudioChannels(const NTV2DeviceID id) {
    return Lookup(id).max_audio_channels;
}
bool NTV2DeviceCanDoVideoFormat(const NTV2DeviceID id, const NTV2VideoFormat format) {
    const OxNtv2BoardInfo info = Lookup(id);
    return Bit(info.video_formats, 16, format);
}
bool NTV2DeviceCanDoFrameBufferFormat(const NTV2DeviceID id, const NTV2FrameBufferFormat fbf) {
    const OxNtv2BoardInfo info = Lookup(id);
    return Bit(&info.pixel_formats, 1, fbf);
}
bool NTV2DeviceCanDoMultiFormat(const NTV2DeviceID id) {
    return Lookup(id).multi_format != 0;
}
bool NTV2DeviceHasBiDirectionalSDI(const NTV2DeviceID id) {
    return Lookup(id).bidirectional_sdi != 0;
}
bool NTV2DeviceCanDoPlayback(const NTV2DeviceID id) {
    const OxNtv2BoardInfo info = Lookup(id);
    return info.frame_stores > 0 &&
           (info.sdi_outputs > 0 || info.hdmi_outputs > 0 || info.analog_outputs > 0);
}
bool NTV2DeviceCanDoWidget(const NTV2DeviceID id, const NTV2WidgetID widget) {
    const OxNtv2BoardInfo info = Lookup(id);
    switch (widget) {
        case NTV2_WgtFrameBuffer1:
            return info.frame_stores > 0;
        case NTV2_WgtCSC1:
            return info.frame_stores > 0;
        case NTV2_WgtSDIOut1:
            return info.sdi_outputs > 0;
        case NTV2_WgtAnalogOut1:
            return info.analog_outputs > 0;
        case NTV2_WgtHDMIOut1:
            return info.hdmi_outputs > 0;
    }
    return false;
}
bool NTV2DeviceCanDoRP188(const NTV2DeviceID id) {
    return Lookup(id).rp188 != 0;
}
bool NTV2DeviceCanDoAudio96K(const NTV2DeviceID id) {
    return Lookup(id).audio_96k != 0;
}
UWord NTV2DeviceGetNumEmbeddedAudioOutputChannels(const NTV2DeviceID id) {
    const OxNtv2BoardInfo info = Lookup(id);
    return info.sdi_outputs ? info.max_audio_channels : 0;
}

ULWord NTV2DeviceGetNumberFrameBuffers(const NTV2DeviceID id, const NTV2FrameGeometry geometry,
                                       const NTV2FrameBufferFormat fbf) {
    // Board memory is counted in 1920x1080 8-bit 4:2:2 frames.
    const OxNtv2BoardInfo info = Lookup(id);
    ULWord64 w = 1920, h = 1080;
    switch (geometry) {
        case NTV2_FG_4x1920x1080:
            w = 3840, h = 2160;
            break;
        case NTV2_FG_4x2048x1080:
            w = 4096, h = 2160;
            break;
        case NTV2_FG_2048x1556:
            w = 2048, h = 1556;
            break;
        case NTV2_FG_2048x1080:
            w = 2048;
            break;
        default:
            break;
    }
    const ULWord64 unit = 1920ull * 1080 * 2;
    const ULWord64 row = fbf == NTV2_FBF_8BIT_YCBCR ? w * 2 : w * 4;
    const ULWord64 per = (row * h + unit - 1) / unit;
    return static_cast<ULWord>(info.frame_buffers / per);
}
