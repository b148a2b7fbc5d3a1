// How the DeckLink output runs, as figures a host reads through IOXProps: the card's buffer
// levels and clocks, the frame clock's counters and times in the node "stat", the reference
// state, and the quality figures updated by the driver's completion callbacks.
#pragma once

#include <cstdint>
#include <mutex>
#include <string_view>

#include "com/object.h"
#include "com/ptr.h"
#include "decklink/api/decklink_api.h"
#include "orvex/interfaces.h"

namespace orvex::decklink {

// Times in 100-ns units.
struct DeckLinkBufferStats {
    std::uint32_t videoFrames = 0;
    std::uint32_t audioSamples = 0;
    std::int64_t videoTime = 0;  // videoFrames * ticksPerFrame - timeInFrame
    std::int64_t audioTime = 0;  // audioSamples at 48 kHz
    std::int64_t streamTime = 0;
    std::int64_t hardwareTime = 0;
    std::int64_t timeInFrame = 0;
    std::int64_t ticksPerFrame = 0;
};

// Reads the card's figures. E_POINTER for a null output or record; otherwise the result of the
// last call. The record is all zero when any call fails.
HRESULT ReadHardwareStats(IDeckLinkOutput_v9_9* output, DeckLinkBufferStats* stats);

// "locked", "not-supported" or "none".
std::u16string_view ReferenceStatusText(BMDReferenceStatus status);

// The frame clock's time figures of one frame, into its statistics node `stat`: "bmd.stream_time"
// (s, hardware time since the stream started), "bmd.input_time" (s, the frame's corrected
// start), "bmd.stream_offset" (ms, input less stream time) and "bmd.hw_time_sync" (ms, hardware
// less local clock). Times in 100-ns units.
void WriteStreamTimes(IMNode* stat, std::int64_t hardware_time, std::int64_t stream_start,
                      std::int64_t input_time, std::int64_t local_time);

// The quality figures of one completed frame, added to the root's "quality::" figures.
// Serialised by the caller (the read and write of each counter are one step).
void AddQualityFigures(IMNode* root, BMDOutputFrameCompletionResult result,
                       const DeckLinkBufferStats& stats);

// The renderer's completion callbacks for the driver. They read the output set with
// SetOutput (which may change from any thread) and write into the renderer's tree; they never
// throw into the driver. Lock order: the renderer's output lock (SetOutput is called under
// it), then `lock_`, then the tree's node locks. `lock_` is held while the driver's figures are
// read and written, never while waiting for another thread.
class DeckLinkOutputCallback : public CComObjectRootEx<CComMultiThreadModel>,
                               public IDeckLinkVideoOutputCallback,
                               public IDeckLinkAudioOutputCallback {
public:
    BEGIN_COM_MAP(DeckLinkOutputCallback)
    COM_INTERFACE_ENTRY(IDeckLinkVideoOutputCallback)
    COM_INTERFACE_ENTRY(IDeckLinkAudioOutputCallback)
    END_COM_MAP()

    // `root` is the renderer's tree (held); a null output stops the updates.
    void SetOutput(IDeckLinkOutput_v9_9* output, IMNode* root);

    STDMETHOD(ScheduledFrameCompleted)
    (IDeckLinkVideoFrame* frame, BMDOutputFrameCompletionResult result) override;
    STDMETHOD(ScheduledPlaybackHasStopped)() override { return S_OK; }
    STDMETHOD(RenderAudioSamples)(BOOL preroll) override;

    // The figures of the last RenderAudioSamples call.
    DeckLinkBufferStats LastAudioStats();

private:
    std::mutex lock_;  // guards the members; held while the figures are written
    CComPtr<IDeckLinkOutput_v9_9> output_;
    CComPtr<IMNode> root_;
    DeckLinkBufferStats last_audio_{};
};

}  // namespace orvex::decklink
