// The NTV2 classes over the virtual boards on the test's virtual clock: discovery, what boards
// accept and refuse, routing, the AutoCirculate ring, the recording and the injected faults.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "aja/ntv2/ntv2card.h"
#include "aja/ntv2/ntv2devicefeatures.h"
#include "aja/ntv2/ntv2devicescanner.h"
#include "aja/ntv2/ntv2rp188.h"
#include "aja/ntv2/ntv2signalrouter.h"
#include "aja/ntv2/ntv2task.h"
#include "aja/ntv2/ntv2utils.h"
#include "platform/clock.h"
#include "sim_aja/virtual_aja.h"

namespace {

namespace fs = std::filesystem;
using orvex::platform::kTicksPerMillisecond;
using orvex::platform::VirtualClock;

using orvex::test::kQuadBoard;

class Ntv2Sim : public ::testing::Test {
protected:
    void SetUp() override { rig_.UseRig(std::string(kQuadBoard) + orvex::test::kStudioBoard); }

    orvex::test::VirtualAja rig_;
    VirtualClock clock_{VirtualClock::Mode::kAutoAdvance, 1'000'000'000};
};

TEST(Ntv2Helpers, AudioCadenceMatchesTheFiveFrameTables) {
    struct Row {
        NTV2FrameRate rate;
        NTV2AudioRate audio;
        ULWord samples[5];
    };
    const Row rows[] = {
        {NTV2_FRAMERATE_2997, NTV2_AUDIO_48K, {1602, 1601, 1602, 1601, 1602}},
        {NTV2_FRAMERATE_5994, NTV2_AUDIO_48K, {800, 801, 801, 801, 801}},
        {NTV2_FRAMERATE_5994, NTV2_AUDIO_96K, {1602, 1601, 1602, 1601, 1602}},
        {NTV2_FRAMERATE_2997, NTV2_AUDIO_96K, {3204, 3203, 3203, 3203, 3203}},
        {NTV2_FRAMERATE_2500, NTV2_AUDIO_48K, {1920, 1920, 1920, 1920, 1920}},
        {NTV2_FRAMERATE_11988, NTV2_AUDIO_96K, {801, 801, 801, 801, 800}},
        {NTV2_FRAMERATE_UNKNOWN, NTV2_AUDIO_48K, {0, 0, 0, 0, 0}},
    };
    for (const Row& r : rows) {
        LWord64 sum = 0;
        for (ULWord k = 0; k < 10; ++k) {
            EXPECT_EQ(GetAudioSamplesPerFrame(r.rate, r.audio, k), r.samples[k % 5])
                << r.rate << "/" << r.audio << " frame " << k;
            sum += GetAudioSamplesPerFrame(r.rate, r.audio, k);
        }
        EXPECT_EQ(GetTotalAudioSamplesFromFrameNbrZeroUpToFrameNbr(r.rate, r.audio, 10), sum);
    }
    // Ten 29.97 frames hold exactly a third of a second and a thousandth less.
    EXPECT_EQ(GetTotalAudioSamplesFromFrameNbrZeroUpToFrameNbr(NTV2_FRAMERATE_2997, NTV2_AUDIO_48K,
                                                               30000),
              48'000LL * 1001);
}

TEST(Ntv2Helpers, FormatsSizesAndCrosspoints) {
    EXPECT_EQ(GetVideoActiveSize(NTV2_FORMAT_1080i_5000, NTV2_FBF_8BIT_YCBCR), 1920u * 1080 * 2);
    EXPECT_EQ(GetVideoActiveSize(NTV2_FORMAT_4x1920x1080p_5000, NTV2_FBF_8BIT_YCBCR),
              3840u * 2160 * 2);
    EXPECT_EQ(GetVideoActiveSize(NTV2_FORMAT_1080i_5000, NTV2_FBF_8BIT_YCBCR, true, false),
              1920u * 1112 * 2);
    EXPECT_EQ(GetVideoActiveSize(NTV2_FORMAT_525_5994, NTV2_FBF_8BIT_YCBCR, true, true),
              720u * 514 * 2);
    EXPECT_EQ(GetVideoActiveSize(NTV2_FORMAT_UNKNOWN, NTV2_FBF_8BIT_YCBCR), 0u);
    const NTV2Crosspoint xpts[8] = {NTV2CROSSPOINT_CHANNEL1, NTV2CROSSPOINT_CHANNEL2,
                                    NTV2CROSSPOINT_CHANNEL3, NTV2CROSSPOINT_CHANNEL4,
                                    NTV2CROSSPOINT_CHANNEL5, NTV2CROSSPOINT_CHANNEL6,
                                    NTV2CROSSPOINT_CHANNEL7, NTV2CROSSPOINT_CHANNEL8};
    for (ULWord c = 0; c < 8; ++c) {
        EXPECT_EQ(NTV2ChannelToOutputCrosspoint(static_cast<NTV2Channel>(c)), xpts[c]);
        EXPECT_EQ(NTV2CrosspointToChannel(xpts[c]), static_cast<NTV2Channel>(c));
    }
    EXPECT_EQ(NTV2CrosspointToChannel(NTV2CROSSPOINT_INPUT1), NTV2_CHANNEL_INVALID);
    EXPECT_EQ(GetFrameBufferOutputXptFromChannel(NTV2_CHANNEL3, true), NTV2_XptFrameBuffer3RGB);
    EXPECT_EQ(GetNTV2StandardFromVideoFormat(NTV2_FORMAT_720p_5994), NTV2_STANDARD_720);
}

TEST(Ntv2Helpers, Rp188EncodesDigitsFlagsAndFramePairs) {
    struct Row {
        ULWord h, m, s, f;
        TimecodeFormat format;
        const char* text;
        ULWord low, high;
    };
    const Row rows[] = {
        {1, 2, 3, 4, kTCFormat25fps, "01:02:03:04", 0x00030004, 0x00010002},
        {23, 59, 59, 29, kTCFormat30fpsDF, "23:59:59;29", 0x05090609, 0x02030509},
        {10, 0, 0, 59, kTCFormat60fps, "10:00:00:59", 0x08000209, 0x01000000},
        {0, 0, 0, 58, kTCFormat60fpsDF, "00:00:00;58", 0x00000609, 0},
    };
    for (const Row& r : rows) {
        CRP188 tc(r.f, r.s, r.m, r.h, r.format);
        RP188_STRUCT reg{};
        ASSERT_TRUE(tc.GetRP188Reg(reg)) << r.text;
        EXPECT_EQ(reg.Low, r.low) << r.text;
        EXPECT_EQ(reg.High, r.high) << r.text;
        std::string text;
        ASSERT_TRUE(tc.GetRP188Str(text));
        EXPECT_EQ(text, r.text);
        CRP188 back(reg, r.format);
        ULWord f = 0;
        back.GetRP188Frms(f);
        EXPECT_EQ(f, r.f) << r.text;
    }
    EXPECT_FALSE(CRP188(30, 0, 0, 0, kTCFormat30fps).IsValid());
    // Drop-frame numbering: the minute after 00:00:59;29 starts at frame 02.
    CRP188 df(0, kTCFormat30fpsDF);
    ULWord h, m, s, f;
    df.ConvertFrameCount(1800, kTCFormat30fpsDF, h, m, s, f);
    EXPECT_EQ(m * 10000 + s * 100 + f, 10002u);
    ULWord count = 0;
    df.ConvertTimecode(count, kTCFormat30fpsDF, 0, 10, 0, 0);
    EXPECT_EQ(count, 17982u);
    EXPECT_EQ(df.MaxFramesPerDay(), 2589408u);
}

TEST_F(Ntv2Sim, ScannerListsEveryBoardWithItsFeatures) {
    CNTV2DeviceScanner scanner;
    ASSERT_EQ(scanner.GetNumDevices(), 2u);
    NTV2DeviceInfo quad, duo;
    ASSERT_TRUE(scanner.GetDeviceInfo(0, quad));
    ASSERT_TRUE(scanner.GetDeviceInfo(1, duo));
    EXPECT_FALSE(scanner.GetDeviceInfo(2, duo));
    EXPECT_EQ(quad.deviceIdentifier, "Quad - 0");
    EXPECT_EQ(duo.deviceIdentifier, "Studio");
    struct Row {
        NTV2DeviceID id;
        UWord stores, sdi, hdmi, systems, channels;
        bool analog, multi, bidi, uhd;
    };
    for (const Row& r : {Row{quad.deviceID, 4, 4, 1, 4, 16, false, true, true, true},
                         Row{duo.deviceID, 2, 2, 0, 1, 8, true, false, false, false}}) {
        EXPECT_EQ(NTV2DeviceGetNumFrameStores(r.id), r.stores);
        EXPECT_EQ(NTV2DeviceGetNumVideoOutputs(r.id), r.sdi);
        EXPECT_EQ(NTV2DeviceGetNumHDMIVideoOutputs(r.id), r.hdmi);
        EXPECT_EQ(NTV2DeviceGetNumAudioSystems(r.id), r.systems);
        EXPECT_EQ(NTV2DeviceGetMaxAudioChannels(r.id), r.channels);
        EXPECT_EQ(NTV2DeviceCanDoAnalogVideoOut(r.id), r.analog);
        EXPECT_EQ(NTV2DeviceCanDoMultiFormat(r.id), r.multi);
        EXPECT_EQ(NTV2DeviceHasBiDirectionalSDI(r.id), r.bidi);
        EXPECT_EQ(NTV2DeviceCanDoVideoFormat(r.id, NTV2_FORMAT_4x1920x1080p_5000), r.uhd);
        EXPECT_TRUE(NTV2DeviceCanDoVideoFormat(r.id, NTV2_FORMAT_1080i_5994));
        EXPECT_TRUE(NTV2DeviceCanDoFrameBufferFormat(r.id, NTV2_FBF_8BIT_YCBCR));
        EXPECT_FALSE(NTV2DeviceCanDoFrameBufferFormat(r.id, NTV2_FBF_ABGR));
    }
    EXPECT_EQ(NTV2DeviceGetNumFrameStores(DEVICE_ID_NOTFOUND), 0);

    CNTV2Card card;
    EXPECT_TRUE(CNTV2DeviceScanner::GetDeviceAtIndex(1, card));
    EXPECT_EQ(card.GetDeviceID(), duo.deviceID);
    EXPECT_FALSE(CNTV2DeviceScanner::GetDeviceAtIndex(2, card));
    EXPECT_FALSE(card.IsOpen());
    EXPECT_TRUE(CNTV2DeviceScanner::GetFirstDeviceWithName("Studio", card));
    EXPECT_EQ(card.GetIndexNumber(), 1);
}

TEST_F(Ntv2Sim, BoardsAcceptWhatTheyCanDoAndRefuseTheRest) {
    CNTV2Card quad(0), duo(1);
    ASSERT_TRUE(quad.IsOpen() && duo.IsOpen());
    struct Row {
        const char* what;
        CNTV2Card* card;
        std::function<bool(CNTV2Card&)> call;
        bool ok;
    };
    // One call on one board, and whether the board takes it.
#define ROW(board, ok, call)                                                \
    {                                                                       \
#board ": " #call, &board, [](CNTV2Card & c) { return c.call; }, ok \
    }
    const Row rows[] = {
        ROW(quad, true, SetVideoFormat(NTV2_FORMAT_4x1920x1080p_5000, false, false, NTV2_CHANNEL2)),
        ROW(duo, false, SetVideoFormat(NTV2_FORMAT_4x1920x1080p_5000)),
        ROW(duo, false, SetVideoFormat(NTV2_FORMAT_1080i_5000, false, false, NTV2_CHANNEL3)),
        ROW(duo, false, SetMultiFormatMode(true)),
        ROW(duo, true, SetReference(NTV2_REFERENCE_EXTERNAL)),
        ROW(duo, true, SetReference(NTV2_REFERENCE_ANALOG_INPUT)),
        ROW(duo, false, SetReference(NTV2_REFERENCE_HDMI_INPUT)),
        ROW(quad, true, SetReference(NTV2_REFERENCE_INPUT2)),
        ROW(quad, false, SetReference(NTV2_REFERENCE_INPUT5)),
        ROW(quad, false, SetFrameBufferFormat(NTV2_CHANNEL1, NTV2_FBF_ABGR)),
        ROW(quad, true, SetSDITransmitEnable(NTV2_CHANNEL4, true)),
        ROW(duo, false, SetSDITransmitEnable(NTV2_CHANNEL1, true)),
        ROW(duo, false, SetAudioRate(NTV2_AUDIO_96K)),
        ROW(duo, false, SetNumberAudioChannels(16)),
        ROW(duo, false, SetSDIOutputAudioSystem(NTV2_CHANNEL2, NTV2_AUDIOSYSTEM_2)),
        ROW(duo, false, Connect(NTV2_XptHDMIOutInput, NTV2_XptFrameBuffer1YUV)),
        ROW(duo, true, Connect(NTV2_XptAnalogOutInput, NTV2_XptFrameBuffer2YUV)),
        ROW(duo, false, Connect(NTV2_XptSDIOut1Input, NTV2_XptFrameBuffer3YUV)),  // no store 3
        // 64 HD frames of memory hold 16 UHD frames; inputs have no ring.
        ROW(quad, true, SetMultiFormatMode(true)),
        ROW(quad, true, SetVideoFormat(NTV2_FORMAT_4x1920x1080p_5000, false, false, NTV2_CHANNEL4)),
        ROW(quad, false, InitAutoCirculate(NTV2CROSSPOINT_CHANNEL4, 21, 27, 1, NTV2_AUDIOSYSTEM_4)),
        ROW(quad, true, InitAutoCirculate(NTV2CROSSPOINT_CHANNEL4, 9, 15, 1, NTV2_AUDIOSYSTEM_4)),
        ROW(quad, false, InitAutoCirculate(NTV2CROSSPOINT_INPUT1, 0, 6, 1, NTV2_AUDIOSYSTEM_1)),
    };
#undef ROW
    for (const Row& r : rows) EXPECT_EQ(r.call(*r.card), r.ok) << r.what;

    // Without multi-format one format runs the whole board.
    ASSERT_TRUE(duo.SetVideoFormat(NTV2_FORMAT_720p_5994, false, false, NTV2_CHANNEL2));
    NTV2VideoFormat f = NTV2_FORMAT_UNKNOWN;
    ASSERT_TRUE(duo.GetVideoFormat(f, NTV2_CHANNEL1));
    EXPECT_EQ(f, NTV2_FORMAT_720p_5994);
    NTV2FrameRate rate = NTV2_FRAMERATE_UNKNOWN;
    ASSERT_TRUE(duo.GetFrameRate(rate));
    EXPECT_EQ(rate, NTV2_FRAMERATE_5994);
    // With it, each channel keeps its own.
    ASSERT_TRUE(quad.SetMultiFormatMode(true));
    ASSERT_TRUE(quad.SetVideoFormat(NTV2_FORMAT_525_5994, false, false, NTV2_CHANNEL1));
    ASSERT_TRUE(quad.GetVideoFormat(f, NTV2_CHANNEL2));
    EXPECT_EQ(f, NTV2_FORMAT_4x1920x1080p_5000);
    // VANC reads back as set; a new format without keepVanc turns it off.
    ASSERT_TRUE(quad.SetEnableVANCData(true, true, NTV2_CHANNEL1));
    bool on = false, taller = false;
    ASSERT_TRUE(quad.GetEnableVANCData(on, taller, NTV2_CHANNEL1));
    EXPECT_TRUE(on && taller);
    NTV2FrameDimensions d;
    ASSERT_TRUE(quad.GetActiveFrameDimensions(d, NTV2_CHANNEL1));
    EXPECT_EQ(d.GetHeight(), 486u + 28u);
    ASSERT_TRUE(quad.SetVideoFormat(NTV2_FORMAT_525_5994, false, false, NTV2_CHANNEL1));
    ASSERT_TRUE(quad.GetEnableVANCData(on, taller, NTV2_CHANNEL1));
    EXPECT_FALSE(on);
}

TEST_F(Ntv2Sim, RouterConnectionsApplyWithoutReplacingOthers) {
    CNTV2Card card(0);
    ASSERT_TRUE(card.Connect(NTV2_XptSDIOut3Input, NTV2_XptFrameBuffer3YUV));
    CNTV2SignalRouter router;
    EXPECT_TRUE(router.AddConnection(NTV2_XptSDIOut1Input, NTV2_XptFrameBuffer1YUV));
    EXPECT_TRUE(router.AddConnection(NTV2_XptHDMIOutInput, NTV2_XptFrameBuffer1YUV));
    EXPECT_TRUE(router.AddConnection(NTV2_XptSDIOut1Input, NTV2_XptFrameBuffer2YUV));  // replaces
    EXPECT_EQ(router.GetNumberOfConnections(), 2u);
    EXPECT_TRUE(router.HasConnection(NTV2_XptSDIOut1Input, NTV2_XptFrameBuffer2YUV));
    EXPECT_FALSE(router.RemoveConnection(NTV2_XptSDIOut1Input, NTV2_XptFrameBuffer1YUV));
    ASSERT_TRUE(card.ApplySignalRoute(router));
    NTV2OutputXptID out = NTV2_XptBlack;
    struct Row {
        NTV2InputXptID in;
        NTV2OutputXptID out;
    };
    for (Row r : {Row{NTV2_XptSDIOut1Input, NTV2_XptFrameBuffer2YUV},
                  Row{NTV2_XptHDMIOutInput, NTV2_XptFrameBuffer1YUV},
                  Row{NTV2_XptSDIOut3Input, NTV2_XptFrameBuffer3YUV},
                  Row{NTV2_XptSDIOut2Input, NTV2_XptBlack}}) {
        ASSERT_TRUE(card.GetConnectedOutput(r.in, out));
        EXPECT_EQ(out, r.out) << r.in;
    }
    ASSERT_TRUE(card.ApplySignalRoute(CNTV2SignalRouter{}, true));  // replace clears
    ASSERT_TRUE(card.GetConnectedOutput(NTV2_XptSDIOut3Input, out));
    EXPECT_EQ(out, NTV2_XptBlack);
}

// A ring of `frames` slots on channel 2 of the quad board at 29.97.
class Ntv2Ring : public Ntv2Sim {
protected:
    void Init(LWord first = 7, LWord last = 13) {
        ASSERT_TRUE(card_.Open(0));
        ASSERT_TRUE(card_.SetMultiFormatMode(true));
        ASSERT_TRUE(card_.SetVideoFormat(NTV2_FORMAT_525_5994, false, false, NTV2_CHANNEL2));
        ASSERT_TRUE(card_.SetNumberAudioChannels(2, NTV2_AUDIOSYSTEM_2));
        ASSERT_TRUE(card_.SubscribeOutputVerticalEvent(NTV2_CHANNEL2));
        ASSERT_TRUE(card_.InitAutoCirculate(kXpt, first, last, 1, NTV2_AUDIOSYSTEM_2, true, true,
                                            false, true, false, false, false, true));
        video_.assign(GetVideoActiveSize(NTV2_FORMAT_525_5994, NTV2_FBF_8BIT_YCBCR) / 4, 0);
    }
    // Transfers frame `n`: its pictures carry n, its audio the cadence's samples of n.
    bool Send(ULWord n) {
        std::fill(video_.begin(), video_.end(), 0x10801080u + n);
        const ULWord samples = GetAudioSamplesPerFrame(NTV2_FRAMERATE_2997, NTV2_AUDIO_48K, n);
        audio_.assign(samples * 2, n);
        AUTOCIRCULATE_TRANSFER_STRUCT t{};
        t.channelSpec = kXpt;
        t.videoBuffer = video_.data();
        t.videoBufferSize = static_cast<ULWord>(video_.size() * 4);
        t.audioBuffer = audio_.data();
        t.audioBufferSize = static_cast<ULWord>(audio_.size() * 4);
        t.desiredFrame = -1;
        t.frameBufferFormat = NTV2_FBF_8BIT_YCBCR;
        CRP188 tc(n, kTCFormat30fpsDF);
        RP188_STRUCT rp{};
        tc.GetRP188Reg(rp);
        task_.Clear();
        task_.AddTimeCodeWriteTask(nullptr, &rp);
        AUTOCIRCULATE_TRANSFER_STATUS_STRUCT status{};
        return card_.TransferWithAutoCirculateEx2(&t, &status, nullptr, task_);
    }
    AUTOCIRCULATE_STATUS_STRUCT Status() {
        AUTOCIRCULATE_STATUS_STRUCT s{};
        EXPECT_TRUE(card_.GetAutoCirculate(kXpt, &s));
        return s;
    }

    static constexpr NTV2Crosspoint kXpt = NTV2CROSSPOINT_CHANNEL2;
    static constexpr orvex::platform::Ticks kPeriod = 10'010'000 / 30;  // 1001/30000 s
    CNTV2Card card_;
    CNTV2Task task_;
    std::vector<ULWord> video_, audio_;
};

TEST_F(Ntv2Ring, PlaysOneFramePerInterruptAndCountsUnderruns) {
    Init();
    AUTOCIRCULATE_STATUS_STRUCT s = Status();
    EXPECT_EQ(s.state, NTV2_AUTOCIRCULATE_INIT);
    EXPECT_EQ(s.startFrame, 7);
    EXPECT_EQ(s.endFrame, 13);
    // Frames may preroll before the start.
    ASSERT_TRUE(Send(0));
    ASSERT_TRUE(Send(1));
    clock_.Advance(5 * kPeriod);
    EXPECT_EQ(Status().bufferLevel, 2u);
    ASSERT_TRUE(card_.StartAutoCirculate(kXpt));
    for (ULWord n = 2; n < 6; ++n) ASSERT_TRUE(Send(n));
    EXPECT_FALSE(Send(6)) << "six queued fill the ring: one slot stays for the frame on air";
    EXPECT_EQ(Status().bufferLevel, 6u);
    // Each interrupt takes one frame; the waits pass virtual time.
    for (int i = 1; i <= 6; ++i) {
        ASSERT_TRUE(card_.WaitForOutputVerticalInterrupt(NTV2_CHANNEL2));
        s = Status();
        EXPECT_EQ(s.bufferLevel, 6u - i);
        EXPECT_EQ(s.framesProcessed, static_cast<ULWord>(i));
        EXPECT_EQ(s.state, NTV2_AUTOCIRCULATE_RUNNING);
    }
    EXPECT_EQ(s.activeFrame, 7 + 5);
    clock_.Advance(3 * kPeriod + 10);  // the period is not a whole number of ticks
    s = Status();
    EXPECT_EQ(s.framesDropped, 3u);
    const OxSimAjaChannelStats st = rig_.Stats(0, 1);
    EXPECT_EQ(st.frames_played, 6);
    EXPECT_EQ(st.audio_samples, 1602 + 1601 + 1602 + 1601 + 1602 + 1602);
    ASSERT_TRUE(card_.StopAutoCirculate(kXpt));
    EXPECT_EQ(Status().state, NTV2_AUTOCIRCULATE_DISABLED);
}

// Recorded twice: within the default size limit, and with a 1 MiB limit that holds one SD
// picture but all of the log and the audio.
TEST_F(Ntv2Ring, RecordsEveryFrameWithSlotTimecodeAndAudioUpToTheSizeLimit) {
    for (const int limit_mb : {4095, 1}) {
        SCOPED_TRACE(limit_mb);
        const fs::path dir =
            fs::path(orvex::test::g_temp_registry->dir()) / ("onair-" + std::to_string(limit_mb));
        fs::create_directories(dir);
        std::string board = kQuadBoard;
        board.insert(board.find("/>"), " record-limit-mb=\"" + std::to_string(limit_mb) + "\"");
        rig_.UseRig(board, dir.string());
        Init();
        ASSERT_TRUE(card_.StartAutoCirculate(kXpt));
        constexpr ULWord kFrames = 40;
        ULWord sent = 0;
        while (sent < kFrames) {
            while (sent < kFrames && Status().bufferLevel < 3) ASSERT_TRUE(Send(sent++));
            ASSERT_TRUE(card_.WaitForOutputVerticalInterrupt(NTV2_CHANNEL2));
        }
        clock_.Advance(4 * kPeriod);
        rig_.Flush(0);
        const OxSimAjaChannelStats st = rig_.Stats(0, 1);
        EXPECT_EQ(st.frames_played, kFrames);
        ASSERT_TRUE(card_.StopAutoCirculate(kXpt));
        std::ifstream log(dir / "quad-0-ch2-1.jsonl");
        ASSERT_TRUE(log) << "no log";
        std::string line;
        ULWord next = 0;
        std::int64_t samples = 0;
        while (std::getline(log, line)) {
            if (line.find("\"frame\":\"new\"") == std::string::npos) continue;
            std::string tc;
            CRP188(next, kTCFormat30fpsDF).GetRP188Str(tc);
            EXPECT_NE(line.find("\"timecode\":\"" + tc + "\""), std::string::npos) << line;
            EXPECT_NE(line.find("\"slot\":" + std::to_string(7 + next % 7)), std::string::npos)
                << line;
            const ULWord expect =
                GetAudioSamplesPerFrame(NTV2_FRAMERATE_2997, NTV2_AUDIO_48K, next);
            EXPECT_NE(line.find("\"audio_samples\":" + std::to_string(expect)), std::string::npos)
                << line;
            samples += expect;
            ++next;
        }
        EXPECT_EQ(next, kFrames);
        // The audio file holds every sample and the silence of the repeats after the last
        // frame, two channels of 32 bits.
        EXPECT_EQ(st.audio_samples, samples);
        EXPECT_EQ(fs::file_size(dir / "quad-0-ch2-1.wav"), 44u + (samples + st.audio_silence) * 8);
        // And one picture per interrupt that had one on air.
        const std::string header = "YUV4MPEG2 W720 H486 F30000:1001 It A1:1 C422\n";
        const std::uint64_t pictures = limit_mb == 1 ? 1 : st.frames_played + st.frames_dropped;
        EXPECT_EQ(fs::file_size(dir / "quad-0-ch2-1.y4m"),
                  header.size() + pictures * (6 + 720u * 486 * 2));
    }
}

TEST_F(Ntv2Ring, InjectedFaultsFailTheirCallsAndNothingWaitsLonger) {
    Init();
    ASSERT_TRUE(card_.StartAutoCirculate(kXpt));
    rig_.SetFault(0, "dma-fail", 2);
    EXPECT_FALSE(Send(0));
    EXPECT_FALSE(Send(0));
    EXPECT_TRUE(Send(0));
    EXPECT_EQ(rig_.Stats(0, 1).transfer_errors, 2);

    rig_.SetFault(0, "refuse-format", NTV2_FORMAT_1080p_2500);
    EXPECT_FALSE(card_.SetVideoFormat(NTV2_FORMAT_1080p_2500, false, false, NTV2_CHANNEL3));
    rig_.SetFault(0, "refuse-reference", NTV2_REFERENCE_EXTERNAL);
    EXPECT_FALSE(card_.SetReference(NTV2_REFERENCE_EXTERNAL));
    EXPECT_TRUE(card_.SetReference(NTV2_REFERENCE_FREERUN));

    rig_.SetFault(0, "no-interrupt", 1);
    EXPECT_FALSE(card_.SubscribeOutputVerticalEvent(NTV2_CHANNEL3));
    auto t0 = clock_.Now();
    EXPECT_FALSE(card_.WaitForOutputVerticalInterrupt(NTV2_CHANNEL2));
    EXPECT_EQ(clock_.Now() - t0, 50 * kTicksPerMillisecond);

    rig_.SetFault(0, "clear", 0);
    rig_.SetFault(0, "removed", 1);
    t0 = clock_.Now();
    EXPECT_FALSE(card_.WaitForOutputVerticalInterrupt(NTV2_CHANNEL2, 3));
    EXPECT_EQ(clock_.Now() - t0, 50 * kTicksPerMillisecond) << "the first failure ends the wait";
    EXPECT_FALSE(Send(1));
    AUTOCIRCULATE_STATUS_STRUCT s{};
    EXPECT_FALSE(card_.GetAutoCirculate(kXpt, &s));
    EXPECT_FALSE(card_.SetReference(NTV2_REFERENCE_FREERUN));
    CNTV2Card again;
    EXPECT_FALSE(again.Open(0));
    rig_.SetFault(0, "removed", 0);
    EXPECT_TRUE(again.Open(0));
}

TEST_F(Ntv2Sim, RigErrorsAreReportedAndLeaveNoBoards) {
    struct Row {
        const char* board;
        const char* error;
    };
    for (Row r :
         {Row{"<board frame-stores=\"9\"/>", "frame-stores"},
          Row{"<board formats=\"hd,8k\"/>", "unknown format 8k"}, Row{"<card/>", "unknown element"},
          Row{"<board reference=\"ptp\"/>", "unknown reference"}}) {
        rig_.UseRig(r.board);
        std::string error;
        EXPECT_EQ(rig_.BoardCount(&error), 0) << r.board;
        EXPECT_NE(error.find(r.error), std::string::npos) << error;
        EXPECT_EQ(CNTV2DeviceScanner().GetNumDevices(), 0u);
    }
}

}  // namespace
