// What the player refuses before it plays, with exit code 2 and one line saying why: a rig
// the virtual card cannot read (with the fault's place), and settings the renderer's schema
// does not take.
#include <gtest/gtest.h>

#include <fstream>

#include "tool_test_util.h"

namespace {

TEST(OxplayInput, BrokenRigsAndRefusedSettingsEndWithCodeTwo) {
    const auto dir = orvex::test::g_temp_registry->dir();
    const std::string rig = (dir / "broken-rig.xml").string();
    std::ofstream(rig) << "<rig>\n  <card model=\"A\" video-out=\"sdi\"\n"
                          "        frame-memory=\"100000000000000000000000\"/>\n</rig>\n";
    const std::string record = " --record " + (dir / "input-rec").string();
    const struct {
        std::string args;
        const char* reason;
    } cases[] = {
        {"--rig " + rig + " --list-devices",
         "broken-rig.xml: line 3: <card> attribute frame-memory: not a whole number"},
        {"--rig " + rig, "line 3: <card> attribute frame-memory"},
        {"--set input.buffers=abc", "cannot set 'input.buffers' to 'abc': not a whole number"},
        {"--set input.buffers=1000000", "above the greatest value 1000"},
        {"--set keying=bogus", "not one of: disable, internal, external"},
        {"--set no.such=1", "unknown property 'no.such'"},
    };
    for (const auto& c : cases) {
        orvex::test::ExpectRefused(orvex::test::RunTool(OXPLAY_PATH, c.args + record), "oxplay",
                                   c.args, c.reason);
    }
}

}  // namespace
