// What the renderer gives the card to call back: frame completion and the audio callback.
// A separate object, so that a driver that keeps it past the renderer's life holds only
// this small object. Neither callback lets an exception reach the driver.
#pragma once

#include "com/object.h"
#include "decklink/api/decklink_api.h"

namespace orvex::decklink {

class CardCallbacks : public CComObjectRootEx<CComMultiThreadModel>,
                      public IDeckLinkVideoOutputCallback,
                      public IDeckLinkAudioOutputCallback {
public:
    BEGIN_COM_MAP(CardCallbacks)
    COM_INTERFACE_ENTRY(IDeckLinkVideoOutputCallback)
    COM_INTERFACE_ENTRY(IDeckLinkAudioOutputCallback)
    END_COM_MAP()

    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}

    // Frames are shown synchronously: completion carries nothing the frame path needs.
    STDMETHOD(ScheduledFrameCompleted)
    (IDeckLinkVideoFrame*, BMDOutputFrameCompletionResult) override { return S_OK; }
    STDMETHOD(ScheduledPlaybackHasStopped)() override { return S_OK; }
    // Audio is written with each frame, never on the card's request.
    STDMETHOD(RenderAudioSamples)(BOOL) override { return S_OK; }
};

}  // namespace orvex::decklink
