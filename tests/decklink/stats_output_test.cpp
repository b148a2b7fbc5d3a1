// The statistics a host reads through IOXProps after runs on the virtual card with late
// frames, missed periods, a lost reference, failing displays and reopened outputs, and the
// quality figures of completions that arrive on a driver thread.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "output_fixture.h"

namespace {

using orvex::test::DeckLinkOutputTest;

constexpr int kHD1080i50 = 14;
constexpr int kHD720p50 = 6;
constexpr orvex::platform::Ticks kPeriod = 400'000;

class DeckLinkStats : public DeckLinkOutputTest {
protected:
    double Number(const char16_t* name) { return std::stod(std::string(Narrow(Get(name)))); }
    static std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }
};

TEST_F(DeckLinkStats, FiguresFollowWhatHappenedAndPerOpenCountersStartAgain) {
    Open();
    EXPECT_EQ(Get(u"stat::ref_status"), u"");  // nothing shown yet
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Put(Frame(kHD1080i50)), S_OK);
    EXPECT_EQ(Get(u"stat::ref_status"), u"locked");
    const double t0 = Number(u"stat::bmd.stream_time");

    clock_.Advance(4 * kPeriod);  // three periods pass without a frame
    ASSERT_EQ(Put(Frame(kHD1080i50)), S_OK);
    EXPECT_EQ(Stat(u"bmd.missed"), 3);
    EXPECT_NEAR(Number(u"stat::bmd.stream_time") - t0, 5 * 0.04, 0.041);

    Fault("reference", 0);  // the reference is pulled out
    ASSERT_EQ(Put(Frame(kHD1080i50)), S_OK);
    EXPECT_EQ(Get(u"stat::ref_status"), u"none");
    Fault("reference", 1);
    ASSERT_EQ(Put(Frame(kHD1080i50)), S_OK);
    EXPECT_EQ(Get(u"stat::ref_status"), u"not-supported");

    Fault("display-error", static_cast<double>(0x80004005u));
    Fault("display-error-calls", 2);
    for (int i = 0; i < 3; ++i) Put(Frame(kHD1080i50));
    EXPECT_EQ(Stat(u"bmd.error"), 2);

    // A frame in another format reopens the output: the per-open counters start from zero,
    // the error count goes on.
    ASSERT_EQ(Put(Frame(kHD720p50)), S_OK);
    EXPECT_EQ(Stat(u"bmd.missed"), 0);
    EXPECT_EQ(Output().mode, bmdModeHD720p50);
    EXPECT_EQ(Stat(u"bmd.error"), 2);
    EXPECT_LT(Number(u"stat::bmd.stream_time"), 0.1);
    EXPECT_EQ(Get(u"stat::ref_status"), u"not-supported");
}

TEST_F(DeckLinkStats, LateFramesShowInTheirOwnFiguresAndOffset) {
    Open("", {{u"output.time_sync", u"true"}});
    M_TIME t{};
    for (int k = 0; k < 2; ++k) {
        CComPtr<IOXFrame> f = Frame(kHD1080i50);
        t.rtStartTime = k * kPeriod;
        f->OXTimeSet(&t);
        ASSERT_EQ(Put(f), S_OK);
    }
    clock_.Advance(20 * kPeriod);  // the source falls far behind
    for (int k = 2; k < 5; ++k) {
        CComPtr<IOXFrame> f = Frame(kHD1080i50);
        t.rtStartTime = k * kPeriod;
        f->OXTimeSet(&t);
        ASSERT_EQ(Put(f), S_OK);
    }
    EXPECT_EQ(Stat(u"bmd.skipped"), 2);
    EXPECT_EQ(Stat(u"bmd.late"), 1);
    EXPECT_LT(Number(u"stat::bmd.stream_offset"), -500.0);  // ms behind the card
    EXPECT_NEAR(Number(u"stat::bmd.input_time"), 0.16, 1e-9);
}

TEST_F(DeckLinkStats, CompletionsOnADriverThreadReachTheQualityFigures) {
    Open();
    ASSERT_EQ(Put(Frame(kHD1080i50)), S_OK);
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

}  // namespace
