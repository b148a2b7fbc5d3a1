#include "decklink/cards.h"

#include "com/runtime.h"
#include "decklink/driver.h"

namespace orvex::decklink {

std::u16string UniqueName(const std::u16string& model, const std::vector<Card>& taken) {
    auto used = [&](const std::u16string& name) {
        for (const Card& card : taken)
            if (card.name == name) return true;
        return false;
    };
    std::u16string name = model;
    for (int n = 2; used(name); ++n) name = model + u" (" + com::ToUtf16(std::to_string(n)) + u")";
    return name;
}

std::vector<Card> ListOutputCards() {
    std::vector<Card> cards;
    CComPtr<IDeckLinkIterator> iterator;
    if (FAILED(CreateDeckLinkIterator(&iterator)) || !iterator) return cards;
    for (;;) {
        CComPtr<IDeckLink> device;
        if (iterator->Next(&device) != S_OK || !device) break;
        CComBSTR model;
        if (FAILED(device->GetModelName(&model))) model.Empty();
        CComPtr<IDeckLinkAttributes> attributes;
        if (FAILED(device.QueryInterface(&attributes)) || !attributes) continue;
        LONGLONG outputs = 0;
        if (FAILED(attributes->GetInt(BMDDeckLinkVideoOutputConnections, &outputs)) || outputs == 0)
            continue;
        std::u16string name = UniqueName(std::u16string(model.View()), cards);
        cards.push_back(Card{device, std::move(name)});
    }
    return cards;
}

bool IsBusy(IDeckLink* device) {
    if (!device) return true;
    CComPtr<IDeckLinkAttributes> attributes;
    if (FAILED(device->QueryInterface(&attributes)) || !attributes) return true;
    BOOL full_duplex = FALSE;
    if (FAILED(attributes->GetFlag(BMDDeckLinkSupportsFullDuplex, &full_duplex)))
        full_duplex = FALSE;
    LONGLONG state = 0;
    if (FAILED(attributes->GetInt(BMDDeckLinkDeviceBusyState, &state))) state = 0;
    if (state & bmdDevicePlaybackBusy) return true;
    return (state & bmdDeviceCaptureBusy) && !full_duplex;
}

}  // namespace orvex::decklink
