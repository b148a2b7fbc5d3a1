// oxplay run as a person runs it, on the virtual DeckLink card it registers on its first run;
// what went on air is read back from the card's recording.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "tool_test_util.h"
#include "tools/oxplay/source.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using orvex::test::Levels;
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

bool HaveFfmpeg() {
    return std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") ==
           0;
}

fs::path Find(const fs::path& dir, const std::string& extension) {
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == extension) return e.path();
    return {};
}

// The recorded Y4M file of `dir` (8-bit 4:2:2), read back as UYVY by the player's own reader.
struct Recording {
    int width = 0, height = 0;
    std::vector<std::vector<std::uint8_t>> frames;
    int Luma(std::size_t frame, int x, int y) const {
        return frames[frame][(static_cast<std::size_t>(y) * width + x) * 2 + 1];
    }
};

Recording ReadRecording(const fs::path& dir) {
    Recording rec;
    const fs::path path = Find(dir, ".y4m");
    const std::string head = Slurp(path).substr(0, 64);
    EXPECT_NE(head.substr(0, head.find('\n')).find(" C422"), std::string::npos) << head;
    std::string error;
    auto src = oxplay::OpenY4M(path.string(), &error);
    EXPECT_TRUE(src) << error;
    if (!src) return rec;
    rec.width = src->video.width;
    rec.height = src->video.height;
    for (oxplay::TimedImage f; src->NextPicture(0, &f, &error) == oxplay::Fetch::kPicture;)
        rec.frames.push_back(f.image->bytes);
    return rec;
}

// The recorded sound of `dir`, by the player's own reader: every channel, full scale 1.
std::vector<std::vector<double>> ReadSound(const fs::path& dir) {
    std::string error;
    auto wav = oxplay::OpenWav(Find(dir, ".wav").string(), &error);
    if (!wav) return {};
    std::vector<std::vector<double>> out(static_cast<std::size_t>(wav->audio.channels));
    const int bytes = wav->audio.bits / 8;
    std::vector<std::uint8_t> block(4800 * out.size() * bytes);
    for (bool ended = false; !ended && wav->ReadAudio(4800, block.data(), &ended, &error);)
        for (std::size_t i = 0; i < block.size() / bytes; ++i) {
            std::int32_t v = 0;
            std::memcpy(reinterpret_cast<char*>(&v) + 4 - bytes, block.data() + i * bytes, bytes);
            out[i % out.size()].push_back(v / 2147483648.0);
        }
    return out;
}

// Samples within 5% of `level`: the sound that played (silence the card filled in where
// its buffer ran dry on a busy machine does not count).
std::size_t SamplesAt(const std::vector<double>& channel, double level) {
    return static_cast<std::size_t>(std::count_if(channel.begin(), channel.end(), [&](double v) {
        return std::fabs(v - level) < 0.05 * level;
    }));
}

// What ffprobe says of the recorded picture: "1280,720,60/1".
std::string Probe(const fs::path& file) {
    const std::string cmd =
        "ffprobe -v error -select_streams v:0 -show_entries "
        "stream=width,height,r_frame_rate -of csv=p=0 " +
        file.string();
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, p)) out += line;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
    return out;
}

TEST(OxplayBadInput, EndsWithCodeTwoAndOneLine) {
    const fs::path tmp = orvex::test::g_temp_registry->dir();
    const std::string garbage = (tmp / "garbage.mp4").string();
    std::ofstream(garbage) << std::string(4096, 'x');
    const std::string cut = (tmp / "cut.y4m").string();
    std::ofstream(cut) << "YUV4MPEG2 W16 H16 F25:1 Ip C422\nFRAME\n" << std::string(100, 'x');
    const std::string silent = (tmp / "silent.wav").string();
    std::ofstream(silent, std::ios::binary) << orvex::test::Wav(1, 2, 48000, 16, "");
    const std::string escape = (tmp / "cc.txt").string();
    std::ofstream(escape) << "94\x1b]0;pwned\x07\n";
    const std::string rig = (tmp / "broken-rig.xml").string();
    std::ofstream(rig) << "<rig>\n  <card model=\"A\" video-out=\"sdi\"\n"
                          "        frame-memory=\"100000000000000000000000\"/>\n</rig>\n";
    const struct {
        std::string args;
        const char* reason;
    } cases[] = {
        {"--device 'No Such Card'", "unknown device 'No Such Card'"},
        {"--format HD9999-1p", "unknown format 'HD9999-1p'"},
        {"--rig no-such-rig", "unknown rig 'no-such-rig'"},
        {"/nonexistent/clip.mov", "neither a pattern"},
        // Each reader's refusal passed on; the readers' own tests have every reason.
        {garbage, "garbage.mp4"},
        {cut, "holds no whole picture"},
        {silent, "holds no samples"},
        {"--timecode 10:00:00:59", "does not exist at 25 frames/s"},
        {"--format HD720-50p --timecode '10:00:00;00'", "needs a 29.97 or 59.94 output"},
        {"--captions " + escape, "\\x1B]0;pwned\\x07"},
        // A rig the virtual card cannot read, with the fault's place.
        {"--rig " + rig + " --list-devices",
         "broken-rig.xml: line 3: <card> attribute frame-memory: not a whole number"},
        // A setting the schema refuses (both tools check settings alike: oxprops' test has
        // each kind of refusal).
        {"--set input.buffers=abc", "cannot set 'input.buffers' to 'abc': not a whole number"}};
    for (const auto& c : cases) {
        const auto r = RunOxplay("--record " + Dir("bad").string() + " " + c.args);
        orvex::test::ExpectRefused(r, "oxplay", c.args, c.reason);
        EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << "a control character was echoed";
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
    const auto sound = ReadSound(dir);
    ASSERT_GE(sound.size(), 2u);         // the card plays as many channels as it has
    EXPECT_GE(sound[0].size(), 19200u);  // 0.4 s at 48 kHz

    // A second run into the same folder writes over the first's files and names them too.
    // Captions cannot go out in 8-bit output: the player says so, and how they can.
    const std::string captions = (orvex::test::g_temp_registry->dir() / "cc.txt").string();
    std::ofstream(captions) << "9420 2c2f\n";
    const auto again = RunOxplay("bars --format HD720-50p --seconds 0.2 --captions " + captions +
                                 " --record " + dir.string());
    ASSERT_EQ(again.code, 0) << again.out << again.err;
    EXPECT_NE(again.out.find("Watch it:  ffplay " + dir.string()), std::string::npos) << again.out;
    EXPECT_NE(again.err.find("warning: captions go out only with 10-bit output on HD720-50p: "
                             "add --pixel-format v210"),
              std::string::npos)
        << again.err;
}

// Starts oxplay with `args`; its output goes to files in the temporary folder ("out" and
// "err", after `tag`).
pid_t Start(const std::vector<std::string>& args, const std::string& tag = "") {
    const fs::path tmp = orvex::test::g_temp_registry->dir();
    std::vector<std::string> all = {OXPLAY_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, (tmp / (tag + "out")).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, (tmp / (tag + "err")).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, OXPLAY_PATH, &files, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// Waits until `done` holds or the deadline passes; false at the deadline.
template <class Condition>
bool WaitFor(Condition done, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The exit status of `pid` once it ended within `deadline`; -1 (and the process killed)
// when it did not.
int Finish(pid_t pid, std::chrono::milliseconds deadline) {
    int status = 0;
    if (WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, deadline))
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

TEST(OxplayEnd, WaitsNoLongerThanTheQueueHoldsAndCtrlCEndsIt) {
    const fs::path tmp = orvex::test::g_temp_registry->dir();
    const std::string record = "--record=" + Dir("end").string();
    // A queue of 250 frames (ten seconds) that holds five: the wait is for five.
    pid_t pid = Start(
        {"bars", "--format", "PAL", "--seconds", "0.2", "--set", "input.buffers=250", record});
    ASSERT_GT(pid, 0);
    EXPECT_EQ(Finish(pid, std::chrono::seconds(6)), 0) << Slurp(tmp / "out") << Slurp(tmp / "err");
    EXPECT_NE(Slurp(tmp / "out").find("Played after"), std::string::npos);

    // Four seconds queued at once: Ctrl-C ends the wait for them. Captions go out in v210
    // without a word.
    const std::string captions = (tmp / "cc.txt").string();
    std::ofstream(captions) << "9420 2c2f\n";
    pid = Start({"bars", "--format", "PAL", "--pixel-format", "v210", "--seconds", "4", "--set",
                 "input.buffers=250", "--captions", captions, record});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitFor([&] { return Slurp(tmp / "out").find("Waiting") != std::string::npos; },
                        std::chrono::seconds(30)))
        << Slurp(tmp / "out") << Slurp(tmp / "err");
    kill(pid, SIGINT);
    EXPECT_EQ(Finish(pid, std::chrono::seconds(2)), 0) << "Ctrl-C did not end the wait";
    EXPECT_NE(Slurp(tmp / "out").find("Stopped after"), std::string::npos) << Slurp(tmp / "out");
    EXPECT_EQ(Slurp(tmp / "err").find("warning"), std::string::npos) << Slurp(tmp / "err");
}

// A virtual card's output belongs to one process: a second player finds it busy until the
// first ends, even by a kill, which leaves its log in whole lines at most a period behind its
// pictures; each run records under a name of its own.
TEST(OxplayCard, OneProcessAtATimeAndAKillLeavesWholeLines) {
    const fs::path tmp = orvex::test::g_temp_registry->dir();
    const fs::path dir = Dir("shared");
    const pid_t first =
        Start({"bars", "--format", "PAL", "--seconds", "30", "--record", dir.string()}, "first-");
    ASSERT_GT(first, 0);
    ASSERT_TRUE(
        WaitFor([&] { return Slurp(tmp / "first-out").find("On air") != std::string::npos; },
                std::chrono::seconds(30)))
        << Slurp(tmp / "first-out") << Slurp(tmp / "first-err");
    const auto busy = RunOxplay("bars --format PAL --seconds 0.2 --record " + dir.string());
    EXPECT_EQ(busy.code, 1) << busy.out << busy.err;
    EXPECT_NE(busy.err.find("busy"), std::string::npos) << busy.err;

    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(first, SIGKILL);
    EXPECT_EQ(Finish(first, std::chrono::seconds(5)), 128 + SIGKILL);
    const std::string log = Slurp(Find(dir, ".jsonl"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), '\n');
    const auto lines = std::count(log.begin(), log.end(), '\n');
    const auto y4m = fs::file_size(Find(dir, ".y4m"));
    const auto pictures =
        static_cast<long>((y4m - Slurp(Find(dir, ".y4m")).find('\n') - 1) / (6 + 720 * 576 * 2));
    EXPECT_LE(pictures - lines, 1) << pictures << " pictures, " << lines << " lines";

    const auto again = RunOxplay("bars --format PAL --seconds 0.2 --record " + dir.string());
    EXPECT_EQ(again.code, 0) << again.out << again.err;
    int logs = 0;
    for (const auto& e : fs::directory_iterator(dir)) logs += e.path().extension() == ".jsonl";
    EXPECT_EQ(logs, 2);
}

// Files the ffmpeg program makes: a flat grey picture (luma 171 in studio range) and a level
// of its own on each sound channel, so the recording shows where the picture and the bars
// went and on which card channel each sound channel landed.
struct MediaCase {
    const char* name;
    const char* what;
    std::string make;     // ffmpeg inputs and codecs
    std::string options;  // oxplay's
    const char* format;   // the recording, as ffprobe gives it
    double seconds;       // how long the file plays
    double rate;          // periods a second on air
    int centre;           // luma in the middle of the output
    // Picture: where a bar must be (x0, y0, x1, y1 of the output) and a point of the picture
    // just beside it, or none.
    int bar[4];
    int inside[2];
    std::vector<double> levels;  // each card channel's level; empty: no sound
    double sound_seconds;
};

constexpr int kGrey = 171;  // of 0xB4B4B4

void PrintTo(const MediaCase& c, std::ostream* out) {
    *out << c.what;
}

std::string Grey(const std::string& size, const std::string& rate, double seconds) {
    return "-f lavfi -i color=c=0xB4B4B4:size=" + size + ":rate=" + rate +
           ":duration=" + std::to_string(seconds);
}

class OxplayMedia : public ::testing::TestWithParam<MediaCase> {};

TEST_P(OxplayMedia, PlaysAnyFileOnTheOutputItChose) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed";
    const MediaCase& c = GetParam();
    const fs::path clip = orvex::test::g_temp_registry->dir() / "clip.mkv";
    const std::string make = "ffmpeg -loglevel error -y " + c.make + " " + clip.string();
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    const fs::path dir = Dir("media");
    const auto r = RunOxplay(clip.string() + " " + c.options + " --record " + dir.string());
    ASSERT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(Probe(Find(dir, ".y4m")), c.format) << r.out;

    // On air, the timecodes run for the file's length at the output's rate, give or take a
    // period; nearly every frame is new (a loaded machine may lose one to a late hand-over).
    const std::string log = Slurp(Find(dir, ".jsonl"));
    const auto last = log.find(":\"", log.rfind("\"timecode\":{") + 12);
    int h = 0, m = 0, s = 0, f = -1;
    ASSERT_EQ(std::sscanf(log.c_str() + last + 2, "%d:%d:%d%*c%d", &h, &m, &s, &f), 4) << log;
    const long fps = std::lround(c.rate);
    EXPECT_NEAR(static_cast<double>(((h * 60 + m) * 60 + s - 36000) * fps + f + 1),
                c.seconds * c.rate, 1.0)
        << c.what << "\n"
        << r.out;
    std::size_t fresh = 0;
    for (auto at = log.find("\"new\""); at != std::string::npos; at = log.find("\"new\"", at + 1))
        ++fresh;
    EXPECT_GE(static_cast<double>(fresh), 0.75 * c.seconds * c.rate) << r.out;

    // The picture's middle is the file's grey; where the shape leaves room, black bars.
    const Recording rec = ReadRecording(dir);
    ASSERT_FALSE(rec.frames.empty());
    const std::size_t mid = rec.frames.size() / 2;
    EXPECT_NEAR(rec.Luma(mid, rec.width / 2, rec.height / 2), c.centre, 3) << c.what;
    if (c.bar[2] > c.bar[0]) {
        for (int y = c.bar[1]; y < c.bar[3]; y += 7)
            for (int x = c.bar[0]; x < c.bar[2]; x += 7)
                ASSERT_NEAR(rec.Luma(mid, x, y), 16, 2) << c.what << " bar at " << x << "," << y;
        EXPECT_NEAR(rec.Luma(mid, c.inside[0], c.inside[1]), kGrey, 4) << c.what << " picture";
    }

    // Each channel at its place, and the sound as long as the file's within a period, and a
    // period more for each period the output missed or time the renderer moved the sound back
    // onto its pictures (a loaded machine: what came too late for its place is cut).
    const auto sound = ReadSound(dir);
    if (c.levels.empty()) return;
    auto figure = [&](const std::string& name) {
        const auto at = r.out.rfind(name + " ");
        return at == std::string::npos ? 0.0 : std::atof(r.out.c_str() + at + name.size() + 1);
    };
    const double missed = figure("missed") + figure("audio realigned");
    ASSERT_GE(sound.size(), c.levels.size());
    for (std::size_t ch = 0; ch < c.levels.size(); ++ch) {
        if (c.levels[ch] == 0) {
            EXPECT_EQ(SamplesAt(sound[ch], 0.5), 0u) << c.what << " channel " << ch + 1;
            continue;
        }
        EXPECT_NEAR(static_cast<double>(SamplesAt(sound[ch], c.levels[ch])),
                    c.sound_seconds * 48000, 48000 / c.rate * (1 + missed))
            << c.what << " channel " << ch + 1;
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, OxplayMedia, ::testing::Values(
    MediaCase{"Hd720At30With51", "720p 30 with 5.1 at 44.1 kHz: its own format, each picture twice",
              Grey("1280x720", "30", 0.4) + Levels("5.1", 6, 44100, 0.4) + " -c:v mpeg4 -c:a pcm_s16le",
              "", "1280,720,60/1", 0.4, 60, kGrey, {}, {}, {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0}, 0.4},
    MediaCase{"UprightPhoneWithMono96k", "an upright phone video at 29.97 with mono at 96 kHz, pillarboxed",
              Grey("1080x1920", "30000/1001", 0.4) + Levels("mono", 1, 96000, 0.4) +
                  " -c:v mpeg4 -c:a pcm_s24le",
              "--format HD720-59p", "1280,720,60000/1001", 0.4, 60000.0 / 1001, kGrey, {0, 0, 430, 720},
              {450, 360}, {0.1, 0.1, 0}, 0.4},
    MediaCase{"ScopeFilmWithoutSound", "a scope film at 23.976 without sound, letterboxed on 24",
              Grey("2048x858", "24000/1001", 0.5) + " -c:v mpeg4",
              "--format HD1080-24p", "1920,1080,24/1", 12 / (24000.0 / 1001), 24, kGrey,
              {0, 952, 1920, 1080}, {960, 930}, {}, 0},
    MediaCase{"Vga27With71", "640x480 at 27 with 7.1 at 48 kHz: PAL, pictures dropped evenly",
              Grey("640x480", "27", 0.4) + Levels("7.1", 8, 48000, 0.4) + " -c:v mpeg4 -c:a pcm_s16le",
              "", "720,576,25/1", 11 / 27.0, 25, kGrey, {}, {}, {0.1, 0.2, 0.3, 0.4, 0.7, 0.8, 0.5, 0.6},
              0.4},
    MediaCase{"UhdCroppedToNtsc", "UHD at 59.94 cropped to a 4:3 standard definition output",
              Grey("3840x2160", "60000/1001", 0.25) + " -c:v mpeg4 -q:v 20",
              "--format NTSC --fit crop", "720,486,30000/1001", 15 / (60000.0 / 1001), 30000.0 / 1001,
              kGrey, {}, {}, {}, 0},
    MediaCase{"VariableRateShortSound", "a variable rate at 25, sound ending early at 44.1 kHz",
              Grey("320x240", "50", 0.6) + Levels("stereo", 2, 44100, 0.2) +
                  " -vf \"select='not(eq(mod(n\\,5)\\,1))'\" -fps_mode passthrough -c:v mpeg4 -c:a pcm_s16le",
              "--format HD1080-25p", "1920,1080,25/1", 0.6, 25, kGrey, {0, 0, 230, 1080}, {260, 540},
              {0.1, 0.2}, 0.2},
    MediaCase{"SoundWithoutPictures", "sound without pictures, over colour bars (the fifth in the middle)",
              Levels("stereo", 2, 44100, 0.3).substr(1) + " -c:a alac",
              "--format HD720-50p", "1280,720,50/1", 0.3, 50, 63, {}, {}, {0.1, 0.2}, 0.3}),
    [](const ::testing::TestParamInfo<MediaCase>& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
