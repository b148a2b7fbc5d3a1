#include "tools/oxplay/compose.h"

#include <algorithm>
#include <cstring>

namespace oxplay {
namespace {

bool HasFields(eMInterlace order) {
    return order == eMI_Field1First || order == eMI_Field2First;
}

// Byte offset of pixel `x` in a row of `fcc` (x a multiple of the layout's step).
std::size_t ByteOf(eMFCC fcc, int x) {
    switch (fcc) {
        case eMFCC_RGB32:
        case eMFCC_ARGB32:
            return static_cast<std::size_t>(x) * 4;
        case eMFCC_v210:
            return static_cast<std::size_t>(x / 6) * 16;
        default:
            return static_cast<std::size_t>(x) * 2;
    }
}

// Bytes that hold `w` pixels from a group boundary (v210 groups of six are copied whole).
std::size_t SpanBytes(eMFCC fcc, int w) {
    return fcc == eMFCC_v210 ? static_cast<std::size_t>((w + 5) / 6) * 16 : ByteOf(fcc, w);
}

}  // namespace

bool ShapeFor(const PeriodPlan& plan, Scan scan, const FitSettings& fit, FrameShape* out,
              std::string* error) {
    const Image& image = *plan.picture;
    FrameShape s;
    s.fcc = image.fcc;
    PlaceRequest r;
    r.fit = fit.fit;
    r.width = image.width;
    r.height = image.height;
    r.pixel_aspect = static_cast<double>(image.aspect_num) / image.aspect_den;
    r.out_width = fit.out_width;
    r.out_height = fit.out_height;
    r.out_pixel_aspect = fit.out_pixel_aspect;
    r.x_step = image.fcc == eMFCC_v210 ? 6 : 2;
    const bool out_fields = HasFields(fit.out_order);
    switch (scan) {
        case Scan::kWhole:
            s.interlace = image.interlace;
            if (HasFields(image.interlace) && out_fields && image.interlace != fit.out_order) {
                // One line down puts the earlier field on the output's first field's lines.
                s.shift = 1;
                s.interlace = fit.out_order;
            }
            r.keep_parity = HasFields(s.interlace);
            break;
        case Scan::kWeave:
            s.interlace = fit.out_order;
            r.keep_parity = true;
            break;
        case Scan::kBob:
            // One field: half the lines, each twice as tall.
            r.height = image.height / 2;
            r.pixel_aspect /= 2;
            s.interlace = eMI_Progressive;
            break;
    }
    if (!Place(r, &s.placement, error)) return false;
    s.row_bytes = RowBytesOf(s.fcc, s.placement.canvas_w);
    s.copy_as_is = scan == Scan::kWhole && s.shift == 0 && s.placement.Identity() &&
                   image.row_bytes == s.row_bytes;
    *out = s;
    return true;
}

void Compose(const PeriodPlan& plan, Scan scan, const FrameShape& shape, std::uint8_t* dst) {
    const Image& a = *plan.picture;
    const Image& b = plan.second && plan.second->width == a.width &&
                             plan.second->height == a.height && plan.second->fcc == a.fcc
                         ? *plan.second
                         : a;
    const Placement& p = shape.placement;
    const std::size_t src_off = ByteOf(a.fcc, p.src_x);
    const std::size_t dst_off = ByteOf(a.fcc, p.dst_x);
    const std::size_t bytes =
        std::min({SpanBytes(a.fcc, p.src_w), static_cast<std::size_t>(a.row_bytes) - src_off,
                  static_cast<std::size_t>(shape.row_bytes) - dst_off});
    // Weave: the output's first field is on its even lines, or its odd ones (bottom first).
    const int first_parity = shape.interlace == eMI_Field2First ? 1 : 0;
    // Bob: the lines of the wanted field (the earlier field is the top one when top first).
    const int field_parity = a.interlace == eMI_Field2First ? 1 - plan.field : plan.field;
    for (int j = 0; j < p.src_h; ++j) {
        const int y = p.dst_y + shape.shift + j;
        if (y >= p.canvas_h) break;
        const Image* from = &a;
        int row = p.src_y + j;
        if (scan == Scan::kWeave && (y & 1) != first_parity) from = &b;
        if (scan == Scan::kBob) row = 2 * row + field_parity;
        if (row >= from->height) break;
        std::memcpy(dst + static_cast<std::size_t>(y) * shape.row_bytes + dst_off,
                    from->bytes.data() + static_cast<std::size_t>(row) * from->row_bytes + src_off,
                    bytes);
    }
}

}  // namespace oxplay
