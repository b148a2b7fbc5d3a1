// Object templates for COM classes: the object root, plain, aggregated, contained and cached
// objects, creators, the class factory, and a declarative interface map.
//
// A class T derives from CComObjectRootEx<CComMultiThreadModel> and its interfaces, and lists
// them with BEGIN_COM_MAP / COM_INTERFACE_ENTRY... / END_COM_MAP; the first entry is the
// object's identity. The wrappers below supply IUnknown:
//   CComObject<T>          stand-alone object with its own reference count
//   CComAggObject<T>       aggregated form; owns a CComContainedObject<T> whose IUnknown
//                          delegates to the controlling (outer) unknown
//   CComObjectCached<T>    class objects cached by the module; lock the module only while
//                          someone outside holds them
// Every wrapper except the cached one holds one module lock for its life.
#pragma once

#include <atomic>
#include <mutex>
#include <new>

#include "com/types.h"

namespace orvex::com {

// Per-module state. Each module (shared library or executable) links its own copy of the
// definition, so the lock count is that module's alone.
class ModuleState {
public:
    void Lock() noexcept { lock_count_.fetch_add(1, std::memory_order_acq_rel); }
    void Unlock() noexcept { lock_count_.fetch_sub(1, std::memory_order_acq_rel); }
    LONG LockCount() const noexcept { return lock_count_.load(std::memory_order_acquire); }

private:
    std::atomic<LONG> lock_count_{0};
};
ModuleState& ThisModule();

// Stored in the count while an object is destroyed, so that references taken and dropped by
// FinalRelease cannot destroy it a second time.
constexpr LONG kDestroyingRefCount = -(0x7FFFFFFF / 2);

struct ComMapEntry {
    const IID* piid;  // null ends the map
    // Either a cast from the object to the interface...
    void* (*cast)(void* self);
    // ...or a function that answers the query itself (aggregated inner objects).
    HRESULT (*query)(void* self, REFIID riid, void** ppv);
};

inline HRESULT InternalQueryInterface(void* self, const ComMapEntry* entries, REFIID riid,
                                      void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
        auto* unk = static_cast<IUnknown*>(entries[0].cast(self));
        unk->AddRef();
        *ppv = unk;
        return S_OK;
    }
    for (const ComMapEntry* e = entries; e->piid; ++e) {
        if (!(*e->piid == riid)) continue;
        if (e->cast) {
            auto* unk = static_cast<IUnknown*>(e->cast(self));
            unk->AddRef();
            *ppv = unk;
            return S_OK;
        }
        return e->query(self, riid, ppv);
    }
    return E_NOINTERFACE;
}

}  // namespace orvex::com

struct CComMultiThreadModel {};

class CComObjectRootBase {
public:
    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}
    HRESULT _AtlInitialConstruct() { return S_OK; }
    void SetVoid(void*) {}

    std::atomic<LONG> m_dwRef{0};
    // Set for the contained object of an aggregate: the controlling unknown.
    IUnknown* m_pOuterUnknown = nullptr;
};

template <class ThreadModel>
class CComObjectRootEx : public CComObjectRootBase {
public:
    ULONG InternalAddRef() noexcept {
        return static_cast<ULONG>(m_dwRef.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    ULONG InternalRelease() noexcept {
        return static_cast<ULONG>(m_dwRef.fetch_sub(1, std::memory_order_acq_rel) - 1);
    }
};

#define BEGIN_COM_MAP(Class)                                                         \
public:                                                                              \
    using _ComMapClass = Class;                                                      \
    IUnknown* _GetRawUnknown() {                                                     \
        return static_cast<IUnknown*>(_GetEntries()[0].cast(this));                  \
    }                                                                                \
    IUnknown* GetUnknown() {                                                         \
        return _GetRawUnknown();                                                     \
    }                                                                                \
    IUnknown* GetControllingUnknown() {                                              \
        return this->m_pOuterUnknown ? this->m_pOuterUnknown : _GetRawUnknown();     \
    }                                                                                \
    HRESULT _InternalQueryInterface(REFIID riid, void** ppv) {                       \
        return ::orvex::com::InternalQueryInterface(this, _GetEntries(), riid, ppv); \
    }                                                                                \
    static const ::orvex::com::ComMapEntry* _GetEntries() {                          \
        static const ::orvex::com::ComMapEntry entries[] = {
#define COM_INTERFACE_ENTRY_IID(iid, I)                                                     \
    {&(iid),                                                                                \
     [](void* self) -> void* { return static_cast<I*>(static_cast<_ComMapClass*>(self)); }, \
     nullptr},
#define COM_INTERFACE_ENTRY(I) COM_INTERFACE_ENTRY_IID(IidOf<I>(), I)
// Interface I reached through base Via, for interfaces inherited more than once.
#define COM_INTERFACE_ENTRY2(I, Via)                                                  \
    {&IidOf<I>(),                                                                     \
     [](void* self) -> void* {                                                        \
         return static_cast<I*>(static_cast<Via*>(static_cast<_ComMapClass*>(self))); \
     },                                                                               \
     nullptr},
// Answered by an aggregated inner unknown held in member `member` (an IUnknown*).
#define COM_INTERFACE_ENTRY_AGGREGATE(iid, member)                         \
    {&(iid), nullptr, [](void* self, REFIID riid, void** ppv) -> HRESULT { \
         IUnknown* inner = static_cast<_ComMapClass*>(self)->member;       \
         return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;  \
     }},
#define END_COM_MAP()                                                      \
    { nullptr, nullptr, nullptr }                                          \
    }                                                                      \
    ;                                                                      \
    return entries;                                                        \
    }                                                                      \
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override = 0; \
    STDMETHOD_(ULONG, AddRef)() override = 0;                              \
    STDMETHOD_(ULONG, Release)() override = 0;

namespace orvex::com {
// Runs the creation protocol on a freshly allocated wrapper: one extra reference while
// FinalConstruct runs (so that transient AddRef/Release pairs inside it cannot destroy the
// object), then the query for riid. On failure the object is destroyed.
template <class Obj>
HRESULT ConstructAndQuery(Obj* p, REFIID riid, void** ppv) {
    p->m_dwRef.fetch_add(1, std::memory_order_relaxed);
    HRESULT hr = p->_AtlInitialConstruct();
    if (SUCCEEDED(hr)) hr = p->FinalConstruct();
    p->m_dwRef.fetch_sub(1, std::memory_order_relaxed);
    if (SUCCEEDED(hr)) hr = p->QueryInterface(riid, ppv);
    if (FAILED(hr)) {
        *ppv = nullptr;
        delete p;
    }
    return hr;
}
}  // namespace orvex::com

template <class Base>
class CComObject final : public Base {
public:
    explicit CComObject(void* = nullptr) { orvex::com::ThisModule().Lock(); }
    ~CComObject() {
        this->m_dwRef.store(orvex::com::kDestroyingRefCount, std::memory_order_relaxed);
        this->FinalRelease();
        orvex::com::ThisModule().Unlock();
    }
    CComObject(const CComObject&) = delete;
    CComObject& operator=(const CComObject&) = delete;

    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override {
        ULONG l = this->InternalRelease();
        if (l == 0) delete this;
        return l;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return this->_InternalQueryInterface(riid, ppv);
    }

    // Creates an object with a reference count of 0 after FinalConstruct; the caller takes
    // the first reference (as with the ATL pattern this mirrors).
    static HRESULT CreateInstance(CComObject<Base>** pp) {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        auto* p = new (std::nothrow) CComObject<Base>();
        if (!p) return E_OUTOFMEMORY;
        p->m_dwRef.fetch_add(1, std::memory_order_relaxed);
        HRESULT hr = p->_AtlInitialConstruct();
        if (SUCCEEDED(hr)) hr = p->FinalConstruct();
        p->m_dwRef.fetch_sub(1, std::memory_order_relaxed);
        if (FAILED(hr)) {
            delete p;
            return hr;
        }
        *pp = p;
        return S_OK;
    }
};

template <class Base>
class CComContainedObject final : public Base {
public:
    explicit CComContainedObject(IUnknown* outer) { this->m_pOuterUnknown = outer; }
    STDMETHOD_(ULONG, AddRef)() override { return this->m_pOuterUnknown->AddRef(); }
    STDMETHOD_(ULONG, Release)() override { return this->m_pOuterUnknown->Release(); }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return this->m_pOuterUnknown->QueryInterface(riid, ppv);
    }
};

template <class Base>
class CComAggObject final : public IUnknown {
public:
    explicit CComAggObject(void* outer) : m_contained(static_cast<IUnknown*>(outer)) {
        orvex::com::ThisModule().Lock();
    }
    ~CComAggObject() {
        m_dwRef.store(orvex::com::kDestroyingRefCount, std::memory_order_relaxed);
        m_contained.FinalRelease();
        orvex::com::ThisModule().Unlock();
    }
    CComAggObject(const CComAggObject&) = delete;
    CComAggObject& operator=(const CComAggObject&) = delete;

    void SetVoid(void*) {}
    HRESULT _AtlInitialConstruct() { return m_contained._AtlInitialConstruct(); }
    HRESULT FinalConstruct() { return m_contained.FinalConstruct(); }

    // The non-delegating unknown: IUnknown is the aggregate itself, everything else comes
    // from the contained object's map (whose references count on the outer object).
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            AddRef();
            *ppv = static_cast<IUnknown*>(this);
            return S_OK;
        }
        return m_contained._InternalQueryInterface(riid, ppv);
    }
    STDMETHOD_(ULONG, AddRef)() override {
        return static_cast<ULONG>(m_dwRef.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    STDMETHOD_(ULONG, Release)() override {
        ULONG l = static_cast<ULONG>(m_dwRef.fetch_sub(1, std::memory_order_acq_rel) - 1);
        if (l == 0) delete this;
        return l;
    }

    std::atomic<LONG> m_dwRef{0};
    CComContainedObject<Base> m_contained;
};

// Class objects cached in the module's class table. The table's own reference does not
// keep the module loaded: the module is locked while the count is above one.
template <class Base>
class CComObjectCached final : public Base {
public:
    explicit CComObjectCached(void* = nullptr) {}
    ~CComObjectCached() {
        this->m_dwRef.store(orvex::com::kDestroyingRefCount, std::memory_order_relaxed);
        this->FinalRelease();
    }
    STDMETHOD_(ULONG, AddRef)() override {
        std::lock_guard lock(m_cached_lock);
        ULONG l = this->InternalAddRef();
        if (l == 2) orvex::com::ThisModule().Lock();
        return l;
    }
    STDMETHOD_(ULONG, Release)() override {
        ULONG l;
        {
            std::lock_guard lock(m_cached_lock);
            l = this->InternalRelease();
            if (l == 1) orvex::com::ThisModule().Unlock();
        }
        if (l == 0) delete this;
        return l;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        return this->_InternalQueryInterface(riid, ppv);
    }

private:
    std::mutex m_cached_lock;  // pairs each 1->2 with its 2->1 transition
};

using _CREATORFUNC = HRESULT (*)(void* pv, REFIID riid, void** ppv);

template <class Obj>
struct CComCreator {
    static HRESULT CreateInstance(void* pv, REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        auto* p = new (std::nothrow) Obj(pv);
        if (!p) return E_OUTOFMEMORY;
        p->SetVoid(pv);
        return orvex::com::ConstructAndQuery(p, riid, ppv);
    }
};

// Plain form without an outer unknown, aggregated form with one.
template <class Plain, class Aggregated>
struct CComCreator2 {
    static HRESULT CreateInstance(void* pv, REFIID riid, void** ppv) {
        return pv ? Aggregated::CreateInstance(pv, riid, ppv)
                  : Plain::CreateInstance(nullptr, riid, ppv);
    }
};

template <class T>
struct CComCoClass {
    using _CreatorClass = CComCreator2<CComCreator<CComObject<T>>, CComCreator<CComAggObject<T>>>;
};

class CComClassFactory : public IClassFactory, public CComObjectRootEx<CComMultiThreadModel> {
public:
    BEGIN_COM_MAP(CComClassFactory)
    COM_INTERFACE_ENTRY(IClassFactory)
    END_COM_MAP()

    void SetVoid(void* pv) { m_creator = reinterpret_cast<_CREATORFUNC>(pv); }

    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer && !(riid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        if (!m_creator) return E_UNEXPECTED;
        return m_creator(outer, riid, ppv);
    }
    STDMETHOD(LockServer)(BOOL fLock) override {
        if (fLock)
            orvex::com::ThisModule().Lock();
        else
            orvex::com::ThisModule().Unlock();
        return S_OK;
    }

private:
    _CREATORFUNC m_creator = nullptr;
};

// Base of the module's internal reference-counted helpers: IUnknown only, an atomic count,
// deleted when the count reaches zero. Itf is IUnknown or an interface derived from it.
template <class T, class Itf = IUnknown>
class AutoObjBase : public Itf {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IidOf<Itf>()) {
            AddRef();
            *ppv = static_cast<Itf*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override {
        return static_cast<ULONG>(m_ref.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    STDMETHOD_(ULONG, Release)() override {
        ULONG l = static_cast<ULONG>(m_ref.fetch_sub(1, std::memory_order_acq_rel) - 1);
        if (l == 0) delete static_cast<T*>(this);
        return l;
    }

protected:
    AutoObjBase() = default;
    virtual ~AutoObjBase() = default;

private:
    std::atomic<LONG> m_ref{1};  // the creator holds the first reference
};
