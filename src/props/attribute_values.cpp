#include "props/attribute_values.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace XMLParse {
namespace {

// strtol and strtod want narrow text; numbers are ASCII, so anything else ends the copy.
std::string NarrowPrefix(std::u16string_view text, std::size_t limit = 128) {
    std::string out;
    for (char16_t c : text) {
        if (c == 0 || c > 0x7E || out.size() >= limit) break;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

std::u16string Widen(const char* s) {
    std::u16string out;
    for (; *s; ++s) out.push_back(static_cast<unsigned char>(*s));
    return out;
}

bool EqualsAsciiNoCase(std::u16string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
        if (c != static_cast<unsigned char>(word[i])) return false;
    }
    return true;
}

}  // namespace

std::u16string PrintBool(bool value) {
    return value ? u"true" : u"false";
}

std::u16string PrintInt(std::int32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", value);
    return Widen(buf);
}

std::u16string PrintDouble(double value) {
    char buf[400];
    std::snprintf(buf, sizeof buf, "%f", value);
    std::string s = buf;
    // Keep one digit after the point: 1.500000 -> 1.5, 2.000000 -> 2.0.
    if (s.size() >= 4 && s.find('.') != std::string::npos) {
        while (s.size() > 2 && s.back() == '0' && s[s.size() - 2] != '.') s.pop_back();
    }
    return Widen(s.c_str());
}

bool ParseBool(std::u16string_view text) {
    if (text == u"0" || EqualsAsciiNoCase(text, "false")) return false;
    if (text == u"1") return true;
    for (const char* word : {"true", "yes", "only", "on", "y"})
        if (EqualsAsciiNoCase(text, word)) return true;
    return ParseInt64(text) > 0;
}

std::int64_t ParseInt64(std::u16string_view text, std::size_t* used) {
    std::string narrow = NarrowPrefix(text);
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(narrow.c_str(), &end, 0);
    if (used) *used = static_cast<std::size_t>(end - narrow.c_str());
    return v;
}

std::int32_t ParseInt(std::u16string_view text) {
    std::int64_t v = ParseInt64(text);
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

double ParseDouble(std::u16string_view text) {
    std::string narrow = NarrowPrefix(text);
    char* end = nullptr;
    double v = std::strtod(narrow.c_str(), &end);
    if (end && *end == '%') v /= 100.0;
    return v;
}

}  // namespace XMLParse
