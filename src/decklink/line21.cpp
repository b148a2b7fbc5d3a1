#include "decklink/line21.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "convert/convert.h"

namespace orvex::decklink {
namespace {

constexpr std::uint8_t kLow = 0x10;
constexpr std::uint8_t kHigh = 0x7E;
constexpr int kLeadIn = 7;
constexpr std::uint8_t kRunIn[27] = {0x10, 0x11, 0x16, 0x1D, 0x26, 0x31, 0x3D, 0x4A, 0x56,
                                     0x62, 0x6C, 0x74, 0x7A, 0x7D, 0x7D, 0x7A, 0x74, 0x6C,
                                     0x62, 0x56, 0x4A, 0x3D, 0x31, 0x26, 0x1D, 0x16, 0x11};
constexpr std::uint8_t kRise[3] = {0x24, 0x47, 0x6A};
constexpr std::uint8_t kFall[3] = {0x6A, 0x47, 0x24};
constexpr int kBitSamples = 24;

// Three samples joining a level `from` to a level `to`.
const std::uint8_t* Edge(bool from, bool to) {
    static constexpr std::uint8_t kStayLow[3] = {kLow, kLow, kLow};
    static constexpr std::uint8_t kStayHigh[3] = {kHigh, kHigh, kHigh};
    if (from == to) return from ? kStayHigh : kStayLow;
    return to ? kRise : kFall;
}

}  // namespace

Line21Generator::Line21Generator() {
    template_.fill(kLow);
    int at = kLeadIn + 7;  // 14 samples at low level
    for (int cycle = 0; cycle < 7; ++cycle)
        for (std::uint8_t level : kRunIn) template_[at++] = level;
    at += 45;
    for (std::uint8_t level : kRise) template_[at++] = level;
    for (int i = 0; i < 26; ++i) template_[at++] = kHigh;
}

void Line21Generator::Draw(std::uint8_t* line, std::uint8_t first, std::uint8_t second) const {
    std::array<std::uint8_t, kSamples> luma = template_;
    int at = kDataStart - 1;
    auto put = [&](const std::uint8_t* levels, int n) {
        std::copy(levels, levels + n, luma.begin() + at);
        at += n;
    };
    bool level = true;  // the start bit
    for (std::uint8_t byte : {first, second})
        for (int bit = 0; bit < 8; ++bit) {
            const bool next = (byte >> bit) & 1;
            put(Edge(level, next), 3);
            std::fill_n(luma.begin() + at, kBitSamples, next ? kHigh : kLow);
            at += kBitSamples;
            level = next;
        }
    put(Edge(level, false), 3);
    for (int i = 0; i < kSamples; ++i) {
        line[2 * i] = 0x80;
        line[2 * i + 1] = luma[static_cast<std::size_t>(i)];
    }
}

namespace {

// The frame's first two picture lines as a conversion target; nothing for layouts the
// converter cannot write.
bool TargetProps(IDeckLinkVideoFrame* frame, M_VID_PROPS* props, std::uint8_t** first_row) {
    const std::int32_t width = frame->GetWidth(), height = frame->GetHeight();
    const std::int32_t row_bytes = frame->GetRowBytes();
    void* bytes = nullptr;
    if (width < 2 || height < 2 || row_bytes < 1 || FAILED(frame->GetBytes(&bytes)) || !bytes)
        return false;
    const bool flipped = (frame->GetFlags() & bmdFrameFlagFlipVertical) != 0;
    eMFCC fcc;
    switch (frame->GetPixelFormat()) {
        case bmdFormat8BitYUV:
            fcc = eMFCC_UYVY;
            break;
        case bmdFormat10BitYUV:
            fcc = eMFCC_v210;
            break;
        case bmdFormat8BitBGRA:
            fcc = eMFCC_RGB32;
            break;
        default:
            return false;
    }
    // Bottom-up storage keeps the first picture line in the last row; only the RGB layouts
    // can be described that way to the converter.
    const bool rgb = fcc == eMFCC_RGB32;
    if (flipped && !rgb) return false;
    *props = M_VID_PROPS{};
    props->fccType = fcc;
    props->nWidth = std::min(width, static_cast<std::int32_t>(Line21Generator::kSamples));
    props->nHeight = rgb && !flipped ? -2 : 2;
    props->nRowBytes = row_bytes;
    props->eInterlace = eMI_Progressive;
    auto* base = static_cast<std::uint8_t*>(bytes);
    *first_row = flipped ? base + static_cast<std::size_t>(height - 2) * row_bytes : base;
    return true;
}

}  // namespace

bool PutLine21(const Line21Generator& generator, IDeckLinkVideoFrame* frame,
               const std::uint8_t* pairs, std::size_t size) {
    if (!frame || !pairs || size < 2) return false;
    M_VID_PROPS target;
    std::uint8_t* rows = nullptr;
    if (!TargetProps(frame, &target, &rows)) return false;

    std::vector<std::uint8_t> scratch(2 * Line21Generator::kLineBytes);
    std::uint8_t* field2 = scratch.data();
    std::uint8_t* field1 = scratch.data() + Line21Generator::kLineBytes;
    const bool has_field2 = size >= 4;
    generator.Draw(field1, pairs[0], pairs[1]);
    if (has_field2) generator.Draw(field2, pairs[2], pairs[3]);

    if (target.fccType == eMFCC_UYVY) {
        const std::size_t bytes = static_cast<std::size_t>(target.nWidth) * 2;
        if (static_cast<std::size_t>(target.nRowBytes) < bytes) return false;
        if (has_field2) std::memcpy(rows, field2, bytes);
        std::memcpy(rows + target.nRowBytes, field1, bytes);
        return true;
    }
    if (!has_field2) {
        // Only the field-1 pair: convert the second line alone, the first stays as it is.
        M_VID_PROPS one = target;
        one.nHeight = target.nHeight < 0 ? -1 : 1;  // same storage order, one row
        M_VID_PROPS src{};
        src.fccType = eMFCC_UYVY;
        src.nWidth = Line21Generator::kSamples;
        src.nHeight = 1;
        src.nRowBytes = static_cast<int>(Line21Generator::kLineBytes);
        src.eInterlace = eMI_Progressive;
        std::uint8_t* second = convert::IsBottomUp(target) ? rows : rows + target.nRowBytes;
        return convert::ConvertStripes(field1, second, src, one, 1) ==
               convert::ConvertStatus::kDone;
    }
    M_VID_PROPS src{};
    src.fccType = eMFCC_UYVY;
    src.nWidth = Line21Generator::kSamples;
    src.nHeight = 2;
    src.nRowBytes = static_cast<int>(Line21Generator::kLineBytes);
    src.eInterlace = eMI_Progressive;
    return convert::ConvertStripes(scratch.data(), rows, src, target, 1) ==
           convert::ConvertStatus::kDone;
}

}  // namespace orvex::decklink
