// A controlling unknown for aggregation tests: counts the references its aggregate hands to
// it and forwards other queries to the inner object.
#pragma once

#include <atomic>

#include "com/types.h"

namespace orvex::test {

class CountingOuter final : public IUnknown {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            AddRef();
            *ppv = this;
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
    STDMETHOD_(ULONG, Release)() override { return --refs; }

    std::atomic<ULONG> refs{1};
    IUnknown* inner = nullptr;
};

}  // namespace orvex::test
