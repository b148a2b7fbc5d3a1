// The vendor's Linux driver: a shared library found through the library search path (or
// named by path), whose exported CreateDeckLinkIteratorInstance_000N functions make the
// iterator, and whose objects have the Linux binary layout. Its iterator is presented
// through the interfaces of decklink_api.h (api/layout_bridge.h), so the backend drives
// either kind of driver with the same code. Only Linux builds reach such a library; on other
// systems the call fails with an empty description.
#pragma once

#include <string>

#include "decklink/api/decklink_api.h"

namespace orvex::decklink {

// The name the vendor's library is loaded by.
inline constexpr char kLinuxDriverLibrary[] = "libDeckLinkAPI.so";

// An iterator from `library` (a file name looked up on the library search path, or a path),
// through the newest entry point it exports (0004, then 0003, then 0002). On success
// `description` names the file and the entry point; on failure *iterator stays null and
// `description` says why. A library that loaded stays loaded for the life of the process; a
// failed load is tried again on the next call.
HRESULT CreateLinuxLayoutIterator(const std::string& library, IDeckLinkIterator** iterator,
                                  std::string* description);

}  // namespace orvex::decklink
