#include "frame/frame_factory.h"

#include "formats/picture_geometry.h"

namespace orvex::frame {
namespace {

HRESULT Hand(CComPtr<CCoOXFrame>& frame, IOXFrame** out) {
    *out = static_cast<IOXFrame*>(frame.Detach());
    return S_OK;
}

// Fills a new frame from one record. Buffers shorter than the layout they claim are refused
// rather than copied, since readers size their reads by the layout.
HRESULT FromInfo(const OX_FRAME_INFO& info, CComPtr<CCoOXFrame>& out) {
    CComPtr<CCoOXFrame> f;
    HRESULT hr = CCoOXFrame::Create(f);
    if (FAILED(hr)) return hr;
    f->FrameAVPropsSet(&info.avProps);
    f->FrameTimeSet(&info.mTime);
    f->OXVideoIDSet(info.llVideoID);
    if (info.lpVideo && info.cbVideo > 0) {
        if (info.cbVideo > 0x7FFFFFFFu) return E_INVALIDARG;
        hr = f->FrameVideoSet(&info.avProps.vidProps, static_cast<LONG>(info.cbVideo),
                              BytesAt(info.lpVideo));
        if (FAILED(hr)) return hr;
    }
    if (info.lpAudio && info.cbAudio > 0) {
        if (info.cbAudio > 0x7FFFFFFFu) return E_INVALIDARG;
        hr = f->FrameAudioSet(&info.avProps.audProps, info.lAudioSamples,
                              static_cast<LONG>(info.cbAudio), BytesAt(info.lpAudio));
        if (FAILED(hr)) return hr;
    }
    out = std::move(f);
    return S_OK;
}

// A local copy of a frame that only answers IOXFrame (a host's own implementation). Data
// items, strings and objects are optional for such frames: what cannot be read is left out.
HRESULT CopyPublic(IOXFrame* src, CComPtr<CCoOXFrame>& out) {
    src->OXWaitAsync();
    OX_FRAME_INFO info{};
    HRESULT hr = src->OXAllGet(&info);
    if (FAILED(hr)) return hr;
    CComPtr<CCoOXFrame> f;
    hr = FromInfo(info, f);
    if (FAILED(hr)) return hr;
    int n = 0;
    if (SUCCEEDED(src->OXDataGetCount(&n))) {
        for (int i = 0; i < n; ++i) {
            DWORD fcc = 0;
            LONG cb = 0;
            LONGLONG lp = 0;
            if (SUCCEEDED(src->OXDataGetByIndex(i, &fcc, &cb, &lp)) && (lp || cb == 0))
                f->FrameDataSet(fcc, cb, BytesAt(lp));
        }
    }
    n = 0;
    if (SUCCEEDED(src->OXStrGetCount(&n))) {
        for (int i = 0; i < n; ++i) {
            CComBSTR name, value;
            if (SUCCEEDED(src->OXStrGetByIndex(i, &name, &value)) && name)
                f->FrameStrSet(name, value);
        }
    }
    n = 0;
    if (SUCCEEDED(src->OXObjGetCount(&n))) {
        for (int i = 0; i < n; ++i) {
            CComBSTR name;
            CComPtr<IUnknown> obj;
            if (SUCCEEDED(src->OXObjGetByIndex(i, &name, &obj)) && name && obj)
                f->FrameObjSet(name, obj);
        }
    }
    out = std::move(f);
    return S_OK;
}

// A local copy of a private frame source; it carries no index of its data items, so the
// items the renderers read are asked for by code.
HRESULT CopySource(IMFrameSource_I* src, CComPtr<CCoOXFrame>& out) {
    OX_FRAME_INFO info{};
    HRESULT hr = src->SourceFrameInfoGet(&info);
    if (FAILED(hr)) return hr;
    CComPtr<CCoOXFrame> f;
    hr = FromInfo(info, f);
    if (FAILED(hr)) return hr;
    for (DWORD fcc : {kFourCC_C608, kFourCC_C708, kFourCC_GA94, kFourCC_VANC}) {
        LONG cb = 0;
        LONGLONG lp = 0;
        if (SUCCEEDED(src->SourceDataGet(fcc, &cb, &lp)) && lp && cb > 0)
            f->FrameDataSet(fcc, cb, BytesAt(lp));
    }
    out = std::move(f);
    return S_OK;
}

}  // namespace

HRESULT MakeLocalFrame(IUnknown* source, BOOL always_clone, IOXFrame** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!source) return E_POINTER;

    // An SDK frame of this process is used as it is (or cloned whole on request).
    CComQIPtr<IMFrame_I> internal(source);
    DWORD pid = 0;
    if (internal && SUCCEEDED(internal->FrameProcessIDGet(&pid)) && pid == ThisProcess()) {
        if (!always_clone) {
            HRESULT hr = source->QueryInterface(out);
            if (SUCCEEDED(hr)) return hr;
        }
        CComPtr<IMFrame_I> copy;
        HRESULT hr = internal->FrameClone(eMFC_Full, &copy);
        if (FAILED(hr)) return hr;
        return copy->QueryInterface(out);
    }

    CComPtr<CCoOXFrame> local;
    HRESULT hr = E_NOINTERFACE;
    if (CComQIPtr<IOXFrame> pub(source); pub) {
        hr = CopyPublic(pub, local);
    } else if (CComQIPtr<IMFrameSource_I> priv(source); priv) {
        hr = CopySource(priv, local);
    }
    if (FAILED(hr)) return hr;
    return Hand(local, out);
}

STDMETHODIMP CCoOXFactory::OXFrameMake(const M_AV_PROPS* pProps, int nAudioSamples,
                                       IOXFrame** ppFrame) {
    return OXFrameMakeFromMemory(pProps, 0, 0, nAudioSamples, 0, 0, ppFrame);
}

STDMETHODIMP CCoOXFactory::OXFrameMakeFromMemory(const M_AV_PROPS* pProps, LONG cbVideo,
                                                 LONGLONG lpVideo, int nAudioSamples, LONG cbAudio,
                                                 LONGLONG lpAudio, IOXFrame** ppFrame) {
    if (!ppFrame) return E_POINTER;
    *ppFrame = nullptr;
    if (!pProps) return E_POINTER;
    CComPtr<CCoOXFrame> f;
    HRESULT hr = CCoOXFrame::Create(f);
    if (FAILED(hr)) return hr;
    f->FrameAVPropsSet(pProps);
    // Without caller bytes a picture is allocated black when the record has a layout; a record
    // without one (no picture, or a compressed code) makes a frame without video, and a
    // geometry beyond the ceilings is refused before anything is allocated.
    if (lpVideo) {
        hr = f->FrameVideoSet(&pProps->vidProps, cbVideo, BytesAt(lpVideo));
    } else {
        formats::PictureGeometry geometry;
        hr = formats::PictureGeometryOf(pProps->vidProps, &geometry);
        if (hr == S_OK) hr = f->FrameVideoAlloc(&pProps->vidProps);
    }
    if (FAILED(hr)) return hr;
    if (lpAudio)
        hr = f->FrameAudioSet(&pProps->audProps, nAudioSamples, cbAudio, BytesAt(lpAudio));
    else if (nAudioSamples > 0)
        hr = f->FrameAudioAlloc(&pProps->audProps, nAudioSamples);
    if (FAILED(hr)) return hr;
    return Hand(f, ppFrame);
}

STDMETHODIMP CCoOXFactory::OXFrameMakeLocal(IUnknown* pSource, IOXFrame** ppLocal,
                                            BOOL _bAlwaysClone) {
    return MakeLocalFrame(pSource, _bAlwaysClone, ppLocal);
}

STDMETHODIMP CCoMFactoryPriv::FrameMakeLocal(IUnknown* pSource, IOXFrame** ppLocal,
                                             BOOL _bAlwaysClone) {
    return MakeLocalFrame(pSource, _bAlwaysClone, ppLocal);
}

}  // namespace orvex::frame
