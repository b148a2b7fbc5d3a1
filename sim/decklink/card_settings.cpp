// The card's attributes, configuration and keyer.
#include "sim/decklink/card.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "sim/decklink/card_internal.h"

namespace orvex::sim::decklink {

// ---- Attributes and configuration

HRESULT Card::GetAttrFlag(BMDDeckLinkAttributeID id, BOOL* value) {
    if (!value) return E_POINTER;
    *value = FALSE;
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    switch (id) {
        case BMDDeckLinkSupportsFullDuplex:
            *value = spec_.full_duplex;
            break;
        case BMDDeckLinkSupportsInternalKeying:
            *value = spec_.key_internal;
            break;
        case BMDDeckLinkSupportsExternalKeying:
            *value = spec_.key_external;
            break;
        case BMDDeckLinkSupportsHDKeying:
            *value = spec_.key_hd;
            break;
        case BMDDeckLinkHasBypass:
            *value = spec_.bypass;
            break;
        case BMDDeckLinkHasReferenceInput:
            *value = spec_.reference != bmdReferenceNotSupportedByHardware;
            break;
        case BMDDeckLinkSupportsDesktopDisplay:
            break;
        default:
            return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT Card::GetAttrInt(BMDDeckLinkAttributeID id, LONGLONG* value, const void* client) {
    if (!value) return E_POINTER;
    *value = 0;
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    switch (id) {
        case BMDDeckLinkVideoOutputConnections:
            *value = spec_.video_out;
            break;
        case BMDDeckLinkVideoInputConnections:
            *value = spec_.video_in;
            break;
        case BMDDeckLinkAudioInputConnections:
            *value = spec_.audio_in;
            break;
        case BMDDeckLinkAudioOutputConnections:
            *value = spec_.audio_out;
            break;
        case BMDDeckLinkDeviceBusyState:
            *value = busy_;
            if ((video_owner_ && video_owner_ != client) ||
                (!claim_.IsHeld() && platform::NamedClaim::Exists(ClaimName())))
                *value |= bmdDevicePlaybackBusy;
            break;
        case BMDDeckLinkMaximumAudioChannels:
            for (int c : spec_.audio_channels) *value = std::max<LONGLONG>(*value, c);
            break;
        case BMDDeckLinkNumberOfSubDevices:
            *value = 1;
            break;
        case BMDDeckLinkSubDeviceIndex:
            *value = 0;
            break;
        case BMDDeckLinkPersistentID:
            *value = 0x51D0 + index_;
            break;
        case BMDDeckLinkTopologicalID:
            *value = 0x100 * (index_ + 1);
            break;
        case BMDDeckLinkVideoIOSupport:
            *value = (spec_.video_in ? bmdDeviceSupportsCapture : 0) |
                     (spec_.video_out ? bmdDeviceSupportsPlayback : 0);
            break;
        default:
            return E_INVALIDARG;
    }
    return S_OK;
}

namespace {
bool KnownConfigFlag(BMDDeckLinkConfigurationID id) {
    return id == bmdDeckLinkConfigLowLatencyVideoOutput ||
           id == bmdDeckLinkConfigFieldFlickerRemoval || id == bmdDeckLinkConfig444SDIVideoOutput ||
           id == bmdDeckLinkConfigBlackVideoOutputDuringCapture ||
           id == bmdDeckLinkConfigUse1080pNotPsF;
}
// Old 'aicn' codes and the bits they stand for.
constexpr std::pair<std::uint32_t, std::uint32_t> kOldAudioCodes[] = {
    {bmdAudioConnectionEmbedded_v10_2, bmdAudioConnectionEmbedded},
    {bmdAudioConnectionAESEBU_v10_2, bmdAudioConnectionAESEBU},
    {bmdAudioConnectionAnalog_v10_2, bmdAudioConnectionAnalog},
    {bmdAudioConnectionAnalogXLR_v10_2, bmdAudioConnectionAnalogXLR},
    {bmdAudioConnectionAnalogRCA_v10_2, bmdAudioConnectionAnalogRCA}};
bool SubsetOf(LONGLONG v, std::uint32_t bits) {
    return v > 0 && (static_cast<std::uint64_t>(v) & ~static_cast<std::uint64_t>(bits)) == 0;
}
std::uint32_t LowestBit(std::uint32_t bits) {
    return bits & (~bits + 1);
}
}  // namespace

HRESULT Card::ConfigSetFlag(BMDDeckLinkConfigurationID id, BOOL value) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (!KnownConfigFlag(id)) return E_INVALIDARG;
    config_flags_[id] = value ? TRUE : FALSE;
    return S_OK;
}

HRESULT Card::ConfigGetFlag(BMDDeckLinkConfigurationID id, BOOL* value) {
    if (!value) return E_POINTER;
    *value = FALSE;
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (!KnownConfigFlag(id)) return E_INVALIDARG;
    if (auto it = config_flags_.find(id); it != config_flags_.end()) *value = it->second;
    return S_OK;
}

HRESULT Card::ConfigSetInt(BMDDeckLinkConfigurationID id, LONGLONG value, bool legacy) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    switch (id) {
        case bmdDeckLinkConfigVideoOutputConnection:
            if (!SubsetOf(value, spec_.video_out)) return E_INVALIDARG;
            break;
        case bmdDeckLinkConfigVideoInputConnection:
            if (!SubsetOf(value, spec_.video_in)) return E_INVALIDARG;
            break;
        case bmdDeckLinkConfigAudioInputConnection:
            if (legacy) {
                LONGLONG bit = 0;
                for (auto [code, b] : kOldAudioCodes)
                    if (value == code) bit = b;
                value = bit;
            }
            if (!SubsetOf(value, spec_.audio_in)) return E_INVALIDARG;
            break;
        case bmdDeckLinkConfigBypass:
            if (!spec_.bypass) return E_NOTIMPL;
            if (value < -1) return E_INVALIDARG;
            break;
        case bmdDeckLinkConfigVideoOutputConversionMode:
        case bmdDeckLinkConfigVideoOutputIdleOperation:
        case bmdDeckLinkConfigDefaultVideoOutputMode:
        case bmdDeckLinkConfigReferenceInputTimingOffset:
        case bmdDeckLinkConfigAnalogAudioOutputSelect:
        case bmdDeckLinkConfigDuplexMode:
            break;
        default:
            return E_INVALIDARG;
    }
    config_ints_[id] = value;
    return S_OK;
}

HRESULT Card::ConfigGetInt(BMDDeckLinkConfigurationID id, LONGLONG* value, bool legacy) {
    if (!value) return E_POINTER;
    *value = 0;
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    auto it = config_ints_.find(id);
    switch (id) {
        case bmdDeckLinkConfigVideoOutputConnection:
            *value = it != config_ints_.end() ? it->second : LowestBit(spec_.video_out);
            break;
        case bmdDeckLinkConfigVideoInputConnection:
            *value = it != config_ints_.end() ? it->second : LowestBit(spec_.video_in);
            break;
        case bmdDeckLinkConfigAudioInputConnection:
            *value = it != config_ints_.end() ? it->second : LowestBit(spec_.audio_in);
            if (legacy)
                for (auto [code, b] : kOldAudioCodes)
                    if (*value == b) *value = code;
            break;
        case bmdDeckLinkConfigBypass:
            if (!spec_.bypass) return E_NOTIMPL;
            *value = it != config_ints_.end() ? it->second : -1;
            break;
        case bmdDeckLinkConfigVideoOutputConversionMode:
        case bmdDeckLinkConfigVideoOutputIdleOperation:
        case bmdDeckLinkConfigDefaultVideoOutputMode:
        case bmdDeckLinkConfigReferenceInputTimingOffset:
        case bmdDeckLinkConfigAnalogAudioOutputSelect:
        case bmdDeckLinkConfigDuplexMode:
            if (it != config_ints_.end()) *value = it->second;
            break;
        default:
            return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT Card::ConfigSetFloat(BMDDeckLinkConfigurationID, double) {
    std::lock_guard guard(mutex_);
    return faults_.removed ? kRemoved : E_INVALIDARG;  // no float settings on these cards
}

HRESULT Card::ConfigGetFloat(BMDDeckLinkConfigurationID, double* value) {
    if (!value) return E_POINTER;
    *value = 0;
    std::lock_guard guard(mutex_);
    return faults_.removed ? kRemoved : E_INVALIDARG;
}

// ---- Keyer

HRESULT Card::KeyerEnable(BOOL external) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (external ? !spec_.key_external : !spec_.key_internal) return E_INVALIDARG;
    keyer_ = external ? 2 : 1;
    return S_OK;
}

HRESULT Card::KeyerSetLevel(unsigned char level) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    key_level_ = level;
    return S_OK;
}

HRESULT Card::KeyerRamp(unsigned int, bool up) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (!keyer_) return E_UNEXPECTED;
    key_level_ = up ? 255 : 0;  // the ramp's end state; its frames are not modelled
    return S_OK;
}

HRESULT Card::KeyerDisable() {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    keyer_ = 0;
    return S_OK;
}

}  // namespace orvex::sim::decklink
