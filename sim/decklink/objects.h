// The COM objects of the virtual card library: iterator, device (with its attributes,
// configuration, keyer and output), frames, ancillary data, timecode and display modes.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "com/object.h"
#include "com/ptr.h"
#include "com/runtime.h"
#include "decklink/api/decklink_api.h"
#include "sim/decklink/card.h"

// Our own ancillary objects answer this private IID, so the card can list the lines that
// were filled instead of probing every line.
struct ISimAncillary : IUnknown {};
ORVEX_DECLARE_IID(ISimAncillary, "6F1D2C3B-5A49-4E8D-9B7C-0A1B2C3D4E5F");

namespace orvex::sim::decklink {

// Hands out the interface subobject (not the object's own address).
template <class Itf>
inline HRESULT Answer(Itf* itf, void** ppv) {
    static_assert(std::is_abstract_v<Itf>, "answer with an interface pointer");
    itf->AddRef();
    *ppv = itf;
    return S_OK;
}

inline HRESULT ReturnString(const std::string& text, BSTR* out) {
    if (!out) return E_POINTER;
    std::u16string s = orvex::com::ToUtf16(text);
    *out =
        SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// Reference counting shared by the objects below; each holds a module lock for its life.
class RefBase {
public:
    RefBase() { orvex::com::ThisModule().Lock(); }
    virtual ~RefBase() { orvex::com::ThisModule().Unlock(); }
    RefBase(const RefBase&) = delete;
    RefBase& operator=(const RefBase&) = delete;

protected:
    ULONG AddRefImpl() { return static_cast<ULONG>(ref_.fetch_add(1) + 1); }
    ULONG ReleaseImpl() {
        ULONG n = static_cast<ULONG>(ref_.fetch_sub(1) - 1);
        if (n == 0) delete this;
        return n;
    }

private:
    std::atomic<LONG> ref_{1};  // the creator's reference
};

#define ORVEX_SIM_REFCOUNT                  \
    STDMETHOD_(ULONG, AddRef)() override {  \
        return AddRefImpl();                \
    }                                       \
    STDMETHOD_(ULONG, Release)() override { \
        return ReleaseImpl();               \
    }

class SimTimecode final : public RefBase, public IDeckLinkTimecode {
public:
    SimTimecode(unsigned char h, unsigned char m, unsigned char s, unsigned char f,
                BMDTimecodeFlags flags, BMDTimecodeUserBits bits)
        : h_(h), m_(m), s_(s), f_(f), flags_(flags), user_bits_(bits) {}
    ORVEX_SIM_REFCOUNT
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(BMDTimecodeBCD, GetBCD)() override;
    STDMETHOD(GetComponents)
    (unsigned char* h, unsigned char* m, unsigned char* s, unsigned char* f) override;
    STDMETHOD(GetString)(BSTR* timecode) override;
    STDMETHOD_(BMDTimecodeFlags, GetFlags)() override { return flags_; }
    STDMETHOD(GetTimecodeUserBits)(BMDTimecodeUserBits* bits) override;

private:
    unsigned char h_, m_, s_, f_;
    BMDTimecodeFlags flags_;
    BMDTimecodeUserBits user_bits_;
};

class SimAncillary final : public RefBase,
                           public IDeckLinkVideoFrameAncillary,
                           public ISimAncillary {
public:
    SimAncillary(BMDPixelFormat format, BMDDisplayMode mode, std::int64_t row_bytes)
        : format_(format), mode_(mode), row_bytes_(row_bytes) {}
    STDMETHOD_(ULONG, AddRef)() override { return AddRefImpl(); }
    STDMETHOD_(ULONG, Release)() override { return ReleaseImpl(); }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD(GetBufferForVerticalBlankingLine)(unsigned int line, void** buffer) override;
    STDMETHOD_(BMDPixelFormat, GetPixelFormat)() override { return format_; }
    STDMETHOD_(BMDDisplayMode, GetDisplayMode)() override { return mode_; }

    // Copies of the lines handed out so far, by line number.
    std::map<unsigned int, std::vector<std::uint8_t>> Lines();

private:
    const BMDPixelFormat format_;
    const BMDDisplayMode mode_;
    const std::int64_t row_bytes_;
    std::mutex lock_;
    std::map<unsigned int, std::vector<std::uint8_t>> lines_;
};

class SimFrame final : public RefBase, public IDeckLinkMutableVideoFrame {
public:
    // `memory` belongs to the allocator when one is given, else to the frame.
    SimFrame(std::shared_ptr<Card> card, std::int32_t w, std::int32_t h, std::int32_t row_bytes,
             BMDPixelFormat format, BMDFrameFlags flags, std::uint8_t* memory,
             CComPtr<IDeckLinkMemoryAllocator> allocator);
    ~SimFrame() override;
    ORVEX_SIM_REFCOUNT
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(std::int32_t, GetWidth)() override { return width_; }
    STDMETHOD_(std::int32_t, GetHeight)() override { return height_; }
    STDMETHOD_(std::int32_t, GetRowBytes)() override { return row_bytes_; }
    STDMETHOD_(BMDPixelFormat, GetPixelFormat)() override { return format_; }
    STDMETHOD_(BMDFrameFlags, GetFlags)() override;
    STDMETHOD(GetBytes)(void** buffer) override;
    STDMETHOD(GetTimecode)(BMDTimecodeFormat format, IDeckLinkTimecode** timecode) override;
    STDMETHOD(GetAncillaryData)(IDeckLinkVideoFrameAncillary** ancillary) override;
    STDMETHOD(SetFlags)(BMDFrameFlags flags) override;
    STDMETHOD(SetTimecode)(BMDTimecodeFormat format, IDeckLinkTimecode* timecode) override;
    STDMETHOD(SetTimecodeFromComponents)
    (BMDTimecodeFormat format, unsigned char h, unsigned char m, unsigned char s, unsigned char f,
     BMDTimecodeFlags flags) override;
    STDMETHOD(SetAncillaryData)(IDeckLinkVideoFrameAncillary* ancillary) override;
    STDMETHOD(SetTimecodeUserBits)(BMDTimecodeFormat format, BMDTimecodeUserBits bits) override;

private:
    struct Timecode {
        unsigned char h, m, s, f;
        BMDTimecodeFlags flags;
        BMDTimecodeUserBits bits;
    };
    std::shared_ptr<Card> card_;
    const std::int32_t width_, height_, row_bytes_;
    const BMDPixelFormat format_;
    std::uint8_t* const memory_;
    CComPtr<IDeckLinkMemoryAllocator> allocator_;
    std::mutex lock_;
    BMDFrameFlags flags_;
    std::map<BMDTimecodeFormat, Timecode> timecodes_;
    CComPtr<IDeckLinkVideoFrameAncillary> ancillary_;
};

class SimDisplayMode final : public RefBase, public IDeckLinkDisplayMode {
public:
    explicit SimDisplayMode(const ModeInfo& mode) : mode_(mode) {}
    ORVEX_SIM_REFCOUNT
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD(GetName)(BSTR* name) override;
    STDMETHOD_(BMDDisplayMode, GetDisplayMode)() override { return mode_.mode; }
    STDMETHOD_(std::int32_t, GetWidth)() override { return mode_.width; }
    STDMETHOD_(std::int32_t, GetHeight)() override { return mode_.height; }
    STDMETHOD(GetFrameRate)(BMDTimeValue* duration, BMDTimeScale* scale) override;
    STDMETHOD_(BMDFieldDominance, GetFieldDominance)() override { return mode_.field; }
    STDMETHOD_(BMDDisplayModeFlags, GetFlags)() override;

private:
    const ModeInfo mode_;
};

class SimDisplayModeIterator final : public RefBase, public IDeckLinkDisplayModeIterator {
public:
    explicit SimDisplayModeIterator(std::vector<const ModeInfo*> modes)
        : modes_(std::move(modes)) {}
    ORVEX_SIM_REFCOUNT
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD(Next)(IDeckLinkDisplayMode** mode) override;

private:
    std::mutex lock_;
    std::vector<const ModeInfo*> modes_;
    std::size_t next_ = 0;
};

class SimDevice;

// The attributes and the two configuration revisions share method names and signatures, so
// each is an object of its own inside the device, counting on the device.
class SimAttributes final : public IDeckLinkAttributes {
public:
    explicit SimAttributes(SimDevice* device) : device_(device) {}
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(GetFlag)(BMDDeckLinkAttributeID id, BOOL* value) override;
    STDMETHOD(GetInt)(BMDDeckLinkAttributeID id, LONGLONG* value) override;
    STDMETHOD(GetFloat)(BMDDeckLinkAttributeID id, double* value) override;
    STDMETHOD(GetString)(BMDDeckLinkAttributeID id, BSTR* value) override;

private:
    SimDevice* device_;
};

class SimConfiguration final : public IDeckLinkConfiguration_v10_2 {
public:
    SimConfiguration(SimDevice* device, bool legacy) : device_(device), legacy_(legacy) {}
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(SetFlag)(BMDDeckLinkConfigurationID id, BOOL value) override;
    STDMETHOD(GetFlag)(BMDDeckLinkConfigurationID id, BOOL* value) override;
    STDMETHOD(SetInt)(BMDDeckLinkConfigurationID id, LONGLONG value) override;
    STDMETHOD(GetInt)(BMDDeckLinkConfigurationID id, LONGLONG* value) override;
    STDMETHOD(SetFloat)(BMDDeckLinkConfigurationID id, double value) override;
    STDMETHOD(GetFloat)(BMDDeckLinkConfigurationID id, double* value) override;
    STDMETHOD(SetString)(BMDDeckLinkConfigurationID id, BSTR value) override;
    STDMETHOD(GetString)(BMDDeckLinkConfigurationID id, BSTR* value) override;
    STDMETHOD(WriteConfigurationToPreferences)() override;

private:
    SimDevice* device_;
    const bool legacy_;  // answers the pre-10.3 IID: 'aicn' in the old codes
};

class SimDevice final : public RefBase,
                        public IDeckLink,
                        public IDeckLinkKeyer,
                        public IDeckLinkOutput {
public:
    explicit SimDevice(std::shared_ptr<Card> card);
    ~SimDevice() override;
    ORVEX_SIM_REFCOUNT
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    Card& card() { return *card_; }

    // IDeckLink
    STDMETHOD(GetModelName)(BSTR* name) override;
    STDMETHOD(GetDisplayName)(BSTR* name) override;
    // IDeckLinkKeyer
    STDMETHOD(Enable)(BOOL external) override;
    STDMETHOD(SetLevel)(unsigned char level) override;
    STDMETHOD(RampUp)(unsigned int frames) override;
    STDMETHOD(RampDown)(unsigned int frames) override;
    STDMETHOD(Disable)() override;
    // IDeckLinkOutput
    STDMETHOD(DoesSupportVideoMode)
    (BMDDisplayMode mode, BMDPixelFormat format, BMDVideoOutputFlags flags,
     BMDDisplayModeSupport* result, IDeckLinkDisplayMode** result_mode) override;
    STDMETHOD(GetDisplayModeIterator)(IDeckLinkDisplayModeIterator** iterator) override;
    STDMETHOD(SetScreenPreviewCallback)(IDeckLinkScreenPreviewCallback* callback) override;
    STDMETHOD(EnableVideoOutput)(BMDDisplayMode mode, BMDVideoOutputFlags flags) override;
    STDMETHOD(DisableVideoOutput)() override;
    STDMETHOD(SetVideoOutputFrameMemoryAllocator)(IDeckLinkMemoryAllocator* allocator) override;
    STDMETHOD(CreateVideoFrame)
    (int width, int height, int row_bytes, BMDPixelFormat format, BMDFrameFlags flags,
     IDeckLinkMutableVideoFrame** frame) override;
    STDMETHOD(CreateAncillaryData)
    (BMDPixelFormat format, IDeckLinkVideoFrameAncillary** ancillary) override;
    STDMETHOD(DisplayVideoFrameSync)(IDeckLinkVideoFrame* frame) override;
    STDMETHOD(ScheduleVideoFrame)
    (IDeckLinkVideoFrame* frame, BMDTimeValue time, BMDTimeValue duration,
     BMDTimeScale scale) override;
    STDMETHOD(SetScheduledFrameCompletionCallback)(IDeckLinkVideoOutputCallback* cb) override;
    STDMETHOD(GetBufferedVideoFrameCount)(unsigned int* count) override;
    STDMETHOD(EnableAudioOutput)
    (BMDAudioSampleRate rate, BMDAudioSampleType type, unsigned int channels,
     BMDAudioOutputStreamType stream) override;
    STDMETHOD(DisableAudioOutput)() override;
    STDMETHOD(WriteAudioSamplesSync)
    (void* buffer, unsigned int count, unsigned int* written) override;
    STDMETHOD(BeginAudioPreroll)() override;
    STDMETHOD(EndAudioPreroll)() override;
    STDMETHOD(ScheduleAudioSamples)
    (void* buffer, unsigned int count, BMDTimeValue time, BMDTimeScale scale,
     unsigned int* written) override;
    STDMETHOD(GetBufferedAudioSampleFrameCount)(unsigned int* count) override;
    STDMETHOD(FlushBufferedAudioSamples)() override;
    STDMETHOD(SetAudioCallback)(IDeckLinkAudioOutputCallback* cb) override;
    STDMETHOD(StartScheduledPlayback)
    (BMDTimeValue start, BMDTimeScale scale, double speed) override;
    STDMETHOD(StopScheduledPlayback)
    (BMDTimeValue stop_at, BMDTimeValue* actual, BMDTimeScale scale) override;
    STDMETHOD(IsScheduledPlaybackRunning)(BOOL* active) override;
    STDMETHOD(GetScheduledStreamTime)
    (BMDTimeScale scale, BMDTimeValue* time, double* speed) override;
    STDMETHOD(GetReferenceStatus)(BMDReferenceStatus* status) override;
    STDMETHOD(GetHardwareReferenceClock)
    (BMDTimeScale scale, BMDTimeValue* hw, BMDTimeValue* in_frame, BMDTimeValue* tpf) override;
    STDMETHOD(GetFrameCompletionReferenceTimestamp)
    (IDeckLinkVideoFrame* frame, BMDTimeScale scale, BMDTimeValue* timestamp) override;

private:
    friend class SimAttributes;
    friend class SimConfiguration;
    std::shared_ptr<Card> card_;
    SimAttributes attributes_{this};
    SimConfiguration configuration_{this, false};
    SimConfiguration configuration_legacy_{this, true};
};

class SimIterator final : public RefBase, public IDeckLinkIterator {
public:
    SimIterator() : cards_(CurrentCards()) {}
    ORVEX_SIM_REFCOUNT
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD(Next)(IDeckLink** device) override;

    static HRESULT Create(void* outer, REFIID riid, void** ppv);

private:
    std::mutex lock_;
    std::vector<std::shared_ptr<Card>> cards_;
    std::size_t next_ = 0;
};

}  // namespace orvex::sim::decklink
