// Reading vtable slots from pointers to members (Itanium ABI, which every compiler we build
// with uses), and the order of every interface's own methods, written once for both layouts.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace orvex::test {

// Slot of a virtual method from its pointer-to-member: the vtable offset + 1.
template <class F>
std::size_t SlotOf(F f) {
    struct {
        std::uintptr_t ptr;
        std::ptrdiff_t adj;
    } raw;
    static_assert(sizeof(F) == sizeof(raw));
    std::memcpy(&raw, &f, sizeof raw);
    return (raw.ptr - 1) / sizeof(void*);
}

// The number of slots of `Itf`, destructor slots included: where a method declared after
// them lands.
template <class Itf>
struct After : Itf {
    virtual void Probe() {}
};
template <class Itf>
std::size_t SlotCount() {
    return SlotOf(&After<Itf>::Probe);
}

// The methods of `name`, in vendor order, sit in consecutive slots from `first`.
template <class... M>
void ExpectSlotsFrom(const char* name, std::size_t first, M... methods) {
    std::size_t expected = first;
    for (std::size_t slot : {SlotOf(methods)...}) {
        EXPECT_EQ(slot, expected) << name << ": method " << expected - first;
        ++expected;
    }
}

// `L` names the interfaces of one layout; the mutable frame's methods start at
// `mutable_first` (after the base frame's slots).
template <class L>
void ExpectVendorMethodOrder(std::size_t mutable_first) {
    ExpectSlotsFrom("IDeckLinkIterator", 3, &L::Iterator::Next);
    ExpectSlotsFrom("IDeckLink", 3, &L::DeckLink::GetModelName, &L::DeckLink::GetDisplayName);
    ExpectSlotsFrom("IDeckLinkAttributes", 3, &L::Attributes::GetFlag, &L::Attributes::GetInt,
                    &L::Attributes::GetFloat, &L::Attributes::GetString);
    ExpectSlotsFrom(
        "IDeckLinkConfiguration", 3, &L::Configuration::SetFlag, &L::Configuration::GetFlag,
        &L::Configuration::SetInt, &L::Configuration::GetInt, &L::Configuration::SetFloat,
        &L::Configuration::GetFloat, &L::Configuration::SetString, &L::Configuration::GetString,
        &L::Configuration::WriteConfigurationToPreferences);
    ExpectSlotsFrom("IDeckLinkConfiguration_v10_2", 11,
                    &L::Configuration102::WriteConfigurationToPreferences);
    ExpectSlotsFrom("IDeckLinkKeyer", 3, &L::Keyer::Enable, &L::Keyer::SetLevel, &L::Keyer::RampUp,
                    &L::Keyer::RampDown, &L::Keyer::Disable);
    using O = typename L::Output;
    ExpectSlotsFrom("IDeckLinkOutput", 3, &O::DoesSupportVideoMode, &O::GetDisplayModeIterator,
                    &O::SetScreenPreviewCallback, &O::EnableVideoOutput, &O::DisableVideoOutput,
                    &O::SetVideoOutputFrameMemoryAllocator, &O::CreateVideoFrame,
                    &O::CreateAncillaryData, &O::DisplayVideoFrameSync, &O::ScheduleVideoFrame,
                    &O::SetScheduledFrameCompletionCallback, &O::GetBufferedVideoFrameCount,
                    &O::EnableAudioOutput, &O::DisableAudioOutput, &O::WriteAudioSamplesSync,
                    &O::BeginAudioPreroll, &O::EndAudioPreroll, &O::ScheduleAudioSamples,
                    &O::GetBufferedAudioSampleFrameCount, &O::FlushBufferedAudioSamples,
                    &O::SetAudioCallback, &O::StartScheduledPlayback, &O::StopScheduledPlayback,
                    &O::IsScheduledPlaybackRunning, &O::GetScheduledStreamTime,
                    &O::GetReferenceStatus, &O::GetHardwareReferenceClock,
                    &O::GetFrameCompletionReferenceTimestamp);
    ExpectSlotsFrom("IDeckLinkOutput_v9_9", 29, &L::Output99::GetHardwareReferenceClock);
    using F = typename L::Frame;
    ExpectSlotsFrom("IDeckLinkVideoFrame", 3, &F::GetWidth, &F::GetHeight, &F::GetRowBytes,
                    &F::GetPixelFormat, &F::GetFlags, &F::GetBytes, &F::GetTimecode,
                    &F::GetAncillaryData);
    using M = typename L::MutableFrame;
    ExpectSlotsFrom("IDeckLinkMutableVideoFrame", mutable_first, &M::SetFlags, &M::SetTimecode,
                    &M::SetTimecodeFromComponents, &M::SetAncillaryData, &M::SetTimecodeUserBits);
    ExpectSlotsFrom("IDeckLinkVideoFrameAncillary", 3,
                    &L::Ancillary::GetBufferForVerticalBlankingLine, &L::Ancillary::GetPixelFormat,
                    &L::Ancillary::GetDisplayMode);
    ExpectSlotsFrom("IDeckLinkTimecode", 3, &L::Timecode::GetBCD, &L::Timecode::GetComponents,
                    &L::Timecode::GetString, &L::Timecode::GetFlags,
                    &L::Timecode::GetTimecodeUserBits);
    ExpectSlotsFrom("IDeckLinkVideoFrame3DExtensions", 3, &L::Frame3D::Get3DPackingFormat,
                    &L::Frame3D::GetFrameForRightEye);
    ExpectSlotsFrom("IDeckLinkMemoryAllocator", 3, &L::Allocator::AllocateBuffer,
                    &L::Allocator::ReleaseBuffer, &L::Allocator::Commit, &L::Allocator::Decommit);
    ExpectSlotsFrom("IDeckLinkVideoOutputCallback", 3, &L::VideoCallback::ScheduledFrameCompleted,
                    &L::VideoCallback::ScheduledPlaybackHasStopped);
    ExpectSlotsFrom("IDeckLinkAudioOutputCallback", 3, &L::AudioCallback::RenderAudioSamples);
    ExpectSlotsFrom("IDeckLinkDisplayModeIterator", 3, &L::DisplayModeIterator::Next);
    using D = typename L::DisplayMode;
    ExpectSlotsFrom("IDeckLinkDisplayMode", 3, &D::GetName, &D::GetDisplayMode, &D::GetWidth,
                    &D::GetHeight, &D::GetFrameRate, &D::GetFieldDominance, &D::GetFlags);
}

// The interfaces of one layout under the names above.
#define ORVEX_DECKLINK_LAYOUT_NAMES(ns)                           \
    using Iterator = ns::IDeckLinkIterator;                       \
    using DeckLink = ns::IDeckLink;                               \
    using Attributes = ns::IDeckLinkAttributes;                   \
    using Configuration = ns::IDeckLinkConfiguration;             \
    using Configuration102 = ns::IDeckLinkConfiguration_v10_2;    \
    using Keyer = ns::IDeckLinkKeyer;                             \
    using Output = ns::IDeckLinkOutput;                           \
    using Output99 = ns::IDeckLinkOutput_v9_9;                    \
    using Frame = ns::IDeckLinkVideoFrame;                        \
    using MutableFrame = ns::IDeckLinkMutableVideoFrame;          \
    using Ancillary = ns::IDeckLinkVideoFrameAncillary;           \
    using Timecode = ns::IDeckLinkTimecode;                       \
    using Frame3D = ns::IDeckLinkVideoFrame3DExtensions;          \
    using Allocator = ns::IDeckLinkMemoryAllocator;               \
    using VideoCallback = ns::IDeckLinkVideoOutputCallback;       \
    using AudioCallback = ns::IDeckLinkAudioOutputCallback;       \
    using DisplayModeIterator = ns::IDeckLinkDisplayModeIterator; \
    using DisplayMode = ns::IDeckLinkDisplayMode

// Slots of each interface, destructors included: {name, count in the Windows layout, count
// in the Linux layout}. Most Linux interfaces end in two destructor slots.
struct SlotTotal {
    const char* name;
    std::size_t windows, linux_count;
};
inline constexpr SlotTotal kSlotTotals[] = {
    {"IDeckLinkIterator", 4, 4},  // no destructor in either
    {"IDeckLink", 5, 7},
    {"IDeckLinkAttributes", 7, 9},
    {"IDeckLinkConfiguration", 12, 14},
    {"IDeckLinkConfiguration_v10_2", 12, 14},
    {"IDeckLinkKeyer", 8, 10},
    {"IDeckLinkOutput", 31, 33},
    {"IDeckLinkOutput_v9_9", 30, 32},
    {"IDeckLinkVideoFrame", 11, 13},
    {"IDeckLinkMutableVideoFrame", 16, 18},
    {"IDeckLinkVideoFrameAncillary", 6, 8},
    {"IDeckLinkTimecode", 8, 10},
    {"IDeckLinkVideoFrame3DExtensions", 5, 7},
    {"IDeckLinkMemoryAllocator", 7, 7},  // no destructor in either
    {"IDeckLinkVideoOutputCallback", 5, 7},
    {"IDeckLinkAudioOutputCallback", 4, 4},  // no destructor in either
    {"IDeckLinkDisplayModeIterator", 4, 6},
    {"IDeckLinkDisplayMode", 10, 12},
};

// The same interfaces, in the order of kSlotTotals.
template <class L>
std::vector<std::size_t> SlotCounts() {
    return {SlotCount<typename L::Iterator>(),
            SlotCount<typename L::DeckLink>(),
            SlotCount<typename L::Attributes>(),
            SlotCount<typename L::Configuration>(),
            SlotCount<typename L::Configuration102>(),
            SlotCount<typename L::Keyer>(),
            SlotCount<typename L::Output>(),
            SlotCount<typename L::Output99>(),
            SlotCount<typename L::Frame>(),
            SlotCount<typename L::MutableFrame>(),
            SlotCount<typename L::Ancillary>(),
            SlotCount<typename L::Timecode>(),
            SlotCount<typename L::Frame3D>(),
            SlotCount<typename L::Allocator>(),
            SlotCount<typename L::VideoCallback>(),
            SlotCount<typename L::AudioCallback>(),
            SlotCount<typename L::DisplayModeIterator>(),
            SlotCount<typename L::DisplayMode>()};
}

}  // namespace orvex::test
