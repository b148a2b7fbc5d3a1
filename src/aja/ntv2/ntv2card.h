// One board, opened through the driver: global set-up, per-channel video, VANC, interrupts,
// audio, SDI outputs, routing and the AutoCirculate ring. Every call returns false when the
// board is not open, is gone, or refuses the value.
#pragma once

#include <string>

#include "aja/ntv2/ntv2driver.h"
#include "aja/ntv2/ntv2enums.h"

class CNTV2SignalRouter;

class CNTV2Card {
public:
    CNTV2Card() = default;
    explicit CNTV2Card(const UWord index, const std::string& host = "");
    virtual ~CNTV2Card();
    CNTV2Card(const CNTV2Card&) = delete;
    CNTV2Card& operator=(const CNTV2Card&) = delete;

    // Open / global set-up
    virtual bool Open(const UWord inDeviceIndex);
    virtual bool Close();
    virtual bool IsOpen() const { return mHandle != nullptr; }
    virtual NTV2DeviceID GetDeviceID();
    virtual UWord GetIndexNumber() const { return mIndex; }
    virtual std::string GetDisplayName();

    virtual bool SetEveryFrameServices(const NTV2EveryFrameTaskMode mode);
    virtual bool GetEveryFrameServices(NTV2EveryFrameTaskMode& outMode);
    virtual bool SetMultiFormatMode(const bool enable);
    virtual bool GetMultiFormatMode(bool& outIsEnabled);
    virtual bool SetReference(const NTV2ReferenceSource source,
                              const bool keepFramePulseSelect = false);
    virtual bool GetReference(NTV2ReferenceSource& outSource);

    // Per-channel video
    virtual bool SetVideoFormat(const NTV2VideoFormat format, const bool isAJARetail = false,
                                const bool keepVancSettings = false,
                                const NTV2Channel channel = NTV2_CHANNEL1);
    virtual bool GetVideoFormat(NTV2VideoFormat& outFormat, NTV2Channel channel = NTV2_CHANNEL1);
    virtual bool SetFrameRate(NTV2FrameRate rate, NTV2Channel channel = NTV2_CHANNEL1);
    virtual bool GetFrameRate(NTV2FrameRate& outRate, NTV2Channel channel = NTV2_CHANNEL1);
    virtual bool SetFrameBufferFormat(NTV2Channel channel, NTV2FrameBufferFormat format,
                                      bool isAJARetail = false);
    virtual bool GetFrameBufferFormat(NTV2Channel channel, NTV2FrameBufferFormat& outFormat);
    virtual bool EnableChannel(const NTV2Channel channel);
    virtual bool DisableChannel(const NTV2Channel channel);
    virtual bool IsChannelEnabled(const NTV2Channel channel, bool& outEnabled);
    virtual bool SetEnableVANCData(const bool vancOn, const bool tallerVANC = false,
                                   const NTV2Channel channel = NTV2_CHANNEL1);
    virtual bool GetEnableVANCData(bool& outOn, bool& outTaller,
                                   const NTV2Channel channel = NTV2_CHANNEL1);
    virtual bool SetVANCMode(const NTV2VANCMode mode, const NTV2Channel channel = NTV2_CHANNEL1);
    virtual bool GetVANCMode(NTV2VANCMode& outMode, const NTV2Channel channel = NTV2_CHANNEL1);
    virtual bool SetVANCShiftMode(NTV2Channel channel, NTV2VANCDataShiftMode mode);
    virtual bool GetVANCShiftMode(NTV2Channel channel, NTV2VANCDataShiftMode& outMode);
    virtual bool GetActiveFrameDimensions(NTV2FrameDimensions& outDimensions,
                                          const NTV2Channel channel = NTV2_CHANNEL1);

    // Interrupts
    virtual bool EnableOutputInterrupt(const NTV2Channel channel = NTV2_CHANNEL1);
    virtual bool SubscribeOutputVerticalEvent(const NTV2Channel channel);
    virtual bool UnsubscribeOutputVerticalEvent(const NTV2Channel channel);
    // Waits for the channel's next output vertical interrupt, at most 50 ms per repeat.
    virtual bool WaitForOutputVerticalInterrupt(const NTV2Channel channel = NTV2_CHANNEL1,
                                                UWord repeatCount = 1);

    // Audio
    virtual bool SetNumberAudioChannels(const ULWord numChannels,
                                        const NTV2AudioSystem system = NTV2_AUDIOSYSTEM_1);
    virtual bool GetNumberAudioChannels(ULWord& outChannels,
                                        const NTV2AudioSystem system = NTV2_AUDIOSYSTEM_1);
    virtual bool SetAudioRate(const NTV2AudioRate rate,
                              const NTV2AudioSystem system = NTV2_AUDIOSYSTEM_1);
    virtual bool GetAudioRate(NTV2AudioRate& outRate,
                              const NTV2AudioSystem system = NTV2_AUDIOSYSTEM_1);
    virtual bool SetAudioBufferSize(const NTV2AudioBufferSize size,
                                    const NTV2AudioSystem system = NTV2_AUDIOSYSTEM_1);
    virtual bool SetAudioLoopBack(const NTV2AudioLoopBack mode,
                                  const NTV2AudioSystem system = NTV2_AUDIOSYSTEM_1);
    virtual bool SetSDIOutputAudioSystem(const NTV2Channel sdiOutput, const NTV2AudioSystem system);
    virtual bool GetSDIOutputAudioSystem(const NTV2Channel sdiOutput, NTV2AudioSystem& outSystem);

    // SDI outputs
    virtual bool SetSDIOutputStandard(const UWord outputSpigot, const NTV2Standard standard);
    virtual bool GetSDIOutputStandard(const UWord outputSpigot, NTV2Standard& outStandard);
    virtual bool SetSDITransmitEnable(const NTV2Channel channel, const bool enable);
    virtual bool GetSDITransmitEnable(const NTV2Channel channel, bool& outEnabled);

    // Routing
    virtual bool ApplySignalRoute(const CNTV2SignalRouter& router, const bool replace = false);
    virtual bool Connect(const NTV2InputCrosspointID input, const NTV2OutputCrosspointID output,
                         const bool validate = false);
    virtual bool Disconnect(const NTV2InputCrosspointID input);
    virtual bool ClearRouting();
    virtual bool GetConnectedOutput(const NTV2InputCrosspointID input,
                                    NTV2OutputCrosspointID& outOutput);

    // AutoCirculate (classic)
    virtual bool InitAutoCirculate(NTV2Crosspoint channelSpec, LWord startFrame, LWord endFrame,
                                   LWord numChannels, NTV2AudioSystem audioSystem,
                                   bool withAudio = false, bool withRP188 = false,
                                   bool fbfChange = false, bool fboChange = false,
                                   bool withColorCorrection = false, bool withVidProc = false,
                                   bool withCustomAncData = false, bool withLTC = false);
    virtual bool StartAutoCirculate(const NTV2Crosspoint channelSpec, const ULWord64 startTime = 0);
    virtual bool StopAutoCirculate(NTV2Crosspoint channelSpec);
    virtual bool AbortAutoCirculate(NTV2Crosspoint channelSpec);
    virtual bool GetAutoCirculate(NTV2Crosspoint channelSpec, AUTOCIRCULATE_STATUS_STRUCT* status);
    virtual bool TransferWithAutoCirculateEx2(PAUTOCIRCULATE_TRANSFER_STRUCT transfer,
                                              PAUTOCIRCULATE_TRANSFER_STATUS_STRUCT status,
                                              NTV2RoutingTable* routing = nullptr,
                                              PAUTOCIRCULATE_TASK_STRUCT tasks = nullptr);

    // Registers
    virtual bool ReadRegister(const ULWord regNum, ULWord& outValue, const ULWord mask = 0xFFFFFFFF,
                              const ULWord shift = 0);
    virtual bool WriteRegister(const ULWord regNum, const ULWord value,
                               const ULWord mask = 0xFFFFFFFF, const ULWord shift = 0);

protected:
    bool Read(ULWord reg, ULWord& value);
    bool Write(ULWord reg, ULWord value);

    const OxNtv2Driver* mDriver = nullptr;
    void* mHandle = nullptr;
    UWord mIndex = 0;
    NTV2DeviceID mDeviceID = DEVICE_ID_NOTFOUND;
    std::string mModel;
};
