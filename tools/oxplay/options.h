// The command line of oxplay, read into a plain record. Parsing knows nothing of devices or
// formats: names are kept as text and resolved once the renderer is made.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orvex/types.h"
#include "tools/oxplay/output_format.h"

namespace oxplay {

struct Options {
    bool help = false;
    bool list_devices = false;
    std::string source = "box";         // a pattern name, or the path of a file
    std::optional<std::string> device;  // index or name
    std::optional<std::string> format;  // a format name as the format list gives it
    std::optional<std::string> pixel_format;
    Fit fit = Fit::kLetterbox;
    int audio_channels = 2;
    double seconds = 10.0;  // 0: as long as the source lasts (files) or until Ctrl-C (loop)
    bool seconds_given = false;
    bool loop = false;
    bool live = false;
    std::vector<std::pair<std::string, std::string>> props;  // --set name=value, in order
    std::optional<std::string> record_dir;
    std::optional<std::string> rig;
    std::optional<std::string> captions;  // text file of 608 byte pairs, one frame a line
    std::optional<std::string> timecode;  // HH:MM:SS:FF of the first frame
};

// Returns an empty string on success, else a one-line reason.
std::string ParseOptions(const std::vector<std::string>& args, Options* out);

// Pattern sources drawn by the player.
bool IsPatternName(const std::string& name);

// "HH:MM:SS:FF" (or ';' before the frames for drop-frame); false when malformed.
bool ParseTimecode(const std::string& text, int* hours, int* minutes, int* seconds, int* frames,
                   bool* drop_frame);

const char* UsageText();

// `text` with every control character (and every byte that is not UTF-8) written as \xNN,
// so that a name or a line from a file cannot drive the terminal.
std::string Printable(const std::string& text);

}  // namespace oxplay
