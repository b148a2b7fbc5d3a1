// Schema lookups: the "attributes_info" children that describe a node's attributes and
// nodes, their entries and the "inherit" chains between them.
#include "props/xml_schema.h"

#include "props/name_fold.h"
#include "props/value_text.h"

namespace XMLParse {
namespace {

using orvex::props::ParseBool;

// "inherit" chains are followed at most this far, so a cycle cannot hang a lookup.
constexpr int kMaxInheritSteps = 64;

bool InheritAllowed(CoXMLNode* schema) {
    std::u16string v;
    if (!schema->GetAttr(u"inherit", &v)) return true;
    return ParseBool(v);
}

XMLNodePtr NodeEntry(CoXMLNode* schema, std::u16string_view node_name) {
    XMLNodePtr e = schema->FindChild(node_name);
    if (!e) {
        std::size_t dot = node_name.find(u'.');
        if (dot != std::u16string_view::npos) e = schema->FindChild(node_name.substr(0, dot));
    }
    return e;
}

XMLNodePtr EntryInChain(CoXMLNode* schema, XMLNodePtr node_entry, std::u16string_view name) {
    for (int i = 0; node_entry && i < kMaxInheritSteps; ++i) {
        if (XMLNodePtr e = node_entry->FindChild(name)) return e;
        std::u16string inherit;
        if (!node_entry->GetAttr(u"inherit", &inherit)) return nullptr;
        node_entry = schema->FindChild(inherit);
    }
    return nullptr;
}

// The three search steps. `own` is the described node when it exists, `parent` its parent,
// `start` the nearest existing node from it towards the root.
XMLNodePtr FindEntry(CoXMLNode* own, CoXMLNode* parent, CoXMLNode* start,
                     std::u16string_view node_name, std::u16string_view name) {
    XMLNodePtr own_schema = own ? own->FindChild(kSchemaName) : nullptr;
    if (own_schema)
        if (XMLNodePtr e = own_schema->FindChild(name)) return e;
    if (parent && (!own_schema || InheritAllowed(own_schema))) {
        if (XMLNodePtr ps = parent->FindChild(kSchemaName))
            if (XMLNodePtr e = ps->FindChild(name)) return e;
    }
    for (XMLNodePtr x(start); x; x = x->ParentRef()) {
        if (XMLNodePtr s = x->FindChild(kSchemaName))
            return EntryInChain(s, NodeEntry(s, node_name), name);
    }
    return nullptr;
}

void AddUnique(std::vector<std::u16string>* names, std::u16string_view name) {
    for (const auto& n : *names)
        if (NamesEqual(n, name)) return;
    names->emplace_back(name);
}

void AddEntryNames(CoXMLNode* schema_or_entry, std::vector<std::u16string>* names) {
    for (const auto& c : schema_or_entry->ElementChildren()) AddUnique(names, c->Name());
}

}  // namespace

XMLNodePtr FindSchemaEntry(CoXMLNode* node, std::u16string_view name) {
    XMLNodePtr parent = node->ParentRef();
    return FindEntry(node, parent, node, node->Name(), name);
}

XMLNodePtr FindSchemaEntryByPath(CoXMLNode* start, std::u16string_view path) {
    std::vector<std::u16string_view> steps;
    if (!SplitPath(path, &steps)) return nullptr;
    const std::size_t node_steps = steps.size() - 1;
    XMLNodePtr deepest(start);
    std::size_t found = 0;
    while (found < node_steps) {
        XMLNodePtr next = deepest->FindChild(steps[found]);
        if (!next) break;
        deepest = next;
        ++found;
    }
    if (found == node_steps) return FindSchemaEntry(deepest, steps.back());
    // The described node does not exist yet: search for it by name from its nearest
    // existing ancestor.
    CoXMLNode* parent = found + 1 == node_steps ? deepest.p : nullptr;
    return FindEntry(nullptr, parent, deepest, steps[node_steps - 1], steps.back());
}

std::u16string SchemaInfo(CoXMLNode* entry, int type) {
    static constexpr std::u16string_view kFields[] = {u"",       u"type", u"default",
                                                      u"values", u"min",  u"max"};
    if (!entry || type < 0 || type > 5) return {};
    if (type == 0) return entry->Value();
    std::u16string v;
    entry->GetAttr(kFields[type], &v);
    if (type != 3 || !v.empty()) return v;
    std::u16string select;
    if (entry->GetAttr(u"select_from", &select) && !entry->HasElementChildren()) {
        if (XMLNodePtr schema = entry->ParentRef())
            if (XMLNodePtr other = schema->FindChild(select)) other->GetAttr(u"values", &v);
    }
    if (!v.empty()) return v;
    for (const auto& option : entry->ElementChildren()) {
        if (!v.empty()) v.push_back(u'|');
        v += option->Name();
    }
    return v;
}

std::vector<std::u16string> SchemaNames(CoXMLNode* node, bool* has_own, bool with_attributes) {
    std::vector<std::u16string> names;
    XMLNodePtr own = node->FindChild(kSchemaName);
    *has_own = own != nullptr;
    if (own) {
        AddEntryNames(own, &names);
        if (InheritAllowed(own))
            if (XMLNodePtr parent = node->ParentRef())
                if (XMLNodePtr ps = parent->FindChild(kSchemaName)) AddEntryNames(ps, &names);
    } else {
        const std::u16string node_name = node->Name();
        for (XMLNodePtr x = node->ParentRef(); x; x = x->ParentRef()) {
            XMLNodePtr s = x->FindChild(kSchemaName);
            if (!s) continue;
            XMLNodePtr e = NodeEntry(s, node_name);
            for (int i = 0; e && i < kMaxInheritSteps; ++i) {
                AddEntryNames(e, &names);
                std::u16string inherit;
                if (!e->GetAttr(u"inherit", &inherit)) break;
                e = s->FindChild(inherit);
            }
            break;
        }
    }
    if (with_attributes && (*has_own || !names.empty()))
        for (const auto& a : node->Attributes()) AddUnique(&names, a.name);
    return names;
}

std::vector<std::u16string> SplitOptions(std::u16string_view values) {
    std::vector<std::u16string> items;
    const bool bars = values.find(u'|') != std::u16string_view::npos;
    auto is_sep = [bars](char16_t c) {
        if (bars) return c == u'|';
        return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u';' || c == u',';
    };
    std::size_t start = 0;
    for (std::size_t i = 0; i <= values.size(); ++i) {
        if (i < values.size() && !is_sep(values[i])) continue;
        if (i > start) items.emplace_back(values.substr(start, i - start));
        start = i + 1;
    }
    return items;
}

bool NodeInfo(CoXMLNode* node, std::u16string_view field, std::u16string* value) {
    const std::u16string name = node->Name();
    for (XMLNodePtr x(node); x; x = x->ParentRef()) {
        XMLNodePtr schema = x->FindChild(kSchemaName);
        if (!schema) continue;
        XMLNodePtr entry = schema->FindChild(name);
        if (!entry) return false;
        if (field.empty()) {
            *value = entry->Value();
            return true;
        }
        for (int i = 0; entry && i < kMaxInheritSteps; ++i) {
            if (entry->GetAttr(field, value)) return true;
            std::u16string inherit;
            if (!entry->GetAttr(u"inherit", &inherit)) break;
            entry = schema->FindChild(inherit);
        }
        return false;
    }
    return false;
}

}  // namespace XMLParse
