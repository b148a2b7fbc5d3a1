// Reaching the DeckLink driver, in this order:
//   1. the driver registered the Windows way: the default value of
//      HKEY_CLASSES_ROOT\CLSID\{1F2E109A-...}\InprocServer32 names its library, whose
//      DllGetClassObject makes the iterator (on Windows, and on Linux for drivers registered
//      in the registry stand-in, such as the virtual card);
//   2. when none is registered, or the registered one does not load, the vendor's Linux
//      library (linux_driver.h): the file named by the environment variable
//      ORVEX_DECKLINK_LIBRARY, else by the setting "bmd.driver_library", else
//      libDeckLinkAPI.so on the library search path.
// The choice is made again on every call; a library once loaded stays loaded for the life of
// the process. No COM activation is involved, so a host need not initialise COM on the
// thread that creates a renderer.
#pragma once

#include <string>

#include "com/ptr.h"
#include "decklink/api/decklink_api.h"

namespace orvex::decklink {

inline constexpr char kDriverLibraryVariable[] = "ORVEX_DECKLINK_LIBRARY";

// A new iterator over the driver's cards. `library_setting` is the setting's value (empty:
// not set). On success `description` names the driver; on failure *iterator is null and
// `description` gives the reason of each way tried.
HRESULT CreateDeckLinkIterator(IDeckLinkIterator** iterator, const std::string& library_setting,
                               std::string* description);

}  // namespace orvex::decklink
