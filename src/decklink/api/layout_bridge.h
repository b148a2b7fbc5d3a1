// Presents DeckLink objects of one binary layout through the interfaces of the other: a
// Linux-layout driver's objects to code written against decklink_api.h, and our objects (or
// a Windows-layout driver's) to code that speaks the Linux layout (decklink_api_linux.h).
//
// Every object that crosses on the way (devices and their attributes, configuration, keyer
// and output, frames, ancillary data, timecodes, display modes, callbacks, the memory
// allocator) is presented in turn: strings are converted and freed by the rules of each
// layout, flags change width, failure codes are translated, and an object that goes back
// the way it came is handed back as itself, not wrapped twice. The wrappers are recycled, so
// the frame path allocates nothing once warm. Callbacks never let an exception escape.
//
// Each function takes over the caller's reference to `object` and returns one to the
// presented object; null when `object` is null, or when memory runs out (`object` is then
// released).
#pragma once

#include "decklink/api/decklink_api.h"
#include "decklink/api/decklink_api_linux.h"

namespace orvex::decklink_layout {

IDeckLinkIterator* PresentAsWindows(linux_layout::IDeckLinkIterator* object);
IDeckLinkVideoFrame* PresentAsWindows(linux_layout::IDeckLinkVideoFrame* object);

linux_layout::IDeckLinkIterator* PresentAsLinux(IDeckLinkIterator* object);
linux_layout::IDeckLinkVideoFrame* PresentAsLinux(IDeckLinkVideoFrame* object);
linux_layout::IDeckLinkMemoryAllocator* PresentAsLinux(IDeckLinkMemoryAllocator* object);
linux_layout::IDeckLinkVideoOutputCallback* PresentAsLinux(IDeckLinkVideoOutputCallback* object);
linux_layout::IDeckLinkAudioOutputCallback* PresentAsLinux(IDeckLinkAudioOutputCallback* object);

}  // namespace orvex::decklink_layout
