// What the card backends (DeckLink, AJA) share: free-threaded marshalling, the property tree
// loaded from the shared registry key, the format interface, the frame queue behind
// ReceiverFramePut, and their interface table. A backend class T derives from
// CRendererBackend<T>; a backend that answers further interfaces declares its own map.
#pragma once

#include "com/free_threaded.h"
#include "com/object.h"
#include "formats/format_impl.h"
#include "orvex/ids.h"
#include "pipeline/receiver_impl.h"
#include "props/props_impl.h"
#include "backend/interface_stubs.h"
#include "backend/registry_settings.h"

template <class T>
class CRendererBackend : public CComObjectRootEx<CComMultiThreadModel>,
                         public CComCoClass<T>,
                         public CFreeThreadedMarshalerHolder,
                         public IMPropsImpl<T, IOXProps>,
                         public IMFormatImpl<T>,
                         public orvex::pipeline::IOXReceiverImpl<T>,
                         public ONotImplemented<IOXDevice> {
public:
    BEGIN_COM_MAP(CRendererBackend)
    COM_INTERFACE_ENTRY(IOXProps)
    COM_INTERFACE_ENTRY(IOXFormat)
    COM_INTERFACE_ENTRY(IOXReceiver)
    COM_INTERFACE_ENTRY(IOXDevice)
    COM_INTERFACE_ENTRY_IID(IID_IMPrivProps, IOXProps)
    COM_INTERFACE_ENTRY_IID(IID_IMPrivFormat, IOXFormat)
    COM_INTERFACE_ENTRY_AGGREGATE(IID_IMarshal, m_pUnkMarshaler.p)
    END_COM_MAP()

    HRESULT FinalConstruct() {
        HRESULT hr = this->CreateFreeThreadedMarshaler(this->GetControllingUnknown());
        if (FAILED(hr)) return hr;
        // Registry trouble never stops a renderer from being created.
        orvex::backend::RegistryLoad(this->PropsRoot(), orvex::platform::RegRoot::kCurrentUser,
                                      orvex::backend::kSettingsKeyPath, true);
        return S_OK;
    }
    void FinalRelease() {
        this->StopQueue();  // the queue's worker calls into this object
        this->ReleaseFreeThreadedMarshaler();
    }
};
