#include "sim/decklink/recording.h"

#include <cstring>
#include <filesystem>
#include <vector>

namespace orvex::sim::decklink {

struct Recording::Files {
    std::string base;
    VideoRecorder video;
    AudioRecorder audio;
    bool last_picture_ok = false;
};

Recording::Recording(std::string base, const ModeInfo& mode, std::int64_t audio_origin,
                     std::size_t bound_bytes)
    : audio_origin_(audio_origin),
      audio_next_(audio_origin),
      files_(std::make_unique<Files>()),
      writer_(bound_bytes) {
    Files* f = files_.get();
    f->base = std::move(base);
    writer_.Submit(0, [f, mode] {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(f->base).parent_path(), ec);
        f->video.Start(f->base, mode);
    });
}

Recording::~Recording() = default;

bool Recording::Picture(std::shared_ptr<const decklink::Picture> picture,
                        std::shared_ptr<const decklink::Picture> right_eye, bool is_new,
                        std::int64_t period) {
    // A repeat holds the picture already on air: it adds no memory to the queue.
    std::size_t bytes = 0;
    if (is_new) {
        bytes = picture->bytes.size() + (right_eye ? right_eye->bytes.size() : 0);
        if (bytes == 0) bytes = 1;
    }
    Files* f = files_.get();
    const bool queued = writer_.Submit(
        bytes, [f, picture = std::move(picture), right_eye = std::move(right_eye), is_new, period] {
            f->last_picture_ok = f->video.WritePeriod(*picture, is_new, period,
                                                      right_eye ? right_eye.get() : nullptr);
        });
    if (!queued) {
        // The picture after a dropped one cannot repeat planes that never reached the file.
        writer_.Submit(0, [f] { f->video.ForgetLastPicture(); });
    }
    return queued;
}

void Recording::Line(std::string json, bool picture_queued) {
    Files* f = files_.get();
    writer_.Submit(0, [f, json = std::move(json), picture_queued]() mutable {
        if (!picture_queued)
            json += ",\"recorded\":false,\"dropped\":true}";
        else
            json += f->last_picture_ok ? ",\"recorded\":true}" : ",\"recorded\":false}";
        f->video.WriteLogLine(json);
    });
}

void Recording::AudioFormat(int bits, int channels) {
    if (audio_bits_ == bits && audio_channels_ == channels) return;
    if (audio_bits_ != 0) {
        audio_layout_changed_ = true;  // one WAV holds one layout
        return;
    }
    audio_bits_ = bits;
    audio_channels_ = channels;
    Files* f = files_.get();
    writer_.Submit(0, [f, bits, channels] { f->audio.Open(f->base + ".wav", bits, channels); });
}

void Recording::Audio(std::int64_t grid, const std::uint8_t* data, std::uint64_t frames) {
    if (audio_bits_ == 0 || audio_layout_changed_ || frames == 0) return;
    const auto frame_bytes = static_cast<std::size_t>(audio_bits_ / 8 * audio_channels_);
    const std::int64_t end = grid + static_cast<std::int64_t>(frames);
    if (end <= audio_next_) return;  // before the origin, or already recorded
    if (grid < audio_next_) {
        const auto skip = static_cast<std::size_t>(audio_next_ - grid);
        if (data) data += skip * frame_bytes;
        grid = audio_next_;
        frames -= skip;
    }
    Files* f = files_.get();
    if (grid > audio_next_) {  // the card played nothing meanwhile: silence
        const auto gap = static_cast<std::uint64_t>(grid - audio_next_);
        writer_.Submit(0, [f, gap] { f->audio.Write(nullptr, gap); });
    }
    audio_next_ = end;
    if (!data) {
        writer_.Submit(0, [f, frames] { f->audio.Write(nullptr, frames); });
        return;
    }
    std::vector<std::uint8_t> copy(data, data + frames * frame_bytes);
    const std::size_t bytes = copy.size();
    if (!writer_.Submit(
            bytes, [f, copy = std::move(copy), frames] { f->audio.Write(copy.data(), frames); })) {
        // Left out, the samples still take their place: the WAV keeps the card's timeline.
        writer_.Submit(0, [f, frames] { f->audio.Write(nullptr, frames); });
    }
}

void Recording::Drain() {
    writer_.Drain();
    Files* f = files_.get();
    writer_.Submit(0, [f] { f->video.Flush(); });
    writer_.Drain();
}

}  // namespace orvex::sim::decklink
