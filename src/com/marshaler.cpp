// The free-threaded marshaler: an inner object aggregated by free-threaded classes. Its
// non-delegating unknown answers IUnknown (itself) and IMarshal, whose IUnknown methods go to
// the outer object. Within one process objects are handed between threads directly, so the
// stream operations are never needed and report E_NOTIMPL.
#include <atomic>
#include <new>

#include "com/runtime.h"

namespace {

class FreeThreadedMarshaler final : public IUnknown {
public:
    explicit FreeThreadedMarshaler(IUnknown* outer) : marshal_(outer) {}

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            AddRef();
            *ppv = static_cast<IUnknown*>(this);
            return S_OK;
        }
        if (riid == IID_IMarshal) {
            marshal_.AddRef();
            *ppv = static_cast<IMarshal*>(&marshal_);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++ref_; }
    STDMETHOD_(ULONG, Release)() override {
        ULONG l = --ref_;
        if (l == 0) delete this;
        return l;
    }

private:
    class Marshal final : public IMarshal {
    public:
        explicit Marshal(IUnknown* outer) : outer_(outer) {}
        STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
            return outer_->QueryInterface(riid, ppv);
        }
        STDMETHOD_(ULONG, AddRef)() override { return outer_->AddRef(); }
        STDMETHOD_(ULONG, Release)() override { return outer_->Release(); }
        STDMETHOD(GetUnmarshalClass)(REFIID, void*, DWORD, void*, DWORD, CLSID* pCid) override {
            if (!pCid) return E_POINTER;
            *pCid = CLSID_InProcFreeMarshaler;
            return S_OK;
        }
        STDMETHOD(GetMarshalSizeMax)(REFIID, void*, DWORD, void*, DWORD, DWORD* pSize) override {
            if (!pSize) return E_POINTER;
            *pSize = 0;
            return E_NOTIMPL;
        }
        STDMETHOD(MarshalInterface)(void*, REFIID, void*, DWORD, void*, DWORD) override {
            return E_NOTIMPL;
        }
        STDMETHOD(UnmarshalInterface)(void*, REFIID, void** ppv) override {
            if (ppv) *ppv = nullptr;
            return E_NOTIMPL;
        }
        STDMETHOD(ReleaseMarshalData)(void*) override { return E_NOTIMPL; }
        STDMETHOD(DisconnectObject)(DWORD) override { return S_OK; }

    private:
        IUnknown* outer_;  // not owned: the outer object owns us
    };

    Marshal marshal_;
    std::atomic<ULONG> ref_{1};
};

}  // namespace

extern "C" HRESULT CoCreateFreeThreadedMarshaler(IUnknown* punkOuter, IUnknown** ppunkMarshal) {
    if (!ppunkMarshal) return E_INVALIDARG;
    *ppunkMarshal = nullptr;
    if (!punkOuter) return E_INVALIDARG;  // only the aggregated form is of use
    auto* m = new (std::nothrow) FreeThreadedMarshaler(punkOuter);
    if (!m) return E_OUTOFMEMORY;
    *ppunkMarshal = m;
    return S_OK;
}
