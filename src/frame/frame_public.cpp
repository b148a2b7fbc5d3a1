// IOXFrame, the frame's public interface: mostly the internal operations under their public
// names, with buffers passed as 64-bit addresses.
#include <algorithm>

#include "frame/frame.h"

namespace orvex::frame {

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
    info.lpVideo = AddressOf(video_);
    info.lpAudio = AddressOf(audio_);
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
    return PutOut(plpVideo, static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(p)));
}

STDMETHODIMP CCoOXFrame::OXAudioBytesGet(LONG* pcbAudio, LONGLONG* plpAudio, int* pnSamples) {
    if (!pcbAudio || !plpAudio) return E_POINTER;
    std::lock_guard lock(lock_);
    if (audio_) audio_->lent = true;
    *pcbAudio = SizeOf(audio_);
    *plpAudio = AddressOf(audio_);
    if (pnSamples) *pnSamples = audio_samples_;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXVideoSet(const M_VID_PROPS* pVidProps, LONG cbVideo, LONGLONG lpVideo) {
    return SetVideo(pVidProps, cbVideo, BytesAt(lpVideo), false);
}
STDMETHODIMP CCoOXFrame::OXAudioSet(const M_AUD_PROPS* pAudProps, int nSamples, LONG cbAudio,
                                    LONGLONG lpAudio) {
    return SetAudio(pAudProps, nSamples, cbAudio, BytesAt(lpAudio));
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
    return SetData(dwFourCC, cbData, BytesAt(lpData));
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
    return PutOut(pnCount, static_cast<int>(strings_.size()));
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
    return PutOut(pnCount, static_cast<int>(objects_.size()));
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
    return PutOut(pTimecode, time_.tcFrame);
}

STDMETHODIMP CCoOXFrame::OXTimecodeSet(const M_TIMECODE* pTimecode) {
    if (!pTimecode) return E_POINTER;
    std::lock_guard lock(lock_);
    time_.tcFrame = *pTimecode;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXFlagsGet(eMFrameFlags* peFlags) {
    std::lock_guard lock(lock_);
    return PutOut(peFlags, time_.eFFlags);
}

STDMETHODIMP CCoOXFrame::OXFlagsSet(eMFrameFlags eFlags) {
    std::lock_guard lock(lock_);
    time_.eFFlags = eFlags;
    return S_OK;
}

STDMETHODIMP CCoOXFrame::OXProcessIDGet(DWORD* pdwProcessID) {
    return PutOut(pdwProcessID, ThisProcess());
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

}  // namespace orvex::frame
