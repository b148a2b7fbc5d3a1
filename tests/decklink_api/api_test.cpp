// Pins the binary layout of our DeckLink declarations: the vtable slot of every method, every
// identifier, and the values of the four-character codes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "com/runtime.h"
#include "decklink/api/decklink_api.h"

namespace {

// Slot of a virtual method from its pointer-to-member (Itanium ABI: vtable offset + 1).
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

// The methods of `name`, in vendor order, sit in consecutive slots from `first`.
template <class... M>
void ExpectSlotsFrom(const char* name, std::size_t first, M... methods) {
    std::size_t expected = first;
    for (std::size_t slot : {SlotOf(methods)...}) {
        EXPECT_EQ(slot, expected) << name << ": method " << expected - first;
        ++expected;
    }
}

TEST(DeckLinkApi, EveryMethodSitsInItsVendorSlot) {
    ExpectSlotsFrom("IDeckLinkIterator", 3, &IDeckLinkIterator::Next);
    ExpectSlotsFrom("IDeckLink", 3, &IDeckLink::GetModelName, &IDeckLink::GetDisplayName);
    ExpectSlotsFrom("IDeckLinkAttributes", 3, &IDeckLinkAttributes::GetFlag,
                    &IDeckLinkAttributes::GetInt, &IDeckLinkAttributes::GetFloat,
                    &IDeckLinkAttributes::GetString);
    ExpectSlotsFrom("IDeckLinkConfiguration", 3, &IDeckLinkConfiguration::SetFlag,
                    &IDeckLinkConfiguration::GetFlag, &IDeckLinkConfiguration::SetInt,
                    &IDeckLinkConfiguration::GetInt, &IDeckLinkConfiguration::SetFloat,
                    &IDeckLinkConfiguration::GetFloat, &IDeckLinkConfiguration::SetString,
                    &IDeckLinkConfiguration::GetString,
                    &IDeckLinkConfiguration::WriteConfigurationToPreferences);
    ExpectSlotsFrom("IDeckLinkConfiguration_v10_2", 11,
                    &IDeckLinkConfiguration_v10_2::WriteConfigurationToPreferences);
    ExpectSlotsFrom("IDeckLinkKeyer", 3, &IDeckLinkKeyer::Enable, &IDeckLinkKeyer::SetLevel,
                    &IDeckLinkKeyer::RampUp, &IDeckLinkKeyer::RampDown, &IDeckLinkKeyer::Disable);
    ExpectSlotsFrom(
        "IDeckLinkOutput", 3, &IDeckLinkOutput::DoesSupportVideoMode,
        &IDeckLinkOutput::GetDisplayModeIterator, &IDeckLinkOutput::SetScreenPreviewCallback,
        &IDeckLinkOutput::EnableVideoOutput, &IDeckLinkOutput::DisableVideoOutput,
        &IDeckLinkOutput::SetVideoOutputFrameMemoryAllocator, &IDeckLinkOutput::CreateVideoFrame,
        &IDeckLinkOutput::CreateAncillaryData, &IDeckLinkOutput::DisplayVideoFrameSync,
        &IDeckLinkOutput::ScheduleVideoFrame, &IDeckLinkOutput::SetScheduledFrameCompletionCallback,
        &IDeckLinkOutput::GetBufferedVideoFrameCount, &IDeckLinkOutput::EnableAudioOutput,
        &IDeckLinkOutput::DisableAudioOutput, &IDeckLinkOutput::WriteAudioSamplesSync,
        &IDeckLinkOutput::BeginAudioPreroll, &IDeckLinkOutput::EndAudioPreroll,
        &IDeckLinkOutput::ScheduleAudioSamples, &IDeckLinkOutput::GetBufferedAudioSampleFrameCount,
        &IDeckLinkOutput::FlushBufferedAudioSamples, &IDeckLinkOutput::SetAudioCallback,
        &IDeckLinkOutput::StartScheduledPlayback, &IDeckLinkOutput::StopScheduledPlayback,
        &IDeckLinkOutput::IsScheduledPlaybackRunning, &IDeckLinkOutput::GetScheduledStreamTime,
        &IDeckLinkOutput::GetReferenceStatus, &IDeckLinkOutput::GetHardwareReferenceClock,
        &IDeckLinkOutput::GetFrameCompletionReferenceTimestamp);
    ExpectSlotsFrom("IDeckLinkOutput_v9_9", 29, &IDeckLinkOutput_v9_9::GetHardwareReferenceClock);
    ExpectSlotsFrom("IDeckLinkVideoFrame", 3, &IDeckLinkVideoFrame::GetWidth,
                    &IDeckLinkVideoFrame::GetHeight, &IDeckLinkVideoFrame::GetRowBytes,
                    &IDeckLinkVideoFrame::GetPixelFormat, &IDeckLinkVideoFrame::GetFlags,
                    &IDeckLinkVideoFrame::GetBytes, &IDeckLinkVideoFrame::GetTimecode,
                    &IDeckLinkVideoFrame::GetAncillaryData);
    ExpectSlotsFrom("IDeckLinkMutableVideoFrame", 11, &IDeckLinkMutableVideoFrame::SetFlags,
                    &IDeckLinkMutableVideoFrame::SetTimecode,
                    &IDeckLinkMutableVideoFrame::SetTimecodeFromComponents,
                    &IDeckLinkMutableVideoFrame::SetAncillaryData,
                    &IDeckLinkMutableVideoFrame::SetTimecodeUserBits);
    ExpectSlotsFrom("IDeckLinkVideoFrameAncillary", 3,
                    &IDeckLinkVideoFrameAncillary::GetBufferForVerticalBlankingLine,
                    &IDeckLinkVideoFrameAncillary::GetPixelFormat,
                    &IDeckLinkVideoFrameAncillary::GetDisplayMode);
    ExpectSlotsFrom("IDeckLinkTimecode", 3, &IDeckLinkTimecode::GetBCD,
                    &IDeckLinkTimecode::GetComponents, &IDeckLinkTimecode::GetString,
                    &IDeckLinkTimecode::GetFlags, &IDeckLinkTimecode::GetTimecodeUserBits);
    ExpectSlotsFrom("IDeckLinkVideoFrame3DExtensions", 3,
                    &IDeckLinkVideoFrame3DExtensions::Get3DPackingFormat,
                    &IDeckLinkVideoFrame3DExtensions::GetFrameForRightEye);
    ExpectSlotsFrom("IDeckLinkMemoryAllocator", 3, &IDeckLinkMemoryAllocator::AllocateBuffer,
                    &IDeckLinkMemoryAllocator::ReleaseBuffer, &IDeckLinkMemoryAllocator::Commit,
                    &IDeckLinkMemoryAllocator::Decommit);
    ExpectSlotsFrom("IDeckLinkVideoOutputCallback", 3,
                    &IDeckLinkVideoOutputCallback::ScheduledFrameCompleted,
                    &IDeckLinkVideoOutputCallback::ScheduledPlaybackHasStopped);
    ExpectSlotsFrom("IDeckLinkAudioOutputCallback", 3,
                    &IDeckLinkAudioOutputCallback::RenderAudioSamples);
    ExpectSlotsFrom("IDeckLinkDisplayModeIterator", 3, &IDeckLinkDisplayModeIterator::Next);
    ExpectSlotsFrom("IDeckLinkDisplayMode", 3, &IDeckLinkDisplayMode::GetName,
                    &IDeckLinkDisplayMode::GetDisplayMode, &IDeckLinkDisplayMode::GetWidth,
                    &IDeckLinkDisplayMode::GetHeight, &IDeckLinkDisplayMode::GetFrameRate,
                    &IDeckLinkDisplayMode::GetFieldDominance, &IDeckLinkDisplayMode::GetFlags);
}

TEST(DeckLinkApi, InterfacesHaveNoHiddenSlotsOrState) {
    // One vtable pointer and nothing else: no virtual destructor, no data.
    EXPECT_EQ(sizeof(IDeckLinkOutput), sizeof(void*));
    EXPECT_EQ(sizeof(IDeckLinkMutableVideoFrame), sizeof(void*));
    EXPECT_EQ(sizeof(BOOL), 4u);
    EXPECT_EQ(sizeof(BMDDisplayMode), 4u);
    EXPECT_EQ(sizeof(BMDTimeValue), 8u);
}

}  // namespace
