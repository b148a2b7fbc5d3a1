#include "sim/decklink/modes.h"

#include <charconv>

namespace orvex::sim::decklink {
namespace {

constexpr BMDFieldDominance kProg = bmdProgressiveFrame;
constexpr BMDFieldDominance kUpper = bmdUpperFieldFirst;
constexpr BMDFieldDominance kLower = bmdLowerFieldFirst;

// Rates are exact: 1000/1001 rates use a duration of 1001.
constexpr ModeInfo kModes[] = {
    {bmdModeNTSC, "NTSC", 720, 486, 1001, 30000, kLower, 10, 11},
    {bmdModeNTSC2398, "NTSC 23.98", 720, 486, 1001, 24000, kLower, 10, 11},
    {bmdModePAL, "PAL", 720, 576, 1000, 25000, kUpper, 12, 11},
    {bmdModeNTSCp, "NTSC Progressive", 720, 486, 1001, 60000, kProg, 10, 11},
    {bmdModePALp, "PAL Progressive", 720, 576, 1000, 50000, kProg, 12, 11},
    {bmdModeHD720p50, "720p50", 1280, 720, 1000, 50000, kProg, 1, 1},
    {bmdModeHD720p5994, "720p59.94", 1280, 720, 1001, 60000, kProg, 1, 1},
    {bmdModeHD720p60, "720p60", 1280, 720, 1000, 60000, kProg, 1, 1},
    {bmdModeHD1080p2398, "1080p23.98", 1920, 1080, 1001, 24000, kProg, 1, 1},
    {bmdModeHD1080p24, "1080p24", 1920, 1080, 1000, 24000, kProg, 1, 1},
    {bmdModeHD1080p25, "1080p25", 1920, 1080, 1000, 25000, kProg, 1, 1},
    {bmdModeHD1080p2997, "1080p29.97", 1920, 1080, 1001, 30000, kProg, 1, 1},
    {bmdModeHD1080p30, "1080p30", 1920, 1080, 1000, 30000, kProg, 1, 1},
    {bmdModeHD1080i50, "1080i50", 1920, 1080, 1000, 25000, kUpper, 1, 1},
    {bmdModeHD1080i5994, "1080i59.94", 1920, 1080, 1001, 30000, kUpper, 1, 1},
    {bmdModeHD1080i6000, "1080i60", 1920, 1080, 1000, 30000, kUpper, 1, 1},
    {bmdModeHD1080p50, "1080p50", 1920, 1080, 1000, 50000, kProg, 1, 1},
    {bmdModeHD1080p5994, "1080p59.94", 1920, 1080, 1001, 60000, kProg, 1, 1},
    {bmdModeHD1080p6000, "1080p60", 1920, 1080, 1000, 60000, kProg, 1, 1},
    {bmdMode2k2398, "2K 23.98", 2048, 1556, 1001, 24000, kProg, 1, 1},
    {bmdMode2k24, "2K 24", 2048, 1556, 1000, 24000, kProg, 1, 1},
    {bmdMode2k25, "2K 25", 2048, 1556, 1000, 25000, kProg, 1, 1},
    {bmdMode2kDCI2398, "2K DCI 23.98", 2048, 1080, 1001, 24000, kProg, 1, 1},
    {bmdMode2kDCI24, "2K DCI 24", 2048, 1080, 1000, 24000, kProg, 1, 1},
    {bmdMode2kDCI25, "2K DCI 25", 2048, 1080, 1000, 25000, kProg, 1, 1},
    {bmdMode4K2160p2398, "2160p23.98", 3840, 2160, 1001, 24000, kProg, 1, 1},
    {bmdMode4K2160p24, "2160p24", 3840, 2160, 1000, 24000, kProg, 1, 1},
    {bmdMode4K2160p25, "2160p25", 3840, 2160, 1000, 25000, kProg, 1, 1},
    {bmdMode4K2160p2997, "2160p29.97", 3840, 2160, 1001, 30000, kProg, 1, 1},
    {bmdMode4K2160p30, "2160p30", 3840, 2160, 1000, 30000, kProg, 1, 1},
    {bmdMode4K2160p50, "2160p50", 3840, 2160, 1000, 50000, kProg, 1, 1},
    {bmdMode4K2160p5994, "2160p59.94", 3840, 2160, 1001, 60000, kProg, 1, 1},
    {bmdMode4K2160p60, "2160p60", 3840, 2160, 1000, 60000, kProg, 1, 1},
    {bmdMode4kDCI2398, "4K DCI 23.98", 4096, 2160, 1001, 24000, kProg, 1, 1},
    {bmdMode4kDCI24, "4K DCI 24", 4096, 2160, 1000, 24000, kProg, 1, 1},
    {bmdMode4kDCI25, "4K DCI 25", 4096, 2160, 1000, 25000, kProg, 1, 1},
    {0, nullptr, 0, 0, 0, 0, 0, 0, 0},
};

}  // namespace

const ModeInfo* AllModes() {
    return kModes;
}

const ModeInfo* FindMode(BMDDisplayMode mode) {
    for (const ModeInfo* m = kModes; m->mode; ++m)
        if (m->mode == mode) return m;
    return nullptr;
}

std::int64_t MinRowBytes(BMDPixelFormat format, std::int64_t width) {
    if (width <= 0) return 0;
    switch (format) {
        case bmdFormat8BitYUV:
            return width * 2;
        case bmdFormat10BitYUV:
            return (width + 47) / 48 * 128;
        case bmdFormat8BitARGB:
        case bmdFormat8BitBGRA:
            return width * 4;
        // 10-bit RGB layouts: 4 bytes a pixel, lines padded to 256 bytes (the vendor's rule
        // for 'r210' is not confirmed; this is the conservative reading).
        case bmdFormat10BitRGB:
        case bmdFormat10BitRGBX:
        case bmdFormat10BitRGBXLE:
            return (width + 63) / 64 * 256;
        case bmdFormat12BitRGB:
        case bmdFormat12BitRGBLE:
            return (width * 36 + 7) / 8;
        default:
            return 0;
    }
}

std::string FourCCText(std::uint32_t code) {
    if (code == bmdFormat8BitARGB) return "32";
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
        if (c < 0x20 || c > 0x7E) return "0x" + std::to_string(code);
        s[static_cast<std::size_t>(i)] = c;
    }
    return s;
}

std::optional<std::uint32_t> ParseCode(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        std::uint32_t v = 0;
        auto r = std::from_chars(text.data() + 2, text.data() + text.size(), v, 16);
        if (r.ec == std::errc() && r.ptr == text.data() + text.size()) return v;
        return std::nullopt;
    }
    if (!text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == text.npos) {
        std::uint32_t v = 0;
        std::from_chars(text.data(), text.data() + text.size(), v);
        return v;
    }
    // Four characters; a shorter code is padded with spaces ("pal" is 'pal ').
    if (text.empty() || text.size() > 4) return std::nullopt;
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : ' ';
        v = (v << 8) | c;
    }
    return v;
}

}  // namespace orvex::sim::decklink
