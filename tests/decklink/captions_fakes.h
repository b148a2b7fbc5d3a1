// Stand-ins for the card's frame, ancillary and output objects and for a frame carrying data
// items, for tests of the caption, timecode and statistics code without a driver. They live
// on the test's stack: reference counts are kept but never delete.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "decklink/api/decklink_api.h"
#include "decklink/vanc.h"
#include "orvex/interfaces.h"

namespace orvex::test {

#define FAKE_UNKNOWN                                         \
    STDMETHOD(QueryInterface)(REFIID, void** ppv) override { \
        *ppv = nullptr;                                      \
        return E_NOINTERFACE;                                \
    }                                                        \
    STDMETHOD_(ULONG, AddRef)() override {                   \
        return ++refs;                                       \
    }                                                        \
    STDMETHOD_(ULONG, Release)() override {                  \
        return --refs;                                       \
    }                                                        \
    ULONG refs = 1;
#define FAKE_NOTIMPL(name, ...)             \
    STDMETHOD(name)(__VA_ARGS__) override { \
        return E_NOTIMPL;                   \
    }

// Blanking lines of one row each, created on first request; all but `refused_line` exist.
class FakeAncillary final : public IDeckLinkVideoFrameAncillary {
public:
    FAKE_UNKNOWN
    explicit FakeAncillary(std::size_t row_bytes) : row_bytes(row_bytes) {}
    STDMETHOD(GetBufferForVerticalBlankingLine)(unsigned int line, void** buffer) override {
        *buffer = nullptr;
        if (line == refused_line) return E_INVALIDARG;
        auto& bytes = lines[line];
        if (bytes.empty()) bytes.assign(row_bytes, 0xEE);  // not blank: shows what was cleared
        *buffer = bytes.data();
        return S_OK;
    }
    STDMETHOD_(BMDPixelFormat, GetPixelFormat)() override { return bmdFormat10BitYUV; }
    STDMETHOD_(BMDDisplayMode, GetDisplayMode)() override { return 0; }

    std::size_t row_bytes;
    std::map<unsigned, std::vector<std::uint8_t>> lines;
    unsigned refused_line = 0;
};

class FakeDeckFrame final : public IDeckLinkMutableVideoFrame {
public:
    FAKE_UNKNOWN
    FakeDeckFrame(int width, int height, BMDPixelFormat format, int row_bytes,
                  BMDFrameFlags flags = 0)
        : width(width),
          height(height),
          row_bytes(row_bytes),
          format(format),
          flags(flags),
          bytes(static_cast<std::size_t>(row_bytes) * static_cast<std::size_t>(height), 0x5A) {}
    STDMETHOD_(std::int32_t, GetWidth)() override { return width; }
    STDMETHOD_(std::int32_t, GetHeight)() override { return height; }
    STDMETHOD_(std::int32_t, GetRowBytes)() override { return row_bytes; }
    STDMETHOD_(BMDPixelFormat, GetPixelFormat)() override { return format; }
    STDMETHOD_(BMDFrameFlags, GetFlags)() override { return flags; }
    STDMETHOD(GetBytes)(void** buffer) override {
        *buffer = bytes.data();
        return S_OK;
    }
    FAKE_NOTIMPL(GetTimecode, BMDTimecodeFormat, IDeckLinkTimecode**)
    FAKE_NOTIMPL(GetAncillaryData, IDeckLinkVideoFrameAncillary**)
    FAKE_NOTIMPL(SetFlags, BMDFrameFlags)
    FAKE_NOTIMPL(SetTimecode, BMDTimecodeFormat, IDeckLinkTimecode*)
    STDMETHOD(SetTimecodeFromComponents)
    (BMDTimecodeFormat f, unsigned char h, unsigned char m, unsigned char s, unsigned char fr,
     BMDTimecodeFlags fl) override {
        timecode = Timecode{f, h, m, s, fr, fl};
        return S_OK;
    }
    STDMETHOD(SetAncillaryData)(IDeckLinkVideoFrameAncillary* a) override {
        ancillary = a;
        return S_OK;
    }
    FAKE_NOTIMPL(SetTimecodeUserBits, BMDTimecodeFormat, BMDTimecodeUserBits)

    struct Timecode {
        BMDTimecodeFormat format;
        unsigned char h, m, s, f;
        BMDTimecodeFlags flags;
    };
    int width, height, row_bytes;
    BMDPixelFormat format;
    BMDFrameFlags flags;
    std::vector<std::uint8_t> bytes;
    std::optional<Timecode> timecode;
    IDeckLinkVideoFrameAncillary* ancillary = nullptr;
};

// An output that makes FakeAncillary objects and answers the statistics calls from fields.
class FakeOutput final : public IDeckLinkOutput_v9_9 {
public:
    FAKE_UNKNOWN
    explicit FakeOutput(std::size_t row_bytes = 0) : ancillary(row_bytes) {}
    FAKE_NOTIMPL(DoesSupportVideoMode, BMDDisplayMode, BMDPixelFormat, BMDVideoOutputFlags,
                 BMDDisplayModeSupport*, IDeckLinkDisplayMode**)
    FAKE_NOTIMPL(GetDisplayModeIterator, IDeckLinkDisplayModeIterator**)
    FAKE_NOTIMPL(SetScreenPreviewCallback, IDeckLinkScreenPreviewCallback*)
    FAKE_NOTIMPL(EnableVideoOutput, BMDDisplayMode, BMDVideoOutputFlags)
    FAKE_NOTIMPL(DisableVideoOutput)
    FAKE_NOTIMPL(SetVideoOutputFrameMemoryAllocator, IDeckLinkMemoryAllocator*)
    FAKE_NOTIMPL(CreateVideoFrame, int, int, int, BMDPixelFormat, BMDFrameFlags,
                 IDeckLinkMutableVideoFrame**)
    STDMETHOD(CreateAncillaryData)
    (BMDPixelFormat, IDeckLinkVideoFrameAncillary** out) override {
        ++ancillary_made;
        ancillary.AddRef();
        *out = &ancillary;
        return S_OK;
    }
    FAKE_NOTIMPL(DisplayVideoFrameSync, IDeckLinkVideoFrame*)
    FAKE_NOTIMPL(ScheduleVideoFrame, IDeckLinkVideoFrame*, BMDTimeValue, BMDTimeValue, BMDTimeScale)
    FAKE_NOTIMPL(SetScheduledFrameCompletionCallback, IDeckLinkVideoOutputCallback*)
    STDMETHOD(GetBufferedVideoFrameCount)(unsigned int* n) override {
        *n = video_frames;
        return fail_video_count;
    }
    FAKE_NOTIMPL(EnableAudioOutput, BMDAudioSampleRate, BMDAudioSampleType, unsigned int,
                 BMDAudioOutputStreamType)
    FAKE_NOTIMPL(DisableAudioOutput)
    FAKE_NOTIMPL(WriteAudioSamplesSync, void*, unsigned int, unsigned int*)
    FAKE_NOTIMPL(BeginAudioPreroll)
    FAKE_NOTIMPL(EndAudioPreroll)
    FAKE_NOTIMPL(ScheduleAudioSamples, void*, unsigned int, BMDTimeValue, BMDTimeScale,
                 unsigned int*)
    STDMETHOD(GetBufferedAudioSampleFrameCount)(unsigned int* n) override {
        *n = audio_samples;
        return S_OK;
    }
    FAKE_NOTIMPL(FlushBufferedAudioSamples)
    FAKE_NOTIMPL(SetAudioCallback, IDeckLinkAudioOutputCallback*)
    FAKE_NOTIMPL(StartScheduledPlayback, BMDTimeValue, BMDTimeScale, double)
    FAKE_NOTIMPL(StopScheduledPlayback, BMDTimeValue, BMDTimeValue*, BMDTimeScale)
    FAKE_NOTIMPL(IsScheduledPlaybackRunning, BOOL*)
    STDMETHOD(GetScheduledStreamTime)(BMDTimeScale scale, BMDTimeValue* t, double* speed) override {
        *t = stream_time * scale / 10'000'000;
        *speed = 1.0;
        return S_OK;
    }
    FAKE_NOTIMPL(GetReferenceStatus, BMDReferenceStatus*)
    STDMETHOD(GetHardwareReferenceClock)
    (BMDTimeScale scale, BMDTimeValue* hw, BMDTimeValue* in_frame,
     BMDTimeValue* per_frame) override {
        *hw = hardware_time * scale / 10'000'000;
        *in_frame = time_in_frame * scale / 10'000'000;
        *per_frame = ticks_per_frame * scale / 10'000'000;
        return S_OK;
    }

    FakeAncillary ancillary;
    int ancillary_made = 0;
    unsigned video_frames = 0, audio_samples = 0;
    HRESULT fail_video_count = S_OK;
    LONGLONG stream_time = 0, hardware_time = 0, time_in_frame = 0, ticks_per_frame = 400000;
};

// A frame with data items and a time record; nothing else of IMFrame_I is used.
class ItemFrame final : public IMFrame_I {
public:
    FAKE_UNKNOWN
    std::map<DWORD, std::vector<BYTE>> items;
    M_TIME time{};

    STDMETHOD(FrameDataGet)(DWORD code, LONG* size, BYTE** data) override {
        auto it = items.find(code);
        if (it == items.end()) return E_INVALIDARG;
        *size = static_cast<LONG>(it->second.size());
        *data = it->second.data();
        return S_OK;
    }
    STDMETHOD(FrameTimeGet)(M_TIME* t) override {
        *t = time;
        return S_OK;
    }
    FAKE_NOTIMPL(FrameAVPropsGet, M_AV_PROPS*)
    FAKE_NOTIMPL(FrameAVPropsSet, const M_AV_PROPS*)
    FAKE_NOTIMPL(FrameTimeSet, const M_TIME*)
    FAKE_NOTIMPL(FrameAudioGet, LONG*, BYTE**)
    FAKE_NOTIMPL(FrameVideoGet, BYTE**, LONG*)
    FAKE_NOTIMPL(FrameAudioSamplesGet, int*)
    FAKE_NOTIMPL(FrameVideoIDGet, LONGLONG*)
    FAKE_NOTIMPL(FrameDataSet, DWORD, LONG, const BYTE*)
    FAKE_NOTIMPL(FrameDataRemove, DWORD)
    FAKE_NOTIMPL(FrameDataGetCount, int*)
    FAKE_NOTIMPL(FrameDataGetByIndex, int, DWORD*, LONG*, BYTE**)
    FAKE_NOTIMPL(FrameStrSet, BSTR, BSTR)
    FAKE_NOTIMPL(FrameStrGet, BSTR, BSTR*)
    FAKE_NOTIMPL(FrameObjSet, BSTR, IUnknown*)
    FAKE_NOTIMPL(FrameObjGet, BSTR, IUnknown**)
    FAKE_NOTIMPL(FrameClone, eMFrameClone, IMFrame_I**)
    FAKE_NOTIMPL(FrameVideoAlloc, const M_VID_PROPS*)
    FAKE_NOTIMPL(FrameAudioAlloc, const M_AUD_PROPS*, int)
    FAKE_NOTIMPL(FrameVideoSet, const M_VID_PROPS*, LONG, const BYTE*)
    FAKE_NOTIMPL(FrameAudioSet, const M_AUD_PROPS*, int, LONG, const BYTE*)
    FAKE_NOTIMPL(FrameProcessIDGet, DWORD*)
    FAKE_NOTIMPL(FrameMemorySizeGet, LONGLONG*)
    FAKE_NOTIMPL(FrameAllGet, M_TIME*, M_AV_PROPS*, int*, BYTE**, LONG*, BYTE**)
};

#undef FAKE_NOTIMPL
#undef FAKE_UNKNOWN

// A 'GA94' item: identifier, type 3, the cc_count byte (the triplets' count unless
// `declared` is given), em_data and the triplets, padded to the item's 11-byte minimum.
inline std::vector<std::uint8_t> Ga94Item(const std::vector<std::vector<std::uint8_t>>& triplets,
                                          int declared = -1) {
    const int count = declared < 0 ? static_cast<int>(triplets.size()) : declared;
    std::vector<std::uint8_t> item{'G', 'A', '9', '4', 3, static_cast<std::uint8_t>(0x40 | count),
                                   0xFF};
    for (const auto& t : triplets) item.insert(item.end(), t.begin(), t.end());
    if (item.size() < 11) item.resize(11, 0);
    return item;
}

// The 10-bit samples of a v210 line, in order.
inline std::vector<std::uint16_t> V210Samples(const std::uint8_t* line, std::size_t bytes) {
    std::vector<std::uint16_t> out;
    for (std::size_t w = 0; w + 4 <= bytes; w += 4) {
        std::uint32_t word;
        std::memcpy(&word, line + w, 4);
        for (int k = 0; k < 3; ++k)
            out.push_back(static_cast<std::uint16_t>((word >> (10 * k)) & 0x3FF));
    }
    return out;
}

}  // namespace orvex::test
