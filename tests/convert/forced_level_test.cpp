// Runs with ORVEX_CPU_LEVEL=ssse3 in its environment (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "convert/cpu_level.h"
#include "convert/row_choice.h"

namespace orvex::convert {
namespace {

// The level named is the level used: every row runs that level's fixed rule, untimed.
TEST(ForcedLevel, EnvironmentSetsTheLevelOfEveryRow) {
    const char* forced = std::getenv("ORVEX_CPU_LEVEL");
    if (forced == nullptr || std::string("ssse3") != forced) {
        GTEST_SKIP() << "run through ctest, which sets ORVEX_CPU_LEVEL=ssse3";
    }
    const int level = std::min<int>(kLevelSsse3, ProcessorLevelSupported());
    EXPECT_EQ(level, ProcessorLevelInit());
    EXPECT_EQ(ProcessorLevelInit(), ProcessorLevel());
    EXPECT_TRUE(ProcessorLevelForced());
    for (int r = 0; r < static_cast<int>(Row::kCount); ++r) {
        const Row row = static_cast<Row>(r);
        EXPECT_EQ(SelectRow(row, level), ChosenRow(row).cached) << r;
        EXPECT_EQ(SelectRow(row, level, true), ChosenRow(row).streamed) << r;
    }
}

}  // namespace
}  // namespace orvex::convert
