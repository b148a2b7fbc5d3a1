#include "pipeline/time_corrector.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace orvex::pipeline {

namespace {

struct SnapRange {
    LONGLONG low;
    LONGLONG high;
    double exact;
};

// Rounded durations that stand for the usual frame rates, and their exact durations.
constexpr SnapRange kSnapRanges[] = {
    {166600, 166700, 10'000'000.0 / 60}, {166800, 166900, 10'010'000.0 / 60},
    {199950, 200050, 200000.0},          {333300, 333400, 10'000'000.0 / 30},
    {333600, 333700, 10'010'000.0 / 30}, {399950, 400050, 400000.0},
    {416600, 416700, 10'000'000.0 / 24}, {417000, 417200, 10'010'000.0 / 24},
};

constexpr double kDefaultDuration = 400000.0;

LONGLONG SaturatingAdd(LONGLONG a, LONGLONG b) {
    constexpr LONGLONG kMax = std::numeric_limits<LONGLONG>::max();
    constexpr LONGLONG kMin = std::numeric_limits<LONGLONG>::min();
    if (b > 0 && a > kMax - b) return kMax;
    if (b < 0 && a < kMin - b) return kMin;
    return a + b;
}

LONGLONG Truncate(double value) {
    if (std::isnan(value)) return 0;
    // 2^63 is exactly representable; anything at or beyond it saturates.
    constexpr double kLimit = 9223372036854775808.0;
    if (value >= kLimit) return std::numeric_limits<LONGLONG>::max();
    if (value <= -kLimit) return std::numeric_limits<LONGLONG>::min();
    return static_cast<LONGLONG>(value);
}

}  // namespace

LONGLONG RoundTicks(double value) {
    if (std::isnan(value)) return 0;
    return Truncate(std::round(value));
}

bool SnapFrameDuration(double duration, double* exact) {
    const LONGLONG rounded = RoundTicks(duration);
    for (const auto& range : kSnapRanges) {
        if (rounded >= range.low && rounded <= range.high) {
            if (exact) *exact = range.exact;
            return true;
        }
    }
    if (exact) *exact = duration;
    return false;
}

double FrameDuration(double rate) {
    const double d = rate > 0 ? 10'000'000.0 / rate : 0.0;
    double duration = d;
    SnapFrameDuration(d, &duration);
    return duration > 0 && std::isfinite(duration) ? duration : kDefaultDuration;
}

}  // namespace orvex::pipeline

using orvex::pipeline::RoundTicks;

M_TIME* CMTimeCorrector::CorrectTime(M_TIME* out, const M_VID_PROPS* props, const M_TIME* in,
                                     LONGLONG maxJump) {
    if (!out) return out;
    const double duration = orvex::pipeline::FrameDuration(props ? props->dblRate : 0.0);
    *out = in ? *in : M_TIME{};
    const std::int32_t flags = in ? static_cast<std::int32_t>(in->eFFlags) : 0;
    const bool pause = (flags & eMFF_Pause) == eMFF_Pause;
    std::int32_t outFlags = static_cast<std::int32_t>(out->eFFlags);
    if (offset == kUnsetOffset)
        outFlags = (outFlags | eMFF_Break) & ~0x30;
    else
        outFlags &= ~eMFF_Break;

    const LONGLONG start = in ? in->rtStartTime : 0;
    const LONGLONG end = in ? in->rtEndTime : 0;
    if (!in || (start == 0 && end == 0 && flags == 0)) {
        out->rtStartTime = RoundTicks(next);
        next += duration;
        out->rtEndTime = RoundTicks(next);
    } else {
        if (!(flags & eMFF_Break) && next > 0 && maxJump > 0 && offset != kUnsetOffset) {
            const double drift = static_cast<double>(start) + static_cast<double>(offset) - next;
            if (std::fabs(drift) > static_cast<double>(maxJump)) offset = kUnsetOffset;
        }
        if (offset == kUnsetOffset || (flags & (eMFF_Break | eMFF_Last)))
            offset = orvex::pipeline::Truncate(next - static_cast<double>(start));
        // The unset marker is the most negative value; an anchor that saturates onto it is
        // kept one above, so the offset stays set.
        if (offset == kUnsetOffset) offset = kUnsetOffset + 1;
        out->rtStartTime = orvex::pipeline::SaturatingAdd(start, offset);
        // A real duration: more than 0.1 ms. The unsigned difference cannot overflow.
        const bool timed =
            end > start &&
            static_cast<std::uint64_t>(end) - static_cast<std::uint64_t>(start) > 1000u;
        out->rtEndTime = timed ? orvex::pipeline::SaturatingAdd(end, offset)
                               : RoundTicks(static_cast<double>(out->rtStartTime) + duration);
        next = static_cast<double>(out->rtEndTime);
    }
    if (pause) outFlags |= eMFF_Pause;
    out->eFFlags = static_cast<eMFrameFlags>(outFlags);
    return out;
}
