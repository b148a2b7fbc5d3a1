// oxplay's own readers: files brought to the layouts the renderer takes, every number from a
// file bounded before it sizes anything, damaged or hostile files refused with a reason.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tool_test_util.h"
#include "tools/oxplay/options.h"
#include "tools/oxplay/source.h"

namespace {

using namespace oxplay;
using orvex::test::Le;
using orvex::test::Wav;

std::string TempFile(const std::string& name, const std::string& bytes) {
    const auto path = orvex::test::g_temp_registry->dir() / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

TEST(AudioSplit, ConsecutivePeriodsAddUpExactly) {
    std::int64_t sum = 0;
    for (int i = 0; i < 5; ++i) sum += PeriodSamples(i, 30000, 1001, 48000);
    EXPECT_EQ(sum, 8008);  // five frames of 29.97 hold exactly 8008 samples
    sum = 0;
    for (int i = 0; i < 90000; ++i) sum += PeriodSamples(i, 25, 1, 44100);  // an hour of 25
    EXPECT_EQ(sum, 3600LL * 44100);
}

TEST(Y4M, FourTwoZeroBecomesUyvyWithChromaRepeatedDownTheRows) {
    // 4x2 picture, luma 1..8, Cb 100/101, Cr 200/201; 12.5 pictures a second, pixels 2:1.
    std::string frame =
        "\x01\x02\x03\x04\x05\x06\x07\x08"
        "\x64\x65"
        "\xC8\xC9";
    const std::string path = TempFile("a.y4m", "YUV4MPEG2 W4 H2 F25:2 Ib A2:1 C420jpeg\nFRAME\n" +
                                                   frame + "FRAME\n" + frame + "FRAME\n\x01");
    std::string error;
    auto src = OpenY4M(path, &error);
    ASSERT_TRUE(src) << error;
    EXPECT_EQ(std::tie(src->video.width, src->video.aspect_num, src->video.interlace),
              std::make_tuple(4, 2, eMI_Field2First));
    TimedImage got;
    ASSERT_EQ(src->NextPicture(0, &got, &error), Fetch::kPicture);
    EXPECT_EQ(got.image->row_bytes, 8);
    const std::uint8_t want[] = {100, 1, 200, 2, 101, 3, 201, 4, 100, 5, 200, 6, 101, 7, 201, 8};
    EXPECT_EQ(got.image->bytes, std::vector<std::uint8_t>(std::begin(want), std::end(want)));
    ASSERT_EQ(src->NextPicture(0, &got, &error), Fetch::kPicture);
    EXPECT_EQ(std::tie(got.start, got.duration, got.number), std::make_tuple(800000, 800000, 1));
    EXPECT_EQ(src->NextPicture(0, &got, &error), Fetch::kEnd);  // the cut-off third
    EXPECT_EQ(error, "");
    ASSERT_TRUE(src->Rewind(&error));
    EXPECT_EQ(src->NextPicture(0, &got, &error), Fetch::kPicture);
    EXPECT_EQ(got.start, 0);
}

TEST(Y4M, FilesThatCannotPlayAreRefusedWithAReason) {
    const struct {
        std::string text;
        const char* reason;
    } cases[] = {{"not a y4m\n", "is not a Y4M file"},
                 {"YUV4MPEG2 " + std::string(5000, 'x') + "\n", "is not a Y4M file"},
                 {"YUV4MPEG2 W3 H2 F25:1\n", "picture size"},
                 {"YUV4MPEG2 W99999 H2 F25:1\n", "picture size"},
                 {"YUV4MPEG2 W4 H99999999999999999999 F25:1\n", "picture size"},
                 {"YUV4MPEG2 W4 H2 F25:0\n", "frame rate outside 1 to 240"},
                 {"YUV4MPEG2 W4 H2 F1:2147483647\n", "F1:2147483647"},  // one picture in 68 years
                 {"YUV4MPEG2 W4 H2 F241:1\n", "frame rate outside"},
                 {"YUV4MPEG2 W4 H2 F-25:1\n", "frame rate outside"},
                 {"YUV4MPEG2 W4 H2 F25:1 C420p10\n", "C420p10"},
                 {"YUV4MPEG2 W4 H2 F25:1\nFRAME\n", "holds no whole picture"}};
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(OpenY4M(TempFile("bad.y4m", c.text), &error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(OpenY4M("/nonexistent/x.y4m", &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
}

TEST(Wav, SamplesArriveAsIntegersTheRendererTakes) {
    // 24-bit stereo, 15 sample frames, read ten at a time: the rest of the second block is
    // silence and the stream has ended.
    std::string data;
    for (int i = 0; i < 30; ++i) data += Le(static_cast<std::uint32_t>(i * 0x10203) & 0xFFFFFF, 3);
    std::string error;
    auto src = OpenWav(TempFile("a.wav", Wav(1, 2, 48000, 24, data)), &error);
    ASSERT_TRUE(src) << error;
    EXPECT_EQ(src->audio.bits, 32);
    EXPECT_FALSE(src->video.present);
    std::int32_t block[20];
    bool ended = true;
    ASSERT_TRUE(src->ReadAudio(10, reinterpret_cast<std::uint8_t*>(block), &ended, &error));
    EXPECT_FALSE(ended);
    EXPECT_EQ(block[3], static_cast<std::int32_t>((3u * 0x10203u) << 8));
    ASSERT_TRUE(src->ReadAudio(10, reinterpret_cast<std::uint8_t*>(block), &ended, &error));
    EXPECT_TRUE(ended);
    EXPECT_EQ(block[9], static_cast<std::int32_t>((29u * 0x10203u) << 8));
    EXPECT_EQ(block[10], 0);

    // Float samples are clipped to full scale; mono plays on both channels of a pair.
    float fl[2] = {2.0f, -0.5f};
    auto mono = OpenWav(
        TempFile("f.wav", Wav(3, 1, 48000, 32, std::string(reinterpret_cast<char*>(fl), 8))),
        &error);
    ASSERT_TRUE(mono) << error;
    EXPECT_EQ(mono->audio.channels, 2);
    ASSERT_TRUE(mono->ReadAudio(3, reinterpret_cast<std::uint8_t*>(block), &ended, &error));
    EXPECT_EQ(std::vector<std::int32_t>(block, block + 6),
              (std::vector<std::int32_t>{2147483647, 2147483647, -1073741824, -1073741824, 0, 0}));
}

TEST(Wav, FilesThatCannotPlayAreRefusedWithAReason) {
    const struct {
        std::string bytes;
        const char* reason;
    } cases[] = {{"RIFF....AVI ", "is not a WAV file"},
                 {Wav(2, 2, 48000, 16, "abcd"), "is not 16/24/32-bit PCM"},
                 {Wav(1, 17, 48000, 16, "abcd"), "channels"},
                 {Wav(1, 2, 1000, 16, "abcd"), "channels at 1000 Hz"},
                 {"RIFF" + Le(4, 4) + "WAVE", "has no audio data"},
                 {Wav(1, 2, 48000, 16, ""), "holds no samples"},     // would play nothing
                 {Wav(1, 2, 48000, 16, "ab"), "holds no samples"}};  // half a sample frame
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(OpenWav(TempFile("bad.wav", c.bytes), &error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // A data length past the end of the file (a recording cut short) plays what is there.
    std::string error;
    EXPECT_TRUE(OpenWav(TempFile("cut.wav", Wav(1, 1, 48000, 16, "abcd", 1000000)), &error))
        << error;
}

TEST(Packing, EachLayoutHoldsTheSameSamples) {
    Picture p;
    p.Resize(6, 1);
    for (int i = 0; i < 12; ++i) p.uyvy[i] = static_cast<std::uint8_t>(16 + i * 10);
    std::vector<std::uint8_t> out;
    int rb = 0;
    ASSERT_TRUE(PackPicture(p, eMFCC_YUY2, &out, &rb));
    EXPECT_EQ(rb, 12);
    EXPECT_EQ(out[0], p.uyvy[1]);  // Y0 first
    EXPECT_EQ(out[1], p.uyvy[0]);  // then Cb
    ASSERT_TRUE(PackPicture(p, eMFCC_v210, &out, &rb));
    EXPECT_EQ(rb, 128);
    std::uint32_t w0, w3;
    std::memcpy(&w0, out.data(), 4);
    std::memcpy(&w3, out.data() + 12, 4);
    EXPECT_EQ(w0, (16u << 2) | (26u << 12) | (36u << 22));     // Cb0 Y0 Cr0
    EXPECT_EQ(w3, (106u << 2) | (116u << 12) | (126u << 22));  // Y4 Cr2 Y5
    // Studio white and black become full-range white and black.
    std::fill(p.uyvy.begin(), p.uyvy.end(), 128);
    p.uyvy[1] = 235;
    p.uyvy[3] = 16;
    ASSERT_TRUE(PackPicture(p, eMFCC_RGB32, &out, &rb));
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 8),
              (std::vector<std::uint8_t>{255, 255, 255, 255, 0, 0, 0, 255}));
    EXPECT_FALSE(PackPicture(p, eMFCC_NV12, &out, &rb));
}

TEST(Captions, LinesOfHexPairsFromABoundedRegularFile) {
    std::vector<std::vector<std::uint8_t>> cc;
    ASSERT_EQ(ReadCaptions(TempFile("cc.txt", "9420 2c2f\n\nC1C2\n"), &cc), "");
    ASSERT_EQ(cc.size(), 3u);
    EXPECT_EQ(cc[0], (std::vector<std::uint8_t>{0x94, 0x20, 0x2c, 0x2f}));
    EXPECT_TRUE(cc[1].empty());

    const auto big = orvex::test::g_temp_registry->dir() / "big.txt";
    std::ofstream(big).close();
    std::filesystem::resize_file(big, kMaxCaptionBytes + 1);  // sparse: quick to make
    const struct {
        std::string path;
        const char* reason;
    } cases[] = {{TempFile("cc1.txt", "9420 xyz1\n"), "line 1"},
                 {TempFile("cc2.txt", "94 20\n"), "hex byte pair"},
                 {TempFile("cc3.txt", "9420\n\x1b[2J\n"), "line 2: '\\x1B[2J'"},  // not echoed raw
                 {"/nonexistent", "cannot open"},
                 {"/dev/zero", "is not a regular file"},  // endless
                 {orvex::test::g_temp_registry->dir().string(), "is not a regular file"},
                 {big.string(), "larger than 16 MiB"}};
    for (const auto& c : cases) {
        const std::string error = ReadCaptions(c.path, &cc);
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.path << ": " << error;
        EXPECT_EQ(error.find('\x1b'), std::string::npos);
    }
}

TEST(Timecode, CountsAndRefusesLabelsThatDoNotExist) {
    TimecodeClock clock{10 * 3600 * 25, 25, false};
    EXPECT_EQ(clock.Text(26), "10:00:01:01");
    EXPECT_EQ((TimecodeClock{24 * 3600 * 25 - 1, 25, false}.Text(1)), "00:00:00:00");
    // Drop-frame: the labels skip ;00 and ;01 at each minute but every tenth.
    int start = 0;
    ASSERT_EQ(TimecodeFrames(0, 0, 59, 29, true, 30, true, &start), "");
    TimecodeClock df{start, 30, true};
    EXPECT_EQ(df.Text(0), "00:00:59;29");
    EXPECT_EQ(df.Text(1), "00:01:00;02");
    ASSERT_EQ(TimecodeFrames(0, 9, 59, 29, true, 30, true, &start), "");
    EXPECT_EQ((TimecodeClock{start, 30, true}.Text(1)), "00:10:00;00");
    ASSERT_EQ(TimecodeFrames(1, 0, 0, 0, true, 30, true, &start), "");
    EXPECT_EQ(start, 107892);  // frames in an hour of 29.97 drop-frame

    const struct {
        int h, m, s, f;
        bool drop;
        int fps;
        const char* reason;
    } refused[] = {{10, 0, 0, 59, false, 25, "does not exist at 25 frames/s (frames 00 to 24)"},
                   {10, 0, 0, 30, false, 30, "frames 00 to 29"},
                   {0, 1, 0, 0, true, 30, "00:01:00;00 does not exist"},
                   {0, 1, 0, 3, true, 60, "00:01:00;03 does not exist"},
                   {0, 0, 0, 0, true, 25, "needs a 29.97 or 59.94 output"}};
    for (const auto& c : refused) {
        const std::string error =
            TimecodeFrames(c.h, c.m, c.s, c.f, c.drop, c.fps, c.fps != 25, &start);
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    EXPECT_EQ(TimecodeFrames(0, 10, 0, 0, true, 30, true, &start), "");
}

}  // namespace
