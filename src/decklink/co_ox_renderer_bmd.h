// The DeckLink renderer: chooses a card, publishes its connectors and keying modes, and plays
// the frames it is given on it.
#pragma once

#include "backend/renderer_backend.h"
#include "decklink/card_control.h"

class CCoOXRendererBMD : public CRendererBackend<CCoOXRendererBMD> {
public:
    HRESULT FinalConstruct();
    void FinalRelease();

    // IOXDevice
    STDMETHOD(DeviceGetCount)(eOXDeviceType, int* pnCount) override;
    STDMETHOD(DeviceGetByIndex)(eOXDeviceType, int nIndex, BSTR* pbsName, BOOL* pbBusy) override;
    STDMETHOD(DeviceSet)(eOXDeviceType, int nIndex, BSTR bsParams) override;
    STDMETHOD(DeviceGet)(eOXDeviceType, int* pnIndex, BSTR* pbsName) override;
    STDMETHOD(DeviceShowProps)(eOXDeviceType, BSTR bsPropsType, LONGLONG hWnd) override;
    STDMETHOD(DeviceOpen)(BSTR, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(DeviceClose)() override;
    STDMETHOD(DeviceGetInternal)(eOXDeviceType, IUnknown** ppDevice) override;

    // The property hook: choosing a connector or keying option tells the card.
    HRESULT PropsOnSet(BSTR bsName, BSTR bsValue);

    // The program DeviceShowProps starts: the path in this property.
    static constexpr const char16_t* kControlPanelProperty = u"bmd.control_panel";

private:
    orvex::decklink::CardControl cards_;
};
