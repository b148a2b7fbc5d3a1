// The frame clock against the card's hardware clock, on the virtual clock: periods, waits,
// missed periods, late frames, and the 3D frame objects the card receives.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "captions_fakes.h"
#include "decklink/frame_3d.h"
#include "output_fixture.h"

namespace {

using orvex::test::DeckLinkOutputTest;
using namespace orvex::decklink;

constexpr int kHD1080i50 = 14;
constexpr orvex::platform::Ticks kPeriod = 400'000;  // 25 frames per second

class DeckLinkClock : public DeckLinkOutputTest {
protected:
    CComPtr<IOXFrame> Timed(int k, bool live) {
        CComPtr<IOXFrame> f = Frame(kHD1080i50);
        M_TIME t{};
        t.rtStartTime = k * kPeriod;
        t.rtEndTime = (k + 1) * kPeriod;
        t.eFFlags = live ? eMFF_Live : eMFF_None;
        f->OXTimeSet(&t);
        return f;
    }
};

TEST_F(DeckLinkClock, EachFrameGetsAPeriodOfItsOwnAndGapsCountAsMissed) {
    Open();
    // Frames handed over back to back: each waits for the next period.
    for (int i = 0; i < 4; ++i) ASSERT_EQ(Put(Frame(kHD1080i50)), S_OK);
    EXPECT_EQ(Stats().replaced, 0);
    EXPECT_EQ(Stat(u"bmd.missed"), 0);
    EXPECT_EQ(Stat(u"bmd.max_wait_count"), 1);
    // Three periods pass before the next frame: two were missed.
    clock_.Advance(3 * kPeriod);
    ASSERT_EQ(Put(Frame(kHD1080i50)), S_OK);
    EXPECT_EQ(Stat(u"bmd.missed"), 2);
    EXPECT_EQ(Stat(u"bmd.wait_overtime"), 0);
    EXPECT_EQ(Stats().new_frames, 4);
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
    for (int i = 0; i < 6; ++i) ASSERT_EQ(Put(Frame(kHD1080i50)), S_OK);
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

TEST_F(DeckLinkClock, LateFileFramesAreSkippedAtMostTwiceAndLiveFramesNever) {
    for (bool live : {false, true}) {
        SCOPED_TRACE(live);
        Open("", {{u"output.time_sync", u"true"}});
        ASSERT_EQ(Put(Timed(0, live)), S_OK);
        clock_.Advance(10 * kPeriod);  // the source falls ten periods behind
        for (int k = 1; k <= 4; ++k) ASSERT_EQ(Put(Timed(k, live)), S_OK);
        EXPECT_EQ(Stat(u"bmd.skipped"), live ? 0 : 3);  // skip, skip, late, skip
        EXPECT_EQ(Stat(u"bmd.late"), live ? 0 : 1);
        TearDown();
    }
}

TEST_F(DeckLinkClock, AudioFromItsOwnThreadKeepsUp) {
    Open("", {{u"experimental.direct_audio_thread", u"true"}});
    for (int i = 0; i < 10; ++i) ASSERT_EQ(Put(Frame(kHD1080i50, eMFCC_UYVY, 1920)), S_OK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Clock()->AudioSamplesWritten() < 19'200 - 128 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_GE(Clock()->AudioSamplesWritten(), 19'200 - 128);
    EXPECT_LE(Clock()->AudioSamplesWritten(), 19'200);
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

// A plain stand-in frame is the card's double-height image.
TEST(DeckLink3D, ADoubleHeightImageIsPresentedAsTwoEyes) {
    orvex::test::FakeDeckFrame raw(1920, 2160, bmdFormat8BitYUV, 3840);
    IDeckLinkVideoFrame* full = &raw;
    CComPtr<IDeckLinkVideoFrame> frame;
    ASSERT_EQ(Create3DFrame(&frame, full, nullptr), S_OK);
    ASSERT_TRUE(frame);
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

    CComPtr<IDeckLinkVideoFrame> none;
    EXPECT_EQ(Create3DFrame(&none, nullptr, nullptr), E_INVALIDARG);
    CComPtr<IDeckLinkVideoFrame> pair;
    ASSERT_EQ(Create3DFrame(&pair, full, full), S_OK);
    CComPtr<IDeckLinkVideoFrame3DExtensions> pair_ext;
    ASSERT_EQ(pair.QueryInterface(&pair_ext), S_OK);
    CComPtr<IDeckLinkVideoFrame> same;
    ASSERT_EQ(pair_ext->GetFrameForRightEye(&same), S_OK);
    EXPECT_EQ(same.p, full);
}

}  // namespace
