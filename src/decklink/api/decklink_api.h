// Our declaration of the DeckLink driver interfaces of the 10.5 generation, with the vendor's
// Windows binary layout on our COM IUnknown: every slot of every interface the backend or the
// virtual card touches, so that a driver's objects can be called through them and ours can be
// handed to a driver.
//
// Layout rules (they hold on every compiler we build with):
//   - methods in vtable order, no virtual destructors (a virtual destructor would insert
//     slots under the Itanium ABI and shift every later method);
//   - Windows widths: BOOL and every BMD... type are 32 bits, "long" results are int32_t,
//     LONGLONG and the time values 64 bits, strings are BSTR freed by the caller;
//   - out interface pointers carry one reference for the caller.
// The vendor's Linux driver has another binary layout (by-value IIDs, C++ bool, 64-bit long,
// destructor slots): decklink_api_linux.h declares it, and layout_bridge.h presents its
// objects through these declarations.
#pragma once

#include <cstdint>

#include "com/types.h"

// ---------------------------------------------------------------------------------------------
// Value types. All are 32-bit on the wire (the vendor IDL marks the enumerations v1_enum).
using BMDDisplayMode = std::uint32_t;
using BMDPixelFormat = std::uint32_t;
using BMDVideoOutputFlags = std::uint32_t;
using BMDFrameFlags = std::uint32_t;
using BMDDisplayModeSupport = std::uint32_t;
using BMDOutputFrameCompletionResult = std::uint32_t;
using BMDReferenceStatus = std::uint32_t;
using BMDAudioSampleRate = std::uint32_t;
using BMDAudioSampleType = std::uint32_t;
using BMDAudioOutputStreamType = std::uint32_t;
using BMDTimecodeFormat = std::uint32_t;
using BMDTimecodeFlags = std::uint32_t;
using BMDTimecodeBCD = std::uint32_t;
using BMDTimecodeUserBits = std::uint32_t;
using BMDVideo3DPackingFormat = std::uint32_t;
using BMDDeckLinkAttributeID = std::uint32_t;
using BMDDeckLinkConfigurationID = std::uint32_t;
using BMDFieldDominance = std::uint32_t;
using BMDDisplayModeFlags = std::uint32_t;
using BMDVideoConnection = std::uint32_t;
using BMDAudioConnection = std::uint32_t;
using BMDDeviceBusyState = std::uint32_t;
using BMDTimeValue = std::int64_t;
using BMDTimeScale = std::int64_t;

// A four-character code: first character in the most significant byte.
constexpr std::uint32_t DeckLinkFourCC(const char (&s)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[3]));
}

// Display modes.
constexpr BMDDisplayMode bmdModeNTSC = 0x6E747363;         // 'ntsc'
constexpr BMDDisplayMode bmdModeNTSC2398 = 0x6E743233;     // 'nt23'
constexpr BMDDisplayMode bmdModePAL = 0x70616C20;          // 'pal '
constexpr BMDDisplayMode bmdModeNTSCp = 0x6E747370;        // 'ntsp'
constexpr BMDDisplayMode bmdModePALp = 0x70616C70;         // 'palp'
constexpr BMDDisplayMode bmdModeHD720p50 = 0x68703530;     // 'hp50'
constexpr BMDDisplayMode bmdModeHD720p5994 = 0x68703539;   // 'hp59'
constexpr BMDDisplayMode bmdModeHD720p60 = 0x68703630;     // 'hp60'
constexpr BMDDisplayMode bmdModeHD1080p2398 = 0x32337073;  // '23ps'
constexpr BMDDisplayMode bmdModeHD1080p24 = 0x32347073;    // '24ps'
constexpr BMDDisplayMode bmdModeHD1080p25 = 0x48703235;    // 'Hp25'
constexpr BMDDisplayMode bmdModeHD1080p2997 = 0x48703239;  // 'Hp29'
constexpr BMDDisplayMode bmdModeHD1080p30 = 0x48703330;    // 'Hp30'
constexpr BMDDisplayMode bmdModeHD1080i50 = 0x48693530;    // 'Hi50'
constexpr BMDDisplayMode bmdModeHD1080i5994 = 0x48693539;  // 'Hi59'
constexpr BMDDisplayMode bmdModeHD1080i6000 = 0x48693630;  // 'Hi60'
constexpr BMDDisplayMode bmdModeHD1080p50 = 0x48703530;    // 'Hp50'
constexpr BMDDisplayMode bmdModeHD1080p5994 = 0x48703539;  // 'Hp59'
constexpr BMDDisplayMode bmdModeHD1080p6000 = 0x48703630;  // 'Hp60'
constexpr BMDDisplayMode bmdMode2k2398 = 0x326B3233;       // '2k23'
constexpr BMDDisplayMode bmdMode2k24 = 0x326B3234;         // '2k24'
constexpr BMDDisplayMode bmdMode2k25 = 0x326B3235;         // '2k25'
constexpr BMDDisplayMode bmdMode2kDCI2398 = 0x32643233;    // '2d23'
constexpr BMDDisplayMode bmdMode2kDCI24 = 0x32643234;      // '2d24'
constexpr BMDDisplayMode bmdMode2kDCI25 = 0x32643235;      // '2d25'
constexpr BMDDisplayMode bmdMode4K2160p2398 = 0x346B3233;  // '4k23'
constexpr BMDDisplayMode bmdMode4K2160p24 = 0x346B3234;    // '4k24'
constexpr BMDDisplayMode bmdMode4K2160p25 = 0x346B3235;    // '4k25'
constexpr BMDDisplayMode bmdMode4K2160p2997 = 0x346B3239;  // '4k29'
constexpr BMDDisplayMode bmdMode4K2160p30 = 0x346B3330;    // '4k30'
constexpr BMDDisplayMode bmdMode4K2160p50 = 0x346B3530;    // '4k50'
constexpr BMDDisplayMode bmdMode4K2160p5994 = 0x346B3539;  // '4k59'
constexpr BMDDisplayMode bmdMode4K2160p60 = 0x346B3630;    // '4k60'
constexpr BMDDisplayMode bmdMode4kDCI2398 = 0x34643233;    // '4d23'
constexpr BMDDisplayMode bmdMode4kDCI24 = 0x34643234;      // '4d24'
constexpr BMDDisplayMode bmdMode4kDCI25 = 0x34643235;      // '4d25'
constexpr BMDDisplayMode bmdModeUnknown = 0x69756E6B;      // 'iunk'

// Pixel formats. 8-bit ARGB is the plain number 32, not a four-character code.
constexpr BMDPixelFormat bmdFormat8BitYUV = 0x32767579;      // '2vuy', U Y V Y, width * 2
constexpr BMDPixelFormat bmdFormat10BitYUV = 0x76323130;     // 'v210', 128-byte groups of 48
constexpr BMDPixelFormat bmdFormat8BitARGB = 0x00000020;     // 32
constexpr BMDPixelFormat bmdFormat8BitBGRA = 0x42475241;     // 'BGRA'
constexpr BMDPixelFormat bmdFormat10BitRGB = 0x72323130;     // 'r210' (row bytes unverified)
constexpr BMDPixelFormat bmdFormat12BitRGB = 0x52313242;     // 'R12B' big-endian
constexpr BMDPixelFormat bmdFormat12BitRGBLE = 0x5231324C;   // 'R12L'
constexpr BMDPixelFormat bmdFormat10BitRGBXLE = 0x5231306C;  // 'R10l'
constexpr BMDPixelFormat bmdFormat10BitRGBX = 0x52313062;    // 'R10b'

// Video output flags (EnableVideoOutput, DoesSupportVideoMode).
constexpr BMDVideoOutputFlags bmdVideoOutputFlagDefault = 0;
constexpr BMDVideoOutputFlags bmdVideoOutputVANC = 0x01;
constexpr BMDVideoOutputFlags bmdVideoOutputVITC = 0x02;
constexpr BMDVideoOutputFlags bmdVideoOutputRP188 = 0x04;
constexpr BMDVideoOutputFlags bmdVideoOutputDualStream3D = 0x10;

// Frame flags.
constexpr BMDFrameFlags bmdFrameFlagDefault = 0;
constexpr BMDFrameFlags bmdFrameFlagFlipVertical = 0x00000001;
constexpr BMDFrameFlags bmdFrameContainsHDRMetadata = 0x00000002;  // not in 10.3.1, in 10.8
constexpr BMDFrameFlags bmdFrameHasNoInputSource = 0x80000000;

// Out value of DoesSupportVideoMode in this generation.
constexpr BMDDisplayModeSupport bmdDisplayModeNotSupported = 0;
constexpr BMDDisplayModeSupport bmdDisplayModeSupported = 1;
constexpr BMDDisplayModeSupport bmdDisplayModeSupportedWithConversion = 2;

constexpr BMDOutputFrameCompletionResult bmdOutputFrameCompleted = 0;
constexpr BMDOutputFrameCompletionResult bmdOutputFrameDisplayedLate = 1;
constexpr BMDOutputFrameCompletionResult bmdOutputFrameDropped = 2;
constexpr BMDOutputFrameCompletionResult bmdOutputFrameFlushed = 3;

// Reference status: a bit field; 0 = no reference.
constexpr BMDReferenceStatus bmdReferenceNotSupportedByHardware = 0x1;
constexpr BMDReferenceStatus bmdReferenceLocked = 0x2;

constexpr BMDAudioSampleRate bmdAudioSampleRate48kHz = 48000;
constexpr BMDAudioSampleType bmdAudioSampleType16bitInteger = 16;
constexpr BMDAudioSampleType bmdAudioSampleType32bitInteger = 32;
constexpr BMDAudioOutputStreamType bmdAudioOutputStreamContinuous = 0;
constexpr BMDAudioOutputStreamType bmdAudioOutputStreamContinuousDontResample = 1;
constexpr BMDAudioOutputStreamType bmdAudioOutputStreamTimestamped = 2;

// Timecode formats and flags.
constexpr BMDTimecodeFormat bmdTimecodeRP188VITC1 = 0x72707631;  // 'rpv1'
constexpr BMDTimecodeFormat bmdTimecodeRP188VITC2 = 0x72703132;  // 'rp12'
constexpr BMDTimecodeFormat bmdTimecodeRP188LTC = 0x72706C74;    // 'rplt'
constexpr BMDTimecodeFormat bmdTimecodeRP188Any = 0x72703138;    // 'rp18'
constexpr BMDTimecodeFormat bmdTimecodeVITC = 0x76697463;        // 'vitc'
constexpr BMDTimecodeFormat bmdTimecodeVITCField2 = 0x76697432;  // 'vit2'
constexpr BMDTimecodeFormat bmdTimecodeSerial = 0x73657269;      // 'seri'
constexpr BMDTimecodeFlags bmdTimecodeFlagDefault = 0;
constexpr BMDTimecodeFlags bmdTimecodeIsDropFrame = 0x1;
constexpr BMDTimecodeFlags bmdTimecodeFieldMark = 0x2;

// 3D packing formats.
constexpr BMDVideo3DPackingFormat bmdVideo3DPackingSidebySideHalf = 0x73627368;  // 'sbsh'
constexpr BMDVideo3DPackingFormat bmdVideo3DPackingLinebyLine = 0x6C62796C;      // 'lbyl'
constexpr BMDVideo3DPackingFormat bmdVideo3DPackingTopAndBottom = 0x7461626F;    // 'tabo'
constexpr BMDVideo3DPackingFormat bmdVideo3DPackingFramePacking = 0x6672706B;    // 'frpk'
constexpr BMDVideo3DPackingFormat bmdVideo3DPackingLeftOnly = 0x6C656674;        // 'left'
constexpr BMDVideo3DPackingFormat bmdVideo3DPackingRightOnly = 0x72696768;       // 'righ'

// Attribute IDs (IDeckLinkAttributes).
constexpr BMDDeckLinkAttributeID BMDDeckLinkVideoOutputConnections = 0x766F636E;  // 'vocn'
constexpr BMDDeckLinkAttributeID BMDDeckLinkVideoInputConnections = 0x7669636E;   // 'vicn'
// Not in a 9.8 driver's type library.
constexpr BMDDeckLinkAttributeID BMDDeckLinkAudioInputConnections = 0x6169636E;   // 'aicn'
constexpr BMDDeckLinkAttributeID BMDDeckLinkAudioOutputConnections = 0x616F636E;  // 'aocn'
constexpr BMDDeckLinkAttributeID BMDDeckLinkSupportsFullDuplex = 0x66647570;      // 'fdup'
// Answered up to 10.5.x; whether a later driver still answers it is not known.
constexpr BMDDeckLinkAttributeID BMDDeckLinkDeviceBusyState = 0x64627374;         // 'dbst'
constexpr BMDDeckLinkAttributeID BMDDeckLinkSupportsInternalKeying = 0x6B657969;  // 'keyi'
constexpr BMDDeckLinkAttributeID BMDDeckLinkSupportsExternalKeying = 0x6B657965;  // 'keye'
constexpr BMDDeckLinkAttributeID BMDDeckLinkSupportsHDKeying = 0x6B657968;        // 'keyh'
constexpr BMDDeckLinkAttributeID BMDDeckLinkHasBypass = 0x62797073;               // 'byps'
constexpr BMDDeckLinkAttributeID BMDDeckLinkHasReferenceInput = 0x6872696E;       // 'hrin'
constexpr BMDDeckLinkAttributeID BMDDeckLinkMaximumAudioChannels = 0x6D616368;    // 'mach'
constexpr BMDDeckLinkAttributeID BMDDeckLinkNumberOfSubDevices = 0x6E736264;      // 'nsbd'
constexpr BMDDeckLinkAttributeID BMDDeckLinkSubDeviceIndex = 0x73756269;          // 'subi'
constexpr BMDDeckLinkAttributeID BMDDeckLinkPersistentID = 0x70656964;            // 'peid'
constexpr BMDDeckLinkAttributeID BMDDeckLinkTopologicalID = 0x746F6964;           // 'toid'
constexpr BMDDeckLinkAttributeID BMDDeckLinkVideoIOSupport = 0x76696F73;          // 'vios'
constexpr BMDDeckLinkAttributeID BMDDeckLinkSerialPortDeviceName = 0x736C706E;    // 'slpn'
constexpr BMDDeckLinkAttributeID BMDDeckLinkSupportsDesktopDisplay = 0x65787464;  // 'extd'

// Busy-state bits (value of 'dbst').
constexpr BMDDeviceBusyState bmdDeviceCaptureBusy = 0x1;
constexpr BMDDeviceBusyState bmdDevicePlaybackBusy = 0x2;
constexpr BMDDeviceBusyState bmdDeviceSerialPortBusy = 0x4;

// 'vios' bits.
constexpr std::uint32_t bmdDeviceSupportsCapture = 0x1;
constexpr std::uint32_t bmdDeviceSupportsPlayback = 0x2;

// Connection bits ('vicn', 'vocn', 'aicn', 'aocn'; audio as bits from 10.3 on).
constexpr BMDVideoConnection bmdVideoConnectionSDI = 0x01;
constexpr BMDVideoConnection bmdVideoConnectionHDMI = 0x02;
constexpr BMDVideoConnection bmdVideoConnectionOpticalSDI = 0x04;
constexpr BMDVideoConnection bmdVideoConnectionComponent = 0x08;
constexpr BMDVideoConnection bmdVideoConnectionComposite = 0x10;
constexpr BMDVideoConnection bmdVideoConnectionSVideo = 0x20;
constexpr BMDAudioConnection bmdAudioConnectionEmbedded = 0x01;
constexpr BMDAudioConnection bmdAudioConnectionAESEBU = 0x02;
constexpr BMDAudioConnection bmdAudioConnectionAnalog = 0x04;
constexpr BMDAudioConnection bmdAudioConnectionAnalogXLR = 0x08;
constexpr BMDAudioConnection bmdAudioConnectionAnalogRCA = 0x10;
constexpr BMDAudioConnection bmdAudioConnectionMicrophone = 0x20;  // not in 10.3.1, in 10.8
constexpr BMDAudioConnection bmdAudioConnectionHeadphones = 0x40;  // not in 10.3.1, in 10.8

// Audio input connection codes of the configuration revision before 10.3.
constexpr std::uint32_t bmdAudioConnectionEmbedded_v10_2 = 0x656D6264;   // 'embd'
constexpr std::uint32_t bmdAudioConnectionAESEBU_v10_2 = 0x61657320;     // 'aes '
constexpr std::uint32_t bmdAudioConnectionAnalog_v10_2 = 0x616E6C67;     // 'anlg'
constexpr std::uint32_t bmdAudioConnectionAnalogXLR_v10_2 = 0x61786C72;  // 'axlr'
constexpr std::uint32_t bmdAudioConnectionAnalogRCA_v10_2 = 0x61726361;  // 'arca'

// Configuration IDs (IDeckLinkConfiguration).
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigLowLatencyVideoOutput = 0x6C6C766F;  // llvo
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigFieldFlickerRemoval = 0x66646672;    // fdfr
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigBypass = 0x62797073;                 // byps
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigVideoOutputConnection = 0x766F636E;  // vocn
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigVideoInputConnection = 0x7669636E;   // vicn
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigAudioInputConnection = 0x6169636E;   // aicn
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigVideoOutputConversionMode = 0x766F636D;
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigVideoOutputIdleOperation = 0x766F696F;
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigDefaultVideoOutputMode = 0x64766F6D;
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigReferenceInputTimingOffset = 0x676C6F74;
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfig444SDIVideoOutput = 0x3434346F;
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigBlackVideoOutputDuringCapture = 0x62766F63;
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigAnalogAudioOutputSelect = 0x616F6161;
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigUse1080pNotPsF = 0x6670726F;  // <= 10.9.x
// In 10.8 but not 10.3.1; whether 10.5 has it is not verified.
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigDuplexMode = 0x64757078;             // 'dupx'
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfigSingleLinkVideoOutput = 0x73676C6F;  // 10.4
constexpr BMDDeckLinkConfigurationID bmdDeckLinkConfig3GBpsVideoOutput = 0x33676273;  // <= 10.2.x
constexpr std::uint32_t bmdIdleVideoOutputBlack = 0x626C6163;                         // 'blac'
constexpr std::uint32_t bmdIdleVideoOutputLastFrame = 0x6C616661;                     // 'lafa'
constexpr std::uint32_t bmdIdleVideoOutputDesktop = 0x6465736B;   // 'desk' (<= 10.6)
constexpr std::uint32_t bmdDuplexModeFull = 0x66647570;           // 'fdup'
constexpr std::uint32_t bmdDuplexModeHalf = 0x68647570;           // 'hdup'
constexpr std::uint32_t bmdAudioOutputSwitchAESEBU = 0x61657320;  // 'aes '
constexpr std::uint32_t bmdAudioOutputSwitchAnalog = 0x616E6C67;  // 'anlg'

// Display-mode objects.
constexpr BMDFieldDominance bmdUnknownFieldDominance = 0;
constexpr BMDFieldDominance bmdLowerFieldFirst = 0x6C6F7772;            // 'lowr'
constexpr BMDFieldDominance bmdUpperFieldFirst = 0x75707072;            // 'uppr'
constexpr BMDFieldDominance bmdProgressiveFrame = 0x70726F67;           // 'prog'
constexpr BMDFieldDominance bmdProgressiveSegmentedFrame = 0x70736620;  // 'psf '
constexpr BMDDisplayModeFlags bmdDisplayModeSupports3D = 0x1;
constexpr BMDDisplayModeFlags bmdDisplayModeColorspaceRec601 = 0x2;
constexpr BMDDisplayModeFlags bmdDisplayModeColorspaceRec709 = 0x4;

// ---------------------------------------------------------------------------------------------
// Interfaces, each in slot order. Slots 0-2 are IUnknown.
struct IDeckLink;
struct IDeckLinkDisplayMode;
struct IDeckLinkDisplayModeIterator;
struct IDeckLinkMutableVideoFrame;
struct IDeckLinkVideoFrame;
struct IDeckLinkVideoFrameAncillary;
struct IDeckLinkTimecode;
struct IDeckLinkMemoryAllocator;
struct IDeckLinkVideoOutputCallback;
struct IDeckLinkAudioOutputCallback;
struct IDeckLinkScreenPreviewCallback;

struct IDeckLinkIterator : IUnknown {
    // Each device with a reference for the caller; any result but S_OK ends the list (the
    // vendor's end-of-list code is not known; the virtual card answers S_FALSE).
    STDMETHOD(Next)(IDeckLink** deckLinkInstance) = 0;

protected:
    ~IDeckLinkIterator() = default;
};

struct IDeckLink : IUnknown {
    STDMETHOD(GetModelName)(BSTR* modelName) = 0;
    STDMETHOD(GetDisplayName)(BSTR* displayName) = 0;

protected:
    ~IDeckLink() = default;
};

struct IDeckLinkAttributes : IUnknown {
    STDMETHOD(GetFlag)(BMDDeckLinkAttributeID cfgID, BOOL* value) = 0;
    STDMETHOD(GetInt)(BMDDeckLinkAttributeID cfgID, LONGLONG* value) = 0;
    STDMETHOD(GetFloat)(BMDDeckLinkAttributeID cfgID, double* value) = 0;
    STDMETHOD(GetString)(BMDDeckLinkAttributeID cfgID, BSTR* value) = 0;

protected:
    ~IDeckLinkAttributes() = default;
};

// The 10.5 revision (CB71734A). Settings are global to the device.
struct IDeckLinkConfiguration : IUnknown {
    STDMETHOD(SetFlag)(BMDDeckLinkConfigurationID cfgID, BOOL value) = 0;
    STDMETHOD(GetFlag)(BMDDeckLinkConfigurationID cfgID, BOOL* value) = 0;
    STDMETHOD(SetInt)(BMDDeckLinkConfigurationID cfgID, LONGLONG value) = 0;
    STDMETHOD(GetInt)(BMDDeckLinkConfigurationID cfgID, LONGLONG* value) = 0;
    STDMETHOD(SetFloat)(BMDDeckLinkConfigurationID cfgID, double value) = 0;
    STDMETHOD(GetFloat)(BMDDeckLinkConfigurationID cfgID, double* value) = 0;
    STDMETHOD(SetString)(BMDDeckLinkConfigurationID cfgID, BSTR value) = 0;
    STDMETHOD(GetString)(BMDDeckLinkConfigurationID cfgID, BSTR* value) = 0;
    STDMETHOD(WriteConfigurationToPreferences)() = 0;

protected:
    ~IDeckLinkConfiguration() = default;
};

// The revision before 10.3 (C679A35B): the same nine slots; 'aicn' takes the old codes
// (bmdAudioConnection..._v10_2) instead of bits.
struct IDeckLinkConfiguration_v10_2 : IDeckLinkConfiguration {
protected:
    ~IDeckLinkConfiguration_v10_2() = default;
};

struct IDeckLinkKeyer : IUnknown {
    STDMETHOD(Enable)(BOOL isExternal) = 0;
    STDMETHOD(SetLevel)(unsigned char level) = 0;
    STDMETHOD(RampUp)(unsigned int numberOfFrames) = 0;
    STDMETHOD(RampDown)(unsigned int numberOfFrames) = 0;
    STDMETHOD(Disable)() = 0;

protected:
    ~IDeckLinkKeyer() = default;
};

struct IDeckLinkTimecode : IUnknown {
    STDMETHOD_(BMDTimecodeBCD, GetBCD)() = 0;
    STDMETHOD(GetComponents)
    (unsigned char* hours, unsigned char* minutes, unsigned char* seconds,
     unsigned char* frames) = 0;
    STDMETHOD(GetString)(BSTR* timecode) = 0;
    STDMETHOD_(BMDTimecodeFlags, GetFlags)() = 0;
    STDMETHOD(GetTimecodeUserBits)(BMDTimecodeUserBits* userBits) = 0;

protected:
    ~IDeckLinkTimecode() = default;
};

struct IDeckLinkVideoFrameAncillary : IUnknown {
    // One blanking line in the object's pixel format.
    STDMETHOD(GetBufferForVerticalBlankingLine)(unsigned int lineNumber, void** buffer) = 0;
    STDMETHOD_(BMDPixelFormat, GetPixelFormat)() = 0;
    STDMETHOD_(BMDDisplayMode, GetDisplayMode)() = 0;

protected:
    ~IDeckLinkVideoFrameAncillary() = default;
};

// Slots 3-7 return their values directly (no HRESULT); "long" is 32-bit on Windows.
struct IDeckLinkVideoFrame : IUnknown {
    STDMETHOD_(std::int32_t, GetWidth)() = 0;
    STDMETHOD_(std::int32_t, GetHeight)() = 0;
    STDMETHOD_(std::int32_t, GetRowBytes)() = 0;
    STDMETHOD_(BMDPixelFormat, GetPixelFormat)() = 0;
    STDMETHOD_(BMDFrameFlags, GetFlags)() = 0;
    STDMETHOD(GetBytes)(void** buffer) = 0;
    STDMETHOD(GetTimecode)(BMDTimecodeFormat format, IDeckLinkTimecode** timecode) = 0;
    STDMETHOD(GetAncillaryData)(IDeckLinkVideoFrameAncillary** ancillary) = 0;

protected:
    ~IDeckLinkVideoFrame() = default;
};

// Appends its methods after IDeckLinkVideoFrame's (slots 11-15).
struct IDeckLinkMutableVideoFrame : IDeckLinkVideoFrame {
    STDMETHOD(SetFlags)(BMDFrameFlags newFlags) = 0;
    STDMETHOD(SetTimecode)(BMDTimecodeFormat format, IDeckLinkTimecode* timecode) = 0;
    STDMETHOD(SetTimecodeFromComponents)
    (BMDTimecodeFormat format, unsigned char hours, unsigned char minutes, unsigned char seconds,
     unsigned char frames, BMDTimecodeFlags flags) = 0;
    STDMETHOD(SetAncillaryData)(IDeckLinkVideoFrameAncillary* ancillary) = 0;
    STDMETHOD(SetTimecodeUserBits)(BMDTimecodeFormat format, BMDTimecodeUserBits userBits) = 0;

protected:
    ~IDeckLinkMutableVideoFrame() = default;
};

struct IDeckLinkVideoFrame3DExtensions : IUnknown {
    STDMETHOD_(BMDVideo3DPackingFormat, Get3DPackingFormat)() = 0;
    STDMETHOD(GetFrameForRightEye)(IDeckLinkVideoFrame** rightEyeFrame) = 0;

protected:
    ~IDeckLinkVideoFrame3DExtensions() = default;
};

// Implemented by the host, called by the driver for frame memory.
struct IDeckLinkMemoryAllocator : IUnknown {
    STDMETHOD(AllocateBuffer)(unsigned int bufferSize, void** allocatedBuffer) = 0;
    STDMETHOD(ReleaseBuffer)(void* buffer) = 0;
    STDMETHOD(Commit)() = 0;
    STDMETHOD(Decommit)() = 0;

protected:
    ~IDeckLinkMemoryAllocator() = default;
};

struct IDeckLinkVideoOutputCallback : IUnknown {
    STDMETHOD(ScheduledFrameCompleted)
    (IDeckLinkVideoFrame* completedFrame, BMDOutputFrameCompletionResult result) = 0;
    STDMETHOD(ScheduledPlaybackHasStopped)() = 0;

protected:
    ~IDeckLinkVideoOutputCallback() = default;
};

struct IDeckLinkAudioOutputCallback : IUnknown {
    STDMETHOD(RenderAudioSamples)(BOOL preroll) = 0;

protected:
    ~IDeckLinkAudioOutputCallback() = default;
};

struct IDeckLinkDisplayMode : IUnknown {
    STDMETHOD(GetName)(BSTR* name) = 0;
    STDMETHOD_(BMDDisplayMode, GetDisplayMode)() = 0;
    STDMETHOD_(std::int32_t, GetWidth)() = 0;
    STDMETHOD_(std::int32_t, GetHeight)() = 0;
    // Rate = timeScale / frameDuration.
    STDMETHOD(GetFrameRate)(BMDTimeValue* frameDuration, BMDTimeScale* timeScale) = 0;
    STDMETHOD_(BMDFieldDominance, GetFieldDominance)() = 0;
    STDMETHOD_(BMDDisplayModeFlags, GetFlags)() = 0;

protected:
    ~IDeckLinkDisplayMode() = default;
};

struct IDeckLinkDisplayModeIterator : IUnknown {
    STDMETHOD(Next)(IDeckLinkDisplayMode** deckLinkDisplayMode) = 0;

protected:
    ~IDeckLinkDisplayModeIterator() = default;
};

// Only the pointer type of IDeckLinkOutput::SetScreenPreviewCallback: neither side calls it,
// so its own methods are not declared (nothing may be called through it beyond IUnknown).
struct IDeckLinkScreenPreviewCallback : IUnknown {
protected:
    ~IDeckLinkScreenPreviewCallback() = default;
};

// The output revision current before 10.0 (A3EF0963): slots 3-29 of the current one. The
// current revision (CC5C8A6E) derives from it and adds slot 30, so one object answers both
// IIDs with one vtable, and code that must work with either holds this type.
struct IDeckLinkOutput_v9_9 : IUnknown {
    STDMETHOD(DoesSupportVideoMode)
    (BMDDisplayMode displayMode, BMDPixelFormat pixelFormat, BMDVideoOutputFlags flags,
     BMDDisplayModeSupport* result, IDeckLinkDisplayMode** resultDisplayMode) = 0;
    STDMETHOD(GetDisplayModeIterator)(IDeckLinkDisplayModeIterator** iterator) = 0;
    STDMETHOD(SetScreenPreviewCallback)(IDeckLinkScreenPreviewCallback* previewCallback) = 0;
    STDMETHOD(EnableVideoOutput)(BMDDisplayMode displayMode, BMDVideoOutputFlags flags) = 0;
    STDMETHOD(DisableVideoOutput)() = 0;
    STDMETHOD(SetVideoOutputFrameMemoryAllocator)(IDeckLinkMemoryAllocator* theAllocator) = 0;
    STDMETHOD(CreateVideoFrame)
    (int width, int height, int rowBytes, BMDPixelFormat pixelFormat, BMDFrameFlags flags,
     IDeckLinkMutableVideoFrame** outFrame) = 0;
    STDMETHOD(CreateAncillaryData)
    (BMDPixelFormat pixelFormat, IDeckLinkVideoFrameAncillary** outBuffer) = 0;
    STDMETHOD(DisplayVideoFrameSync)(IDeckLinkVideoFrame* theFrame) = 0;
    STDMETHOD(ScheduleVideoFrame)
    (IDeckLinkVideoFrame* theFrame, BMDTimeValue displayTime, BMDTimeValue displayDuration,
     BMDTimeScale timeScale) = 0;
    STDMETHOD(SetScheduledFrameCompletionCallback)(IDeckLinkVideoOutputCallback* theCallback) = 0;
    STDMETHOD(GetBufferedVideoFrameCount)(unsigned int* bufferedFrameCount) = 0;
    STDMETHOD(EnableAudioOutput)
    (BMDAudioSampleRate sampleRate, BMDAudioSampleType sampleType, unsigned int channelCount,
     BMDAudioOutputStreamType streamType) = 0;
    STDMETHOD(DisableAudioOutput)() = 0;
    STDMETHOD(WriteAudioSamplesSync)
    (void* buffer, unsigned int sampleFrameCount, unsigned int* sampleFramesWritten) = 0;
    STDMETHOD(BeginAudioPreroll)() = 0;
    STDMETHOD(EndAudioPreroll)() = 0;
    STDMETHOD(ScheduleAudioSamples)
    (void* buffer, unsigned int sampleFrameCount, BMDTimeValue streamTime, BMDTimeScale timeScale,
     unsigned int* sampleFramesWritten) = 0;
    STDMETHOD(GetBufferedAudioSampleFrameCount)(unsigned int* bufferedSampleFrameCount) = 0;
    STDMETHOD(FlushBufferedAudioSamples)() = 0;
    STDMETHOD(SetAudioCallback)(IDeckLinkAudioOutputCallback* theCallback) = 0;
    STDMETHOD(StartScheduledPlayback)
    (BMDTimeValue playbackStartTime, BMDTimeScale timeScale, double playbackSpeed) = 0;
    // The out pointer sits between the two inputs.
    STDMETHOD(StopScheduledPlayback)
    (BMDTimeValue stopPlaybackAtTime, BMDTimeValue* actualStopTime, BMDTimeScale timeScale) = 0;
    STDMETHOD(IsScheduledPlaybackRunning)(BOOL* active) = 0;
    STDMETHOD(GetScheduledStreamTime)
    (BMDTimeScale desiredTimeScale, BMDTimeValue* streamTime, double* playbackSpeed) = 0;
    STDMETHOD(GetReferenceStatus)(BMDReferenceStatus* referenceStatus) = 0;
    STDMETHOD(GetHardwareReferenceClock)
    (BMDTimeScale desiredTimeScale, BMDTimeValue* hardwareTime, BMDTimeValue* timeInFrame,
     BMDTimeValue* ticksPerFrame) = 0;

protected:
    ~IDeckLinkOutput_v9_9() = default;
};

struct IDeckLinkOutput : IDeckLinkOutput_v9_9 {
    // Absent from the earlier revision: never call it through an object that answered only
    // the earlier IID.
    STDMETHOD(GetFrameCompletionReferenceTimestamp)
    (IDeckLinkVideoFrame* theFrame, BMDTimeScale desiredTimeScale,
     BMDTimeValue* frameCompletionTimestamp) = 0;

protected:
    ~IDeckLinkOutput() = default;
};

// ---------------------------------------------------------------------------------------------
// Identifiers of this generation.
ORVEX_DECLARE_IID(IDeckLinkIterator, "50FB36CD-3063-4B73-BDBB-958087F2D8BA");
ORVEX_DECLARE_IID(IDeckLink, "C418FBDD-0587-48ED-8FE5-640F0A14AF91");
ORVEX_DECLARE_IID(IDeckLinkAttributes, "ABC11843-D966-44CB-96E2-A1CB5D3135C4");
ORVEX_DECLARE_IID(IDeckLinkConfiguration, "CB71734A-FE37-4E8D-8E13-802133A1C3F2");
ORVEX_DECLARE_IID(IDeckLinkConfiguration_v10_2, "C679A35B-610C-4D09-B748-1D0478100FC0");
ORVEX_DECLARE_IID(IDeckLinkKeyer, "89AFCAF5-65F8-421E-98F7-96FE5F5BFBA3");
ORVEX_DECLARE_IID(IDeckLinkOutput, "CC5C8A6E-3F2F-4B3A-87EA-FD78AF300564");
ORVEX_DECLARE_IID(IDeckLinkOutput_v9_9, "A3EF0963-0862-44ED-92A9-EE89ABF431C7");
ORVEX_DECLARE_IID(IDeckLinkVideoFrame, "3F716FE0-F023-4111-BE5D-EF4414C05B17");
ORVEX_DECLARE_IID(IDeckLinkMutableVideoFrame, "69E2639F-40DA-4E19-B6F2-20ACE815C390");
ORVEX_DECLARE_IID(IDeckLinkVideoFrameAncillary, "732E723C-D1A4-4E29-9E8E-4A88797A0004");
ORVEX_DECLARE_IID(IDeckLinkTimecode, "BC6CFBD3-8317-4325-AC1C-1216391E9340");
ORVEX_DECLARE_IID(IDeckLinkVideoFrame3DExtensions, "DA0F7E4A-EDC7-48A8-9CDD-2DB51C729CD7");
ORVEX_DECLARE_IID(IDeckLinkMemoryAllocator, "B36EB6E7-9D29-4AA8-92EF-843B87A289E8");
ORVEX_DECLARE_IID(IDeckLinkVideoOutputCallback, "20AA5225-1958-47CB-820B-80A8D521A6EE");
ORVEX_DECLARE_IID(IDeckLinkAudioOutputCallback, "403C681B-7F46-4A12-B993-2BB127084EE6");
ORVEX_DECLARE_IID(IDeckLinkDisplayModeIterator, "9C88499F-F601-4021-B80B-032E4EB41C35");
ORVEX_DECLARE_IID(IDeckLinkDisplayMode, "3EB2C1AB-0A3D-4523-A3AD-F40D7FB14E78");
ORVEX_DECLARE_IID(IDeckLinkScreenPreviewCallback, "B1D3F49A-85FE-4C5D-95C8-0B5D5DCCD438");

// The iterator class a 10.5-generation driver registers under HKCR\CLSID\{...}\InprocServer32.
inline constexpr CLSID CLSID_CDeckLinkIterator = MakeGuid("1F2E109A-8F4F-49E4-9203-135595CB6FA5");
// Type library of the 9.8 to 10.11 drivers.
inline constexpr GUID LIBID_DeckLinkAPI = MakeGuid("D864517A-EDD5-466D-867D-C819F1C052BB");
