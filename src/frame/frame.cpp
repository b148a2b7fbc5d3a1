// The frame's state behind one lock (buffers, data items, strings, objects, clones) and the
// internal interface IMFrame_I that reads and writes it directly. The public interface, with
// the asynchronous-work calls, is in frame_public.cpp; blocks and their sizes in
// frame_buffers.cpp.
#include "frame/frame.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace orvex::frame {
namespace {

std::u16string ToString(BSTR s) {
    return std::u16string(orvex::com::View(s));
}

}  // namespace

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
    // The layout is checked before anything is allocated or copied.
    formats::PictureGeometry geometry;
    const HRESULT layout = formats::PictureGeometryOf(*props, &geometry);
    if (FAILED(layout)) return layout;
    std::size_t size;
    if (black) {
        if (layout != S_OK) return E_INVALIDARG;  // no layout, nothing to fill
        size = static_cast<std::size_t>(geometry.total_bytes);
    } else {
        if (cb < 0) return E_INVALIDARG;
        if (cb > 0 && !bytes) return E_POINTER;
        // A buffer shorter than the layout it claims would send readers past its end.
        if (cb > 0 && cb < geometry.total_bytes) return E_INVALIDARG;
        size = static_cast<std::size_t>(cb);
    }
    HRESULT hr;
    BlockPtr block = CopyBlock(black ? nullptr : bytes, size, &hr);
    if (FAILED(hr)) return hr;
    if (black) FillBlack(props->fccType, geometry, block->data(), block->size());
    std::lock_guard lock(lock_);
    Retire(video_);
    video_ = std::move(block);
    props_.vidProps = *props;
    return S_OK;
}

HRESULT CCoOXFrame::SetAudio(const M_AUD_PROPS* props, int samples, LONG cb, const BYTE* bytes) {
    if (!props) return E_POINTER;
    if (samples < 0 || cb < 0) return E_INVALIDARG;
    const std::int64_t need = AudioBytes(*props, samples);
    if (need > std::numeric_limits<LONG>::max()) return E_OUTOFMEMORY;
    auto size = static_cast<std::size_t>(need);
    if (cb >= 0 && bytes) {
        if (cb < need) return E_INVALIDARG;
        size = need > 0 ? size : static_cast<std::size_t>(cb);
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

// IMFrame_I

STDMETHODIMP CCoOXFrame::FrameAVPropsGet(M_AV_PROPS* pProps) {
    std::lock_guard lock(lock_);
    return PutOut(pProps, props_);
}

STDMETHODIMP CCoOXFrame::FrameAVPropsSet(const M_AV_PROPS* pProps) {
    if (!pProps) return E_POINTER;
    std::lock_guard lock(lock_);
    props_ = *pProps;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::FrameTimeGet(M_TIME* pTime) {
    std::lock_guard lock(lock_);
    return PutOut(pTime, time_);
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
    return PutOut(pnSamples, audio_samples_);
}

STDMETHODIMP CCoOXFrame::FrameVideoIDGet(LONGLONG* pllVideoID) {
    std::lock_guard lock(lock_);
    return PutOut(pllVideoID, video_id_);
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
    return PutOut(pnCount, static_cast<int>(data_.size()));
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
    return PutOut(pdwProcessID, ThisProcess());
}

STDMETHODIMP CCoOXFrame::FrameMemorySizeGet(LONGLONG* pcbTotal) {
    std::lock_guard lock(lock_);
    return PutOut(pcbTotal, MemorySize());
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
