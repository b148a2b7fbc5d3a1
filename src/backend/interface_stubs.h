// Implementations of the renderer interfaces that answer E_NOTIMPL. Like every method that
// fails, they leave each out-parameter they are given cleared (null, 0 or FALSE), and a
// method with a single required out-parameter answers E_POINTER without it. A renderer class
// derives from the ones whose behaviour it does not provide yet.
#pragma once

#include "orvex/interfaces.h"

namespace orvex::renderer::detail {

template <class T>
void Clear(T* p) {
    if (p) *p = T{};
}

// Clears every out-parameter given, then answers E_NOTIMPL.
template <class... T>
HRESULT NotImplemented(T*... out) {
    (Clear(out), ...);
    return E_NOTIMPL;
}

// For a single required out-parameter.
template <class T>
HRESULT NotImplementedRequired(T* out) {
    return out ? NotImplemented(out) : E_POINTER;
}

}  // namespace orvex::renderer::detail

template <class Itf>
class ONotImplemented;

template <>
class ONotImplemented<IOXDevice> : public IOXDevice {
    template <class... T>
    static HRESULT Stub(T*... out) {
        return orvex::renderer::detail::NotImplemented(out...);
    }

public:
    STDMETHOD(DeviceGetCount)(eOXDeviceType, int* pnCount) override {
        return orvex::renderer::detail::NotImplementedRequired(pnCount);
    }
    STDMETHOD(DeviceGetByIndex)(eOXDeviceType, int, BSTR* pbsName, BOOL* pbBusy) override {
        return Stub(pbsName, pbBusy);
    }
    STDMETHOD(DeviceSet)(eOXDeviceType, int, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(DeviceGet)(eOXDeviceType, int* pnIndex, BSTR* pbsName) override {
        return Stub(pnIndex, pbsName);
    }
    STDMETHOD(DeviceShowProps)(eOXDeviceType, BSTR, LONGLONG) override { return E_NOTIMPL; }
    STDMETHOD(DeviceOpen)(BSTR, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(DeviceClose)() override { return E_NOTIMPL; }
    STDMETHOD(DeviceGetInternal)(eOXDeviceType, IUnknown** pp) override {
        return orvex::renderer::detail::NotImplementedRequired(pp);
    }
};

template <>
class ONotImplemented<IOXReceiver> : public IOXReceiver {
public:
    STDMETHOD(ReceiverFramePut)(IOXFrame* pFrame, LONGLONG, BSTR) override {
        return pFrame ? E_NOTIMPL : E_POINTER;
    }
};

template <>
class ONotImplemented<IOXProps> : public IOXProps {
    template <class... T>
    static HRESULT Stub(T*... out) {
        return orvex::renderer::detail::NotImplemented(out...);
    }
    template <class T>
    static HRESULT Required(T* out) {
        return orvex::renderer::detail::NotImplementedRequired(out);
    }

public:
    STDMETHOD(PropsSet)(BSTR, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(PropsGet)(BSTR, BSTR* p) override { return Required(p); }
    STDMETHOD(PropsGetCount)(BSTR, int* p) override { return Required(p); }
    STDMETHOD(PropsGetByIndex)(BSTR, int, BSTR* name, BSTR* value, BOOL* node) override {
        return Stub(name, value, node);
    }
    STDMETHOD(PropsRemove)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(PropsInfoGet)(BSTR, eMInfoType, BSTR* p) override { return Required(p); }
    STDMETHOD(PropsOptionGetCount)(BSTR, int* p) override { return Required(p); }
    STDMETHOD(PropsOptionGetByIndex)(BSTR, int, BSTR* value, BSTR* help) override {
        return Stub(value, help);
    }
    STDMETHOD(PropsOptionSetByIndex)(BSTR, int) override { return E_NOTIMPL; }
    STDMETHOD(PropsOptionGet)(BSTR, int* index, BSTR* value, BSTR* help) override {
        return Stub(index, value, help);
    }
};
