// oxplay run as a person runs it, on the virtual DeckLink card it registers on its first run.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include <cstdio>
#include <cstring>

#include "tool_test_util.h"
#include "tools/oxplay/source.h"

namespace {

namespace fs = std::filesystem;
using orvex::test::Slurp;

fs::path Dir(const std::string& name) {
    const fs::path d = orvex::test::g_temp_registry->dir() / name;
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

orvex::test::RunResult RunOxplay(const std::string& args) {
    return orvex::test::RunTool(OXPLAY_PATH, args);
}

// The recorded Y4M file of `dir` (8-bit 4:2:2), read back as UYVY by the player's own reader.
struct Recording {
    int width = 0, height = 0;
    std::vector<std::vector<std::uint8_t>> frames;
};

Recording ReadRecording(const fs::path& dir) {
    Recording rec;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() != ".y4m") continue;
        const std::string head = Slurp(e.path()).substr(0, 64);
        EXPECT_NE(head.substr(0, head.find('\n')).find(" C422"), std::string::npos) << head;
        std::string error;
        auto src = oxplay::OpenY4M(e.path().string(), eMFCC_UYVY, &error);
        EXPECT_TRUE(src) << error;
        if (!src) break;
        rec.width = src->video.width;
        rec.height = src->video.height;
        for (oxplay::Frame f; src->Read(&f, &error);) rec.frames.push_back(f.video);
    }
    return rec;
}

std::size_t WavSamples(const fs::path& dir, int* channels) {
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() != ".wav") continue;
        const std::string data = Slurp(e.path());
        if (data.size() < 44) return 0;
        const auto fmt = data.find("fmt ");
        const auto d = data.find("data");
        *channels = static_cast<unsigned char>(data[fmt + 10]);
        const int bits = static_cast<unsigned char>(data[fmt + 22]);
        std::uint32_t len;
        std::memcpy(&len, data.data() + d + 4, 4);
        return len / (*channels * bits / 8);
    }
    return 0;
}

TEST(OxplayBadInput, EndsWithCodeTwoAndOneLine) {
    const std::string garbage = (orvex::test::g_temp_registry->dir() / "garbage.mp4").string();
    std::ofstream(garbage) << std::string(4096, 'x');
    const std::string cut = (orvex::test::g_temp_registry->dir() / "cut.y4m").string();
    std::ofstream(cut) << "YUV4MPEG2 W16 H16 F25:1 Ip C422\nFRAME\n" << std::string(100, 'x');
    const struct {
        std::string args;
        const char* reason;
    } cases[] = {{"--device 'No Such Card'", "unknown device 'No Such Card'"},
                 {"--format HD9999-1p", "unknown format 'HD9999-1p'"},
                 {"--rig no-such-rig", "unknown rig 'no-such-rig'"},
                 {"/nonexistent/clip.mov", "neither a pattern"},
                 {garbage, "garbage.mp4"},
                 {cut, "holds no whole picture"},
                 {"--captions /nonexistent/cc.txt", "cannot open caption file"}};
    for (const auto& c : cases) {
        const auto r = RunOxplay("--record " + Dir("bad").string() + " " + c.args);
        orvex::test::ExpectRefused(r, "oxplay", c.args, c.reason);
    }
}

TEST(OxplayPattern, RecordsThePatternFrameForFrame) {
    const fs::path dir = Dir("bars");
    const auto r = RunOxplay("bars --format HD720-50p --seconds 0.4 --record " + dir.string());
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("ffplay " + dir.string()), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("frames 20"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("reference locked"), std::string::npos) << r.out;  // the rig's state
    const Recording rec = ReadRecording(dir);
    ASSERT_EQ(rec.width, 1280);
    ASSERT_EQ(rec.height, 720);
    ASSERT_GE(rec.frames.size(), 20u);

    oxplay::Picture bars;
    bars.Resize(1280, 720);
    oxplay::DrawPattern(oxplay::Pattern::kBars, 0, {}, &bars);
    EXPECT_TRUE(rec.frames[rec.frames.size() / 2] == bars.uyvy);
    int channels = 0;
    const std::size_t samples = WavSamples(dir, &channels);
    EXPECT_GE(channels, 2);      // the card plays as many channels as it has
    EXPECT_GE(samples, 19200u);  // 0.4 s at 48 kHz

    // A second run into the same folder writes over the first's files and names them too.
    const auto again = RunOxplay("bars --format HD720-50p --seconds 0.2 --record " + dir.string());
    ASSERT_EQ(again.code, 0) << again.out << again.err;
    EXPECT_NE(again.out.find("Watch it:  ffplay " + dir.string()), std::string::npos) << again.out;
}

TEST(OxplayY4M, PlaysEveryPictureOfTheFile) {
    // Ten 1280x720 50p pictures, each a flat grey of its own level.
    std::string file = "YUV4MPEG2 W1280 H720 F50:1 Ip A1:1 C420jpeg\n";
    for (int i = 0; i < 10; ++i)
        file += "FRAME\n" + std::string(1280 * 720, static_cast<char>(20 + i * 20)) +
                std::string(1280 * 720 / 2, '\x80');
    const fs::path path = orvex::test::g_temp_registry->dir() / "grey.y4m";
    std::ofstream(path, std::ios::binary) << file;
    const fs::path dir = Dir("y4m");
    const auto r = RunOxplay(path.string() + " --record " + dir.string());
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    const Recording rec = ReadRecording(dir);
    std::vector<int> levels;  // the new pictures, in order
    for (const auto& f : rec.frames)
        if (const int level = f[(360 * 1280 + 640) * 2 + 1];
            levels.empty() || levels.back() != level)
            levels.push_back(level);
    std::vector<int> want;
    for (int i = 0; i < 10; ++i) want.push_back(20 + i * 20);
    // Before the first picture the card may show black (16).
    if (!levels.empty() && levels.front() == 16) levels.erase(levels.begin());
    // A file's frame that comes too late is skipped, not shown late (a loaded machine can
    // make the first one late): what went on air is the file's pictures in order, less
    // exactly as many as the player's summary counts as skipped.
    const auto at = r.out.rfind("skipped ");
    ASSERT_NE(at, std::string::npos) << r.out;
    const std::size_t skipped = std::stoul(r.out.substr(at + 8));
    std::vector<int> shown;
    std::set_intersection(want.begin(), want.end(), levels.begin(), levels.end(),
                          std::back_inserter(shown));
    EXPECT_EQ(shown, levels) << "pictures out of order or not from the file";
    EXPECT_EQ(levels.size() + skipped, want.size()) << r.out;
}

TEST(OxplayMedia, PlaysAFileTheFfmpegProgramMade) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the ffmpeg program is not installed";
    const fs::path clip = orvex::test::g_temp_registry->dir() / "clip.mkv";
    const std::string make =
        "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=1280x720:rate=50 -f lavfi -i "
        "sine=frequency=1000:sample_rate=48000 -t 0.4 -c:v mpeg4 -pix_fmt yuv420p -c:a pcm_s16le " +
        clip.string();
    ASSERT_EQ(std::system(make.c_str()), 0);
    const fs::path dir = Dir("media");
    const auto r = RunOxplay(clip.string() + " --record " + dir.string());
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("frames 20"), std::string::npos) << r.out;
    EXPECT_GE(ReadRecording(dir).frames.size(), 20u);
    int channels = 0;
    EXPECT_GE(WavSamples(dir, &channels), 19000u);
}

}  // namespace
