// Writing the tree's text forms: XML and the attribute list.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "props/name_fold.h"
#include "props/xml_chars.h"
#include "props/xml_node.h"
#include "props/xml_text.h"

namespace XMLParse {
namespace {

using namespace std::string_view_literals;
using namespace text_detail;

constexpr int kMaxTabs = 64;

// Appends to a string through a cursor over buffers of its own: the many short pieces of a
// document go out without a call and a capacity check each, and the text is copied into the
// string once, at its full length, instead of through every step of the string's growth.
// Room(n) gives space for n characters; Commit() takes what was used; Finish() hands the
// text to the string (a sink left without it, on an exception, hands over nothing).
class Sink {
public:
    explicit Sink(std::u16string* out) : out_(out) {}
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    char16_t* Room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - cursor_) < n) Grow(n);
        return cursor_;
    }
    void Commit(char16_t* end) { cursor_ = end; }
    void Put(char16_t c) {
        *Room(1) = c;
        ++cursor_;
    }
    void Put(std::u16string_view text) {
        cursor_ = Copy(Room(text.size()), text.data(), text.size());
    }
    // Copies `n` characters to `w`; returns the position after them.
    static char16_t* Copy(char16_t* w, const char16_t* from, std::size_t n) {
        if (n > 16) {
            std::memcpy(w, from, n * sizeof(char16_t));
            return w + n;
        }
        // Tags, names and line breaks: shorter than a call to memcpy costs.
        for (std::size_t i = 0; i < n; ++i) w[i] = from[i];
        return w + n;
    }
    // Copies `n` characters written at `from` (a Size() of this sink) once more: the end tag
    // repeating the start tag. They may lie in earlier buffers, or across two.
    void Repeat(std::size_t from, std::size_t n) {
        char16_t* w = Room(n);
        std::size_t b = done_.size();
        while (n > 0) {
            if (from >= base_start_) {
                w = Copy(w, base_ + (from - base_start_), n);
                break;
            }
            while (done_[b - 1].start > from) --b;
            const Block& block = done_[b - 1];
            const std::size_t part = std::min(n, block.start + block.size - from);
            std::memcpy(w, block.data + (from - block.start), part * sizeof(char16_t));
            w += part;
            from += part;
            n -= part;
            ++b;
        }
        cursor_ = w;
    }
    std::size_t Size() const { return base_start_ + static_cast<std::size_t>(cursor_ - base_); }
    void Finish() {
        out_->reserve(out_->size() + Size());
        for (const Block& block : done_) out_->append(block.data, block.size);
        out_->append(base_, static_cast<std::size_t>(cursor_ - base_));
    }

private:
    struct Block {
        const char16_t* data;
        std::size_t start;  // characters in the blocks before this one
        std::size_t size;
    };
    static constexpr std::size_t kLocal = 2048;
    static constexpr std::size_t kBlock = 32768;

    void Grow(std::size_t n) {
        const auto written = static_cast<std::size_t>(cursor_ - base_);
        done_.push_back(Block{base_, base_start_, written});
        base_start_ += written;
        const std::size_t size = std::max(n, kBlock);
        owned_.push_back(std::make_unique_for_overwrite<char16_t[]>(size));
        base_ = cursor_ = owned_.back().get();
        end_ = base_ + size;
    }

    std::u16string* out_;
    char16_t local_[kLocal];
    std::vector<Block> done_;  // the buffers filled before the current one
    std::vector<std::unique_ptr<char16_t[]>> owned_;
    char16_t* base_ = local_;  // the current buffer
    std::size_t base_start_ = 0;
    char16_t* cursor_ = local_;
    char16_t* end_ = local_ + kLocal;
};

using Hold = NodeLockHold;

void PutTabs(int n, Sink& out) {
    if (n <= 0) return;
    const auto count = static_cast<std::size_t>(std::min(n, kMaxTabs));
    char16_t* w = out.Room(count);
    std::fill_n(w, count, u'\t');
    out.Commit(w + count);
}

char16_t* PutRaw(char16_t* w, std::u16string_view text) {
    for (char16_t c : text) *w++ = c;
    return w;
}

// Between quotes: single quotes unless the text holds an apostrophe, then double quotes; with
// both, adjacent runs, each in the quote it does not hold: it's "x" goes out as
// 'it'"'s "'"x"'.
void PutQuoted(std::u16string_view value, Sink& out) {
    bool apostrophe = false, quote = false;
    for (char16_t c : value) {
        if (c > u'\'') continue;
        apostrophe |= c == u'\'';
        quote |= c == u'"';
    }
    if (!apostrophe || !quote) {
        const char16_t q = apostrophe ? u'"' : u'\'';
        char16_t* w = out.Room(value.size() + 2);
        *w++ = q;
        w = PutRaw(w, value);
        *w++ = q;
        out.Commit(w);
        return;
    }
    char16_t* w = out.Room(value.size() * 3);  // at worst a run per character
    while (!value.empty()) {
        const char16_t q = value[0] == u'\'' ? u'"' : u'\'';
        const std::size_t end = std::min(value.find(q), value.size());
        *w++ = q;
        w = PutRaw(w, value.substr(0, end));
        *w++ = q;
        value.remove_prefix(end);
    }
    out.Commit(w);
}

void PutAttributeName(std::u16string_view name, Sink& out) {
    for (char16_t c : name) {
        if (c > u'>' && c < 0xFFEE) continue;  // letters, digits above "?" and most others
        if (IsListSpace(c) || IsQuote(c) || c == u'=' || c == u'<' || c == u'>') {
            PutQuoted(name, out);
            return;
        }
    }
    out.Put(name);
}

void PutTagName(std::u16string_view name, bool has_content, Sink& out) {
    bool quote = name.empty() || name[0] == u'!' || name[0] == u'?' || name.back() == u'-' ||
                 (has_content && (SameTag(name, u"br"sv) || SameTag(name, u"tab"sv)));
    for (std::size_t i = 0; i < name.size() && !quote; ++i)
        quote = EndsTagName(name[i]) || IsQuote(name[i]);
    if (quote)
        PutQuoted(name, out);
    else
        out.Put(name);
}

char16_t* PutEntity(char16_t* w, std::u16string_view entity) {
    return PutRaw(w, entity);
}

// Writes an element text character that is not a space at either end.
char16_t* PutTextChar(char16_t c, char16_t* w) {
    if (c > u'>') {
        *w = c;
        return w + 1;
    }
    switch (c) {
        case u'<':
            return PutEntity(w, u"&lt;"sv);
        case u'>':
            return PutEntity(w, u"&gt;"sv);
        case u'&':
            return PutEntity(w, u"&amp;"sv);
        case u'\t':
            return PutEntity(w, u"&#x9;"sv);
        case u'\n':
            return PutEntity(w, u"&#xA;"sv);
        case u'\r':
            return PutEntity(w, u"&#xD;"sv);
        default:
            *w = c;
            return w + 1;
    }
}

void PutElementText(std::u16string_view text, Sink& out) {
    // Breaks and tabs would read back as spaces, and spaces at either end would be trimmed:
    // those go out as character references.
    const char16_t* p = text.data();
    const std::size_t n = text.size();
    std::size_t lead = 0, trail = n;
    while (lead < trail && p[lead] == u' ') ++lead;
    while (trail > lead && p[trail - 1] == u' ') --trail;
    char16_t* w = out.Room(n * 6);  // "&#x20;" is the longest replacement
    std::size_t i = 0;
    for (; i < lead; ++i) w = PutEntity(w, u"&#x20;"sv);
#if defined(__SSE2__)
    // Eight characters a step while none needs a reference: each step stores all eight and
    // keeps those before the first that does (the room holds six characters for each).
    const __m128i lt = _mm_set1_epi16(u'<'), gt = _mm_set1_epi16(u'>');
    const __m128i amp = _mm_set1_epi16(u'&'), cr = _mm_set1_epi16(u'\r');
    while (i + 8 <= trail) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w), v);
        // Breaks and tabs lie at or below "\r": those and the three markup characters.
        const __m128i low = _mm_cmpeq_epi16(_mm_subs_epu16(v, cr), _mm_setzero_si128());
        const __m128i marks =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, lt), _mm_cmpeq_epi16(v, gt)),
                         _mm_or_si128(_mm_cmpeq_epi16(v, amp), low));
        const int mask = _mm_movemask_epi8(marks);
        if (!mask) {
            i += 8;
            w += 8;
            continue;
        }
        const auto k = static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
        w = PutTextChar(p[i + k], w + k);
        i += k + 1;
    }
#endif
    for (; i < trail; ++i) w = PutTextChar(p[i], w);
    for (; i < n; ++i) w = PutEntity(w, u"&#x20;"sv);
    out.Commit(w);
}

// " name='value'" in one pass for the common attribute, whose name needs no quotes and whose
// value holds at most one kind of quote; anything else goes the general way.
void PutAttribute(std::u16string_view name, std::u16string_view value, Sink& out) {
    char16_t* const start = out.Room(name.size() + value.size() + 4);
    char16_t* w = start;
    *w++ = u' ';
    bool plain = true;
    for (char16_t c : name) {
        *w++ = c;
        if (c > u'>' && c < 0xFFEE) continue;  // letters, digits above "?" and most others
        plain &= !(IsListSpace(c) || IsQuote(c) || c == u'=' || c == u'<' || c == u'>');
    }
    *w++ = u'=';
    char16_t* const open = w++;
    bool apostrophe = false, quote = false;
    for (char16_t c : value) {
        *w++ = c;
        if (c > u'\'') continue;
        apostrophe |= c == u'\'';
        quote |= c == u'"';
    }
    if (plain && !(apostrophe && quote)) {
        *open = *w++ = apostrophe ? u'"' : u'\'';
        out.Commit(w);
        return;
    }
    out.Commit(start);
    out.Put(u' ');
    PutAttributeName(name, out);
    out.Put(u'=');
    PutQuoted(value, out);
}

void PutAttributeList(const CoXMLNode& node, const AttributeListOptions& options, Sink& out) {
    if (options.with_node_value) {
        out.Put(u" _node_value="sv);
        PutQuoted(node.Value(), out);
    }
    const Hold lock(node.ContentLock());
    for (const auto& a : node.AttributesUnlocked()) {
        if (options.skip &&
            std::any_of(options.skip->begin(), options.skip->end(),
                        [&](const std::u16string& s) { return NamesEqual(s, a.name); }))
            continue;
        if (options.prefix.empty()) {
            PutAttribute(a.name, a.value, out);
        } else {
            std::u16string prefixed(options.prefix);
            prefixed += a.name;
            PutAttribute(prefixed, a.value, out);
        }
    }
}

// What a node's children are written from once its lock is let go. One list per depth is
// reused for every node at that depth, with the strings keeping their buffers.
struct Piece {
    XMLNodePtr element;   // or null for text
    std::u16string text;  // a text run's text
};
using PieceLists = std::deque<std::vector<Piece>>;

// Writes `node` after `lead` (the line break before a child). With `leaf_only` a node that
// has children writes nothing and returns false.
//
// Locks: a node's content lock, which also keeps its name. Children that are leaves are
// written while the parent's lock is held (a parent's lock before a child's, as everywhere in
// the tree); from the first child with children of its own on, the rest of the children are
// taken as pieces and written after the lock is let go, so that a deep tree never holds
// locks on more than two levels at once.
bool WriteNode(const CoXMLNode& node, std::u16string_view lead, int indent, bool leaf_only,
               std::size_t level, PieceLists* lists, Sink& out) {
    std::size_t tag_at = 0, tag_size = 0;  // the tag as the start tag wrote it
    auto end_tag = [&] {
        out.Put(u"</"sv);
        out.Repeat(tag_at, tag_size);
        out.Put(u'>');
    };
    auto put_text = [&](std::u16string_view text) {
        out.Put(u"\r\n"sv);
        PutTabs(indent + 1, out);
        // An empty first run before later text keeps the node's value empty on reading.
        if (text.empty())
            out.Put(u"<![CDATA[]]>"sv);
        else
            PutElementText(text, out);
    };
    std::vector<Piece>* pieces = nullptr;
    std::size_t count = 0;
    {
        const Hold lock(node.ContentLock());
        const auto& children = node.ChildrenUnlocked();
        if (leaf_only && !children.empty()) return false;
        const auto& texts = node.TextsUnlocked();
        const bool has_text = std::any_of(texts.begin(), texts.end(),
                                          [](const TextRun& t) { return !t.text.empty(); });
        out.Put(lead);
        PutTabs(indent, out);
        out.Put(u'<');
        tag_at = out.Size();
        // The content lock is enough for the name and the attributes.
        PutTagName(node.NameUnlocked(), has_text || !children.empty(), out);
        tag_size = out.Size() - tag_at;
        for (const auto& a : node.AttributesUnlocked()) PutAttribute(a.name, a.value, out);
        if (children.empty()) {
            if (!has_text) {
                out.Put(u"/>"sv);
                return true;
            }
            out.Put(u'>');
            for (const auto& t : texts) PutElementText(t.text, out);
            end_tag();
            return true;
        }
        out.Put(u'>');
        auto next = [&]() -> Piece& {
            if (!pieces) {
                if (lists->size() <= level) lists->emplace_back();
                pieces = &(*lists)[level];
            }
            if (count == pieces->size()) pieces->emplace_back();
            return (*pieces)[count++];
        };
        auto t = texts.begin();
        for (std::size_t i = 0; i <= children.size(); ++i) {
            for (; t != texts.end() && t->before == i; ++t) {
                if (t->text.empty() && !(t == texts.begin() && has_text)) continue;
                if (!pieces) {
                    put_text(t->text);
                    continue;
                }
                Piece& p = next();
                p.element = nullptr;
                p.text.assign(t->text);
            }
            if (i == children.size()) break;
            if (!pieces &&
                WriteNode(*children[i], u"\r\n"sv, indent + 1, true, level + 1, lists, out))
                continue;
            next().element = children[i];
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        // The list at this level is not touched by the deeper calls.
        XMLNodePtr element = std::move((*pieces)[i].element);
        if (element)
            WriteNode(*element, u"\r\n"sv, indent + 1, false, level + 1, lists, out);
        else
            put_text((*pieces)[i].text);
    }
    out.Put(u"\r\n"sv);
    PutTabs(indent, out);
    end_tag();
    return true;
}

}  // namespace

void AppendEscaped(std::u16string_view text, QuoteEscape quotes, std::u16string* out) {
    bool esc_quotes = quotes == QuoteEscape::kYes;
    if (quotes == QuoteEscape::kWhenPresent)
        esc_quotes = text.find_first_of(u"'\"") != std::u16string_view::npos;
    // Plain stretches go out in one append each; only the escaped characters are looked up.
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::u16string_view entity;
        switch (text[i]) {
            case u'<':
                entity = u"&lt;";
                break;
            case u'>':
                entity = u"&gt;";
                break;
            case u'&':
                entity = u"&amp;";
                break;
            case u'\'':
                if (esc_quotes) entity = u"&apos;";
                break;
            case u'"':
                if (esc_quotes) entity = u"&quot;";
                break;
            default:
                break;
        }
        if (entity.empty()) continue;
        out->append(text.substr(plain, i - plain));
        out->append(entity);
        plain = i + 1;
    }
    out->append(text.substr(plain));
}

void AppendQuotedValue(std::u16string_view value, std::u16string* out) {
    Sink sink(out);
    PutQuoted(value, sink);
    sink.Finish();
}

void WriteAttributeList(const CoXMLNode& node, const AttributeListOptions& options,
                        std::u16string* out) {
    Sink sink(out);
    PutAttributeList(node, options, sink);
    sink.Finish();
}

void WriteXml(const CoXMLNode& node, int indent, std::u16string* out) {
    PieceLists lists;
    Sink sink(out);
    WriteNode(node, {}, indent, false, 0, &lists, sink);
    sink.Finish();
}

std::u16string WriteXml(const CoXMLNode& node, int indent) {
    std::u16string out;
    WriteXml(node, indent, &out);
    return out;
}

}  // namespace XMLParse
