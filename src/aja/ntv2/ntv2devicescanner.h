// Finding the boards in the machine through the driver.
#pragma once

#include <string>
#include <vector>

#include "aja/ntv2/ntv2enums.h"

class CNTV2Card;

struct NTV2DeviceInfo {
    NTV2DeviceID deviceID = DEVICE_ID_NOTFOUND;
    ULWord deviceIndex = 0;
    ULWord pciSlot = 0;
    uint64_t deviceSerialNumber = 0;
    std::string deviceIdentifier;
    UWord numVidInputs = 0, numVidOutputs = 0;
    UWord numAnlgVidInputs = 0, numAnlgVidOutputs = 0;
    UWord numHDMIVidInputs = 0, numHDMIVidOutputs = 0;
    bool biDirectionalSDI = false;
    bool multiFormat = false;
    UWord numAudioStreams = 0;
    UWord numEmbeddedAudioOutputChannels = 0;
};
using NTV2DeviceInfoList = std::vector<NTV2DeviceInfo>;

class CNTV2DeviceScanner {
public:
    explicit CNTV2DeviceScanner(const bool scanNow = true);
    virtual ~CNTV2DeviceScanner() = default;

    virtual void ScanHardware();
    virtual size_t GetNumDevices() const { return mDeviceInfoList.size(); }
    virtual bool GetDeviceInfo(const ULWord index, NTV2DeviceInfo& outInfo,
                               const bool rescan = false);
    virtual NTV2DeviceInfoList& GetDeviceInfoList() { return mDeviceInfoList; }
    virtual const NTV2DeviceInfoList& GetDeviceInfoList() const { return mDeviceInfoList; }
    virtual bool DeviceIDPresent(const NTV2DeviceID id, const bool rescan = false);

    static bool GetDeviceAtIndex(const ULWord index, CNTV2Card& outDevice);
    static bool GetFirstDeviceWithID(const NTV2DeviceID id, CNTV2Card& outDevice);
    static bool GetFirstDeviceWithName(const std::string& name, CNTV2Card& outDevice);

private:
    NTV2DeviceInfoList mDeviceInfoList;
};

std::string NTV2DeviceIDToString(const NTV2DeviceID id, const bool forRetailDisplay = false);
