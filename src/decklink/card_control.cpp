#include "decklink/card_control.h"

#include "com/runtime.h"
#include "decklink/connectors.h"
#include "platform/text.h"

namespace orvex::decklink {
namespace {

using platform::CRWSynchroLiteGuard;
using platform::LockMode;

constexpr BMDDisplayMode kClaimMode = bmdModeHD1080i50;
constexpr char16_t kDriverLibrary[] = u"bmd.driver_library";

int KeyingLevel(IMNode* root) {
    int found = 0;
    CComBSTR text;
    if (FAILED(root->AttributesGetOrDefault(CComBSTR(u"keying-level"), &found, &text)) || !found)
        return 255;
    int level = 255;
    if (FAILED(root->AttributesGetInt(CComBSTR(u"keying-level"), &level))) return 255;
    return level;
}

std::u16string CurrentValue(IMNode* root, std::u16string_view name) {
    if (!root) return {};
    int found = 0;
    CComBSTR text;
    if (FAILED(root->AttributesGetOrDefault(CComBSTR(name), &found, &text)) || !found) return {};
    return std::u16string(text.View());
}

}  // namespace

CardControl::CardControl() = default;

CardControl::~CardControl() {
    Release();
}

void CardControl::ListCards(IMNode* root, IMNode* stat) {
    std::string driver;
    std::vector<Card> cards =
        ListOutputCards(com::ToUtf8(CurrentValue(root, kDriverLibrary)), &driver);
    if (stat) stat->AttributesSet(CComBSTR(u"bmd.driver"), CComBSTR(com::ToUtf16(driver)));
    CRWSynchroLiteGuard lock(lock_, LockMode::kWrite);
    cards_ = std::move(cards);
}

HRESULT CardControl::GetCount(int* count) {
    if (!count) return E_POINTER;
    CRWSynchroLiteGuard lock(lock_, LockMode::kRead);
    *count = static_cast<int>(cards_.size());
    return S_OK;
}

HRESULT CardControl::GetByIndex(int index, BSTR* name, BOOL* busy) {
    if (name) *name = nullptr;
    if (busy) *busy = 0;
    CComPtr<IDeckLink> device;
    {
        CRWSynchroLiteGuard lock(lock_, LockMode::kRead);
        if (index < 0 || static_cast<std::size_t>(index) >= cards_.size()) return E_INVALID_INDEX;
        const Card& card = cards_[static_cast<std::size_t>(index)];
        if (name && FAILED(CComBSTR(card.name).CopyTo(name))) return E_OUTOFMEMORY;
        if (card.device.p == state_.device.p) {
            if (busy) *busy = -1;
            return S_OK;
        }
        device = card.device;
    }
    // Asking the driver happens outside the lock: it may take a while.
    if (busy) *busy = IsBusy(device) ? 1 : 0;
    return S_OK;
}

HRESULT CardControl::Set(int index, IMNode* root) {
    CRWSynchroLiteGuard lock(lock_, LockMode::kWrite);
    if (index < 0 || static_cast<std::size_t>(index) >= cards_.size()) return E_INVALID_INDEX;
    const Card& card = cards_[static_cast<std::size_t>(index)];
    if (card.device.p == state_.device.p) return S_FALSE;
    if (IsBusy(card.device)) return E_BUSY;

    CloseOutputLocked();
    CComPtr<IDeckLinkOutput_v9_9> output;
    {
        CComPtr<IDeckLinkOutput> current;
        if (SUCCEEDED(card.device.QueryInterface(&current)) && current)
            output = current.p;
        else if (FAILED(card.device.QueryInterface(&output)))
            output.Release();
    }
    CComPtr<IDeckLinkKeyer> keyer;
    if (FAILED(card.device.QueryInterface(&keyer))) keyer.Release();
    // Each card answers for its own settings: the configuration is asked of the new card
    // every time, never kept from the card chosen before.
    CComPtr<IDeckLinkConfiguration> configuration;
    if (FAILED(card.device.QueryInterface(&configuration)) || !configuration) {
        configuration.Release();
        CComPtr<IDeckLinkConfiguration_v10_2> earlier;
        if (SUCCEEDED(card.device.QueryInterface(&earlier)) && earlier) configuration = earlier.p;
    }
    if (!output) return E_NOINTERFACE;
    // Claim the card before it becomes the choice: a card that refuses keeps the previous
    // state (nothing chosen), not a half-chosen card.
    HRESULT hr = output->EnableVideoOutput(kClaimMode, bmdVideoOutputFlagDefault);
    if (FAILED(hr)) {
        state_ = OutputState{};
        return hr;
    }
    state_ = OutputState{};
    state_.device = card.device;
    state_.output = output;
    state_.keyer = keyer;
    state_.configuration = configuration;
    state_.device_index = index;
    state_.state = kDeviceChosen;
    PublishConnectorOptions(root, card.device);
    return S_OK;
}

HRESULT CardControl::Get(int* index, BSTR* name) {
    if (index) *index = -1;
    if (name) *name = nullptr;
    CRWSynchroLiteGuard lock(lock_, LockMode::kRead);
    if (!state_.device) return S_FALSE;
    if (index) *index = state_.device_index;
    if (name &&
        FAILED(CComBSTR(cards_[static_cast<std::size_t>(state_.device_index)].name).CopyTo(name)))
        return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT CardControl::GetInternal(IUnknown** device) {
    if (!device) return E_POINTER;
    *device = nullptr;
    CRWSynchroLiteGuard lock(lock_, LockMode::kRead);
    if (!state_.device) return E_NO_DEVICE_OPEN;
    return state_.device->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(device));
}

void CardControl::CloseOutputLocked() {
    if (clock_) clock_->Attach(nullptr, nullptr, nullptr);
    if (IDeckLinkOutput_v9_9* output = state_.output) {
        output->DisableVideoOutput();
        output->SetVideoOutputFrameMemoryAllocator(nullptr);
        output->SetScheduledFrameCompletionCallback(nullptr);
        output->DisableAudioOutput();
        output->SetAudioCallback(nullptr);
    }
    state_.sd16x9 = false;
    state_.dual_stream_3d = false;
    state_.display_mode = kNoDisplayMode;
    if (state_.device) state_.state = kDeviceChosen;
}

void CardControl::Close() {
    CRWSynchroLiteGuard lock(lock_, LockMode::kWrite);
    CloseOutputLocked();
}

void CardControl::Release() {
    CRWSynchroLiteGuard lock(lock_, LockMode::kWrite);
    CloseOutputLocked();
    state_ = OutputState{};
}

void CardControl::ApplyKeying(IMNode* root, const ChosenOption& option) {
    ApplyOption(state_.device, state_.keyer, option, KeyingLevel(root));
    // The key's fill and key come in through the inputs the "line-in" option chose.
    if (auto line_in = FindOption(root, kLineIn, CurrentValue(root, kLineIn)))
        ApplyOption(state_.device, state_.keyer, *line_in, KeyingLevel(root));
}

void CardControl::ApplyConnectorsLocked(IMNode* root) {
    if (!root || !state_.output) return;
    if (auto line_out = FindOption(root, kLineOut, CurrentValue(root, kLineOut)))
        ApplyOption(state_.device, state_.keyer, *line_out, KeyingLevel(root));
    std::optional<ChosenOption> keying = FindOption(root, kKeying, CurrentValue(root, kKeying));
    if (keying && state_.keying_active && state_.keyer)
        ApplyKeying(root, *keying);
    else if (auto line_in = FindOption(root, kLineIn, CurrentValue(root, kLineIn));
             line_in && state_.keying_active)
        ApplyOption(state_.device, state_.keyer, *line_in, KeyingLevel(root));
}

HRESULT CardControl::OnPropertySet(IMNode* root, std::u16string_view name,
                                   std::u16string_view value) {
    std::u16string_view list;
    for (std::u16string_view known : {kLineOut, kLineIn, kKeying})
        if (platform::EqualsNoCase(name, known)) list = known;
    if (list.empty() || !root) return S_OK;
    CRWSynchroLiteGuard lock(lock_, LockMode::kWrite);
    if (!state_.output) return S_OK;
    std::optional<ChosenOption> option = FindOption(root, list, value);
    if (!option) return S_OK;  // not one of the card's options: nothing to tell the card
    if (option->keying_id >= 0 && state_.keyer) {
        state_.keying_active = true;
        if (state_.state != kOutputOpen || state_.pixel_format == bmdFormat8BitBGRA)
            ApplyKeying(root, *option);
        else
            CloseOutputLocked();  // the next frame reopens the output in BGRA
        return S_OK;
    }
    if (option->keying_id == -1 || !state_.keyer) state_.keying_active = false;
    if (list == kLineIn && !state_.keying_active) return S_OK;
    ApplyOption(state_.device, state_.keyer, *option, KeyingLevel(root));
    return S_OK;
}

}  // namespace orvex::decklink
