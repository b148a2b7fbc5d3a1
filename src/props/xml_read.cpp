// Reading the tree's text forms: XML and the attribute list.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

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

template <class String>
void LowerTagName(String* name) {
    for (auto& c : *name) c = LowerTagChar(c);
}

inline bool Unescaped(char16_t c) {
    return c <= u'&' && (c == u'&' || c == u'\r' || c == u'\n' || c == u'\t');
}

#if defined(__SSE2__)
// A bit pair for each of the eight characters at `p` that may need UnescapeText: "&" and
// everything up to "\r" (breaks, tabs and the controls before them).
inline int UnescapeMarks(const char16_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i low =
        _mm_cmpeq_epi16(_mm_subs_epu16(v, _mm_set1_epi16(u'\r')), _mm_setzero_si128());
    return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(u'&')), low));
}
#endif

// Position of the first character that UnescapeText replaces (an entity's "&", a break or a
// tab), or npos.
[[gnu::always_inline]] inline std::size_t FirstUnescaped(std::u16string_view t) {
    const char16_t* p = t.data();
    const std::size_t n = t.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= n; i += 8) {
        if (!UnescapeMarks(p + i)) continue;
        for (std::size_t k = 0; k < 8; ++k)
            if (Unescaped(p[i + k])) return i + k;
    }
#endif
    for (; i < n; ++i)
        if (Unescaped(p[i])) return i;
    return std::u16string_view::npos;
}

bool NeedsUnescape(std::u16string_view t) {
    return FirstUnescaped(t) != std::u16string_view::npos;
}

// Position of the first `c` at or after `from`, or npos. Eight characters a step where SSE2
// is there (it is on every x86-64).
std::size_t FindChar(std::u16string_view t, std::size_t from, char16_t c) {
    const char16_t* p = t.data();
    const std::size_t n = t.size();
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi16(static_cast<short>(c));
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(v, want));
        if (mask)
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
    }
#endif
    for (; i < n; ++i)
        if (p[i] == c) return i;
    return std::u16string_view::npos;
}

// Whether the characters at `p` are those of `s` (with room for them at `p`).
inline bool SameChars(const char16_t* p, std::u16string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i)
        if (p[i] != s[i]) return false;
    return true;
}

// SameChars for the name of an end tag at `p`, where `p_room` characters can be read; the
// name `s` is a view into the same text, which ends at `end`. Names of up to eight
// characters with room after both are compared in one step, without a loop whose exit
// depends on the length.
inline bool SameTagChars(const char16_t* p, std::size_t p_room, std::u16string_view s,
                         const char16_t* end) {
#if defined(__SSE2__)
    if (s.size() <= 8 && p_room >= 8 && end - s.data() >= 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data()));
        const unsigned want = (1u << (2 * s.size())) - 1;
        return (static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(a, b))) & want) == want;
    }
#endif
    (void)p_room;
    (void)end;
    return SameChars(p, s);
}

// What the quick reading of a tag makes of a character: the plain case needs no look-up.
enum : unsigned char {
    kPlain = 0,  // part of a name
    kSpace = 1,  // space, tab, break
    kStop = 2,   // anything else that needs a decision: = > / < quotes, ; , \\ and NUL
};

constexpr std::array<unsigned char, 128> kAsciiKinds = [] {
    std::array<unsigned char, 128> kinds{};
    for (int c = 0; c < 32; ++c) kinds[c] = kStop;
    for (char16_t c : u" \t\r\n") kinds[c] = kSpace;
    for (char16_t c : u"=<>/'\";,\\") kinds[c] = kStop;
    kinds[0] = kStop;  // the loops above also met the strings' terminators
    return kinds;
}();

inline unsigned char CharKind(char16_t c) {
    if (c < 128) return kAsciiKinds[c];
    return c >= 0xFFEE ? kStop : kPlain;  // the two white-space marks of attribute lists
}

#if defined(__SSE2__)
// A bit pair for each of the eight characters at `p` that may not be kPlain: everything up
// to ">", the backslash and the two marks at the top. Names are mostly letters, above ">",
// so that the digits and marks below it that names may hold are told apart one by one.
inline unsigned MaybeNotPlainMarks(const char16_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i low =
        _mm_cmpeq_epi16(_mm_subs_epu16(v, _mm_set1_epi16(u'>')), _mm_setzero_si128());
    const __m128i top = _mm_cmpeq_epi16(_mm_adds_epu16(v, _mm_set1_epi16(0x11)),
                                        _mm_set1_epi16(static_cast<short>(0xFFFF)));
    const __m128i backslash = _mm_cmpeq_epi16(v, _mm_set1_epi16(u'\\'));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(low, top), backslash)));
}
#endif

// Position of the first character at or after `i` that is not part of a name, or `n`.
inline std::size_t SkipPlain(const char16_t* p, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
    for (; i + 8 <= n; i += 8) {
        for (unsigned mask = MaybeNotPlainMarks(p + i); mask;) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
            if (CharKind(p[i + bit / 2]) != kPlain) return i + bit / 2;
            mask &= ~(3u << bit);
        }
    }
#endif
    while (i < n && CharKind(p[i]) == kPlain) ++i;
    return i;
}

inline std::size_t SkipSpaces(const char16_t* p, std::size_t i, std::size_t n) {
    while (i < n && p[i] <= u' ' && CharKind(p[i]) == kSpace) ++i;
    return i;
}

// A start tag read in one pass: its name, its attributes as views of the text and where it
// ends. Anything out of the ordinary (quoted names, values without quotes, adjacent quoted
// runs, stray characters) is left to the general reading.
struct QuickTag {
    std::u16string_view name;
    std::size_t gt = 0;  // the closing ">"
    bool self_closed = false;
    std::vector<std::pair<std::u16string_view, std::u16string_view>>* attrs;
};

bool ReadQuickStartTag(std::u16string_view x, std::size_t lt, QuickTag* tag) {
    const char16_t* p = x.data();
    const std::size_t n = x.size();
    std::size_t i = SkipPlain(p, lt + 1, n);
    if (i == lt + 1 || i >= n) return false;
    tag->name = std::u16string_view(p + lt + 1, i - lt - 1);
    tag->attrs->clear();
    for (;;) {
        i = SkipSpaces(p, i, n);
        if (i >= n) return false;
        const char16_t c = p[i];
        if (c == u'>') {
            // A ">" after "--" does not end the tag.
            if (p[i - 1] == u'-' && p[i - 2] == u'-') return false;
            tag->gt = i;
            tag->self_closed = false;
            return true;
        }
        if (c == u'/') {
            if (i + 1 >= n || p[i + 1] != u'>') return false;
            tag->gt = i + 1;
            tag->self_closed = true;
            return true;
        }
        const std::size_t ns = i;
        i = SkipPlain(p, i, n);
        if (i == ns || i >= n) return false;
        const std::u16string_view name(p + ns, i - ns);
        i = SkipSpaces(p, i, n);
        if (i >= n || p[i] != u'=') return false;
        i = SkipSpaces(p, i + 1, n);
        if (i >= n || !IsQuote(p[i])) return false;
        const std::size_t close = FindChar(x, i + 1, p[i]);
        if (close == std::u16string_view::npos) return false;
        tag->attrs->emplace_back(name, std::u16string_view(p + i + 1, close - i - 1));
        i = close + 1;
        if (i < n && IsQuote(p[i])) return false;  // adjacent runs join: the general way
    }
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

namespace {

// Copies the first `n` characters of `from` to `to` (apart from each other), eight a step,
// where both have room for `room` characters (n <= room): what is copied past `n` is
// written over afterwards or left unused.
inline void CopyChars(const char16_t* from, std::size_t n, char16_t* to, std::size_t room) {
#if defined(__SSE2__)
    if (room >= 8) {
        for (std::size_t i = 0; i < n; i += 8) {
            const std::size_t at = std::min(i, room - 8);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + at),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at)));
        }
        return;
    }
#endif
    for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
}

// Writes the plain text of `t` at `out`, which has room for t.size() characters: nothing
// makes the text longer, as every replaced sequence is at least as long as what replaces
// it, a character beyond 16 bits included. Returns the length written. Nothing before
// `start` needs a replacement.
std::size_t UnescapeTo(std::u16string_view t, char16_t* out, std::size_t start = 0) {
    CopyChars(t.data(), start, out, t.size());
    char16_t* w = out + start;
    bool keep_spaces = false;  // a space written as "&nbsp;" or a character reference
    // Most texts start with something other than a space.
    bool only_spaces = start == 0 || (t[0] == u' ' && t.substr(0, start).find_first_not_of(u' ') ==
                                                          std::u16string_view::npos);
    const std::size_t n = t.size();
    for (std::size_t i = start; i < n;) {
#if defined(__SSE2__)
        // Plain runs eight characters a step: each step stores all eight and keeps those
        // before the first that needs a look (nothing is longer than what it replaces, so
        // the room after `w` is never less than the text left).
        for (const char16_t* p = t.data(); i + 8 <= n;) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
            const int mask = UnescapeMarks(p + i);
            const std::size_t k =
                mask ? static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2 : 8;
            for (std::size_t j = 0; only_spaces && j < k; ++j) only_spaces = p[i + j] == u' ';
            i += k;
            w += k;
            if (mask) break;
        }
        if (i >= n) break;
#endif
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
            // The "&" and the letter that chose the case are known to match.
            if (rest.size() < e.size() || !SameChars(rest.data() + 2, e.substr(2))) return false;
            entity = ch;
            length = e.size();
            return true;
        };
        // Tested in turn rather than through a jump table: texts mix "&lt;" and "&gt;", and
        // a jump that alternates between two targets is mispredicted every time.
        const char16_t letter = rest.size() > 1 ? rest[1] : 0;
        if (letter == u'l') {
            is(u"&lt;"sv, u'<');
        } else if (letter == u'g') {
            is(u"&gt;"sv, u'>');
        } else if (letter == u'a') {
            is(u"&amp;"sv, u'&') || is(u"&apos;"sv, u'\'');
        } else if (letter == u'q') {
            is(u"&quot;"sv, u'"');
        } else if (letter == u'#') {
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
        } else if (letter == u'n') {
            keep_spaces |= is(u"&nbsp;"sv, u' ');
        } else if (letter == u'c') {
            is(u"&copy;"sv, 0x00A9);
        } else if (letter == u'r') {
            is(u"&reg;"sv, 0x00AE);
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
    if (only_spaces && !keep_spaces) return 0;
    return static_cast<std::size_t>(w - out);
}

}  // namespace

std::u16string UnescapeText(std::u16string_view t) {
    // Most text has nothing to replace; trimmed text without replacements is never all spaces.
    if (!NeedsUnescape(t) && t.find_first_not_of(u' ') != std::u16string_view::npos)
        return std::u16string(t);
    std::u16string out(t.size(), u'\0');
    out.resize(UnescapeTo(t, out.data()));
    return out;
}

// A start tag's attributes, read in one pass, come through here.
void CoXMLNode::BuildAttrs(const std::pair<std::u16string_view, std::u16string_view>* pairs,
                           std::size_t count, bool padded) {
    if (!attrs_.empty() || AttrIndex()) {
        attrs_.reserve(attrs_.size() + count);
        for (std::size_t k = 0; k < count; ++k) BuildAttr(pairs[k].first, pairs[k].second, padded);
        return;
    }
    attrs_.reserve(count);
    // A tag's names rarely repeat: a bit per name, chosen by its length and its first and
    // last characters, rules most of them out without comparing them with those before.
    std::uint64_t seen = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::u16string_view name = pairs[k].first;
        const std::u16string_view value = pairs[k].second;
        // The low five bits of a character survive folding.
        const std::size_t mark =
            name.empty() ? 0 : name.size() + (name.front() & 31u) + 2 * (name.back() & 31u);
        const std::uint64_t bit = std::uint64_t{1} << (mark & 63);
        if (seen & bit) {
            const auto same = std::find_if(attrs_.begin(), attrs_.end(),
                                           [&](const auto& a) { return NamesEqual(a.name, name); });
            if (same != attrs_.end()) {
                same->value.assign(value);
                continue;
            }
        }
        seen |= bit;
        attrs_.emplace_back(name, value, padded);
    }
}

// Slabs for the elements of one document: the first sized by the document's length (an
// element every 32 characters or more: a second slab for a few nodes costs more than room
// left unused), each further one twice the last, up to the largest.
class SlabSource {
public:
    explicit SlabSource(std::u16string_view x) : next_size_(x.size() / 32) {}
    ~SlabSource() {
        if (slab_) slab_->LetGo();
    }
    SlabSource(const SlabSource&) = delete;
    SlabSource& operator=(const SlabSource&) = delete;

    // Where the next node goes; null lets it take an allocation of its own.
    NodeSlab* Next() {
        if (slab_ && !slab_->Full()) return slab_;
        if (slab_) slab_->LetGo();
        const std::size_t nodes = std::clamp<std::size_t>(next_size_, 8, NodeSlab::kSlabNodes);
        next_size_ = 2 * nodes;
        slab_ = NodeSlab::Make(nodes);
        return slab_;
    }

private:
    std::size_t next_size_;
    NodeSlab* slab_ = nullptr;
};

namespace {

struct Open {
    CoXMLNode* node;          // kept alive by its parent (or by the caller for the top)
    std::u16string_view tag;  // as written; closed regardless of ASCII case
};
using AttrViews = std::vector<std::pair<std::u16string_view, std::u16string_view>>;

// The lists a parse works in. The thread keeps them between parses, so that reading a
// small document allocates nothing for them; a parse that finds them in use further up
// its own thread's stack works in lists of its own.
struct Lists {
    std::vector<Open> stack;
    AttrViews attrs;
    bool lent = false;
};
thread_local Lists t_lists;

class ListsLoan {
public:
    ListsLoan(std::vector<Open>* stack, AttrViews* attrs)
        : stack_(stack), attrs_(attrs), own_(!t_lists.lent) {
        if (!own_) return;
        t_lists.lent = true;
        stack_->swap(t_lists.stack);
        attrs_->swap(t_lists.attrs);
    }
    ~ListsLoan() {
        if (!own_) return;
        t_lists.lent = false;
        // Lists grown by an unusual document go rather than stay with the thread.
        constexpr std::size_t kKeep = 256;
        if (stack_->capacity() > kKeep || attrs_->capacity() > kKeep) return;
        stack_->clear();
        attrs_->clear();
        stack_->swap(t_lists.stack);
        attrs_->swap(t_lists.attrs);
    }
    ListsLoan(const ListsLoan&) = delete;
    ListsLoan& operator=(const ListsLoan&) = delete;

private:
    std::vector<Open>* stack_;
    AttrViews* attrs_;
    bool own_;
};

}  // namespace

namespace {

// The node a parse builds in: it lives on the parsing thread's stack for the parse alone and
// is never handed out, so it needs neither a heap block nor a module lock of its own.
class StagingNode final : public CoXMLNode {
public:
    StagingNode() : CoXMLNode(std::u16string_view()) {}
    STDMETHOD_(ULONG, AddRef)() override { return InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return InternalRelease(); }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return _InternalQueryInterface(riid, ppv);
    }
};

}  // namespace

// Reads a document into a private staging node, without locks (no other thread can see it),
// and hands the result to the target node in one step at the end.
class XmlReader {
public:
    static HRESULT Parse(std::u16string_view x, CoXMLNode* node, bool take_name) {
        StagingNode staging_node;
        CoXMLNode& staging = staging_node;
        staging.depth_ = node->Depth();
        staging.word_ = node->Word();
        std::u16string name;
        HRESULT hr;
        {
            // The strings and lists of the new nodes come from chunks of this parse. They take
            // more room than the document's own characters (list headers, attribute pairs of
            // 48 bytes): a first chunk of twice its size holds a small document's at once.
            ParseArena::Scope arena(2 * x.size() * sizeof(char16_t));
            hr = Read(x, &staging, node, &name);
        }
        if (take_name && !name.empty()) node->SetName(name);
        node->AdoptContent(staging, /*parents_set=*/true);
        return hr;
    }

private:
    // With `padded`, eight characters can be read from anywhere in `raw`.
    static void AddText(std::u16string_view raw, CoXMLNode* node, bool padded) {
        std::size_t b = 0, e = raw.size();
        while (b < e && IsTextSpace(raw[b])) ++b;
        while (e > b && IsTextSpace(raw[e - 1])) --e;
        if (b == e) return;
        const std::u16string_view text = raw.substr(b, e - b);
        // Trimmed text without entities or inner breaks is stored as it stands.
        const std::size_t first = FirstUnescaped(text);
        if (first == std::u16string_view::npos) {
            node->BuildText(text, padded);
            return;
        }
        // The rest is written straight into the string that keeps it.
        node->BuildText(NodeText::Write(
            text.size(), [&](char16_t* out) { return UnescapeTo(text, out, first); }));
    }

    static void AddAttributes(std::u16string_view list, CoXMLNode* node) {
        // One "=" per pair, give or take those inside values: room for all in one step.
        const auto pairs = std::count(list.begin(), list.end(), u'=');
        if (pairs > 0) node->attrs_.reserve(node->attrs_.size() + static_cast<std::size_t>(pairs));
        ReadPairs(list, false,
                  [node](std::u16string_view n, std::u16string_view v) { node->BuildAttr(n, v); });
    }

    // Builds under `top`; its children name `target` as their parent already, as they will
    // be its own.
    static HRESULT Read(std::u16string_view x, CoXMLNode* top, CoXMLNode* target,
                        std::u16string* top_name) {
        std::vector<Open> stack;
        AttrViews quick_attrs;
        const ListsLoan loan(&stack, &quick_attrs);
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
        QuickTag quick{{}, 0, false, &quick_attrs};
        // Opens the element of a start tag (the top first); null when it cannot be made. With
        // `padded`, eight characters can be read from the name's start.
        auto open = [&](std::u16string_view name, bool padded, HRESULT* hr) -> CoXMLNode* {
            if (!seen_top) {
                seen_top = true;
                top_name->assign(name);
                LowerTagName(top_name);
                return top;
            }
            CoXMLNode* parent = stack.back().node;
            if (parent->Depth() >= kMaxDepth) {
                *hr = E_INVALIDARG;
                return nullptr;
            }
            CoXMLNode* child = parent->BuildChild(name, slabs.Next(), padded);
            if (!child) {
                *hr = E_UNEXPECTED;
                return nullptr;
            }
            if (stack.size() == 1) {
                open_child = child;
                child->parent_ = target;
            }
            return child;
        };
        while (pos < n) {
            std::size_t lt = FindChar(x, pos, u'<');
            if (lt != pos && !stack.empty())  // most tags follow each other directly
                AddText(x.substr(pos, (lt == std::u16string_view::npos ? n : lt) - pos),
                        stack.back().node, lt != std::u16string_view::npos && n - lt >= 8);
            if (lt == std::u16string_view::npos) break;
            std::u16string_view at = x.substr(lt);

            // Literals as views: their lengths are known without scanning them each time.
            const char16_t mark = at.size() > 1 ? at[1] : 0;

            // The common tags in one pass; the rest takes the general way below.
            if (mark == u'/' && !stack.empty()) {
                const std::u16string_view open_tag = stack.back().tag;
                const std::size_t end = lt + 2 + open_tag.size();
                if (end < n && x[end] == u'>' && !IsQuote(open_tag[0]) &&
                    !open_tag.ends_with(u"--"sv) &&
                    SameTagChars(x.data() + lt + 2, n - lt - 2, open_tag, x.data() + n)) {
                    pos = end + 1;
                    stack.pop_back();
                    if (stack.empty()) return S_OK;
                    if (stack.size() == 1) open_child = nullptr;
                    continue;
                }
            } else if (mark != u'/' && mark != u'!' && mark != u'?' &&
                       ReadQuickStartTag(x, lt, &quick)) {
                pos = quick.gt + 1;
                // Every name and value of the tag lies before its end.
                const bool padded = n - quick.gt >= 8;
                HRESULT hr = S_OK;
                CoXMLNode* target = open(quick.name, padded, &hr);
                if (!target) return fail(hr);
                if (!quick_attrs.empty())
                    target->BuildAttrs(quick_attrs.data(), quick_attrs.size(), padded);
                if (quick.self_closed || SameTag(quick.name, u"br"sv) ||
                    SameTag(quick.name, u"tab"sv)) {
                    if (target == top) return S_OK;
                    if (stack.size() == 1) open_child = nullptr;
                    continue;
                }
                stack.push_back(Open{target, quick.name});
                continue;
            }
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

            HRESULT hr = S_OK;
            // A quoted name may have been joined in a buffer.
            CoXMLNode* target = open(name, name.data() == x.data() + ns && n - gt >= 8, &hr);
            if (!target) return fail(hr);
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
