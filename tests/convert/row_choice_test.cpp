#include "convert/row_choice.h"

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <atomic>
#include <cstring>
#include <latch>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "convert/cpu_level.h"
#include "test_buffers.h"

namespace orvex::convert {
namespace {

using testing::PageEndBuffer;

constexpr int kRowCount = static_cast<int>(Row::kCount);

// Machines the choice may meet: every level, with and without the extensions.
std::vector<RowFeatures> Machines() {
    std::vector<RowFeatures> machines;
    for (int level : {kLevelPortable, kLevelSse2, kLevelSsse3, kLevelAvx2, kLevelAvx512}) {
        machines.push_back({level, false, false, false});
        machines.push_back({level, true, true, true});
    }
    machines.push_back({kLevelAvx512, true, false, true});  // VBMI without VNNI
    return machines;
}

bool Allowed(const RowCandidate& c, const RowFeatures& f) {
    const std::string name = c.name;
    const bool needs_vbmi = name.find("vbmi") != std::string::npos;
    const bool needs_vnni = name.find("vnni") != std::string::npos;
    const bool wide = c.level == kLevelAvx512;
    return c.level <= f.level && (!needs_vbmi || f.avx512_vbmi) &&
           (!needs_vnni || (wide ? f.avx512_vnni : f.avx_vnni));
}

// Whatever the trials say, a choice stays within what the machine has; the slowest candidate
// by the trials' account is never taken, the fastest is.
TEST(RowChoice, ChoosesTheFastestOfWhatTheMachineHas) {
    for (const RowFeatures& f : Machines()) {
        for (int r = 0; r < kRowCount; ++r) {
            const Row row = static_cast<Row>(r);
            RowCandidate c[kMaxRowCandidates];
            const int n = RowCandidates(row, f, c);
            ASSERT_GE(n, 1);
            for (int i = 0; i < n; ++i) {
                ASSERT_TRUE(Allowed(c[i], f)) << r << " " << c[i].name << " level " << f.level;
            }
            // The last candidate runs twice as fast as the others, in and beyond the cache.
            std::vector<std::string> asked;
            RowChooser chooser(f, [&](Row, TrialRows) -> RowTrial {
                return [&](const RowCandidate& k) {
                    asked.push_back(k.name);
                    return std::strcmp(k.name, c[n - 1].name) == 0 ? 1.0 : 2.0;
                };
            });
            EXPECT_STREQ(c[n - 1].name, chooser.Get(row).name) << r << " level " << f.level;
            for (const std::string& name : asked) {
                bool listed = false;
                for (int i = 0; i < n; ++i) listed = listed || name == c[i].name;
                EXPECT_TRUE(listed) << name;
            }
        }
    }
}

// A candidate must beat the fixed rule by the margin in the cache and again beyond it.
TEST(RowChoice, TakesOnlyWhatWinsBeyondTheCacheToo) {
    // UYVY -> RGB32 here: avx512vnni (the fixed rule), avx512, avx2vnni, avx2, ssse3.
    using Costs = std::map<std::string, double>;
    struct Case {
        Costs cached, beyond;  // times of the candidates named; 1.0 for the others
        const char* want;
        bool timed_beyond;
    };
    const Case cases[] = {
        {{{"avx2", 0.95}}, {}, "avx512vnni", false},             // within the margin: noise
        {{{"avx2", 0.5}}, {{"avx2", 1.0}}, "avx512vnni", true},  // memory holds both alike
        {{{"avx2", 0.5}}, {{"avx2", 0.95}}, "avx512vnni", true},
        {{{"avx2", 0.5}, {"avx512", 0.8}}, {{"avx2", 0.85}, {"avx512", 0.7}}, "avx512", true},
        {{{"ssse3", 0.6}}, {{"ssse3", 0.6}, {"avx2", 0.1}}, "ssse3", true},  // avx2 not a contender
        {{{"avx512vnni", 2.0}}, {{"avx512vnni", 2.0}}, "avx512", true},      // the first far behind
    };
    for (const Case& k : cases) {
        bool timed_beyond = false;
        RowChooser chooser({kLevelAvx512, true, true, true}, [&](Row, TrialRows where) -> RowTrial {
            const Costs& costs = where == TrialRows::kCached ? k.cached : k.beyond;
            timed_beyond = timed_beyond || where == TrialRows::kBeyondCache;
            return [&costs](const RowCandidate& c) {
                const auto it = costs.find(c.name);
                return it == costs.end() ? 1.0 : it->second;
            };
        });
        EXPECT_STREQ(k.want, chooser.Get(Row::kUyvyToRgb32).name) << k.want;
        EXPECT_EQ(k.timed_beyond, timed_beyond) << k.want;
    }
}

// Every candidate's runners (tail and streaming forms included) give the portable bytes.
TEST(RowChoice, EveryCandidateGivesThePortableBytes) {
    const RowFeatures machine = ProcessorRowFeatures(ProcessorLevelSupported());
    const RowParams params = MakeRowParams(YuvMatrix::kBt601);
    for (int r = 0; r < kRowCount; ++r) {
        const Row row = static_cast<Row>(r);
        RowCandidate c[kMaxRowCandidates];
        const int n = RowCandidates(row, machine, c);
        ASSERT_EQ(SelectRow(row, machine.level), c[0].cached) << r;  // the fixed rule first
        const int width = 1922;                                      // a tail for every variant
        const std::size_t sb = RowSourceBytes(row, width);
        const std::size_t db = (RowDestBytes(row, width) + 15) / 16 * 16;
        PageEndBuffer src(sb), want(db), got(db);
        src.Fill(static_cast<std::uint32_t>(r));
        want.Set(0);
        SelectRow(row, kLevelPortable)(src.data(), want.data(), width, &params);
        for (int i = 0; i < n; ++i) {
            for (const RowFn fn : {c[i].cached, c[i].streamed}) {
                got.Set(0);
                fn(src.data(), got.data(), width, &params);
                _mm_sfence();
                ASSERT_EQ(0, std::memcmp(want.data(), got.data(), db)) << r << " " << c[i].name;
            }
        }
    }
}

// Threads that ask at once wait for one choice; nothing is timed again later. A trial that
// fails leaves the fixed rule, and nothing escapes.
TEST(RowChoice, ChoosesOncePerRowWhateverTheThreads) {
    const RowFeatures f{kLevelAvx512, true, true, true};
    std::atomic<int> made[kRowCount] = {};
    RowChooser chooser(f, [&](Row row, TrialRows where) -> RowTrial {
        if (where == TrialRows::kCached) made[static_cast<int>(row)].fetch_add(1);
        if (row == Row::kSwap422) throw std::runtime_error("no buffers");
        return [](const RowCandidate& c) { return double(c.level + 1); };  // narrowest wins
    });
    constexpr int kThreads = 8;
    const RowCandidate* seen[kThreads][kRowCount] = {};
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int r = 0; r < kRowCount; ++r) {
                const int row = (r + t) % kRowCount;
                seen[t][row] = &chooser.Get(static_cast<Row>(row));
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (int r = 0; r < kRowCount; ++r) {
        EXPECT_EQ(1, made[r].load()) << r;
        for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[0][r], seen[t][r]) << r;
        EXPECT_EQ(seen[0][r], &chooser.Get(static_cast<Row>(r)));
    }
    RowCandidate c[kMaxRowCandidates];
    RowCandidates(Row::kSwap422, f, c);
    EXPECT_STREQ(c[0].name, chooser.Get(Row::kSwap422).name);
    EXPECT_EQ(kLevelSsse3, chooser.Get(Row::kUyvyToV210).level);
}

// Unforced, the process's choice is one of this machine's candidates.
TEST(RowChoice, ProcessChoiceRunsHere) {
    if (ProcessorLevelForced()) GTEST_SKIP() << "ORVEX_CPU_LEVEL is set";
    const RowFeatures machine = ProcessorRowFeatures(ProcessorLevelSupported());
    for (int r = 0; r < kRowCount; ++r) {
        RowCandidate c[kMaxRowCandidates];
        const int n = RowCandidates(static_cast<Row>(r), machine, c);
        const RowCandidate& chosen = ChosenRow(static_cast<Row>(r));
        bool listed = false;
        for (int i = 0; i < n; ++i) listed = listed || chosen.cached == c[i].cached;
        EXPECT_TRUE(listed) << r << " " << chosen.name;
    }
}

}  // namespace
}  // namespace orvex::convert
