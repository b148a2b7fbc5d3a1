#include "platform/registry_format.h"

#include <cstdio>

namespace orvex::platform::regfile {
namespace {

constexpr std::size_t kWrapColumn = 76;  // where the export format wraps long hex lists

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// A quoted text starting at s[0] == '"'. Besides \\ and \" the reader takes \xHH, which the
// writer uses for control characters in names.
bool ParseQuoted(std::string_view s, std::size_t* consumed, std::u16string* out) {
    if (s.empty() || s[0] != '"') return false;
    std::string text;
    std::size_t i = 1;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') break;
        if (c != '\\' || i + 1 >= s.size()) {
            text += c;
            continue;
        }
        const char next = s[i + 1];
        if (next == '\\' || next == '"') {
            text += next;
            ++i;
        } else if (next == 'x' && i + 3 < s.size() && HexDigit(s[i + 2]) >= 0 &&
                   HexDigit(s[i + 3]) >= 0) {
            text += static_cast<char>(HexDigit(s[i + 2]) * 16 + HexDigit(s[i + 3]));
            i += 3;
        } else {
            text += c;  // not an escape we know: keep the backslash
        }
    }
    if (i >= s.size()) return false;  // no closing quote
    *consumed = i + 1;
    *out = FromUtf8(text);
    return true;
}

std::string Quote(std::u16string_view text, bool escape_controls) {
    std::string out = "\"";
    for (char c : ToUtf8(text)) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (escape_controls && (u < 0x20 || u == 0x7f)) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

bool ParseHexList(std::string_view s, std::vector<BYTE>* out) {
    out->clear();
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\\' || c == ',') {
            ++i;
            continue;
        }
        const int hi = HexDigit(c);
        if (hi < 0) return false;
        int value = hi;
        ++i;
        if (i < s.size() && HexDigit(s[i]) >= 0) value = value * 16 + HexDigit(s[i++]);
        if (i < s.size() && HexDigit(s[i]) >= 0) return false;  // three digits
        out->push_back(static_cast<BYTE>(value));
    }
    return true;
}

std::u16string StringFromData(const std::vector<BYTE>& data) {
    std::u16string s;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        s += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    if (!s.empty() && s.back() == 0) s.pop_back();
    return s;
}

// A REG_SZ that the quoted form carries exactly: whole UTF-16 units, one terminating zero,
// no other zero, and no control characters (which Windows' own reader would not take).
bool IsPlainString(const std::vector<BYTE>& data) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    const std::size_t units = data.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t c = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if (i + 1 == units) return c == 0;
        if (c < 0x20 || c == 0x7f) return false;
    }
    return false;
}

std::string FormatHex(std::string prefix, const std::vector<BYTE>& data) {
    std::string out = std::move(prefix);
    std::size_t column = out.size();
    for (std::size_t i = 0; i < data.size(); ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        out += buf;
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            if (column >= kWrapColumn) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

bool IsSectionHeader(std::string_view line) {
    const std::string_view t = Trim(line);
    return t.size() >= 2 && t.front() == '[' && t.back() == ']';
}

}  // namespace

bool ParseValue(std::string_view text, Value* out) {
    std::string_view s = Trim(text);
    Value v;
    if (s.empty()) return false;
    if (s[0] == '@') {
        s.remove_prefix(1);
    } else {
        std::size_t used = 0;
        if (!ParseQuoted(s, &used, &v.name)) return false;
        s.remove_prefix(used);
    }
    s = Trim(s);
    if (s.empty() || s[0] != '=') return false;
    s = Trim(s.substr(1));
    if (!s.empty() && s[0] == '"') {
        std::size_t used = 0;
        std::u16string str;
        if (!ParseQuoted(s, &used, &str) || !Trim(s.substr(used)).empty()) return false;
        v.type = kRegSz;
        for (char16_t c : str) {
            v.data.push_back(static_cast<BYTE>(c & 0xFF));
            v.data.push_back(static_cast<BYTE>(c >> 8));
        }
        v.data.push_back(0);
        v.data.push_back(0);
    } else if (StartsWithNoCase(s, "dword:")) {
        const std::string_view digits = Trim(s.substr(6));
        if (digits.empty() || digits.size() > 8) return false;
        std::uint32_t value = 0;
        for (char c : digits) {
            if (HexDigit(c) < 0) return false;
            value = value * 16 + static_cast<std::uint32_t>(HexDigit(c));
        }
        v.type = kRegDword;
        for (int k = 0; k < 4; ++k) v.data.push_back(static_cast<BYTE>(value >> (8 * k)));
    } else if (StartsWithNoCase(s, "hex")) {
        s.remove_prefix(3);
        v.type = kRegBinary;
        if (!s.empty() && s[0] == '(') {
            // The type has one to eight digits: looking further would only cost time.
            const std::size_t close = s.substr(0, 10).find(')');
            if (close == std::string_view::npos || close < 2 || close > 9) return false;
            std::uint32_t type = 0;
            for (char c : s.substr(1, close - 1)) {
                if (HexDigit(c) < 0) return false;
                type = type * 16 + static_cast<std::uint32_t>(HexDigit(c));
            }
            v.type = type;
            s.remove_prefix(close + 1);
        }
        if (s.empty() || s[0] != ':') return false;
        if (!ParseHexList(s.substr(1), &v.data)) return false;
    } else {
        return false;  // includes "-", which deletes a value on import: kept as text
    }
    *out = std::move(v);
    return true;
}

std::string FormatValue(const Value& value) {
    std::string out = value.name.empty() ? std::string("@") : Quote(value.name, true);
    out += '=';
    switch (value.type) {
        case kRegSz:
            if (IsPlainString(value.data)) return out + Quote(StringFromData(value.data), false);
            return FormatHex(out + "hex(1):", value.data);
        case kRegDword:
            if (value.data.size() == 4) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "dword:%08x",
                              static_cast<unsigned>(value.data[0] | (value.data[1] << 8) |
                                                    (value.data[2] << 16) |
                                                    (static_cast<unsigned>(value.data[3]) << 24)));
                return out + buf;
            }
            return FormatHex(out + "hex(4):", value.data);
        case kRegBinary:
            return FormatHex(out + "hex:", value.data);
        default: {
            char buf[24];
            std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(value.type));
            return FormatHex(out + buf, value.data);
        }
    }
}

Document Parse(std::string_view bytes) {
    std::string utf8;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string wide;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
        utf8 = ToUtf8(wide);
        bytes = utf8;
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }

    // The lines without their ends, joined by '\n' in one buffer: a value that goes on over
    // continued lines is then a view into it, so trying a line as the start of a value costs
    // nothing for the lines it might take in.
    struct Line {
        std::size_t begin = 0;
        std::size_t end = 0;          // before the line end
        std::size_t trimmed_end = 0;  // before trailing blanks as well
        std::size_t run_end = 0;      // the last line of a continuation starting here
        bool continues = false;       // ends in a backslash
        bool header = false;
    };
    std::string text;
    text.reserve(bytes.size() + 1);
    std::vector<Line> lines;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view line = bytes.substr(start, end - start);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        Line l;
        l.begin = text.size();
        l.end = l.begin + line.size();
        std::string_view right = line;
        while (!right.empty() &&
               (right.back() == ' ' || right.back() == '\t' || right.back() == '\r')) {
            right.remove_suffix(1);
        }
        l.trimmed_end = l.begin + right.size();
        l.continues = right.ends_with('\\');
        l.header = IsSectionHeader(line);
        lines.push_back(l);
        text += line;
        text += '\n';
        start = end + 1;
    }
    // Long hex lists go on over lines that end in a backslash, up to a section header. Every
    // line of such a run ends it at the same place, so the ends are found once, from the back.
    for (std::size_t k = lines.size(); k-- > 0;) {
        lines[k].run_end = k;
        if (lines[k].continues && k + 1 < lines.size() && !lines[k + 1].header) {
            lines[k].run_end = lines[k + 1].run_end;
        }
    }

    const std::string_view all = text;
    Document doc;
    bool signature_seen = false;
    Section* section = nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = all.substr(lines[i].begin, lines[i].end - lines[i].begin);
        const std::string_view t = Trim(line);
        if (!signature_seen && section == nullptr && (t == kSignature || t == "REGEDIT4")) {
            signature_seen = true;
            continue;
        }
        // "[-path]" (delete on import) opens a section too; its path matches no key.
        if (lines[i].header) {
            doc.sections.emplace_back();
            section = &doc.sections.back();
            section->header = std::string(line);
            section->path = FromUtf8(t.substr(1, t.size() - 2));
            continue;
        }
        if (section == nullptr) {
            doc.preamble.emplace_back(line);
            continue;
        }
        Entry entry;
        if (t.starts_with('"') || t.starts_with('@')) {
            const std::size_t last = lines[i].continues ? lines[i].run_end : i;
            // Without the last line's trailing blanks, which the value syntax ignores. A
            // failed attempt ends within two quotes of its start (a quote closes a name or a
            // string; neither a quote nor '@' belongs in a hex list), and every line that can
            // start a long attempt holds a quote itself, so the attempts over a run add up to
            // linear time, not to a pass over the rest of the run per line.
            const std::string_view candidate =
                all.substr(lines[i].begin, lines[last].trimmed_end - lines[i].begin);
            if (ParseValue(candidate, &entry.value)) {
                entry.is_value = true;
                entry.raw =
                    std::string(all.substr(lines[i].begin, lines[last].end - lines[i].begin));
                i = last;
            }
        }
        if (!entry.is_value) entry.raw = std::string(line);  // kept as the one line it is
        section->entries.push_back(std::move(entry));
    }
    return doc;
}

std::string Serialize(const Document& doc) {
    std::string out(kSignature);
    out += '\n';
    for (const std::string& line : doc.preamble) {
        out += line;
        out += '\n';
    }
    for (const Section& section : doc.sections) {
        if (section.header.empty()) {
            out += '[';
            out += ToUtf8(section.path);
            out += ']';
        } else {
            out += section.header;
        }
        out += '\n';
        for (const Entry& entry : section.entries) {
            if (entry.raw.empty() && entry.is_value) {
                out += FormatValue(entry.value);
            } else {
                out += entry.raw;
            }
            out += '\n';
        }
    }
    return out;
}

}  // namespace orvex::platform::regfile
