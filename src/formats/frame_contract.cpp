#include "formats/frame_contract.h"

#include <mutex>
#include <utility>

#include "com/runtime.h"

namespace orvex::formats {
namespace {

// The holders and the factories they share. Never destroyed: a renderer released during
// static destruction still finds it; the factories themselves go with the last holder.
struct Shared {
    std::mutex lock;
    int holders = 0;
    CComPtr<IOXFactory> factory;
    CComPtr<IMFactory_I> factory_priv;
};
Shared& TheShared() {
    static Shared* const shared = new Shared;
    return *shared;
}

template <class Itf>
CComPtr<Itf> Make(REFCLSID clsid) {
    CComPtr<Itf> made;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                IidOf<Itf>(), reinterpret_cast<void**>(&made))))
        made.Release();
    return made;
}

// The cached factory while there are holders, else one made for this call alone. The lock is
// held across creation so that holders share one factory; no lock of ours is taken inside.
template <class Itf>
CComPtr<Itf> Factory(CComPtr<Itf> Shared::*slot, REFCLSID clsid) {
    Shared& s = TheShared();
    std::lock_guard guard(s.lock);
    if (s.holders == 0) return Make<Itf>(clsid);
    if (!(s.*slot)) s.*slot = Make<Itf>(clsid);
    return s.*slot;
}

}  // namespace

FrameFactoryHold::FrameFactoryHold() {
    Shared& s = TheShared();
    std::lock_guard guard(s.lock);
    ++s.holders;
}

FrameFactoryHold::~FrameFactoryHold() {
    CComPtr<IOXFactory> factory;
    CComPtr<IMFactory_I> factory_priv;
    {
        Shared& s = TheShared();
        std::lock_guard guard(s.lock);
        if (--s.holders > 0) return;
        factory = std::move(s.factory);
        factory_priv = std::move(s.factory_priv);
    }
    // Released outside the lock: the last release runs the factory's own code.
}

CComPtr<IOXFactory> FrameFactory() {
    return Factory(&Shared::factory, CLSID_OXFactory);
}

CComPtr<IMFactory_I> FrameFactoryPriv() {
    return Factory(&Shared::factory_priv, CLSID_MFactoryPriv);
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
