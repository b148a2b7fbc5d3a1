// The bridges of the small objects: iterator, frames, ancillary data, timecode, display
// modes, and the host's memory allocator and callbacks. For layout_bridge.cpp only.
#pragma once

#include "decklink/api/layout_bridge_base.h"

namespace orvex::decklink_layout {

template <class D>
class IteratorBridge final : public Simple<D, IteratorPair, IteratorBridge<D>> {
public:
    HRESULT Next(OuterOf<D, DevicePair>** device) override {
        OutObject<D, DevicePair> out(device);
        return Done<D>(this->inner_->Next(out), out);
    }
};

// One frame in either revision, with its 3D extensions when the frame has them.
template <class D>
class FrameBridge final
    : public Bridged<D, FrameBridge<D>, OuterOf<D, MutableFramePair>, OuterOf<D, Frame3DPair>> {
    using Frame = InnerOf<D, FramePair>;
    using Mutable = InnerOf<D, MutableFramePair>;

public:
    void Start(Frame* inner) {
        frame_ = inner;
        this->Begin();
    }
    void Start(Mutable* inner) {
        inner->AddRef();
        mutable_.store(inner, std::memory_order_release);
        Start(static_cast<Frame*>(inner));
    }
    void Clear() {
        ReleaseSlot(mutable_);
        ReleaseSlot(extensions_);
        if (Frame* frame = frame_) {
            frame_ = nullptr;
            frame->Release();
        }
    }
    HRESULT Query(const GUID& iid, void** out) {
        if (iid == IID_IUnknown || iid == IID_IDeckLinkVideoFrame)
            return Give(static_cast<OuterOf<D, FramePair>*>(this), out);
        if (iid == IID_IDeckLinkMutableVideoFrame &&
            AcquireOnce<D, MutableFramePair>(mutable_, frame_))
            return Give(static_cast<OuterOf<D, MutableFramePair>*>(this), out);
        if (iid == IID_IDeckLinkVideoFrame3DExtensions &&
            AcquireOnce<D, Frame3DPair>(extensions_, frame_))
            return Give(static_cast<OuterOf<D, Frame3DPair>*>(this), out);
        return D::kNoInterface;
    }
    void* Behind(const GUID& pair, const void* direction) override {
        if (direction != &D::kTag) return nullptr;
        if (pair == FramePair::kIid) return frame_;
        if (pair == MutableFramePair::kIid) return mutable_.load(std::memory_order_acquire);
        if (pair == Frame3DPair::kIid) return extensions_.load(std::memory_order_acquire);
        return nullptr;
    }

    // The frame.
    typename D::OuterLong GetWidth() override {
        return static_cast<typename D::OuterLong>(frame_->GetWidth());
    }
    typename D::OuterLong GetHeight() override {
        return static_cast<typename D::OuterLong>(frame_->GetHeight());
    }
    typename D::OuterLong GetRowBytes() override {
        return static_cast<typename D::OuterLong>(frame_->GetRowBytes());
    }
    BMDPixelFormat GetPixelFormat() override { return frame_->GetPixelFormat(); }
    BMDFrameFlags GetFlags() override { return frame_->GetFlags(); }
    HRESULT GetBytes(void** buffer) override { return D::Result(frame_->GetBytes(buffer)); }
    HRESULT GetTimecode(BMDTimecodeFormat format, OuterOf<D, TimecodePair>** timecode) override {
        OutObject<D, TimecodePair> out(timecode);
        return Done<D>(frame_->GetTimecode(format, out), out);
    }
    HRESULT GetAncillaryData(OuterOf<D, AncillaryPair>** ancillary) override {
        OutObject<D, AncillaryPair> out(ancillary);
        return Done<D>(frame_->GetAncillaryData(out), out);
    }

    // The mutable frame: reached only through the interface, which Query gave only with the
    // frame's own.
    HRESULT SetFlags(BMDFrameFlags flags) override {
        return D::Result(Writable()->SetFlags(flags));
    }
    HRESULT SetTimecode(BMDTimecodeFormat format, OuterOf<D, TimecodePair>* timecode) override {
        InObject<D, TimecodePair> in(timecode);
        if (in.failed()) return D::kOutOfMemory;
        return D::Result(Writable()->SetTimecode(format, in));
    }
    HRESULT SetTimecodeFromComponents(BMDTimecodeFormat format, unsigned char hours,
                                      unsigned char minutes, unsigned char seconds,
                                      unsigned char frames, BMDTimecodeFlags flags) override {
        return D::Result(
            Writable()->SetTimecodeFromComponents(format, hours, minutes, seconds, frames, flags));
    }
    HRESULT SetAncillaryData(OuterOf<D, AncillaryPair>* ancillary) override {
        InObject<D, AncillaryPair> in(ancillary);
        if (in.failed()) return D::kOutOfMemory;
        return D::Result(Writable()->SetAncillaryData(in));
    }
    HRESULT SetTimecodeUserBits(BMDTimecodeFormat format, BMDTimecodeUserBits bits) override {
        return D::Result(Writable()->SetTimecodeUserBits(format, bits));
    }

    // The 3D extensions, likewise.
    BMDVideo3DPackingFormat Get3DPackingFormat() override {
        return extensions_.load(std::memory_order_acquire)->Get3DPackingFormat();
    }
    HRESULT GetFrameForRightEye(OuterOf<D, FramePair>** right) override {
        OutObject<D, FramePair> out(right);
        return Done<D>(extensions_.load(std::memory_order_acquire)->GetFrameForRightEye(out), out);
    }

private:
    Mutable* Writable() { return mutable_.load(std::memory_order_acquire); }

    Frame* frame_ = nullptr;
    std::atomic<Mutable*> mutable_{nullptr};
    std::atomic<InnerOf<D, Frame3DPair>*> extensions_{nullptr};
};

template <class D>
class AncillaryBridge final : public Simple<D, AncillaryPair, AncillaryBridge<D>> {
public:
    HRESULT GetBufferForVerticalBlankingLine(unsigned int line, void** buffer) override {
        return D::Result(this->inner_->GetBufferForVerticalBlankingLine(line, buffer));
    }
    BMDPixelFormat GetPixelFormat() override { return this->inner_->GetPixelFormat(); }
    BMDDisplayMode GetDisplayMode() override { return this->inner_->GetDisplayMode(); }
};

template <class D>
class TimecodeBridge final : public Simple<D, TimecodePair, TimecodeBridge<D>> {
public:
    BMDTimecodeBCD GetBCD() override { return this->inner_->GetBCD(); }
    HRESULT GetComponents(unsigned char* hours, unsigned char* minutes, unsigned char* seconds,
                          unsigned char* frames) override {
        return D::Result(this->inner_->GetComponents(hours, minutes, seconds, frames));
    }
    HRESULT GetString(typename D::OuterText* timecode) override {
        OutText<D> out(timecode);
        return Done<D>(this->inner_->GetString(out), out);
    }
    BMDTimecodeFlags GetFlags() override { return this->inner_->GetFlags(); }
    HRESULT GetTimecodeUserBits(BMDTimecodeUserBits* bits) override {
        return D::Result(this->inner_->GetTimecodeUserBits(bits));
    }
};

template <class D>
class DisplayModeBridge final : public Simple<D, DisplayModePair, DisplayModeBridge<D>> {
public:
    HRESULT GetName(typename D::OuterText* name) override {
        OutText<D> out(name);
        return Done<D>(this->inner_->GetName(out), out);
    }
    BMDDisplayMode GetDisplayMode() override { return this->inner_->GetDisplayMode(); }
    typename D::OuterLong GetWidth() override {
        return static_cast<typename D::OuterLong>(this->inner_->GetWidth());
    }
    typename D::OuterLong GetHeight() override {
        return static_cast<typename D::OuterLong>(this->inner_->GetHeight());
    }
    HRESULT GetFrameRate(BMDTimeValue* duration, BMDTimeScale* scale) override {
        return D::Result(this->inner_->GetFrameRate(duration, scale));
    }
    BMDFieldDominance GetFieldDominance() override { return this->inner_->GetFieldDominance(); }
    BMDDisplayModeFlags GetFlags() override { return this->inner_->GetFlags(); }
};

template <class D>
class DisplayModeIteratorBridge final
    : public Simple<D, DisplayModeIteratorPair, DisplayModeIteratorBridge<D>> {
public:
    HRESULT Next(OuterOf<D, DisplayModePair>** mode) override {
        OutObject<D, DisplayModePair> out(mode);
        return Done<D>(this->inner_->Next(out), out);
    }
};

// The host's objects, called on the driver's threads.

template <class D>
class AllocatorBridge final : public Simple<D, AllocatorPair, AllocatorBridge<D>> {
public:
    HRESULT AllocateBuffer(unsigned int size, void** buffer) override {
        return D::Result(this->inner_->AllocateBuffer(size, buffer));
    }
    HRESULT ReleaseBuffer(void* buffer) override {
        return D::Result(this->inner_->ReleaseBuffer(buffer));
    }
    HRESULT Commit() override { return D::Result(this->inner_->Commit()); }
    HRESULT Decommit() override { return D::Result(this->inner_->Decommit()); }
};

template <class D>
class VideoCallbackBridge final : public Simple<D, VideoCallbackPair, VideoCallbackBridge<D>> {
public:
    HRESULT ScheduledFrameCompleted(OuterOf<D, FramePair>* frame,
                                    BMDOutputFrameCompletionResult result) override {
        InObject<D, FramePair> in(frame);
        if (in.failed()) return D::kOutOfMemory;
        return D::Result(this->inner_->ScheduledFrameCompleted(in, result));
    }
    HRESULT ScheduledPlaybackHasStopped() override {
        return D::Result(this->inner_->ScheduledPlaybackHasStopped());
    }
};

template <class D>
class AudioCallbackBridge final : public Simple<D, AudioCallbackPair, AudioCallbackBridge<D>> {
public:
    HRESULT RenderAudioSamples(typename D::OuterBool preroll) override {
        return D::Result(this->inner_->RenderAudioSamples(D::InnerBoolOf(preroll)));
    }
};

}  // namespace orvex::decklink_layout
