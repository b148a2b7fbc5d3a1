#include "formats/frame_contract.h"

#include <mutex>

#include "com/runtime.h"

namespace orvex::formats {
namespace {

std::mutex& FactoryLock() {
    static std::mutex lock;
    return lock;
}

// The cached factories are never released: at process exit the library that serves them may
// already be finalised, and a process-wide object needs no release anyway.
template <class Itf>
CComPtr<Itf> CachedFactory(REFCLSID clsid) {
    static Itf* cached = nullptr;
    std::lock_guard lock(FactoryLock());
    if (!cached) {
        Itf* made = nullptr;
        if (SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                       IidOf<Itf>(), reinterpret_cast<void**>(&made))) &&
            made) {
            cached = made;
        }
    }
    return CComPtr<Itf>(cached);
}

}  // namespace

CComPtr<IOXFactory> FrameFactory() {
    return CachedFactory<IOXFactory>(CLSID_OXFactory);
}

CComPtr<IMFactory_I> FrameFactoryPriv() {
    return CachedFactory<IMFactory_I>(CLSID_MFactoryPriv);
}

HRESULT FrameInternalGet(IUnknown* object, IMFrame_I** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!object) return E_POINTER;

    CComPtr<IOXFrame> local;
    if (CComQIPtr<IOXFrame> frame(object); frame) {
        CComPtr<IOXFactory> factory = FrameFactory();
        if (!factory) return E_UNEXPECTED;
        HRESULT hr = factory->OXFrameMakeLocal(frame, &local, FALSE);
        if (FAILED(hr)) return hr;
    } else if (CComQIPtr<IMFrameSource_I> source(object); source) {
        CComPtr<IMFactory_I> factory = FrameFactoryPriv();
        if (!factory) return E_UNEXPECTED;
        HRESULT hr = factory->FrameMakeLocal(source, &local, FALSE);
        if (FAILED(hr)) return hr;
    } else {
        return E_NOINTERFACE;
    }
    // A factory that succeeds without a frame breaks its contract; do not crash on it.
    if (!local) return E_UNEXPECTED;
    return local->QueryInterface(out);
}

}  // namespace orvex::formats
