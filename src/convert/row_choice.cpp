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

// Timed rounds after one untimed round (which brings the code and the buffers in). Each
// round runs every candidate once, starting from a different one, and compares each to the
// first candidate's time in the same round: the machine's other work moves all of a round's
// times alike, and the median of the rounds' ratios stands.
constexpr int kRounds = 7;
// The share of the fixed rule's time by which another candidate must beat it, in each
// setting. On a loaded machine the medians of the same variants differ by up to a tenth
// between runs; the variants that a processor serves badly take 1.4 to 2 times the time of
// its best on whole pictures.
constexpr double kMargin = 0.15;
// How far behind the fixed rule a candidate may be in two rounds before it is timed no more.
constexpr double kDrop = 1.5;

constexpr int kWidth = 1920;
// In the cache: kPasses passes over kCachedRows rows, at most 8 bytes a pixel on both sides
// together (123 KB). 5 to 30 us a trial, 50 to 300 ticks of the clock.
constexpr int kCachedRows = 8;
constexpr int kPasses = 8;
// Beyond it: kPoolRows rows a trial, each trial on the next slice of a pool larger than the
// second-level cache of current x86 cores (1 to 2 MB), so that a slice comes back only after
// the cache has dropped it. 10 to 20 us a trial; touching the pool costs 1 to 2 ms.
constexpr int kPoolRows = 32;
constexpr std::size_t kPoolBytes = std::size_t{4} << 20;

class Trial {
public:
    Trial(Row row, TrialRows where)
        : rows_(where == TrialRows::kCached ? kCachedRows : kPoolRows),
          passes_(where == TrialRows::kCached ? kPasses : 1),
          src_row_(RowSourceBytes(row, kWidth)),
          dst_row_(RowDestBytes(row, kWidth)),
          slices_(where == TrialRows::kCached
                      ? 1
                      : std::max<std::size_t>(2, kPoolBytes / ((src_row_ + dst_row_) * rows_))),
          src_(src_row_ * rows_ * slices_),
          dst_(dst_row_ * rows_ * slices_, 0),
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
        const std::uint8_t* s = src_.data() + next_ * src_row_ * rows_;
        std::uint8_t* d = dst_.data() + next_ * dst_row_ * rows_;
        next_ = (next_ + 1) % slices_;
        const platform::Ticks start = platform::RealNow();
        for (int pass = 0; pass < passes_; ++pass) {
            for (int y = 0; y < rows_; ++y) {
                c.cached(s + y * src_row_, d + y * dst_row_, kWidth, &params_);
            }
        }
        return static_cast<double>(platform::RealNow() - start);
    }

private:
    int rows_, passes_;
    std::size_t src_row_, dst_row_;
    std::size_t slices_, next_ = 0;
    std::vector<std::uint8_t> src_, dst_;
    RowParams params_;
};

// The median over the rounds of each listed candidate's time over the first candidate's
// (which `listed` must hold); candidates far behind drop out after two rounds and keep the
// median of the rounds they ran.
void MedianRatios(const RowTrial& trial, const RowCandidate* c, int n, const bool* listed,
                  double* median) {
    double ratios[kMaxRowCandidates][kRounds] = {};
    int rounds[kMaxRowCandidates] = {};
    double times[kMaxRowCandidates] = {};
    bool timed[kMaxRowCandidates] = {};
    for (int i = 0; i < n; ++i) {
        timed[i] = listed[i];
        if (timed[i]) trial(c[i]);
    }
    for (int round = 0; round < kRounds; ++round) {
        for (int k = 0; k < n; ++k) {
            const int i = (round + k) % n;
            if (timed[i]) times[i] = trial(c[i]);
        }
        for (int i = 0; i < n; ++i) {
            if (timed[i]) ratios[i][rounds[i]++] = times[i] / std::max(times[0], 1e-9);
        }
        for (int i = 1; i < n; ++i) {
            if (timed[i] && rounds[i] >= 2 &&
                *std::min_element(ratios[i], ratios[i] + rounds[i]) > kDrop) {
                timed[i] = false;
            }
        }
    }
    for (int i = 0; i < n; ++i) {
        std::sort(ratios[i], ratios[i] + rounds[i]);
        median[i] = rounds[i] > 0 ? ratios[i][rounds[i] / 2] : kDrop;
    }
}

// Of the candidates' times (or times over the first's), the index of the fastest; the
// first (the fixed rule's) unless another beats it by more than `margin` of its time, so that
// noise does not flip the choice between variants that run alike.
int PickFastest(const double* times, int count, double margin) {
    int fastest = 0;
    for (int i = 1; i < count; ++i) {
        if (times[i] < times[fastest]) fastest = i;
    }
    return times[fastest] < times[0] * (1.0 - margin) ? fastest : 0;
}

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
        // In the cache first: every candidate.
        bool listed[kMaxRowCandidates];
        std::fill(listed, listed + n, true);
        double cached[kMaxRowCandidates] = {};
        MedianRatios(trials_(row, TrialRows::kCached), c, n, listed, cached);
        // Beyond it: the fixed rule and those that beat it in the cache.
        bool contender = false;
        for (int i = 1; i < n; ++i) {
            listed[i] = cached[i] < 1.0 - kMargin;
            contender = contender || listed[i];
        }
        if (!contender) return c[0];
        double beyond[kMaxRowCandidates] = {};
        MedianRatios(trials_(row, TrialRows::kBeyondCache), c, n, listed, beyond);
        return c[PickFastest(beyond, n, kMargin)];
    } catch (...) {
        // No memory for the trial's buffers: the fixed rule serves as well as before.
        return c[0];
    }
}

RowTrials MachineTrials() {
    return [](Row row, TrialRows where) -> RowTrial {
        auto trial = std::make_shared<Trial>(row, where);
        return [trial](const RowCandidate& c) { return trial->Run(c); };
    };
}

const RowCandidate& ChosenRow(Row row) {
    static RowChooser chooser(ProcessorRowFeatures(ProcessorLevel()),
                              ProcessorLevelForced() ? RowTrials{} : MachineTrials());
    return chooser.Get(row);
}

}  // namespace orvex::convert
