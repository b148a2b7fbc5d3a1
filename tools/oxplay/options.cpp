#include "tools/oxplay/options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace oxplay {
namespace {

bool ParseInt(const std::string& text, long min, long max, int* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *out = static_cast<int>(v);
    return true;
}

bool ParseSeconds(const std::string& text, double* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    // A day is far beyond any sensible play and keeps frame counts in range.
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0 || v > 86400) return false;
    *out = v;
    return true;
}

}  // namespace

bool IsPatternName(const std::string& name) {
    return name == "bars" || name == "box" || name == "ramp";
}

bool ParseTimecode(const std::string& text, int* hours, int* minutes, int* seconds, int* frames,
                   bool* drop_frame) {
    if (text.size() != 11) return false;
    for (int i : {0, 1, 3, 4, 6, 7, 9, 10})
        if (text[i] < '0' || text[i] > '9') return false;
    if (text[2] != ':' || text[5] != ':' || (text[8] != ':' && text[8] != ';')) return false;
    auto two = [&](int at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
    *hours = two(0);
    *minutes = two(3);
    *seconds = two(6);
    *frames = two(9);
    *drop_frame = text[8] == ';';
    return *hours < 24 && *minutes < 60 && *seconds < 60 && *frames < 60;
}

std::string ParseOptions(const std::vector<std::string>& args, Options* out) {
    Options o;
    bool have_source = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // Options that take a value accept "--name value" and "--name=value".
        std::string name = arg;
        std::optional<std::string> inline_value;
        if (arg.starts_with("--")) {
            if (auto eq = arg.find('='); eq != std::string::npos) {
                name = arg.substr(0, eq);
                inline_value = arg.substr(eq + 1);
            }
        }
        auto value = [&](std::string* v) -> std::string {
            if (inline_value) {
                *v = *inline_value;
                return {};
            }
            if (i + 1 >= args.size()) return name + " needs a value";
            *v = args[++i];
            return {};
        };
        auto flag = [&](bool* f) -> std::string {
            if (inline_value) return name + " takes no value";
            *f = true;
            return {};
        };
        std::string v;
        std::string err;
        if (name == "-h" || name == "--help") {
            err = flag(&o.help);
        } else if (name == "--list-devices") {
            err = flag(&o.list_devices);
        } else if (name == "--loop") {
            err = flag(&o.loop);
        } else if (name == "--live") {
            err = flag(&o.live);
        } else if (name == "--device") {
            if ((err = value(&v)).empty()) {
                if (v.empty()) err = "--device needs a name or an index";
                o.device = v;
            }
        } else if (name == "--format") {
            if ((err = value(&v)).empty()) {
                if (v.empty()) err = "--format needs a name";
                o.format = v;
            }
        } else if (name == "--pixel-format") {
            if ((err = value(&v)).empty()) {
                if (v != "UYVY" && v != "HDYC" && v != "YUY2" && v != "RGB32" && v != "v210")
                    err = "unknown pixel format '" + v + "' (UYVY, HDYC, YUY2, RGB32 or v210)";
                o.pixel_format = v;
            }
        } else if (name == "--fit") {
            if ((err = value(&v)).empty()) {
                if (v == "letterbox")
                    o.fit = Fit::kLetterbox;
                else if (v == "stretch")
                    o.fit = Fit::kStretch;
                else if (v == "crop")
                    o.fit = Fit::kCrop;
                else
                    err = "--fit takes letterbox, stretch or crop, not '" + v + "'";
            }
        } else if (name == "--audio-channels") {
            if ((err = value(&v)).empty() && !ParseInt(v, 0, 16, &o.audio_channels))
                err = "--audio-channels takes a number from 0 to 16, not '" + v + "'";
        } else if (name == "--seconds") {
            if ((err = value(&v)).empty()) {
                if (!ParseSeconds(v, &o.seconds))
                    err = "--seconds takes a number from 0 to 86400, not '" + v + "'";
                o.seconds_given = true;
            }
        } else if (name == "--set") {
            if ((err = value(&v)).empty()) {
                const auto eq = v.find('=');
                if (eq == std::string::npos || eq == 0)
                    err = "--set takes name=value, not '" + v + "'";
                else
                    o.props.emplace_back(v.substr(0, eq), v.substr(eq + 1));
            }
        } else if (name == "--record") {
            if ((err = value(&v)).empty()) {
                if (v.empty()) err = "--record needs a folder";
                o.record_dir = v;
            }
        } else if (name == "--rig") {
            if ((err = value(&v)).empty()) {
                if (v.empty()) err = "--rig needs a preset name or a file";
                o.rig = v;
            }
        } else if (name == "--captions") {
            if ((err = value(&v)).empty()) o.captions = v;
        } else if (name == "--timecode") {
            if ((err = value(&v)).empty()) {
                int h, m, s, f;
                bool df;
                if (!ParseTimecode(v, &h, &m, &s, &f, &df))
                    err = "--timecode takes HH:MM:SS:FF, not '" + v + "'";
                o.timecode = v;
            }
        } else if (arg.starts_with("-") && arg != "-") {
            err = "unknown option '" + arg + "' (see --help)";
        } else if (have_source) {
            err = "only one source may be given ('" + o.source + "' and '" + arg + "')";
        } else {
            o.source = arg;
            have_source = true;
        }
        if (!err.empty()) return err;
    }
    *out = std::move(o);
    return {};
}

std::string Printable(const std::string& text) {
    std::string out;
    auto escape = [&](unsigned char c) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += hex;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // A whole UTF-8 sequence passes, except the C1 controls (U+0080 to U+009F).
        const int length = c >= 0xC2 && c <= 0xDF   ? 2
                           : c >= 0xE0 && c <= 0xEF ? 3
                           : c >= 0xF0 && c <= 0xF4 ? 4
                                                    : 0;
        bool whole = length > 0 && i + length <= text.size();
        for (int k = 1; whole && k < length; ++k)
            whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (whole && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) whole = false;
        if (!whole) {
            escape(c);
            ++i;
            continue;
        }
        out.append(text, i, static_cast<std::size_t>(length));
        i += static_cast<std::size_t>(length);
    }
    return out;
}

const char* UsageText() {
    return "usage: oxplay [SOURCE] [options]\n"
           "\n"
           "Plays SOURCE to an output device through the OXRenderer module.\n"
           "SOURCE is a test pattern (box: moving box with frame counter and timecode,\n"
           "bars: colour bars, ramp: luma ramp), each with a 1 kHz tone and channel ident,\n"
           "or a file: .y4m video, .wav audio (shown over colour bars), or any media file\n"
           "that FFmpeg decodes. Default: box, 10 seconds, to the first device.\n"
           "A file plays in the device's format that suits it best (its rate family, then\n"
           "the smallest frame that holds its picture); the renderer scales it to that.\n"
           "\n"
           "  --list-devices        list the output devices and exit\n"
           "  --device N|NAME       play to this device (index or name)\n"
           "  --format NAME         output format, as --list-devices names them (HD1080-25p...)\n"
           "  --pixel-format FCC    output pixel format: UYVY, HDYC, YUY2, RGB32 or v210\n"
           "  --fit MODE            letterbox (default: the whole picture, black bars where its\n"
           "                        shape leaves room), crop (fill the output) or stretch\n"
           "  --audio-channels N    channels of the tone (0 to 16; default 2)\n"
           "  --seconds S           play S seconds (default 10 for patterns, the file's length\n"
           "                        for files); 0 plays until Ctrl-C\n"
           "  --loop                start a file again at its end\n"
           "  --live                mark frames live (the renderer drops instead of queueing)\n"
           "  --set NAME=VALUE      set a renderer property before playing (repeatable)\n"
           "  --record DIR          folder of the virtual card's recording\n"
           "                        (default: ./oxplay-recordings)\n"
           "  --rig NAME|FILE       virtual card rig: default, hd-sdi, hdmi, pair, studio, ...\n"
           "  --captions FILE       CEA-608 byte pairs, one line per frame (hex: 9420 2c2f);\n"
           "                        they go out with v210 output (or on NTSC's line 21)\n"
           "  --timecode HH:MM:SS:FF  timecode of the first frame (default 10:00:00:00;\n"
           "                        HH:MM:SS;FF counts drop-frame at 29.97 and 59.94)\n"
           "  -h, --help            this text\n";
}

}  // namespace oxplay
