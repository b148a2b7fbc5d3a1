// The frame contract against stand-in factories, listed in place of the frame library's.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "com/runtime.h"
#include "formats/frame_contract.h"
#include "platform/dynamic_library.h"
#include "test_frames.h"

extern "C" HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID, REFIID, void**);
extern "C" HRESULT STDMETHODCALLTYPE DllCanUnloadNow();

namespace {

using namespace orvex::test;
using orvex::formats::FrameFactoryHold;
using orvex::formats::FrameInternalGet;

// The frame library's own entry points: on Windows the test program has entry points of its
// own, and the library's are reached through the loaded DLL.
template <class F>
F FrameEntry([[maybe_unused]] const char* name, [[maybe_unused]] F linked) {
#ifdef _WIN32
    static orvex::platform::DynamicLibrary library;
    if (!library.IsOpen()) library.Open("OXFrame.dll");
    return reinterpret_cast<F>(library.Symbol(name));
#else
    return linked;
#endif
}

HRESULT FrameLibraryCanUnloadNow() {
    const auto entry = FrameEntry("DllCanUnloadNow", &DllCanUnloadNow);
    return entry ? entry() : E_FAIL;
}

CComPtr<IOXFactory> RealFactory() {
    CComPtr<IClassFactory> cf;
    const auto get = FrameEntry("DllGetClassObject", &DllGetClassObject);
    EXPECT_TRUE(get);
    if (!get) return nullptr;
    EXPECT_EQ(get(CLSID_OXFactory, IID_IClassFactory, reinterpret_cast<void**>(&cf)), S_OK);
    if (!cf) return nullptr;
    CComPtr<IOXFactory> f;
    EXPECT_EQ(cf->CreateInstance(nullptr, IID_IOXFactory, reinterpret_cast<void**>(&f)), S_OK);
    return f;
}

// What the stand-in factories do and saw.
struct Script {
    std::atomic<int> creations{0};
    std::atomic<int> failCreations{0};  // creations to refuse before succeeding
    HRESULT makeLocalResult = S_OK;     // a failure here is returned without a frame
    bool answerWithSource = false;      // hand back the source itself as the local frame
    IUnknown* lastSource = nullptr;
    BOOL lastClone = TRUE;
};
Script g_public, g_private;

HRESULT MakeLocal(Script& s, IUnknown* source, IOXFrame** out, BOOL clone) {
    s.lastSource = source;
    s.lastClone = clone;
    *out = nullptr;
    if (FAILED(s.makeLocalResult)) return s.makeLocalResult;
    if (s.answerWithSource) return source->QueryInterface(out);
    return RealFactory()->OXFrameMakeLocal(source, out, clone);
}

std::atomic<int> g_factoriesAlive{0};

class StandInFactory : public CComObjectRootEx<CComMultiThreadModel>,
                       public IOXFactory,
                       public IMFactory_I {
public:
    StandInFactory() { ++g_factoriesAlive; }
    ~StandInFactory() { --g_factoriesAlive; }
    BEGIN_COM_MAP(StandInFactory)
    COM_INTERFACE_ENTRY(IOXFactory)
    COM_INTERFACE_ENTRY(IMFactory_I)
    END_COM_MAP()
    STDMETHOD(OXFrameMake)(const M_AV_PROPS*, int, IOXFrame**) override { return E_NOTIMPL; }
    STDMETHOD(OXFrameMakeFromMemory)
    (const M_AV_PROPS*, LONG, LONGLONG, int, LONG, LONGLONG, IOXFrame**) override {
        return E_NOTIMPL;
    }
    STDMETHOD(OXFrameMakeLocal)(IUnknown* source, IOXFrame** out, BOOL clone) override {
        return MakeLocal(g_public, source, out, clone);
    }
    STDMETHOD(FrameMakeLocal)(IUnknown* source, IOXFrame** out, BOOL clone) override {
        return MakeLocal(g_private, source, out, clone);
    }
};

template <Script& S>
class StandInClassFactory : public CComObjectRootEx<CComMultiThreadModel>, public IClassFactory {
public:
    BEGIN_COM_MAP(StandInClassFactory)
    COM_INTERFACE_ENTRY(IClassFactory)
    END_COM_MAP()
    STDMETHOD(CreateInstance)(IUnknown*, REFIID riid, void** ppv) override {
        ++S.creations;
        if (S.failCreations > 0) {
            --S.failCreations;
            return E_OUTOFMEMORY;
        }
        return New<StandInFactory>()->QueryInterface(riid, ppv);
    }
    STDMETHOD(LockServer)(BOOL) override { return S_OK; }
};

template <Script& S>
HRESULT STDMETHODCALLTYPE GetStandIn(REFCLSID, REFIID riid, void** ppv) {
    return New<StandInClassFactory<S>>()->QueryInterface(riid, ppv);
}

TEST(FrameContract, FactoriesAreMadeOnceRetriedAfterFailureAndResultsPassThrough) {
    ASSERT_EQ(OrvexRevokeProcessClass(CLSID_OXFactory, &DllGetClassObject), S_OK);
    ASSERT_EQ(OrvexRevokeProcessClass(CLSID_MFactoryPriv, &DllGetClassObject), S_OK);
    auto hold = std::make_unique<FrameFactoryHold>();

    CComPtr<IOXFrame> own;
    M_AV_PROPS props = Props(eMFCC_UYVY, 2, 1);
    ASSERT_EQ(RealFactory()->OXFrameMake(&props, 0, &own), S_OK);
    const ULONG ownRefs = RefCount(own);
    CComPtr<IMFrame_I> out;
    EXPECT_EQ(FrameInternalGet(nullptr, &out), E_POINTER);
    EXPECT_EQ(FrameInternalGet(own, nullptr), E_POINTER);

    // No factory anywhere, then one that fails once: both are "unexpected", and each need
    // tries again.
    EXPECT_EQ(FrameInternalGet(own, &out), E_UNEXPECTED);
    ASSERT_EQ(OrvexRegisterProcessClass(CLSID_OXFactory, &GetStandIn<g_public>), S_OK);
    g_public.failCreations = 1;
    EXPECT_EQ(FrameInternalGet(own, &out), E_UNEXPECTED);
    EXPECT_EQ(g_public.creations, 1);
    EXPECT_FALSE(out);

    // An SDK frame of this process comes back as itself, asked without a forced clone.
    ASSERT_EQ(FrameInternalGet(own, &out), S_OK);
    EXPECT_EQ(g_public.creations, 2);
    EXPECT_EQ(g_public.lastClone, FALSE);
    CComQIPtr<IMFrame_I> ownInternal(own);
    EXPECT_EQ(out.p, ownInternal.p);
    out.Release();
    ownInternal.Release();
    EXPECT_EQ(RefCount(own), ownRefs);

    // A host frame is copied; the copy is the caller's alone.
    CComPtr<HostFrame> host = New<HostFrame>();
    const ULONG hostRefs = RefCount(static_cast<IOXFrame*>(host));
    ASSERT_EQ(FrameInternalGet(static_cast<IOXFrame*>(host), &out), S_OK);
    EXPECT_EQ(RefCount(out), 1u);
    out.Release();
    EXPECT_EQ(RefCount(static_cast<IOXFrame*>(host)), hostRefs);
    EXPECT_EQ(g_public.creations, 2);  // kept, not made again

    g_public.makeLocalResult = E_ACCESSDENIED;
    EXPECT_EQ(FrameInternalGet(own, &out), E_ACCESSDENIED);
    g_public.makeLocalResult = S_OK;
    // A local frame without the internal interface fails the last step.
    g_public.answerWithSource = true;
    EXPECT_EQ(FrameInternalGet(static_cast<IOXFrame*>(host), &out), E_NOINTERFACE);
    g_public.answerWithSource = false;
    EXPECT_EQ(RefCount(static_cast<IOXFrame*>(host)), hostRefs);

    // Private frame sources go to the private factory, which may be missing.
    CComPtr<PrivateSource> source = New<PrivateSource>();
    IUnknown* sourceUnk = static_cast<IMFrameSource_I*>(source);
    EXPECT_EQ(FrameInternalGet(sourceUnk, &out), E_UNEXPECTED);
    ASSERT_EQ(OrvexRegisterProcessClass(CLSID_MFactoryPriv, &GetStandIn<g_private>), S_OK);
    ASSERT_EQ(FrameInternalGet(sourceUnk, &out), S_OK);
    EXPECT_EQ(g_private.lastSource, sourceUnk);
    EXPECT_EQ(g_private.lastClone, FALSE);
    out.Release();

    // Neither a frame nor a frame source.
    EXPECT_EQ(FrameInternalGet(RealFactory(), &out), E_NOINTERFACE);

    // The last holder takes the factories with it; without one, every need makes its own.
    EXPECT_EQ(g_factoriesAlive, 2);
    hold.reset();
    EXPECT_EQ(g_factoriesAlive, 0);
    ASSERT_EQ(FrameInternalGet(static_cast<IOXFrame*>(host), &out), S_OK);
    out.Release();
    ASSERT_EQ(FrameInternalGet(static_cast<IOXFrame*>(host), &out), S_OK);
    out.Release();
    EXPECT_EQ(g_public.creations, 4);
    EXPECT_EQ(g_factoriesAlive, 0);

    OrvexRevokeProcessClass(CLSID_OXFactory, &GetStandIn<g_public>);
    OrvexRevokeProcessClass(CLSID_MFactoryPriv, &GetStandIn<g_private>);
    OrvexRegisterProcessClass(CLSID_OXFactory, &DllGetClassObject);
    OrvexRegisterProcessClass(CLSID_MFactoryPriv, &DllGetClassObject);
}

// A host may unload the frame library once its DllCanUnloadNow says S_OK: the factories a
// renderer keeps lock it while the renderer lives, and no longer.
TEST(FrameContract, TheFrameLibraryIsFreeToUnloadOnceTheLastHolderGoes) {
    CComPtr<IOXFrame> own;
    M_AV_PROPS props = Props(eMFCC_UYVY, 2, 1);
    {
        CComPtr<IOXFactory> factory = RealFactory();
        ASSERT_TRUE(factory);
        ASSERT_EQ(factory->OXFrameMake(&props, 0, &own), S_OK);
    }
    {
        FrameFactoryHold hold;
        CComPtr<IMFrame_I> out;
        ASSERT_EQ(FrameInternalGet(own, &out), S_OK);
        out.Release();
        own.Release();
        EXPECT_EQ(FrameLibraryCanUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(FrameLibraryCanUnloadNow(), S_OK);
}

}  // namespace
