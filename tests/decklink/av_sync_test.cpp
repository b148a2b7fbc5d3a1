// Audio on its video, read from what the virtual card recorded: every frame's first sample
// leaves the card exactly at the start of the frame's first period, and after any disturbance
// the next frame is back on its period.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "output_fixture.h"
#include "platform/process.h"
#include "support/recording_reader.h"

namespace {

using namespace orvex::test;
namespace fs = std::filesystem;

void VirtualSleepUntil(std::int64_t deadline, void*) {
    orvex::platform::SleepUntil(deadline);
}

class DeckLinkAvSync : public DeckLinkOutputTest {
protected:
    using DeckLinkOutputTest::DeckLinkOutputTest;

    void SetUp() override {
        DeckLinkOutputTest::SetUp();
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        folder_ = g_temp_registry->dir() / name;
        fs::remove_all(folder_);
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_RECORD", folder_.string());
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_PICTURES", "checksum");
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_AUDIO_MARKERS", "1");
        SetSleep()(&VirtualSleepUntil, nullptr);
    }
    void TearDown() override {
        DeckLinkOutputTest::TearDown();
        SetSleep()(nullptr, nullptr);
        orvex::platform::UnsetEnvVar("ORVEX_DECKLINK_RECORD");
        orvex::platform::UnsetEnvVar("ORVEX_DECKLINK_PICTURES");
        orvex::platform::UnsetEnvVar("ORVEX_DECKLINK_AUDIO_MARKERS");
    }
    OxSimSetSleepFn SetSleep() {
        return reinterpret_cast<OxSimSetSleepFn>(rig_.CardLibrary().Symbol(OX_SIM_SET_SLEEP));
    }

    // Frame `n` of `format`, its audio `samples` long (2 channels, 32 bits) and marked.
    CComPtr<IOXFrame> Marked(int n, int samples, int format = kHD1080i50, bool live = false) {
        CComPtr<IOXFrame> f = Frame(format, eMFCC_UYVY, samples, 32, 2);
        OX_FRAME_INFO info{};
        f->OXAllGet(&info);
        if (info.lpAudio && info.cbAudio >= 4) {
            const std::int32_t marker = Marker(n);
            std::memcpy(reinterpret_cast<void*>(static_cast<std::uintptr_t>(info.lpAudio)), &marker,
                        4);
        }
        if (live) {
            M_TIME t{};
            f->OXTimeGet(&t);
            t.eFFlags = eMFF_Live;
            f->OXTimeSet(&t);
        }
        return f;
    }
    // Ends the output, so the recording holds every period that played.
    void Finish() {
        clock_.Advance(3 * kPeriod);
        ASSERT_EQ(device_->DeviceClose(), S_OK);
    }
    // The recording of the n-th output the renderer opened (choosing the card enabled one
    // without frames, which recorded nothing).
    std::string Recording(int n = 1) const {
        return (folder_ / ("out-1-" + std::to_string(n + 1))).string();
    }

    // From now to the last tick of the first 166,834-tick period of 59.94 after this one.
    orvex::platform::Ticks ToLastTickOfALongPeriod() {
        const auto start = [](std::int64_t k) { return (k * 10'010'000 + 59) / 60; };
        const orvex::platform::Ticks now = Stats().clock;
        std::int64_t k = now * 60 / 10'010'000 + 1;
        while (start(k + 1) - start(k) != 166'834) ++k;
        return start(k + 1) - 1 - now;
    }

    // 60 frames of 720p59.94 with the 1001 rate's audio cadence; with `late`, frame 30 comes on
    // the last tick of a long period, which the frame clock reads as the next period's.
    void PlayTheNtscCadence(bool late) {
        Open();
        for (int n = 0; n < 60; ++n) {
            if (late && n == 30) clock_.Advance(ToLastTickOfALongPeriod());
            const int samples = static_cast<int>((n + 1) * 48048LL / 60 - n * 48048LL / 60);
            ASSERT_EQ(Put(Marked(n, samples, kHD720p5994)), S_OK);
        }
        Finish();
        EXPECT_EQ(ExpectAudioOnItsPeriods(Recording(), 0, true, {}, 1), 60);
        EXPECT_EQ(Stat(u"bmd.audio_realigned"), late ? 1 : 0);
        const OxSimCardStats s = Stats();
        EXPECT_EQ(s.marked_frames, 60);
        EXPECT_LE(s.marker_offset_max - s.marker_offset_min, 1);
    }

    fs::path folder_;
};

// Sample frames per 1080i50 frame.
constexpr int kSamples = 1920;
constexpr int kFrames = 40, kHit = 20;

// Each row disturbs the output just before frame `at` is put; every other frame must start on
// its period, and no frame may go missing or out of order.
struct Disturbance {
    const char* name;
    int at;
    orvex::platform::Ticks host_late;                    // the host brings frame `at` this late
    std::vector<std::pair<const char*, double>> faults;  // the card's, from frame `at` on
    std::set<int> may_lose;  // frames whose first samples the disturbance may take
    bool realigns;           // the renderer must have corrected something
};

class DeckLinkAvSyncTable : public DeckLinkAvSync,
                            public ::testing::WithParamInterface<Disturbance> {};

TEST_P(DeckLinkAvSyncTable, EveryFrameStartsOnItsPeriod) {
    const Disturbance& d = GetParam();
    Open("", {{u"output.10bit", u"true"}});
    for (int n = 0; n < kFrames; ++n) {
        if (n == d.at) {
            clock_.Advance(d.host_late);
            for (const auto& [name, value] : d.faults) Fault(name, value);
        }
        ASSERT_EQ(Put(Marked(n, kSamples)), S_OK) << n;
    }
    Finish();
    EXPECT_EQ(ExpectAudioOnItsPeriods(Recording(), 0, true, d.may_lose), kFrames);
    // The card's own measure, which the benchmarks read, agrees.
    const OxSimCardStats s = Stats();
    EXPECT_EQ(s.marked_frames + s.unmarked_frames, kFrames);
    if (d.may_lose.empty()) {
        EXPECT_EQ(s.unmarked_frames, 0);
        EXPECT_EQ(s.marker_offset_min, 0);
        EXPECT_EQ(s.marker_offset_max, 0);
    }
    if (d.realigns)
        EXPECT_GT(Stat(u"bmd.audio_realigned"), 0);
    else
        EXPECT_EQ(Stat(u"bmd.audio_realigned"), 0);
    EXPECT_EQ(Stat(u"bmd.audio_dropped"), 0);
}

const Disturbance kDisturbances[] = {
    {"Steady", 0, 0, {}, {}, false},
    // The host brings frame 20 late: the last frame repeats, its audio runs out.
    {"HostLate", kHit, kPeriod * 5 / 2, {}, {}, true},
    // The queue's worker is held up before it hands frame 20 over.
    {"WorkerLate", kHit, 0, {{"late-clock-us", 95'000}}, {}, true},
    // The card takes frame 20 so slowly that it goes on air a period later.
    {"SlowTransfer", kHit, 0, {{"late-display-us", 45'000}}, {kHit}, true},
    // The write of frame 20's audio runs 60 ms late: the card still holds more than that.
    {"AudioWriteLate", kHit, 0, {{"late-audio-us", 60'000}}, {}, false},
    // 100 ms late, the card ran dry: frame 20's audio landed late and is taken back before
    // frame 21, which starts on its period.
    {"AudioWriteVeryLate", kHit, 0, {{"late-audio-us", 100'000}}, {kHit}, true},
    // The card takes all but 500 sample frames of frame 20's audio: the rest follows in time.
    {"CardTakesPart", kHit, 0, {{"audio-refuse", 500}, {"audio-refuse-calls", 2}}, {}, false},
    // The card's clock runs 100 ppm fast or slow against the host's.
    {"CardClockFast", 0, 0, {{"drift-ppm", 100}}, {}, false},
    {"CardClockSlow", 0, 0, {{"drift-ppm", -100}}, {}, false},
};

void PrintTo(const Disturbance& d, std::ostream* os) {
    *os << d.name;
}

INSTANTIATE_TEST_SUITE_P(Disturbances, DeckLinkAvSyncTable, ::testing::ValuesIn(kDisturbances),
                         [](const auto& info) { return std::string(info.param.name); });

// Frames that were never shown take their audio with them: late file frames skipped with
// "output.time_sync", a live frame dropped before the renderer. The frames around them stay on
// their periods.
TEST_F(DeckLinkAvSync, SkippedFramesTakeTheirAudio) {
    Open("", {{u"output.time_sync", u"true"}});
    for (int n = 0; n < kFrames; ++n) {
        if (n == kHit) clock_.Advance(3 * kPeriod);  // frame 20 and 21 are late: skipped
        CComPtr<IOXFrame> f = Marked(n, kSamples);
        M_TIME t{};
        t.rtStartTime = n * kPeriod;
        t.rtEndTime = (n + 1) * kPeriod;
        f->OXTimeSet(&t);
        ASSERT_EQ(Put(f), S_OK);
    }
    Finish();
    EXPECT_GT(Stat(u"bmd.skipped"), 0);
    EXPECT_EQ(ExpectAudioOnItsPeriods(Recording(), 0, false), kFrames - Stat(u"bmd.skipped"));
}

TEST_F(DeckLinkAvSync, ADroppedLiveFrameTakesItsAudio) {
    Open();
    for (int n = 0; n < kFrames; ++n)
        if (n != kHit) {
            ASSERT_EQ(Put(Marked(n, kSamples, kHD1080i50, true)), S_OK);
        }
    Finish();
    EXPECT_EQ(ExpectAudioOnItsPeriods(Recording(), 0, false), kFrames - 1);
}

// A new format reopens the output: the new stream starts on its period at once.
TEST_F(DeckLinkAvSync, AReopenStartsOnItsPeriod) {
    Open();
    for (int n = 0; n < 10; ++n) ASSERT_EQ(Put(Marked(n, kSamples)), S_OK);
    for (int n = 10; n < 30; ++n) ASSERT_EQ(Put(Marked(n, 960, kHD720p50)), S_OK);
    Finish();
    EXPECT_EQ(ExpectAudioOnItsPeriods(Recording(1), 0, true), 10);
    EXPECT_EQ(ExpectAudioOnItsPeriods(Recording(2), 10, true), 20);
    EXPECT_EQ(Stat(u"bmd.audio_dropped"), 0);
    // The clock's thread says what scheduling it got.
    EXPECT_NE(Get(u"stat::thread_priority"), u"");
}

// With its own audio thread the renderer keeps the same promise; the thread's write running
// late (past what the card holds) costs only the frame it carried (19 or 20: the thread may not
// have written 19 yet when the fault is set). The manual clock moves a millisecond at a time, only
// while the renderer's two threads both wait.
class DeckLinkAvSyncThreaded : public DeckLinkAvSync {
protected:
    DeckLinkAvSyncThreaded() : DeckLinkAvSync(orvex::platform::VirtualClock::Mode::kManual) {}
};

TEST_F(DeckLinkAvSyncThreaded, TheAudioThreadKeepsEveryFrameOnItsPeriod) {
    Open("", {{u"experimental.direct_audio_thread", u"true"}});
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            if (clock_.IdleThreads() >= 2)
                clock_.Advance(orvex::platform::kTicksPerMillisecond);
            else
                std::this_thread::yield();
        }
    });
    for (int n = 0; n < kFrames; ++n) {
        if (n == kHit) Fault("late-audio-us", 100'000);
        EXPECT_EQ(Put(Marked(n, kSamples)), S_OK) << n;
    }
    while (clock_.IdleThreads() < 1) std::this_thread::yield();  // the last frame's audio
    Finish();  // the close waits for the last frame's period: the clock still moves
    stop = true;
    ticker.join();
    EXPECT_EQ(ExpectAudioOnItsPeriods(Recording(), 0, true, {kHit - 1, kHit}), kFrames);
    EXPECT_GT(Stat(u"bmd.audio_realigned"), 0);
}

// The 1001 rates' periods start between two samples: frames cut in the usual cadence start
// within a sample of their periods and are left there, without a correction (moving them by a
// sample would click). Their periods are 166,833 or 166,834 ticks long, so the card's clock
// may read a whole period of time into one (a host a little slower than the card meets that
// now and then): a frame brought then still has its audio placed for its picture's period.
TEST_F(DeckLinkAvSync, TheNtscCadenceNeedsNoCorrection) {
    PlayTheNtscCadence(false);
}

TEST_F(DeckLinkAvSync, AFrameOnTheLastTickOfALongPeriodIsPlacedForTheNextPeriod) {
    PlayTheNtscCadence(true);
}

}  // namespace
