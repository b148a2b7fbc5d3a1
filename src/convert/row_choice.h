// The per-machine choice of each row primitive's variant. The widest instruction set is not
// the fastest on every processor (a 512-bit byte permute may cost more than the 256-bit
// shuffles it replaces on one maker's cores and less on another's), so the first use of a
// row times its candidates briefly and keeps the fastest for the process. Every variant
// gives the same bytes: the choice changes the time only.
//
// The timing runs in two settings. In the cache, the variants' arithmetic shows; but there a
// form may lead by 15-25 % that runs no faster on a whole picture, whose rows come from and
// go to memory at the same speed whatever the form (measured on one machine). So a
// candidate that beats the fixed rule in the cache is timed again on rows beyond the cache,
// and taken only if it wins there too.
#pragma once

#include <functional>
#include <mutex>

#include "convert/row.h"

namespace orvex::convert {

// Where a trial's rows lie: in the second-level cache, or beyond it as a picture's do.
enum class TrialRows { kCached, kBeyondCache };

// Runs a candidate once over a fixed amount of work and says how long it took (any unit,
// smaller is faster).
using RowTrial = std::function<double(const RowCandidate&)>;
// Makes the trial of one row in one setting (its buffers sized for that row).
using RowTrials = std::function<RowTrial(Row, TrialRows)>;

class RowChooser {
public:
    // Without `trials` nothing is timed: every row takes its first candidate, the fixed rule
    // of features.level.
    RowChooser(const RowFeatures& features, RowTrials trials);
    RowChooser(const RowChooser&) = delete;
    RowChooser& operator=(const RowChooser&) = delete;

    // The row's variant: chosen by the first call, once, however many threads ask at the
    // same moment (the others wait for it); every later call returns the same. Never throws:
    // a trial that fails leaves the row with its first candidate.
    const RowCandidate& Get(Row row);

private:
    RowCandidate Choose(Row row) const;

    RowFeatures features_;
    RowTrials trials_;
    std::once_flag once_[static_cast<int>(Row::kCount)];
    RowCandidate chosen_[static_cast<int>(Row::kCount)];
};

// Trials on this machine, timed on the real clock: a few rows run over and over in the
// second-level cache, or rows taken in turn from a pool larger than that cache.
RowTrials MachineTrials();

// The process's variant of a row: the fixed rule of the level ORVEX_CPU_LEVEL names where it
// names one, else the candidate that ran fastest here at the row's first use.
const RowCandidate& ChosenRow(Row row);

}  // namespace orvex::convert
