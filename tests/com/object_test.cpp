#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "com/free_threaded.h"
#include "com/object.h"
#include "com/ptr.h"
#include "support/counting_outer.h"

struct IFirst : IUnknown {
    STDMETHOD(First)(int* p) = 0;

protected:
    ~IFirst() = default;
};
ORVEX_DECLARE_IID(IFirst, "6d3c9a40-95b1-4a4e-8f0d-1b8a5e7d2c01");
struct ISecond : IUnknown {
    STDMETHOD(Second)(int* p) = 0;

protected:
    ~ISecond() = default;
};
ORVEX_DECLARE_IID(ISecond, "6d3c9a40-95b1-4a4e-8f0d-1b8a5e7d2c02");
namespace {

using orvex::test::CountingOuter;

constexpr IID IID_SecondAlias = MakeGuid("6d3c9a40-95b1-4a4e-8f0d-1b8a5e7d2c03");

std::atomic<int> g_final_release_calls{0};
std::atomic<HRESULT> g_final_construct_result{S_OK};

class CTwo : public CComObjectRootEx<CComMultiThreadModel>,
             public CComCoClass<CTwo>,
             public CFreeThreadedMarshalerHolder,
             public IFirst,
             public ISecond {
public:
    BEGIN_COM_MAP(CTwo)
    COM_INTERFACE_ENTRY(IFirst)
    COM_INTERFACE_ENTRY(ISecond)
    COM_INTERFACE_ENTRY_IID(IID_SecondAlias, ISecond)
    COM_INTERFACE_ENTRY_AGGREGATE(IID_IMarshal, m_pUnkMarshaler.p)
    END_COM_MAP()

    HRESULT FinalConstruct() {
        // Transient references during construction must not destroy the object.
        GetControllingUnknown()->AddRef();
        GetControllingUnknown()->Release();
        HRESULT hr = CreateFreeThreadedMarshaler(GetControllingUnknown());
        return FAILED(hr) ? hr : g_final_construct_result.load();
    }
    void FinalRelease() {
        ReleaseFreeThreadedMarshaler();
        ++g_final_release_calls;
    }
    STDMETHOD(First)(int* p) override {
        *p = 1;
        return S_OK;
    }
    STDMETHOD(Second)(int* p) override {
        *p = 2;
        return S_OK;
    }
};

LONG Locks() {
    return orvex::com::ThisModule().LockCount();
}

TEST(ComObject, QueryInterfaceKeepsIdentityAndCounts) {
    const LONG before = Locks();
    CComPtr<IFirst> first;
    ASSERT_EQ(
        CTwo::_CreatorClass::CreateInstance(nullptr, IID_IFirst, reinterpret_cast<void**>(&first)),
        S_OK);
    EXPECT_EQ(Locks(), before + 1);

    CComPtr<ISecond> second;
    ASSERT_EQ(first.QueryInterface(&second), S_OK);
    CComPtr<IUnknown> u1, u2;
    first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u1));
    second->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u2));
    EXPECT_EQ(u1.p, u2.p);

    void* alias = nullptr;
    ASSERT_EQ(first->QueryInterface(IID_SecondAlias, &alias), S_OK);
    EXPECT_EQ(alias, static_cast<void*>(second.p));
    static_cast<IUnknown*>(alias)->Release();

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(first->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(first->QueryInterface(IID_IFirst, nullptr), E_POINTER);

    // The free-threaded marshaler answers IMarshal; its references count on the object.
    CComPtr<IMarshal> marshal;
    ASSERT_EQ(first.QueryInterface(&marshal), S_OK);
    CLSID cls{};
    constexpr DWORD kInProcess = 3;  // MSHCTX_INPROC: another apartment of this process
    EXPECT_EQ(marshal->GetUnmarshalClass(IID_IFirst, first.p, kInProcess, nullptr, 0, &cls), S_OK);
    EXPECT_EQ(cls, CLSID_InProcFreeMarshaler);
    CComPtr<IFirst> back;
    ASSERT_EQ(marshal.QueryInterface(&back), S_OK);
    EXPECT_EQ(back.p, first.p);

    const int released = g_final_release_calls;
    first = nullptr;
    second = nullptr;
    u1 = nullptr;
    u2 = nullptr;
    marshal = nullptr;
    EXPECT_EQ(g_final_release_calls, released);
    back = nullptr;
    EXPECT_EQ(g_final_release_calls, released + 1);
    EXPECT_EQ(Locks(), before);
}

TEST(ComObject, FailedFinalConstructDestroysTheObject) {
    const LONG before = Locks();
    g_final_construct_result = E_ACCESSDENIED;
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CTwo::_CreatorClass::CreateInstance(nullptr, IID_IFirst, &p), E_ACCESSDENIED);
    g_final_construct_result = S_OK;
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(Locks(), before);
    // An interface the class lacks destroys the new object too.
    EXPECT_EQ(CTwo::_CreatorClass::CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(Locks(), before);
}

TEST(ComObject, AggregateDelegatesToTheOuterUnknown) {
    CountingOuter outer;
    const LONG before = Locks();
    IUnknown* inner = nullptr;
    ASSERT_EQ(
        CTwo::_CreatorClass::CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)),
        S_OK);
    outer.inner = inner;
    EXPECT_EQ(Locks(), before + 1);
    EXPECT_EQ(outer.refs, 1u);  // the marshaler holds no reference on its outer object

    // The inner unknown answers IUnknown with itself...
    IUnknown* again = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again, inner);
    again->Release();

    // ...and every other interface from the contained object, counted on the outer one.
    IFirst* first = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IFirst, reinterpret_cast<void**>(&first)), S_OK);
    EXPECT_EQ(outer.refs, 2u);
    ISecond* second = nullptr;
    ASSERT_EQ(first->QueryInterface(IID_ISecond, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_EQ(outer.refs, 3u);
    IUnknown* identity = nullptr;
    ASSERT_EQ(second->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    second->Release();
    first->Release();
    EXPECT_EQ(outer.refs, 1u);

    inner->Release();
    EXPECT_EQ(Locks(), before);
}

TEST(ComObject, CachedObjectLocksOnlyWhileHeldOutside) {
    IUnknown* cached = nullptr;
    const LONG before = Locks();
    auto* raw = new CComObjectCached<CComClassFactory>();
    ASSERT_EQ(orvex::com::ConstructAndQuery(raw, IID_IUnknown, reinterpret_cast<void**>(&cached)),
              S_OK);
    EXPECT_EQ(Locks(), before);  // the cache's own reference
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([cached] {
            for (int i = 0; i < 2000; ++i) {
                cached->AddRef();
                cached->Release();
            }
        });
    cached->AddRef();
    EXPECT_EQ(Locks(), before + 1);
    for (auto& t : threads) t.join();
    EXPECT_EQ(Locks(), before + 1);
    cached->Release();
    EXPECT_EQ(Locks(), before);
    cached->Release();
}

}  // namespace
