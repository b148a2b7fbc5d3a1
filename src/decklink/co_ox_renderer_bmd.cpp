#include "decklink/co_ox_renderer_bmd.h"

#include "com/runtime.h"
#include "platform/process.h"

HRESULT CCoOXRendererBMD::FinalConstruct() {
    HRESULT hr = CRendererBackend<CCoOXRendererBMD>::FinalConstruct();
    if (FAILED(hr)) return hr;
    cards_.ListCards();
    return S_OK;
}

void CCoOXRendererBMD::FinalRelease() {
    StopQueue();  // the worker plays through the card
    cards_.Release();
    CRendererBackend<CCoOXRendererBMD>::FinalRelease();
}

STDMETHODIMP CCoOXRendererBMD::DeviceGetCount(eOXDeviceType, int* pnCount) {
    return cards_.GetCount(pnCount);
}

STDMETHODIMP CCoOXRendererBMD::DeviceGetByIndex(eOXDeviceType, int nIndex, BSTR* pbsName,
                                                BOOL* pbBusy) {
    return cards_.GetByIndex(nIndex, pbsName, pbBusy);
}

STDMETHODIMP CCoOXRendererBMD::DeviceSet(eOXDeviceType, int nIndex, BSTR) {
    return cards_.Set(nIndex, PropsRoot());
}

STDMETHODIMP CCoOXRendererBMD::DeviceGet(eOXDeviceType, int* pnIndex, BSTR* pbsName) {
    return cards_.Get(pnIndex, pbsName);
}

STDMETHODIMP CCoOXRendererBMD::DeviceShowProps(eOXDeviceType, BSTR, LONGLONG) {
    CComBSTR path;
    int found = 0;
    if (FAILED(
            PropsRoot()->AttributesGetOrDefault(CComBSTR(kControlPanelProperty), &found, &path)) ||
        !found || path.Length() == 0)
        return E_FILE_NOT_FOUND;
    const std::string program = orvex::com::ToUtf8(path.View());
    if (!orvex::platform::FileExists(program)) return E_FILE_NOT_FOUND;
    return orvex::platform::LaunchDetached(program) ? S_OK : E_FAIL;
}

STDMETHODIMP CCoOXRendererBMD::DeviceClose() {
    Flush(true, 3000);
    cards_.Close();
    return S_OK;
}

STDMETHODIMP CCoOXRendererBMD::DeviceGetInternal(eOXDeviceType, IUnknown** ppDevice) {
    return cards_.GetInternal(ppDevice);
}

HRESULT CCoOXRendererBMD::PropsOnSet(BSTR bsName, BSTR bsValue) {
    return cards_.OnPropertySet(PropsRoot(), orvex::com::View(bsName), orvex::com::View(bsValue));
}
