// oxplay's command line and the names it resolves: every bad input gets a one-line reason
// naming what was wrong, and good input lands in the right fields.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/oxplay/options.h"

namespace {

using oxplay::Options;
using oxplay::ParseOptions;

struct BadCase {
    std::vector<std::string> args;
    const char* reason;  // a part of the message
};

class BadOptions : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadOptions, AreRefusedWithAOneLineReason) {
    Options o;
    const std::string err = ParseOptions(GetParam().args, &o);
    EXPECT_NE(err.find(GetParam().reason), std::string::npos) << err;
    EXPECT_EQ(err.find('\n'), std::string::npos) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadOptions,
    ::testing::Values(BadCase{{"--frobnicate"}, "unknown option '--frobnicate'"},
                      BadCase{{"--device"}, "--device needs a value"},
                      BadCase{{"--device="}, "--device needs a name"},
                      BadCase{{"--seconds", "ten"}, "--seconds takes a number"},
                      BadCase{{"--seconds", "nan"}, "--seconds takes a number"},
                      BadCase{{"--seconds", "1e9"}, "--seconds takes a number"},
                      BadCase{{"--audio-channels", "17"}, "--audio-channels takes a number"},
                      BadCase{{"--pixel-format", "NV12"}, "unknown pixel format 'NV12'"},
                      BadCase{{"--set", "noequals"}, "--set takes name=value"},
                      BadCase{{"--loop=yes"}, "--loop takes no value"},
                      BadCase{{"--fit", "zoom"}, "--fit takes letterbox, stretch or crop"},
                      BadCase{{"--timecode", "25:00:00:00"}, "--timecode takes HH:MM:SS:FF"},
                      BadCase{{"--record", ""}, "--record needs a folder"},
                      BadCase{{"a.y4m", "b.wav"}, "only one source"}));

TEST(Options, EveryOptionLandsInItsField) {
    Options o;
    std::vector<std::string> args;
    std::istringstream line(
        "clip.mov --device 1 --format=HD720-50p --pixel-format v210 --audio-channels 16 "
        "--seconds 2.5 --loop --live --set input.buffers=3 --set a::b=x=y --record out --fit crop "
        "--rig pair --captions cc.txt --timecode 01:02:03;04");
    for (std::string arg; line >> arg;) args.push_back(arg);
    ASSERT_EQ(ParseOptions(args, &o), "");
    EXPECT_EQ(o.source, "clip.mov");
    EXPECT_EQ(o.device, "1");
    EXPECT_EQ(o.format, "HD720-50p");
    EXPECT_EQ(o.pixel_format, "v210");
    EXPECT_EQ(o.audio_channels, 16);
    EXPECT_EQ(o.seconds, 2.5);
    EXPECT_TRUE(o.seconds_given && o.loop && o.live);
    ASSERT_EQ(o.props.size(), 2u);
    EXPECT_EQ(o.props[1], (std::pair<std::string, std::string>{"a::b", "x=y"}));
    EXPECT_EQ(o.record_dir, "out");
    EXPECT_EQ(o.fit, oxplay::Fit::kCrop);
    EXPECT_EQ(o.rig, "pair");
    EXPECT_EQ(o.captions, "cc.txt");
    EXPECT_EQ(o.timecode, "01:02:03;04");
}

TEST(FormatNames, MatchTheWholeNameOrItsFirstWordInAnyCase) {
    std::vector<oxplay::FormatEntry> formats(3);
    formats[0].name = "HD1080-25p HDYC 1920x1080@25.00p 16:9";
    formats[1].name = "HD1080-50i HDYC 1920x1080@25.00iT 16:9";
    formats[2].name = "HD720-59p HDYC 1280x720@59.94p 16:9";
    EXPECT_EQ(oxplay::MatchFormatName(formats, "hd1080-50i"), 1);
    EXPECT_EQ(oxplay::MatchFormatName(formats, formats[2].name), 2);
    EXPECT_EQ(oxplay::MatchFormatName(formats, "HD1080"), -1);
    EXPECT_EQ(oxplay::MatchFormatName(formats, ""), -1);
}

// What oxplay echoes from outside (names, file lines) cannot drive the terminal.
TEST(Printable, EscapesControlsAndBrokenText) {
    const struct {
        std::string in, out;
    } cases[] = {{"clip.mov", "clip.mov"},
                 {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},  // UTF-8 stays
                 {"a\x1B[2Jb", "a\\x1B[2Jb"},
                 {"line\nnext\r", "line\\x0Anext\\x0D"},
                 {"\x7F\xC2\x9B", "\\x7F\\xC2\\x9B"},  // DEL, and the C1 control CSI
                 {"\xC3", "\\xC3"},                    // cut-off sequence
                 {"\xFF\xFE", "\\xFF\\xFE"}};
    for (const auto& c : cases) EXPECT_EQ(oxplay::Printable(c.in), c.out);
}

TEST(Rates, BecomeExactFractions) {
    const struct {
        double rate;
        int num, den;
    } cases[] = {{25, 25, 1},
                 {30000.0 / 1001, 30000, 1001},
                 {60000.0 / 1001, 60000, 1001},
                 {12.5, 12500, 1000}};
    for (const auto& c : cases) {
        int num = 0, den = 0;
        oxplay::RateFraction(c.rate, &num, &den);
        EXPECT_EQ(num, c.num) << c.rate;
        EXPECT_EQ(den, c.den) << c.rate;
    }
}

}  // namespace
