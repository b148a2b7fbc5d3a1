#include "tools/oxplay/media_picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace oxplay {
namespace {

constexpr int kMaxSide = 16384;

// Where output pixel (x, y) of a picture turned by Rot degrees clockwise comes from, in a
// source of `w` x `h`.
template <int Rot>
inline void SourceOf(int x, int y, int w, int h, int* sx, int* sy) {
    if constexpr (Rot == 0) {
        *sx = x, *sy = y;
    } else if constexpr (Rot == 90) {
        *sx = y, *sy = h - 1 - x;
    } else if constexpr (Rot == 180) {
        *sx = w - 1 - x, *sy = h - 1 - y;
    } else {
        *sx = w - 1 - y, *sy = x;
    }
}

// One component of an 8-bit layout, read in place (planar, semi-planar or packed alike).
struct Comp8 {
    const std::uint8_t* base = nullptr;
    int linesize = 0, offset = 0, step = 1, shift_x = 0, shift_y = 0;
    std::uint8_t At(int x, int y) const {
        return base[static_cast<std::ptrdiff_t>(y >> shift_y) * linesize + offset +
                    static_cast<std::ptrdiff_t>(x >> shift_x) * step];
    }
};

Comp8 Component8(const AVFrame* f, const AVPixFmtDescriptor* d, int c) {
    const AVComponentDescriptor& cd = d->comp[c];
    Comp8 k;
    k.base = f->data[cd.plane];
    k.linesize = f->linesize[cd.plane];
    k.offset = cd.offset;
    k.step = cd.step;
    k.shift_x = c == 1 || c == 2 ? d->log2_chroma_w : 0;
    k.shift_y = c == 1 || c == 2 ? d->log2_chroma_h : 0;
    return k;
}

// Studio range from full range, for 8-bit luma and chroma.
struct RangeTables {
    std::uint8_t luma[256], chroma[256];
    explicit RangeTables(bool full) {
        for (int v = 0; v < 256; ++v) {
            luma[v] = static_cast<std::uint8_t>(full ? std::lround(16 + v * 219.0 / 255) : v);
            chroma[v] =
                static_cast<std::uint8_t>(full ? std::lround(128 + (v - 128) * 224.0 / 255) : v);
        }
    }
};

template <int Rot>
void YuvToUyvy(const AVFrame* f, const AVPixFmtDescriptor* d, bool full, Image* out) {
    const Comp8 y = Component8(f, d, 0);
    const bool colour = d->nb_components >= 3;
    const Comp8 cb = colour ? Component8(f, d, 1) : Comp8{};
    const Comp8 cr = colour ? Component8(f, d, 2) : Comp8{};
    const RangeTables range(full);
    const int last = std::max(0, (Rot == 90 || Rot == 270 ? f->height : f->width) - 1);
    for (int oy = 0; oy < out->height; ++oy) {
        std::uint8_t* o = out->bytes.data() + static_cast<std::size_t>(oy) * out->row_bytes;
        for (int ox = 0; ox < out->width; ox += 2) {
            int sx, sy, sx1, sy1;
            SourceOf<Rot>(ox, oy, f->width, f->height, &sx, &sy);
            SourceOf<Rot>(std::min(ox + 1, last), oy, f->width, f->height, &sx1, &sy1);
            o[ox * 2] = colour ? range.chroma[cb.At(sx, sy)] : 128;
            o[ox * 2 + 1] = range.luma[y.At(sx, sy)];
            o[ox * 2 + 2] = colour ? range.chroma[cr.At(sx, sy)] : 128;
            o[ox * 2 + 3] = range.luma[y.At(sx1, sy1)];
        }
    }
}

template <int Rot>
void RgbToBgra(const AVFrame* f, const AVPixFmtDescriptor* d, Image* out) {
    const Comp8 r = Component8(f, d, 0), g = Component8(f, d, 1), b = Component8(f, d, 2);
    const bool alpha = d->flags & AV_PIX_FMT_FLAG_ALPHA;
    const Comp8 a = alpha ? Component8(f, d, 3) : Comp8{};
    for (int oy = 0; oy < out->height; ++oy) {
        std::uint8_t* o = out->bytes.data() + static_cast<std::size_t>(oy) * out->row_bytes;
        for (int ox = 0; ox < out->width; ++ox) {
            int sx, sy;
            SourceOf<Rot>(std::min(ox, (Rot == 90 || Rot == 270 ? f->height : f->width) - 1), oy,
                          f->width, f->height, &sx, &sy);
            o[ox * 4] = b.At(sx, sy);
            o[ox * 4 + 1] = g.At(sx, sy);
            o[ox * 4 + 2] = r.At(sx, sy);
            o[ox * 4 + 3] = alpha ? a.At(sx, sy) : 255;
        }
    }
}

// Any other layout, read a row at a time by libavutil into 16-bit components at full width.
struct Planes16 {
    int w = 0, h = 0, components = 0;
    std::vector<std::uint16_t> data[4];
    std::uint16_t At(int c, int x, int y) const {
        return data[c][static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x)];
    }
};

void ReadPlanes(const AVFrame* f, const AVPixFmtDescriptor* d, Planes16* p) {
    p->w = f->width;
    p->h = f->height;
    p->components = std::min<int>(d->nb_components, 4);
    std::vector<std::uint16_t> line(static_cast<std::size_t>(f->width));
    for (int c = 0; c < p->components; ++c) {
        p->data[c].resize(static_cast<std::size_t>(f->width) * f->height);
        const bool chroma = c == 1 || c == 2;
        const int sw = chroma ? d->log2_chroma_w : 0, sh = chroma ? d->log2_chroma_h : 0;
        const int cw = AV_CEIL_RSHIFT(f->width, sw);
        for (int y = 0; y < f->height; ++y) {
            av_read_image_line2(line.data(), const_cast<const std::uint8_t**>(f->data), f->linesize,
                                d, 0, y >> sh, c, cw, 0, 2);
            std::uint16_t* row = p->data[c].data() + static_cast<std::size_t>(y) * f->width;
            for (int x = 0; x < f->width; ++x) row[x] = line[static_cast<std::size_t>(x >> sw)];
        }
    }
}

template <int Rot>
void PlanesToV210(const Planes16& p, int depth, bool full, Image* out) {
    const int last = (Rot == 90 || Rot == 270 ? p.h : p.w) - 1;
    auto ten = [&](int c, int x, int y) -> std::uint32_t {
        int sx, sy;
        SourceOf<Rot>(std::min(x, last), y, p.w, p.h, &sx, &sy);
        const double v = p.components > c ? p.At(c, sx, sy) * std::ldexp(1.0, 10 - depth) : 512.0;
        if (!full || p.components <= c) return static_cast<std::uint32_t>(std::lround(v)) & 0x3FF;
        const double s = c == 0 ? 64 + v * 876.0 / 1023 : 512 + (v - 512) * 896.0 / 1023;
        return static_cast<std::uint32_t>(std::lround(s)) & 0x3FF;
    };
    const int pairs = out->width / 2;
    for (int y = 0; y < out->height; ++y) {
        auto* words = reinterpret_cast<std::uint32_t*>(
            out->bytes.data() + static_cast<std::size_t>(y) * out->row_bytes);
        // Six pixels in four words of three samples, Cb Y Cr Y ...; a part group repeats the
        // last pair.
        for (int g = 0; g * 3 < pairs; ++g) {
            std::uint32_t s[12];
            for (int k = 0; k < 3; ++k) {
                const int x = std::min(g * 3 + k, pairs - 1) * 2;
                s[k * 4] = ten(1, x, y);
                s[k * 4 + 1] = ten(0, x, y);
                s[k * 4 + 2] = ten(2, x, y);
                s[k * 4 + 3] = ten(0, x + 1, y);
            }
            for (int wd = 0; wd < 4; ++wd)
                words[g * 4 + wd] = s[wd * 3] | s[wd * 3 + 1] << 10 | s[wd * 3 + 2] << 20;
        }
    }
}

template <int Rot>
void PlanesToBgra(const Planes16& p, int depth, bool palette, const AVFrame* f, Image* out) {
    const int last = (Rot == 90 || Rot == 270 ? p.h : p.w) - 1;
    const auto* colours = reinterpret_cast<const std::uint32_t*>(f->data[1]);
    for (int y = 0; y < out->height; ++y) {
        std::uint8_t* o = out->bytes.data() + static_cast<std::size_t>(y) * out->row_bytes;
        for (int x = 0; x < out->width; ++x) {
            int sx, sy;
            SourceOf<Rot>(std::min(x, last), y, p.w, p.h, &sx, &sy);
            if (palette) {
                std::uint32_t argb = colours[p.At(0, sx, sy) & 0xFF];
                std::memcpy(o + x * 4, &argb, 4);  // B, G, R, A in memory
                continue;
            }
            auto eight = [&](int c) {
                return static_cast<std::uint8_t>(p.At(c, sx, sy) >> std::max(0, depth - 8));
            };
            o[x * 4] = eight(2);
            o[x * 4 + 1] = eight(1);
            o[x * 4 + 2] = eight(0);
            o[x * 4 + 3] = p.components > 3 ? eight(3) : 255;
        }
    }
}

template <template <int> class Op, class... Args>
void Turned(int rotation, Args&&... args) {
    switch (rotation) {
        case 90:
            Op<90>::Run(args...);
            break;
        case 180:
            Op<180>::Run(args...);
            break;
        case 270:
            Op<270>::Run(args...);
            break;
        default:
            Op<0>::Run(args...);
    }
}

template <int Rot>
struct YuvOp {
    static void Run(const AVFrame* f, const AVPixFmtDescriptor* d, bool full, Image* out) {
        YuvToUyvy<Rot>(f, d, full, out);
    }
};
template <int Rot>
struct RgbOp {
    static void Run(const AVFrame* f, const AVPixFmtDescriptor* d, Image* out) {
        RgbToBgra<Rot>(f, d, out);
    }
};
template <int Rot>
struct V210Op {
    static void Run(const Planes16& p, int depth, bool full, Image* out) {
        PlanesToV210<Rot>(p, depth, full, out);
    }
};
template <int Rot>
struct BgraOp {
    static void Run(const Planes16& p, int depth, bool palette, const AVFrame* f, Image* out) {
        PlanesToBgra<Rot>(p, depth, palette, f, out);
    }
};

bool AllEightBit(const AVPixFmtDescriptor* d) {
    for (int c = 0; c < d->nb_components; ++c)
        if (d->comp[c].depth != 8 || d->comp[c].shift != 0) return false;
    return true;
}

}  // namespace

int RotationOf(const std::int32_t* matrix) {
    if (!matrix) return 0;
    const double angle = av_display_rotation_get(matrix);
    if (!std::isfinite(angle)) return 0;
    // The matrix turns counterclockwise; a quarter turn either way is what phones write.
    const int clockwise = ((-static_cast<int>(std::lround(angle / 90.0)) * 90) % 360 + 360) % 360;
    return clockwise;
}

bool PictureFromFrame(const AVFrame* f, int rotation, Image* out, std::string* error) {
    const auto format = static_cast<AVPixelFormat>(f->format);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!d || (d->flags & (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM)) ||
        d->nb_components < 1) {
        *error = std::string("pictures decode to ") + (d ? d->name : "an unknown layout") +
                 ", which holds no picture oxplay can read";
        return false;
    }
    if (f->width <= 0 || f->height <= 0 || f->width > kMaxSide || f->height > kMaxSide) {
        *error = "a picture of " + std::to_string(f->width) + "x" + std::to_string(f->height) +
                 " is beyond what oxplay plays";
        return false;
    }
    const bool turned = rotation == 90 || rotation == 270;
    const int w = turned ? f->height : f->width;
    out->height = turned ? f->width : f->height;
    out->width = (w + 1) & ~1;  // 4:2:2 pairs: an odd last column is doubled
    out->interlace = !f->interlaced_frame ? eMI_Progressive
                     : f->top_field_first ? eMI_Field1First
                                          : eMI_Field2First;
    if (turned) out->interlace = eMI_Progressive;  // a turned picture has no fields
    out->aspect_num = f->sample_aspect_ratio.num > 0 ? f->sample_aspect_ratio.num : 1;
    out->aspect_den = f->sample_aspect_ratio.den > 0 ? f->sample_aspect_ratio.den : 1;
    if (turned) std::swap(out->aspect_num, out->aspect_den);

    const bool rgb = d->flags & AV_PIX_FMT_FLAG_RGB;
    const bool palette = d->flags & AV_PIX_FMT_FLAG_PAL;
    const bool full =
        !rgb && (f->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
                 format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
                 format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P);
    const int depth = d->comp[0].depth;
    const bool hd = f->colorspace == AVCOL_SPC_BT709 ||
                    (f->colorspace == AVCOL_SPC_UNSPECIFIED && f->height >= 720);
    if (rgb || palette) {
        out->fcc = eMFCC_RGB32;
        out->row_bytes = out->width * 4;
    } else if (depth > 8) {
        out->fcc = eMFCC_v210;
        out->row_bytes = RowBytesOf(eMFCC_v210, out->width);
    } else {
        out->fcc = hd ? eMFCC_HDYC : eMFCC_UYVY;
        out->row_bytes = out->width * 2;
    }
    out->bytes.assign(static_cast<std::size_t>(out->row_bytes) * out->height, 0);

    const bool direct = !palette && AllEightBit(d) && !(d->flags & AV_PIX_FMT_FLAG_BE);
    if (direct && !rgb) {
        Turned<YuvOp>(rotation, f, d, full, out);
    } else if (direct && rgb && d->nb_components >= 3) {
        Turned<RgbOp>(rotation, f, d, out);
    } else {
        Planes16 planes;
        ReadPlanes(f, d, &planes);
        if (out->fcc == eMFCC_RGB32)
            Turned<BgraOp>(rotation, planes, depth, palette, f, out);
        else if (out->fcc == eMFCC_v210)
            Turned<V210Op>(rotation, planes, depth, full, out);
        else {
            // 8-bit layouts read component by component (big-endian words, odd packings)
            // become 10-bit first: v210 holds them without loss.
            out->fcc = eMFCC_v210;
            out->row_bytes = RowBytesOf(eMFCC_v210, out->width);
            out->bytes.assign(static_cast<std::size_t>(out->row_bytes) * out->height, 0);
            Turned<V210Op>(rotation, planes, depth, full, out);
        }
    }
    return true;
}

}  // namespace oxplay
