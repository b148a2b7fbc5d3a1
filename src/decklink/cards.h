// The DeckLink cards a renderer can play to, and whether one is busy.
#pragma once

#include <string>
#include <vector>

#include "com/ptr.h"
#include "decklink/api/decklink_api.h"

namespace orvex::decklink {

struct Card {
    CComPtr<IDeckLink> device;
    std::u16string name;  // unique within the list
};

// The cards with output connections, in the driver's order (driver.h finds the driver, with
// `library_setting` the value of "bmd.driver_library"). Cards without attributes are
// skipped; the second card of a model is named "<model> (2)", the third "<model> (3)", and
// so on. An unreachable driver gives an empty list. `driver` names the driver, and when the
// list is empty says why.
std::vector<Card> ListOutputCards(const std::string& library_setting, std::string* driver);

// Names `model` so that it differs from every name in `taken`.
std::u16string UniqueName(const std::u16string& model, const std::vector<Card>& taken);

// A card is busy when another program plays through it, or captures through it while it
// cannot play at the same time. A card that cannot say counts as busy.
bool IsBusy(IDeckLink* device);

}  // namespace orvex::decklink
