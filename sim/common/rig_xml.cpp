#include "sim/common/rig_xml.h"

#include <cstdint>
#include <cstdio>
#include <utility>

namespace orvex::sim {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}

bool IsNameChar(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// The characters XML allows in a document.
bool IsXmlChar(std::uint32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

void AppendUtf8(std::uint32_t cp, std::string* out) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

class Reader {
public:
    explicit Reader(std::string_view text) : t_(text) {}

    bool Parse(RigXmlElement* root) {
        if (!CheckText()) return false;
        if (t_.starts_with("\xEF\xBB\xBF")) Advance(3);
        if (!SkipMisc()) return false;
        if (AtEnd() || Peek() != '<') return Fail("expected the rig's root element");
        bool empty = false;
        if (!StartTag(root, &empty)) return false;
        if (!empty && !Content(root)) return false;
        if (!SkipMisc()) return false;
        if (!AtEnd()) return Fail("text after the end of <" + root->name + ">");
        return true;
    }

    const std::string& error() const { return error_; }

private:
    bool Fail(const std::string& what) {
        error_ =
            "line " + std::to_string(line_) + ", column " + std::to_string(column_) + ": " + what;
        return false;
    }
    bool AtEnd() const { return i_ >= t_.size(); }
    char Peek(std::size_t k = 0) const { return i_ + k < t_.size() ? t_[i_ + k] : '\0'; }
    bool At(std::string_view s) const { return t_.substr(i_).starts_with(s); }
    void Advance(std::size_t n = 1) {
        for (; n > 0 && i_ < t_.size(); --n, ++i_) {
            const char c = t_[i_];
            if (c == '\n') {
                ++line_;
                column_ = 1;
            } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
                ++column_;  // a character starts here
            }
        }
    }
    bool SkipSpace() {
        const std::size_t start = i_;
        while (!AtEnd() && IsSpace(Peek())) Advance();
        return i_ != start;
    }

    // UTF-8 without control characters: what a person writes. Binary files stop here with
    // the place of their first byte that is not text.
    bool CheckText() {
        for (std::size_t k = 0; k < t_.size();) {
            const auto c = static_cast<unsigned char>(t_[k]);
            int extra = 0;
            std::uint32_t cp = c;
            if (c >= 0xC2 && c <= 0xDF) {
                extra = 1, cp = c & 0x1F;
            } else if (c >= 0xE0 && c <= 0xEF) {
                extra = 2, cp = c & 0x0F;
            } else if (c >= 0xF0 && c <= 0xF4) {
                extra = 3, cp = c & 0x07;
            } else if (c >= 0x80) {
                Advance(k - i_);
                return Fail("not UTF-8 text (a byte 0x" + Hex(c) + ")");
            }
            for (int e = 1; e <= extra; ++e) {
                const auto n = k + e < t_.size() ? static_cast<unsigned char>(t_[k + e]) : 0;
                if ((n & 0xC0) != 0x80) {
                    Advance(k - i_);
                    return Fail("not UTF-8 text (a byte 0x" + Hex(c) + ")");
                }
                cp = (cp << 6) | (n & 0x3F);
            }
            const bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
            if (overlong || !IsXmlChar(cp)) {
                Advance(k - i_);
                return Fail(cp == 0 ? "not text (a zero byte)"
                                    : "not text (the character 0x" + Hex(cp) + ")");
            }
            k += 1 + static_cast<std::size_t>(extra);
        }
        // Back to the start for the parse proper.
        i_ = 0;
        line_ = column_ = 1;
        return true;
    }
    static std::string Hex(std::uint32_t v) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%02X", v);
        return buf;
    }

    // White space, comments and processing instructions (the XML declaration among them).
    bool SkipMisc() {
        for (;;) {
            SkipSpace();
            if (At("<!--")) {
                if (!Skip("<!--", "-->", "a comment")) return false;
            } else if (At("<?")) {
                if (!Skip("<?", "?>", "a processing instruction")) return false;
            } else if (At("<!")) {
                return Fail("a rig has no document type declaration or character data");
            } else {
                return true;
            }
        }
    }
    bool Skip(std::string_view open, std::string_view close, const char* what) {
        const std::size_t end = t_.find(close, i_ + open.size());
        if (end == std::string_view::npos) return Fail(std::string(what) + " is not closed");
        Advance(end + close.size() - i_);
        return true;
    }

    std::string Name() {
        std::string name;
        if (AtEnd() || !IsNameStart(Peek())) return name;
        while (!AtEnd() && IsNameChar(Peek())) {
            name.push_back(Peek());
            Advance();
        }
        return name;
    }

    // At '<': the tag's name and attributes; `empty` for "<name ... />".
    bool StartTag(RigXmlElement* e, bool* empty) {
        e->line = line_;
        Advance();
        e->name = Name();
        if (e->name.empty()) return Fail("expected an element's name after '<'");
        for (;;) {
            const bool spaced = SkipSpace();
            if (At("/>")) {
                Advance(2);
                *empty = true;
                return true;
            }
            if (Peek() == '>') {
                Advance();
                *empty = false;
                return true;
            }
            if (AtEnd()) return Fail("<" + e->name + "> is not closed with '>'");
            if (!spaced) return Fail("expected white space, '>' or '/>' in <" + e->name + ">");
            RigXmlAttribute a;
            a.line = line_;
            a.name = Name();
            if (a.name.empty()) return Fail("expected an attribute's name in <" + e->name + ">");
            SkipSpace();
            if (Peek() != '=') return Fail("expected '=' after the attribute " + a.name);
            Advance();
            SkipSpace();
            if (!Value(a.name, &a.value)) return false;
            e->attributes.push_back(std::move(a));
        }
    }

    bool Value(const std::string& name, std::string* out) {
        const char quote = Peek();
        if (quote != '"' && quote != '\'')
            return Fail("expected the value of the attribute " + name + " in quotes");
        Advance();
        for (;;) {
            if (AtEnd()) return Fail("the value of the attribute " + name + " is not closed");
            const char c = Peek();
            if (c == quote) {
                Advance();
                return true;
            }
            if (c == '<') return Fail("'<' in the value of the attribute " + name);
            if (c == '&') {
                if (!Reference(out)) return false;
                continue;
            }
            out->push_back(c);
            Advance();
        }
    }

    // At '&': one of the five predefined entities or a character reference.
    bool Reference(std::string* out) {
        const std::size_t semi = t_.find(';', i_);
        if (semi == std::string_view::npos || semi - i_ > 12)
            return Fail("'&' that starts no reference (write &amp; for '&')");
        const std::string_view body = t_.substr(i_ + 1, semi - i_ - 1);
        static constexpr std::pair<std::string_view, char> kEntities[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        for (const auto& [entity, c] : kEntities) {
            if (body == entity) {
                out->push_back(c);
                Advance(semi + 1 - i_);
                return true;
            }
        }
        // Appended piece by piece: GCC 12 warns of an overlap in "&" + std::string(...).
        std::string reference = "&";
        reference.append(body).append(";");
        if (!body.starts_with('#')) return Fail("unknown reference " + reference);
        const bool hex = body.size() > 1 && body[1] == 'x';
        const std::string_view digits = body.substr(hex ? 2 : 1);
        std::uint32_t cp = 0;
        for (char d : digits) {
            const int v = d >= '0' && d <= '9'          ? d - '0'
                          : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                          : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                                        : -1;
            if (v < 0 || cp > 0x10FFFF) {
                cp = 0xFFFFFFFF;
                break;
            }
            cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
        }
        if (digits.empty() || !IsXmlChar(cp))
            return Fail(reference + " is no character a rig can hold");
        AppendUtf8(cp, out);
        Advance(semi + 1 - i_);
        return true;
    }

    // The inside of `root` up to its end tag, elements nested without recursion.
    bool Content(RigXmlElement* root) {
        std::vector<RigXmlElement*> open{root};
        std::size_t elements = 1;
        while (!open.empty()) {
            RigXmlElement* e = open.back();
            SkipSpace();
            if (AtEnd())
                return Fail("<" + e->name + "> of line " + std::to_string(e->line) +
                            " is not closed");
            if (At("<!--")) {
                if (!Skip("<!--", "-->", "a comment")) return false;
            } else if (At("<?")) {
                if (!Skip("<?", "?>", "a processing instruction")) return false;
            } else if (At("<!")) {
                return Fail("character data or a declaration in <" + e->name + ">");
            } else if (At("</")) {
                Advance(2);
                const std::string name = Name();
                if (name != e->name)
                    return Fail("</" + name + "> does not close <" + e->name + "> of line " +
                                std::to_string(e->line));
                SkipSpace();
                if (Peek() != '>') return Fail("expected '>' after </" + name);
                Advance();
                open.pop_back();
            } else if (Peek() == '<') {
                if (static_cast<int>(open.size()) >= kMaxRigDepth)
                    return Fail("elements nested deeper than " + std::to_string(kMaxRigDepth) +
                                " levels");
                if (++elements > kMaxRigElements)
                    return Fail("more than " + std::to_string(kMaxRigElements) + " elements");
                RigXmlElement& child = e->children.emplace_back();
                bool empty = false;
                if (!StartTag(&child, &empty)) return false;
                if (!empty) open.push_back(&child);
            } else {
                return Fail("text in <" + e->name + ">, which holds only attributes and elements");
            }
        }
        return true;
    }

    std::string_view t_;
    std::size_t i_ = 0;
    int line_ = 1;
    int column_ = 1;
    std::string error_;
};

}  // namespace

const RigXmlAttribute* RigXmlElement::Find(std::string_view attribute) const {
    for (auto a = attributes.rbegin(); a != attributes.rend(); ++a)
        if (a->name == attribute) return &*a;
    return nullptr;
}

bool ParseRigXml(std::string_view text, RigXmlElement* root, std::string* error) {
    *root = RigXmlElement{};
    Reader reader(text);
    if (reader.Parse(root)) return true;
    *error = reader.error();
    *root = RigXmlElement{};
    return false;
}

}  // namespace orvex::sim
