// Reading the tree's text forms: XML and the attribute list.
#include <algorithm>

#include "props/name_fold.h"
#include "props/xml_chars.h"
#include "props/xml_node.h"
#include "props/xml_text.h"

namespace XMLParse {
namespace {

using namespace std::string_view_literals;
using namespace text_detail;

// Reads the quoted runs that start at t[i] (a quote) and follow each other with nothing
// between them, as in 'it'"'s "'"x"' for it's "x": each run ends at its own closing quote (or
// the end of the text). A single run is returned as a view of `t`; several are joined in
// `buffer`.
std::u16string_view ReadQuotedRuns(std::u16string_view t, std::size_t* i, std::u16string* buffer) {
    const std::size_t n = t.size();
    std::u16string_view first;
    int runs = 0;
    while (*i < n && IsQuote(t[*i])) {
        const char16_t q = t[(*i)++];
        const std::size_t start = *i;
        while (*i < n && t[*i] != q) ++*i;
        const std::u16string_view run = t.substr(start, *i - start);
        if (*i < n) ++*i;  // the closing quote
        if (runs == 0) {
            first = run;
        } else {
            if (runs == 1) buffer->assign(first);
            buffer->append(run);
        }
        ++runs;
    }
    return runs > 1 ? std::u16string_view(*buffer) : first;
}

// Writes the character at `w`; returns the position after it.
char16_t* PutCodePoint(unsigned long cp, char16_t* w) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        *w++ = 0xFFFD;  // a NUL or a non-character would cut or corrupt the text
    } else if (cp >= 0x10000) {
        cp -= 0x10000;
        *w++ = static_cast<char16_t>(0xD800 + (cp >> 10));
        *w++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
        *w++ = static_cast<char16_t>(cp);
    }
    return w;
}

int DigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return 99;
}

// Reads a number at `i` in `base` (0: a C literal); returns the characters used.
std::size_t ReadNumber(std::u16string_view t, std::size_t i, int base, unsigned long* value) {
    std::size_t start = i;
    if (base == 0) {
        if (i + 1 < t.size() && t[i] == u'0' && (t[i + 1] == u'x' || t[i + 1] == u'X') &&
            i + 2 < t.size() && DigitValue(t[i + 2]) < 16) {
            base = 16;
            i += 2;
        } else if (i < t.size() && t[i] == u'0') {
            base = 8;
        } else {
            base = 10;
        }
    }
    unsigned long v = 0;
    std::size_t digits_start = i;
    for (; i < t.size() && DigitValue(t[i]) < base; ++i) {
        v = v * static_cast<unsigned long>(base) + static_cast<unsigned long>(DigitValue(t[i]));
        if (v > 0x10FFFF) v = 0x110000;  // saturate: out of range anyway
    }
    if (i == digits_start) return 0;
    *value = v;
    return i - start;
}

// Position of the ">" ending the tag that starts at `lt`, outside quotes and not preceded
// by "--"; npos when the tag never ends.
std::size_t FindTagEnd(std::u16string_view x, std::size_t lt) {
    char16_t quote = 0;
    for (std::size_t i = lt + 1; i < x.size(); ++i) {
        char16_t c = x[i];
        if (c > u'>') continue;  // above every character that matters here
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == u'\'' || c == u'"') {
            quote = c;
        } else if (c == u'>' && !(i >= lt + 3 && x[i - 1] == u'-' && x[i - 2] == u'-')) {
            return i;
        }
    }
    return std::u16string_view::npos;
}

void LowerTagName(std::u16string* name) {
    for (auto& c : *name) c = LowerTagChar(c);
}

// Whether text needs UnescapeText: an entity or a break or tab to turn into a space.
bool NeedsUnescape(std::u16string_view t) {
    for (char16_t c : t)
        if (c <= u'&' && (c == u'&' || c == u'\r' || c == u'\n' || c == u'\t')) return true;
    return false;
}

}  // namespace

// ---- Attribute list

template <class F>
bool ReadPairs(std::u16string_view t, bool bare_names, F&& pair) {
    bool found = false;
    std::size_t i = 0;
    const std::size_t n = t.size();
    std::u16string name_buffer, value_buffer;  // for names and values of several quoted runs
    auto skip = [&] {
        while (i < n && IsListSpace(t[i])) ++i;
    };
    for (;;) {
        skip();
        if (i >= n) break;
        std::u16string_view name;
        if (IsQuote(t[i])) {
            // A name that holds white space, "=" or quotes is written in quotes.
            name = ReadQuotedRuns(t, &i, &name_buffer);
        } else {
            std::size_t ns = i;
            while (i < n && !IsListSpace(t[i]) && t[i] != u'=') ++i;
            name = t.substr(ns, i - ns);
        }
        skip();
        if (i < n && t[i] == u'=') {
            ++i;
            skip();
            std::u16string_view value;
            if (i < n && IsQuote(t[i])) {
                value = ReadQuotedRuns(t, &i, &value_buffer);
            } else {
                std::size_t vs = i;
                while (i < n && !IsListSpace(t[i])) ++i;
                value = t.substr(vs, i - vs);
            }
            // A pair without a name cannot be stored; it is dropped.
            if (!name.empty()) {
                pair(name, value);
                found = true;
            }
        } else if (bare_names && !name.empty()) {
            pair(name, {});
            found = true;
        }
    }
    return found;
}

bool ReadAttributeList(std::u16string_view t, bool bare_names,
                       const std::function<void(std::u16string_view, std::u16string_view)>& pair) {
    return ReadPairs(t, bare_names, pair);
}

bool ParseAttributeList(std::u16string_view text, CoXMLNode* node, bool overwrite,
                        bool bare_names) {
    return ReadPairs(text, bare_names, [&](std::u16string_view name, std::u16string_view value) {
        node->SetAttr(name, value, overwrite);
    });
}

// ---- Reading

std::u16string UnescapeText(std::u16string_view t) {
    // Most text has nothing to replace; trimmed text without replacements is never all spaces.
    if (!NeedsUnescape(t) && t.find_first_not_of(u' ') != std::u16string_view::npos)
        return std::u16string(t);
    // Nothing makes the text longer: every replaced sequence is at least as long as what
    // replaces it, a character beyond 16 bits included.
    std::u16string out(t.size(), u'\0');
    char16_t* w = out.data();
    bool keep_spaces = false;  // a space written as "&nbsp;" or a character reference
    bool only_spaces = true;
    const std::size_t n = t.size();
    for (std::size_t i = 0; i < n;) {
        const char16_t c = t[i];
        if (c > u'&') {
            *w++ = c;
            only_spaces = false;
            ++i;
            continue;
        }
        if (c == u'\r' || c == u'\n' || c == u'\t') {
            *w++ = u' ';
            ++i;
            continue;
        }
        if (c != u'&') {
            *w++ = c;
            only_spaces &= c == u' ';
            ++i;
            continue;
        }
        const std::u16string_view rest = t.substr(i);
        char16_t entity = 0;
        std::size_t length = 0;
        auto is = [&](std::u16string_view e, char16_t ch) {
            if (!rest.starts_with(e)) return false;
            entity = ch;
            length = e.size();
            return true;
        };
        switch (rest.size() > 1 ? rest[1] : 0) {
            case u'l':
                is(u"&lt;"sv, u'<');
                break;
            case u'g':
                is(u"&gt;"sv, u'>');
                break;
            case u'a':
                is(u"&amp;"sv, u'&') || is(u"&apos;"sv, u'\'');
                break;
            case u'n':
                keep_spaces |= is(u"&nbsp;"sv, u' ');
                break;
            case u'c':
                is(u"&copy;"sv, 0x00A9);
                break;
            case u'r':
                is(u"&reg;"sv, 0x00AE);
                break;
            case u'q':
                is(u"&quot;"sv, u'"');
                break;
            case u'#': {
                unsigned long cp = 0;
                const bool hex = rest.size() > 2 && rest[2] == u'x';
                const std::size_t at = i + (hex ? 3 : 2);
                const std::size_t used = ReadNumber(t, at, hex ? 16 : 0, &cp);
                if (used) {
                    if (cp == u' ') keep_spaces = true;  // written for spaces that must stay
                    only_spaces &= cp == u' ';
                    w = PutCodePoint(cp, w);
                    i = std::min(n, at + used + 1);  // the ";" after the number
                    continue;
                }
                break;
            }
            default:
                break;
        }
        if (length) {
            *w++ = entity;
            only_spaces &= entity == u' ';
            i += length;
            continue;
        }
        *w++ = c;
        only_spaces = false;
        ++i;
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
    if (only_spaces && !keep_spaces) out.clear();
    return out;
}

// Slabs for the elements of one document, each sized by the tags still ahead (every element
// has a "<" of its own, so their count bounds the nodes needed).
class SlabSource {
public:
    explicit SlabSource(std::u16string_view x)
        : left_(static_cast<std::size_t>(std::count(x.begin(), x.end(), u'<'))) {}
    ~SlabSource() {
        if (slab_) slab_->Drop();
    }
    SlabSource(const SlabSource&) = delete;
    SlabSource& operator=(const SlabSource&) = delete;

    // Where the next node goes; null lets it take an allocation of its own.
    NodeSlab* Next() {
        if (slab_ && !slab_->Full()) return slab_;
        if (slab_) slab_->Drop();
        const std::size_t nodes = std::clamp<std::size_t>(left_, 1, NodeSlab::kSlabNodes);
        left_ -= std::min(left_, nodes);
        slab_ = NodeSlab::Make(nodes);
        return slab_;
    }

private:
    std::size_t left_;
    NodeSlab* slab_ = nullptr;
};

// Reads a document into a private staging node, without locks (no other thread can see it),
// and hands the result to the target node in one step at the end.
class XmlReader {
public:
    static HRESULT Parse(std::u16string_view x, CoXMLNode* node, bool take_name) {
        XMLNodePtr staging = CoXMLNode::Create(u"");
        if (!staging) return E_OUTOFMEMORY;
        staging->depth_ = node->Depth();
        staging->word_ = node->Word();
        std::u16string name;
        HRESULT hr = Read(x, staging, &name);
        if (take_name && !name.empty()) node->SetName(name);
        node->AdoptContent(*staging);
        return hr;
    }

private:
    static void AddText(std::u16string_view raw, CoXMLNode* node) {
        std::size_t b = 0, e = raw.size();
        while (b < e && IsTextSpace(raw[b])) ++b;
        while (e > b && IsTextSpace(raw[e - 1])) --e;
        if (b == e) return;
        std::u16string_view text = raw.substr(b, e - b);
        // Trimmed text without entities or inner breaks is stored as it stands.
        if (!NeedsUnescape(text))
            node->BuildText(text);
        else
            node->BuildText(UnescapeText(text));
    }

    static void AddAttributes(std::u16string_view list, CoXMLNode* node) {
        // One "=" per pair, give or take those inside values: room for all in one step.
        const auto pairs = std::count(list.begin(), list.end(), u'=');
        if (pairs > 0) node->attrs_.reserve(node->attrs_.size() + static_cast<std::size_t>(pairs));
        ReadPairs(list, false,
                  [node](std::u16string_view n, std::u16string_view v) { node->BuildAttr(n, v); });
    }

    static HRESULT Read(std::u16string_view x, CoXMLNode* top, std::u16string* top_name) {
        struct Open {
            CoXMLNode* node;          // kept alive by its parent (or by the caller for the top)
            std::u16string_view tag;  // as written; closed regardless of ASCII case
        };
        std::vector<Open> stack;
        stack.reserve(16);
        SlabSource slabs(x);
        std::u16string name_buffer;       // a tag name written as several quoted runs
        CoXMLNode* open_child = nullptr;  // the top's child being read: dropped on failure
        auto fail = [&](HRESULT hr) {
            if (open_child) top->UnbuildChild(open_child);
            return hr;
        };

        std::size_t pos = 0;
        const std::size_t n = x.size();
        bool seen_top = false;
        while (pos < n) {
            std::size_t lt = x.find(u'<', pos);
            if (!stack.empty())
                AddText(x.substr(pos, (lt == std::u16string_view::npos ? n : lt) - pos),
                        stack.back().node);
            if (lt == std::u16string_view::npos) break;
            std::u16string_view at = x.substr(lt);

            // Literals as views: their lengths are known without scanning them each time.
            const char16_t mark = at.size() > 1 ? at[1] : 0;
            if (mark == u'!' && at.starts_with(u"<!--"sv)) {
                std::size_t end = x.find(u"-->"sv, lt + 4);
                if (end == std::u16string_view::npos) return fail(E_INVALIDARG);
                pos = end + 3;
                continue;
            }
            if (mark == u'?') {
                std::size_t end = x.find(u"?>"sv, lt + 2);
                if (end == std::u16string_view::npos) return fail(E_INVALIDARG);
                pos = end + 2;
                continue;
            }
            if (mark == u'!' && at.starts_with(u"<!["sv)) {
                std::size_t end = x.find(u"]]>"sv, lt + 3);
                if (end == std::u16string_view::npos) return fail(E_INVALIDARG);
                std::size_t body = lt + (at.starts_with(u"<![CDATA["sv) ? 9 : 3);
                if (!stack.empty()) {
                    if (end > body)
                        stack.back().node->BuildText(x.substr(body, end - body));
                    else
                        stack.back().node->BuildEmptyRun();
                }
                pos = end + 3;
                continue;
            }
            std::size_t gt = FindTagEnd(x, lt);
            if (gt == std::u16string_view::npos) return fail(E_INVALIDARG);
            pos = gt + 1;
            if (mark == u'!') continue;  // <!DOCTYPE ...> and the like carry nothing

            const bool end_tag = x[lt + 1] == u'/';
            std::size_t ns = lt + (end_tag ? 2 : 1), ne = ns;
            std::u16string_view name;  // the tag as written, less the quotes of a quoted one
            if (ns < gt && IsQuote(x[ns])) {
                name = ReadQuotedRuns(x.substr(0, gt), &ne, &name_buffer);
            } else {
                while (ne < gt && !EndsTagName(x[ne])) ++ne;
                name = x.substr(ns, ne - ns);
            }
            if (name.empty()) return fail(E_INVALIDARG);
            const std::u16string_view tag = x.substr(ns, ne - ns);

            if (end_tag) {
                if (!stack.empty() && SameTag(stack.back().tag, tag)) {
                    stack.pop_back();
                    if (stack.empty()) return S_OK;
                    if (stack.size() == 1) open_child = nullptr;
                }
                continue;
            }

            std::u16string_view attrs = x.substr(ne, gt - ne);
            std::size_t last = attrs.find_last_not_of(u" \t\r\n"sv);
            bool empty = SameTag(tag, u"br"sv) || SameTag(tag, u"tab"sv);
            if (last != std::u16string_view::npos && attrs[last] == u'/') {
                empty = true;
                attrs = attrs.substr(0, last);
            }

            CoXMLNode* target;
            if (!seen_top) {
                seen_top = true;
                top_name->assign(name);
                LowerTagName(top_name);
                target = top;
            } else {
                CoXMLNode* parent = stack.back().node;
                if (parent->Depth() >= kMaxDepth) return fail(E_INVALIDARG);
                target = parent->BuildChild(name, slabs.Next());
                if (!target) return fail(E_UNEXPECTED);
                // Lower-casing keeps the name's hash: the folding ignores case already.
                LowerTagName(&target->name_);
                if (stack.size() == 1) open_child = target;
            }
            AddAttributes(attrs, target);
            if (empty) {
                if (target == top) return S_OK;
                if (stack.size() == 1) open_child = nullptr;
                continue;
            }
            stack.push_back(Open{target, tag});
        }
        if (!seen_top) return E_INVALIDARG;
        return fail(E_INVALIDARG);  // the input ended inside an element
    }
};

HRESULT ParseXml(std::u16string_view x, CoXMLNode* node, bool take_name) {
    return XmlReader::Parse(x, node, take_name);
}

}  // namespace XMLParse
