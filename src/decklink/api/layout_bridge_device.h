// The bridge of a device: one object, so that every interface asked of it answers with the
// same identity, as the device it presents does. The attributes, the two configuration
// revisions and the output share method names with each other, so each is a part of its own
// that counts on the device. The device's interfaces are asked of the inner device when
// first wanted and kept. For layout_bridge.cpp only.
#pragma once

#include "decklink/api/layout_bridge_objects.h"

namespace orvex::decklink_layout {

// A part of an object: its IUnknown is the owner's.
template <class D, class Owner, class... Outers>
class Part : public Outers... {
public:
    explicit Part(Owner* owner) : owner_(owner) {}
    HRESULT QueryInterface(typename D::OuterIid iid, void** out) override {
        return owner_->QueryImpl(D::Guid(iid), out);
    }
    typename D::OuterCount AddRef() override { return owner_->AddRefImpl(); }
    typename D::OuterCount Release() override { return owner_->ReleaseImpl(); }

protected:
    Owner* owner_;
};

// The interfaces one output part answers: both output revisions. In the Windows layout the
// current one derives from the earlier one; in the Linux layout they are siblings.
template <class D, class Owner>
struct OutputPartBase;
template <class Owner>
struct OutputPartBase<ToWindows, Owner> : Part<ToWindows, Owner, IDeckLinkOutput> {
    using Part<ToWindows, Owner, IDeckLinkOutput>::Part;
};
template <class Owner>
struct OutputPartBase<ToLinux, Owner>
    : Part<ToLinux, Owner, lx::IDeckLinkOutput, lx::IDeckLinkOutput_v9_9> {
    using Part<ToLinux, Owner, lx::IDeckLinkOutput, lx::IDeckLinkOutput_v9_9>::Part;
};

template <class D>
class DeviceBridge final
    : public Bridged<D, DeviceBridge<D>, OuterOf<D, DevicePair>, OuterOf<D, KeyerPair>> {
    template <class P>
    using Slot = std::atomic<InnerOf<D, P>*>;
    using Common = InnerOf<D, OutputCommonPair>;

public:
    DeviceBridge()
        : attributes_part_(this),
          configuration_part_(this),
          earlier_part_(this, true),
          output_part_(this) {}

    void Start(InnerOf<D, DevicePair>* inner) {
        device_ = inner;
        this->Begin();
    }
    void Clear() {
        ReleaseSlot(attributes_);
        ReleaseSlot(configuration_);
        ReleaseSlot(earlier_configuration_);
        ReleaseSlot(keyer_);
        ReleaseSlot(output_);
        ReleaseSlot(earlier_output_);
        if (InnerOf<D, DevicePair>* device = device_) {
            device_ = nullptr;
            device->Release();
        }
    }
    HRESULT Query(const GUID& iid, void** out) {
        if (iid == IID_IUnknown || iid == IID_IDeckLink)
            return Give(static_cast<OuterOf<D, DevicePair>*>(this), out);
        if (iid == IID_IDeckLinkAttributes && Acquire<AttributesPair>(attributes_))
            return Give(static_cast<OuterOf<D, AttributesPair>*>(&attributes_part_), out);
        if (iid == IID_IDeckLinkConfiguration && Acquire<ConfigurationPair>(configuration_))
            return Give(static_cast<OuterOf<D, ConfigurationPair>*>(&configuration_part_), out);
        if (iid == IID_IDeckLinkConfiguration_v10_2 &&
            Acquire<Configuration102Pair>(earlier_configuration_))
            return Give(static_cast<OuterOf<D, Configuration102Pair>*>(&earlier_part_), out);
        if (iid == IID_IDeckLinkKeyer && Acquire<KeyerPair>(keyer_))
            return Give(static_cast<OuterOf<D, KeyerPair>*>(this), out);
        if (iid == IID_IDeckLinkOutput && Acquire<OutputPair>(output_))
            return Give(static_cast<OuterOf<D, OutputPair>*>(&output_part_), out);
        // Slots 3-29 are the same in both revisions: either serves the earlier one.
        if (iid == IID_IDeckLinkOutput_v9_9 &&
            (Acquire<Output99Pair>(earlier_output_) || Acquire<OutputPair>(output_)))
            return Give(static_cast<OuterOf<D, Output99Pair>*>(&output_part_), out);
        return D::kNoInterface;
    }
    void* Behind(const GUID& pair, const void* direction) override {
        return direction == &D::kTag && pair == DevicePair::kIid ? device_ : nullptr;
    }

    // IDeckLink
    HRESULT GetModelName(typename D::OuterText* name) override {
        OutText<D> out(name);
        return Done<D>(device_->GetModelName(out), out);
    }
    HRESULT GetDisplayName(typename D::OuterText* name) override {
        OutText<D> out(name);
        return Done<D>(device_->GetDisplayName(out), out);
    }

    // IDeckLinkKeyer (given out only once the inner keyer is known)
    HRESULT Enable(typename D::OuterBool external) override {
        return D::Result(Keyer()->Enable(D::InnerBoolOf(external)));
    }
    HRESULT SetLevel(unsigned char level) override { return D::Result(Keyer()->SetLevel(level)); }
    HRESULT RampUp(unsigned int frames) override { return D::Result(Keyer()->RampUp(frames)); }
    HRESULT RampDown(unsigned int frames) override { return D::Result(Keyer()->RampDown(frames)); }
    HRESULT Disable() override { return D::Result(Keyer()->Disable()); }

private:
    class Attributes final : public Part<D, DeviceBridge, OuterOf<D, AttributesPair>> {
    public:
        using Part<D, DeviceBridge, OuterOf<D, AttributesPair>>::Part;
        HRESULT GetFlag(BMDDeckLinkAttributeID id, typename D::OuterBool* value) override {
            OutBool<D> out(value);
            return Done<D>(Inner()->GetFlag(id, out), out);
        }
        HRESULT GetInt(BMDDeckLinkAttributeID id, std::int64_t* value) override {
            return D::Result(Inner()->GetInt(id, value));
        }
        HRESULT GetFloat(BMDDeckLinkAttributeID id, double* value) override {
            return D::Result(Inner()->GetFloat(id, value));
        }
        HRESULT GetString(BMDDeckLinkAttributeID id, typename D::OuterText* value) override {
            OutText<D> out(value);
            return Done<D>(Inner()->GetString(id, out), out);
        }

    private:
        InnerOf<D, AttributesPair>* Inner() {
            return this->owner_->attributes_.load(std::memory_order_acquire);
        }
    };

    // Either revision: the earlier one derives from the current one in both layouts, with
    // the same slots.
    class Configuration final : public Part<D, DeviceBridge, OuterOf<D, Configuration102Pair>> {
    public:
        explicit Configuration(DeviceBridge* owner, bool earlier = false)
            : Part<D, DeviceBridge, OuterOf<D, Configuration102Pair>>(owner), earlier_(earlier) {}
        HRESULT SetFlag(BMDDeckLinkConfigurationID id, typename D::OuterBool value) override {
            return D::Result(Inner()->SetFlag(id, D::InnerBoolOf(value)));
        }
        HRESULT GetFlag(BMDDeckLinkConfigurationID id, typename D::OuterBool* value) override {
            OutBool<D> out(value);
            return Done<D>(Inner()->GetFlag(id, out), out);
        }
        HRESULT SetInt(BMDDeckLinkConfigurationID id, std::int64_t value) override {
            return D::Result(Inner()->SetInt(id, value));
        }
        HRESULT GetInt(BMDDeckLinkConfigurationID id, std::int64_t* value) override {
            return D::Result(Inner()->GetInt(id, value));
        }
        HRESULT SetFloat(BMDDeckLinkConfigurationID id, double value) override {
            return D::Result(Inner()->SetFloat(id, value));
        }
        HRESULT GetFloat(BMDDeckLinkConfigurationID id, double* value) override {
            return D::Result(Inner()->GetFloat(id, value));
        }
        HRESULT SetString(BMDDeckLinkConfigurationID id, typename D::OuterText value) override {
            typename D::InText in(value);
            if (in.failed()) return D::kOutOfMemory;
            return D::Result(Inner()->SetString(id, in));
        }
        HRESULT GetString(BMDDeckLinkConfigurationID id, typename D::OuterText* value) override {
            OutText<D> out(value);
            return Done<D>(Inner()->GetString(id, out), out);
        }
        HRESULT WriteConfigurationToPreferences() override {
            return D::Result(Inner()->WriteConfigurationToPreferences());
        }

    private:
        InnerOf<D, ConfigurationPair>* Inner() {
            if (earlier_)
                return this->owner_->earlier_configuration_.load(std::memory_order_acquire);
            return this->owner_->configuration_.load(std::memory_order_acquire);
        }
        const bool earlier_;
    };

    class Output final : public OutputPartBase<D, DeviceBridge> {
    public:
        using OutputPartBase<D, DeviceBridge>::OutputPartBase;
        HRESULT DoesSupportVideoMode(BMDDisplayMode mode, BMDPixelFormat format,
                                     BMDVideoOutputFlags flags, BMDDisplayModeSupport* result,
                                     OuterOf<D, DisplayModePair>** resultMode) override {
            OutObject<D, DisplayModePair> out(resultMode);
            return Done<D>(Inner()->DoesSupportVideoMode(mode, format, flags, result, out), out);
        }
        HRESULT GetDisplayModeIterator(OuterOf<D, DisplayModeIteratorPair>** iterator) override {
            OutObject<D, DisplayModeIteratorPair> out(iterator);
            return Done<D>(Inner()->GetDisplayModeIterator(out), out);
        }
        // No preview callback is ever presented: its methods are not declared here.
        HRESULT SetScreenPreviewCallback(OuterOf<D, PreviewPair>* callback) override {
            if (callback) return D::kNotImplemented;
            return D::Result(Inner()->SetScreenPreviewCallback(nullptr));
        }
        HRESULT EnableVideoOutput(BMDDisplayMode mode, BMDVideoOutputFlags flags) override {
            return D::Result(Inner()->EnableVideoOutput(mode, flags));
        }
        HRESULT DisableVideoOutput() override { return D::Result(Inner()->DisableVideoOutput()); }
        HRESULT SetVideoOutputFrameMemoryAllocator(OuterOf<D, AllocatorPair>* allocator) override {
            InObject<D, AllocatorPair> in(allocator);
            if (in.failed()) return D::kOutOfMemory;
            return D::Result(Inner()->SetVideoOutputFrameMemoryAllocator(in));
        }
        HRESULT CreateVideoFrame(int width, int height, int rowBytes, BMDPixelFormat format,
                                 BMDFrameFlags flags,
                                 OuterOf<D, MutableFramePair>** frame) override {
            OutObject<D, MutableFramePair> out(frame);
            return Done<D>(Inner()->CreateVideoFrame(width, height, rowBytes, format, flags, out),
                           out);
        }
        HRESULT CreateAncillaryData(BMDPixelFormat format,
                                    OuterOf<D, AncillaryPair>** ancillary) override {
            OutObject<D, AncillaryPair> out(ancillary);
            return Done<D>(Inner()->CreateAncillaryData(format, out), out);
        }
        HRESULT DisplayVideoFrameSync(OuterOf<D, FramePair>* frame) override {
            InObject<D, FramePair> in(frame);
            if (in.failed()) return D::kOutOfMemory;
            return D::Result(Inner()->DisplayVideoFrameSync(in));
        }
        HRESULT ScheduleVideoFrame(OuterOf<D, FramePair>* frame, BMDTimeValue time,
                                   BMDTimeValue duration, BMDTimeScale scale) override {
            InObject<D, FramePair> in(frame);
            if (in.failed()) return D::kOutOfMemory;
            return D::Result(Inner()->ScheduleVideoFrame(in, time, duration, scale));
        }
        HRESULT SetScheduledFrameCompletionCallback(
            OuterOf<D, VideoCallbackPair>* callback) override {
            InObject<D, VideoCallbackPair> in(callback);
            if (in.failed()) return D::kOutOfMemory;
            return D::Result(Inner()->SetScheduledFrameCompletionCallback(in));
        }
        HRESULT GetBufferedVideoFrameCount(unsigned int* count) override {
            return D::Result(Inner()->GetBufferedVideoFrameCount(count));
        }
        HRESULT EnableAudioOutput(BMDAudioSampleRate rate, BMDAudioSampleType type,
                                  unsigned int channels, BMDAudioOutputStreamType stream) override {
            return D::Result(Inner()->EnableAudioOutput(rate, type, channels, stream));
        }
        HRESULT DisableAudioOutput() override { return D::Result(Inner()->DisableAudioOutput()); }
        HRESULT WriteAudioSamplesSync(void* buffer, unsigned int count,
                                      unsigned int* written) override {
            return D::Result(Inner()->WriteAudioSamplesSync(buffer, count, written));
        }
        HRESULT BeginAudioPreroll() override { return D::Result(Inner()->BeginAudioPreroll()); }
        HRESULT EndAudioPreroll() override { return D::Result(Inner()->EndAudioPreroll()); }
        HRESULT ScheduleAudioSamples(void* buffer, unsigned int count, BMDTimeValue time,
                                     BMDTimeScale scale, unsigned int* written) override {
            return D::Result(Inner()->ScheduleAudioSamples(buffer, count, time, scale, written));
        }
        HRESULT GetBufferedAudioSampleFrameCount(unsigned int* count) override {
            return D::Result(Inner()->GetBufferedAudioSampleFrameCount(count));
        }
        HRESULT FlushBufferedAudioSamples() override {
            return D::Result(Inner()->FlushBufferedAudioSamples());
        }
        HRESULT SetAudioCallback(OuterOf<D, AudioCallbackPair>* callback) override {
            InObject<D, AudioCallbackPair> in(callback);
            if (in.failed()) return D::kOutOfMemory;
            return D::Result(Inner()->SetAudioCallback(in));
        }
        HRESULT StartScheduledPlayback(BMDTimeValue start, BMDTimeScale scale,
                                       double speed) override {
            return D::Result(Inner()->StartScheduledPlayback(start, scale, speed));
        }
        HRESULT StopScheduledPlayback(BMDTimeValue stopAt, BMDTimeValue* actual,
                                      BMDTimeScale scale) override {
            return D::Result(Inner()->StopScheduledPlayback(stopAt, actual, scale));
        }
        HRESULT IsScheduledPlaybackRunning(typename D::OuterBool* active) override {
            OutBool<D> out(active);
            return Done<D>(Inner()->IsScheduledPlaybackRunning(out), out);
        }
        HRESULT GetScheduledStreamTime(BMDTimeScale scale, BMDTimeValue* time,
                                       double* speed) override {
            return D::Result(Inner()->GetScheduledStreamTime(scale, time, speed));
        }
        HRESULT GetReferenceStatus(BMDReferenceStatus* status) override {
            return D::Result(Inner()->GetReferenceStatus(status));
        }
        HRESULT GetHardwareReferenceClock(BMDTimeScale scale, BMDTimeValue* hardwareTime,
                                          BMDTimeValue* timeInFrame,
                                          BMDTimeValue* ticksPerFrame) override {
            return D::Result(Inner()->GetHardwareReferenceClock(scale, hardwareTime, timeInFrame,
                                                                ticksPerFrame));
        }
        // Only the current revision has this slot.
        HRESULT GetFrameCompletionReferenceTimestamp(OuterOf<D, FramePair>* frame,
                                                     BMDTimeScale scale,
                                                     BMDTimeValue* timestamp) override {
            InnerOf<D, OutputPair>* current = this->owner_->output_.load(std::memory_order_acquire);
            if (!current) return D::kNotImplemented;
            InObject<D, FramePair> in(frame);
            if (in.failed()) return D::kOutOfMemory;
            return D::Result(current->GetFrameCompletionReferenceTimestamp(in, scale, timestamp));
        }

    private:
        Common* Inner() {
            if (InnerOf<D, OutputPair>* current =
                    this->owner_->output_.load(std::memory_order_acquire))
                return current;
            return this->owner_->earlier_output_.load(std::memory_order_acquire);
        }
    };

    template <class P>
    InnerOf<D, P>* Acquire(Slot<P>& slot) {
        return AcquireOnce<D, P>(slot, device_);
    }
    InnerOf<D, KeyerPair>* Keyer() { return keyer_.load(std::memory_order_acquire); }

    InnerOf<D, DevicePair>* device_ = nullptr;
    Slot<AttributesPair> attributes_{nullptr};
    Slot<ConfigurationPair> configuration_{nullptr};
    Slot<Configuration102Pair> earlier_configuration_{nullptr};
    Slot<KeyerPair> keyer_{nullptr};
    Slot<OutputPair> output_{nullptr};
    Slot<Output99Pair> earlier_output_{nullptr};
    Attributes attributes_part_;
    Configuration configuration_part_;
    Configuration earlier_part_;
    Output output_part_;
};

}  // namespace orvex::decklink_layout
