// The device-independent renderer: one device list over every backend, and delegation of
// each call to the backend of the chosen device.
//
// Locks, in the order they are taken:
//   1. `tableLock_`: guards the backend table and the current backend. Every delegated call
//      holds it for reading for the whole call into the backend (so a backend is never
//      released or replaced under a running call); DeviceSet holds it for writing and calls
//      the old backend's DeviceClose and the new one's DeviceSet under it. Readers never
//      queue behind a waiting writer, so a backend may call back into this object.
//   2. whatever the backend takes inside the call;
//   3. the own property store's lock (IMPropsImpl), taken only after the table lock has
//      been let go, when no backend answers the property call.
#pragma once

#include <optional>

#include "com/free_threaded.h"
#include "com/object.h"
#include "formats/format_impl.h"
#include "orvex/ids.h"
#include "platform/rw_lock.h"
#include "props/props_impl.h"
#include "renderer/backend_table.h"

class CCoOXRenderer : public CComObjectRootEx<CComMultiThreadModel>,
                      public CComCoClass<CCoOXRenderer>,
                      public CFreeThreadedMarshalerHolder,
                      public IMPropsImpl<CCoOXRenderer, IOXProps>,
                      public IMFormatImpl<CCoOXRenderer>,
                      public IOXReceiver,
                      public IOXDevice {
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

    // Settings of the renderer's own store.
    static constexpr const char16_t* kExtraClassesProperty = u"extra_devices.clsids";
    // When set (the default), the first device is chosen as the renderer is made, so that a
    // host may put frames without choosing one.
    static constexpr const char16_t* kInitFirstProperty = u"device.init_first";

    CCoOXRenderer();
    HRESULT FinalConstruct();
    void FinalRelease();

    // IOXDevice
    STDMETHOD(DeviceGetCount)(eOXDeviceType eDevType, int* pnCount) override;
    STDMETHOD(DeviceGetByIndex)
    (eOXDeviceType eDevType, int nIndex, BSTR* pbsName, BOOL* pbBusy) override;
    STDMETHOD(DeviceSet)(eOXDeviceType eDevType, int nIndex, BSTR bsParam) override;
    STDMETHOD(DeviceGet)(eOXDeviceType eDevType, int* pnIndex, BSTR* pbsName) override;
    STDMETHOD(DeviceShowProps)(eOXDeviceType eDevType, BSTR bsPropsType, LONGLONG hWnd) override;
    STDMETHOD(DeviceOpen)(BSTR bsDeviceConfig, BSTR bsPropsList) override;
    STDMETHOD(DeviceClose)() override;
    STDMETHOD(DeviceGetInternal)(eOXDeviceType eDevType, IUnknown** ppObject) override;

    // IOXReceiver
    STDMETHOD(ReceiverFramePut)(IOXFrame* pFrame, LONGLONG rtMaxWait, BSTR bsProps) override;

    // IOXFormat: held under the table lock, answered by the current backend when it has a
    // format interface, else from the standard lists.
    STDMETHOD(FormatVideoGetCount)(eMFormatType eFormatType, int* pnCount) override;
    STDMETHOD(FormatVideoGetByIndex)
    (eMFormatType eFormatType, int nIndex, M_VID_PROPS* pVidProps, BSTR* pbsName) override;
    STDMETHOD(FormatVideoSet)(eMFormatType eFormatType, M_VID_PROPS* pVidProps) override;
    STDMETHOD(FormatVideoGet)
    (eMFormatType eFormatType, M_VID_PROPS* pVidProps, int* pnIndex, BSTR* pbsName) override;
    STDMETHOD(FormatAudioGetCount)(eMFormatType eFormatType, int* pnCount) override;
    STDMETHOD(FormatAudioGetByIndex)
    (eMFormatType eFormatType, int nIndex, M_AUD_PROPS* pAudProps, BSTR* pbsName) override;
    STDMETHOD(FormatAudioSet)(eMFormatType eFormatType, M_AUD_PROPS* pAudProps) override;
    STDMETHOD(FormatAudioGet)
    (eMFormatType eFormatType, M_AUD_PROPS* pAudProps, int* pnIndex, BSTR* pbsName) override;

    // The IMFormatImpl hook; called with the table lock held by the calls above.
    CComPtr<IUnknown> FormatDelegateGet();

    // The IMPropsImpl hook: the call goes to the current backend's property interface when
    // it has one, with the table lock held for the call.
    template <class F>
    std::optional<HRESULT> PropsForward(F&& call) {
        orvex::platform::CRWSynchroLiteGuard lock(tableLock_, orvex::platform::LockMode::kRead);
        if (!current_) return std::nullopt;
        std::optional<HRESULT> result;
        const HRESULT hr = orvex::renderer::CallBackend([&] {
            CComPtr<IOXProps> props;
            if (FAILED(
                    current_->QueryInterface(IID_IMPrivProps, reinterpret_cast<void**>(&props))) ||
                !props) {
                props.p = nullptr;
                if (FAILED(current_.QueryInterface(&props))) props.p = nullptr;
            }
            if (props) result = call(props.p);
            return S_OK;
        });
        if (FAILED(hr)) return hr;  // the backend threw
        return result;
    }

private:
    // Runs `call(IOXDevice*)` on the current backend with the table lock held for reading;
    // without one the result is E_NO_DEVICE.
    template <class F>
    HRESULT ForwardDevice(F&& call);
    // Runs an IOXFormat call with the table lock held for reading.
    template <class F>
    HRESULT HoldForFormat(F&& call);

    void BuildTable();
    bool ReadInitFirst();

    orvex::platform::CRWSynchroLiteRW tableLock_{1024, false};
    orvex::renderer::BackendTable table_;  // filled before the object is handed out
    CComPtr<IOXDevice> current_;           // one of the table's objects, or null
};
