// Owning smart pointers for COM references and BSTRs.
#pragma once

#include <memory>
#include <string_view>
#include <utility>

#include "com/runtime.h"
#include "com/types.h"

template <class T>
class CComPtr {
public:
    CComPtr() noexcept = default;
    CComPtr(std::nullptr_t) noexcept {}
    CComPtr(T* p) noexcept : p(p) {
        if (p) p->AddRef();
    }
    CComPtr(const CComPtr& o) noexcept : CComPtr(o.p) {}
    CComPtr(CComPtr&& o) noexcept : p(std::exchange(o.p, nullptr)) {}
    ~CComPtr() { Release(); }

    CComPtr& operator=(T* q) noexcept {
        if (q) q->AddRef();
        T* old = std::exchange(p, q);
        if (old) old->Release();
        return *this;
    }
    CComPtr& operator=(const CComPtr& o) noexcept { return *this = o.p; }
    CComPtr& operator=(CComPtr&& o) noexcept {
        if (this != std::addressof(o)) {
            T* old = std::exchange(p, std::exchange(o.p, nullptr));
            if (old) old->Release();
        }
        return *this;
    }
    CComPtr& operator=(std::nullptr_t) noexcept {
        Release();
        return *this;
    }

    void Release() noexcept {
        if (T* old = std::exchange(p, nullptr)) old->Release();
    }
    // Takes over a reference without AddRef.
    void Attach(T* q) noexcept {
        T* old = std::exchange(p, q);
        if (old) old->Release();
    }
    // Gives up the reference without Release.
    T* Detach() noexcept { return std::exchange(p, nullptr); }
    HRESULT CopyTo(T** pp) const noexcept {
        if (!pp) return E_POINTER;
        *pp = p;
        if (p) p->AddRef();
        return S_OK;
    }
    template <class Q>
    HRESULT QueryInterface(Q** pp) const noexcept {
        if (!pp) return E_POINTER;
        *pp = nullptr;
        if (!p) return E_POINTER;
        return p->QueryInterface(IidOf<Q>(), reinterpret_cast<void**>(pp));
    }

    T* operator->() const noexcept { return p; }
    operator T*() const noexcept { return p; }
    T& operator*() const noexcept { return *p; }
    // Address for an out parameter; the pointer must be empty.
    T** operator&() noexcept { return &p; }
    explicit operator bool() const noexcept { return p != nullptr; }

    T* p = nullptr;
};

// Queries on construction.
template <class T>
class CComQIPtr : public CComPtr<T> {
public:
    CComQIPtr() noexcept = default;
    explicit CComQIPtr(IUnknown* unk) noexcept {
        if (unk) unk->QueryInterface(IidOf<T>(), reinterpret_cast<void**>(&this->p));
    }
};

// Owns one BSTR.
class CComBSTR {
public:
    CComBSTR() noexcept = default;
    CComBSTR(const OLECHAR* s) : m_str(s ? SysAllocString(s) : nullptr) {}
    CComBSTR(std::u16string_view s)
        : m_str(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()),
                                  static_cast<UINT>(s.size()))) {}
    CComBSTR(const CComBSTR& o) : m_str(o.Copy()) {}
    CComBSTR(CComBSTR&& o) noexcept : m_str(std::exchange(o.m_str, nullptr)) {}
    ~CComBSTR() { SysFreeString(m_str); }
    CComBSTR& operator=(const CComBSTR& o) {
        if (this != std::addressof(o)) Attach(o.Copy());
        return *this;
    }
    CComBSTR& operator=(CComBSTR&& o) noexcept {
        if (this != std::addressof(o)) Attach(std::exchange(o.m_str, nullptr));
        return *this;
    }

    void Attach(BSTR s) noexcept {
        BSTR old = std::exchange(m_str, s);
        if (old != s) SysFreeString(old);
    }
    BSTR Detach() noexcept { return std::exchange(m_str, nullptr); }
    BSTR Copy() const { return m_str ? SysAllocStringLen(m_str, SysStringLen(m_str)) : nullptr; }
    HRESULT CopyTo(BSTR* out) const {
        if (!out) return E_POINTER;
        *out = Copy();
        return (*out || !m_str) ? S_OK : E_OUTOFMEMORY;
    }
    void Empty() noexcept { Attach(nullptr); }
    UINT Length() const noexcept { return SysStringLen(m_str); }
    std::u16string_view View() const noexcept { return orvex::com::View(m_str); }
    operator BSTR() const noexcept { return m_str; }
    BSTR* operator&() noexcept { return &m_str; }

    BSTR m_str = nullptr;
};
