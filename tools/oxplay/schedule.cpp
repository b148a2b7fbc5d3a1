#include "tools/oxplay/schedule.h"

#include <algorithm>

namespace oxplay {

Scan ChooseScan(const VideoInfo& video, const OutputClock& out) {
    if (!video.present) return Scan::kWhole;
    const bool fields = video.interlace != eMI_Progressive && video.interlace != eMI_Default;
    const double source = video.Rate();
    const double output = static_cast<double>(out.rate_num) / out.rate_den;
    if (!fields && out.Interlaced() && source >= 1.5 * output) return Scan::kWeave;
    if (fields && !out.Interlaced() && output >= 1.5 * source) return Scan::kBob;
    return Scan::kWhole;
}

Schedule::Schedule(Source* source, const OutputClock& out, std::int64_t limit, bool loop)
    : source_(source),
      out_(out),
      scan_(ChooseScan(source->video, out)),
      limit_(limit),
      loop_(loop) {}

bool Schedule::Advance(std::int64_t reach, std::string* error) {
    for (;;) {
        if (!next_ && !video_ended_) {
            TimedImage got;
            const Fetch r = source_->NextPicture(reach - time_offset_, &got, error);
            if (r == Fetch::kError) return false;
            if (r == Fetch::kEnd) video_ended_ = true;
            if (r != Fetch::kPicture) return true;  // ended, or a gap: the picture stays
            got.start += time_offset_;
            got.number += number_offset_;
            next_ = std::move(got);
        }
        if (!next_ || next_->start > reach) return true;
        if (current_ && !current_shown_) ++counts_.dropped;
        current_ = std::move(next_);
        next_.reset();
        current_shown_ = false;
    }
}

bool Schedule::Show(int field) {
    if (!current_) return false;
    if (!current_shown_) ++counts_.shown;
    current_shown_ = true;
    const std::int64_t key = current_->number * 2 + field;
    const bool again = key <= shown_key_;
    shown_key_ = std::max(shown_key_, key);
    return again;
}

bool Schedule::Next(PeriodPlan* plan, std::string* error) {
    if (done_) return false;
    const std::int64_t t = PeriodTime(index_), t_next = PeriodTime(index_ + 1);
    const std::int64_t period = t_next - t;
    plan->index = index_;
    plan->start = t;
    plan->picture.reset();
    plan->second.reset();
    plan->field = 0;
    if (source_->video.present) {
        bool again = false;
        switch (scan_) {
            case Scan::kWhole:
                if (!Advance(t + period / 2, error)) return false;
                again = Show(0);
                if (current_) plan->picture = current_->image;
                break;
            case Scan::kWeave:
                if (!Advance(t + period / 4, error)) return false;
                again = Show(0);
                if (current_) plan->picture = current_->image;
                if (!Advance(t + period * 3 / 4, error)) return false;
                Show(0);
                if (current_) plan->second = current_->image;
                if (!plan->picture) plan->picture = plan->second;
                break;
            case Scan::kBob:
                if (!Advance(t + period / 2, error)) return false;
                if (current_) {
                    // The later field once the period's middle is past the picture's middle.
                    plan->field = 2 * (t + period / 2 - current_->start) >= current_->duration;
                    plan->picture = current_->image;
                }
                again = Show(plan->field);
                break;
        }
        if (again) ++counts_.repeated;
    }

    plan->samples = 0;
    plan->audio.clear();
    const AudioInfo& a = source_->audio;
    if (a.channels > 0) {
        plan->samples = PeriodSamples(index_, out_.rate_num, out_.rate_den, a.rate);
        plan->audio.resize(static_cast<std::size_t>(plan->samples) * a.channels * (a.bits / 8));
        bool ended = false;
        if (!source_->ReadAudio(plan->samples, plan->audio.data(), &ended, error)) return false;
        audio_ended_ = ended;
    }
    ++index_;

    // The end: both streams are through by the next period's time.
    const bool video_done =
        !source_->video.present ||
        (video_ended_ && !next_ && (!current_ || t_next >= current_->start + current_->duration));
    const bool audio_done = a.channels == 0 || audio_ended_;
    if (video_done && audio_done) {
        if (loop_) {
            if (!source_->Rewind(error)) return false;
            time_offset_ = t_next;
            if (current_) number_offset_ = current_->number + 1;
            video_ended_ = audio_ended_ = false;
        } else {
            done_ = true;
        }
    }
    if (limit_ >= 0 && index_ >= limit_) done_ = true;
    plan->last = done_;
    return true;
}

}  // namespace oxplay
