// Entry points of the virtual card library built in the vendor's Linux layout
// (libDeckLinkAPI.so): the exported functions that make the iterator, as the vendor's library
// exports them for each generation of its SDK. The card objects are the same as in the
// Windows-layout build; the layout bridge presents them, and the host's allocator, callbacks
// and frames come back through it.
#include "com/module_entry.h"
#include "decklink/api/layout_bridge.h"
#include "sim/decklink/objects.h"

namespace {

linux_layout::IDeckLinkIterator* NewIterator() {
    IDeckLinkIterator* iterator = nullptr;
    if (FAILED(orvex::sim::decklink::SimIterator::Create(nullptr, IID_IDeckLinkIterator,
                                                         reinterpret_cast<void**>(&iterator))))
        return nullptr;
    return orvex::decklink_layout::PresentAsLinux(iterator);
}

bool Attach(void*) {
    return true;
}
void Detach() {
    orvex::sim::decklink::DestroyRig();  // closes the recordings of cards nobody holds any more
}

}  // namespace

ORVEX_EXPORT linux_layout::IDeckLinkIterator* CreateDeckLinkIteratorInstance_0002() {
    return NewIterator();
}
ORVEX_EXPORT linux_layout::IDeckLinkIterator* CreateDeckLinkIteratorInstance_0003() {
    return NewIterator();
}
ORVEX_EXPORT linux_layout::IDeckLinkIterator* CreateDeckLinkIteratorInstance_0004() {
    return NewIterator();
}

ORVEX_MODULE_ENTRY(Attach, Detach)
