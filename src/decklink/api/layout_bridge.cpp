#include "decklink/api/layout_bridge.h"

#include "decklink/api/layout_bridge_device.h"

namespace orvex::decklink_layout {

IDeckLinkIterator* PresentAsWindows(lx::IDeckLinkIterator* object) {
    return TakeOut<ToWindows, IteratorPair>(object);
}
IDeckLinkVideoFrame* PresentAsWindows(lx::IDeckLinkVideoFrame* object) {
    return TakeOut<ToWindows, FramePair>(object);
}

lx::IDeckLinkIterator* PresentAsLinux(IDeckLinkIterator* object) {
    return TakeOut<ToLinux, IteratorPair>(object);
}
lx::IDeckLinkVideoFrame* PresentAsLinux(IDeckLinkVideoFrame* object) {
    return TakeOut<ToLinux, FramePair>(object);
}
lx::IDeckLinkMemoryAllocator* PresentAsLinux(IDeckLinkMemoryAllocator* object) {
    return TakeOut<ToLinux, AllocatorPair>(object);
}
lx::IDeckLinkVideoOutputCallback* PresentAsLinux(IDeckLinkVideoOutputCallback* object) {
    return TakeOut<ToLinux, VideoCallbackPair>(object);
}
lx::IDeckLinkAudioOutputCallback* PresentAsLinux(IDeckLinkAudioOutputCallback* object) {
    return TakeOut<ToLinux, AudioCallbackPair>(object);
}

}  // namespace orvex::decklink_layout
