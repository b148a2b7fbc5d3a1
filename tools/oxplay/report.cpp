#include "tools/oxplay/report.h"

#include <cmath>
#include <cstdio>

#include "tools/oxplay/options.h"

namespace oxplay {
namespace {

std::string Rate(double fps) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", fps);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

std::string Size(int w, int h) {
    return std::to_string(w) + "x" + std::to_string(h);
}

std::string Shape(double aspect) {
    if (std::fabs(aspect - 16.0 / 9) < 0.01) return "16:9";
    if (std::fabs(aspect - 4.0 / 3) < 0.01) return "4:3";
    if (std::fabs(aspect - 9.0 / 16) < 0.01) return "9:16";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f:1", aspect);
    return text;
}

}  // namespace

int Fail(int code, const std::string& reason) {
    std::fprintf(stderr, "oxplay: %s\n", Printable(reason).c_str());
    return code;
}

void Warn(const std::string& text) {
    std::fprintf(stderr, "oxplay: warning: %s\n", Printable(text).c_str());
}

std::string Block(const std::string& title, const Rows& rows) {
    std::size_t width = 0;
    for (const auto& r : rows) width = std::max(width, r.first.size());
    std::string out = Printable(title) + "\n";
    for (const auto& [label, text] : rows)
        out += "  " + label + ":" + std::string(width - label.size() + 2, ' ') + Printable(text) +
               "\n";
    return out;
}

std::string FileRow(const Source& source, bool pattern) {
    const VideoInfo& v = source.video;
    std::string s;
    if (pattern) {
        s = "a test pattern, drawn in the output's format";
    } else if (!v.present) {
        s = "no video (colour bars)";
    } else {
        const bool fields = v.interlace == eMI_Field1First || v.interlace == eMI_Field2First;
        s = Size(v.width, v.height) + " " +
            (v.variable_rate ? "variable rate, about " + Rate(v.Rate()) : Rate(v.Rate())) +
            (fields
                 ? (v.interlace == eMI_Field1First ? "i top field first" : "i bottom field first")
                 : "p");
        const double pixel = static_cast<double>(v.aspect_num) / v.aspect_den;
        s += ", " + Shape(v.width * pixel / v.height);
        if (v.aspect_num != v.aspect_den)
            s += " (pixel aspect " + std::to_string(v.aspect_num) + ":" +
                 std::to_string(v.aspect_den) + ")";
        s += ", " + v.codec;
    }
    if (!pattern) s += source.audio.channels > 0 ? "; audio " + source.audio.layout : "; no audio";
    return s;
}

std::string FitRow(const FrameShape& shape, Fit fit, const FitSettings& settings) {
    const Placement& p = shape.placement;
    const double sx = static_cast<double>(settings.out_width) / p.canvas_w;
    const double sy = static_cast<double>(settings.out_height) / p.canvas_h;
    const int w = static_cast<int>(std::lround(std::min(p.src_w, p.canvas_w - p.dst_x) * sx));
    const int h = static_cast<int>(std::lround(std::min(p.src_h, p.canvas_h - p.dst_y) * sy));
    const std::string name = FitName(fit);
    if (fit == Fit::kStretch) return name + ": the whole picture to " + Size(w, h);
    if (p.dst_x > 0) return name + ": the picture at " + Size(w, h) + ", black bars left and right";
    if (p.dst_y > 0)
        return name + ": the picture at " + Size(w, h) + ", black bars above and below";
    if (p.src_x > 0 || p.src_y > 0)
        return name + ": the middle " + Size(p.src_w, p.src_h) + " of the picture fills the output";
    return name + ": the picture fills the output";
}

std::string RateRow(const VideoInfo& video, const OutputClock& out, Scan scan, int shift) {
    const double ro = static_cast<double>(out.rate_num) / out.rate_den;
    if (!video.present) return Rate(ro) + " frames/s";
    const double rs = video.Rate();
    std::string s;
    if (video.variable_rate) {
        s = "variable (about " + Rate(rs) + ") -> " + Rate(ro) +
            " frames/s, each picture at its time";
    } else if (std::fabs(ro / rs - 1) < 1e-4) {
        s = Rate(rs) + " frames/s, as the source";
    } else if (ro > rs) {
        const double k = ro / rs;
        s = Rate(rs) + " -> " + Rate(ro) + " frames/s, ";
        if (std::fabs(k - std::round(k)) < 1e-3)
            s += std::lround(k) == 2 ? "each picture twice"
                                     : "each picture " + std::to_string(std::lround(k)) + " times";
        else
            s += "pictures repeated evenly (one in " + std::to_string(std::lround(rs / (ro - rs))) +
                 ")";
    } else {
        s = Rate(rs) + " -> " + Rate(ro) + " frames/s, pictures dropped evenly (one in " +
            std::to_string(std::lround(rs / (rs - ro))) + ")";
    }
    if (scan == Scan::kWeave) s += "; each field from a picture of its own";
    if (scan == Scan::kBob) s += "; each field a frame of its own";
    if (shift) s += "; fields brought to the output's order (picture one line down)";
    return s;
}

std::string AudioRow(const AudioInfo& a) {
    if (a.channels <= 0) return "none";
    std::string s = a.layout + " at " + Rate(a.rate / 1000.0) + " kHz on " + a.placement;
    if (a.rate != 48000) s += ", resampled to 48 kHz by the renderer";
    return s;
}

std::string FiguresLine(double played, std::int64_t frames, const Figures& f) {
    char time[32];
    const long long tenths = std::llround(played * 10), s = tenths / 10;
    std::snprintf(time, sizeof time, "%02lld:%02lld:%02lld.%01lld", s / 3600, s / 60 % 60, s % 60,
                  tenths % 10);
    char text[512];
    std::snprintf(text, sizeof text,
                  "%s  frames %lld  late %s  skipped %s  missed %s  audio dropped %s  "
                  "refused %s  reference %s  queue %s",
                  time, static_cast<long long>(frames), f.late.c_str(), f.skipped.c_str(),
                  f.missed.c_str(), f.audio_dropped.c_str(), f.overflow.c_str(),
                  f.reference.c_str(), f.queue.c_str());
    return Printable(text);
}

std::string PicturesRow(const PictureCounts& c) {
    return std::to_string(c.shown) + " shown, " + std::to_string(c.repeated) + " repeated, " +
           std::to_string(c.dropped) + " dropped";
}

}  // namespace oxplay
