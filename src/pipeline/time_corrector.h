// Puts frame times on a gap-free output timeline.
#pragma once

#include <cstdint>

#include "orvex/types.h"

namespace orvex::pipeline {

// Snaps a frame duration (100-ns units) that rounds into the range of a common frame rate
// to that rate's exact duration. Returns whether it snapped; *exact gets the result (the
// unchanged value when not snapped).
bool SnapFrameDuration(double duration, double* exact);

// Duration of one frame at `rate` frames per second: snapped as above, 400,000 (25 fps) when
// the rate gives no positive duration.
double FrameDuration(double rate);

// Rounds half away from zero to whole 100-ns units, saturating at the 64-bit range
// (NaN gives 0).
LONGLONG RoundTicks(double value);

}  // namespace orvex::pipeline

// Keeps a constant offset between source and output time while the source runs smoothly,
// re-anchors it when the source jumps, and makes up times for frames that carry none.
// Not locked: the owner calls it from one thread at a time.
class CMTimeCorrector {
public:
    static constexpr LONGLONG kUnsetOffset = INT64_MIN;

    // Returns `out`, a corrected copy of `in` (null `in`: a frame without time).
    M_TIME* CorrectTime(M_TIME* out, const M_VID_PROPS* props, const M_TIME* in, LONGLONG maxJump);
    // Forgets the offset; the next frame starts at `nextTime`.
    void ResetTime(double nextTime) {
        offset = kUnsetOffset;
        next = nextTime;
    }

    // Added to source times; kUnsetOffset until the first timed frame.
    LONGLONG offset = kUnsetOffset;
    // Output time at which the next frame is expected to start.
    double next = 0.0;
};
