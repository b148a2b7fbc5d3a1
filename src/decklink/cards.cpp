#include "decklink/cards.h"

#include <cstdio>

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

std::vector<Card> ListOutputCards(const std::string& library_setting, std::string* driver) {
    std::vector<Card> cards;
    CComPtr<IDeckLinkIterator> iterator;
    if (FAILED(CreateDeckLinkIterator(&iterator, library_setting, driver)) || !iterator)
        return cards;
    HRESULT end = S_OK;
    int devices = 0, unknown = 0;
    // A machine holds a handful of cards: a driver that lists more does not end its list.
    constexpr int kMostDevices = 256;
    for (;;) {
        CComPtr<IDeckLink> device;
        if (devices == kMostDevices) {
            *driver += "; its list did not end after 256 cards";
            break;
        }
        if ((end = iterator->Next(&device)) != S_OK || !device) break;
        ++devices;
        CComBSTR model;
        if (FAILED(device->GetModelName(&model))) model.Empty();
        CComPtr<IDeckLinkAttributes> attributes;
        if (FAILED(device.QueryInterface(&attributes)) || !attributes) {
            ++unknown;
            continue;
        }
        LONGLONG outputs = 0;
        if (FAILED(attributes->GetInt(BMDDeckLinkVideoOutputConnections, &outputs)) || outputs == 0)
            continue;
        std::u16string name = UniqueName(std::u16string(model.View()), cards);
        cards.push_back(Card{device, std::move(name)});
    }
    if (cards.empty()) {
        char why[96];
        if (FAILED(end))
            std::snprintf(why, sizeof why, "; listing its cards failed: 0x%08X",
                          static_cast<unsigned>(end));
        else if (devices == 0)
            std::snprintf(why, sizeof why, "; it lists no cards");
        else if (unknown > 0)
            std::snprintf(why, sizeof why, "; %d of its %d cards answer no known interface",
                          unknown, devices);
        else
            std::snprintf(why, sizeof why, "; none of its %d cards has video outputs", devices);
        *driver += why;
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
