// The DeckLink renderer: chooses a card, publishes its connectors and keying modes, and plays
// the frames it is given on it.
//
// The frame path (output.cpp): ProcessFrame on the queue's worker opens the output on the
// first frame and reopens it on a change of format, brings each picture into the card's
// layout (zero copy when it already is), and hands it to the frame clock (frame_clock.h).
// Locks: see card_control.h; the frame clock's lock comes after the output lock, the
// allocator's lock is a leaf.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "backend/renderer_backend.h"
#include "decklink/captions.h"
#include "decklink/card_control.h"
#include "decklink/frame_allocator.h"
#include "decklink/frame_clock.h"
#include "decklink/scaler.h"
#include "decklink/stats.h"
#include "pipeline/time_corrector.h"

class CCoOXRendererBMD : public CRendererBackend<CCoOXRendererBMD> {
public:
    HRESULT FinalConstruct();
    void FinalRelease();

    // IOXDevice
    STDMETHOD(DeviceGetCount)(eOXDeviceType, int* pnCount) override;
    STDMETHOD(DeviceGetByIndex)(eOXDeviceType, int nIndex, BSTR* pbsName, BOOL* pbBusy) override;
    STDMETHOD(DeviceSet)(eOXDeviceType, int nIndex, BSTR bsParams) override;
    STDMETHOD(DeviceGet)(eOXDeviceType, int* pnIndex, BSTR* pbsName) override;
    STDMETHOD(DeviceShowProps)(eOXDeviceType, BSTR bsPropsType, LONGLONG hWnd) override;
    STDMETHOD(DeviceOpen)(BSTR, BSTR) override { return E_NOTIMPL; }
    STDMETHOD(DeviceClose)() override;
    STDMETHOD(DeviceGetInternal)(eOXDeviceType, IUnknown** ppDevice) override;

    // The property hook: choosing a connector or keying option tells the card.
    HRESULT PropsOnSet(BSTR bsName, BSTR bsValue);

    // The queue's frame handler (worker thread, or the host's with "input.buffers" 0).
    HRESULT ProcessFrame(IMFrame_I* frame);

protected:
    // The output formats offered are those the chosen card plays (all of them before a card
    // is chosen).
    void FormatVideoListFill(eMFormatType type, std::vector<M_VID_PROPS>& list) override;

public:
    // The program DeviceShowProps starts: the path in this property.
    static constexpr const char16_t* kControlPanelProperty = u"bmd.control_panel";

    // For tests and benchmarks in this process.
    struct OutputInfo {
        int state = 0;
        BMDDisplayMode mode = 0;
        BMDPixelFormat pixel_format = 0;
        bool dual_stream_3d = false;
        int audio_bits = 0, audio_channels = 0;
    };
    OutputInfo CurrentOutput();
    orvex::decklink::MDecklinkDirectOut* FrameClock() { return directOut_; }
    orvex::decklink::FrameAllocator* Allocator() { return allocator_; }
    orvex::decklink::DeckLinkOutputCallback* Callbacks() { return callbacks_; }

private:
    HRESULT OpenOutput(bool live, const M_AV_PROPS* requested);
    HRESULT OpenOutputLocked(bool live, const M_AV_PROPS* requested);
    void CloseOutput();
    // *shown tells whether the frame went to the card.
    HRESULT ConvertAndOutputFrame(const M_VID_PROPS* frameVideo, const M_TIME* inputTime,
                                  IMFrame_I* frame, bool* shown);
    // What the output is, as properties a host reads: "output.state" ("open", "closed",
    // "failed"), "output.mode", "output.pixel_format", "output.audio" (what the card opened,
    // which a fallback may make differ from what the frames asked for) and "output.error"
    // (the last open's HRESULT and reason; empty after a success). Output lock held.
    void PublishOutputLocked(const char16_t* state, HRESULT error, const std::u16string& reason);
    HRESULT CreateCardFrame(IDeckLinkOutput_v9_9* output, int width, int height, int rowBytes,
                            BMDPixelFormat format, IDeckLinkMutableVideoFrame** out);
    void WriteDefaults();
    void ReadFrameSettings();
    void CountStat(const char16_t* name, std::int64_t* counter);

    orvex::decklink::CardControl cards_;
    orvex::decklink::FrameAllocator* allocator_ = nullptr;          // own reference
    orvex::decklink::DeckLinkOutputCallback* callbacks_ = nullptr;  // own reference
    orvex::decklink::MDecklinkDirectOut* directOut_ = nullptr;      // own reference
    CComPtr<IMNode> statNode_;

    // Guarded by the output lock (written under its write side, read under its read side by
    // the one frame path).
    CMTimeCorrector inputClock_;
    int audioBits_ = 16;
    int audioChannels_ = 16;

    // Frame path only (one thread at a time: the queue's worker).
    orvex::decklink::ScalingConverter scaler_;
    orvex::decklink::FrameDataWriter captions_;
    std::vector<std::uint8_t> twoStep_;  // 8-bit 4:2:2 before v210
    std::int64_t noBuffer_ = 0;
    bool priorityRaised_ = false;

    // The formats the chosen card plays: bit f (f < 64) of [0] for base format f, of [1] for
    // its full-frame 3D variants. Read by the format list without the output lock (the format
    // lock comes after it).
    std::atomic<std::shared_ptr<const std::array<std::uint64_t, 2>>> playable_;

    // Settings the frame path reads on every frame, refreshed at open and when written.
    std::atomic<bool> noCopy_{true};
    std::atomic<int> scaling_{0};  // method | field-wise << 8 | automatic << 9
    // Timecode and caption settings, replaced whole when one of them is written.
    std::atomic<std::shared_ptr<const orvex::decklink::CaptionSettings>> captionSettings_;
};
