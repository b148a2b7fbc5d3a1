// The recording of one output stream, from its first picture on air until the output ends:
// the pictures (VideoRecorder), the audio on the card's sample grid from the first recorded
// period on (AudioRecorder; sample 0 of the WAV is the start of that period, silence until
// audio plays), and the JSON-lines log. The card prepares each period under its lock and
// hands the file work to a writer thread of the recording's own, so its clock never waits for
// the disk; a part the writer could not take in time is left out and the period's line says
// so ("dropped").
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/common/record_writer.h"
#include "sim/decklink/recorder.h"

namespace orvex::sim::decklink {

class Recording {
public:
    // `base` is the path without extension; files are created on first use. `audio_origin` is
    // the card's sample-grid index of the first period's start (WAV sample 0).
    Recording(std::string base, const ModeInfo& mode, std::int64_t audio_origin,
              std::size_t bound_bytes = RecordWriter::kDefaultBound);
    // Ends the writer after everything queued, then closes the files.
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // One period's picture (new or repeated). False when the writer could not take it.
    bool Picture(std::shared_ptr<const decklink::Picture> picture,
                 std::shared_ptr<const decklink::Picture> right_eye, bool is_new,
                 std::int64_t period);
    // The period's log line: `json` is an object without its closing brace; the writer adds
    // whether the period's picture reached its file ("recorded").
    void Line(std::string json, bool picture_queued);

    // The audio layout the WAV takes (the first call opens it; another layout afterwards
    // is not recorded).
    void AudioFormat(int bits, int channels);
    // Sample frames played from grid index `grid` on (null data: silence). Parts before the
    // origin are left out; a gap since the last call is recorded as silence.
    void Audio(std::int64_t grid, const std::uint8_t* data, std::uint64_t frames);
    std::int64_t audio_origin() const { return audio_origin_; }

    // Waits until the files hold everything given so far.
    void Drain();
    // Parts of the recording left out because the writer fell behind.
    std::uint64_t Dropped() const { return writer_.Refused(); }

private:
    struct Files;

    const std::int64_t audio_origin_;
    std::int64_t audio_next_;  // grid index the WAV continues at
    int audio_bits_ = 0, audio_channels_ = 0;
    bool audio_layout_changed_ = false;
    std::unique_ptr<Files> files_;  // touched only by jobs on the writer thread
    RecordWriter writer_;           // declared last: ends before the files close
};

}  // namespace orvex::sim::decklink
