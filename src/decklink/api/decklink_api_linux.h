// The same DeckLink interfaces as decklink_api.h, in the binary layout of the vendor's Linux
// driver library (libDeckLinkAPI.so): the generation, the identifiers, the order of each
// interface's own methods and every value are those of decklink_api.h; what differs is
//   - QueryInterface takes the IID by value, as 16 bytes in the order the IID is written;
//   - AddRef and Release return unsigned long (64 bits), "long" results are 64 bits;
//   - flags are C++ bool, strings are UTF-8 const char* that the receiver frees with free();
//   - failure codes have values of their own (below);
//   - most interfaces end in a virtual destructor, which takes two slots after the methods
//     (the iterator, the memory allocator and the audio callback have none), so a derived
//     interface's methods start two slots further on;
//   - calls follow the System V convention of the platform.
// Only a Linux x86-64 build uses this header. The value types and constants are the shared
// ones of decklink_api.h.
#pragma once

#include <cstdint>

#include "decklink/api/decklink_api.h"

static_assert(sizeof(long) == 8 && sizeof(bool) == 1, "the Linux layout is that of LP64");

namespace linux_layout {

// An IID as QueryInterface receives it: 16 bytes passed by value, Data1 first and big-end
// first ("50FB36CD-3063-..." is 0x50, 0xFB, 0x36, 0xCD, 0x30, 0x63, ...).
struct IidBytes {
    unsigned char bytes[16];
};

constexpr IidBytes ToIidBytes(const GUID& g) {
    IidBytes b{};
    for (int i = 0; i < 4; ++i) b.bytes[i] = static_cast<unsigned char>(g.Data1 >> (24 - 8 * i));
    b.bytes[4] = static_cast<unsigned char>(g.Data2 >> 8);
    b.bytes[5] = static_cast<unsigned char>(g.Data2);
    b.bytes[6] = static_cast<unsigned char>(g.Data3 >> 8);
    b.bytes[7] = static_cast<unsigned char>(g.Data3);
    for (int i = 0; i < 8; ++i) b.bytes[8 + i] = g.Data4[i];
    return b;
}

constexpr GUID FromIidBytes(const IidBytes& b) {
    GUID g{};
    for (int i = 0; i < 4; ++i) g.Data1 = (g.Data1 << 8) | b.bytes[i];
    g.Data2 = static_cast<std::uint16_t>((b.bytes[4] << 8) | b.bytes[5]);
    g.Data3 = static_cast<std::uint16_t>((b.bytes[6] << 8) | b.bytes[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = b.bytes[8 + i];
    return g;
}

// Failure codes of the Linux library. S_OK, S_FALSE and E_UNEXPECTED have the Windows values.
constexpr HRESULT kNotImplemented = MakeHResult(0x80000001u);
constexpr HRESULT kOutOfMemory = MakeHResult(0x80000002u);
constexpr HRESULT kInvalidArg = MakeHResult(0x80000003u);
constexpr HRESULT kNoInterface = MakeHResult(0x80000004u);
constexpr HRESULT kPointer = MakeHResult(0x80000005u);
constexpr HRESULT kHandle = MakeHResult(0x80000006u);
constexpr HRESULT kAbort = MakeHResult(0x80000007u);
constexpr HRESULT kFail = MakeHResult(0x80000008u);
constexpr HRESULT kAccessDenied = MakeHResult(0x80000009u);

// The two codes' meanings side by side, for translating results between the layouts.
struct ResultPair {
    HRESULT windows, linux_value;
};
inline constexpr ResultPair kResultPairs[] = {
    {E_NOTIMPL, kNotImplemented},
    {E_OUTOFMEMORY, kOutOfMemory},
    {E_INVALIDARG, kInvalidArg},
    {E_NOINTERFACE, kNoInterface},
    {E_POINTER, kPointer},
    {E_HANDLE, kHandle},
    {E_ABORT, kAbort},
    {E_FAIL, kFail},
    {E_ACCESSDENIED, kAccessDenied},
};

constexpr HRESULT ToWindowsResult(HRESULT hr) {
    for (const ResultPair& p : kResultPairs)
        if (p.linux_value == hr) return p.windows;
    return hr;
}
constexpr HRESULT ToLinuxResult(HRESULT hr) {
    for (const ResultPair& p : kResultPairs)
        if (p.windows == hr) return p.linux_value;
    return hr;
}

struct IUnknown {
    virtual HRESULT QueryInterface(IidBytes iid, void** object) = 0;
    virtual unsigned long AddRef() = 0;
    virtual unsigned long Release() = 0;

protected:
    ~IUnknown() = default;
};

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

// No destructor slots.
struct IDeckLinkIterator : IUnknown {
    virtual HRESULT Next(IDeckLink** device) = 0;

protected:
    ~IDeckLinkIterator() = default;
};

struct IDeckLink : IUnknown {
    virtual HRESULT GetModelName(const char** modelName) = 0;
    virtual HRESULT GetDisplayName(const char** displayName) = 0;

protected:
    virtual ~IDeckLink() = default;
};

struct IDeckLinkAttributes : IUnknown {
    virtual HRESULT GetFlag(BMDDeckLinkAttributeID id, bool* value) = 0;
    virtual HRESULT GetInt(BMDDeckLinkAttributeID id, std::int64_t* value) = 0;
    virtual HRESULT GetFloat(BMDDeckLinkAttributeID id, double* value) = 0;
    virtual HRESULT GetString(BMDDeckLinkAttributeID id, const char** value) = 0;

protected:
    virtual ~IDeckLinkAttributes() = default;
};

struct IDeckLinkConfiguration : IUnknown {
    virtual HRESULT SetFlag(BMDDeckLinkConfigurationID id, bool value) = 0;
    virtual HRESULT GetFlag(BMDDeckLinkConfigurationID id, bool* value) = 0;
    virtual HRESULT SetInt(BMDDeckLinkConfigurationID id, std::int64_t value) = 0;
    virtual HRESULT GetInt(BMDDeckLinkConfigurationID id, std::int64_t* value) = 0;
    virtual HRESULT SetFloat(BMDDeckLinkConfigurationID id, double value) = 0;
    virtual HRESULT GetFloat(BMDDeckLinkConfigurationID id, double* value) = 0;
    virtual HRESULT SetString(BMDDeckLinkConfigurationID id, const char* value) = 0;
    virtual HRESULT GetString(BMDDeckLinkConfigurationID id, const char** value) = 0;
    virtual HRESULT WriteConfigurationToPreferences() = 0;

protected:
    virtual ~IDeckLinkConfiguration() = default;
};

// The same slots as the current revision (its destructor overrides, it adds none).
struct IDeckLinkConfiguration_v10_2 : IDeckLinkConfiguration {
protected:
    ~IDeckLinkConfiguration_v10_2() override = default;
};

struct IDeckLinkKeyer : IUnknown {
    virtual HRESULT Enable(bool isExternal) = 0;
    virtual HRESULT SetLevel(unsigned char level) = 0;
    virtual HRESULT RampUp(unsigned int numberOfFrames) = 0;
    virtual HRESULT RampDown(unsigned int numberOfFrames) = 0;
    virtual HRESULT Disable() = 0;

protected:
    virtual ~IDeckLinkKeyer() = default;
};

struct IDeckLinkTimecode : IUnknown {
    virtual BMDTimecodeBCD GetBCD() = 0;
    virtual HRESULT GetComponents(unsigned char* hours, unsigned char* minutes,
                                  unsigned char* seconds, unsigned char* frames) = 0;
    virtual HRESULT GetString(const char** timecode) = 0;
    virtual BMDTimecodeFlags GetFlags() = 0;
    virtual HRESULT GetTimecodeUserBits(BMDTimecodeUserBits* userBits) = 0;

protected:
    virtual ~IDeckLinkTimecode() = default;
};

struct IDeckLinkVideoFrameAncillary : IUnknown {
    virtual HRESULT GetBufferForVerticalBlankingLine(unsigned int lineNumber, void** buffer) = 0;
    virtual BMDPixelFormat GetPixelFormat() = 0;
    virtual BMDDisplayMode GetDisplayMode() = 0;

protected:
    virtual ~IDeckLinkVideoFrameAncillary() = default;
};

// Slots 3-10, then the destructor in 11 and 12.
struct IDeckLinkVideoFrame : IUnknown {
    virtual long GetWidth() = 0;
    virtual long GetHeight() = 0;
    virtual long GetRowBytes() = 0;
    virtual BMDPixelFormat GetPixelFormat() = 0;
    virtual BMDFrameFlags GetFlags() = 0;
    virtual HRESULT GetBytes(void** buffer) = 0;
    virtual HRESULT GetTimecode(BMDTimecodeFormat format, IDeckLinkTimecode** timecode) = 0;
    virtual HRESULT GetAncillaryData(IDeckLinkVideoFrameAncillary** ancillary) = 0;

protected:
    virtual ~IDeckLinkVideoFrame() = default;
};

// Starts after the base's destructor slots: SetFlags is slot 13 (11 in the Windows layout).
struct IDeckLinkMutableVideoFrame : IDeckLinkVideoFrame {
    virtual HRESULT SetFlags(BMDFrameFlags newFlags) = 0;
    virtual HRESULT SetTimecode(BMDTimecodeFormat format, IDeckLinkTimecode* timecode) = 0;
    virtual HRESULT SetTimecodeFromComponents(BMDTimecodeFormat format, unsigned char hours,
                                              unsigned char minutes, unsigned char seconds,
                                              unsigned char frames, BMDTimecodeFlags flags) = 0;
    virtual HRESULT SetAncillaryData(IDeckLinkVideoFrameAncillary* ancillary) = 0;
    virtual HRESULT SetTimecodeUserBits(BMDTimecodeFormat format, BMDTimecodeUserBits userBits) = 0;

protected:
    ~IDeckLinkMutableVideoFrame() override = default;
};

struct IDeckLinkVideoFrame3DExtensions : IUnknown {
    virtual BMDVideo3DPackingFormat Get3DPackingFormat() = 0;
    virtual HRESULT GetFrameForRightEye(IDeckLinkVideoFrame** rightEyeFrame) = 0;

protected:
    virtual ~IDeckLinkVideoFrame3DExtensions() = default;
};

// No destructor slots.
struct IDeckLinkMemoryAllocator : IUnknown {
    virtual HRESULT AllocateBuffer(unsigned int bufferSize, void** allocatedBuffer) = 0;
    virtual HRESULT ReleaseBuffer(void* buffer) = 0;
    virtual HRESULT Commit() = 0;
    virtual HRESULT Decommit() = 0;

protected:
    ~IDeckLinkMemoryAllocator() = default;
};

struct IDeckLinkVideoOutputCallback : IUnknown {
    virtual HRESULT ScheduledFrameCompleted(IDeckLinkVideoFrame* completedFrame,
                                            BMDOutputFrameCompletionResult result) = 0;
    virtual HRESULT ScheduledPlaybackHasStopped() = 0;

protected:
    virtual ~IDeckLinkVideoOutputCallback() = default;
};

// No destructor slots.
struct IDeckLinkAudioOutputCallback : IUnknown {
    virtual HRESULT RenderAudioSamples(bool preroll) = 0;

protected:
    ~IDeckLinkAudioOutputCallback() = default;
};

struct IDeckLinkDisplayMode : IUnknown {
    virtual HRESULT GetName(const char** name) = 0;
    virtual BMDDisplayMode GetDisplayMode() = 0;
    virtual long GetWidth() = 0;
    virtual long GetHeight() = 0;
    virtual HRESULT GetFrameRate(BMDTimeValue* frameDuration, BMDTimeScale* timeScale) = 0;
    virtual BMDFieldDominance GetFieldDominance() = 0;
    virtual BMDDisplayModeFlags GetFlags() = 0;

protected:
    virtual ~IDeckLinkDisplayMode() = default;
};

struct IDeckLinkDisplayModeIterator : IUnknown {
    virtual HRESULT Next(IDeckLinkDisplayMode** deckLinkDisplayMode) = 0;

protected:
    virtual ~IDeckLinkDisplayModeIterator() = default;
};

// Only a pointer type here, as in the Windows declarations: nothing is called through it.
struct IDeckLinkScreenPreviewCallback : IUnknown {
protected:
    ~IDeckLinkScreenPreviewCallback() = default;
};

// Slots 3-29, which both output revisions share. Not an interface of the driver: each
// revision derives from it and ends in a destructor of its own, after its own last method.
struct IDeckLinkOutputCommon : IUnknown {
    virtual HRESULT DoesSupportVideoMode(BMDDisplayMode displayMode, BMDPixelFormat pixelFormat,
                                         BMDVideoOutputFlags flags, BMDDisplayModeSupport* result,
                                         IDeckLinkDisplayMode** resultDisplayMode) = 0;
    virtual HRESULT GetDisplayModeIterator(IDeckLinkDisplayModeIterator** iterator) = 0;
    virtual HRESULT SetScreenPreviewCallback(IDeckLinkScreenPreviewCallback* previewCallback) = 0;
    virtual HRESULT EnableVideoOutput(BMDDisplayMode displayMode, BMDVideoOutputFlags flags) = 0;
    virtual HRESULT DisableVideoOutput() = 0;
    virtual HRESULT SetVideoOutputFrameMemoryAllocator(IDeckLinkMemoryAllocator* allocator) = 0;
    virtual HRESULT CreateVideoFrame(int width, int height, int rowBytes,
                                     BMDPixelFormat pixelFormat, BMDFrameFlags flags,
                                     IDeckLinkMutableVideoFrame** outFrame) = 0;
    virtual HRESULT CreateAncillaryData(BMDPixelFormat pixelFormat,
                                        IDeckLinkVideoFrameAncillary** outBuffer) = 0;
    virtual HRESULT DisplayVideoFrameSync(IDeckLinkVideoFrame* theFrame) = 0;
    virtual HRESULT ScheduleVideoFrame(IDeckLinkVideoFrame* theFrame, BMDTimeValue displayTime,
                                       BMDTimeValue displayDuration, BMDTimeScale timeScale) = 0;
    virtual HRESULT SetScheduledFrameCompletionCallback(IDeckLinkVideoOutputCallback* cb) = 0;
    virtual HRESULT GetBufferedVideoFrameCount(unsigned int* bufferedFrameCount) = 0;
    virtual HRESULT EnableAudioOutput(BMDAudioSampleRate sampleRate, BMDAudioSampleType sampleType,
                                      unsigned int channelCount,
                                      BMDAudioOutputStreamType streamType) = 0;
    virtual HRESULT DisableAudioOutput() = 0;
    virtual HRESULT WriteAudioSamplesSync(void* buffer, unsigned int sampleFrameCount,
                                          unsigned int* sampleFramesWritten) = 0;
    virtual HRESULT BeginAudioPreroll() = 0;
    virtual HRESULT EndAudioPreroll() = 0;
    virtual HRESULT ScheduleAudioSamples(void* buffer, unsigned int sampleFrameCount,
                                         BMDTimeValue streamTime, BMDTimeScale timeScale,
                                         unsigned int* sampleFramesWritten) = 0;
    virtual HRESULT GetBufferedAudioSampleFrameCount(unsigned int* bufferedSampleFrameCount) = 0;
    virtual HRESULT FlushBufferedAudioSamples() = 0;
    virtual HRESULT SetAudioCallback(IDeckLinkAudioOutputCallback* theCallback) = 0;
    virtual HRESULT StartScheduledPlayback(BMDTimeValue playbackStartTime, BMDTimeScale timeScale,
                                           double playbackSpeed) = 0;
    virtual HRESULT StopScheduledPlayback(BMDTimeValue stopPlaybackAtTime,
                                          BMDTimeValue* actualStopTime, BMDTimeScale timeScale) = 0;
    virtual HRESULT IsScheduledPlaybackRunning(bool* active) = 0;
    virtual HRESULT GetScheduledStreamTime(BMDTimeScale desiredTimeScale, BMDTimeValue* streamTime,
                                           double* playbackSpeed) = 0;
    virtual HRESULT GetReferenceStatus(BMDReferenceStatus* referenceStatus) = 0;
    virtual HRESULT GetHardwareReferenceClock(BMDTimeScale desiredTimeScale,
                                              BMDTimeValue* hardwareTime, BMDTimeValue* timeInFrame,
                                              BMDTimeValue* ticksPerFrame) = 0;

protected:
    ~IDeckLinkOutputCommon() = default;
};

// Slots 3-29, destructor in 30 and 31.
struct IDeckLinkOutput_v9_9 : IDeckLinkOutputCommon {
protected:
    virtual ~IDeckLinkOutput_v9_9() = default;
};

// Slots 3-30, destructor in 31 and 32.
struct IDeckLinkOutput : IDeckLinkOutputCommon {
    virtual HRESULT GetFrameCompletionReferenceTimestamp(
        IDeckLinkVideoFrame* theFrame, BMDTimeScale desiredTimeScale,
        BMDTimeValue* frameCompletionTimestamp) = 0;

protected:
    virtual ~IDeckLinkOutput() = default;
};

// The exported entry points, newest first. Each takes nothing and returns an iterator with
// one reference for the caller, or null.
using CreateIteratorFunction = IDeckLinkIterator* (*)();
inline constexpr const char* kIteratorEntryPoints[] = {"CreateDeckLinkIteratorInstance_0004",
                                                       "CreateDeckLinkIteratorInstance_0003",
                                                       "CreateDeckLinkIteratorInstance_0002"};

}  // namespace linux_layout
