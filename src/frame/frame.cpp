#include "frame/frame.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "platform/process.h"

namespace orvex::frame {
namespace {

constexpr std::align_val_t kBlockAlignment{64};

int RowBytesFor(eMFCC fcc, int width) {
    switch (fcc) {
        case eMFCC_UYVY:
        case eMFCC_YUY2:
        case eMFCC_HDYC:
        case eMFCC_YVYU:
            return (width + 1) / 2 * 4;
        case eMFCC_v210:
            return (width + 47) / 48 * 128;
        case eMFCC_r210:
            return (width + 63) / 64 * 256;
        case eMFCC_RGB24:
            return (width * 3 + 3) & ~3;
        case eMFCC_RGB32:
        case eMFCC_ARGB32:
            return width * 4;
        case eMFCC_RGB8:
            return (width + 3) & ~3;
        case eMFCC_I420:
        case eMFCC_YV12:
        case eMFCC_NV12:
            return width;
        default:
            return 0;
    }
}

bool IsPlanar420(eMFCC fcc) {
    return fcc == eMFCC_I420 || fcc == eMFCC_YV12 || fcc == eMFCC_NV12;
}

// Fills a picture with black in its own layout (video levels for YUV, zero for RGB).
void FillBlack(const M_VID_PROPS& props, BYTE* p, std::size_t size) {
    auto pattern = [&](const BYTE* unit, std::size_t n) {
        for (std::size_t i = 0; i + n <= size; i += n) std::memcpy(p + i, unit, n);
    };
    switch (props.fccType) {
        case eMFCC_UYVY:
        case eMFCC_HDYC: {
            static constexpr BYTE k[] = {0x80, 0x10, 0x80, 0x10};
            pattern(k, sizeof k);
            return;
        }
        case eMFCC_YUY2:
        case eMFCC_YVYU: {
            static constexpr BYTE k[] = {0x10, 0x80, 0x10, 0x80};
            pattern(k, sizeof k);
            return;
        }
        case eMFCC_v210: {
            // Cb Y Cr | Y Cb Y | Cr Y Cb | Y Cr Y, 10 bits each, little-endian words.
            static constexpr BYTE k[] = {0x00, 0x02, 0x01, 0x20, 0x40, 0x00, 0x08, 0x04,
                                         0x00, 0x02, 0x01, 0x20, 0x40, 0x00, 0x08, 0x04};
            pattern(k, sizeof k);
            return;
        }
        default:
            break;
    }
    if (IsPlanar420(props.fccType)) {
        const std::size_t luma =
            static_cast<std::size_t>(std::abs(props.nHeight)) *
            static_cast<std::size_t>(
                props.nRowBytes > 0 ? props.nRowBytes : RowBytesFor(props.fccType, props.nWidth));
        std::memset(p, 0x10, std::min(luma, size));
        if (size > luma) std::memset(p + luma, 0x80, size - luma);
        return;
    }
    std::memset(p, 0, size);
}

template <class T>
HRESULT Put(T* out, const T& value) {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
}

LONGLONG Address(const BlockPtr& b) {
    return b ? static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(b->data())) : 0;
}
LONG SizeOf(const BlockPtr& b) {
    return b ? static_cast<LONG>(b->size()) : 0;
}
const BYTE* Bytes(LONGLONG address) {
    return reinterpret_cast<const BYTE*>(static_cast<std::uintptr_t>(address));
}

// Copies caller bytes into a new block; a null result with E_OUTOFMEMORY in *hr on failure.
BlockPtr CopyBlock(const BYTE* bytes, std::size_t size, HRESULT* hr) {
    *hr = S_OK;
    if (size == 0) return nullptr;
    BlockPtr b = std::make_shared<Block>(size);
    if (!b->data()) {
        *hr = E_OUTOFMEMORY;
        return nullptr;
    }
    if (bytes) std::memcpy(b->data(), bytes, size);
    return b;
}

std::u16string ToString(BSTR s) {
    return std::u16string(orvex::com::View(s));
}

DWORD ThisProcess() {
    static const DWORD id = static_cast<DWORD>(orvex::platform::CurrentProcessId());
    return id;
}

}  // namespace

Block::Block(std::size_t size) {
    data_ = static_cast<BYTE*>(::operator new(size, kBlockAlignment, std::nothrow));
    size_ = data_ ? size : 0;
}

Block::~Block() {
    if (data_) ::operator delete(data_, kBlockAlignment);
}

std::size_t VideoBytes(const M_VID_PROPS& props) {
    if (props.nWidth <= 0 || props.nHeight == 0) return 0;
    const int row =
        props.nRowBytes > 0 ? props.nRowBytes : RowBytesFor(props.fccType, props.nWidth);
    if (row <= 0) return 0;
    const auto rows = static_cast<std::size_t>(std::abs(static_cast<long long>(props.nHeight)));
    std::size_t size = static_cast<std::size_t>(row) * rows;
    if (IsPlanar420(props.fccType)) size += static_cast<std::size_t>(row) * ((rows + 1) / 2);
    return size;
}

std::size_t AudioBytes(const M_AUD_PROPS& props, int samples) {
    if (props.nChannels <= 0 || props.nBitsPerSample <= 0 || samples <= 0) return 0;
    return static_cast<std::size_t>((props.nBitsPerSample + 7) / 8) *
           static_cast<std::size_t>(props.nChannels) * static_cast<std::size_t>(samples);
}

HRESULT CCoOXFrame::Create(CComPtr<CCoOXFrame>& out) {
    CComObject<CCoOXFrame>* p = nullptr;
    HRESULT hr = CComObject<CCoOXFrame>::CreateInstance(&p);
    if (FAILED(hr)) return hr;
    out = p;
    return S_OK;
}

void CCoOXFrame::Retire(BlockPtr& slot) {
    if (slot && slot->lent.load(std::memory_order_relaxed)) retired_.push_back(std::move(slot));
    slot.reset();
}

HRESULT CCoOXFrame::SetVideo(const M_VID_PROPS* props, LONG cb, const BYTE* bytes, bool black) {
    if (!props) return E_POINTER;
    std::size_t size;
    if (black) {
        size = VideoBytes(*props);
        if (size == 0) return E_INVALIDARG;
        if (size > static_cast<std::size_t>(std::numeric_limits<LONG>::max())) return E_OUTOFMEMORY;
    } else {
        if (cb < 0) return E_INVALIDARG;
        if (cb > 0 && !bytes) return E_POINTER;
        // A buffer shorter than the layout it claims would send readers past its end.
        if (cb > 0 && static_cast<std::size_t>(cb) < VideoBytes(*props)) return E_INVALIDARG;
        size = static_cast<std::size_t>(cb);
    }
    HRESULT hr;
    BlockPtr block = CopyBlock(black ? nullptr : bytes, size, &hr);
    if (FAILED(hr)) return hr;
    if (black) FillBlack(*props, block->data(), block->size());
    std::lock_guard lock(lock_);
    Retire(video_);
    video_ = std::move(block);
    props_.vidProps = *props;
    return S_OK;
}

HRESULT CCoOXFrame::SetAudio(const M_AUD_PROPS* props, int samples, LONG cb, const BYTE* bytes) {
    if (!props) return E_POINTER;
    if (samples < 0 || cb < 0) return E_INVALIDARG;
    const std::size_t need = AudioBytes(*props, samples);
    if (need > static_cast<std::size_t>(std::numeric_limits<LONG>::max())) return E_OUTOFMEMORY;
    std::size_t size = need;
    if (cb >= 0 && bytes) {
        if (static_cast<std::size_t>(cb) < need) return E_INVALIDARG;
        size = need > 0 ? need : static_cast<std::size_t>(cb);
    } else if (cb > 0) {
        return E_POINTER;
    }
    HRESULT hr;
    BlockPtr block = CopyBlock(bytes, size, &hr);
    if (FAILED(hr)) return hr;
    // Silence: signed PCM is zero, 8-bit PCM is unsigned.
    if (block && !bytes) std::memset(block->data(), props->nBitsPerSample == 8 ? 0x80 : 0, size);
    std::lock_guard lock(lock_);
    Retire(audio_);
    audio_ = std::move(block);
    audio_samples_ = audio_ ? samples : 0;
    props_.audProps = *props;
    return S_OK;
}

HRESULT CCoOXFrame::SetData(DWORD fourcc, LONG cb, const BYTE* bytes) {
    if (cb < 0) return E_INVALIDARG;
    if (cb > 0 && !bytes) return E_POINTER;
    HRESULT hr;
    BlockPtr block = CopyBlock(bytes, static_cast<std::size_t>(cb), &hr);
    if (FAILED(hr)) return hr;
    std::lock_guard lock(lock_);
    for (DataItem& item : data_) {
        if (item.fourcc != fourcc) continue;
        Retire(item.block);
        item.block = std::move(block);
        return S_OK;
    }
    data_.push_back({fourcc, std::move(block)});
    return S_OK;
}

HRESULT CCoOXFrame::GetData(DWORD fourcc, LONG* cb, BYTE** bytes) {
    if (!cb || !bytes) return E_POINTER;
    *cb = 0;
    *bytes = nullptr;
    std::lock_guard lock(lock_);
    for (DataItem& item : data_) {
        if (item.fourcc != fourcc) continue;
        if (item.block) {
            item.block->lent = true;
            *cb = SizeOf(item.block);
            *bytes = item.block->data();
        }
        return S_OK;
    }
    return E_NOT_FOUND;
}

HRESULT CCoOXFrame::GetDataByIndex(int index, DWORD* fourcc, LONG* cb, BYTE** bytes) {
    if (!fourcc || !cb || !bytes) return E_POINTER;
    *fourcc = 0;
    *cb = 0;
    *bytes = nullptr;
    std::lock_guard lock(lock_);
    if (index < 0 || static_cast<std::size_t>(index) >= data_.size()) return E_INVALID_INDEX;
    DataItem& item = data_[static_cast<std::size_t>(index)];
    *fourcc = item.fourcc;
    if (item.block) {
        item.block->lent = true;
        *cb = SizeOf(item.block);
        *bytes = item.block->data();
    }
    return S_OK;
}

HRESULT CCoOXFrame::StrSet(BSTR name, BSTR value) {
    if (!name) return E_INVALIDARG;
    std::u16string key = ToString(name);
    std::lock_guard lock(lock_);
    for (auto& [k, v] : strings_) {
        if (k == key) {
            v = ToString(value);
            return S_OK;
        }
    }
    strings_.emplace_back(std::move(key), ToString(value));
    return S_OK;
}

HRESULT CCoOXFrame::StrGet(BSTR name, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (!name) return E_INVALIDARG;
    const std::u16string_view key = orvex::com::View(name);
    std::lock_guard lock(lock_);
    for (const auto& [k, v] : strings_) {
        if (k != key) continue;
        *value = SysAllocStringLen(v.data(), static_cast<UINT>(v.size()));
        return *value ? S_OK : E_OUTOFMEMORY;
    }
    return E_NOT_FOUND;
}

HRESULT CCoOXFrame::ObjSet(BSTR name, IUnknown* object) {
    if (!name) return E_INVALIDARG;
    std::u16string key = ToString(name);
    CComPtr<IUnknown> dropped;  // released outside the lock: its release may call back
    std::lock_guard lock(lock_);
    for (auto it = objects_.begin(); it != objects_.end(); ++it) {
        if (it->first != key) continue;
        dropped = std::move(it->second);
        if (object)
            it->second = object;
        else
            objects_.erase(it);
        return S_OK;
    }
    if (object) objects_.emplace_back(std::move(key), CComPtr<IUnknown>(object));
    return object ? S_OK : S_FALSE;
}

HRESULT CCoOXFrame::ObjGet(BSTR name, IUnknown** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!name) return E_INVALIDARG;
    const std::u16string_view key = orvex::com::View(name);
    std::lock_guard lock(lock_);
    for (const auto& [k, v] : objects_) {
        if (k == key) return v.CopyTo(object);
    }
    return E_NOT_FOUND;
}

HRESULT CCoOXFrame::Clone(eMFrameClone type, CComPtr<CCoOXFrame>& out) {
    CComPtr<CCoOXFrame> copy;
    HRESULT hr = Create(copy);
    if (FAILED(hr)) return hr;
    const int t = static_cast<int>(type);
    std::lock_guard lock(lock_);
    copy->props_ = props_;
    copy->time_ = time_;
    copy->video_id_ = video_id_;
    if ((t & 0x3) == eMFC_VideoRef) {
        copy->video_ = video_;  // shared: blocks never change once filled
    } else if ((t & 0x3) == eMFC_Video && video_) {
        copy->video_ = CopyBlock(video_->data(), video_->size(), &hr);
        if (FAILED(hr)) return hr;
    }
    if ((t & eMFC_Audio) && audio_) {
        copy->audio_ = CopyBlock(audio_->data(), audio_->size(), &hr);
        if (FAILED(hr)) return hr;
        copy->audio_samples_ = audio_samples_;
    }
    if (t & eMFC_Data) {
        // Data item bytes may be changed in place, so each frame gets its own.
        for (const DataItem& item : data_) {
            BlockPtr b =
                item.block ? CopyBlock(item.block->data(), item.block->size(), &hr) : nullptr;
            if (FAILED(hr)) return hr;
            copy->data_.push_back({item.fourcc, std::move(b)});
        }
        copy->strings_ = strings_;
    }
    if (t & eMFC_Obj) copy->objects_ = objects_;
    out = std::move(copy);
    return S_OK;
}

LONGLONG CCoOXFrame::MemorySize() const {
    LONGLONG total = SizeOf(video_) + SizeOf(audio_);
    for (const DataItem& item : data_) total += SizeOf(item.block);
    return total;
}

// IOXFrame

STDMETHODIMP CCoOXFrame::OXAVPropsGet(M_AV_PROPS* pProps) {
    return FrameAVPropsGet(pProps);
}
STDMETHODIMP CCoOXFrame::OXAVPropsSet(const M_AV_PROPS* pProps) {
    return FrameAVPropsSet(pProps);
}
STDMETHODIMP CCoOXFrame::OXTimeGet(M_TIME* pTime) {
    return FrameTimeGet(pTime);
}
STDMETHODIMP CCoOXFrame::OXTimeSet(const M_TIME* pTime) {
    return FrameTimeSet(pTime);
}
STDMETHODIMP CCoOXFrame::OXVideoIDGet(LONGLONG* pllVideoID) {
    return FrameVideoIDGet(pllVideoID);
}
STDMETHODIMP CCoOXFrame::OXVideoIDSet(LONGLONG llVideoID) {
    std::lock_guard lock(lock_);
    video_id_ = llVideoID;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXAllGet(OX_FRAME_INFO* pInfo) {
    if (!pInfo) return E_POINTER;
    std::lock_guard lock(lock_);
    OX_FRAME_INFO info{};
    info.llVideoID = video_id_;
    info.mTime = time_;
    info.avProps = props_;
    info.cbAudio = static_cast<DWORD>(SizeOf(audio_));
    info.cbVideo = static_cast<DWORD>(SizeOf(video_));
    info.lpVideo = Address(video_);
    info.lpAudio = Address(audio_);
    if (video_) video_->lent = true;
    if (audio_) audio_->lent = true;
    info.lAudioSamples = audio_samples_;
    info.dwProcessID = ThisProcess();
    info.nDataCount = static_cast<int>(data_.size());
    info.nObjCount = static_cast<int>(objects_.size());
    info.nStrCount = static_cast<int>(strings_.size());
    *pInfo = info;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXVideoBytesGet(LONG* pcbVideo, LONGLONG* plpVideo) {
    BYTE* p = nullptr;
    HRESULT hr = FrameVideoGet(&p, pcbVideo);
    if (FAILED(hr)) return hr;
    return Put(plpVideo, static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(p)));
}

STDMETHODIMP CCoOXFrame::OXAudioBytesGet(LONG* pcbAudio, LONGLONG* plpAudio, int* pnSamples) {
    if (!pcbAudio || !plpAudio) return E_POINTER;
    std::lock_guard lock(lock_);
    if (audio_) audio_->lent = true;
    *pcbAudio = SizeOf(audio_);
    *plpAudio = Address(audio_);
    if (pnSamples) *pnSamples = audio_samples_;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXVideoSet(const M_VID_PROPS* pVidProps, LONG cbVideo, LONGLONG lpVideo) {
    return SetVideo(pVidProps, cbVideo, Bytes(lpVideo), false);
}
STDMETHODIMP CCoOXFrame::OXAudioSet(const M_AUD_PROPS* pAudProps, int nSamples, LONG cbAudio,
                                    LONGLONG lpAudio) {
    return SetAudio(pAudProps, nSamples, cbAudio, Bytes(lpAudio));
}
STDMETHODIMP CCoOXFrame::OXVideoAlloc(const M_VID_PROPS* pVidProps) {
    return SetVideo(pVidProps, 0, nullptr, true);
}
STDMETHODIMP CCoOXFrame::OXAudioAlloc(const M_AUD_PROPS* pAudProps, int nSamples) {
    return SetAudio(pAudProps, nSamples, 0, nullptr);
}

STDMETHODIMP CCoOXFrame::OXVideoRemove() {
    std::lock_guard lock(lock_);
    if (!video_) return S_FALSE;
    Retire(video_);
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXAudioRemove() {
    std::lock_guard lock(lock_);
    if (!audio_) return S_FALSE;
    Retire(audio_);
    audio_samples_ = 0;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXDataSet(DWORD dwFourCC, LONG cbData, LONGLONG lpData) {
    return SetData(dwFourCC, cbData, Bytes(lpData));
}

STDMETHODIMP CCoOXFrame::OXDataGet(DWORD dwFourCC, LONG* pcbData, LONGLONG* plpData) {
    if (!plpData) return E_POINTER;
    BYTE* p = nullptr;
    HRESULT hr = GetData(dwFourCC, pcbData, &p);
    *plpData = static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(p));
    return hr;
}

STDMETHODIMP CCoOXFrame::OXDataRemove(DWORD dwFourCC) {
    return FrameDataRemove(dwFourCC);
}
STDMETHODIMP CCoOXFrame::OXDataGetCount(int* pnCount) {
    return FrameDataGetCount(pnCount);
}

STDMETHODIMP CCoOXFrame::OXDataGetByIndex(int nIndex, DWORD* pdwFourCC, LONG* pcbData,
                                          LONGLONG* plpData) {
    if (!plpData) return E_POINTER;
    BYTE* p = nullptr;
    HRESULT hr = GetDataByIndex(nIndex, pdwFourCC, pcbData, &p);
    *plpData = static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(p));
    return hr;
}

STDMETHODIMP CCoOXFrame::OXStrSet(BSTR bsName, BSTR bsValue) {
    return StrSet(bsName, bsValue);
}
STDMETHODIMP CCoOXFrame::OXStrGet(BSTR bsName, BSTR* pbsValue) {
    return StrGet(bsName, pbsValue);
}

STDMETHODIMP CCoOXFrame::OXStrRemove(BSTR bsName) {
    const std::u16string_view key = orvex::com::View(bsName);
    std::lock_guard lock(lock_);
    auto it = std::find_if(strings_.begin(), strings_.end(),
                           [&](const auto& s) { return s.first == key; });
    if (it == strings_.end()) return S_FALSE;
    strings_.erase(it);
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXStrGetCount(int* pnCount) {
    std::lock_guard lock(lock_);
    return Put(pnCount, static_cast<int>(strings_.size()));
}

STDMETHODIMP CCoOXFrame::OXStrGetByIndex(int nIndex, BSTR* pbsName, BSTR* pbsValue) {
    if (!pbsName || !pbsValue) return E_POINTER;
    *pbsName = nullptr;
    *pbsValue = nullptr;
    std::lock_guard lock(lock_);
    if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= strings_.size()) return E_INVALID_INDEX;
    const auto& [k, v] = strings_[static_cast<std::size_t>(nIndex)];
    *pbsName = SysAllocStringLen(k.data(), static_cast<UINT>(k.size()));
    *pbsValue = SysAllocStringLen(v.data(), static_cast<UINT>(v.size()));
    if (*pbsName && *pbsValue) return S_OK;
    SysFreeString(*pbsName);
    SysFreeString(*pbsValue);
    *pbsName = *pbsValue = nullptr;
    return E_OUTOFMEMORY;
}

STDMETHODIMP CCoOXFrame::OXObjSet(BSTR bsName, IUnknown* pObject) {
    return ObjSet(bsName, pObject);
}
STDMETHODIMP CCoOXFrame::OXObjGet(BSTR bsName, IUnknown** ppObject) {
    return ObjGet(bsName, ppObject);
}
STDMETHODIMP CCoOXFrame::OXObjRemove(BSTR bsName) {
    return ObjSet(bsName, nullptr);
}

STDMETHODIMP CCoOXFrame::OXObjGetCount(int* pnCount) {
    std::lock_guard lock(lock_);
    return Put(pnCount, static_cast<int>(objects_.size()));
}

STDMETHODIMP CCoOXFrame::OXObjGetByIndex(int nIndex, BSTR* pbsName, IUnknown** ppObject) {
    if (!pbsName || !ppObject) return E_POINTER;
    *pbsName = nullptr;
    *ppObject = nullptr;
    std::lock_guard lock(lock_);
    if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= objects_.size()) return E_INVALID_INDEX;
    const auto& [k, v] = objects_[static_cast<std::size_t>(nIndex)];
    *pbsName = SysAllocStringLen(k.data(), static_cast<UINT>(k.size()));
    if (!*pbsName) return E_OUTOFMEMORY;
    return v.CopyTo(ppObject);
}

STDMETHODIMP CCoOXFrame::OXClone(eMFrameClone eCloneType, IOXFrame** ppClone) {
    if (!ppClone) return E_POINTER;
    *ppClone = nullptr;
    CComPtr<CCoOXFrame> copy;
    HRESULT hr = Clone(eCloneType, copy);
    if (FAILED(hr)) return hr;
    *ppClone = static_cast<IOXFrame*>(copy.Detach());
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXTimecodeGet(M_TIMECODE* pTimecode) {
    std::lock_guard lock(lock_);
    return Put(pTimecode, time_.tcFrame);
}

STDMETHODIMP CCoOXFrame::OXTimecodeSet(const M_TIMECODE* pTimecode) {
    if (!pTimecode) return E_POINTER;
    std::lock_guard lock(lock_);
    time_.tcFrame = *pTimecode;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXFlagsGet(eMFrameFlags* peFlags) {
    std::lock_guard lock(lock_);
    return Put(peFlags, time_.eFFlags);
}

STDMETHODIMP CCoOXFrame::OXFlagsSet(eMFrameFlags eFlags) {
    std::lock_guard lock(lock_);
    time_.eFFlags = eFlags;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXProcessIDGet(DWORD* pdwProcessID) {
    return Put(pdwProcessID, ThisProcess());
}

STDMETHODIMP CCoOXFrame::OXAsyncBegin() {
    std::lock_guard lock(lock_);
    ++async_pending_;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXAsyncEnd(HRESULT hrResult) {
    std::lock_guard lock(lock_);
    if (async_pending_ == 0) return E_UNEXPECTED;
    if (FAILED(hrResult)) async_result_ = hrResult;
    if (--async_pending_ == 0) async_done_.notify_all();
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXWaitAsync() {
    std::unique_lock lock(lock_);
    async_done_.wait(lock, [&] { return async_pending_ == 0; });
    return async_result_;
}

STDMETHODIMP CCoOXFrame::OXMemorySizeGet(LONGLONG* pcbTotal) {
    return FrameMemorySizeGet(pcbTotal);
}

// IMFrame_I

STDMETHODIMP CCoOXFrame::FrameAVPropsGet(M_AV_PROPS* pProps) {
    std::lock_guard lock(lock_);
    return Put(pProps, props_);
}

STDMETHODIMP CCoOXFrame::FrameAVPropsSet(const M_AV_PROPS* pProps) {
    if (!pProps) return E_POINTER;
    std::lock_guard lock(lock_);
    props_ = *pProps;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::FrameTimeGet(M_TIME* pTime) {
    std::lock_guard lock(lock_);
    return Put(pTime, time_);
}

STDMETHODIMP CCoOXFrame::FrameTimeSet(const M_TIME* pTime) {
    if (!pTime) return E_POINTER;
    std::lock_guard lock(lock_);
    time_ = *pTime;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::FrameAudioGet(LONG* pcbAudio, BYTE** ppbAudio) {
    if (!pcbAudio || !ppbAudio) return E_POINTER;
    std::lock_guard lock(lock_);
    if (audio_) audio_->lent = true;
    *pcbAudio = SizeOf(audio_);
    *ppbAudio = audio_ ? audio_->data() : nullptr;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::FrameVideoGet(BYTE** ppbVideo, LONG* pcbVideo) {
    if (!ppbVideo || !pcbVideo) return E_POINTER;
    std::lock_guard lock(lock_);
    if (video_) video_->lent = true;
    *pcbVideo = SizeOf(video_);
    *ppbVideo = video_ ? video_->data() : nullptr;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::FrameAudioSamplesGet(int* pnSamples) {
    std::lock_guard lock(lock_);
    return Put(pnSamples, audio_samples_);
}

STDMETHODIMP CCoOXFrame::FrameVideoIDGet(LONGLONG* pllVideoID) {
    std::lock_guard lock(lock_);
    return Put(pllVideoID, video_id_);
}

STDMETHODIMP CCoOXFrame::FrameDataSet(DWORD dwFourCC, LONG cbData, const BYTE* pbData) {
    return SetData(dwFourCC, cbData, pbData);
}

STDMETHODIMP CCoOXFrame::FrameDataRemove(DWORD dwFourCC) {
    std::lock_guard lock(lock_);
    for (auto it = data_.begin(); it != data_.end(); ++it) {
        if (it->fourcc != dwFourCC) continue;
        Retire(it->block);
        data_.erase(it);
        return S_OK;
    }
    return S_FALSE;
}

STDMETHODIMP CCoOXFrame::FrameDataGet(DWORD dwFourCC, LONG* pcbData, BYTE** ppbData) {
    return GetData(dwFourCC, pcbData, ppbData);
}

STDMETHODIMP CCoOXFrame::FrameDataGetCount(int* pnCount) {
    std::lock_guard lock(lock_);
    return Put(pnCount, static_cast<int>(data_.size()));
}

STDMETHODIMP CCoOXFrame::FrameDataGetByIndex(int nIndex, DWORD* pdwFourCC, LONG* pcbData,
                                             BYTE** ppbData) {
    return GetDataByIndex(nIndex, pdwFourCC, pcbData, ppbData);
}

STDMETHODIMP CCoOXFrame::FrameStrSet(BSTR bsName, BSTR bsValue) {
    return StrSet(bsName, bsValue);
}
STDMETHODIMP CCoOXFrame::FrameStrGet(BSTR bsName, BSTR* pbsValue) {
    return StrGet(bsName, pbsValue);
}
STDMETHODIMP CCoOXFrame::FrameObjSet(BSTR bsName, IUnknown* pObject) {
    return ObjSet(bsName, pObject);
}
STDMETHODIMP CCoOXFrame::FrameObjGet(BSTR bsName, IUnknown** ppObject) {
    return ObjGet(bsName, ppObject);
}

STDMETHODIMP CCoOXFrame::FrameClone(eMFrameClone eCloneType, IMFrame_I** ppClone) {
    if (!ppClone) return E_POINTER;
    *ppClone = nullptr;
    CComPtr<CCoOXFrame> copy;
    HRESULT hr = Clone(eCloneType, copy);
    if (FAILED(hr)) return hr;
    *ppClone = static_cast<IMFrame_I*>(copy.Detach());
    return S_OK;
}

STDMETHODIMP CCoOXFrame::FrameVideoAlloc(const M_VID_PROPS* pVidProps) {
    return SetVideo(pVidProps, 0, nullptr, true);
}
STDMETHODIMP CCoOXFrame::FrameAudioAlloc(const M_AUD_PROPS* pAudProps, int nSamples) {
    return SetAudio(pAudProps, nSamples, 0, nullptr);
}
STDMETHODIMP CCoOXFrame::FrameVideoSet(const M_VID_PROPS* pVidProps, LONG cbVideo,
                                       const BYTE* pbVideo) {
    return SetVideo(pVidProps, cbVideo, pbVideo, false);
}
STDMETHODIMP CCoOXFrame::FrameAudioSet(const M_AUD_PROPS* pAudProps, int nSamples, LONG cbAudio,
                                       const BYTE* pbAudio) {
    return SetAudio(pAudProps, nSamples, cbAudio, pbAudio);
}
STDMETHODIMP CCoOXFrame::FrameProcessIDGet(DWORD* pdwProcessID) {
    return Put(pdwProcessID, ThisProcess());
}

STDMETHODIMP CCoOXFrame::FrameMemorySizeGet(LONGLONG* pcbTotal) {
    std::lock_guard lock(lock_);
    return Put(pcbTotal, MemorySize());
}

STDMETHODIMP CCoOXFrame::FrameAllGet(M_TIME* pTime, M_AV_PROPS* pProps, int* pnAudioSamples,
                                     BYTE** ppbAudio, LONG* pcbVideo, BYTE** ppbVideo) {
    std::lock_guard lock(lock_);
    if (pTime) *pTime = time_;
    if (pProps) *pProps = props_;
    if (pnAudioSamples) *pnAudioSamples = audio_samples_;
    if (ppbAudio) {
        if (audio_) audio_->lent = true;
        *ppbAudio = audio_ ? audio_->data() : nullptr;
    }
    if (pcbVideo) *pcbVideo = SizeOf(video_);
    if (ppbVideo) {
        if (video_) video_->lent = true;
        *ppbVideo = video_ ? video_->data() : nullptr;
    }
    return S_OK;
}

}  // namespace orvex::frame
