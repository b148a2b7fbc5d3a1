// Character classes shared by the reader and the writer of the tree's text forms.
#pragma once

#include <string_view>

namespace XMLParse::text_detail {

inline bool IsListSpace(char16_t c) {
    if (c > u' ' && c < 0xFFEE) return false;
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0xFFEE || c == 0xFFEF;
}

inline bool IsTextSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

inline bool IsQuote(char16_t c) {
    return c == u'\'' || c == u'"';
}

inline bool EndsTagName(char16_t c) {
    if (c > u'\\' && c < 0xFFEE) return false;  // lower-case letters and most others
    switch (c) {
        case 0:
        case u' ':
        case u'\t':
        case u'\r':
        case u'\n':
        case u';':
        case u',':
        case u'<':
        case u'>':
        case u'/':
        case u'\\':
        case u'=':
        case 0xFFEE:
        case 0xFFEF:
            return true;
        default:
            return false;
    }
}

inline char16_t LowerTagChar(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

// Tag names match when equal after LowerTagName.
inline bool SameTag(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerTagChar(a[i]) != LowerTagChar(b[i])) return false;
    return true;
}

}  // namespace XMLParse::text_detail
