// Runs with ORVEX_CPU_LEVEL=ssse3 in its environment (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "convert/cpu_level.h"

namespace orvex::convert {
namespace {

TEST(ForcedLevel, EnvironmentLowersTheLevel) {
    const char* forced = std::getenv("ORVEX_CPU_LEVEL");
    if (forced == nullptr || std::string("ssse3") != forced) {
        GTEST_SKIP() << "run through ctest, which sets ORVEX_CPU_LEVEL=ssse3";
    }
    EXPECT_EQ(std::min<int>(kLevelSsse3, ProcessorLevelSupported()), ProcessorLevelInit());
    EXPECT_EQ(ProcessorLevelInit(), ProcessorLevel());
}

}  // namespace
}  // namespace orvex::convert
