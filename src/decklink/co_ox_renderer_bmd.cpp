#include "decklink/co_ox_renderer_bmd.h"

#include <string>
#include <vector>

#include "backend/output_state.h"
#include "com/runtime.h"
#include "decklink/output_modes.h"
#include "formats/image_format.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

// The settings the constructor writes (the shared registry key and the host override them).
constexpr const char16_t* kDefaults[][2] = {
    {u"input.buffers", u"2"},
    {u"output.10bit", u"false"},
    {u"optimization.no_copy", u"true"},
    {u"optimization.own_buffer", u"true"},
    {u"experimental.direct_audio_thread", u"false"},
    {u"scaling_quality", u"auto"},
    {u"bypass.wait_frames", u"30"},
    {u"device.init_first", u"true"},
    {u"output.timecode", u"true"},
    {u"timecode_format", u"auto"},
    {u"cc_output", u"7"},
    {u"cc_line_sdi", u"9"},
    {u"cc_offset_dword", u"0"},
    {u"output.copy_vanc", u"2"},
    {u"crop", u""},
    {u"mirror", u""},
    {u"rotate", u""},
    {u"bmd.driver_library", u""},  // see decklink/driver.h
};

}  // namespace

HRESULT CCoOXRendererBMD::FinalConstruct() {
    WriteDefaults();
    HRESULT hr = CRendererBackend<CCoOXRendererBMD>::FinalConstruct();
    if (FAILED(hr)) return hr;
    CComObject<orvex::decklink::FrameAllocator>* allocator = nullptr;
    CComObject<orvex::decklink::DeckLinkOutputCallback>* callbacks = nullptr;
    if (FAILED(hr = CComObject<orvex::decklink::FrameAllocator>::CreateInstance(&allocator)))
        return hr;
    allocator->AddRef();
    allocator_ = allocator;
    if (FAILED(hr =
                   CComObject<orvex::decklink::DeckLinkOutputCallback>::CreateInstance(&callbacks)))
        return hr;
    callbacks->AddRef();
    callbacks_ = callbacks;
    directOut_ = new (std::nothrow) orvex::decklink::MDecklinkDirectOut();
    if (!directOut_) return E_OUTOFMEMORY;
    cards_.SetFrameClock(directOut_);
    PropsRoot()->NodeChildGet(CComBSTR(u"stat"), 1, &statNode_);
    ReadFrameSettings();
    cards_.ListCards(PropsRoot(), statNode_);
    return S_OK;
}

void CCoOXRendererBMD::FinalRelease() {
    StopQueue();  // the worker plays through the card
    cards_.Release();
    if (directOut_) directOut_->Release();
    directOut_ = nullptr;
    cards_.SetFrameClock(nullptr);
    if (callbacks_) {
        callbacks_->SetOutput(nullptr, nullptr);
        callbacks_->Release();
    }
    callbacks_ = nullptr;
    if (allocator_) allocator_->Release();
    allocator_ = nullptr;
    statNode_.Release();
    CRendererBackend<CCoOXRendererBMD>::FinalRelease();
}

void CCoOXRendererBMD::WriteDefaults() {
    for (const auto& entry : kDefaults)
        PropsRoot()->AttributesSet(CComBSTR(entry[0]), CComBSTR(entry[1]));
    for (const auto& entry : orvex::backend::kOutputDefaults)
        PropsRoot()->AttributesSet(CComBSTR(entry[0]), CComBSTR(entry[1]));
}

STDMETHODIMP CCoOXRendererBMD::DeviceGetCount(eOXDeviceType, int* pnCount) {
    return cards_.GetCount(pnCount);
}

STDMETHODIMP CCoOXRendererBMD::DeviceGetByIndex(eOXDeviceType, int nIndex, BSTR* pbsName,
                                                BOOL* pbBusy) {
    return cards_.GetByIndex(nIndex, pbsName, pbBusy);
}

using orvex::platform::CRWSynchroLiteGuard;
using orvex::platform::LockMode;

STDMETHODIMP CCoOXRendererBMD::DeviceSet(eOXDeviceType, int nIndex, BSTR) {
    const HRESULT hr = cards_.Set(nIndex, PropsRoot());
    if (hr != S_OK) return hr;
    // What the card plays, in any of the layouts the renderer converts to.
    auto playable = std::make_shared<std::array<std::uint64_t, 2>>();
    {
        CRWSynchroLiteGuard lock(cards_.Lock(), LockMode::kRead);
        IDeckLinkOutput_v9_9* output = cards_.State().output;
        for (int base = 1; output && base < 64; ++base) {
            const BMDDisplayMode mode = orvex::decklink::DisplayModeFor(base);
            if (!mode) continue;
            for (int dual = 0; dual < 2; ++dual)
                for (BMDPixelFormat pixel :
                     {bmdFormat8BitYUV, bmdFormat10BitYUV, bmdFormat8BitBGRA}) {
                    BMDDisplayModeSupport support = bmdDisplayModeNotSupported;
                    if (SUCCEEDED(output->DoesSupportVideoMode(
                            mode, pixel, dual ? bmdVideoOutputDualStream3D : 0, &support,
                            nullptr)) &&
                        support == bmdDisplayModeSupported) {
                        (*playable)[static_cast<std::size_t>(dual)] |= 1ull << base;
                        break;
                    }
                }
        }
    }
    playable_.store(std::move(playable));
    return hr;
}

void CCoOXRendererBMD::FormatVideoListFill(eMFormatType type, std::vector<M_VID_PROPS>& list) {
    list = orvex::formats::StandardVideoList();
    const auto playable = playable_.load();
    if (type != eMFT_Output || !playable) return;
    std::erase_if(list, [&](const M_VID_PROPS& v) {
        const int base = v.eVideoFormat & 0xFF;
        if (v.eVideoFormat == eMVF_Disabled || base == 0 || base >= 64) return false;
        const bool dual = (v.eVideoFormat & orvex::decklink::kFull3DFlag) != 0;
        return ((*playable)[dual ? 1 : 0] & (1ull << base)) == 0;
    });
}

STDMETHODIMP CCoOXRendererBMD::DeviceGet(eOXDeviceType, int* pnIndex, BSTR* pbsName) {
    return cards_.Get(pnIndex, pbsName);
}

// The control panel named by "bmd.control_panel", else the driver's own in the programs
// folders (32-bit first).
STDMETHODIMP CCoOXRendererBMD::DeviceShowProps(eOXDeviceType, BSTR, LONGLONG) {
    CComBSTR path;
    int found = 0;
    std::vector<std::string> candidates;
    if (SUCCEEDED(
            PropsRoot()->AttributesGetOrDefault(CComBSTR(kControlPanelProperty), &found, &path)) &&
        found && path.Length() != 0) {
        candidates.push_back(orvex::com::ToUtf8(path.View()));
    }
    for (const std::string& folder : orvex::platform::ProgramFolders())
        candidates.push_back(folder +
                             "\\Blackmagic Design\\Blackmagic Desktop Video\\desktopcp.exe");
    for (const std::string& program : candidates) {
        if (orvex::platform::FileExists(program))
            return orvex::platform::LaunchDetached(program) ? S_OK : E_FAIL;
    }
    return E_FILE_NOT_FOUND;
}

STDMETHODIMP CCoOXRendererBMD::DeviceClose() {
    Flush(true, 3000);
    CloseOutput();
    return S_OK;
}

STDMETHODIMP CCoOXRendererBMD::DeviceGetInternal(eOXDeviceType, IUnknown** ppDevice) {
    return cards_.GetInternal(ppDevice);
}

HRESULT CCoOXRendererBMD::PropsOnSet(BSTR bsName, BSTR bsValue) {
    const std::u16string_view name = orvex::com::View(bsName);
    // Every write: the frame path's settings are few and read once here, not per frame.
    ReadFrameSettings();
    return cards_.OnPropertySet(PropsRoot(), name, orvex::com::View(bsValue));
}
