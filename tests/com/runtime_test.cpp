#include <gtest/gtest.h>

#include <thread>

#include "com/ptr.h"
#include "com/runtime.h"
#include "com/test_server.h"
#include "platform/registry.h"
#include "support/temp_registry.h"

namespace {

using orvex::platform::RegistryDeleteTree;
using orvex::platform::RegistryKey;
using orvex::platform::RegRoot;

void RegisterServer(REFCLSID clsid, const char* path) {
    RegistryKey key;
    std::u16string k = u"CLSID\\" + orvex::com::GuidToString(clsid) + u"\\InprocServer32";
    ASSERT_EQ(key.Create(RegRoot::kClassesRoot, k), ERROR_SUCCESS);
    ASSERT_EQ(key.SetString(u"", orvex::com::ToUtf16(path)), ERROR_SUCCESS);
}

TEST(ComRuntime, ApartmentCallsBalanceAndRefuseAModelChange) {
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
        CoUninitialize();  // one too many is harmless
    }).join();
}

TEST(ComRuntime, CreatesAClassThroughTheRegistryInAnotherLibrary) {
    RegisterServer(CLSID_TestCounter, TEST_SERVER_PATH);
    CComPtr<ITestCounter> counter;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                               reinterpret_cast<void**>(&counter)),
              S_OK);
    int v = 0;
    EXPECT_EQ(counter->Increment(&v), S_OK);
    EXPECT_EQ(v, 1);

    // A second object is a new instance of the same (now loaded) server.
    CComPtr<ITestCounter> other;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_ITestCounter,
                               reinterpret_cast<void**>(&other)),
              S_OK);
    other->Increment(&v);
    EXPECT_EQ(v, 1);

    // Only in-process contexts are served; aggregation needs IUnknown.
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(
        CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_LOCAL_SERVER, IID_ITestCounter, &p),
        REGDB_E_CLASSNOTREG);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, counter, CLSCTX_ALL, IID_ITestCounter, &p),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_ALL, IID_ITestCounter, nullptr),
              E_POINTER);
}

TEST(ComRuntime, ReportsMissingAndBrokenServers) {
    constexpr CLSID missing = MakeGuid("d5e0c0de-0000-4000-8000-000000000001");
    constexpr CLSID no_file = MakeGuid("d5e0c0de-0000-4000-8000-000000000002");
    constexpr CLSID no_entry = MakeGuid("d5e0c0de-0000-4000-8000-000000000003");
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(missing, nullptr, CLSCTX_ALL, IID_IUnknown, &p),
              REGDB_E_CLASSNOTREG);
    RegisterServer(no_file, "/nonexistent/libnothing.so");
    EXPECT_EQ(CoCreateInstance(no_file, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_DLLNOTFOUND);
    RegisterServer(no_entry, ORVEX_COM_PATH);  // a library without DllGetClassObject
    EXPECT_EQ(CoCreateInstance(no_entry, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_ERRORINDLL);
    EXPECT_EQ(p, nullptr);
    RegistryDeleteTree(RegRoot::kClassesRoot, u"CLSID");
}

HRESULT STDMETHODCALLTYPE FirstServer(REFCLSID, REFIID, void** ppv) {
    *ppv = nullptr;
    return E_ACCESSDENIED;
}
HRESULT STDMETHODCALLTYPE SecondServer(REFCLSID, REFIID, void** ppv) {
    *ppv = nullptr;
    return E_ABORT;
}

TEST(ComRuntime, ProcessClassTableServesTheFirstListedModule) {
    constexpr CLSID cls = MakeGuid("d5e0c0de-0000-4000-8000-000000000010");
    void* p = nullptr;
    EXPECT_EQ(OrvexRegisterProcessClass(cls, nullptr), E_INVALIDARG);
    EXPECT_EQ(OrvexRegisterProcessClass(cls, &FirstServer), S_OK);
    EXPECT_EQ(OrvexRegisterProcessClass(cls, &FirstServer), S_FALSE);
    EXPECT_EQ(OrvexRegisterProcessClass(cls, &SecondServer), S_OK);
    EXPECT_EQ(CoGetClassObject(cls, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &p),
              E_ACCESSDENIED);
    // A second module unloading revokes only its own entry.
    EXPECT_EQ(OrvexRevokeProcessClass(cls, &SecondServer), S_OK);
    EXPECT_EQ(CoGetClassObject(cls, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &p),
              E_ACCESSDENIED);
    EXPECT_EQ(OrvexRevokeProcessClass(cls, &FirstServer), S_OK);
    EXPECT_EQ(OrvexRevokeProcessClass(cls, &FirstServer), S_FALSE);
    EXPECT_EQ(CoGetClassObject(cls, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &p),
              REGDB_E_CLASSNOTREG);
}

}  // namespace
