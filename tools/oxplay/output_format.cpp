#include "tools/oxplay/output_format.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <tuple>

namespace oxplay {
namespace {

// The largest picture side handed to the renderer (as its scaler takes).
constexpr double kMaxSide = 16384;

bool Playable(const M_VID_PROPS& p) {
    const bool stereo = (p.eVideoFormat & ~0xFF) != 0 || p.e3DFormat != 0;
    return !stereo && p.eVideoFormat != eMVF_Disabled && p.nWidth > 0 && p.nHeight != 0 &&
           p.dblRate > 0;
}

bool Progressive(eMInterlace order) {
    return order == eMI_Progressive || order == eMI_Default;
}

int AlignDown(int v, int step) {
    return v / step * step;
}

// A difference of under 1% (and two pixels) is rounding, not a shape: nothing is added or
// cut for it.
bool Matters(int difference, int size) {
    return difference >= std::max(2, size / 100);
}

}  // namespace

int MatchFormatName(const std::vector<FormatEntry>& formats, const std::string& wanted) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    const std::string w = lower(wanted);
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const std::string name = lower(formats[i].name);
        if (name == w || name.substr(0, name.find(' ')) == w) return static_cast<int>(i);
    }
    return -1;
}

void RateFraction(double rate, int* num, int* den) {
    const double whole = std::round(rate);
    if (std::fabs(rate - whole) < 1e-6) {
        *num = static_cast<int>(whole);
        *den = 1;
        return;
    }
    const double ntsc = std::round(rate * 1.001);
    if (std::fabs(rate * 1.001 - ntsc) < 1e-3) {
        *num = static_cast<int>(ntsc) * 1000;
        *den = 1001;
        return;
    }
    *num = static_cast<int>(std::lround(rate * 1000));
    *den = 1000;
}

RateFamily FamilyOf(double fps) {
    static constexpr struct {
        double rate;
        RateFamily family;
    } kBases[] = {{24000.0 / 1001, RateFamily::k24},
                  {24, RateFamily::k24},
                  {25, RateFamily::k25},
                  {30000.0 / 1001, RateFamily::k2997},
                  {30, RateFamily::k30}};
    RateFamily best = RateFamily::k25;
    double best_distance = 1e9;
    if (!(fps > 0) || !std::isfinite(fps)) return best;
    for (const auto& b : kBases)
        for (double k : {0.25, 0.5, 1.0, 2.0, 4.0}) {
            const double d = std::fabs(std::log(fps / (b.rate * k)));
            if (d < best_distance) {
                best_distance = d;
                best = b.family;
            }
        }
    return best;
}

double OutputPixelAspect(const M_VID_PROPS& p) {
    const int h = std::abs(p.nHeight);
    if (h >= 720 || p.nWidth <= 0 || h == 0 || p.nAspectX <= 0 || p.nAspectY <= 0) return 1.0;
    return static_cast<double>(p.nAspectX) / p.nAspectY / (static_cast<double>(p.nWidth) / h);
}

int ChooseFormat(const std::vector<FormatEntry>& formats, const PictureShape& shape) {
    const RateFamily family = FamilyOf(shape.rate);
    int best = -1;
    std::tuple<int, int, double, int, double> best_score;
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const M_VID_PROPS& p = formats[i].props;
        if (!Playable(p)) continue;
        const int h = std::abs(p.nHeight);
        const double need = shape.width * shape.pixel_aspect / OutputPixelAspect(p);
        const bool holds = p.nWidth >= need - 0.5 && h >= shape.height;
        const double area = static_cast<double>(p.nWidth) * h;
        const auto score = std::make_tuple(
            FamilyOf(p.dblRate) == family ? 0 : 1, holds ? 0 : 1, holds ? area : -area,
            Progressive(p.eInterlace) == !shape.interlaced ? 0 : 1,
            shape.rate > 0 ? std::fabs(std::log(p.dblRate / shape.rate)) : 0.0);
        if (best < 0 || score < best_score) {
            best = static_cast<int>(i);
            best_score = score;
        }
    }
    return best;
}

const char* FitName(Fit fit) {
    switch (fit) {
        case Fit::kLetterbox:
            return "letterbox";
        case Fit::kStretch:
            return "stretch";
        case Fit::kCrop:
            return "crop";
    }
    return "";
}

bool Place(const PlaceRequest& r, Placement* out, std::string* error) {
    Placement p;
    p.canvas_w = p.src_w = r.width;
    p.canvas_h = p.src_h = r.height;
    if (r.width <= 0 || r.height <= 0 || r.out_width <= 0 || r.out_height <= 0 ||
        !(r.pixel_aspect > 0) || !(r.out_pixel_aspect > 0)) {
        *error = "the picture has no size";
        return false;
    }
    // Display aspects: the source's and the output's.
    const double ds = r.width * r.pixel_aspect / r.height;
    const double d_out = r.out_width * r.out_pixel_aspect / r.out_height;
    const int y_step = r.keep_parity ? 2 : 1;
    const int x_step = r.x_step > 0 ? r.x_step : 2;
    const bool wider = ds > d_out;
    if (r.fit == Fit::kLetterbox) {
        // Bars above and below a wider picture, beside a narrower one.
        const double size =
            wider ? r.width * r.pixel_aspect / d_out : r.height * d_out / r.pixel_aspect;
        if (!(size <= kMaxSide)) {
            *error = "the picture's shape is beyond what oxplay can fit (pixel aspect " +
                     std::to_string(r.pixel_aspect) + ")";
            return false;
        }
        const int canvas = static_cast<int>(std::lround(size));
        if (wider && Matters(canvas - r.height, r.height)) {
            p.canvas_h = canvas + (r.keep_parity ? canvas & 1 : 0);
            p.dst_y = AlignDown((p.canvas_h - r.height) / 2, y_step);
        } else if (!wider && Matters(canvas - r.width, r.width)) {
            p.canvas_w = (canvas + 1) & ~1;
            p.dst_x = AlignDown((p.canvas_w - r.width) / 2, x_step);
        }
    } else if (r.fit == Fit::kCrop) {
        // The middle of the picture, in the output's shape.
        const double size =
            wider ? r.height * d_out / r.pixel_aspect : r.width * r.pixel_aspect / d_out;
        const int kept = static_cast<int>(std::lround(size));
        if (wider && Matters(r.width - kept, r.width)) {
            p.src_w = p.canvas_w = std::max(2, kept & ~1);
            p.src_x = AlignDown((r.width - p.src_w) / 2, x_step);
        } else if (!wider && Matters(r.height - kept, r.height)) {
            p.src_h = p.canvas_h = std::max(y_step, AlignDown(kept, y_step));
            p.src_y = AlignDown((r.height - p.src_h) / 2, y_step);
        }
    }
    *out = p;
    return true;
}

}  // namespace oxplay
