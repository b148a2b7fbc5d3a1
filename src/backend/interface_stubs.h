// Implementations of the renderer interfaces that answer E_NOTIMPL (after the out-pointer
// checks every caller may rely on). A renderer class derives from the ones whose behaviour
// it does not provide yet.
#pragma once

#include "orvex/interfaces.h"

template <class Itf>
class ONotImplemented;

template <>
class ONotImplemented<IOXDevice> : public IOXDevice {
public:
    STDMETHOD(DeviceGetCount)(eOXDeviceType, int* pnCount) override {
        return pnCount ? E_NOTIMPL : E_POINTER;
    }
    STDMETHOD(DeviceGetByIndex)(eOXDeviceType, int, BSTR*, BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(DeviceSet)(eOXDeviceType, int, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(DeviceGet)(eOXDeviceType, int*, BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(DeviceShowProps)(eOXDeviceType, BSTR, LONGLONG) override { return E_NOTIMPL; }
    STDMETHOD(DeviceOpen)(BSTR, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(DeviceClose)() override { return E_NOTIMPL; }
    STDMETHOD(DeviceGetInternal)(eOXDeviceType, IUnknown** pp) override {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        return E_NOTIMPL;
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
public:
    STDMETHOD(PropsSet)(BSTR, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(PropsGet)(BSTR, BSTR* p) override { return Out(p); }
    STDMETHOD(PropsGetCount)(BSTR, int* p) override { return p ? E_NOTIMPL : E_POINTER; }
    STDMETHOD(PropsGetByIndex)(BSTR, int, BSTR*, BSTR*, BOOL*) override { return E_NOTIMPL; }
    STDMETHOD(PropsRemove)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(PropsInfoGet)(BSTR, eMInfoType, BSTR* p) override { return Out(p); }
    STDMETHOD(PropsOptionGetCount)(BSTR, int* p) override { return p ? E_NOTIMPL : E_POINTER; }
    STDMETHOD(PropsOptionGetByIndex)(BSTR, int, BSTR*, BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(PropsOptionSetByIndex)(BSTR, int) override { return E_NOTIMPL; }
    STDMETHOD(PropsOptionGet)(BSTR, int*, BSTR*, BSTR*) override { return E_NOTIMPL; }

private:
    static HRESULT Out(BSTR* p) {
        if (!p) return E_POINTER;
        *p = nullptr;
        return E_NOTIMPL;
    }
};
