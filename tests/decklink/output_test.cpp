// Opening the output in a frame's format with every fallback, reopening, zero copy, keying,
// the bypass relay, audio, 3D and the card's faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "decklink/output_modes.h"
#include "output_fixture.h"

namespace {

using namespace orvex::test;
using namespace orvex::decklink;

constexpr HRESULT kNoUsableMode = static_cast<HRESULT>(0x80040248);

struct OpenCase {
    const char* name;
    std::string card;  // extra rig attributes
    int format;
    eMFCC fcc;
    int bits, channels;  // frame audio
    std::vector<std::pair<const char16_t*, const char16_t*>> props;
    HRESULT result;
    BMDDisplayMode mode;
    BMDPixelFormat pixel;
    int audio_bits, audio_channels;
};

class DeckLinkOpen : public DeckLinkOutputTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(DeckLinkOpen, NegotiatesWithTheCard) {
    const OpenCase& c = GetParam();
    Open(c.card);
    for (const auto& [n, v] : c.props) Set(n, v);
    CComPtr<IOXFrame> frame = Frame(c.format, c.fcc, 1920, c.bits, c.channels);
    EXPECT_EQ(Put(frame), c.result);
    const auto out = Output();
    // What opened, as a host reads it.
    EXPECT_EQ(Get(u"output.state"), FAILED(c.result) ? u"failed" : u"open");
    std::u16string fourcc;
    for (int shift = 24; FAILED(c.result) ? false : shift >= 0; shift -= 8)
        fourcc += static_cast<char16_t>((c.pixel >> shift) & 0xFF);
    EXPECT_EQ(Get(u"output.pixel_format"), fourcc);
    EXPECT_EQ(Get(u"output.error").substr(0, 10), FAILED(c.result) ? u"0x80040248" : u"");
    if (FAILED(c.result)) {
        EXPECT_EQ(out.state, kDeviceChosen);
        EXPECT_EQ(Stats().new_frames, 0);
        EXPECT_EQ(Stat(u"frames_lost"), 1);
        // The next frame tries again, and nothing of the refused one is held.
        EXPECT_EQ(Put(frame), c.result);
        EXPECT_EQ(OtherReferences(frame), 0u);
        return;
    }
    EXPECT_EQ(out.state, kOutputOpen);
    EXPECT_EQ(out.mode, c.mode);
    EXPECT_EQ(out.pixel_format, c.pixel);
    EXPECT_EQ(out.audio_bits, c.audio_bits);
    EXPECT_EQ(out.audio_channels, c.audio_channels);
    // The frame went on air (shown from the next period boundary).
    EXPECT_EQ(Put(Frame(c.format, c.fcc)), S_OK);
    EXPECT_EQ(Stats().new_frames, 1);
    EXPECT_EQ(Stat(u"bmd.error"), 0);
}

// clang-format off
const OpenCase kOpenCases[] = {
    // name, card, frame format, layout, audio bits and channels, properties; what opened
    {"AsAsked", "", kHD1080i50, eMFCC_UYVY, 16, 16, {}, S_OK, bmdModeHD1080i50, bmdFormat8BitYUV, 16, 16},
    {"TenBitSetting", "", kHD1080i50, eMFCC_UYVY, 32, 16, {{u"output.10bit", u"true"}}, S_OK, bmdModeHD1080i50, bmdFormat10BitYUV, 32, 16},
    {"TenBitKeepsArgb", "", kHD1080i50, eMFCC_ARGB32, 16, 16, {{u"output.10bit", u"true"}}, S_OK, bmdModeHD1080i50, bmdFormat8BitBGRA, 16, 16},
    {"FlagsDroppedOneByOne", "refuse-flags=\"rp188,vanc\"", kHD1080i50, eMFCC_UYVY, 16, 16, {}, S_OK, bmdModeHD1080i50, bmdFormat8BitYUV, 16, 16},
    {"TwoKFallsBackToHd", "modes=\"hd\"", k2K25, eMFCC_UYVY, 16, 16, {}, S_OK, bmdModeHD1080p25, bmdFormat8BitYUV, 16, 16},
    {"NtscLast", "modes=\"hd\"", kUHD30, eMFCC_UYVY, 16, 16, {}, S_OK, bmdModeNTSC, bmdFormat8BitYUV, 16, 16},
    {"RefusedLayoutIsConverted", "formats=\"v210,BGRA\"", kHD1080i50, eMFCC_UYVY, 16, 16, {}, S_OK, bmdModeHD1080i50, bmdFormat10BitYUV, 16, 16},
    {"RefusedTenBitTakesEightBit", "formats=\"2vuy\"", kHD1080i50, eMFCC_UYVY, 16, 16, {{u"output.10bit", u"true"}}, S_OK, bmdModeHD1080i50, bmdFormat8BitYUV, 16, 16},
    {"RgbOnAYuvCard", "formats=\"2vuy,v210\"", kHD1080i50, eMFCC_ARGB32, 16, 16, {}, S_OK, bmdModeHD1080i50, bmdFormat10BitYUV, 16, 16},
    {"NoModeAtAll", "modes=\"Hi50\"", kHD1080p25, eMFCC_UYVY, 16, 16, {}, kNoUsableMode, 0, 0, 0, 0},
    {"Audio32To16", "audio-bits=\"16\"", kHD1080i50, eMFCC_UYVY, 32, 16, {}, S_OK, bmdModeHD1080i50, bmdFormat8BitYUV, 16, 16},
    {"AudioTo8Channels", "audio-bits=\"16\" audio-channels=\"2,8\"", kHD1080i50, eMFCC_UYVY, 32, 16, {}, S_OK, bmdModeHD1080i50, bmdFormat8BitYUV, 16, 8},
    {"AudioTo2Channels", "audio-channels=\"2\"", kHD1080i50, eMFCC_UYVY, 16, 16, {}, S_OK, bmdModeHD1080i50, bmdFormat8BitYUV, 16, 2},
    {"NoAudioLayout", "audio-channels=\"4\"", kHD1080i50, eMFCC_UYVY, 16, 16, {}, kNoUsableMode, 0, 0, 0, 0},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, DeckLinkOpen, ::testing::ValuesIn(kOpenCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The output formats offered are those the chosen card plays (3D only where it plays 3D).
TEST_F(DeckLinkOutputTest, OutputFormatsAreThoseTheCardPlays) {
    Open("modes=\"hd\" flags=\"vanc\"");
    int count = 0;
    ASSERT_EQ(format_->FormatVideoGetCount(eMFT_Output, &count), S_OK);
    std::vector<int> offered;
    for (int i = 0; i < count; ++i) {
        M_VID_PROPS v{};
        ASSERT_EQ(format_->FormatVideoGetByIndex(eMFT_Output, i, &v, nullptr), S_OK);
        offered.push_back(v.eVideoFormat);
    }
    auto has = [&](int f) { return std::find(offered.begin(), offered.end(), f) != offered.end(); };
    EXPECT_TRUE(has(kHD1080i50) && has(kHD720p50) && has(kPAL) && has(eMVF_Disabled));
    EXPECT_FALSE(has(kUHD30));
    EXPECT_FALSE(has(k2K25));
    EXPECT_FALSE(has(0x1000 | 0x400 | kHD1080i50));
}

// DeviceOpen is not implemented: the first frame opens the output, once the card agrees.
TEST_F(DeckLinkOutputTest, TheFirstFrameOpensTheOutputOnceTheCardAgreesAndCloseEndsIt) {
    Open();
    EXPECT_EQ(device_->DeviceOpen(nullptr, nullptr), E_NOTIMPL);
    Fault("enable-error", static_cast<double>(0x80004005u));
    CComPtr<IOXFrame> frame = Frame(kPAL);
    EXPECT_EQ(Put(frame), kNoUsableMode);
    EXPECT_EQ(Output().state, kDeviceChosen);
    EXPECT_EQ(OtherReferences(frame), 0u);
    Fault("clear", 0);
    EXPECT_EQ(Put(frame), S_OK);
    EXPECT_EQ(Output().state, kOutputOpen);
    EXPECT_EQ(Output().mode, bmdModePAL);
    EXPECT_EQ(device_->DeviceClose(), S_OK);
    EXPECT_EQ(Output().state, kDeviceChosen);
    EXPECT_EQ(Output().mode, bmdModeUnknown);
}

TEST_F(DeckLinkOutputTest, ZeroCopyShowsTheFramesOwnMemoryAndKeepsItUntilTheCardLetsGo) {
    for (bool no_copy : {true, false}) {
        SCOPED_TRACE(no_copy);
        Open("", {{u"optimization.no_copy", no_copy ? u"true" : u"false"}});
        CComPtr<IOXFrame> a = Frame(kHD1080i50), b = Frame(kHD1080i50);
        ASSERT_EQ(Put(a), S_OK);
        ASSERT_EQ(Put(b), S_OK);
        // Every buffer the card asked for was the frame's own with zero copy; without, the
        // pool served them.
        const auto counts = renderer_->Allocator()->GetCounts();
        EXPECT_EQ(counts.pool_built, !no_copy);
        EXPECT_FALSE(counts.armed);
        EXPECT_EQ(Stats().allocate_calls, 2);
        TearDown();
        EXPECT_EQ(OtherReferences(a), 0u);
        EXPECT_EQ(OtherReferences(b), 0u);
    }
}

// A frame in another format reopens the output (DeckLinkStats checks it) unless a conversion
// format is set: then the output stays and frames of other sizes are scaled to it.
TEST_F(DeckLinkOutputTest, FramesInAnotherLayoutOrSizeAreConverted) {
    Open("", {{u"output.10bit", u"true"}});
    // v210 from UYVY in one step, from RGB in two.
    for (eMFCC fcc : {eMFCC_UYVY, eMFCC_ARGB32, eMFCC_YUY2, eMFCC_v210}) Play(1, kHD1080i50, fcc);
    M_VID_PROPS fixed = orvex::formats::VideoFormatDefaults(eMVF_HD1080_50i, eMFCC_v210);
    ASSERT_EQ(format_->FormatVideoSet(eMFT_Convert, &fixed), S_OK);
    Play(1, kPAL);
    Play(1, kHD720p50, eMFCC_ARGB32);
    EXPECT_EQ(Output().mode, bmdModeHD1080i50);
    EXPECT_EQ(Output().pixel_format, bmdFormat10BitYUV);
    EXPECT_EQ(Stats().new_frames, 5);
    EXPECT_EQ(Stat(u"bmd.error"), 0);
}

TEST_F(DeckLinkOutputTest, KeyingSwitchesTheOutputToBgra) {
    Open("keying=\"internal,external\"");
    Play(2);
    EXPECT_EQ(Output().pixel_format, bmdFormat8BitYUV);
    Set(u"keying", u"internal");
    EXPECT_EQ(Output().state, kDeviceChosen);  // closed; the next frame reopens in BGRA
    CComPtr<IOXFrame> keyed = Frame(kHD1080i50, eMFCC_ARGB32);
    ASSERT_EQ(Put(keyed), S_OK);
    EXPECT_EQ(Output().pixel_format, bmdFormat8BitBGRA);
    // The colour is divided by alpha in the card's copy, never in the host's frame.
    EXPECT_EQ(OtherReferences(keyed), 0u);
    Set(u"keying", u"disable");
    ASSERT_EQ(device_->DeviceClose(), S_OK);
    Play(1);
    EXPECT_EQ(Output().pixel_format, bmdFormat8BitYUV);
}

TEST_F(DeckLinkOutputTest, BypassRelayIsReleasedOnlyWhileOutputRunsNormally) {
    Open("bypass=\"true\"");
    EXPECT_EQ(Put(Frame(kHD1080i50)), S_OK);
    EXPECT_EQ(CardSetting(device_, bmdDeckLinkConfigBypass), -1);  // output, no pass-through
    EXPECT_EQ(Clock()->BypassState(), 1);
    ASSERT_EQ(device_->DeviceClose(), S_OK);
    EXPECT_EQ(CardSetting(device_, bmdDeckLinkConfigBypass), -1);  // stays off after normal output

    // The first frame never reaches the card: closing lets the input through again.
    Fault("display-error", static_cast<double>(0x80004005u));
    EXPECT_EQ(Put(Frame(kHD1080i50)), S_OK);
    EXPECT_EQ(Clock()->BypassState(), 0);
    ASSERT_EQ(device_->DeviceClose(), S_OK);
    EXPECT_EQ(CardSetting(device_, bmdDeckLinkConfigBypass), 0);
    Fault("clear", 0);
}

TEST_F(DeckLinkOutputTest, AudioIsWrittenInStepAndDroppedPastFiftyMilliseconds) {
    Open("audio-buffer=\"4800\"");
    // A frame's audio goes to the card with the frame, however short.
    ASSERT_EQ(Put(Frame(kHD1080i50, eMFCC_UYVY, 200)), S_OK);
    EXPECT_EQ(Clock()->AudioSamplesWritten(), 200);
    ASSERT_EQ(Put(Frame(kHD1080i50, eMFCC_UYVY, 1720)), S_OK);
    EXPECT_EQ(Clock()->AudioSamplesWritten(), 1920);
    // A pause frame plays no audio.
    CComPtr<IOXFrame> pause = Frame(kHD1080i50, eMFCC_UYVY, 1920);
    M_TIME t{};
    pause->OXTimeGet(&t);
    t.eFFlags = eMFF_Pause;
    pause->OXTimeSet(&t);
    ASSERT_EQ(Put(pause), S_OK);
    EXPECT_EQ(Clock()->AudioSamplesWritten(), 1920);
    // The card's 100 ms buffer fills; what it cannot take beyond 50 ms is dropped.
    Play(4, kHD1080i50, eMFCC_UYVY, 12000);
    EXPECT_GT(Stat(u"bmd.audio_dropped"), 0);
    EXPECT_EQ(Stat(u"bmd.error"), 0);
}

TEST_F(DeckLinkOutputTest, TheLastFrameOfAStreamWritesTheRateConvertersTail) {
    Open();
    // Three 25 fps frames of 44.1 kHz audio come out as exactly three frames at 48 kHz once
    // the last is marked as such; without the mark the converter's tail stays behind.
    for (const bool mark : {false, true}) {
        if (mark) {
            TearDown();
            Open();
        }
        for (int i = 0; i < 3; ++i) {
            CComPtr<IOXFrame> f = Frame(kHD1080i50, eMFCC_UYVY, 1764, 32, 2);
            M_AV_PROPS props{};
            f->OXAVPropsGet(&props);
            props.audProps.nSamplesPerSec = 44100;
            f->OXAVPropsSet(&props);
            M_TIME t{};
            t.rtStartTime = i * kPeriod;
            t.rtEndTime = (i + 1) * kPeriod;
            t.eFFlags = mark && i == 2 ? eMFF_Last : eMFF_None;
            f->OXTimeSet(&t);
            ASSERT_EQ(Put(f), S_OK);
        }
        if (mark)
            EXPECT_NEAR(Clock()->AudioSamplesWritten(), 3 * 1920, 1);
        else
            EXPECT_LT(Clock()->AudioSamplesWritten(), 3 * 1920 - 48);
    }
}

TEST_F(DeckLinkOutputTest, DualStream3DFramesShowBothEyes) {
    Open();
    const int full3d = 0x1400 | kHD1080i50;
    Play(3, full3d);
    EXPECT_TRUE(Output().dual_stream_3d);
    EXPECT_EQ(Stats().new_frames, 2);
    EXPECT_EQ(Stat(u"bmd.error"), 0);  // the card checks each eye's size

    // A card without dual-stream 3D plays the left eye's format.
    TearDown();
    Open("flags=\"vanc,vitc,rp188\"");
    ASSERT_EQ(Put(Frame(full3d)), S_OK);
    EXPECT_FALSE(Output().dual_stream_3d);
    EXPECT_EQ(Output().mode, bmdModeHD1080i50);
}

struct FaultCase {
    const char* name;
    double value;
    const char16_t* counter;  // expected to count, or null
    int lost;                 // frames that never reach air
};

class DeckLinkFaults : public DeckLinkOutputTest,
                       public ::testing::WithParamInterface<FaultCase> {};

// The host keeps going through every fault, the fault is counted, and nothing is left held.
TEST_P(DeckLinkFaults, HostKeepsRunningAndNothingLeaks) {
    const FaultCase& c = GetParam();
    Open("bypass=\"true\"");
    std::vector<CComPtr<IOXFrame>> frames;
    for (int i = 0; i < 3; ++i) frames.push_back(Frame(kHD1080i50, eMFCC_UYVY, 1920));
    ASSERT_EQ(Put(frames[0]), S_OK);
    Fault(c.name, c.value);
    for (int i = 1; i < 3; ++i) EXPECT_EQ(Put(frames[i]), S_OK);
    if (c.counter) {
        EXPECT_GT(Stat(c.counter), 0);
    }
    Fault("clear", 0);
    EXPECT_EQ(Put(Frame(kHD1080i50)), S_OK);
    clock_.Advance(2 * kPeriod);
    // Every frame went on air or is counted as lost.
    EXPECT_EQ(Stat(u"frames_lost"), c.lost);
    EXPECT_EQ(Stats().new_frames, 4 - c.lost);
    TearDown();
    for (auto& f : frames) EXPECT_EQ(OtherReferences(f), 0u);
}

const FaultCase kFaults[] = {
    {"display-error", static_cast<double>(0x80004005u), u"bmd.error", 2},
    {"frame-oom", 3, nullptr, 0},
    {"frame-oom", 1e6, u"bmd.no_buffer", 2},
    {"allocate-oom", 1e6, u"bmd.no_buffer", 2},
    {"removed", 1, nullptr, 2},
    {"reference", 0, nullptr, 0},
    {"drift-ppm", 200, nullptr, 0},
    // A clock that reads up to 15 ms ahead of the card: no frame is put onto one unshown.
    {"jitter-us", 15'000, nullptr, 0},
};

INSTANTIATE_TEST_SUITE_P(Table, DeckLinkFaults, ::testing::ValuesIn(kFaults), [](const auto& info) {
    std::string n = info.param.name;
    for (char& ch : n)
        if (ch == '-') ch = '_';
    return n + "_" + std::to_string(info.index);
});

}  // namespace
