// The node model: name, text runs, attributes and children with their locks and name
// indexes, path resolution and deep copies.
#include "props/xml_node.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>

#include "platform/asan_poison.h"
#include "props/name_fold.h"
#include "props/xml_chars.h"

namespace XMLParse {
namespace {

constexpr std::size_t kLinearAttrs = 8;
constexpr std::size_t kLinearChildren = 16;
const std::uint64_t kSchemaHash = NameHash(kSchemaName);

// The object a node is: its IUnknown. Unlike the generic wrapper it does not lock the module
// per node; a slab holds one module lock for all its nodes, and a node of its own
// allocation holds one itself.
class NodeObject final : public CoXMLNode {
public:
    explicit NodeObject(std::u16string_view name) : CoXMLNode(name) {}
    NodeObject(std::u16string_view name, LowerName lower) : CoXMLNode(name, lower) {}
    STDMETHOD_(ULONG, AddRef)() override { return InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override;
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return _InternalQueryInterface(riid, ppv);
    }
};

// Before every node: the slab it lives in, padded to keep the node's alignment.
constexpr std::size_t kHeader = std::max(alignof(NodeObject), sizeof(NodeSlab*));
constexpr std::size_t kNodeStride =
    (sizeof(NodeObject) + kHeader + kHeader - 1) / kHeader * kHeader;
static_assert(alignof(NodeObject) <= kHeader && kHeader % alignof(NodeObject) == 0);

NodeSlab*& HeaderOf(void* node) {
    return *reinterpret_cast<NodeSlab**>(static_cast<char*>(node) - kHeader);
}

constexpr std::size_t SlabHead() {
    return (sizeof(NodeSlab) + kHeader - 1) / kHeader * kHeader;
}

// Nodes gone in this thread's teardowns, not yet settled with their slab; `slab` is null
// outside a teardown.
struct PendingDrops {
    int teardowns = 0;
    NodeSlab* slab = nullptr;
    std::size_t count = 0;

    void Settle() noexcept {
        if (!slab) return;
        NodeSlab* settled = std::exchange(slab, nullptr);
        settled->Drop(std::exchange(count, 0));
    }
};
constinit thread_local PendingDrops t_drops;

// While a node and what it holds are destroyed: the slabs of the nodes and the chunks of
// their strings and lists are counted down once each at the end, not once per node and
// block.
class Teardown {
public:
    Teardown() noexcept { ++t_drops.teardowns; }
    ~Teardown() {
        PendingDrops& drops = t_drops;
        if (--drops.teardowns == 0) drops.Settle();
    }
    Teardown(const Teardown&) = delete;
    Teardown& operator=(const Teardown&) = delete;

private:
    ParseArena::Batch blocks_;
};

ULONG NodeObject::Release() {
    const ULONG left = InternalRelease();
    if (left == 0) {
        Teardown teardown;
        delete this;
    }
    return left;
}

}  // namespace

NodeSlab::NodeSlab(std::size_t capacity) noexcept : capacity_(capacity) {
    orvex::com::ThisModule().Lock();
}

NodeSlab* NodeSlab::Make(std::size_t nodes) noexcept {
    nodes = std::clamp<std::size_t>(nodes, 1, kSlabNodes);
    void* mem = ::operator new(SlabHead() + nodes * kNodeStride, std::nothrow);
    if (!mem) return nullptr;
    ORVEX_POISON(static_cast<char*>(mem) + SlabHead(), nodes * kNodeStride);
    return ::new (mem) NodeSlab(nodes);
}

void* NodeSlab::Take() noexcept {
    if (used_ == capacity_) return nullptr;
    char* at = reinterpret_cast<char*>(this) + SlabHead() + used_++ * kNodeStride;
    ORVEX_UNPOISON(at, kNodeStride);
    *reinterpret_cast<NodeSlab**>(at) = this;
    return at + kHeader;
}

void NodeSlab::Drop(std::size_t count) noexcept {
    if (live_.fetch_sub(count, std::memory_order_acq_rel) == count) Free();
}

void NodeSlab::LetGo() noexcept {
    const std::size_t left = kHeld - used_;
    if (live_.fetch_sub(left, std::memory_order_acq_rel) == left) Free();
}

void NodeSlab::Free() noexcept {
    this->~NodeSlab();
    ::operator delete(this);
    orvex::com::ThisModule().Unlock();
}

void CoXMLNode::operator delete(void* p) noexcept {
    if (p) FreeRoom(p);
}

void CoXMLNode::FreeRoom(void* p) noexcept {
    NodeSlab* slab = HeaderOf(p);
    if (!slab) {
        ::operator delete(static_cast<char*>(p) - kHeader);
        orvex::com::ThisModule().Unlock();
        return;
    }
    // The node's room is not reused; under AddressSanitizer a use after release still shows.
    ORVEX_POISON(p, kNodeStride - kHeader);
    PendingDrops& drops = t_drops;
    if (drops.teardowns == 0) {
        slab->Drop();
        return;
    }
    if (drops.slab != slab) {
        drops.Settle();
        drops.slab = slab;
    }
    ++drops.count;
}

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
    // No lock of our own: with the count at zero nobody else can reach this node. A child
    // that only we hold goes here and now, without the atomic steps of a release and of
    // clearing its parent pointer under its lock: a childless one cannot be reached by anyone
    // (no parent pointer of a child of its own leads to it); one with children is claimed by
    // taking its count from one to zero, after which a child of its own finds it gone.
    const std::size_t count = children_.size();
    for (std::size_t i = 0; i < count; ++i) {
        // The children lie apart in memory: ask for the next ones while this one goes.
        if (i + 2 < count) {
            const char* next = reinterpret_cast<const char*>(children_[i + 2].p);
            for (std::size_t line = 0; line < sizeof(NodeObject); line += 64)
                __builtin_prefetch(next + line);
        }
        CoXMLNode* child = children_[i].p;
        // Its list is read only once nobody else holds it (nobody else can change it then).
        LONG one = 1;
        const bool ours = child->m_dwRef.load(std::memory_order_acquire) == 1 &&
                          (child->children_.empty() ||
                           child->m_dwRef.compare_exchange_strong(one, 0, std::memory_order_acq_rel,
                                                                  std::memory_order_relaxed));
        if (!ours) {
            child->SetParent(nullptr);
            continue;
        }
        children_[i].p = nullptr;
        static_cast<NodeObject*>(child)->~NodeObject();
        // Most nodes go back to the slab that this teardown counts already.
        NodeSlab* slab = HeaderOf(child);
        PendingDrops& drops = t_drops;
        if (slab && slab == drops.slab) {
            ORVEX_POISON(child, kNodeStride - kHeader);
            ++drops.count;
            continue;
        }
        FreeRoom(child);
    }
}

CoXMLNode::CoXMLNode(std::u16string_view name) : name_(name) {}

// In line where a parse builds its nodes: the call cost a sixth of the constructor.
[[gnu::always_inline]] inline CoXMLNode::CoXMLNode(std::u16string_view name, LowerName lower)
    : name_(NodeText::LowerAscii(name, lower.padded)) {}

XMLNodePtr CoXMLNode::Create(std::u16string_view name, CoXMLNode* parent, std::uintptr_t word) {
    return CreateIn(nullptr, name, parent, word, false);
}

XMLNodePtr CoXMLNode::CreateIn(NodeSlab* slab, std::u16string_view name, CoXMLNode* parent,
                               std::uintptr_t word, bool lower) {
    int depth = parent ? parent->depth_ + 1 : 0;
    if (depth > kMaxDepth) return nullptr;
    // The node is private until it is returned, so its first reference is set with a plain
    // store: the generic CreateInstance would add and drop a reference around a
    // FinalConstruct that nodes do not have, and the smart pointer would add a third.
    void* room = slab ? slab->Take() : nullptr;
    if (!room) {
        void* own = ::operator new(kNodeStride, std::nothrow);
        if (!own) return nullptr;
        *static_cast<NodeSlab**>(own) = nullptr;
        room = static_cast<char*>(own) + kHeader;
        orvex::com::ThisModule().Lock();
    }
    NodeObject* p;
    try {
        p = lower ? ::new (room) NodeObject(name, LowerName{}) : ::new (room) NodeObject(name);
    } catch (...) {
        FreeRoom(room);
        throw;
    }
    p->m_dwRef.store(1, std::memory_order_relaxed);
    XMLNodePtr node;
    node.Attach(p);
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
    run->More().text.assign(text);
    return run;
}

CoXMLNode* CoXMLNode::From(IMNode* node) {
    return node ? static_cast<CoXMLNode*>(node->NodeInternalGet()) : nullptr;
}

std::uint64_t CoXMLNode::HashName() const {
    NodeLockHold lock(content_lock_);
    const std::uint64_t hash = NameHash(name_);
    name_hash_.store(hash, std::memory_order_release);
    return hash;
}

std::u16string CoXMLNode::Name() const {
    NodeLockHold lock(content_lock_);
    return std::u16string(name_);
}

void CoXMLNode::SetName(std::u16string_view name) {
    {
        NodeLockHold lock(content_lock_);
        // The same name again, as when a document is read back into its node: nothing
        // changes, for the parent's index neither.
        if (std::u16string_view(name_) == name) return;
        name_.assign(name);
        name_hash_.store(NameHash(name), std::memory_order_release);
    }
    if (XMLNodePtr parent = ParentRef()) parent->InvalidateChildIndex();
}

void CoXMLNode::SetParent(CoXMLNode* parent) {
    NodeLockHold lock(content_lock_);
    parent_ = parent;
}

XMLNodePtr CoXMLNode::ParentRef() const {
    NodeLockHold lock(content_lock_);
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
    NodeLockHold lock(content_lock_);
    if (extras_) extras_->child_index.reset();
}

std::u16string CoXMLNode::Value() const {
    NodeLockHold lock(content_lock_);
    return texts_.empty() ? std::u16string() : std::u16string(texts_.front().text);
}

void CoXMLNode::SetValue(std::u16string_view text) {
    NodeLockHold lock(content_lock_);
    if (!texts_.empty()) {
        texts_.front().text.assign(text);
        return;
    }
    if (text.empty() || text_run_) return;
    texts_.emplace_back(text, children_.size());
}

void CoXMLNode::AddText(std::u16string_view text) {
    if (text.empty() || text_run_) return;
    NodeLockHold lock(content_lock_);
    BuildText(text);
}

void CoXMLNode::BuildEmptyRun() {
    if (texts_.empty() || texts_.back().before != children_.size())
        texts_.emplace_back(std::u16string_view(), children_.size());
}

void CoXMLNode::ElementRemovedAt(std::size_t index) {
    for (auto& t : texts_)
        if (t.before > index) --t.before;
}

CoXMLNode* CoXMLNode::BuildChild(std::u16string_view name, NodeSlab* slab, bool padded) {
    const int depth = depth_ + 1;
    if (depth > kMaxDepth) return nullptr;
    // Room in the list first, so that nothing can fail once the child is made. Most elements
    // have a few children: skip the 1, 2, 4 growth steps.
    if (children_.size() == children_.capacity())
        children_.reserve(children_.empty() ? 4 : 2 * children_.size());
    void* room = slab ? slab->Take() : nullptr;
    if (!room) {
        XMLNodePtr child = CreateIn(nullptr, name, this, word_, true);
        if (!child) return nullptr;
        children_.push_back(std::move(child));
        return children_.back().p;
    }
    // A node of the slab, made in place as CreateIn would make it.
    NodeObject* p;
    try {
        p = ::new (room) NodeObject(name, LowerName{padded});
    } catch (...) {
        FreeRoom(room);
        throw;
    }
    p->m_dwRef.store(1, std::memory_order_relaxed);
    p->parent_ = this;
    p->depth_ = depth;
    p->word_ = word_;
    children_.emplace_back().Attach(p);
    return p;
}

void CoXMLNode::BuildAttr(std::u16string_view name, std::u16string_view value, bool padded) {
    // A repeated name overwrites. Most elements have a few attributes of names that differ
    // in length: the length decides without a call.
    std::size_t i = std::u16string_view::npos;
    if (attrs_.size() <= kLinearAttrs) {
        for (std::size_t k = 0; k < attrs_.size(); ++k) {
            if (attrs_[k].name.size() == name.size() && NamesEqual(attrs_[k].name, name)) {
                i = k;
                break;
            }
        }
    } else {
        i = FindAttrUnlocked(name);
    }
    if (i != std::u16string_view::npos) {
        attrs_[i].value.assign(value);
        return;
    }
    if (attrs_.capacity() == 0) attrs_.reserve(4);
    attrs_.emplace_back(name, value, padded);
    if (auto* index = AttrIndex()) index->emplace(NameHash(name), attrs_.size() - 1);
}

void CoXMLNode::UnbuildChild(CoXMLNode* child) {
    auto it = std::find_if(children_.begin(), children_.end(),
                           [&](const XMLNodePtr& c) { return c.p == child; });
    if (it == children_.end()) return;
    ElementRemovedAt(static_cast<std::size_t>(it - children_.begin()));
    children_.erase(it);
}

void CoXMLNode::AdoptContent(CoXMLNode& built, bool parents_set) {
    {
        NodeLockHold lock(content_lock_);
        attrs_.swap(built.attrs_);
        if (extras_) extras_->attr_index.reset();
    }
    ParseVector<XMLNodePtr> old;
    {
        NodeLockHold lock(content_lock_);
        old.swap(children_);
        children_.swap(built.children_);
        texts_.swap(built.texts_);
        built.texts_.clear();
        if (extras_) extras_->child_index.reset();
        // The built children were private until now: nobody can be reading their parent.
        if (!parents_set)
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
    auto& index = More().attr_index;
    if (!index) {
        index = std::make_unique<std::unordered_multimap<std::uint64_t, std::size_t>>();
        for (std::size_t i = 0; i < attrs_.size(); ++i) index->emplace(NameHash(attrs_[i].name), i);
    }
    auto [first, last] = index->equal_range(NameHash(name));
    for (auto it = first; it != last; ++it)
        if (NamesEqual(attrs_[it->second].name, name)) return it->second;
    return std::u16string_view::npos;
}

bool CoXMLNode::GetAttr(std::u16string_view name, std::u16string* value) const {
    NodeLockHold lock(content_lock_);
    std::size_t i = FindAttrUnlocked(name);
    if (i == std::u16string_view::npos) return false;
    if (value) value->assign(attrs_[i].value);
    return true;
}

void CoXMLNode::SetAttr(std::u16string_view name, std::u16string_view value, bool overwrite,
                        std::size_t room) {
    NodeLockHold lock(content_lock_);
    std::size_t i = FindAttrUnlocked(name);
    if (i != std::u16string_view::npos) {
        if (!overwrite) return;
        attrs_[i].value.reserve(room);
        attrs_[i].value.assign(value);
        return;
    }
    attrs_.emplace_back(name, value);
    attrs_.back().value.reserve(room);
    if (auto* index = AttrIndex()) index->emplace(NameHash(name), attrs_.size() - 1);
}

bool CoXMLNode::RemoveAttr(std::u16string_view name) {
    NodeLockHold lock(content_lock_);
    std::size_t i = FindAttrUnlocked(name);
    if (i == std::u16string_view::npos) return false;
    attrs_.erase(attrs_.begin() + static_cast<std::ptrdiff_t>(i));
    if (extras_) extras_->attr_index.reset();
    return true;
}

void CoXMLNode::RemoveAllAttrs() {
    NodeLockHold lock(content_lock_);
    attrs_.clear();
    if (extras_) extras_->attr_index.reset();
}

std::size_t CoXMLNode::AttrCount() const {
    NodeLockHold lock(content_lock_);
    return attrs_.size();
}

std::vector<Attribute> CoXMLNode::Attributes() const {
    NodeLockHold lock(content_lock_);
    std::vector<Attribute> out;
    out.reserve(attrs_.size());
    for (const auto& a : attrs_)
        out.push_back(Attribute{std::u16string(a.name), std::u16string(a.value)});
    return out;
}

bool CoXMLNode::AttrAt(std::size_t index, Attribute* out) const {
    NodeLockHold lock(content_lock_);
    if (index >= attrs_.size()) return false;
    out->name.assign(attrs_[index].name);
    out->value.assign(attrs_[index].value);
    return true;
}

// ---- Children

bool CoXMLNode::IsSchema() const {
    if (NameHashValue() != kSchemaHash) return false;
    NodeLockHold lock(content_lock_);
    return NamesEqual(name_, kSchemaName);
}

XMLNodePtr CoXMLNode::FindChild(std::u16string_view name) const {
    const std::uint64_t hash = NameHash(name);
    auto matches = [&](const XMLNodePtr& c) {
        if (c->NameHashValue() != hash) return false;
        NodeLockHold lock(c->content_lock_);
        return NamesEqual(c->name_, name);
    };
    NodeLockHold lock(content_lock_);
    if (children_.size() > kLinearChildren) {
        auto& index = More().child_index;
        if (!index) {
            index = std::make_unique<std::unordered_map<std::uint64_t, std::size_t>>();
            for (std::size_t i = 0; i < children_.size(); ++i)
                index->try_emplace(children_[i]->NameHashValue(), i);
        }
        auto it = index->find(hash);
        if (it == index->end()) return nullptr;
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
    NodeLockHold lock(content_lock_);
    children_.push_back(child);
    if (auto* index = ChildIndex())
        index->try_emplace(child->NameHashValue(), children_.size() - 1);
    return child;
}

bool CoXMLNode::RemoveChild(CoXMLNode* child) {
    XMLNodePtr removed;
    {
        NodeLockHold lock(content_lock_);
        auto it = std::find_if(children_.begin(), children_.end(),
                               [&](const XMLNodePtr& c) { return c.p == child; });
        if (it == children_.end()) return false;
        removed = std::move(*it);
        ElementRemovedAt(static_cast<std::size_t>(it - children_.begin()));
        children_.erase(it);
        if (extras_) extras_->child_index.reset();
    }
    removed->SetParent(nullptr);
    return true;
}

void CoXMLNode::ClearChildren(bool keep_schema) {
    ParseVector<XMLNodePtr> removed;
    {
        NodeLockHold lock(content_lock_);
        if (keep_schema) {
            ParseVector<XMLNodePtr> kept;
            for (auto& c : children_) (c->IsSchema() ? kept : removed).push_back(std::move(c));
            children_ = std::move(kept);
        } else {
            removed.swap(children_);
        }
        texts_.clear();
        if (extras_) extras_->child_index.reset();
    }
    for (auto& c : removed) c->SetParent(nullptr);
}

std::vector<XMLNodePtr> CoXMLNode::Children() const {
    NodeLockHold lock(content_lock_);
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
    NodeLockHold lock(content_lock_);
    for (const auto& c : children_)
        if (!c->IsSchema()) out.push_back(c);
    return out;
}

std::size_t CoXMLNode::ElementChildCount() const {
    NodeLockHold lock(content_lock_);
    return static_cast<std::size_t>(std::count_if(
        children_.begin(), children_.end(), [](const XMLNodePtr& c) { return !c->IsSchema(); }));
}

bool CoXMLNode::HasElementChildren() const {
    NodeLockHold lock(content_lock_);
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
        NodeLockHold lock(cur->content_lock_);
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
                                std::u16string_view* name) {
    // Most names are plain: this node's own attribute, found without splitting.
    if (path.find(u"::") == std::u16string_view::npos) {
        if (path.empty()) return false;
        holder = XMLNodePtr(this);
        *name = path;
        return true;
    }
    std::vector<std::u16string_view> steps;
    if (!SplitPath(path, &steps)) return false;
    holder = Resolve(steps, steps.size() - 1, create);
    if (!holder) return false;
    *name = steps.back();
    return true;
}

HRESULT CoXMLNode::CopyFrom(const CoXMLNode& source) {
    if (&source == this) return S_OK;
    SetName(source.Name());
    {
        std::vector<Attribute> attrs = source.Attributes();
        NodeLockHold lock(content_lock_);
        attrs_.clear();
        attrs_.reserve(attrs.size());
        for (auto& a : attrs) attrs_.emplace_back(a.name, a.value);
        if (extras_) extras_->attr_index.reset();
    }
    ClearChildren();
    // Texts are read under the source's lock; copying then runs without it.
    ParseVector<XMLNodePtr> children;
    ParseVector<TextRun> texts;
    {
        NodeLockHold lock(source.content_lock_);
        children = source.children_;
        texts = source.texts_;
    }
    auto text = texts.begin();
    auto copy_texts_before = [&](std::size_t i) {
        NodeLockHold lock(content_lock_);
        for (; text != texts.end() && text->before == i; ++text)
            texts_.emplace_back(std::move(text->text), children_.size());
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

}  // namespace XMLParse
