// The per-machine choice of each row primitive's variant. The widest instruction set is not
// the fastest on every processor (a 512-bit byte permute may cost more than the 256-bit
// shuffles it replaces on one maker's cores and less on another's), so the first use of a
// row times its candidates briefly and keeps the fastest for the process. Every variant
// gives the same bytes: the choice changes the time only.
#pragma once

#include <functional>
#include <mutex>

#include "convert/row.h"

namespace orvex::convert {

// Runs a candidate once over a fixed amount of work and says how long it took (any unit,
// smaller is faster).
using RowTrial = std::function<double(const RowCandidate&)>;
// Makes the trial of one row (its buffers sized for that row).
using RowTrials = std::function<RowTrial(Row)>;

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

// Given each candidate's time (or its time over the first's), the index of the one to keep:
// the fastest, but the first candidate (the fixed rule's) unless another beats it by more
// than `margin` of its time, so that noise does not flip the choice between variants that
// run alike.
int PickFastest(const double* times, int count, double margin);

// Trials on this machine: each runs a candidate over a few rows of a pool larger than the
// processor's second-level cache, timed on the real clock.
RowTrials MachineTrials();

// The process's variant of a row: the fixed rule of the level ORVEX_CPU_LEVEL names where it
// names one, else the candidate that ran fastest here at the row's first use.
const RowCandidate& ChosenRow(Row row);

}  // namespace orvex::convert
