// What a kind of board can do, by device ID. The answers come from the driver's board records,
// which the device scanner registers as it finds boards; an ID never scanned can do nothing.
#pragma once

#include "aja/ntv2/ntv2driver.h"
#include "aja/ntv2/ntv2enums.h"

UWord NTV2DeviceGetNumFrameStores(const NTV2DeviceID id);
ULWord NTV2DeviceGetNumVideoChannels(const NTV2DeviceID id);
UWord NTV2DeviceGetNumVideoOutputs(const NTV2DeviceID id);
UWord NTV2DeviceGetNumHDMIVideoOutputs(const NTV2DeviceID id);
UWord NTV2DeviceGetNumAnalogVideoOutputs(const NTV2DeviceID id);
bool NTV2DeviceCanDoAnalogVideoOut(const NTV2DeviceID id);
UWord NTV2DeviceGetNumAudioSystems(const NTV2DeviceID id);
UWord NTV2DeviceGetMaxAudioChannels(const NTV2DeviceID id);
bool NTV2DeviceCanDoVideoFormat(const NTV2DeviceID id, const NTV2VideoFormat format);
bool NTV2DeviceCanDoFrameBufferFormat(const NTV2DeviceID id, const NTV2FrameBufferFormat fbf);
bool NTV2DeviceCanDoMultiFormat(const NTV2DeviceID id);
bool NTV2DeviceHasBiDirectionalSDI(const NTV2DeviceID id);
bool NTV2DeviceCanDoPlayback(const NTV2DeviceID id);
bool NTV2DeviceCanDoWidget(const NTV2DeviceID id, const NTV2WidgetID widget);
bool NTV2DeviceCanDoRP188(const NTV2DeviceID id);
bool NTV2DeviceCanDoAudio96K(const NTV2DeviceID id);
UWord NTV2DeviceGetNumEmbeddedAudioOutputChannels(const NTV2DeviceID id);

namespace orvex::aja {
// Records what boards of `info.device_id` can do (the scanner calls it).
void RegisterDeviceFeatures(const OxNtv2BoardInfo& info);
}  // namespace orvex::aja

// Frames of the given geometry and layout that the board's memory holds.
ULWord NTV2DeviceGetNumberFrameBuffers(const NTV2DeviceID id, const NTV2FrameGeometry geometry,
                                       const NTV2FrameBufferFormat fbf);
