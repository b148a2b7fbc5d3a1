// The frame clock against the card's hardware clock on the virtual clock (periods, waits,
// missed and late frames), the figures a host reads of them, and the card's 3D frame objects.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "captions_fakes.h"
#include "decklink/frame_3d.h"
#include "output_fixture.h"

namespace {

using namespace orvex::test;
using namespace orvex::decklink;

using DeckLinkClock = DeckLinkOutputTest;
using DeckLinkStats = DeckLinkOutputTest;

TEST_F(DeckLinkStats, FiguresFollowWhatHappenedAndPerOpenCountersStartAgain) {
    Open();
    EXPECT_EQ(Get(u"stat::ref_status"), u"");  // nothing shown yet
    Play(3);  // back to back: each frame waits for a period of its own
    EXPECT_EQ(Stats().replaced, 0);
    EXPECT_EQ(Stat(u"bmd.max_wait_count"), 1);
    EXPECT_EQ(Get(u"stat::ref_status"), u"locked");
    const double t0 = Number(u"stat::bmd.stream_time");

    clock_.Advance(4 * kPeriod);  // three periods pass without a frame
    Play(1);
    EXPECT_EQ(Stat(u"bmd.missed"), 3);
    EXPECT_EQ(Stat(u"bmd.wait_overtime"), 0);
    EXPECT_EQ(Stats().new_frames, 3);
    EXPECT_NEAR(Number(u"stat::bmd.stream_time") - t0, 5 * 0.04, 0.041);

    Fault("reference", 0);  // the reference is pulled out
    Play(1);
    EXPECT_EQ(Get(u"stat::ref_status"), u"none");
    Fault("reference", 1);
    Play(1);
    EXPECT_EQ(Get(u"stat::ref_status"), u"not-supported");

    Fault("display-error", static_cast<double>(0x80004005u));
    Fault("display-error-calls", 2);
    for (int i = 0; i < 3; ++i) Put(Frame(kHD1080i50));
    EXPECT_EQ(Stat(u"bmd.error"), 2);

    // A frame in another format reopens the output: the per-open counters start from zero,
    // the error count goes on.
    Play(1, kHD720p50);
    EXPECT_EQ(Stat(u"bmd.missed"), 0);
    EXPECT_EQ(Output().mode, bmdModeHD720p50);
    EXPECT_EQ(Stat(u"bmd.error"), 2);
    EXPECT_LT(Number(u"stat::bmd.stream_time"), 0.1);
    EXPECT_EQ(Get(u"stat::ref_status"), u"not-supported");
}

TEST_F(DeckLinkClock, FramesAreHandedOverAboutThreeMillisecondsIntoThePeriod) {
    Open();
    struct Seen {
        std::vector<HandOver> all;
        static void Note(void* self, const HandOver& h) {
            if (h.shown) static_cast<Seen*>(self)->all.push_back(h);
        }
    } seen;
    Clock()->SetHandOverObserver(&Seen::Note, &seen);
    Play(6);
    ASSERT_EQ(seen.all.size(), 6u);
    for (std::size_t i = 0; i < seen.all.size(); ++i) {
        EXPECT_GE(seen.all[i].time_in_frame, 20'000) << i;
        EXPECT_LE(seen.all[i].time_in_frame, 30'000) << i;
        if (i) {
            EXPECT_EQ(seen.all[i].period, seen.all[i - 1].period + 1);
        }
    }
    Clock()->SetHandOverObserver(nullptr, nullptr);
}

TEST_F(DeckLinkClock, AHandOverThatRunsIntoTheNextPeriodKeepsItsFrame) {
    Open();
    // The first hand-over takes 38 ms: begun 3 ms into its period, it ends in the next one,
    // where the second frame must not replace it.
    struct Slow {
        orvex::platform::VirtualClock* clock;
        bool done = false;
        static void Note(void* self, const HandOver& h) {
            auto* s = static_cast<Slow*>(self);
            if (!h.shown && !s->done) s->clock->Advance(380'000);
            s->done = true;
        }
    } slow{&clock_};
    Clock()->SetHandOverObserver(&Slow::Note, &slow);
    Play(3);
    Clock()->SetHandOverObserver(nullptr, nullptr);
    EXPECT_EQ(Stats().replaced, 0);
    EXPECT_EQ(Stat(u"bmd.missed"), 0);
}

TEST_F(DeckLinkClock, LateFileFramesAreSkippedAtMostTwiceAndLiveFramesNever) {
    for (bool live : {false, true}) {
        SCOPED_TRACE(live);
        Open("", {{u"output.time_sync", u"true"}});
        ASSERT_EQ(Put(Timed(0, live)), S_OK);
        clock_.Advance(20 * kPeriod);  // the source falls twenty periods behind
        for (int k = 1; k <= 4; ++k) ASSERT_EQ(Put(Timed(k, live)), S_OK);
        EXPECT_EQ(Stat(u"bmd.skipped"), live ? 0 : 3);  // skip, skip, late, skip
        EXPECT_EQ(Stat(u"bmd.late"), live ? 0 : 1);
        if (!live) {
            EXPECT_LT(Number(u"stat::bmd.stream_offset"), -500.0);  // ms behind the card
            EXPECT_NEAR(Number(u"stat::bmd.input_time"), 0.16, 1e-9);
        }
        TearDown();
    }
}

TEST_F(DeckLinkStats, CompletionsOnADriverThreadReachTheQualityFigures) {
    Open();
    Play(1);
    auto* callbacks = renderer_->Callbacks();
    ASSERT_NE(callbacks, nullptr);
    std::thread driver([&] {
        for (BMDOutputFrameCompletionResult r : {0u, 1u, 2u, 3u, 1u})
            callbacks->ScheduledFrameCompleted(nullptr, r);
        callbacks->RenderAudioSamples(FALSE);
    });
    driver.join();
    EXPECT_EQ(Get(u"quality::frames"), u"5");
    EXPECT_EQ(Get(u"quality::late_frames"), u"2");
    EXPECT_NE(Get(u"quality::v_buffers"), u"");
    // After the output closed, a late completion changes nothing.
    device_->DeviceClose();
    callbacks->ScheduledFrameCompleted(nullptr, 1);
    EXPECT_EQ(Get(u"quality::frames"), u"5");
}

TEST(PerfClock, ZeroOrNegativeWaitsReturnAtOnce) {
    orvex::platform::VirtualClock clock(orvex::platform::VirtualClock::Mode::kAutoAdvance, 0);
    PerfClock perf;
    orvex::platform::Ticks now = 7;
    EXPECT_EQ(perf.PreciseWait(0, &now), S_FALSE);
    EXPECT_EQ(now, -1);
    EXPECT_EQ(perf.PreciseWait(12'345, &now), S_OK);
    EXPECT_EQ(now, 12'345);
}

// A plain stand-in frame is the card's double-height image; a pair is shown as given.
TEST(DeckLink3D, ADoubleHeightImageIsPresentedAsTwoEyes) {
    FakeDeckFrame raw(1920, 2160, bmdFormat8BitYUV, 3840);
    IDeckLinkVideoFrame* full = &raw;
    CComPtr<IDeckLinkVideoFrame> frame;
    ASSERT_EQ(Create3DFrame(&frame, full, nullptr), S_OK);
    EXPECT_EQ(frame->GetWidth(), 1920);
    EXPECT_EQ(frame->GetHeight(), 1080);
    void* left = nullptr;
    ASSERT_EQ(frame->GetBytes(&left), S_OK);
    EXPECT_EQ(left, raw.bytes.data());

    CComPtr<IDeckLinkVideoFrame3DExtensions> ext;
    ASSERT_EQ(frame.QueryInterface(&ext), S_OK);
    EXPECT_EQ(ext->Get3DPackingFormat(), bmdVideo3DPackingLeftOnly);
    EXPECT_EQ(ext->GetFrameForRightEye(nullptr), E_POINTER);
    CComPtr<IDeckLinkVideoFrame> right;
    ASSERT_EQ(ext->GetFrameForRightEye(&right), S_OK);
    void* r = nullptr;
    ASSERT_EQ(right->GetBytes(&r), S_OK);
    EXPECT_EQ(static_cast<std::uint8_t*>(r) - raw.bytes.data(), 3840 * 1080);
    EXPECT_EQ(right->GetHeight(), 1080);
    EXPECT_EQ(right->GetBytes(nullptr), E_POINTER);

    CComPtr<IDeckLinkVideoFrame> none, pair, same;
    EXPECT_EQ(Create3DFrame(&none, nullptr, nullptr), E_INVALIDARG);
    ASSERT_EQ(Create3DFrame(&pair, full, full), S_OK);
    CComPtr<IDeckLinkVideoFrame3DExtensions> pair_ext;
    ASSERT_EQ(pair.QueryInterface(&pair_ext), S_OK);
    ASSERT_EQ(pair_ext->GetFrameForRightEye(&same), S_OK);
    EXPECT_EQ(same.p, full);
}

}  // namespace
