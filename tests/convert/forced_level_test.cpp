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
    ASSERT_NE(nullptr, forced);
    ASSERT_EQ(std::string("ssse3"), forced);
    EXPECT_EQ(std::min<int>(kLevelSsse3, ProcessorLevelSupported()), ProcessorLevelInit());
    EXPECT_EQ(ProcessorLevelInit(), ProcessorLevel());
}

}  // namespace
}  // namespace orvex::convert
