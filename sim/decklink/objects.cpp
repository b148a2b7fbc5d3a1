#include "sim/decklink/objects.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "com/runtime.h"

namespace orvex::sim::decklink {
namespace {}  // namespace

// ---- Timecode

STDMETHODIMP SimTimecode::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDeckLinkTimecode)
        return Answer(static_cast<IDeckLinkTimecode*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP_(BMDTimecodeBCD) SimTimecode::GetBCD() {
    auto bcd = [](unsigned v) { return ((v / 10) << 4) | (v % 10); };
    return (bcd(h_) << 24) | (bcd(m_) << 16) | (bcd(s_) << 8) | bcd(f_);
}

STDMETHODIMP SimTimecode::GetComponents(unsigned char* h, unsigned char* m, unsigned char* s,
                                        unsigned char* f) {
    if (!h || !m || !s || !f) return E_POINTER;
    *h = h_, *m = m_, *s = s_, *f = f_;
    return S_OK;
}

STDMETHODIMP SimTimecode::GetString(BSTR* timecode) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u%c%02u", h_, m_, s_,
                  (flags_ & bmdTimecodeIsDropFrame) ? ';' : ':', f_);
    return ReturnString(text, timecode);
}

STDMETHODIMP SimTimecode::GetTimecodeUserBits(BMDTimecodeUserBits* bits) {
    if (!bits) return E_POINTER;
    *bits = user_bits_;
    return S_OK;
}

// ---- Ancillary data

STDMETHODIMP SimAncillary::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDeckLinkVideoFrameAncillary)
        return Answer(static_cast<IDeckLinkVideoFrameAncillary*>(this), ppv);
    if (riid == IID_ISimAncillary) return Answer(static_cast<ISimAncillary*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP SimAncillary::GetBufferForVerticalBlankingLine(unsigned int line, void** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = nullptr;
    const ModeInfo* mode = FindMode(mode_);
    // Blanking lines lie before the picture; a card refuses lines it does not carry.
    const unsigned int last = mode && mode->height <= 576 ? 22u : 42u;
    if (line == 0 || line > last || row_bytes_ <= 0) return E_INVALIDARG;
    std::lock_guard guard(lock_);
    auto& bytes = lines_[line];
    if (bytes.empty()) {
        bytes.assign(static_cast<std::size_t>(row_bytes_), 0);
        // An empty v210 line holds black blanking (Y 0x040, C 0x200).
        if (format_ == bmdFormat10BitYUV)
            for (std::size_t w = 0; w + 4 <= bytes.size(); w += 16) {
                const std::uint32_t words[4] = {
                    0x200 | (0x40 << 10) | (0x200u << 20), 0x40 | (0x200 << 10) | (0x40u << 20),
                    0x200 | (0x40 << 10) | (0x200u << 20), 0x40 | (0x200 << 10) | (0x40u << 20)};
                for (int k = 0; k < 4 && w + 4 * k + 4 <= bytes.size(); ++k)
                    std::memcpy(&bytes[w + 4 * static_cast<std::size_t>(k)], &words[k], 4);
            }
    }
    *buffer = bytes.data();
    return S_OK;
}

std::map<unsigned int, std::vector<std::uint8_t>> SimAncillary::Lines() {
    std::lock_guard guard(lock_);
    return lines_;
}

// ---- Frame

SimFrame::SimFrame(std::shared_ptr<Card> card, std::int32_t w, std::int32_t h,
                   std::int32_t row_bytes, BMDPixelFormat format, BMDFrameFlags flags,
                   std::uint8_t* memory, CComPtr<IDeckLinkMemoryAllocator> allocator)
    : card_(std::move(card)),
      width_(w),
      height_(h),
      row_bytes_(row_bytes),
      format_(format),
      memory_(memory),
      allocator_(std::move(allocator)),
      flags_(flags) {}

SimFrame::~SimFrame() {
    const std::int64_t bytes = static_cast<std::int64_t>(row_bytes_) * height_;
    if (allocator_)
        allocator_->ReleaseBuffer(memory_);
    else
        std::free(memory_);
    card_->FrameMemoryReleased(bytes, !allocator_);
}

STDMETHODIMP SimFrame::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDeckLinkVideoFrame ||
        riid == IID_IDeckLinkMutableVideoFrame)
        return Answer(static_cast<IDeckLinkMutableVideoFrame*>(this), ppv);
    // The vendor's interface description lets a frame be asked for its ancillary object.
    if (riid == IID_IDeckLinkVideoFrameAncillary) {
        std::lock_guard guard(lock_);
        if (ancillary_) return ancillary_->QueryInterface(riid, ppv);
    }
    return E_NOINTERFACE;
}

STDMETHODIMP_(BMDFrameFlags) SimFrame::GetFlags() {
    std::lock_guard guard(lock_);
    return flags_;
}

STDMETHODIMP SimFrame::GetBytes(void** buffer) {
    if (!buffer) return E_POINTER;
    *buffer = memory_;
    return S_OK;
}

STDMETHODIMP SimFrame::GetTimecode(BMDTimecodeFormat format, IDeckLinkTimecode** timecode) {
    if (!timecode) return E_POINTER;
    *timecode = nullptr;
    std::lock_guard guard(lock_);
    auto it = timecodes_.find(format);
    // RP188 "any" reads the first RP188 timecode present.
    if (it == timecodes_.end() && format == bmdTimecodeRP188Any)
        for (BMDTimecodeFormat f :
             {bmdTimecodeRP188VITC1, bmdTimecodeRP188VITC2, bmdTimecodeRP188LTC})
            if ((it = timecodes_.find(f)) != timecodes_.end()) break;
    if (it == timecodes_.end()) return S_FALSE;
    const Timecode& t = it->second;
    auto* tc = new (std::nothrow) SimTimecode(t.h, t.m, t.s, t.f, t.flags, t.bits);
    if (!tc) return E_OUTOFMEMORY;
    *timecode = tc;
    return S_OK;
}

STDMETHODIMP SimFrame::GetAncillaryData(IDeckLinkVideoFrameAncillary** ancillary) {
    if (!ancillary) return E_POINTER;
    std::lock_guard guard(lock_);
    *ancillary = ancillary_;
    if (!*ancillary) return S_FALSE;
    (*ancillary)->AddRef();
    return S_OK;
}

STDMETHODIMP SimFrame::SetFlags(BMDFrameFlags flags) {
    std::lock_guard guard(lock_);
    flags_ = flags;
    return S_OK;
}

STDMETHODIMP SimFrame::SetTimecode(BMDTimecodeFormat format, IDeckLinkTimecode* timecode) {
    if (!timecode) {
        std::lock_guard guard(lock_);
        timecodes_.erase(format);
        return S_OK;
    }
    unsigned char h, m, s, f;
    HRESULT hr = timecode->GetComponents(&h, &m, &s, &f);
    if (FAILED(hr)) return hr;
    BMDTimecodeUserBits bits = 0;
    timecode->GetTimecodeUserBits(&bits);
    std::lock_guard guard(lock_);
    timecodes_[format] = {h, m, s, f, timecode->GetFlags(), bits};
    return S_OK;
}

STDMETHODIMP SimFrame::SetTimecodeFromComponents(BMDTimecodeFormat format, unsigned char h,
                                                 unsigned char m, unsigned char s, unsigned char f,
                                                 BMDTimecodeFlags flags) {
    if (h > 23 || m > 59 || s > 59 || f > 59) return E_INVALIDARG;
    std::lock_guard guard(lock_);
    BMDTimecodeUserBits bits = 0;
    if (auto it = timecodes_.find(format); it != timecodes_.end()) bits = it->second.bits;
    timecodes_[format] = {h, m, s, f, flags, bits};
    return S_OK;
}

STDMETHODIMP SimFrame::SetAncillaryData(IDeckLinkVideoFrameAncillary* ancillary) {
    std::lock_guard guard(lock_);
    ancillary_ = ancillary;
    return S_OK;
}

STDMETHODIMP SimFrame::SetTimecodeUserBits(BMDTimecodeFormat format, BMDTimecodeUserBits bits) {
    std::lock_guard guard(lock_);
    auto it = timecodes_.find(format);
    if (it == timecodes_.end()) return E_UNEXPECTED;  // a timecode must be set first
    it->second.bits = bits;
    return S_OK;
}

// ---- Display modes

STDMETHODIMP SimDisplayMode::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDeckLinkDisplayMode)
        return Answer(static_cast<IDeckLinkDisplayMode*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP SimDisplayMode::GetName(BSTR* name) {
    return ReturnString(mode_.name, name);
}

STDMETHODIMP SimDisplayMode::GetFrameRate(BMDTimeValue* duration, BMDTimeScale* scale) {
    if (!duration || !scale) return E_POINTER;
    *duration = mode_.duration;
    *scale = mode_.scale;
    return S_OK;
}

STDMETHODIMP_(BMDDisplayModeFlags) SimDisplayMode::GetFlags() {
    BMDDisplayModeFlags f =
        mode_.height <= 576 ? bmdDisplayModeColorspaceRec601 : bmdDisplayModeColorspaceRec709;
    if (mode_.height == 720 || mode_.height == 1080) f |= bmdDisplayModeSupports3D;
    return f;
}

STDMETHODIMP SimDisplayModeIterator::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDeckLinkDisplayModeIterator)
        return Answer(static_cast<IDeckLinkDisplayModeIterator*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP SimDisplayModeIterator::Next(IDeckLinkDisplayMode** mode) {
    if (!mode) return E_POINTER;
    *mode = nullptr;
    std::lock_guard guard(lock_);
    if (next_ >= modes_.size()) return S_FALSE;
    auto* m = new (std::nothrow) SimDisplayMode(*modes_[next_]);
    if (!m) return E_OUTOFMEMORY;
    ++next_;
    *mode = m;
    return S_OK;
}

// ---- Iterator

STDMETHODIMP SimIterator::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDeckLinkIterator)
        return Answer(static_cast<IDeckLinkIterator*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP SimIterator::Next(IDeckLink** device) {
    if (!device) return E_POINTER;
    *device = nullptr;
    std::lock_guard guard(lock_);
    // A removed card is no longer listed.
    while (next_ < cards_.size() && cards_[next_]->Removed()) ++next_;
    if (next_ >= cards_.size()) return S_FALSE;
    auto* d = new (std::nothrow) SimDevice(cards_[next_]);
    if (!d) return E_OUTOFMEMORY;
    ++next_;
    *device = static_cast<IDeckLink*>(d);
    return S_OK;
}

HRESULT SimIterator::Create(void* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* it = new (std::nothrow) SimIterator();
    if (!it) return E_OUTOFMEMORY;
    HRESULT hr = it->QueryInterface(riid, ppv);
    it->Release();
    return hr;
}

}  // namespace orvex::sim::decklink
