// oxplay's sources: files read into the layouts the renderer takes, damaged files refused
// with a reason, and the audio split over frames without losing or inventing a sample.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "tool_test_util.h"
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

TEST(AudioSplit, FollowsTheExactRateOverAnyRun) {
    VideoSpec ntsc;
    ntsc.rate_num = 30000;
    ntsc.rate_den = 1001;
    std::int64_t sum = 0;
    for (int i = 0; i < 5; ++i) sum += SamplesForFrame(i, ntsc, 48000);
    EXPECT_EQ(sum, 8008);  // five frames of 29.97 hold exactly 8008 samples
    VideoSpec pal;
    sum = 0;
    for (int i = 0; i < 25; ++i) sum += SamplesForFrame(i, pal, 44100);
    EXPECT_EQ(sum, 44100);
}

TEST(Y4M, FourTwoZeroBecomesUyvyWithChromaRepeatedDownTheRows) {
    // 4x2 picture, luma 1..8, Cb 100/101, Cr 200/201.
    std::string frame =
        "\x01\x02\x03\x04\x05\x06\x07\x08"
        "\x64\x65"
        "\xC8\xC9";
    const std::string path = TempFile("a.y4m", "YUV4MPEG2 W4 H2 F25:1 Ip A1:1 C420jpeg\nFRAME\n" +
                                                   frame + "FRAME\n" + frame + "FRAME\n\x01");
    std::string error;
    auto src = OpenY4M(path, eMFCC_UYVY, &error);
    ASSERT_TRUE(src) << error;
    EXPECT_EQ(src->video.width, 4);
    EXPECT_EQ(src->video.Rate(), 25.0);
    Frame f;
    ASSERT_TRUE(src->Read(&f, &error));
    EXPECT_EQ(f.row_bytes, 8);
    const std::uint8_t want[] = {100, 1, 200, 2, 101, 3, 201, 4, 100, 5, 200, 6, 101, 7, 201, 8};
    EXPECT_EQ(std::vector<std::uint8_t>(f.video.begin(), f.video.end()),
              std::vector<std::uint8_t>(std::begin(want), std::end(want)));
    ASSERT_TRUE(src->Read(&f, &error));
    EXPECT_FALSE(src->Read(&f, &error));  // the cut-off third frame ends the file
    EXPECT_EQ(error, "");
    ASSERT_TRUE(src->Rewind());
    EXPECT_TRUE(src->Read(&f, &error));
}

TEST(Y4M, FilesThatCannotPlayAreRefusedWithAReason) {
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {{"not a y4m\n", "is not a Y4M file"},
                 {"YUV4MPEG2 W3 H2 F25:1\n", "picture size"},
                 {"YUV4MPEG2 W99999 H2 F25:1\n", "picture size"},
                 {"YUV4MPEG2 W4 H2 F25:0\n", "frame rate"},
                 {"YUV4MPEG2 W4 H2 F25:1 C420p10\n", "C420p10"}};
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(OpenY4M(TempFile("bad.y4m", c.text), eMFCC_UYVY, &error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(OpenY4M("/nonexistent/x.y4m", eMFCC_UYVY, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
}

TEST(Wav, SamplesArriveAsIntegersTheRendererTakes) {
    VideoSpec v;
    v.width = 16;
    v.height = 4;
    v.rate_num = 4800;  // ten samples a frame at 48 kHz
    // 24-bit stereo, 15 sample frames: two frames, the second short.
    std::string data;
    for (int i = 0; i < 30; ++i) data += Le(static_cast<std::uint32_t>(i * 0x10203) & 0xFFFFFF, 3);
    std::string error;
    auto src = OpenWav(TempFile("a.wav", Wav(1, 2, 48000, 24, data)), v, &error);
    ASSERT_TRUE(src) << error;
    EXPECT_EQ(src->audio.bits, 32);
    EXPECT_EQ(src->FrameCount(), 2);
    Frame f;
    ASSERT_TRUE(src->Read(&f, &error));
    ASSERT_EQ(f.samples, 10);
    std::int32_t s3;
    std::memcpy(&s3, f.audio.data() + 3 * 4, 4);
    EXPECT_EQ(s3, static_cast<std::int32_t>((3u * 0x10203u) << 8));
    EXPECT_FALSE(f.video.empty());  // shown over colour bars
    ASSERT_TRUE(src->Read(&f, &error));
    EXPECT_EQ(f.samples, 5);
    EXPECT_FALSE(src->Read(&f, &error));

    // Float samples are clipped to full scale.
    float fl[2] = {2.0f, -0.5f};
    auto fsrc = OpenWav(
        TempFile("f.wav", Wav(3, 1, 48000, 32, std::string(reinterpret_cast<char*>(fl), 8))), v,
        &error);
    ASSERT_TRUE(fsrc) << error;
    ASSERT_TRUE(fsrc->Read(&f, &error));
    std::int32_t out[2];
    std::memcpy(out, f.audio.data(), 8);
    EXPECT_EQ(out[0], 2147483647);
    EXPECT_EQ(out[1], -1073741824);
}

TEST(Wav, FilesThatCannotPlayAreRefusedWithAReason) {
    VideoSpec v;
    v.width = 16;
    v.height = 4;
    const struct {
        std::string bytes;
        const char* reason;
    } cases[] = {{"RIFF....AVI ", "is not a WAV file"},
                 {Wav(2, 2, 48000, 16, "abcd"), "is not 16/24/32-bit PCM"},
                 {Wav(1, 17, 48000, 16, "abcd"), "channels"},
                 {Wav(1, 2, 1000, 16, "abcd"), "channels at 1000 Hz"},
                 {"RIFF" + Le(4, 4) + "WAVE", "has no audio data"}};
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(OpenWav(TempFile("bad.wav", c.bytes), v, &error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    // A data length past the end of the file (a recording cut short) plays what is there.
    std::string error;
    auto src = OpenWav(TempFile("cut.wav", Wav(1, 1, 48000, 16, "abcd", 1000000)), v, &error);
    ASSERT_TRUE(src) << error;
    EXPECT_EQ(src->FrameCount(), 1);
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

TEST(Captions, LinesOfHexPairsOrAReason) {
    std::vector<std::vector<std::uint8_t>> cc;
    ASSERT_EQ(ReadCaptions(TempFile("cc.txt", "9420 2c2f\n\nC1C2\n"), &cc), "");
    ASSERT_EQ(cc.size(), 3u);
    EXPECT_EQ(cc[0], (std::vector<std::uint8_t>{0x94, 0x20, 0x2c, 0x2f}));
    EXPECT_TRUE(cc[1].empty());
    EXPECT_NE(ReadCaptions(TempFile("cc.txt", "9420 xyz1\n"), &cc).find("line 1"),
              std::string::npos);
    EXPECT_NE(ReadCaptions(TempFile("cc.txt", "94 20\n"), &cc).find("hex byte pair"),
              std::string::npos);
    EXPECT_NE(ReadCaptions("/nonexistent", &cc).find("cannot open"), std::string::npos);
}

TEST(Timecode, CountsFromTheStartAndWrapsAtADay) {
    EXPECT_EQ(TimecodeText(10 * 3600 * 25, 26, 25), "10:00:01:01");
    EXPECT_EQ(TimecodeText(24 * 3600 * 25 - 1, 1, 25), "00:00:00:00");
}

}  // namespace
