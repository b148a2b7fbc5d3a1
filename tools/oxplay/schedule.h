// Which of the source's pictures each output period shows, and the sound that goes with it.
// Pictures are chosen by their time stamps: the one on screen at the period's time (within
// half a period), so a faster source loses pictures evenly, a slower one repeats them evenly,
// and a file with a variable rate keeps real time. The sound is cut into periods by the exact
// rate ratio and never stretched or shortened to fit the pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/oxplay/source.h"

namespace oxplay {

struct OutputClock {
    int rate_num = 25, rate_den = 1;  // frames per second
    eMInterlace order = eMI_Progressive;
    bool Interlaced() const { return order != eMI_Progressive && order != eMI_Default; }
};

// How pictures become output frames:
// - kWhole: one picture a frame (fields and all);
// - kWeave: progressive pictures at about the field rate of an interlaced output: each field
//   from the picture at its own time;
// - kBob: interlaced pictures onto a progressive output at about their field rate: each
//   frame shows one field, in time order.
enum class Scan { kWhole, kWeave, kBob };
Scan ChooseScan(const VideoInfo& video, const OutputClock& out);

struct PeriodPlan {
    std::int64_t index = 0;                // the output period
    std::int64_t start = 0;                // its time
    std::shared_ptr<const Image> picture;  // null: no picture yet (black)
    std::shared_ptr<const Image> second;   // kWeave: the second field's picture
    int field = 0;                         // kBob: the field of `picture` (0: the earlier)
    std::vector<std::uint8_t> audio;       // the source's sound for the period, interleaved
    int samples = 0;
    bool last = false;  // nothing follows this period
};

struct PictureCounts {
    std::int64_t shown = 0;     // source pictures that reached at least one period
    std::int64_t repeated = 0;  // periods that showed a picture (field) shown before
    std::int64_t dropped = 0;   // source pictures that no period showed
};

class Schedule {
public:
    // `limit`: periods to play (-1: as long as the source lasts; with `loop`, for ever).
    Schedule(Source* source, const OutputClock& out, std::int64_t limit, bool loop);

    // Plans the next period; false at the end (error empty) or on failure (error set).
    bool Next(PeriodPlan* plan, std::string* error);

    Scan scan() const { return scan_; }
    const PictureCounts& counts() const { return counts_; }

private:
    // Moves the picture on screen on to the last one that starts by `reach`.
    bool Advance(std::int64_t reach, std::string* error);
    // Marks the picture on screen (field `field`) as shown; true when it had been already.
    bool Show(int field);
    std::int64_t PeriodTime(std::int64_t n) const {
        return PeriodStart(n, out_.rate_num, out_.rate_den);
    }

    Source* source_;
    OutputClock out_;
    Scan scan_;
    std::int64_t limit_;
    bool loop_;

    std::int64_t index_ = 0;
    bool done_ = false;
    std::optional<TimedImage> current_, next_;
    bool current_shown_ = false;
    bool video_ended_ = false;
    bool audio_ended_ = false;
    std::int64_t shown_key_ = -1;  // the latest (picture, field) shown
    // After a loop, the source's times and numbers continue from here.
    std::int64_t time_offset_ = 0;
    std::int64_t number_offset_ = 0;
    PictureCounts counts_;
};

}  // namespace oxplay
