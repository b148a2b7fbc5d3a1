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

TEST(DeckLinkApi, IdentifiersMatchTheVendorText) {
    struct Case {
        const GUID& id;
        const char16_t* text;
    };
    const Case cases[] = {
        {IID_IDeckLinkIterator, u"{50FB36CD-3063-4B73-BDBB-958087F2D8BA}"},
        {IID_IDeckLink, u"{C418FBDD-0587-48ED-8FE5-640F0A14AF91}"},
        {IID_IDeckLinkAttributes, u"{ABC11843-D966-44CB-96E2-A1CB5D3135C4}"},
        {IID_IDeckLinkConfiguration, u"{CB71734A-FE37-4E8D-8E13-802133A1C3F2}"},
        {IID_IDeckLinkConfiguration_v10_2, u"{C679A35B-610C-4D09-B748-1D0478100FC0}"},
        {IID_IDeckLinkKeyer, u"{89AFCAF5-65F8-421E-98F7-96FE5F5BFBA3}"},
        {IID_IDeckLinkOutput, u"{CC5C8A6E-3F2F-4B3A-87EA-FD78AF300564}"},
        {IID_IDeckLinkOutput_v9_9, u"{A3EF0963-0862-44ED-92A9-EE89ABF431C7}"},
        {IID_IDeckLinkVideoFrame, u"{3F716FE0-F023-4111-BE5D-EF4414C05B17}"},
        {IID_IDeckLinkMutableVideoFrame, u"{69E2639F-40DA-4E19-B6F2-20ACE815C390}"},
        {IID_IDeckLinkVideoFrameAncillary, u"{732E723C-D1A4-4E29-9E8E-4A88797A0004}"},
        {IID_IDeckLinkTimecode, u"{BC6CFBD3-8317-4325-AC1C-1216391E9340}"},
        {IID_IDeckLinkVideoFrame3DExtensions, u"{DA0F7E4A-EDC7-48A8-9CDD-2DB51C729CD7}"},
        {IID_IDeckLinkMemoryAllocator, u"{B36EB6E7-9D29-4AA8-92EF-843B87A289E8}"},
        {IID_IDeckLinkVideoOutputCallback, u"{20AA5225-1958-47CB-820B-80A8D521A6EE}"},
        {IID_IDeckLinkAudioOutputCallback, u"{403C681B-7F46-4A12-B993-2BB127084EE6}"},
        {IID_IDeckLinkDisplayModeIterator, u"{9C88499F-F601-4021-B80B-032E4EB41C35}"},
        {IID_IDeckLinkDisplayMode, u"{3EB2C1AB-0A3D-4523-A3AD-F40D7FB14E78}"},
        {IID_IDeckLinkScreenPreviewCallback, u"{B1D3F49A-85FE-4C5D-95C8-0B5D5DCCD438}"},
        {CLSID_CDeckLinkIterator, u"{1F2E109A-8F4F-49E4-9203-135595CB6FA5}"},
        {LIBID_DeckLinkAPI, u"{D864517A-EDD5-466D-867D-C819F1C052BB}"},
    };
    for (const Case& c : cases) {
        GUID parsed{};
        ASSERT_EQ(CLSIDFromString(reinterpret_cast<LPCOLESTR>(c.text), &parsed), S_OK);
        EXPECT_TRUE(parsed == c.id) << orvex::com::ToUtf8(c.text);
    }
    // The in-memory byte order of a GUID, as a driver compares it.
    const std::uint8_t bytes[16] = {0xCD, 0x36, 0xFB, 0x50, 0x63, 0x30, 0x73, 0x4B,
                                    0xBD, 0xBB, 0x95, 0x80, 0x87, 0xF2, 0xD8, 0xBA};
    EXPECT_EQ(std::memcmp(&IID_IDeckLinkIterator, bytes, 16), 0);
}

TEST(DeckLinkApi, FourCharacterCodesMatchTheirText) {
    struct Case {
        std::uint32_t value;
        const char text[5];
    };
    // clang-format off
    const Case cases[] = {
        {bmdModeNTSC, "ntsc"}, {bmdModeNTSC2398, "nt23"}, {bmdModePAL, "pal "},
        {bmdModeNTSCp, "ntsp"}, {bmdModePALp, "palp"}, {bmdModeHD720p50, "hp50"},
        {bmdModeHD720p5994, "hp59"}, {bmdModeHD720p60, "hp60"}, {bmdModeHD1080p2398, "23ps"},
        {bmdModeHD1080p24, "24ps"}, {bmdModeHD1080p25, "Hp25"}, {bmdModeHD1080p2997, "Hp29"},
        {bmdModeHD1080p30, "Hp30"}, {bmdModeHD1080i50, "Hi50"}, {bmdModeHD1080i5994, "Hi59"},
        {bmdModeHD1080i6000, "Hi60"}, {bmdModeHD1080p50, "Hp50"}, {bmdModeHD1080p5994, "Hp59"},
        {bmdModeHD1080p6000, "Hp60"}, {bmdMode2k2398, "2k23"}, {bmdMode2k24, "2k24"},
        {bmdMode2k25, "2k25"}, {bmdMode2kDCI2398, "2d23"}, {bmdMode2kDCI24, "2d24"},
        {bmdMode2kDCI25, "2d25"}, {bmdMode4K2160p2398, "4k23"}, {bmdMode4K2160p24, "4k24"},
        {bmdMode4K2160p25, "4k25"}, {bmdMode4K2160p2997, "4k29"}, {bmdMode4K2160p30, "4k30"},
        {bmdMode4K2160p50, "4k50"}, {bmdMode4K2160p5994, "4k59"}, {bmdMode4K2160p60, "4k60"},
        {bmdMode4kDCI2398, "4d23"}, {bmdMode4kDCI24, "4d24"}, {bmdMode4kDCI25, "4d25"},
        {bmdModeUnknown, "iunk"}, {bmdFormat8BitYUV, "2vuy"}, {bmdFormat10BitYUV, "v210"},
        {bmdFormat8BitBGRA, "BGRA"}, {bmdFormat10BitRGB, "r210"}, {bmdFormat12BitRGB, "R12B"},
        {bmdFormat12BitRGBLE, "R12L"}, {bmdFormat10BitRGBXLE, "R10l"},
        {bmdFormat10BitRGBX, "R10b"}, {bmdTimecodeRP188VITC1, "rpv1"},
        {bmdTimecodeRP188VITC2, "rp12"}, {bmdTimecodeRP188LTC, "rplt"},
        {bmdTimecodeRP188Any, "rp18"}, {bmdTimecodeVITC, "vitc"}, {bmdTimecodeVITCField2, "vit2"},
        {bmdTimecodeSerial, "seri"}, {bmdVideo3DPackingSidebySideHalf, "sbsh"},
        {bmdVideo3DPackingLinebyLine, "lbyl"}, {bmdVideo3DPackingTopAndBottom, "tabo"},
        {bmdVideo3DPackingFramePacking, "frpk"}, {bmdVideo3DPackingLeftOnly, "left"},
        {bmdVideo3DPackingRightOnly, "righ"}, {BMDDeckLinkVideoOutputConnections, "vocn"},
        {BMDDeckLinkVideoInputConnections, "vicn"}, {BMDDeckLinkAudioInputConnections, "aicn"},
        {BMDDeckLinkAudioOutputConnections, "aocn"}, {BMDDeckLinkSupportsFullDuplex, "fdup"},
        {BMDDeckLinkDeviceBusyState, "dbst"}, {BMDDeckLinkSupportsInternalKeying, "keyi"},
        {BMDDeckLinkSupportsExternalKeying, "keye"}, {BMDDeckLinkSupportsHDKeying, "keyh"},
        {BMDDeckLinkHasBypass, "byps"}, {BMDDeckLinkHasReferenceInput, "hrin"},
        {BMDDeckLinkMaximumAudioChannels, "mach"}, {BMDDeckLinkNumberOfSubDevices, "nsbd"},
        {BMDDeckLinkSubDeviceIndex, "subi"}, {BMDDeckLinkPersistentID, "peid"},
        {BMDDeckLinkTopologicalID, "toid"}, {BMDDeckLinkVideoIOSupport, "vios"},
        {BMDDeckLinkSerialPortDeviceName, "slpn"}, {BMDDeckLinkSupportsDesktopDisplay, "extd"},
        {bmdDeckLinkConfigLowLatencyVideoOutput, "llvo"},
        {bmdDeckLinkConfigFieldFlickerRemoval, "fdfr"}, {bmdDeckLinkConfigBypass, "byps"},
        {bmdDeckLinkConfigVideoOutputConnection, "vocn"},
        {bmdDeckLinkConfigVideoInputConnection, "vicn"},
        {bmdDeckLinkConfigAudioInputConnection, "aicn"},
        {bmdDeckLinkConfigVideoOutputConversionMode, "vocm"},
        {bmdDeckLinkConfigVideoOutputIdleOperation, "voio"},
        {bmdDeckLinkConfigDefaultVideoOutputMode, "dvom"},
        {bmdDeckLinkConfigReferenceInputTimingOffset, "glot"},
        {bmdDeckLinkConfig444SDIVideoOutput, "444o"},
        {bmdDeckLinkConfigBlackVideoOutputDuringCapture, "bvoc"},
        {bmdDeckLinkConfigAnalogAudioOutputSelect, "aoaa"},
        {bmdDeckLinkConfigUse1080pNotPsF, "fpro"}, {bmdDeckLinkConfigDuplexMode, "dupx"},
        {bmdDeckLinkConfigSingleLinkVideoOutput, "sglo"},
        {bmdDeckLinkConfig3GBpsVideoOutput, "3gbs"}, {bmdIdleVideoOutputBlack, "blac"},
        {bmdIdleVideoOutputLastFrame, "lafa"}, {bmdIdleVideoOutputDesktop, "desk"},
        {bmdDuplexModeFull, "fdup"}, {bmdDuplexModeHalf, "hdup"},
        {bmdAudioConnectionEmbedded_v10_2, "embd"}, {bmdAudioConnectionAESEBU_v10_2, "aes "},
        {bmdAudioConnectionAnalog_v10_2, "anlg"}, {bmdAudioConnectionAnalogXLR_v10_2, "axlr"},
        {bmdAudioConnectionAnalogRCA_v10_2, "arca"}, {bmdLowerFieldFirst, "lowr"},
        {bmdUpperFieldFirst, "uppr"}, {bmdProgressiveFrame, "prog"},
        {bmdProgressiveSegmentedFrame, "psf "}
    };
    // clang-format on
    for (const Case& c : cases) EXPECT_EQ(c.value, DeckLinkFourCC(c.text)) << c.text;
    EXPECT_EQ(bmdFormat8BitARGB, 32u);  // a plain number, not a code
}

}  // namespace
