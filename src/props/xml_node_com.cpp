// The COM face of a node: IMAttributes and IMNode over the node model, with the argument
// checks and result codes clients see.
#include <new>

#include "com/runtime.h"
#include "props/name_fold.h"
#include "props/value_text.h"
#include "props/xml_node.h"
#include "props/xml_schema.h"
#include "props/xml_text.h"

namespace XMLParse {
namespace {

using orvex::props::ParseBool;
using orvex::props::ParseDouble;
using orvex::props::ParseInt32;

std::u16string_view In(BSTR b) {
    return orvex::com::View(b);
}

HRESULT Out(std::u16string_view s, BSTR* out) {
    *out =
        SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// COM methods never let an exception out; the only one the tree raises is bad_alloc.
template <class F>
HRESULT Guard(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

// ---- IMAttributes

STDMETHODIMP CoXMLNode::AttributesGetCount(int* pnCount) {
    if (!pnCount) return E_POINTER;
    *pnCount = static_cast<int>(AttrCount());
    return *pnCount ? S_OK : S_FALSE;
}

STDMETHODIMP CoXMLNode::AttributesGetByIndex(int nIndex, BSTR* pbsName, BSTR* pbsValue) {
    if (pbsName) *pbsName = nullptr;
    if (pbsValue) *pbsValue = nullptr;
    return Guard([&]() -> HRESULT {
        Attribute a;
        if (nIndex < 0 || !AttrAt(static_cast<std::size_t>(nIndex), &a)) return E_INVALID_INDEX;
        if (pbsName && FAILED(Out(a.name, pbsName))) return E_OUTOFMEMORY;
        if (pbsValue && FAILED(Out(a.value, pbsValue))) {
            if (pbsName) {
                SysFreeString(*pbsName);
                *pbsName = nullptr;
            }
            return E_OUTOFMEMORY;
        }
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::AttributesRemove(BSTR bsName) {
    return Guard([&]() -> HRESULT {
        XMLNodePtr holder;
        std::u16string_view name;
        if (!ResolveAttrPath(In(bsName), false, holder, &name))
            return In(bsName).empty() ? E_INVALIDARG : E_NOT_FOUND;
        return holder->RemoveAttr(name) ? S_OK : E_NOT_FOUND;
    });
}

STDMETHODIMP CoXMLNode::AttributesRemoveAll() {
    RemoveAllAttrs();
    return S_OK;
}

HRESULT CoXMLNode::SetAttrAt(std::u16string_view path, std::u16string_view value,
                             std::size_t room) {
    return Guard([&]() -> HRESULT {
        XMLNodePtr holder;
        std::u16string_view name;
        if (!ResolveAttrPath(path, true, holder, &name)) return E_INVALIDARG;
        holder->SetAttr(name, value, true, room);
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::AttributesSet(BSTR bsName, BSTR bsValue) {
    return SetAttrAt(In(bsName), In(bsValue));
}

// Numbers are printed on the stack and written over the attribute's text in place, in room
// for any figure taken at the first write: the figures of a statistics node are rewritten
// with every frame, grow as a stream goes on, and take no memory for it.
STDMETHODIMP CoXMLNode::AttributesSetBool(BSTR bsName, int bValue) {
    return SetAttrAt(In(bsName), bValue ? std::u16string_view(u"true") : u"false");
}

STDMETHODIMP CoXMLNode::AttributesSetInt(BSTR bsName, int nValue) {
    char16_t text[orvex::props::kNumberTextRoom];
    return SetAttrAt(In(bsName), {text, orvex::props::PrintInt32To(nValue, text)},
                     NodeText::kFigureRoom);
}

STDMETHODIMP CoXMLNode::AttributesSetDouble(BSTR bsName, double dblValue) {
    char16_t text[orvex::props::kNumberTextRoom];
    return SetAttrAt(In(bsName), {text, orvex::props::PrintDoubleTo(dblValue, text)},
                     NodeText::kFigureRoom);
}

STDMETHODIMP CoXMLNode::AttributesGetOrDefault(BSTR bsName, int* pbFound, BSTR* pbsValue) {
    if (!pbsValue) return E_POINTER;
    *pbsValue = nullptr;
    if (pbFound) *pbFound = 0;
    return Guard([&]() -> HRESULT {
        XMLNodePtr holder;
        std::u16string_view name;
        std::u16string value;
        if (ResolveAttrPath(In(bsName), false, holder, &name) && holder->GetAttr(name, &value)) {
            if (pbFound) *pbFound = 1;
            return FAILED(Out(value, pbsValue)) ? E_OUTOFMEMORY : S_OK;
        }
        XMLNodePtr entry = FindSchemaEntryByPath(this, In(bsName));
        std::u16string def = SchemaInfo(entry, 2);
        if (!def.empty() && FAILED(Out(def, pbsValue))) return E_OUTOFMEMORY;
        return S_FALSE;
    });
}

STDMETHODIMP CoXMLNode::AttributesGet(BSTR bsName, BSTR* pbsValue) {
    if (!pbsValue) return E_POINTER;
    *pbsValue = nullptr;
    return Guard([&]() -> HRESULT {
        XMLNodePtr holder;
        std::u16string_view name;
        std::u16string value;
        if (!ResolveAttrPath(In(bsName), false, holder, &name) || !holder->GetAttr(name, &value))
            return E_NOT_FOUND;
        return Out(value, pbsValue);
    });
}

STDMETHODIMP CoXMLNode::AttributesGetInt(BSTR bsName, int* pnValue) {
    if (!pnValue) return E_POINTER;
    *pnValue = 0;
    CComBSTR v;
    HRESULT hr = AttributesGet(bsName, &v);
    if (hr == S_OK) *pnValue = ParseInt32(v.View());
    return hr;
}

STDMETHODIMP CoXMLNode::AttributesGetBool(BSTR bsName, int* pbValue) {
    if (!pbValue) return E_POINTER;
    *pbValue = 0;
    CComBSTR v;
    HRESULT hr = AttributesGet(bsName, &v);
    if (hr == S_OK) *pbValue = ParseBool(v.View()) ? 1 : 0;
    return hr;
}

STDMETHODIMP CoXMLNode::AttributesGetDouble(BSTR bsName, double* pdblValue) {
    if (!pdblValue) return E_POINTER;
    *pdblValue = 0.0;
    CComBSTR v;
    HRESULT hr = AttributesGet(bsName, &v);
    if (hr == S_OK) *pdblValue = ParseDouble(v.View());
    return hr;
}

STDMETHODIMP CoXMLNode::AttributesSetList(BSTR bsList, int nMode) {
    if (!bsList) return E_INVALIDARG;
    return Guard([&]() -> HRESULT {
        if (nMode == 2) RemoveAllAttrs();
        return ParseAttributeList(In(bsList), this) ? S_OK : S_FALSE;
    });
}

STDMETHODIMP CoXMLNode::AttributesListGet(BSTR* pbsList) {
    if (!pbsList) return E_POINTER;
    *pbsList = nullptr;
    return Guard([&]() -> HRESULT {
        std::u16string list;
        WriteAttributeList(*this, {}, &list);
        return Out(list, pbsList);
    });
}

STDMETHODIMP CoXMLNode::AttributesClone(IMAttributes** ppClone) {
    if (!ppClone) return E_POINTER;
    *ppClone = nullptr;
    return Guard([&]() -> HRESULT {
        XMLNodePtr clone = Create(u"m_attributes");
        if (!clone) return E_OUTOFMEMORY;
        for (const auto& a : Attributes()) clone->SetAttr(a.name, a.value);
        *ppClone = static_cast<IMAttributes*>(clone.Detach());
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::AttributesCopyFrom(IMAttributes* pSource, int nMode) {
    if (!pSource) return E_INVALIDARG;
    return Guard([&]() -> HRESULT {
        // Read the whole source first: it may be this node.
        int count = 0;
        pSource->AttributesGetCount(&count);
        std::vector<Attribute> pairs;
        for (int i = 0; i < count; ++i) {
            CComBSTR name, value;
            if (pSource->AttributesGetByIndex(i, &name, &value) != S_OK) continue;
            pairs.push_back(Attribute{std::u16string(name.View()), std::u16string(value.View())});
        }
        if (nMode == 2) RemoveAllAttrs();
        for (const auto& a : pairs)
            if (!a.name.empty()) SetAttr(a.name, a.value, nMode != 0);
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::AttributesInfoGetCount(int* pnCount) {
    if (!pnCount) return E_POINTER;
    *pnCount = 0;
    return Guard([&]() -> HRESULT {
        bool has_own = false;
        std::vector<std::u16string> names = SchemaNames(this, &has_own, false);
        *pnCount = static_cast<int>(names.size());
        return *pnCount ? S_OK : S_FALSE;
    });
}

STDMETHODIMP CoXMLNode::AttributesInfoGetByIndex(int nIndex, BSTR* pbsName) {
    if (!pbsName) return E_POINTER;
    *pbsName = nullptr;
    if (nIndex < 0) return E_INVALIDARG;
    return Guard([&]() -> HRESULT {
        bool has_own = false;
        std::vector<std::u16string> names = SchemaNames(this, &has_own, false);
        if (static_cast<std::size_t>(nIndex) >= names.size()) return E_INVALID_INDEX;
        return Out(names[static_cast<std::size_t>(nIndex)], pbsName);
    });
}

STDMETHODIMP CoXMLNode::AttributesInfoGet(BSTR bsName, int nType, BSTR* pbsInfo) {
    if (!pbsInfo) return E_POINTER;
    *pbsInfo = nullptr;
    if (In(bsName).empty() || nType < 0 || nType > 5) return E_INVALIDARG;
    return Guard([&]() -> HRESULT {
        std::u16string info = SchemaInfo(FindSchemaEntryByPath(this, In(bsName)), nType);
        if (info.empty()) return S_FALSE;
        return Out(info, pbsInfo);
    });
}

STDMETHODIMP CoXMLNode::AttributesInfoFieldGet(BSTR bsName, BSTR bsEntry, BSTR bsField,
                                               BSTR* pbsValue) {
    if (!pbsValue) return E_POINTER;
    *pbsValue = nullptr;
    if (In(bsName).empty() || In(bsEntry).empty()) return E_INVALIDARG;
    return Guard([&]() -> HRESULT {
        XMLNodePtr entry = FindSchemaEntryByPath(this, In(bsName));
        XMLNodePtr sub = entry ? entry->FindChild(In(bsEntry)) : nullptr;
        if (!sub) return S_FALSE;
        std::u16string v;
        if (In(bsField).empty())
            v = sub->Value();
        else if (!sub->GetAttr(In(bsField), &v))
            return S_FALSE;
        return Out(v, pbsValue);
    });
}

// ---- IMNode

STDMETHODIMP CoXMLNode::NodeNameGet(BSTR* pbsName) {
    if (!pbsName) return E_POINTER;
    *pbsName = nullptr;
    return Guard([&] { return Out(Name(), pbsName); });
}

STDMETHODIMP CoXMLNode::NodeNameSet(BSTR bsName) {
    if (In(bsName).empty()) return E_INVALIDARG;
    return Guard([&] {
        SetName(In(bsName));
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::NodeValueGet(BSTR* pbsValue) {
    if (!pbsValue) return E_POINTER;
    *pbsValue = nullptr;
    return Guard([&] { return Out(Value(), pbsValue); });
}

STDMETHODIMP CoXMLNode::NodeValueSet(BSTR bsValue) {
    return Guard([&] {
        SetValue(In(bsValue));
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::NodePathGet(BSTR* pbsPath, BSTR bsStopName) {
    if (!pbsPath) return E_POINTER;
    *pbsPath = nullptr;
    return Guard([&]() -> HRESULT {
        std::vector<std::u16string> names;
        const std::u16string_view stop = In(bsStopName);
        XMLNodePtr cur(this);
        for (XMLNodePtr parent = cur->ParentRef(); parent; parent = cur->ParentRef()) {
            std::u16string name = cur->Name();
            if (!stop.empty() && NamesEqual(name, stop)) break;
            names.push_back(std::move(name));
            cur = parent;
        }
        std::u16string path;
        for (auto it = names.rbegin(); it != names.rend(); ++it) {
            if (!path.empty()) path += u"::";
            path += *it;
        }
        Out(path, pbsPath);
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::NodeParentGet(IMNode** ppParent) {
    if (!ppParent) return E_POINTER;
    XMLNodePtr parent = ParentRef();
    *ppParent = parent.Detach();
    return *ppParent ? S_OK : S_FALSE;
}

STDMETHODIMP CoXMLNode::NodeDetach() {
    RemoveAllAttrs();
    ClearChildren();
    XMLNodePtr self(this);  // the parent's reference may be the last one
    XMLNodePtr parent = ParentRef();
    if (!parent) return S_FALSE;
    parent->RemoveChild(this);
    return S_OK;
}

STDMETHODIMP CoXMLNode::NodeChildCount(int* pnCount) {
    if (!pnCount) return E_POINTER;
    *pnCount = static_cast<int>(ElementChildCount());
    return S_OK;
}

STDMETHODIMP CoXMLNode::NodeChildGetByIndex(int nIndex, BSTR* pbsName, IMNode** ppChild) {
    if (pbsName) *pbsName = nullptr;
    if (ppChild) *ppChild = nullptr;
    return Guard([&]() -> HRESULT {
        std::vector<XMLNodePtr> children = ElementChildren();
        if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= children.size())
            return E_INVALID_INDEX;
        XMLNodePtr& child = children[static_cast<std::size_t>(nIndex)];
        if (pbsName && FAILED(Out(child->Name(), pbsName))) return E_OUTOFMEMORY;
        if (ppChild) *ppChild = child.Detach();
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::NodeChildAdd(BSTR bsPath, BSTR bsValue, IMNode** ppChild) {
    if (ppChild) *ppChild = nullptr;
    return Guard([&]() -> HRESULT {
        std::vector<std::u16string_view> steps;
        if (!SplitPath(In(bsPath), &steps)) return E_INVALIDARG;
        XMLNodePtr parent = Resolve(steps, steps.size() - 1, true);
        XMLNodePtr child = parent ? parent->AppendChild(steps.back()) : nullptr;
        if (!child) return E_FAIL;
        child->SetValue(In(bsValue));
        if (ppChild) *ppChild = child.Detach();
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::NodeChildGet(BSTR bsPath, int bCreate, IMNode** ppChild) {
    if (!ppChild) return E_POINTER;
    *ppChild = nullptr;
    return Guard([&]() -> HRESULT {
        std::vector<std::u16string_view> steps;
        if (!SplitPath(In(bsPath), &steps)) return E_INVALIDARG;
        XMLNodePtr node = Resolve(steps, steps.size(), bCreate != 0);
        if (!node) return bCreate ? E_FAIL : E_NOT_FOUND;
        *ppChild = node.Detach();
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::NodeChildRemove(BSTR bsPath) {
    return Guard([&]() -> HRESULT {
        XMLNodePtr node = ResolvePath(In(bsPath), false);
        if (!node || node.p == this) return S_FALSE;
        XMLNodePtr parent = node->ParentRef();
        return parent && parent->RemoveChild(node) ? S_OK : S_FALSE;
    });
}

STDMETHODIMP CoXMLNode::NodeClear(int bWithAttributes) {
    ClearChildren();
    if (bWithAttributes) RemoveAllAttrs();
    return S_OK;
}

STDMETHODIMP CoXMLNode::NodeXmlSet(BSTR bsXml, int bTakeName) {
    if (!bsXml) return E_INVALIDARG;
    return Guard([&] { return ParseXml(In(bsXml), this, bTakeName != 0); });
}

STDMETHODIMP CoXMLNode::NodeXmlGet(BSTR* pbsXml) {
    if (!pbsXml) return E_POINTER;
    *pbsXml = nullptr;
    return Guard([&] { return Out(WriteXml(*this, 0), pbsXml); });
}

STDMETHODIMP CoXMLNode::NodeClone(IMNode** ppClone) {
    if (!ppClone) return E_POINTER;
    *ppClone = nullptr;
    return Guard([&]() -> HRESULT {
        XMLNodePtr clone = Create(u"clone");
        if (!clone) return E_OUTOFMEMORY;
        HRESULT hr = clone->CopyFrom(*this);
        if (FAILED(hr)) return hr;
        *ppClone = clone.Detach();
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::NodeInfoGet(BSTR bsField, BSTR* pbsValue) {
    if (!pbsValue) return E_POINTER;
    *pbsValue = nullptr;
    return Guard([&]() -> HRESULT {
        std::u16string v;
        if (!NodeInfo(this, In(bsField), &v)) return S_FALSE;
        return Out(v, pbsValue);
    });
}

}  // namespace XMLParse
