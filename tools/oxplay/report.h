// What oxplay tells: the start block (what the file is, what the output is, and what was
// chosen to bring one to the other), the progress line and the summary. Each block is a list
// of labelled rows, so a row is added without touching the others.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tools/oxplay/compose.h"
#include "tools/oxplay/schedule.h"

namespace oxplay {

using Rows = std::vector<std::pair<std::string, std::string>>;

// "oxplay: REASON" on standard error, made printable; returns `code` (the exit code).
int Fail(int code, const std::string& reason);
// "oxplay: warning: TEXT" on standard error.
void Warn(const std::string& text);

// "Title" then each row indented, labels aligned; every piece made printable.
std::string Block(const std::string& title, const Rows& rows);

// The rows of the start block.
std::string FileRow(const Source& source, bool pattern);
std::string FitRow(const FrameShape& shape, Fit fit, const FitSettings& settings);
std::string RateRow(const VideoInfo& video, const OutputClock& out, Scan scan, int shift);
std::string AudioRow(const AudioInfo& audio);

// The figures of the progress line and the summary, as the renderer's "stat" node gives
// them; a figure the renderer does not publish reads "n/a".
struct Figures {
    std::string late, skipped, missed, audio_dropped, overflow, reference, queue;
};
std::string FiguresLine(double played_seconds, std::int64_t frames, const Figures& f);
std::string PicturesRow(const PictureCounts& counts);

}  // namespace oxplay
