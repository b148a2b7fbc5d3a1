// One node of an attribute tree: a name, text runs among its children, a list of string
// attributes and an ordered list of child nodes, exposed through IMNode and IMAttributes.
// Names of attributes and children compare case-insensitively (name_fold.h).
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "com/object.h"
#include "com/ptr.h"
#include "orvex/ids.h"
#include "platform/rw_lock.h"
#include "props/parse_arena.h"

namespace XMLParse {

// Nodes deeper than this are refused, so that the recursive walks over a tree (writing,
// copying, releasing) stay well inside any thread's stack.
inline constexpr int kMaxDepth = 1024;

// The reserved child that describes its parent's attributes and nodes.
inline constexpr std::u16string_view kSchemaName = u"attributes_info";

class CoXMLNode;
using XMLNodePtr = CComPtr<CoXMLNode>;

// The lock of a node: a plain recursive critical section of sixteen bytes, with nothing to
// set up beyond zeroed words.
using NodeLock = orvex::platform::SpinCriticalSection;

// Holds a node lock for the scope.
class NodeLockHold {
public:
    explicit NodeLockHold(NodeLock& lock) : lock_(lock) { lock_.Enter(); }
    ~NodeLockHold() { lock_.Leave(); }
    NodeLockHold(const NodeLockHold&) = delete;
    NodeLockHold& operator=(const NodeLockHold&) = delete;

private:
    NodeLock& lock_;
};

// Room for the nodes that one parse builds, taken in one allocation instead of one per node.
// Every node carries a header naming the slab it lives in (null for a node of its own
// allocation); the slab goes when its last node has gone and its builder has let go. A node
// that outlives the rest of its parse keeps its whole slab (at most kSlabNodes nodes) alive.
class NodeSlab {
public:
    static constexpr std::size_t kSlabNodes = 256;
    // A slab for `nodes` nodes (1..kSlabNodes), held by the caller; null when out of memory.
    static NodeSlab* Make(std::size_t nodes) noexcept;
    // Memory for one node, or null when the slab is full. Only the holder takes.
    void* Take() noexcept;
    bool Full() const noexcept { return used_ == capacity_; }
    // `count` nodes of the slab have gone.
    void Drop(std::size_t count = 1) noexcept;
    // The holder lets go.
    void LetGo() noexcept;

private:
    // The nodes placed are counted by the holder alone and added to the live count when it
    // lets go; until then the count starts from kHeld, above any number of nodes gone.
    static constexpr std::size_t kHeld = std::size_t{1} << 48;
    explicit NodeSlab(std::size_t capacity) noexcept;
    void Free() noexcept;
    std::atomic<std::size_t> live_{kHeld};  // kHeld while held, less the nodes gone
    std::size_t capacity_;
    std::size_t used_ = 0;  // nodes placed, known to the holder
};

struct Attribute {
    std::u16string name;
    std::u16string value;
};

// An attribute as a node keeps it.
struct StoredAttribute {
    StoredAttribute(std::u16string_view n, std::u16string_view v) : name(n), value(v) {}
    // With `padded`, eight characters can be read from the start of either (NodeText).
    StoredAttribute(std::u16string_view n, std::u16string_view v, bool padded)
        : name(n, padded), value(v, padded) {}
    NodeText name;
    NodeText value;
};

// Text among an element's children, kept inside the element rather than as a node of its
// own: `before` is the index of the element child it precedes (the child count when last).
struct TextRun {
    TextRun(std::u16string_view t, std::size_t b, bool padded = false)
        : text(t, padded), before(b) {}
    TextRun(NodeText&& t, std::size_t b) : text(std::move(t)), before(b) {}
    NodeText text;
    std::size_t before = 0;
};

// A property path split at "::"; false when a step is empty.
bool SplitPath(std::u16string_view path, std::vector<std::u16string_view>* steps);

class CoXMLNode : public CComObjectRootEx<CComMultiThreadModel>, public IMNode {
public:
    BEGIN_COM_MAP(CoXMLNode)
    COM_INTERFACE_ENTRY(IMNode)
    COM_INTERFACE_ENTRY(IMAttributes)
    END_COM_MAP()

    ~CoXMLNode();
    CoXMLNode(const CoXMLNode&) = delete;
    CoXMLNode& operator=(const CoXMLNode&) = delete;

    // The factory: a node named `name` under `parent` (not added to the parent's children),
    // with `word` stored for the creator. Null when the tree would grow too deep.
    static XMLNodePtr Create(std::u16string_view name, CoXMLNode* parent = nullptr,
                             std::uintptr_t word = 0);

    // Nodes come from their own allocation or from a NodeSlab, both made by Create with the
    // slab header in front; only Create makes them.
    static void* operator new(std::size_t) = delete;
    static void operator delete(void* p) noexcept;
    // The implementing object of a node of this module, or null for foreign nodes.
    static CoXMLNode* From(IMNode* node);

    // ---- Internal interface for the text forms, the property store and the registry.
    std::u16string Name() const;
    void SetName(std::u16string_view name);
    // The hash of the name (name_fold.h), made on first use.
    std::uint64_t NameHashValue() const {
        const std::uint64_t hash = name_hash_.load(std::memory_order_acquire);
        return hash ? hash : HashName();
    }
    bool IsTextRun() const { return text_run_; }
    int Depth() const { return depth_; }
    std::uintptr_t Word() const { return word_; }
    // Owned reference to the parent, or null for a root (or a parent being destroyed).
    XMLNodePtr ParentRef() const;

    // Text of the first text run, empty when there is none.
    std::u16string Value() const;
    // Replaces the text of the first text run, or appends one.
    void SetValue(std::u16string_view text);
    // Parsed text: joins the last child when that is a text run, else appends a new run.
    void AddText(std::u16string_view text);

    bool GetAttr(std::u16string_view name, std::u16string* value) const;
    bool HasAttr(std::u16string_view name) const { return GetAttr(name, nullptr); }
    // Adds or overwrites (or keeps an existing value when `overwrite` is false).
    // With `room`, the value keeps room for that many characters (see NodeText::reserve).
    void SetAttr(std::u16string_view name, std::u16string_view value, bool overwrite = true,
                 std::size_t room = 0);
    bool RemoveAttr(std::u16string_view name);
    void RemoveAllAttrs();
    std::size_t AttrCount() const;
    std::vector<Attribute> Attributes() const;
    bool AttrAt(std::size_t index, Attribute* out) const;

    // First element child of that name (schema children included, text runs never).
    XMLNodePtr FindChild(std::u16string_view name) const;
    // Appends an empty element child; null for a text run or when too deep.
    XMLNodePtr AppendChild(std::u16string_view name);
    bool RemoveChild(CoXMLNode* child);
    // Removes every child; with `keep_schema` the schema children stay.
    void ClearChildren(bool keep_schema = false);
    // Every child in order, text runs included as detached copies (IsTextRun()).
    std::vector<XMLNodePtr> Children() const;
    // Element children that are not schema children: what clients count and enumerate.
    std::vector<XMLNodePtr> ElementChildren() const;
    std::size_t ElementChildCount() const;
    bool HasElementChildren() const;
    bool IsSchema() const;

    // Walks `steps` from this node. With `create`, missing steps are appended; null when a
    // step is missing (or cannot be created).
    XMLNodePtr Resolve(const std::vector<std::u16string_view>& steps, std::size_t count,
                       bool create);
    XMLNodePtr ResolvePath(std::u16string_view path, bool create);
    // The attribute at a path: the node holding it and the attribute's name (a view into
    // `path`). `create` makes the nodes of the path. False when the path is malformed or a
    // node is missing.
    bool ResolveAttrPath(std::u16string_view path, bool create, XMLNodePtr& holder,
                         std::u16string_view* name);
    // Sets the attribute at a path, making the nodes of the path (AttributesSet without the
    // COM strings). E_INVALIDARG for a malformed path.
    HRESULT SetAttrAt(std::u16string_view path, std::u16string_view value, std::size_t room = 0);

    // Replaces this node's name, value, attributes and children by a deep copy of `source`.
    HRESULT CopyFrom(const CoXMLNode& source);

    // The node's lock (name, parent, children, texts and attributes) for callers that walk
    // the tree (the writer); a parent's lock before any lock of its children.
    NodeLock& ContentLock() const { return content_lock_; }
    // Unlocked views; hold the matching lock. ChildrenUnlocked() holds the element children
    // only; TextsUnlocked() the text runs among them, in order.
    const ParseVector<XMLNodePtr>& ChildrenUnlocked() const { return children_; }
    const ParseVector<TextRun>& TextsUnlocked() const { return texts_; }
    const ParseVector<StoredAttribute>& AttributesUnlocked() const { return attrs_; }
    std::u16string_view TextUnlocked() const {
        return extras_ ? std::u16string_view(extras_->text) : std::u16string_view();
    }
    const NodeText& NameUnlocked() const { return name_; }

    // ---- IMAttributes
    STDMETHOD(AttributesGetCount)(int* pnCount) override;
    STDMETHOD(AttributesGetByIndex)(int nIndex, BSTR* pbsName, BSTR* pbsValue) override;
    STDMETHOD(AttributesRemove)(BSTR bsName) override;
    STDMETHOD(AttributesRemoveAll)() override;
    STDMETHOD(AttributesSet)(BSTR bsName, BSTR bsValue) override;
    STDMETHOD(AttributesSetBool)(BSTR bsName, int bValue) override;
    STDMETHOD(AttributesSetInt)(BSTR bsName, int nValue) override;
    STDMETHOD(AttributesSetDouble)(BSTR bsName, double dblValue) override;
    STDMETHOD(AttributesGetOrDefault)(BSTR bsName, int* pbFound, BSTR* pbsValue) override;
    STDMETHOD(AttributesGet)(BSTR bsName, BSTR* pbsValue) override;
    STDMETHOD(AttributesGetInt)(BSTR bsName, int* pnValue) override;
    STDMETHOD(AttributesGetBool)(BSTR bsName, int* pbValue) override;
    STDMETHOD(AttributesGetDouble)(BSTR bsName, double* pdblValue) override;
    STDMETHOD(AttributesSetList)(BSTR bsList, int nMode) override;
    STDMETHOD(AttributesListGet)(BSTR* pbsList) override;
    STDMETHOD(AttributesClone)(IMAttributes** ppClone) override;
    STDMETHOD(AttributesCopyFrom)(IMAttributes* pSource, int nMode) override;
    STDMETHOD(AttributesInfoGetCount)(int* pnCount) override;
    STDMETHOD(AttributesInfoGetByIndex)(int nIndex, BSTR* pbsName) override;
    STDMETHOD(AttributesInfoGet)(BSTR bsName, int nType, BSTR* pbsInfo) override;
    STDMETHOD(AttributesInfoFieldGet)
    (BSTR bsName, BSTR bsEntry, BSTR bsField, BSTR* pbsValue) override;

    // ---- IMNode
    STDMETHOD(NodeNameGet)(BSTR* pbsName) override;
    STDMETHOD(NodeNameSet)(BSTR bsName) override;
    STDMETHOD(NodeValueGet)(BSTR* pbsValue) override;
    STDMETHOD(NodeValueSet)(BSTR bsValue) override;
    STDMETHOD(NodePathGet)(BSTR* pbsPath, BSTR bsStopName) override;
    STDMETHOD(NodeParentGet)(IMNode** ppParent) override;
    STDMETHOD(NodeDetach)() override;
    STDMETHOD(NodeChildCount)(int* pnCount) override;
    STDMETHOD(NodeChildGetByIndex)(int nIndex, BSTR* pbsName, IMNode** ppChild) override;
    STDMETHOD(NodeChildAdd)(BSTR bsPath, BSTR bsValue, IMNode** ppChild) override;
    STDMETHOD(NodeChildGet)(BSTR bsPath, int bCreate, IMNode** ppChild) override;
    STDMETHOD(NodeChildRemove)(BSTR bsPath) override;
    STDMETHOD(NodeClear)(int bWithAttributes) override;
    STDMETHOD(NodeXmlSet)(BSTR bsXml, int bTakeName) override;
    STDMETHOD(NodeXmlGet)(BSTR* pbsXml) override;
    STDMETHOD(NodeClone)(IMNode** ppClone) override;
    STDMETHOD(NodeReserved)(LONGLONG, LONGLONG, LONGLONG) override { return E_NOTIMPL; }
    STDMETHOD(NodeInfoGet)(BSTR bsField, BSTR* pbsValue) override;
    STDMETHOD_(void*, NodeInternalGet)() override { return this; }

protected:
    explicit CoXMLNode(std::u16string_view name);
    // A node whose name is stored lower-cased, as parsed tags are; with `padded`, eight
    // characters can be read from the name's start.
    struct LowerName {
        bool padded = false;
    };
    CoXMLNode(std::u16string_view name, LowerName lower);

private:
    friend class XmlReader;
    // Building a node that no other thread can reach yet: no locks, no index upkeep.
    // Null when too deep or out of memory; placed in `slab` while it has room. The child's
    // name is stored lower-cased, as tags are read.
    // With `padded`, eight characters can be read from the start of each text given, whatever
    // its length (it lies well inside the document).
    CoXMLNode* BuildChild(std::u16string_view name, NodeSlab* slab, bool padded = false);
    void BuildText(std::u16string_view text, bool padded = false);
    void BuildText(NodeText&& text);
    // An empty run where no run is yet, so that the value stays empty when text follows.
    void BuildEmptyRun();
    void BuildAttr(std::u16string_view name, std::u16string_view value, bool padded = false);
    // The attributes of a start tag, in order.
    void BuildAttrs(const std::pair<std::u16string_view, std::u16string_view>* pairs,
                    std::size_t count, bool padded);
    void UnbuildChild(CoXMLNode* child);
    // Takes the attributes and children of a built node, replacing this node's own; with
    // `parents_set` the children already name this node as their parent.
    void AdoptContent(CoXMLNode& built, bool parents_set);

    static XMLNodePtr CreateTextRun(std::u16string_view text);
    // The room of a node (destroyed or never constructed) goes back to its slab or the heap.
    static void FreeRoom(void* room) noexcept;
    // With `lower` the name is stored lower-cased, as parsed tags are.
    static XMLNodePtr CreateIn(NodeSlab* slab, std::u16string_view name, CoXMLNode* parent,
                               std::uintptr_t word, bool lower);
    std::size_t FindAttrUnlocked(std::u16string_view name) const;
    std::uint64_t HashName() const;
    void SetParent(CoXMLNode* parent);
    // Keeps the text runs in place after the element child at `index` has gone.
    void ElementRemovedAt(std::size_t index);
    void InvalidateChildIndex();

    // Guards everything that changes: the name and its hash, the parent pointer, the
    // children, the texts and the attributes with their indexes. One lock, so that a walk over
    // the tree takes one lock per node; nothing takes a parent's lock while it holds a
    // child's.
    mutable NodeLock content_lock_{1024};
    NodeText name_;
    // Zero until first asked for (or when a name's hash happens to be zero); set under the
    // lock, so that it always matches the name.
    mutable std::atomic<std::uint64_t> name_hash_{0};
    CoXMLNode* parent_ = nullptr;  // not a reference: the parent owns its children

    ParseVector<XMLNodePtr> children_;
    ParseVector<TextRun> texts_;
    ParseVector<StoredAttribute> attrs_;

    // What few nodes need, in one allocation made on first use rather than in every node.
    struct Extras {
        // First child per name hash; built on demand for nodes with many children.
        std::unique_ptr<std::unordered_map<std::uint64_t, std::size_t>> child_index;
        // Name index for nodes with many attributes; null until needed or after a removal.
        std::unique_ptr<std::unordered_multimap<std::uint64_t, std::size_t>> attr_index;
        // The copy a text run node made by Children() carries; empty for elements.
        std::u16string text;
    };
    Extras& More() const {
        if (!extras_) extras_ = std::make_unique<Extras>();
        return *extras_;
    }
    auto* ChildIndex() const { return extras_ ? extras_->child_index.get() : nullptr; }
    auto* AttrIndex() const { return extras_ ? extras_->attr_index.get() : nullptr; }
    mutable std::unique_ptr<Extras> extras_;
    bool text_run_ = false;
    int depth_ = 0;
    std::uintptr_t word_ = 0;
};

// In line where a parse reads its texts.
inline void CoXMLNode::BuildText(std::u16string_view text, bool padded) {
    if (text.empty()) return;
    // Text right after text (nothing between them) joins it.
    if (!texts_.empty() && texts_.back().before == children_.size()) {
        texts_.back().text.append(text);
        return;
    }
    // Most elements have one run: room for it alone, without the general growth step.
    if (texts_.capacity() == 0) texts_.reserve(1);
    texts_.emplace_back(text, children_.size(), padded);
}

inline void CoXMLNode::BuildText(NodeText&& text) {
    if (text.empty()) return;
    if (!texts_.empty() && texts_.back().before == children_.size()) {
        texts_.back().text.append(text);
        return;
    }
    if (texts_.capacity() == 0) texts_.reserve(1);
    texts_.emplace_back(std::move(text), children_.size());
}

}  // namespace XMLParse
