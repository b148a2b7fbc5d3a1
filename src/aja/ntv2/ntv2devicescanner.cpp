#include "aja/ntv2/ntv2devicescanner.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "aja/ntv2/ntv2card.h"
#include "aja/ntv2/ntv2devicefeatures.h"
#include "aja/ntv2/ntv2driverloader.h"

namespace {
std::mutex g_names_lock;
std::map<ULWord, std::string>& Names() {
    static std::map<ULWord, std::string> names;
    return names;
}
}  // namespace

std::string NTV2DeviceIDToString(const NTV2DeviceID id, const bool) {
    std::lock_guard<std::mutex> lock(g_names_lock);
    auto it = Names().find(id);
    if (it != Names().end()) return it->second;
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(id));
    return text;
}

CNTV2DeviceScanner::CNTV2DeviceScanner(const bool scanNow) {
    if (scanNow) ScanHardware();
}

void CNTV2DeviceScanner::ScanHardware() {
    mDeviceInfoList.clear();
    const OxNtv2Driver* driver = orvex::aja::Ntv2Driver();
    if (!driver) return;
    const int32_t count = driver->board_count();
    for (int32_t i = 0; i < count; ++i) {
        OxNtv2BoardInfo b{};
        if (driver->board_info(i, &b) != OX_NTV2_OK) continue;
        b.identifier[sizeof b.identifier - 1] = 0;
        b.model[sizeof b.model - 1] = 0;
        orvex::aja::RegisterDeviceFeatures(b);
        {
            std::lock_guard<std::mutex> lock(g_names_lock);
            Names()[b.device_id] = b.model;
        }
        NTV2DeviceInfo info;
        info.deviceID = static_cast<NTV2DeviceID>(b.device_id);
        info.deviceIndex = static_cast<ULWord>(i);
        info.pciSlot = b.pci_slot;
        info.deviceSerialNumber = b.serial;
        info.deviceIdentifier = b.identifier;
        info.numVidOutputs = b.sdi_outputs;
        info.numAnlgVidOutputs = b.analog_outputs;
        info.numHDMIVidOutputs = b.hdmi_outputs;
        info.biDirectionalSDI = b.bidirectional_sdi != 0;
        info.multiFormat = b.multi_format != 0;
        info.numAudioStreams = b.audio_systems;
        info.numEmbeddedAudioOutputChannels = b.sdi_outputs ? b.max_audio_channels : 0;
        mDeviceInfoList.push_back(std::move(info));
    }
}

bool CNTV2DeviceScanner::GetDeviceInfo(const ULWord index, NTV2DeviceInfo& outInfo,
                                       const bool rescan) {
    if (rescan) ScanHardware();
    if (index >= mDeviceInfoList.size()) return false;
    outInfo = mDeviceInfoList[index];
    return true;
}

bool CNTV2DeviceScanner::DeviceIDPresent(const NTV2DeviceID id, const bool rescan) {
    if (rescan) ScanHardware();
    for (const NTV2DeviceInfo& info : mDeviceInfoList)
        if (info.deviceID == id) return true;
    return false;
}

bool CNTV2DeviceScanner::GetDeviceAtIndex(const ULWord index, CNTV2Card& outDevice) {
    outDevice.Close();
    return index <= 0xFFFF && outDevice.Open(static_cast<UWord>(index));
}

bool CNTV2DeviceScanner::GetFirstDeviceWithID(const NTV2DeviceID id, CNTV2Card& outDevice) {
    CNTV2DeviceScanner scanner;
    for (const NTV2DeviceInfo& info : scanner.GetDeviceInfoList())
        if (info.deviceID == id) return GetDeviceAtIndex(info.deviceIndex, outDevice);
    return false;
}

bool CNTV2DeviceScanner::GetFirstDeviceWithName(const std::string& name, CNTV2Card& outDevice) {
    CNTV2DeviceScanner scanner;
    for (const NTV2DeviceInfo& info : scanner.GetDeviceInfoList())
        if (info.deviceIdentifier == name || NTV2DeviceIDToString(info.deviceID) == name)
            return GetDeviceAtIndex(info.deviceIndex, outDevice);
    return false;
}
