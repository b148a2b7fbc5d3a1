// The DeckLink renderer.
#pragma once

#include "com/free_threaded.h"
#include "com/object.h"
#include "formats/format_impl.h"
#include "orvex/ids.h"
#include "pipeline/receiver_impl.h"
#include "renderer/interface_stubs.h"

class CCoOXRendererBMD : public CComObjectRootEx<CComMultiThreadModel>,
                         public CComCoClass<CCoOXRendererBMD>,
                         public CFreeThreadedMarshalerHolder,
                         public ONotImplemented<IOXProps>,
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

    HRESULT FinalConstruct() { return CreateFreeThreadedMarshaler(GetControllingUnknown()); }
    void FinalRelease() {
        StopQueue();  // the queue's worker calls into this object
        ReleaseFreeThreadedMarshaler();
    }
};
