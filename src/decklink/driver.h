// Reaching the DeckLink driver. The driver's iterator class is found the way the driver
// registers it: the default value of HKEY_CLASSES_ROOT\CLSID\{1F2E109A-...}\InprocServer32
// names its library, which is loaded once and kept for the life of the process, and whose
// DllGetClassObject makes the iterator. No COM activation is involved, so a host need not
// initialise COM on the thread that creates a renderer.
#pragma once

#include "com/ptr.h"
#include "decklink/api/decklink_api.h"

namespace orvex::decklink {

// A new iterator over the driver's cards. Fails (and leaves *iterator null) when the class
// is not registered, its library is missing or does not load, lacks DllGetClassObject, or
// refuses the class. A failed load is tried again on the next call; a loaded library stays.
HRESULT CreateDeckLinkIterator(IDeckLinkIterator** iterator);

}  // namespace orvex::decklink
