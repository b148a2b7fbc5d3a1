#include "convert/row_choice.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "convert/cpu_level.h"
#include "platform/clock.h"

namespace orvex::convert {
namespace {

// Timed rounds after one untimed round (which brings the code and the buffers into the
// caches). Each round runs every candidate once, starting from a different one, and compares
// each to the first candidate's time in the same round: the machine's other work moves all
// of a round's times alike, and the median of the rounds' ratios stands.
constexpr int kRounds = 7;
// The share of the fixed rule's time by which another candidate must beat it. Runs of the
// same variants differ by a few percent; the variants that a processor serves badly take
// 1.4 to 2 times the time of its best.
constexpr double kMargin = 0.10;
// How far behind the fixed rule a candidate may be in two rounds before it is timed no more.
constexpr double kDrop = 1.5;

// A trial: kPasses passes over kRows rows of kWidth pixels, at most 8 bytes a pixel on both
// sides together (123 KB), which stay in the second-level cache of current x86 cores. The
// trial so weighs the variants' arithmetic and their use of the caches, not the speed of
// memory, which is the same for all of them and would only add its noise: where a picture's
// conversion is bound by memory, every candidate runs at about the same speed (within 2 % at
// 1920 x 1080 on one machine), and where the arithmetic bounds it the trial ranks the
// variants as whole pictures do. A trial takes 5 to 30 us, 50 to 300 ticks of the clock.
constexpr int kWidth = 1920;
constexpr int kRows = 8;
constexpr int kPasses = 8;

class Trial {
public:
    explicit Trial(Row row)
        : src_bytes_(RowSourceBytes(row, kWidth)),
          dst_bytes_(RowDestBytes(row, kWidth)),
          src_(src_bytes_ * kRows),
          dst_(dst_bytes_ * kRows, 0),
          params_(MakeRowParams(YuvMatrix::kBt709)) {
        // Bytes of no pattern, eight at a time (xorshift).
        std::uint64_t x = 0x9E3779B97F4A7C15u;
        for (std::size_t i = 0; i + 8 <= src_.size(); i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            std::memcpy(src_.data() + i, &x, 8);
        }
    }

    double Run(const RowCandidate& c) {
        const platform::Ticks start = platform::RealNow();
        for (int pass = 0; pass < kPasses; ++pass) {
            for (int y = 0; y < kRows; ++y) {
                c.cached(src_.data() + y * src_bytes_, dst_.data() + y * dst_bytes_, kWidth,
                         &params_);
            }
        }
        return static_cast<double>(platform::RealNow() - start);
    }

private:
    std::size_t src_bytes_, dst_bytes_;  // of a row
    std::vector<std::uint8_t> src_, dst_;
    RowParams params_;
};

}  // namespace

RowChooser::RowChooser(const RowFeatures& features, RowTrials trials)
    : features_(features), trials_(std::move(trials)) {}

const RowCandidate& RowChooser::Get(Row row) {
    const auto i = static_cast<std::size_t>(row);
    std::call_once(once_[i], [this, row, i] { chosen_[i] = Choose(row); });
    return chosen_[i];
}

RowCandidate RowChooser::Choose(Row row) const {
    RowCandidate c[kMaxRowCandidates];
    const int n = RowCandidates(row, features_, c);
    if (n == 1 || !trials_) return c[0];
    try {
        const RowTrial trial = trials_(row);
        for (int i = 0; i < n; ++i) trial(c[i]);
        double ratios[kMaxRowCandidates][kRounds] = {};
        int rounds[kMaxRowCandidates] = {};
        double times[kMaxRowCandidates] = {};
        bool dropped[kMaxRowCandidates] = {};
        for (int round = 0; round < kRounds; ++round) {
            for (int k = 0; k < n; ++k) {
                const int i = (round + k) % n;
                if (!dropped[i]) times[i] = trial(c[i]);
            }
            for (int i = 0; i < n; ++i) {
                if (!dropped[i]) ratios[i][rounds[i]++] = times[i] / std::max(times[0], 1e-9);
            }
            // A candidate far behind in two rounds cannot win: later rounds leave it out. The
            // first stays, as the measure of the others.
            for (int i = 1; i < n; ++i) {
                dropped[i] =
                    dropped[i] ||
                    (rounds[i] >= 2 && *std::min_element(ratios[i], ratios[i] + rounds[i]) > kDrop);
            }
        }
        double median[kMaxRowCandidates] = {};
        for (int i = 0; i < n; ++i) {
            std::sort(ratios[i], ratios[i] + rounds[i]);
            median[i] = ratios[i][rounds[i] / 2];
        }
        return c[PickFastest(median, n, kMargin)];
    } catch (...) {
        // No memory for the trial's buffers: the fixed rule serves as well as before.
        return c[0];
    }
}

int PickFastest(const double* times, int count, double margin) {
    int fastest = 0;
    for (int i = 1; i < count; ++i) {
        if (times[i] < times[fastest]) fastest = i;
    }
    return times[fastest] < times[0] * (1.0 - margin) ? fastest : 0;
}

RowTrials MachineTrials() {
    return [](Row row) -> RowTrial {
        auto trial = std::make_shared<Trial>(row);
        return [trial](const RowCandidate& c) { return trial->Run(c); };
    };
}

const RowCandidate& ChosenRow(Row row) {
    static RowChooser chooser(ProcessorRowFeatures(ProcessorLevel()),
                              ProcessorLevelForced() ? RowTrials{} : MachineTrials());
    return chooser.Get(row);
}

}  // namespace orvex::convert
