// The AJA renderer over virtual boards: names, claims across processes, format locks, set-up
// and routing per format, playout with its recording, a format change and the boards' faults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "aja/aja_locker.h"
#include "aja/ntv2/ntv2driver.h"
#include "aja/ntv2/ntv2utils.h"
#include "aja_fixture.h"
#include "platform/module_info.h"
#include "platform/process.h"
#include "platform/text.h"
#include "support/recording_reader.h"

namespace {

namespace fs = std::filesystem;
using orvex::platform::kTicksPerMillisecond;
using orvex::test::AjaTest;

using orvex::test::kQuadBoard;
using orvex::test::kStudioBoard;

constexpr const char* kMonoBoard =
    R"(<board model="Mono" frame-stores="1" sdi-out="1" hdmi-out="1" analog-out="1"
        multi-format="false" formats="sd,hd" audio-systems="1" audio-channels="8"
        frame-buffers="16"/>)";

constexpr orvex::platform::Ticks kNtscPeriod = 10'010'000 / 30 + 1;

std::u16string NameAt(IOXDevice* device, int index, BOOL* busy = nullptr) {
    CComBSTR name;
    BOOL b = FALSE;
    EXPECT_EQ(device->DeviceGetByIndex(eOXDT_Video, index, &name, &b), S_OK);
    if (busy) *busy = b;
    return std::u16string(name.View());
}

TEST_F(AjaTest, EveryChannelIsListedUnderAUniqueNameAndNoBoardsListNothing) {
    Make(std::string(kQuadBoard) + kStudioBoard + kStudioBoard + kMonoBoard);
    int count = 0;
    ASSERT_EQ(device_->DeviceGetCount(eOXDT_Video, &count), S_OK);
    const std::u16string expected[] = {
        u"AJA Quad - 0 Ch 1",   u"AJA Quad - 0 Ch 2",   u"AJA Quad - 0 Ch 3",
        u"AJA Quad - 0 Ch 4",   u"AJA Studio Ch 1",     u"AJA Studio Ch 2",
        u"AJA Studio Ch 1 (0)", u"AJA Studio Ch 2 (0)", u"AJA Mono - 3"};
    ASSERT_EQ(count, 9);
    for (int i = 0; i < count; ++i) EXPECT_EQ(NameAt(device_, i), expected[i]) << i;
    CComBSTR name;
    BOOL busy = FALSE;
    for (int bad : {-1, 9})
        EXPECT_EQ(device_->DeviceGetByIndex(eOXDT_Video, bad, &name, &busy), E_INVALID_INDEX);
    int index = -1;
    ASSERT_EQ(device_->DeviceGet(eOXDT_Video, &index, &name), S_OK);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(device_->DeviceSet(eOXDT_Video, 0, nullptr), S_FALSE);
    EXPECT_EQ(device_->DeviceSet(eOXDT_Video, 9, nullptr), E_INVALID_INDEX);
    EXPECT_EQ(device_->DeviceSet(eOXDT_Video, 5, nullptr), S_OK);
    name.Empty();  // an out-parameter: the call does not free what it held
    ASSERT_EQ(device_->DeviceGet(eOXDT_Video, &index, &name), S_OK);
    EXPECT_EQ(index, 5);
    EXPECT_EQ(name.View(), u"AJA Studio Ch 2");
    EXPECT_EQ(device_->DeviceOpen(nullptr, nullptr), S_FALSE);

    // No boards: an empty list, and frames go nowhere.
    Make("");
    ASSERT_EQ(device_->DeviceGetCount(eOXDT_Video, &count), S_OK);
    EXPECT_EQ(count, 0);
    name.Empty();
    EXPECT_EQ(device_->DeviceGet(eOXDT_Video, &index, &name), E_NO_DEVICE);
    Set(u"input.buffers", u"0");
    EXPECT_EQ(Put(Frame(eMVF_NTSC, 720, 486, 29.97, 1, 1602)), S_OK);
}

// Holds a channel claim until told to die, then ends without letting it go (no destructor
// runs: only the system's clean-up of a dead process can free it). Started by the test below
// as a process of its own.
TEST(AjaClaimHolder, Hold) {
    const char* dir = std::getenv("ORVEX_AJA_HOLD_CLAIM");
    if (!dir) GTEST_SKIP() << "only run as the helper process";
    auto claim = orvex::aja::ClaimChannel("Studio", 1);
    if (!claim) std::_Exit(2);
    std::ofstream(fs::path(dir) / "claimed") << "1";
    while (!fs::exists(fs::path(dir) / "die"))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::_Exit(3);
}

TEST_F(AjaTest, AChannelClaimedByAnotherProcessIsBusyUntilThatProcessDies) {
    Make(kStudioBoard);
    const fs::path dir = fs::path(orvex::test::g_temp_registry->dir()) / "holder";
    fs::create_directories(dir);
    static const char anchor = 0;
    orvex::platform::SetEnvVar("ORVEX_AJA_HOLD_CLAIM", dir.string());
    ASSERT_TRUE(orvex::platform::LaunchDetached(orvex::platform::ModulePathOf(&anchor),
                                                {"--gtest_filter=AjaClaimHolder.Hold"}));
    orvex::platform::UnsetEnvVar("ORVEX_AJA_HOLD_CLAIM");
    // In real time: another process.
    auto wait = [](auto done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return done();
    };
    ASSERT_TRUE(wait([&] { return fs::exists(dir / "claimed"); }));
    BOOL busy = FALSE;
    NameAt(device_, 1, &busy);
    EXPECT_TRUE(busy);
    NameAt(device_, 0, &busy);
    EXPECT_FALSE(busy);
    // Playing on the taken channel is refused: nothing reaches its ring.
    ASSERT_EQ(device_->DeviceSet(eOXDT_Video, 1, nullptr), S_OK);
    EXPECT_EQ(device_->DeviceSet(eOXDT_Video, 0, nullptr), E_BUSY) << "current is claimed";
    Set(u"input.buffers", u"0");
    EXPECT_EQ(Put(Frame(eMVF_NTSC, 720, 486, 29.97, 1, 1602)), S_OK);
    EXPECT_EQ(rig_.Stats(0, 1).sessions, 0);
    // The claim goes with its process.
    std::ofstream(dir / "die") << "1";
    EXPECT_TRUE(wait([&] { return !orvex::aja::ChannelBusy("Studio", 1); }));
    NameAt(device_, 1, &busy);
    EXPECT_FALSE(busy);
    EXPECT_EQ(device_->DeviceSet(eOXDT_Video, 0, nullptr), S_OK);
}

TEST(AjaLocks, FormatClaimsAreSharedOnlyByTheSameFormatOrRateFamily) {
    using orvex::aja::ClaimFormat;
    using orvex::aja::FormatLockNumber;
    struct Row {
        NTV2VideoFormat first, second;
        bool byRate, shared;
    };
    const Row rows[] = {
        {NTV2_FORMAT_1080i_5000, NTV2_FORMAT_1080i_5000, false, true},
        {NTV2_FORMAT_1080i_5000, NTV2_FORMAT_1080p_2500, false, false},
        {NTV2_FORMAT_1080i_5000, NTV2_FORMAT_720p_5000, true, true},
        {NTV2_FORMAT_1080p_5994_A, NTV2_FORMAT_1080i_5994, true, true},
        {NTV2_FORMAT_1080p_6000_A, NTV2_FORMAT_1080p_3000, true, true},
        {NTV2_FORMAT_1080i_5000, NTV2_FORMAT_1080i_5994, true, false},
        {NTV2_FORMAT_720p_5994, NTV2_FORMAT_720p_6000, true, false},
    };
    int n = 0;
    for (const Row& r : rows) {
        const std::string board = "locks-" +
                                  orvex::test::g_temp_registry->dir().filename().string() + "-" +
                                  std::to_string(n++);
        auto a = ClaimFormat(board, FormatLockNumber(r.first, r.byRate));
        ASSERT_TRUE(a);
        auto b = ClaimFormat(board, FormatLockNumber(r.second, r.byRate));
        EXPECT_EQ(b != nullptr, r.shared) << r.first << " " << r.second;
        // Once everybody lets go, any format may claim the board.
        a.reset();
        b.reset();
        EXPECT_TRUE(ClaimFormat(board, FormatLockNumber(r.second, r.byRate)));
    }
    EXPECT_EQ(FormatLockNumber(NTV2_FORMAT_UNKNOWN, true), 0u);
    auto c = orvex::aja::ClaimChannel("locks-ch", 0);
    ASSERT_TRUE(c);
    EXPECT_FALSE(orvex::aja::ClaimChannel("locks-ch", 0));
    c.reset();
    EXPECT_TRUE(orvex::aja::ClaimChannel("locks-ch", 0));
}

struct SetUpRow {
    const char* what;
    const char* board;
    eMVideoFormat format;
    int width, height;
    std::vector<std::pair<const char16_t*, const char16_t*>> props;
    // Expected board state (channel 1).
    NTV2VideoFormat ntv2;
    NTV2ReferenceSource reference;
    NTV2VANCMode vanc;
    bool hdmi, analog;
};

class AjaSetUp : public AjaTest, public ::testing::WithParamInterface<SetUpRow> {};

TEST_P(AjaSetUp, ProgramsTheBoardForTheFormat) {
    const SetUpRow& r = GetParam();
    Make(r.board);
    for (const auto& [name, value] : r.props) Set(name, value);
    Put(Frame(r.format, r.width, r.height, 25, 1, 1920));
    ASSERT_TRUE(Opened());
    auto reg = [&](std::uint32_t n) { return rig_.Register(0, n); };
    EXPECT_EQ(reg(OX_NTV2_REG_VIDEO_FORMAT), r.ntv2);
    EXPECT_EQ(reg(OX_NTV2_REG_FRAME_BUFFER_FMT), NTV2_FBF_8BIT_YCBCR);
    EXPECT_EQ(reg(OX_NTV2_REG_REFERENCE), r.reference);
    EXPECT_EQ(reg(OX_NTV2_REG_VANC_MODE), r.vanc);
    EXPECT_EQ(reg(OX_NTV2_REG_VANC_SHIFT), r.vanc != NTV2_VANCMODE_OFF ? 1u : 0u);
    EXPECT_EQ(reg(OX_NTV2_REG_TASK_MODE), NTV2_OEM_TASKS);
    EXPECT_EQ(reg(OX_NTV2_REG_CHANNEL_DISABLE), 0u);
    EXPECT_EQ(reg(OX_NTV2_REG_OUTPUT_INTERRUPT), 1u);
    EXPECT_EQ(reg(OX_NTV2_REG_ROUTE + NTV2_XptSDIOut1Input), NTV2_XptFrameBuffer1YUV);
    EXPECT_EQ(reg(OX_NTV2_REG_ROUTE + NTV2_XptHDMIOutInput),
              r.hdmi ? NTV2_XptFrameBuffer1YUV : NTV2_XptBlack);
    EXPECT_EQ(reg(OX_NTV2_REG_ROUTE + NTV2_XptAnalogOutInput),
              r.analog ? NTV2_XptFrameBuffer1YUV : NTV2_XptBlack);
    EXPECT_EQ(reg(OX_NTV2_REG_SDI_STANDARD), GetNTV2StandardFromVideoFormat(r.ntv2));
    EXPECT_EQ(reg(OX_NTV2_REG_AUDIO_RATE), NTV2_AUDIO_48K);
    EXPECT_EQ(reg(OX_NTV2_REG_AUDIO_BUFFER), NTV2_AUDIO_BUFFER_BIG);
    EXPECT_EQ(reg(OX_NTV2_REG_SDI_AUDIO_SYSTEM), NTV2_AUDIOSYSTEM_1);
}

// clang-format off
const SetUpRow kSetUpRows[] = {
    {"defaults", kMonoBoard, eMVF_HD1080_50i, 1920, 1080, {}, NTV2_FORMAT_1080i_5000, NTV2_REFERENCE_FREERUN, NTV2_VANCMODE_OFF, true, true},
    {"no hdmi, no analog", kMonoBoard, eMVF_PAL, 720, 576, {{u"hdmi-out", u"false"}, {u"analog-out", u"false"}}, NTV2_FORMAT_625_5000, NTV2_REFERENCE_FREERUN, NTV2_VANCMODE_OFF, false, false},
    {"external ref, case ignored", kMonoBoard, eMVF_HD720_50p, 1280, 720, {{u"ref-in", u"EXTERNAL"}}, NTV2_FORMAT_720p_5000, NTV2_REFERENCE_EXTERNAL, NTV2_VANCMODE_OFF, true, true},
    {"misspelt ref", kMonoBoard, eMVF_HD720_50p, 1280, 720, {{u"ref-in", u"sdi 1"}}, NTV2_FORMAT_720p_5000, NTV2_REFERENCE_FREERUN, NTV2_VANCMODE_OFF, true, true},
    {"refused ref falls back", kMonoBoard, eMVF_HD720_50p, 1280, 720, {{u"ref-in", u"hdmi"}}, NTV2_FORMAT_720p_5000, NTV2_REFERENCE_FREERUN, NTV2_VANCMODE_OFF, true, true},
    {"sdi2 ref", kQuadBoard, eMVF_HD1080_25p, 1920, 1080, {{u"ref-in", u"sdi2"}}, NTV2_FORMAT_1080p_2500, NTV2_REFERENCE_INPUT2, NTV2_VANCMODE_OFF, true, false},
    {"vanc", kMonoBoard, eMVF_HD1080_50i, 1920, 1080, {{u"vanc.enabled", u"true"}}, NTV2_FORMAT_1080i_5000, NTV2_REFERENCE_FREERUN, NTV2_VANCMODE_TALL, true, true},
    {"wide vanc", kMonoBoard, eMVF_NTSC, 720, 486, {{u"vanc.enabled", u"true"}, {u"vanc.wide", u"true"}}, NTV2_FORMAT_525_5994, NTV2_REFERENCE_FREERUN, NTV2_VANCMODE_TALLER, true, true},
    {"no vanc in uhd", kQuadBoard, eMVF_4K_UHD_25p, 3840, 2160, {{u"vanc.enabled", u"true"}}, NTV2_FORMAT_4x1920x1080p_2500, NTV2_REFERENCE_FREERUN, NTV2_VANCMODE_OFF, true, false},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Formats, AjaSetUp, ::testing::ValuesIn(kSetUpRows), [](const auto& info) {
    std::string s;
    for (const char* p = info.param.what; *p; ++p)
        s += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return s;
});

TEST_F(AjaTest, BidirectionalConnectorsTransmitAndTheRingUsesTheChannelsFrames) {
    Make(kQuadBoard);
    ASSERT_EQ(device_->DeviceSet(eOXDT_Video, 2, nullptr), S_OK);
    Put(Frame(eMVF_HD1080_50i, 1920, 1080, 25, 1, 1920));
    ASSERT_TRUE(Opened(2));
    EXPECT_EQ(rig_.Register(0, OX_NTV2_REG_SDI_TRANSMIT + 2), 1u);
    EXPECT_EQ(rig_.Register(0, OX_NTV2_REG_ROUTE + NTV2_XptSDIOut3Input), NTV2_XptFrameBuffer3YUV);
    EXPECT_EQ(rig_.Register(0, OX_NTV2_REG_SDI_AUDIO_SYSTEM + 2), NTV2_AUDIOSYSTEM_3);
    EXPECT_EQ(rig_.Register(0, OX_NTV2_REG_AUDIO_CHANNELS + 2), 16u);
    EXPECT_EQ(rig_.Register(0, OX_NTV2_REG_MULTI_FORMAT), 1u);
}

TEST_F(AjaTest, UnsupportedOrLockedFormatsAreRefused) {
    Make(kStudioBoard);
    Set(u"input.buffers", u"0");
    // UHD on an HD board, and a custom format.
    for (auto [format, w, h] :
         {std::tuple{eMVF_4K_UHD_25p, 3840, 2160}, std::tuple{eMVF_Custom, 640, 480},
          std::tuple{eMVF_4K_UHD_50i, 3840, 2160}})
        EXPECT_EQ(Put(Frame(format, w, h, 25, 1, 0)), S_OK);
    EXPECT_EQ(rig_.Stats(0, 0).sessions, 0);
    // Another user of the board holds 1080i50: 1080i59.94 is refused, 1080i50 shares.
    auto other = orvex::aja::ClaimFormat("Studio", NTV2_FORMAT_1080i_5000);
    ASSERT_TRUE(other);
    Put(Frame(eMVF_HD1080_5994i, 1920, 1080, 29.97, 1, 0));
    EXPECT_EQ(rig_.Stats(0, 0).sessions, 0);
    Set(u"input.buffers", u"1000");
    Put(Frame(eMVF_HD1080_50i, 1920, 1080, 25, 1, 0));
    EXPECT_TRUE(Opened());
}

// Plays `count` NTSC frames with cadence audio and running drop-frame timecode.
class AjaPlayout : public AjaTest {
protected:
    void SetUp() override {
        AjaTest::SetUp();
        dir_ = fs::path(orvex::test::g_temp_registry->dir()) /
               ("onair-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
    }
    void Play(int first, int count, eMVideoFormat format = eMVF_NTSC) {
        for (int n = first; n < first + count; ++n) {
            const bool ntsc = format == eMVF_NTSC;
            const int samples = ntsc ? static_cast<int>(GetAudioSamplesPerFrame(
                                           NTV2_FRAMERATE_2997, NTV2_AUDIO_48K, n - first))
                                     : 1920;
            M_TIMECODE tc{};
            tc.nFrames = n % 30;
            tc.nSeconds = n / 30 % 60;
            tc.nMinutes = n / 1800;
            tc.eTCFlags = ntsc ? eMTCF_DropFrame : eMTCF_NonDropFrame;
            frames_.push_back(
                Frame(format, 720, ntsc ? 486 : 576, ntsc ? 29.97 : 25, n, samples, tc));
            ASSERT_EQ(Put(frames_.back()), S_OK);
        }
    }
    // Moves the clock one step each time both renderer threads (the queue worker and the
    // playout thread) wait and nothing has woken them: time then passes only where the
    // renderer could not go on without it, and every run plays the same frames.
    template <class Done>
    bool PlayUntil(Done done, orvex::platform::Ticks step, int maxSteps) {
        for (int i = 0; i < maxSteps; ++i) {
            if (done()) return true;
            if (!AwaitIdle(2)) return false;
            clock_.Advance(step);
        }
        return done();
    }
    // Waits until `threads` threads wait on the virtual clock; false, failing the case, when
    // that does not happen within a minute of real time (a renderer thread that never comes
    // back to a wait would otherwise hang the run).
    bool AwaitIdle(std::size_t threads) {
        const auto give_up = orvex::platform::RealNow() + 60 * orvex::platform::kTicksPerSecond;
        while (clock_.IdleThreads() < threads) {
            if (orvex::platform::RealNow() > give_up) {
                ADD_FAILURE() << "the renderer's threads did not come back to a wait";
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    }
    struct Line {
        std::string frame, timecode;
        int slot = 0, samples = 0;
        std::uint64_t checksum = 0;
    };
    std::vector<Line> Log(const std::string& file) {
        std::vector<Line> out;
        std::ifstream in(dir_ / file);
        std::string s;
        auto field = [&](const char* key) {
            const auto at = s.find(std::string("\"") + key + "\":");
            if (at == std::string::npos) return std::string();
            auto v = s.substr(at + std::strlen(key) + 3);
            if (v[0] == '"') return v.substr(1, v.find('"', 1) - 1);
            return v.substr(0, v.find_first_of(",}"));
        };
        while (std::getline(in, s))
            out.push_back(Line{field("frame"), field("timecode"), std::stoi(field("slot")),
                               std::stoi(field("audio_samples")),
                               std::stoull(field("checksum"), nullptr, 16)});
        return out;
    }
    int Stat(const char16_t* name) {
        CComBSTR value;
        if (props_->PropsGet(CComBSTR(std::u16string(u"stat::") + name), &value) != S_OK || !value)
            return 0;
        return std::stoi(orvex::platform::ToUtf8(value.View()));
    }
    void ExpectNoFrameHeld() {
        for (auto& f : frames_) {
            f.p->AddRef();
            EXPECT_EQ(f.p->Release(), 1u) << "a frame is still held";
        }
    }
    fs::path dir_;
    std::vector<CComPtr<IOXFrame>> frames_;
};

// Every frame's first sample leaves the board at its interrupt, read from the recording; after
// the ring runs dry (the host late, the playout thread held up in a transfer) the next frame is
// back on its interrupt at once, and a format change starts the new stream on its interrupt.
TEST_F(AjaPlayout, EveryFrameStartsOnItsInterrupt) {
    struct Case {
        const char* name;
        bool host_late;
        const char* fault;
    };
    for (const Case& c : {Case{"steady", false, nullptr}, Case{"host late", true, nullptr},
                          Case{"transfer late", false, "late-transfer-us"}}) {
        SCOPED_TRACE(c.name);
        const fs::path dir = dir_ / c.name;
        Make(kStudioBoard, dir.string());
        auto put = [&](int from, int to, eMVideoFormat format) {
            for (int n = from; n < to; ++n) {
                const bool ntsc = format == eMVF_NTSC;
                const int samples = ntsc ? static_cast<int>(GetAudioSamplesPerFrame(
                                               NTV2_FRAMERATE_2997, NTV2_AUDIO_48K, n % 30))
                                         : 1920;
                frames_.push_back(Frame(format, 720, ntsc ? 486 : 576, ntsc ? 29.97 : 25, n,
                                        samples, {}, orvex::test::Marker(n) >> 16));
                ASSERT_EQ(Put(frames_.back()), S_OK);
            }
        };
        auto played = [&](std::int64_t n) {
            return [&, n] { return rig_.Stats(0, 0).frames_played >= n; };
        };
        put(0, 30, eMVF_NTSC);
        ASSERT_TRUE(PlayUntil(played(c.host_late ? 30 : 25), kNtscPeriod, 200));
        if (c.host_late) {  // three interrupts repeat the last frame
            ASSERT_TRUE(
                PlayUntil([&] { return rig_.Stats(0, 0).frames_dropped >= 3; }, kNtscPeriod, 10));
        }
        if (c.fault) rig_.SetFault(0, c.fault, 150'000);
        put(30, 60, eMVF_NTSC);
        ASSERT_TRUE(PlayUntil(played(60), kNtscPeriod, 200));
        // The ring ran dry only where it was made to.
        EXPECT_EQ(rig_.Stats(0, 0).frames_dropped > 0, c.host_late || c.fault != nullptr);
        put(60, 80, eMVF_PAL);
        ASSERT_TRUE(PlayUntil(
            [&] { return rig_.Stats(0, 0).sessions == 2 && rig_.Stats(0, 0).frames_played >= 20; },
            kTicksPerMillisecond * 40, 2000));
        rig_.Flush(0);
        EXPECT_EQ(orvex::test::ExpectAudioOnItsPeriods((dir / "studio-ch1-1").string(), 0, true),
                  60);
        EXPECT_EQ(orvex::test::ExpectAudioOnItsPeriods((dir / "studio-ch1-2").string(), 60, true),
                  20);
        // After a repeat the board's cadence runs a frame ahead of the host's: a frame that
        // carried a sample more than its interrupt loses it, and that is counted.
        if (!c.host_late && !c.fault) {
            EXPECT_EQ(Stat(u"aja.audio_realign_dropped"), 0);
        }
        CComBSTR priority;
        EXPECT_EQ(props_->PropsGet(CComBSTR(u"stat::thread_priority"), &priority), S_OK);
        EXPECT_GT(priority.Length(), 0u);
        Close();
    }
}

TEST_F(AjaPlayout, EveryFrameGoesOnAirInOrderWithItsTimecodeAndAudioUntilAFormatChange) {
    Make(kStudioBoard, dir_.string());
    constexpr int kFrames = 300;
    Play(0, kFrames);
    ASSERT_TRUE(PlayUntil([&] { return rig_.Stats(0, 0).frames_played >= kFrames; }, kNtscPeriod,
                          2 * kFrames));
    const auto stats = rig_.Stats(0, 0);
    EXPECT_EQ(stats.transfer_errors, 0);
    rig_.Flush(0);
    const auto log = Log("studio-ch1-1.jsonl");
    std::vector<Line> fresh;
    for (const Line& l : log)
        if (l.frame == "new") fresh.push_back(l);
    ASSERT_EQ(fresh.size(), static_cast<std::size_t>(kFrames));
    std::int64_t samples = 0;
    for (int n = 0; n < kFrames; ++n) {
        const Line& l = fresh[static_cast<std::size_t>(n)];
        EXPECT_EQ(l.checksum, checksums_[static_cast<std::size_t>(n)]) << n;
        char tc[40];
        std::snprintf(tc, sizeof tc, "00:%02d:%02d;%02d", n / 1800, n / 30 % 60, n % 30);
        EXPECT_EQ(l.timecode, tc) << n;
        EXPECT_EQ(l.samples,
                  static_cast<int>(GetAudioSamplesPerFrame(NTV2_FRAMERATE_2997, NTV2_AUDIO_48K, n)))
            << n;
        samples += l.samples;
    }
    // 300 frames at 29.97 hold 10.01 s of audio: nothing lost, nothing made up.
    EXPECT_EQ(samples, 480480);
    EXPECT_EQ(stats.audio_samples, 480480);

    // A format change restarts the channel in the new format.
    Play(kFrames, 20, eMVF_PAL);
    ASSERT_TRUE(PlayUntil(
        [&] { return rig_.Stats(0, 0).sessions == 2 && rig_.Stats(0, 0).frames_played >= 20; },
        kTicksPerMillisecond * 40, 2000));
    EXPECT_EQ(rig_.Register(0, OX_NTV2_REG_VIDEO_FORMAT), NTV2_FORMAT_625_5000);
    rig_.Flush(0);
    int pal = 0;
    for (const Line& l : Log("studio-ch1-2.jsonl"))
        if (l.frame == "new") {
            EXPECT_EQ(l.checksum, checksums_[static_cast<std::size_t>(kFrames + pal++)]);
        }
    EXPECT_EQ(pal, 20);
    Close();
    ExpectNoFrameHeld();
}

// Each fault costs exactly the frames it must and no more; every frame is accounted for in
// the statistics, nothing hangs and no frame is held after the close.
TEST_F(AjaPlayout, BoardFaultsCostOnlyTheFramesTheyMust) {
    struct Row {
        const char* fault;
        double value;
        int transferred, errors, dropped;
    };
    for (const Row& r :
         {Row{"no-interrupt", 1, 30, 0, 0}, Row{"dma-fail", 5, 25, 5, 0},
          Row{"removed", 1, 0, 0, 30}, Row{"refuse-format", NTV2_FORMAT_525_5994, 0, 0, 30}}) {
        SCOPED_TRACE(r.fault);
        Make(kStudioBoard);
        rig_.SetFault(0, r.fault, r.value);
        Play(0, 30);
        // Without an open output only the queue worker is left to wait.
        const std::size_t threads = r.dropped ? 1 : 2;
        auto accounted = [&] {
            return Stat(u"aja.frames") + Stat(u"aja.transfer_errors") + Stat(u"aja.dropped") >= 30;
        };
        for (int step = 0; step < 400 && !accounted() && AwaitIdle(threads); ++step)
            clock_.Advance(kNtscPeriod);
        EXPECT_EQ(Stat(u"aja.frames"), r.transferred);
        EXPECT_EQ(Stat(u"aja.transfer_errors"), r.errors);
        EXPECT_EQ(Stat(u"aja.dropped"), r.dropped);
        Close();
        rig_.SetFault(0, "clear", 0);
        ExpectNoFrameHeld();
        frames_.clear();
    }
}

}  // namespace
