// Writing the tree's text forms: XML and the attribute list.
#include <algorithm>
#include <deque>

#include "props/name_fold.h"
#include "props/xml_chars.h"
#include "props/xml_node.h"
#include "props/xml_text.h"

namespace XMLParse {
namespace {

using namespace std::string_view_literals;
using namespace text_detail;

constexpr int kMaxTabs = 64;

void AppendTabs(int n, std::u16string* out) {
    if (n > 0) out->append(static_cast<std::size_t>(std::min(n, kMaxTabs)), u'\t');
}

}  // namespace

namespace {

void AppendAttributeName(std::u16string_view name, std::u16string* out) {
    for (char16_t c : name) {
        if (c > u'>' && c < 0xFFEE) continue;  // letters, digits above "?" and most others
        if (IsListSpace(c) || IsQuote(c) || c == u'=' || c == u'<' || c == u'>') {
            AppendQuotedValue(name, out);
            return;
        }
    }
    out->append(name);
}

void AppendTagName(std::u16string_view name, bool has_content, std::u16string* out) {
    bool quote = name.empty() || name[0] == u'!' || name[0] == u'?' || name.back() == u'-' ||
                 (has_content && (SameTag(name, u"br"sv) || SameTag(name, u"tab"sv)));
    for (std::size_t i = 0; i < name.size() && !quote; ++i)
        quote = EndsTagName(name[i]) || IsQuote(name[i]);
    if (quote)
        AppendQuotedValue(name, out);
    else
        out->append(name);
}

void AppendElementText(std::u16string_view text, std::u16string* out) {
    // Breaks and tabs would read back as spaces, and spaces at either end would be trimmed:
    // those go out as character references.
    std::size_t lead = 0, trail = text.size();
    while (lead < trail && text[lead] == u' ') ++lead;
    while (trail > lead && text[trail - 1] == u' ') --trail;
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c > u'>') continue;
        std::u16string_view entity;
        switch (c) {
            case u'<':
                entity = u"&lt;";
                break;
            case u'>':
                entity = u"&gt;";
                break;
            case u'&':
                entity = u"&amp;";
                break;
            case u'\t':
                entity = u"&#x9;";
                break;
            case u'\n':
                entity = u"&#xA;";
                break;
            case u'\r':
                entity = u"&#xD;";
                break;
            case u' ':
                if (i < lead || i >= trail) entity = u"&#x20;";
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
    bool apostrophe = false, quote = false;
    for (char16_t c : value) {
        if (c > u'\'') continue;
        apostrophe |= c == u'\'';
        quote |= c == u'"';
    }
    if (!apostrophe || !quote) {
        const char16_t q = apostrophe ? u'"' : u'\'';
        out->push_back(q);
        out->append(value);
        out->push_back(q);
        return;
    }
    // Both quotes: adjacent runs, each in the quote it does not hold: it's "x" goes out as
    // 'it'"'s "'"x"'.
    while (!value.empty()) {
        const char16_t q = value[0] == u'\'' ? u'"' : u'\'';
        std::size_t end = std::min(value.find(q), value.size());
        out->push_back(q);
        out->append(value.substr(0, end));
        out->push_back(q);
        value.remove_prefix(end);
    }
}

void WriteAttributeList(const CoXMLNode& node, const AttributeListOptions& options,
                        std::u16string* out) {
    if (options.with_node_value) {
        out->append(u" _node_value=");
        AppendQuotedValue(node.Value(), out);
    }
    orvex::props::CRWSynchroLiteGuard lock(node.AttributesLock(), orvex::props::LockMode::kWrite);
    for (const auto& a : node.AttributesUnlocked()) {
        if (options.skip &&
            std::any_of(options.skip->begin(), options.skip->end(),
                        [&](const std::u16string& s) { return NamesEqual(s, a.name); }))
            continue;
        out->push_back(u' ');
        if (options.prefix.empty()) {
            AppendAttributeName(a.name, out);
        } else {
            std::u16string prefixed(options.prefix);
            prefixed += a.name;
            AppendAttributeName(prefixed, out);
        }
        out->push_back(u'=');
        AppendQuotedValue(a.value, out);
    }
}

namespace {

// What a node's children are written from: taken under the node's lock and written without
// it, so that a deep tree never has a lock per level held at once. One list per depth is
// reused for every node at that depth, with the strings keeping their buffers.
struct Piece {
    XMLNodePtr element;   // or null for text
    std::u16string text;  // a text run's text
};
using PieceLists = std::deque<std::vector<Piece>>;

void WriteNode(const CoXMLNode& node, int indent, std::size_t level, PieceLists* lists,
               std::u16string* out) {
    AppendTabs(indent, out);
    const std::u16string name = node.Name();
    if (lists->size() <= level) lists->emplace_back();
    std::vector<Piece>& pieces = (*lists)[level];
    std::size_t count = 0;
    std::size_t tag_at = 0, tag_size = 0;  // the tag as the start tag wrote it
    // The end tag repeats it; reserving first keeps the copied range in place.
    auto end_tag = [&] {
        out->reserve(out->size() + tag_size + 3);
        out->append(u"</");
        out->append(std::u16string_view(*out).substr(tag_at, tag_size));
        out->push_back(u'>');
    };
    auto next = [&]() -> Piece& {
        if (count == pieces.size()) pieces.emplace_back();
        return pieces[count++];
    };
    {
        orvex::props::CRWSynchroLiteGuard lock(node.ChildrenLock(), orvex::props::LockMode::kWrite);
        const auto& children = node.ChildrenUnlocked();
        const auto& texts = node.TextsUnlocked();
        const bool has_text = std::any_of(texts.begin(), texts.end(),
                                          [](const TextRun& t) { return !t.text.empty(); });
        out->push_back(u'<');
        tag_at = out->size();
        AppendTagName(name, has_text || !children.empty(), out);
        tag_size = out->size() - tag_at;
        WriteAttributeList(node, {}, out);  // children lock, then attributes lock
        if (children.empty()) {
            // A leaf takes no further lock, so its text can go out at once.
            if (!has_text) {
                out->append(u"/>");
                return;
            }
            out->push_back(u'>');
            for (const auto& t : texts) AppendElementText(t.text, out);
            end_tag();
            return;
        }
        auto t = texts.begin();
        for (std::size_t i = 0; i <= children.size(); ++i) {
            for (; t != texts.end() && t->before == i; ++t) {
                if (t->text.empty() && !(t == texts.begin() && has_text)) continue;
                Piece& p = next();
                p.element = nullptr;
                p.text.assign(t->text);
            }
            if (i < children.size()) next().element = children[i];
        }
    }
    out->push_back(u'>');
    for (std::size_t i = 0; i < count; ++i) {
        // The list at this level is not touched by the deeper calls.
        XMLNodePtr element = std::move(pieces[i].element);
        out->append(u"\r\n");
        if (element) {
            WriteNode(*element, indent + 1, level + 1, lists, out);
        } else {
            AppendTabs(indent + 1, out);
            // An empty first run before later text keeps the node's value empty on reading.
            if (pieces[i].text.empty())
                out->append(u"<![CDATA[]]>");
            else
                AppendElementText(pieces[i].text, out);
        }
    }
    out->append(u"\r\n");
    AppendTabs(indent, out);
    end_tag();
}

}  // namespace

void WriteXml(const CoXMLNode& node, int indent, std::u16string* out) {
    PieceLists lists;
    WriteNode(node, indent, 0, &lists, out);
}

std::u16string WriteXml(const CoXMLNode& node, int indent) {
    std::u16string out;
    WriteXml(node, indent, &out);
    return out;
}

}  // namespace XMLParse
