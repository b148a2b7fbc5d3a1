// Media files the ffmpeg program makes here, read by the player's media reader and planned
// into periods as the player does, without a renderer: channels land where the card wants
// them, time stamps place pictures and sound, and the read-ahead stays bounded whatever the
// streams do.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tool_test_util.h"
#include "tools/oxplay/output_format.h"
#include "tools/oxplay/schedule.h"
#include "tools/oxplay/source.h"

namespace {

using namespace oxplay;

class Media : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "the ffmpeg program is not installed";
    }
    // Makes `name` with ffmpeg from `args` (inputs and options).
    static std::string Make(const std::string& name, const std::string& args) {
        const auto path = (orvex::test::g_temp_registry->dir() / name).string();
        const std::string cmd = "ffmpeg -loglevel error -y " + args + " " + path;
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return path;
    }
    static std::unique_ptr<Source> Open(const std::string& path) {
        std::string error;
        auto s = OpenMedia(path, &error);
        EXPECT_TRUE(s) << error;
        return s;
    }
};

// Plays `source` into periods of `rate`: the sound of each channel, and how many periods.
struct Played {
    std::vector<std::vector<double>> channels;
    std::int64_t periods = 0;
    PictureCounts counts;
    std::vector<int> first_pictures;  // periods before the first picture, and so on
};

Played PlayOut(Source* source, double rate, std::int64_t limit = -1) {
    OutputClock out;
    RateFraction(rate, &out.rate_num, &out.rate_den);
    Schedule schedule(source, out, limit, false);
    Played p;
    p.channels.resize(static_cast<std::size_t>(source->audio.channels));
    PeriodPlan plan;
    std::string error;
    while (schedule.Next(&plan, &error)) {
        ++p.periods;
        p.first_pictures.push_back(plan.picture ? 1 : 0);
        const auto* s = reinterpret_cast<const std::int32_t*>(plan.audio.data());
        for (int i = 0; i < plan.samples; ++i)
            for (std::size_t c = 0; c < p.channels.size(); ++c)
                p.channels[c].push_back(s[i * p.channels.size() + c] / 2147483648.0);
    }
    EXPECT_EQ(error, "");
    p.counts = schedule.counts();
    return p;
}

double Mean(const std::vector<double>& v, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += v[i];
    return sum / static_cast<double>(to - from);
}

TEST_F(Media, ChannelsGoWhereTheCardWantsThem) {
    // Each channel a level of its own (tenths, in the file's order).
    const struct {
        const char* layout;
        std::vector<double> want;  // level of each card channel
    } cases[] = {
        {"mono", {0.1, 0.1}},
        {"stereo", {0.1, 0.2}},
        {"5.1", {0.1, 0.2, 0.3, 0.4, 0.5, 0.6}},  // FL FR FC LFE BL BR
        {"5.1(side)", {0.1, 0.2, 0.3, 0.4, 0.5, 0.6}},
        {"7.1", {0.1, 0.2, 0.3, 0.4, 0.7, 0.8, 0.5, 0.6}},  // FL FR FC LFE BL BR SL SR: sides first
        {"quad", {0.1, 0.2, 0.3, 0.4}},                     // others keep their order
    };
    for (const auto& c : cases) {
        const int channels = std::string(c.layout) == "mono" ? 1 : static_cast<int>(c.want.size());
        const auto path = Make(
            "levels.mkv", orvex::test::Levels(c.layout, channels, 44100, 0.2) + " -c:a pcm_s32le");
        auto source = Open(path);
        ASSERT_TRUE(source);
        ASSERT_EQ(source->audio.channels, static_cast<int>(c.want.size())) << c.layout;
        const Played p = PlayOut(source.get(), 25);
        EXPECT_EQ(p.periods, 5) << c.layout;
        for (std::size_t ch = 0; ch < c.want.size(); ++ch)
            EXPECT_NEAR(Mean(p.channels[ch], 100, 8000), c.want[ch], 1e-3) << c.layout << " " << ch;
    }
}

TEST_F(Media, TimeStampsPlacePicturesAndSound) {
    // Video from 0.4 s to 0.8 s, sound from 0 to 0.3 s and again from 0.5 s to 1 s.
    const auto path = Make("late.mkv",
                           "-itsoffset 0.4 -f lavfi -i testsrc2=size=64x48:rate=25:duration=0.4 "
                           "-f lavfi -i aevalsrc=0.5:s=48000:n=480:d=0.8 "
                           "-af \"asetpts='PTS+gte(T\\,0.295)*0.2/TB'\" -c:v mpeg4 -c:a pcm_s32le");
    auto source = Open(path);
    ASSERT_TRUE(source);
    const Played p = PlayOut(source.get(), 25);
    EXPECT_EQ(p.periods, 25);
    // Black for the first ten periods, then the ten pictures, then the last held to 1 s.
    EXPECT_EQ(std::count(p.first_pictures.begin(), p.first_pictures.begin() + 10, 1), 0);
    EXPECT_EQ(p.counts.shown, 10);
    const auto& s = p.channels[0];
    ASSERT_EQ(s.size(), 48000u);
    EXPECT_NEAR(Mean(s, 0, 14400), 0.5, 1e-6);      // sound
    EXPECT_NEAR(Mean(s, 14400, 24000), 0.0, 1e-9);  // the gap is silence
    EXPECT_NEAR(Mean(s, 24000, 48000), 0.5, 1e-6);  // in step again
}

TEST_F(Media, ReadAheadStaysBoundedWhateverTheStreamsDo) {
    // Twelve seconds of small pictures and sound, one stream cut short or started late: a
    // reader that held everything it read past the missing stream would hold most of the file.
    const std::string pictures = "-f lavfi -i testsrc2=size=160x120:rate=25:duration=";
    const std::string sound = " -f lavfi -i aevalsrc=0.1:s=48000:d=";
    const std::string codecs = " -c:v mpeg4 -q:v 2 -c:a pcm_s16le";
    const struct {
        const char* what;
        std::string args;
    } cases[] = {
        {"sound ends early", pictures + "12" + sound + "0.2" + codecs},
        {"pictures end early", pictures + "0.2" + sound + "12" + codecs},
        {"pictures start late", "-itsoffset 9 " + pictures + "1" + sound + "12" + codecs},
    };
    for (const auto& c : cases) {
        const auto path = Make("long.mkv", c.args);
        auto source = Open(path);
        ASSERT_TRUE(source);
        const Played p = PlayOut(source.get(), 25);
        EXPECT_GE(p.periods, 300) << c.what;
        // About three seconds of the stream that plays, never the whole file.
        const auto file = static_cast<double>(std::filesystem::file_size(path));
        EXPECT_LT(static_cast<double>(source->PeakQueuedBytes()), 0.4 * file) << c.what;
    }
}

TEST_F(Media, PicturesComeUprightAndTheFilesLengthHolds) {
    // A phone's picture stored sideways with a quarter turn to show it upright; AAC sound,
    // whose decoder gives out padding past the stream's end.
    const auto stored = Make("sideways.mp4",
                             "-f lavfi -i testsrc2=size=64x48:rate=30:duration=0.5 "
                             "-f lavfi -i sine=sample_rate=44100:duration=0.5 -c:v mpeg4 -c:a aac");
    const auto path = Make("phone.mp4", "-i " + stored + " -c copy -metadata:s:v:0 rotate=90");
    auto source = Open(path);
    ASSERT_TRUE(source);
    EXPECT_EQ(std::tie(source->video.width, source->video.height), std::make_tuple(48, 64));
    const Played p = PlayOut(source.get(), 30);
    EXPECT_EQ(p.periods, 15);
    EXPECT_EQ(p.counts.shown, 15);
}

}  // namespace
