#include "props/xml_node.h"

#include <algorithm>
#include <new>

#include "com/runtime.h"
#include "props/name_fold.h"
#include "props/value_text.h"
#include "props/xml_text.h"

namespace XMLParse {
namespace {

using orvex::props::CRWSynchroLiteGuard;
using orvex::props::LockMode;
using orvex::props::ParseBool;
using orvex::props::ParseDouble;
using orvex::props::ParseInt32;
using orvex::props::PrintBool;
using orvex::props::PrintDouble;
using orvex::props::PrintInt32;

constexpr std::size_t kLinearAttrs = 8;
constexpr std::size_t kLinearChildren = 16;
// "inherit" chains are followed at most this far, so a cycle cannot hang a lookup.
constexpr int kMaxInheritSteps = 64;
const std::uint64_t kSchemaHash = NameHash(kSchemaName);

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

bool SplitPath(std::u16string_view path, std::vector<std::u16string_view>* steps) {
    steps->clear();
    for (;;) {
        std::size_t sep = path.find(u"::");
        std::u16string_view step = path.substr(0, sep);
        if (step.empty()) return false;
        steps->push_back(step);
        if (sep == std::u16string_view::npos) return true;
        path.remove_prefix(sep + 2);
    }
}

// ---- Node structure

CoXMLNode::~CoXMLNode() {
    // No lock of our own: with the count at zero nobody else can reach this node.
    for (auto& c : children_) {
        // A childless node that only we hold cannot be reached by anyone: nobody can be
        // reading its parent pointer, so the lock can be skipped (most nodes are leaves).
        if (c->m_dwRef.load(std::memory_order_acquire) == 1 && c->children_.empty())
            c->parent_ = nullptr;
        else
            c->SetParent(nullptr);
    }
}

XMLNodePtr CoXMLNode::Create(std::u16string_view name, CoXMLNode* parent, std::uintptr_t word) {
    int depth = parent ? parent->depth_ + 1 : 0;
    if (depth > kMaxDepth) return nullptr;
    CComObject<CoXMLNode>* p = nullptr;
    if (FAILED(CComObject<CoXMLNode>::CreateInstance(&p))) return nullptr;
    XMLNodePtr node(p);
    p->name_.assign(name);
    p->name_hash_.store(NameHash(name), std::memory_order_release);
    p->parent_ = parent;
    p->depth_ = depth;
    p->word_ = word;
    return node;
}

XMLNodePtr CoXMLNode::CreateTextRun(std::u16string_view text) {
    // A detached copy with no parent: it is not among any node's children.
    XMLNodePtr run = Create(u"");
    if (!run) return nullptr;
    run->text_run_ = true;
    run->text_.assign(text);
    return run;
}

CoXMLNode* CoXMLNode::From(IMNode* node) {
    return node ? static_cast<CoXMLNode*>(node->NodeInternalGet()) : nullptr;
}

std::u16string CoXMLNode::Name() const {
    CRWSynchroLiteGuard lock(node_lock_, LockMode::kRead);
    return name_;
}

void CoXMLNode::SetName(std::u16string_view name) {
    {
        CRWSynchroLiteGuard lock(node_lock_, LockMode::kWrite);
        name_.assign(name);
        name_hash_.store(NameHash(name), std::memory_order_release);
    }
    if (XMLNodePtr parent = ParentRef()) parent->InvalidateChildIndex();
}

void CoXMLNode::SetParent(CoXMLNode* parent) {
    CRWSynchroLiteGuard lock(node_lock_, LockMode::kWrite);
    parent_ = parent;
}

XMLNodePtr CoXMLNode::ParentRef() const {
    CRWSynchroLiteGuard lock(node_lock_, LockMode::kRead);
    CoXMLNode* p = parent_;
    if (!p) return nullptr;
    // A parent whose count already reached zero is being destroyed: it clears this pointer
    // under our lock before its memory goes, so the count can be read safely here.
    LONG count = p->m_dwRef.load(std::memory_order_acquire);
    while (count > 0) {
        if (p->m_dwRef.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel)) {
            XMLNodePtr ref;
            ref.Attach(p);
            return ref;
        }
    }
    return nullptr;
}

void CoXMLNode::InvalidateChildIndex() {
    CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
    child_index_.reset();
}

std::u16string CoXMLNode::Value() const {
    CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
    return texts_.empty() ? std::u16string() : texts_.front().text;
}

void CoXMLNode::SetValue(std::u16string_view text) {
    CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
    if (!texts_.empty()) {
        texts_.front().text.assign(text);
        return;
    }
    if (text.empty() || text_run_) return;
    texts_.push_back(TextRun{std::u16string(text), children_.size()});
}

void CoXMLNode::AddText(std::u16string_view text) {
    if (text.empty() || text_run_) return;
    CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
    BuildText(text);
}

void CoXMLNode::BuildText(std::u16string_view text) {
    if (text.empty()) return;
    // Text right after text (nothing between them) joins it.
    if (!texts_.empty() && texts_.back().before == children_.size()) {
        texts_.back().text.append(text);
        return;
    }
    texts_.push_back(TextRun{std::u16string(text), children_.size()});
}

void CoXMLNode::BuildText(std::u16string&& text) {
    if (!text.empty() && (texts_.empty() || texts_.back().before != children_.size()))
        texts_.push_back(TextRun{std::move(text), children_.size()});
    else
        BuildText(std::u16string_view(text));
}

void CoXMLNode::BuildEmptyRun() {
    if (texts_.empty() || texts_.back().before != children_.size())
        texts_.push_back(TextRun{std::u16string(), children_.size()});
}

void CoXMLNode::ElementRemovedAt(std::size_t index) {
    for (auto& t : texts_)
        if (t.before > index) --t.before;
}

CoXMLNode* CoXMLNode::BuildChild(std::u16string_view name) {
    XMLNodePtr child = Create(name, this, word_);
    if (!child) return nullptr;
    // Most elements have a few children: skip the 1, 2, 4 growth steps.
    if (children_.capacity() == 0) children_.reserve(4);
    children_.push_back(std::move(child));
    return children_.back().p;
}

void CoXMLNode::BuildAttr(std::u16string_view name, std::u16string_view value) {
    std::size_t i = FindAttrUnlocked(name);
    if (i != std::u16string_view::npos) {
        attrs_[i].value.assign(value);
        return;
    }
    if (attrs_.capacity() == 0) attrs_.reserve(4);
    Attribute& added = attrs_.emplace_back();
    try {
        added.name.assign(name);
        added.value.assign(value);
    } catch (...) {
        attrs_.pop_back();
        throw;
    }
    if (attr_index_) attr_index_->emplace(NameHash(name), attrs_.size() - 1);
}

void CoXMLNode::UnbuildChild(CoXMLNode* child) {
    auto it = std::find_if(children_.begin(), children_.end(),
                           [&](const XMLNodePtr& c) { return c.p == child; });
    if (it == children_.end()) return;
    ElementRemovedAt(static_cast<std::size_t>(it - children_.begin()));
    children_.erase(it);
}

void CoXMLNode::AdoptContent(CoXMLNode& built) {
    {
        CRWSynchroLiteGuard lock(attributes_lock_, LockMode::kWrite);
        attrs_.swap(built.attrs_);
        attr_index_.reset();
    }
    std::vector<XMLNodePtr> old;
    {
        CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
        old.swap(children_);
        children_.swap(built.children_);
        texts_.swap(built.texts_);
        built.texts_.clear();
        child_index_.reset();
        // The built children were private until now: nobody can be reading their parent.
        for (auto& c : children_) c->parent_ = this;
    }
    for (auto& c : old) c->SetParent(nullptr);
}

// ---- Attributes

std::size_t CoXMLNode::FindAttrUnlocked(std::u16string_view name) const {
    if (attrs_.size() <= kLinearAttrs) {
        for (std::size_t i = 0; i < attrs_.size(); ++i)
            if (NamesEqual(attrs_[i].name, name)) return i;
        return std::u16string_view::npos;
    }
    if (!attr_index_) {
        attr_index_ = std::make_unique<std::unordered_multimap<std::uint64_t, std::size_t>>();
        for (std::size_t i = 0; i < attrs_.size(); ++i)
            attr_index_->emplace(NameHash(attrs_[i].name), i);
    }
    auto [first, last] = attr_index_->equal_range(NameHash(name));
    for (auto it = first; it != last; ++it)
        if (NamesEqual(attrs_[it->second].name, name)) return it->second;
    return std::u16string_view::npos;
}

bool CoXMLNode::GetAttr(std::u16string_view name, std::u16string* value) const {
    CRWSynchroLiteGuard lock(attributes_lock_, LockMode::kWrite);
    std::size_t i = FindAttrUnlocked(name);
    if (i == std::u16string_view::npos) return false;
    if (value) *value = attrs_[i].value;
    return true;
}

void CoXMLNode::SetAttr(std::u16string_view name, std::u16string_view value, bool overwrite) {
    CRWSynchroLiteGuard lock(attributes_lock_, LockMode::kWrite);
    std::size_t i = FindAttrUnlocked(name);
    if (i != std::u16string_view::npos) {
        if (overwrite) attrs_[i].value.assign(value);
        return;
    }
    attrs_.push_back(Attribute{std::u16string(name), std::u16string(value)});
    if (attr_index_) attr_index_->emplace(NameHash(name), attrs_.size() - 1);
}

bool CoXMLNode::RemoveAttr(std::u16string_view name) {
    CRWSynchroLiteGuard lock(attributes_lock_, LockMode::kWrite);
    std::size_t i = FindAttrUnlocked(name);
    if (i == std::u16string_view::npos) return false;
    attrs_.erase(attrs_.begin() + static_cast<std::ptrdiff_t>(i));
    attr_index_.reset();
    return true;
}

void CoXMLNode::RemoveAllAttrs() {
    CRWSynchroLiteGuard lock(attributes_lock_, LockMode::kWrite);
    attrs_.clear();
    attr_index_.reset();
}

std::size_t CoXMLNode::AttrCount() const {
    CRWSynchroLiteGuard lock(attributes_lock_, LockMode::kWrite);
    return attrs_.size();
}

std::vector<Attribute> CoXMLNode::Attributes() const {
    CRWSynchroLiteGuard lock(attributes_lock_, LockMode::kWrite);
    return attrs_;
}

bool CoXMLNode::AttrAt(std::size_t index, Attribute* out) const {
    CRWSynchroLiteGuard lock(attributes_lock_, LockMode::kWrite);
    if (index >= attrs_.size()) return false;
    *out = attrs_[index];
    return true;
}

// ---- Children

bool CoXMLNode::IsSchema() const {
    if (NameHashValue() != kSchemaHash) return false;
    CRWSynchroLiteGuard lock(node_lock_, LockMode::kRead);
    return NamesEqual(name_, kSchemaName);
}

XMLNodePtr CoXMLNode::FindChild(std::u16string_view name) const {
    const std::uint64_t hash = NameHash(name);
    auto matches = [&](const XMLNodePtr& c) {
        if (c->NameHashValue() != hash) return false;
        CRWSynchroLiteGuard lock(c->node_lock_, LockMode::kRead);
        return NamesEqual(c->name_, name);
    };
    CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
    if (children_.size() > kLinearChildren) {
        if (!child_index_) {
            child_index_ = std::make_unique<std::unordered_map<std::uint64_t, std::size_t>>();
            for (std::size_t i = 0; i < children_.size(); ++i)
                child_index_->try_emplace(children_[i]->NameHashValue(), i);
        }
        auto it = child_index_->find(hash);
        if (it == child_index_->end()) return nullptr;
        if (matches(children_[it->second])) return children_[it->second];
        // Two folded names with one hash: fall back to the scan.
    }
    for (const auto& c : children_)
        if (matches(c)) return c;
    return nullptr;
}

XMLNodePtr CoXMLNode::AppendChild(std::u16string_view name) {
    if (text_run_) return nullptr;
    XMLNodePtr child = Create(name, this, word_);
    if (!child) return nullptr;
    CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
    children_.push_back(child);
    if (child_index_) child_index_->try_emplace(child->NameHashValue(), children_.size() - 1);
    return child;
}

bool CoXMLNode::RemoveChild(CoXMLNode* child) {
    XMLNodePtr removed;
    {
        CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
        auto it = std::find_if(children_.begin(), children_.end(),
                               [&](const XMLNodePtr& c) { return c.p == child; });
        if (it == children_.end()) return false;
        removed = std::move(*it);
        ElementRemovedAt(static_cast<std::size_t>(it - children_.begin()));
        children_.erase(it);
        child_index_.reset();
    }
    removed->SetParent(nullptr);
    return true;
}

void CoXMLNode::ClearChildren(bool keep_schema) {
    std::vector<XMLNodePtr> removed;
    {
        CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
        if (keep_schema) {
            std::vector<XMLNodePtr> kept;
            for (auto& c : children_) (c->IsSchema() ? kept : removed).push_back(std::move(c));
            children_ = std::move(kept);
        } else {
            removed.swap(children_);
        }
        texts_.clear();
        child_index_.reset();
    }
    for (auto& c : removed) c->SetParent(nullptr);
}

std::vector<XMLNodePtr> CoXMLNode::Children() const {
    CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
    std::vector<XMLNodePtr> out;
    out.reserve(children_.size() + texts_.size());
    auto t = texts_.begin();
    for (std::size_t i = 0; i <= children_.size(); ++i) {
        for (; t != texts_.end() && t->before == i; ++t)
            if (XMLNodePtr run = CreateTextRun(t->text)) out.push_back(std::move(run));
        if (i < children_.size()) out.push_back(children_[i]);
    }
    return out;
}

std::vector<XMLNodePtr> CoXMLNode::ElementChildren() const {
    std::vector<XMLNodePtr> out;
    CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
    for (const auto& c : children_)
        if (!c->IsSchema()) out.push_back(c);
    return out;
}

std::size_t CoXMLNode::ElementChildCount() const {
    CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
    return static_cast<std::size_t>(std::count_if(
        children_.begin(), children_.end(), [](const XMLNodePtr& c) { return !c->IsSchema(); }));
}

bool CoXMLNode::HasElementChildren() const {
    CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
    return !children_.empty();
}

XMLNodePtr CoXMLNode::Resolve(const std::vector<std::u16string_view>& steps, std::size_t count,
                              bool create) {
    // A path that would pass the depth limit creates nothing at all.
    if (create && static_cast<std::size_t>(depth_) + count > static_cast<std::size_t>(kMaxDepth))
        return nullptr;
    XMLNodePtr cur(this);
    for (std::size_t i = 0; i < count && cur; ++i) {
        if (!create) {
            cur = cur->FindChild(steps[i]);
            continue;
        }
        // Find and append under one lock, so that two writers make one node.
        CRWSynchroLiteGuard lock(cur->children_lock_, LockMode::kWrite);
        XMLNodePtr next = cur->FindChild(steps[i]);
        if (!next) next = cur->AppendChild(steps[i]);
        cur = next;
    }
    return cur;
}

XMLNodePtr CoXMLNode::ResolvePath(std::u16string_view path, bool create) {
    std::vector<std::u16string_view> steps;
    if (!SplitPath(path, &steps)) return nullptr;
    return Resolve(steps, steps.size(), create);
}

bool CoXMLNode::ResolveAttrPath(std::u16string_view path, bool create, XMLNodePtr& holder,
                                std::u16string* name) {
    std::vector<std::u16string_view> steps;
    if (!SplitPath(path, &steps)) return false;
    holder = Resolve(steps, steps.size() - 1, create);
    if (!holder) return false;
    name->assign(steps.back());
    return true;
}

HRESULT CoXMLNode::CopyFrom(const CoXMLNode& source) {
    if (&source == this) return S_OK;
    SetName(source.Name());
    {
        std::vector<Attribute> attrs = source.Attributes();
        CRWSynchroLiteGuard lock(attributes_lock_, LockMode::kWrite);
        attrs_ = std::move(attrs);
        attr_index_.reset();
    }
    ClearChildren();
    // Texts are read under the source's lock; copying then runs without it.
    std::vector<XMLNodePtr> children;
    std::vector<TextRun> texts;
    {
        CRWSynchroLiteGuard lock(source.children_lock_, LockMode::kWrite);
        children = source.children_;
        texts = source.texts_;
    }
    auto text = texts.begin();
    auto copy_texts_before = [&](std::size_t i) {
        CRWSynchroLiteGuard lock(children_lock_, LockMode::kWrite);
        for (; text != texts.end() && text->before == i; ++text)
            texts_.push_back(TextRun{std::move(text->text), children_.size()});
    };
    for (std::size_t i = 0; i < children.size(); ++i) {
        copy_texts_before(i);
        XMLNodePtr copy = AppendChild(children[i]->Name());
        if (!copy) return E_INVALIDARG;
        HRESULT hr = copy->CopyFrom(*children[i]);
        if (FAILED(hr)) return hr;
    }
    copy_texts_before(children.size());
    return S_OK;
}

// ---- Schema

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
        std::u16string name;
        if (!ResolveAttrPath(In(bsName), false, holder, &name))
            return In(bsName).empty() ? E_INVALIDARG : E_NOT_FOUND;
        return holder->RemoveAttr(name) ? S_OK : E_NOT_FOUND;
    });
}

STDMETHODIMP CoXMLNode::AttributesRemoveAll() {
    RemoveAllAttrs();
    return S_OK;
}

STDMETHODIMP CoXMLNode::AttributesSet(BSTR bsName, BSTR bsValue) {
    return Guard([&]() -> HRESULT {
        XMLNodePtr holder;
        std::u16string name;
        if (!ResolveAttrPath(In(bsName), true, holder, &name)) return E_INVALIDARG;
        holder->SetAttr(name, In(bsValue));
        return S_OK;
    });
}

STDMETHODIMP CoXMLNode::AttributesSetBool(BSTR bsName, int bValue) {
    CComBSTR v(PrintBool(bValue != 0));
    return AttributesSet(bsName, v);
}

STDMETHODIMP CoXMLNode::AttributesSetInt(BSTR bsName, int nValue) {
    CComBSTR v(PrintInt32(nValue));
    return AttributesSet(bsName, v);
}

STDMETHODIMP CoXMLNode::AttributesSetDouble(BSTR bsName, double dblValue) {
    CComBSTR v(PrintDouble(dblValue));
    return AttributesSet(bsName, v);
}

STDMETHODIMP CoXMLNode::AttributesGetOrDefault(BSTR bsName, int* pbFound, BSTR* pbsValue) {
    if (!pbsValue) return E_POINTER;
    *pbsValue = nullptr;
    if (pbFound) *pbFound = 0;
    return Guard([&]() -> HRESULT {
        XMLNodePtr holder;
        std::u16string name, value;
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
        std::u16string name, value;
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
        const std::u16string name = Name();
        for (XMLNodePtr x(this); x; x = x->ParentRef()) {
            XMLNodePtr schema = x->FindChild(kSchemaName);
            if (!schema) continue;
            XMLNodePtr entry = schema->FindChild(name);
            if (!entry) return S_FALSE;
            if (In(bsField).empty()) return Out(entry->Value(), pbsValue);
            for (int i = 0; entry && i < kMaxInheritSteps; ++i) {
                std::u16string v;
                if (entry->GetAttr(In(bsField), &v)) return Out(v, pbsValue);
                std::u16string inherit;
                if (!entry->GetAttr(u"inherit", &inherit)) break;
                entry = schema->FindChild(inherit);
            }
            return S_FALSE;
        }
        return S_FALSE;
    });
}

}  // namespace XMLParse
