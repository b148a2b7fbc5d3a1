#include "aja/co_ox_renderer_aja.h"

#include <algorithm>

#include "aja/ntv2/ntv2devicefeatures.h"
#include "aja/ntv2/ntv2devicescanner.h"
#include "backend/output_state.h"
#include "com/runtime.h"
#include "formats/image_format.h"
#include "orvex/ids.h"
#include "pipeline/receiver_impl.h"
#include "platform/text.h"

using orvex::platform::CRWSynchroLiteGuard;
using orvex::platform::LockMode;

namespace {

// The settings the constructor writes (the shared registry key and the host override them).
constexpr const char16_t* kDefaults[][2] = {
    {u"driver.buffers", u"3"},   {u"multiformat", u"true"}, {u"ref-in", u"freerun"},
    {u"vanc.enabled", u"false"}, {u"vanc.wide", u"false"},  {u"hdmi-out", u"true"},
    {u"analog-out", u"true"},
};

}  // namespace

HRESULT CCoOXRendererAJA::FinalConstruct() {
    for (const auto& entry : kDefaults)
        PropsRoot()->AttributesSet(CComBSTR(entry[0]), CComBSTR(entry[1]));
    for (const auto& entry : orvex::backend::kOutputDefaults)
        PropsRoot()->AttributesSet(CComBSTR(entry[0]), CComBSTR(entry[1]));
    HRESULT hr = CRendererBackend<CCoOXRendererAJA>::FinalConstruct();
    if (FAILED(hr)) return hr;
    ReadChannelSettings();
    Discover();
    return S_OK;
}

void CCoOXRendererAJA::FinalRelease() {
    StopQueue();  // the worker hands frames to the channel
    StopOutput();
    {
        CRWSynchroLiteGuard lock(&lock_, LockMode::kWrite);
        current_ = nullptr;
        devices_.clear();
        names_.clear();
    }
    CRendererBackend<CCoOXRendererAJA>::FinalRelease();
}

void CCoOXRendererAJA::Discover() {
    CRWSynchroLiteGuard lock(&lock_, LockMode::kWrite);
    devices_.clear();
    names_.clear();
    current_ = nullptr;
    CNTV2DeviceScanner scanner;
    const auto& boards = scanner.GetDeviceInfoList();
    for (std::size_t b = 0; b < boards.size(); ++b) {
        const NTV2DeviceInfo& info = boards[b];
        const int channels = std::min<int>(NTV2DeviceGetNumFrameStores(info.deviceID),
                                           NTV2DeviceGetNumVideoOutputs(info.deviceID));
        for (int c = 0; c < channels; ++c) {
            auto device = std::make_unique<orvex::aja::AJARenderer>(&settings_);
            if (FAILED(device->Attach(static_cast<int>(b), c))) continue;
            device->SetLostHandler(
                [](void* self) { static_cast<CCoOXRendererAJA*>(self)->FrameLost(); }, this);
            std::u16string base = u"AJA " + orvex::platform::FromUtf8(info.deviceIdentifier);
            if (channels > 1) base += u" Ch " + orvex::platform::FromUtf8(std::to_string(c + 1));
            std::u16string name = base;
            for (int n = 0; std::find(names_.begin(), names_.end(), name) != names_.end(); ++n)
                name = base + u" (" + orvex::platform::FromUtf8(std::to_string(n)) + u")";
            devices_.push_back(std::move(device));
            names_.push_back(std::move(name));
        }
    }
    Choose(devices_.empty() ? nullptr : devices_.front().get());
}

void CCoOXRendererAJA::Choose(orvex::aja::AJARenderer* device) {
    current_ = device;
    playable_ = device ? device->PlayableFormats() : ~0ull;
}

void CCoOXRendererAJA::FormatVideoListFill(eMFormatType type, std::vector<M_VID_PROPS>& list) {
    list = orvex::formats::StandardVideoList();
    if (type != eMFT_Output) return;
    const std::uint64_t playable = playable_.load();
    std::erase_if(list, [&](const M_VID_PROPS& v) {
        const int base = v.eVideoFormat & 0xFF;
        if (v.eVideoFormat == eMVF_Disabled || base == 0) return false;
        // The boards play no stereo packing of their own.
        return base >= 64 || (v.eVideoFormat & ~0xFF) != 0 || (playable & (1ull << base)) == 0;
    });
}

STDMETHODIMP CCoOXRendererAJA::DeviceGetCount(eOXDeviceType, int* pnCount) {
    if (!pnCount) return E_POINTER;
    CRWSynchroLiteGuard lock(&lock_, LockMode::kRead);
    *pnCount = static_cast<int>(devices_.size());
    return S_OK;
}

STDMETHODIMP CCoOXRendererAJA::DeviceGetByIndex(eOXDeviceType, int nIndex, BSTR* pbsName,
                                                BOOL* pbBusy) {
    // Every failure leaves the out-parameters cleared, so a caller never frees junk.
    if (pbsName) *pbsName = nullptr;
    if (pbBusy) *pbBusy = FALSE;
    CRWSynchroLiteGuard lock(&lock_, LockMode::kRead);
    if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= devices_.size()) return E_INVALID_INDEX;
    if (pbsName)
        *pbsName =
            SysAllocStringLen(names_[nIndex].data(), static_cast<UINT>(names_[nIndex].size()));
    if (pbBusy) *pbBusy = devices_[nIndex]->Busy() ? TRUE : FALSE;
    return S_OK;
}

STDMETHODIMP CCoOXRendererAJA::DeviceSet(eOXDeviceType, int nIndex, BSTR) {
    CRWSynchroLiteGuard lock(&lock_, LockMode::kWrite);
    if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= devices_.size()) return E_INVALID_INDEX;
    if (devices_[nIndex].get() == current_) return S_FALSE;
    if (current_ && current_->Busy()) return E_BUSY;
    Choose(devices_[nIndex].get());
    return S_OK;
}

STDMETHODIMP CCoOXRendererAJA::DeviceGet(eOXDeviceType, int* pnIndex, BSTR* pbsName) {
    if (pnIndex) *pnIndex = 0;
    if (pbsName) *pbsName = nullptr;
    CRWSynchroLiteGuard lock(&lock_, LockMode::kRead);
    if (!current_) return E_NO_DEVICE;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i].get() != current_) continue;
        if (pnIndex) *pnIndex = static_cast<int>(i);
        if (pbsName)
            *pbsName = SysAllocStringLen(names_[i].data(), static_cast<UINT>(names_[i].size()));
        return S_OK;
    }
    return E_NO_DEVICE;
}

HRESULT CCoOXRendererAJA::PropsOnSet(BSTR, BSTR) {
    // Every write (a setting may also come inside a whole tree): they are few and read here.
    ReadChannelSettings();
    return S_OK;
}

void CCoOXRendererAJA::ReadChannelSettings() {
    CComBSTR text;
    settings_.driverBuffers.store(
        SUCCEEDED(PropsRoot()->AttributesGet(CComBSTR(u"driver.buffers"), &text)) && text
            ? orvex::pipeline::ParseIntProperty(text.View(), 3)
            : 3,
        std::memory_order_relaxed);
    text.Empty();
    PropsRoot()->AttributesGet(CComBSTR(u"scaling_quality"), &text);
    settings_.scaling.store(orvex::backend::ParseScalingQuality(text ? text.View() : u"auto"),
                            std::memory_order_relaxed);
}

void CCoOXRendererAJA::StopOutput() {
    CRWSynchroLiteGuard lock(&lock_, LockMode::kWrite);
    if (current_ && current_->Claimed()) orvex::backend::PublishOutputClosed(PropsRoot());
    if (current_) current_->Stop();
}

STDMETHODIMP CCoOXRendererAJA::DeviceClose() {
    Flush(true, 3000);
    StopOutput();
    return S_OK;
}

HRESULT CCoOXRendererAJA::ProcessFrame(IMFrame_I* frame) {
    if (!frame) return E_POINTER;
    CComPtr<IOXFrame> oxFrame;
    if (FAILED(frame->QueryInterface(IID_IOXFrame, reinterpret_cast<void**>(&oxFrame))) || !oxFrame)
        return E_INVALIDARG;
    // The host's output format, read before the output lock (the format lock comes first).
    M_VID_PROPS convert{};
    const bool fixed = FormatVideoGet(eMFT_Convert, &convert, nullptr, nullptr) == S_OK;
    CRWSynchroLiteGuard lock(&lock_, LockMode::kRead);
    if (!current_) {  // no board: the frame goes nowhere
        FrameLost();
        return S_OK;
    }
    current_->PutFrame(oxFrame, PropsRoot(), fixed ? &convert : nullptr);
    return S_OK;
}
