// oxprops run as a person runs it: a setting it sets is saved in the shared key and read back
// by the next renderer, and bad input ends with exit code 2 and one line.
#include <gtest/gtest.h>

#include "tool_test_util.h"

namespace {

orvex::test::RunResult RunOxprops(const std::string& args) {
    return orvex::test::RunTool(OXPROPS_PATH, args);
}

TEST(Oxprops, SetSavesTheSettingForTheNextRenderer) {
    auto r = RunOxprops("set input.buffers 5");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(orvex::test::g_temp_registry->dir().string() + "/HKEY_CURRENT_USER.reg"),
              std::string::npos)
        << r.out;
    r = RunOxprops("get input.buffers");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "5\n");
    // Values that begin with '-': a negative number as it stands, anything after "--".
    ASSERT_EQ(RunOxprops("set cc_offset_dword -3").code, 0);
    EXPECT_EQ(RunOxprops("get cc_offset_dword").out, "-3\n");
    ASSERT_EQ(RunOxprops("set crop -- -left").code, 0);
    EXPECT_EQ(RunOxprops("get crop").out, "-left\n");
    r = RunOxprops("show");
    EXPECT_NE(r.out.find("input.buffers = 5"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("options: disable internal external"), std::string::npos) << r.out;
    r = RunOxprops("devices");
    EXPECT_NE(r.out.find("decklink:\n  0: DeckLink"), std::string::npos) << r.out;
}

// Processes that set different settings at once each keep their value: a set writes its value
// alone under the store's lock, and no renderer's write-back undoes what another wrote.
TEST(Oxprops, ConcurrentSetsLoseNothing) {
    ASSERT_EQ(RunOxprops("devices").code, 0);  // the virtual card registered once, first
    const std::pair<std::string, std::string> settings[] = {
        {"input.buffers", "11"},      {"cc_line_sdi", "12"},      {"cc_offset_dword", "13"},
        {"bypass.wait_frames", "14"}, {"output.copy_vanc", "15"}, {"driver.buffers", "16"},
        {"file.video_buffers", "17"}, {"keying-level", "18"}};
    std::string all = "(";
    for (const auto& [name, value] : settings)
        all += std::string(OXPROPS_PATH) + " set " + name + " " + value + " >/dev/null & ";
    ASSERT_EQ(std::system((all + "wait)").c_str()), 0);
    for (const auto& [name, value] : settings)
        EXPECT_EQ(RunOxprops("get " + name).out, value + "\n");
}

TEST(Oxprops, BadInputEndsWithCodeTwoAndOneLine) {
    const struct {
        const char* args;
        const char* reason;
    } cases[] = {{"", "no command"},
                 {"frob", "unknown command 'frob'"},
                 {"--class nvidia show", "unknown class 'nvidia'"},
                 {"--device", "--device needs a value"},
                 {"--device 7 show", "unknown device '7'"},
                 {"--bogus show", "unknown option '--bogus'"},
                 {"get", "wrong number of arguments"},
                 {"set input.buffers", "wrong number of arguments"},
                 {"get no.such.property", "no property 'no.such.property'"},
                 {"set no.such.property 1", "unknown property 'no.such.property'"},
                 {"set input.buffers abc", "'abc': not a whole number"},
                 {"set input.buffers 1000000", "above the greatest value 1000"},
                 {"set keying bogus", "not one of: disable, internal, external"},
                 {"show no-such-node", "no node 'no-such-node'"}};
    // The first run registers the virtual card and says so; later runs say nothing more.
    ASSERT_EQ(RunOxprops("devices").code, 0);
    for (const auto& c : cases)
        orvex::test::ExpectRefused(RunOxprops(c.args), "oxprops", c.args, c.reason);
}

}  // namespace
