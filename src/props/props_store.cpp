#include "props/props_store.h"

#include "com/runtime.h"
#include "props/module_facts.h"
#include "props/name_fold.h"
#include "props/value_check.h"
#include "props/xml_schema.h"
#include "props/xml_text.h"

namespace orvex::props {
namespace {

using XMLParse::CoXMLNode;
using XMLParse::XMLNodePtr;

HRESULT Out(std::u16string_view s, BSTR* out) {
    *out =
        SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

ValueKind ClassifyValue(std::u16string_view value) {
    // A document that starts with a tag is XML even when no tag carries an attribute, so
    // that the text PropsGet("") returns can always be written back.
    // The writer quotes a top name that is not plain ("<'my root'>"); any other name that
    // starts the text and a ">" that ends it mark XML as well.
    std::size_t first = value.find_first_not_of(u" \t\r\n");
    if (first != std::u16string_view::npos && first + 1 < value.size() && value[first] == u'<') {
        char16_t c = value[first + 1];
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' || c == u'?' ||
            c == u'!' || c == u'\'' || c == u'"' || c >= 0x80)
            return ValueKind::kXml;
        std::size_t last = value.find_last_not_of(u" \t\r\n");
        if (value[last] == u'>' && c != u' ' && c != u'\t' && c != u'\r' && c != u'\n' &&
            c != u'<' && c != u'>' && c != u'/' && c != u'=')
            return ValueKind::kXml;
    }
    bool eq = false, lt = false;
    char16_t quote = 0;
    for (char16_t c : value) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == u'\'' || c == u'"') {
            quote = c;
        } else if (c == u'=') {
            eq = true;
        } else if (c == u'<') {
            lt = true;
        }
    }
    if (!eq) return ValueKind::kText;
    return lt ? ValueKind::kXml : ValueKind::kAttributeList;
}

PropsStore::PropsStore() : root_(CoXMLNode::Create(u"m-props")) {}

HRESULT PropsStore::SetLocked(std::u16string_view name, BSTR value) {
    if (!root_) return E_FAIL;
    const std::u16string_view v = com::View(value);
    if (name.empty()) {
        if (!value) return E_INVALIDARG;
        if (v.empty()) {
            // The schema stays: it is the renderer's declaration, not a setting.
            root_->RemoveAllAttrs();
            root_->ClearChildren(/*keep_schema=*/true);
            return S_OK;
        }
        switch (ClassifyValue(v)) {
            case ValueKind::kText:
                root_->SetValue(v);
                return S_OK;
            case ValueKind::kAttributeList:
                return XMLParse::ParseAttributeList(v, root_) ? S_OK : E_FAIL;
            case ValueKind::kXml:
                return XMLParse::ParseXml(v, root_, /*take_name=*/true);
        }
        return E_UNEXPECTED;
    }
    std::vector<std::u16string_view> steps;
    if (!XMLParse::SplitPath(name, &steps)) return E_INVALIDARG;
    if (XMLNodePtr node = root_->Resolve(steps, steps.size(), false)) {
        node->SetValue(v);
        return S_OK;
    }
    // A bounded property takes only numbers within its bounds: a queue of a million frames or
    // a keyer level of 300 is refused, not acted on.
    if (!BoundsRefusal(XMLParse::FindSchemaEntryByPath(root_, name), v).empty())
        return E_INVALIDARG;
    XMLNodePtr holder = root_->Resolve(steps, steps.size() - 1, true);
    if (!holder) return E_INVALIDARG;
    holder->SetAttr(steps.back(), v);
    // "a" = 5 followed by "a::b" = 6 makes "a" a node whose text is 5.
    if (steps.size() >= 2) {
        XMLNodePtr owner = root_->Resolve(steps, steps.size() - 2, false);
        std::u16string old;
        const std::u16string_view attr = steps[steps.size() - 2];
        if (owner && owner->GetAttr(attr, &old)) {
            holder->SetValue(old);
            owner->RemoveAttr(attr);
        }
    }
    return S_OK;
}

HRESULT PropsStore::GetLocked(std::u16string_view name, BSTR* value) const {
    *value = nullptr;
    if (!root_) return E_FAIL;
    if (name.empty()) return Out(XMLParse::WriteXml(*root_, 0), value);
    if (auto fixed = FixedPropertyText(name, CurrentModuleFacts())) return Out(*fixed, value);
    std::u16string text;
    if (AttributeLocked(name, &text)) return Out(text, value);
    if (XMLNodePtr node = root_->ResolvePath(name, false)) {
        text = node->Value();
        if (text.empty()) XMLParse::WriteAttributeList(*node, {}, &text);
        return Out(text, value);
    }
    return S_FALSE;
}

bool PropsStore::AttributeLocked(std::u16string_view name, std::u16string* value) const {
    XMLNodePtr holder;
    std::u16string_view attr;
    return root_ && root_->ResolveAttrPath(name, false, holder, &attr) &&
           holder->GetAttr(attr, value);
}

void PropsStore::RebuildInfoNames(CoXMLNode* node) {
    bool has_own = false;
    info_names_ = XMLParse::SchemaNames(node, &has_own);
}

HRESULT PropsStore::GetCountLocked(std::u16string_view node_name, int* count) {
    *count = 0;
    if (!root_) return E_FAIL;
    XMLNodePtr node = node_name.empty() ? root_ : root_->ResolvePath(node_name, false);
    if (!node) return E_INVALIDARG;
    RebuildInfoNames(node);
    std::size_t n = info_names_.empty() ? node->AttrCount() : info_names_.size();
    *count = static_cast<int>(n + node->ElementChildCount());
    return S_OK;
}

HRESULT PropsStore::GetByIndexLocked(std::u16string_view node_name, int index, BSTR* name,
                                     BSTR* value, BOOL* is_node) {
    if (name) *name = nullptr;
    if (value) *value = nullptr;
    if (is_node) *is_node = 0;
    if (!root_) return E_FAIL;
    auto give = [&](std::u16string_view n, const std::u16string* v) -> HRESULT {
        if (name && FAILED(Out(n, name))) return E_OUTOFMEMORY;
        if (value && v && FAILED(Out(*v, value))) return E_OUTOFMEMORY;
        return S_OK;
    };
    XMLNodePtr node = node_name.empty() ? root_ : root_->ResolvePath(node_name, false);
    if (!node) {
        if (!XMLParse::NamesEqual(node_name, u"_info_")) return E_INVALIDARG;
        XMLNodePtr schema = root_->FindChild(XMLParse::kSchemaName);
        std::vector<XMLNodePtr> entries;
        if (schema) entries = schema->ElementChildren();
        if (index < 0 || static_cast<std::size_t>(index) >= entries.size()) return E_INVALID_INDEX;
        const std::u16string entry = entries[static_cast<std::size_t>(index)]->Name();
        std::u16string current;
        return give(entry, root_->GetAttr(entry, &current) ? &current : nullptr);
    }
    if (index < 0) return E_INVALID_INDEX;
    // Rebuilt for the node asked about: the list the last count left may describe another.
    RebuildInfoNames(node);
    auto i = static_cast<std::size_t>(index);
    if (!info_names_.empty()) {
        if (i < info_names_.size()) {
            std::u16string v;
            return give(info_names_[i], node->GetAttr(info_names_[i], &v) ? &v : nullptr);
        }
        i -= info_names_.size();
    } else {
        XMLParse::Attribute a;
        if (node->AttrAt(i, &a)) return give(a.name, &a.value);
        i -= node->AttrCount();
    }
    std::vector<XMLNodePtr> children = node->ElementChildren();
    if (i >= children.size()) return E_INVALID_INDEX;
    const std::u16string text = children[i]->Value();
    HRESULT hr = give(children[i]->Name(), &text);
    if (SUCCEEDED(hr) && is_node) *is_node = 1;
    return hr;
}

HRESULT PropsStore::RemoveLocked(std::u16string_view name) {
    if (!root_) return E_FAIL;
    if (XMLParse::NamesEqual(name, u"_all_props_")) {
        root_->RemoveAllAttrs();
        return S_OK;
    }
    if (XMLParse::NamesEqual(name, u"_all_nodes_")) {
        root_->ClearChildren(/*keep_schema=*/true);
        return S_OK;
    }
    XMLNodePtr holder;
    std::u16string_view attr;
    if (root_->ResolveAttrPath(name, false, holder, &attr) && holder->RemoveAttr(attr)) return S_OK;
    if (XMLNodePtr node = root_->ResolvePath(name, false))
        if (XMLNodePtr parent = node->ParentRef())
            if (parent->RemoveChild(node)) return S_OK;
    return E_INVALIDARG;
}

HRESULT PropsStore::InfoGetLocked(std::u16string_view name, int type, BSTR* info) const {
    *info = nullptr;
    if (!root_) return E_FAIL;
    std::u16string text = XMLParse::SchemaInfo(XMLParse::FindSchemaEntryByPath(root_, name), type);
    if (text.empty()) return S_FALSE;
    return Out(text, info);
}

std::vector<std::u16string> PropsStore::OptionsLocked(std::u16string_view name) const {
    if (!root_ || name.empty()) return {};
    return XMLParse::SplitOptions(
        XMLParse::SchemaInfo(XMLParse::FindSchemaEntryByPath(root_, name), 3));
}

std::u16string PropsStore::OptionHelpLocked(std::u16string_view name,
                                            std::u16string_view item) const {
    if (!root_ || name.empty() || item.empty()) return {};
    XMLNodePtr entry = XMLParse::FindSchemaEntryByPath(root_, name);
    XMLNodePtr option = entry ? entry->FindChild(item) : nullptr;
    return option ? option->Value() : std::u16string();
}

}  // namespace orvex::props
