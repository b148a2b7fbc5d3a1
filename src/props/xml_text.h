// The two text forms of the attribute tree: XML and the attribute list
// (name=value pairs separated by white space).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "com/types.h"

namespace XMLParse {

class CoXMLNode;

enum class QuoteEscape { kNo, kYes, kWhenPresent };

// Appends `node` in XML form at indent level `indent` (tabs, CR LF between children).
void WriteXml(const CoXMLNode& node, int indent, std::u16string* out);
std::u16string WriteXml(const CoXMLNode& node, int indent = 0);
void AppendEscaped(std::u16string_view text, QuoteEscape quotes, std::u16string* out);
// The value between quotes: single quotes unless it holds an apostrophe, then double quotes;
// a value with both is written as adjacent runs, each in the quote it does not hold
// ('it'"'s "'"x"' for it's "x"), which the readers join. Attribute and tag names that the
// plain form cannot carry are quoted the same way; element text escapes "<", ">", "&",
// breaks, tabs and spaces at either end.
void AppendQuotedValue(std::u16string_view value, std::u16string* out);

struct AttributeListOptions {
    std::u16string_view prefix;                         // put before every name
    const std::vector<std::u16string>* skip = nullptr;  // names left out, any case
    bool with_node_value = false;                       // the text first, as "_node_value"
};
// " name='value'" for every attribute, in list order.
void WriteAttributeList(const CoXMLNode& node, const AttributeListOptions& options,
                        std::u16string* out);

// Reads pairs from attribute-list text; `bare_names` also reports names without "=" (with an
// empty value). Returns whether at least one pair was found.
bool ReadAttributeList(
    std::u16string_view text, bool bare_names,
    const std::function<void(std::u16string_view name, std::u16string_view value)>& pair);
// Sets the pairs as attributes of `node`.
bool ParseAttributeList(std::u16string_view text, CoXMLNode* node, bool overwrite = true,
                        bool bare_names = false);

// Element text of XML to plain text (entities, character references, white space).
std::u16string UnescapeText(std::u16string_view text);

// Replaces the children and attributes of `node` by the parsed document. On a parse error
// the node keeps what was read before the error. E_INVALIDARG for input without a tag, for
// malformed tags, unterminated elements and nesting beyond kMaxDepth.
HRESULT ParseXml(std::u16string_view xml, CoXMLNode* node, bool take_name);

}  // namespace XMLParse
