// The command line of oxplay, read into a plain record. Parsing knows nothing of devices or
// formats: names are kept as text and resolved once the renderer is made.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orvex/types.h"

namespace oxplay {

struct Options {
    bool help = false;
    bool list_devices = false;
    std::string source = "box";         // a pattern name, or the path of a file
    std::optional<std::string> device;  // index or name
    std::optional<std::string> format;  // a format name as the format list gives it
    std::optional<std::string> pixel_format;
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

// A video format as the renderer's format list gives it.
struct FormatEntry {
    std::string name;
    M_VID_PROPS props{};
};
// The entry named `wanted`: the whole name or its first word ("HD1080-25p"), any case; -1.
int MatchFormatName(const std::vector<FormatEntry>& formats, const std::string& wanted);
// The entry with the same picture size, rate and field order; -1.
int MatchFormatGeometry(const std::vector<FormatEntry>& formats, int width, int height, double rate,
                        eMInterlace interlace);
// A frame rate as a fraction: 25 -> 25/1, 29.97 -> 30000/1001.
void RateFraction(double rate, int* num, int* den);

}  // namespace oxplay
