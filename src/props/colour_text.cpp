#include <cmath>
#include <cstdio>

#include "props/text_scan.h"
#include "props/value_text.h"

namespace orvex::props {
namespace {

struct NamedColour {
    std::uint32_t bgr;  // red in the low byte
    std::u16string_view name;
};

// Printing takes the first name of a value; the later rows are only read.
constexpr NamedColour kColours[] = {
    {0x000000, u"Black"},
    {0x000080, u"Maroon"},
    {0x0000FF, u"Red"},
    {0x0045FF, u"OrangeRed"},
    {0x008000, u"Green"},
    {0x008080, u"Olive"},
    {0x00A5FF, u"Orange"},
    {0x00FF00, u"Lime"},
    {0x00FFFF, u"Yellow"},
    {0x13458B, u"Brown"},
    {0x800000, u"Navy"},
    {0x800080, u"Purple"},
    {0x808000, u"Teal"},
    {0x808080, u"Grey"},
    {0x8080FF, u"Pink"},
    {0xC0C0C0, u"Silver"},
    {0xFF0000, u"Blue"},
    {0xFF00FF, u"Magenta"},
    {0xFFFF00, u"Aqua"},
    {0xFFFFFF, u"White"},
    // The house colours.
    {0x8A5406, u"DeepSea"},
    {0xB29000, u"Lagoon"},
    {0xFFFF00, u"Cyan"},
};

constexpr std::u16string_view kCutCharacters = u"~!@#$%^&*-+=|\\/.,;`";
constexpr std::size_t kMaxColourText = 63;

std::uint32_t SwapRedBlue(std::uint32_t rgb) {
    return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

std::uint32_t AlphaFromText(std::u16string_view text) {
    const detail::DoubleScan scan = detail::ScanDouble(text);
    const double v = scan.read ? scan.value : 0.0;
    const bool fraction = v <= 1 || text.find(u'.') != std::u16string_view::npos;
    const double alpha = fraction ? v * 255 : v;
    if (std::isnan(alpha) || alpha <= 0) return 0;
    if (alpha >= 255) return 255;
    return static_cast<std::uint32_t>(std::lround(alpha));
}

std::u16string_view Trim(std::u16string_view text) {
    while (!text.empty() && detail::IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && detail::IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

bool IsUpperHexDigit(char16_t c) {
    return detail::IsDigit(c) || (c >= u'A' && c <= u'F');
}

}  // namespace

std::u16string PrintColour(std::uint32_t colour) {
    const std::uint32_t bgr = colour & 0xFFFFFF;
    const unsigned alpha = colour >> 24;
    std::u16string text;
    for (const auto& entry : kColours)
        if (entry.bgr == bgr) {
            text = entry.name;
            break;
        }
    char buffer[32];
    if (text.empty()) {
        std::snprintf(buffer, sizeof buffer, "#%06X", static_cast<unsigned>(SwapRedBlue(bgr)));
        text = detail::Widen(buffer);
    }
    if (alpha == 255) return text;
    // "(1)" reads back as fully opaque, so the faintest alpha prints as a fraction.
    if (alpha == 1)
        std::snprintf(buffer, sizeof buffer, "(0.004)");
    else
        std::snprintf(buffer, sizeof buffer, "(%u)", alpha);
    return text + detail::Widen(buffer);
}

std::uint32_t ParseColour(std::u16string_view text, std::uint32_t default_colour) {
    text = text.substr(0, kMaxColourText);

    std::u16string_view colour = text;
    bool has_alpha = false;
    std::uint32_t alpha = 255;
    if (const std::size_t open = text.find(u'('); open != std::u16string_view::npos) {
        has_alpha = true;
        alpha = AlphaFromText(text.substr(open + 1));
        colour = text.substr(0, open);
    }
    colour = Trim(colour);
    const std::size_t cut = colour.find_first_of(kCutCharacters, colour.starts_with(u'#') ? 1 : 0);
    colour = Trim(colour.substr(0, cut));

    if ((has_alpha && colour.empty()) || detail::EqualsNoCase(colour, u"Default")) {
        if (!has_alpha) return default_colour;
        return (default_colour & 0xFFFFFF) | alpha << 24;
    }
    if (detail::EqualsNoCase(colour, u"Transparent")) return 0;
    for (const auto& entry : kColours)
        if (detail::EqualsNoCase(colour, entry.name)) return entry.bgr | alpha << 24;

    detail::IntegerScan scan;
    std::size_t length = 0;
    if (colour.starts_with(u'#') ||
        (colour.size() >= 2 && IsUpperHexDigit(colour[0]) && IsUpperHexDigit(colour[1]))) {
        const std::u16string_view digits = colour.starts_with(u'#') ? colour.substr(1) : colour;
        scan = detail::ScanInteger(digits, 16);
        length = scan.end + 2;  // as if written with "0x"
    } else {
        scan = detail::ScanInteger(colour, 0);
        length = scan.end;
    }
    if (!scan.read) return default_colour;

    std::uint32_t number = detail::ToUInt32(scan);
    if (length < 6) {
        // Short forms: #F00 means #FF0000.
        const std::uint32_t r = (number >> 8) & 0xF, g = (number >> 4) & 0xF, b = number & 0xF;
        number = (r * 0x11) << 16 | (g * 0x11) << 8 | (b * 0x11);
    }
    const std::uint32_t own_alpha = length < 9 ? alpha : number >> 24;
    return SwapRedBlue(number & 0xFFFFFF) | own_alpha << 24;
}

}  // namespace orvex::props
