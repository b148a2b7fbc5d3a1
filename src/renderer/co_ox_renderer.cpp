#include "renderer/co_ox_renderer.h"

#include <climits>
#include <cstdint>

#include "backend/registry_settings.h"

using orvex::platform::CRWSynchroLiteGuard;
using orvex::platform::LockMode;
using orvex::renderer::CallBackend;

namespace {

// Renderers of this class being made on this thread. A backend class that makes a generic
// renderer while it is made itself (directly, or named in "extra_devices.clsids") would
// otherwise recurse without end; the inner renderer lists no backends instead.
thread_local int t_building = 0;

class BuildScope {
public:
    BuildScope() { ++t_building; }
    ~BuildScope() { --t_building; }
    BuildScope(const BuildScope&) = delete;
    BuildScope& operator=(const BuildScope&) = delete;
    static bool Nested() { return t_building > 0; }
};

}  // namespace

CCoOXRenderer::CCoOXRenderer() {
    // Declared at once, so that both settings are listed and stand in the registry key.
    PropsRoot()->SetAttr(kExtraClassesProperty, u"");
    PropsRoot()->SetAttr(kInitFirstProperty, u"true");
}

HRESULT CCoOXRenderer::FinalConstruct() {
    HRESULT hr = CreateFreeThreadedMarshaler(GetControllingUnknown());
    if (FAILED(hr)) return hr;
    // Registry trouble never stops a renderer from being created.
    orvex::backend::RegistryLoad(PropsRoot(), orvex::platform::RegRoot::kCurrentUser,
                                 orvex::backend::kSettingsKeyPath, true);
    if (BuildScope::Nested()) return S_OK;
    BuildScope scope;
    try {
        BuildTable();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (table_.Empty()) return S_OK;
    current_ = table_.Front().device;
    if (ReadInitFirst() && table_.TotalCount() > 0) {
        // Device 0's backend becomes current directly: nothing was chosen before that would
        // need closing. A device that cannot be chosen now (busy, say) leaves the choice to
        // the host.
        current_ = table_.Map(0).entry->device;
        DeviceSet(eOXDT_Video, 0, nullptr);
    }
    return S_OK;
}

void CCoOXRenderer::FinalRelease() {
    ReleaseFreeThreadedMarshaler();
    // No backend is closed here: each ends its own playout when its last reference goes.
    current_.Release();
    table_.Clear();
}

void CCoOXRenderer::BuildTable() {
    // Nobody else holds this object yet: the table is filled without its lock.
    for (const orvex::renderer::BackendClass& backend : orvex::renderer::BuiltInBackends())
        table_.TryAdd(backend.clsid, backend.keep);

    CComBSTR extra;
    int found = 0;
    if (FAILED(
            PropsRoot()->AttributesGetOrDefault(CComBSTR(kExtraClassesProperty), &found, &extra)) ||
        !found)
        return;
    for (const CLSID& clsid : orvex::renderer::ParseClassList(extra.View())) {
        if (clsid == CLSID_OXRenderer) continue;  // a directory never lists itself
        table_.TryAdd(clsid, orvex::renderer::KeepRule::kWithDevices);
    }
}

bool CCoOXRenderer::ReadInitFirst() {
    int value = 1;
    if (PropsRoot()->AttributesGetBool(CComBSTR(kInitFirstProperty), &value) != S_OK) return true;
    return value != 0;
}

template <class F>
HRESULT CCoOXRenderer::ForwardDevice(F&& call) {
    CRWSynchroLiteGuard lock(tableLock_, LockMode::kRead);
    if (!current_) return E_NO_DEVICE;
    return CallBackend([&] { return call(current_.p); });
}

STDMETHODIMP CCoOXRenderer::DeviceGetCount(eOXDeviceType, int* pnCount) {
    if (!pnCount) return E_POINTER;
    CRWSynchroLiteGuard lock(tableLock_, LockMode::kRead);
    *pnCount = table_.TotalCount();
    return S_OK;
}

STDMETHODIMP CCoOXRenderer::DeviceGetByIndex(eOXDeviceType eDevType, int nIndex, BSTR* pbsName,
                                             BOOL* pbBusy) {
    if (pbsName) *pbsName = nullptr;
    if (pbBusy) *pbBusy = FALSE;
    CRWSynchroLiteGuard lock(tableLock_, LockMode::kRead);
    const auto slot = table_.Map(nIndex);
    if (!slot.entry) return E_INVALID_INDEX;
    return CallBackend([&] {
        return slot.entry->device->DeviceGetByIndex(eDevType, slot.local, pbsName, pbBusy);
    });
}

STDMETHODIMP CCoOXRenderer::DeviceSet(eOXDeviceType eDevType, int nIndex, BSTR bsParam) {
    CRWSynchroLiteGuard lock(tableLock_, LockMode::kWrite);
    const auto slot = table_.Map(nIndex);
    if (!slot.entry) return E_INVALID_INDEX;
    CComPtr<IOXDevice> previous = current_;
    if (slot.entry->device.p != previous.p) {
        if (previous) CallBackend([&] { return previous->DeviceClose(); });
        current_ = slot.entry->device;
    }
    const HRESULT hr =
        CallBackend([&] { return current_->DeviceSet(eDevType, slot.local, bsParam); });
    // A device that cannot be chosen leaves the previous backend current: its device stays
    // chosen there, and the next frame reopens its output.
    if (FAILED(hr)) current_ = previous;
    return hr;
}

STDMETHODIMP CCoOXRenderer::DeviceGet(eOXDeviceType eDevType, int* pnIndex, BSTR* pbsName) {
    // Nothing chosen reads as the backends answer it: index -1, no name, S_FALSE.
    if (pnIndex) *pnIndex = -1;
    if (pbsName) *pbsName = nullptr;
    CRWSynchroLiteGuard lock(tableLock_, LockMode::kRead);
    if (!current_) return S_FALSE;
    const int base = table_.BaseOf(current_.p);
    int local = 0;
    const HRESULT hr = CallBackend([&] { return current_->DeviceGet(eDevType, &local, pbsName); });
    if (pnIndex && SUCCEEDED(hr)) {
        // A backend without a chosen device answers a negative index: so does the directory.
        const std::int64_t global = std::int64_t{base} + local;
        *pnIndex = local < 0 || base < 0 || global > INT_MAX ? -1 : static_cast<int>(global);
    }
    return hr;
}

STDMETHODIMP CCoOXRenderer::DeviceShowProps(eOXDeviceType eDevType, BSTR bsPropsType,
                                            LONGLONG hWnd) {
    return ForwardDevice(
        [&](IOXDevice* d) { return d->DeviceShowProps(eDevType, bsPropsType, hWnd); });
}

STDMETHODIMP CCoOXRenderer::DeviceOpen(BSTR bsDeviceConfig, BSTR bsPropsList) {
    return ForwardDevice([&](IOXDevice* d) { return d->DeviceOpen(bsDeviceConfig, bsPropsList); });
}

STDMETHODIMP CCoOXRenderer::DeviceClose() {
    return ForwardDevice([](IOXDevice* d) { return d->DeviceClose(); });
}

STDMETHODIMP CCoOXRenderer::DeviceGetInternal(eOXDeviceType eDevType, IUnknown** ppObject) {
    if (ppObject) *ppObject = nullptr;
    return ForwardDevice([&](IOXDevice* d) { return d->DeviceGetInternal(eDevType, ppObject); });
}

STDMETHODIMP CCoOXRenderer::ReceiverFramePut(IOXFrame* pFrame, LONGLONG rtMaxWait, BSTR bsProps) {
    // The frame passes unchanged; this renderer never looks into it.
    return ForwardDevice([&](IOXDevice* d) {
        CComPtr<IOXReceiver> receiver;
        if (FAILED(d->QueryInterface(IID_IOXReceiver, reinterpret_cast<void**>(&receiver))) ||
            !receiver) {
            receiver.p = nullptr;
            return E_NOINTERFACE;
        }
        return receiver->ReceiverFramePut(pFrame, rtMaxWait, bsProps);
    });
}

CComPtr<IUnknown> CCoOXRenderer::FormatDelegateGet() {
    CRWSynchroLiteGuard lock(tableLock_, LockMode::kRead);
    return CComPtr<IUnknown>(current_.p);
}

template <class F>
HRESULT CCoOXRenderer::HoldForFormat(F&& call) {
    CRWSynchroLiteGuard lock(tableLock_, LockMode::kRead);
    return CallBackend(call);
}

using FormatBase = IMFormatImpl<CCoOXRenderer>;

STDMETHODIMP CCoOXRenderer::FormatVideoGetCount(eMFormatType eFormatType, int* pnCount) {
    return HoldForFormat([&] { return FormatBase::FormatVideoGetCount(eFormatType, pnCount); });
}

STDMETHODIMP CCoOXRenderer::FormatVideoGetByIndex(eMFormatType eFormatType, int nIndex,
                                                  M_VID_PROPS* pVidProps, BSTR* pbsName) {
    return HoldForFormat(
        [&] { return FormatBase::FormatVideoGetByIndex(eFormatType, nIndex, pVidProps, pbsName); });
}

STDMETHODIMP CCoOXRenderer::FormatVideoSet(eMFormatType eFormatType, M_VID_PROPS* pVidProps) {
    return HoldForFormat([&] { return FormatBase::FormatVideoSet(eFormatType, pVidProps); });
}

STDMETHODIMP CCoOXRenderer::FormatVideoGet(eMFormatType eFormatType, M_VID_PROPS* pVidProps,
                                           int* pnIndex, BSTR* pbsName) {
    return HoldForFormat(
        [&] { return FormatBase::FormatVideoGet(eFormatType, pVidProps, pnIndex, pbsName); });
}

STDMETHODIMP CCoOXRenderer::FormatAudioGetCount(eMFormatType eFormatType, int* pnCount) {
    return HoldForFormat([&] { return FormatBase::FormatAudioGetCount(eFormatType, pnCount); });
}

STDMETHODIMP CCoOXRenderer::FormatAudioGetByIndex(eMFormatType eFormatType, int nIndex,
                                                  M_AUD_PROPS* pAudProps, BSTR* pbsName) {
    return HoldForFormat(
        [&] { return FormatBase::FormatAudioGetByIndex(eFormatType, nIndex, pAudProps, pbsName); });
}

STDMETHODIMP CCoOXRenderer::FormatAudioSet(eMFormatType eFormatType, M_AUD_PROPS* pAudProps) {
    return HoldForFormat([&] { return FormatBase::FormatAudioSet(eFormatType, pAudProps); });
}

STDMETHODIMP CCoOXRenderer::FormatAudioGet(eMFormatType eFormatType, M_AUD_PROPS* pAudProps,
                                           int* pnIndex, BSTR* pbsName) {
    return HoldForFormat(
        [&] { return FormatBase::FormatAudioGet(eFormatType, pAudProps, pnIndex, pbsName); });
}
