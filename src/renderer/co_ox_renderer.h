// The device-independent renderer: one device list over every backend, and delegation of
// each call to the backend of the chosen device.
#pragma once

#include "com/free_threaded.h"
#include "com/object.h"
#include "formats/format_impl.h"
#include "orvex/ids.h"
#include "props/props_impl.h"
#include "backend/interface_stubs.h"
#include "backend/registry_settings.h"

class CCoOXRenderer : public CComObjectRootEx<CComMultiThreadModel>,
                      public CComCoClass<CCoOXRenderer>,
                      public CFreeThreadedMarshalerHolder,
                      public IMPropsImpl<CCoOXRenderer, IOXProps>,
                      public IMFormatImpl<CCoOXRenderer>,
                      public ONotImplemented<IOXReceiver>,
                      public ONotImplemented<IOXDevice> {
public:
    BEGIN_COM_MAP(CCoOXRenderer)
    COM_INTERFACE_ENTRY_IID(IID_IMPrivProps, IOXProps)
    COM_INTERFACE_ENTRY_IID(IID_IMPrivFormat, IOXFormat)
    COM_INTERFACE_ENTRY(IOXProps)
    COM_INTERFACE_ENTRY(IOXFormat)
    COM_INTERFACE_ENTRY(IOXReceiver)
    COM_INTERFACE_ENTRY(IOXDevice)
    COM_INTERFACE_ENTRY_AGGREGATE(IID_IMarshal, m_pUnkMarshaler.p)
    END_COM_MAP()

    HRESULT FinalConstruct() {
        HRESULT hr = CreateFreeThreadedMarshaler(GetControllingUnknown());
        if (FAILED(hr)) return hr;
        PropsRoot()->SetAttr(u"extra_devices.clsids", u"");
        // Registry trouble never stops a renderer from being created.
        orvex::backend::RegistryLoad(PropsRoot(), orvex::platform::RegRoot::kCurrentUser,
                                      orvex::backend::kSettingsKeyPath, true);
        return S_OK;
    }
    void FinalRelease() { ReleaseFreeThreadedMarshaler(); }

    // Format calls go to the current backend; without one the standard lists answer.
    CComPtr<IUnknown> FormatDelegateGet() { return nullptr; }
};
