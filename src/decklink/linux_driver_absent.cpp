// Systems without the vendor's Linux driver library.
#include "decklink/linux_driver.h"

namespace orvex::decklink {

HRESULT CreateLinuxLayoutIterator(const std::string&, IDeckLinkIterator** iterator,
                                  std::string* description) {
    if (!iterator || !description) return E_POINTER;
    *iterator = nullptr;
    description->clear();  // not a way this system offers
    return E_NOTIMPL;
}

}  // namespace orvex::decklink
