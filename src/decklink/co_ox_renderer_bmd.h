// The DeckLink renderer.
#pragma once

#include "com/free_threaded.h"
#include "com/object.h"
#include "formats/format_impl.h"
#include "orvex/ids.h"
#include "pipeline/receiver_impl.h"
#include "props/props_impl.h"
#include "renderer/interface_stubs.h"
#include "renderer/registry_settings.h"

class CCoOXRendererBMD : public CComObjectRootEx<CComMultiThreadModel>,
                         public CComCoClass<CCoOXRendererBMD>,
                         public CFreeThreadedMarshalerHolder,
                         public IMPropsImpl<CCoOXRendererBMD, IOXProps>,
                         public IMFormatImpl<CCoOXRendererBMD>,
                         public orvex::pipeline::IOXReceiverImpl<CCoOXRendererBMD>,
                         public ONotImplemented<IOXDevice> {
public:
    BEGIN_COM_MAP(CCoOXRendererBMD)
    COM_INTERFACE_ENTRY(IOXProps)
    COM_INTERFACE_ENTRY(IOXFormat)
    COM_INTERFACE_ENTRY(IOXReceiver)
    COM_INTERFACE_ENTRY(IOXDevice)
    COM_INTERFACE_ENTRY_IID(IID_IMPrivProps, IOXProps)
    COM_INTERFACE_ENTRY_IID(IID_IMPrivFormat, IOXFormat)
    COM_INTERFACE_ENTRY_AGGREGATE(IID_IMarshal, m_pUnkMarshaler.p)
    END_COM_MAP()

    HRESULT FinalConstruct() {
        HRESULT hr = CreateFreeThreadedMarshaler(GetControllingUnknown());
        if (FAILED(hr)) return hr;
        // Registry trouble never stops a renderer from being created.
        orvex::renderer::RegistryLoad(PropsRoot(), orvex::platform::RegRoot::kCurrentUser,
                                      orvex::renderer::kSettingsKeyPath, true);
        return S_OK;
    }
    void FinalRelease() {
        StopQueue();  // the queue's worker calls into this object
        ReleaseFreeThreadedMarshaler();
    }
};
