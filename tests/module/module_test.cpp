#include <gtest/gtest.h>

#include <barrier>
#include <cstdint>
#include <filesystem>
#include <thread>
#include <vector>

#include "com/ptr.h"
#include "com/runtime.h"
#include "orvex/orvex.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"
#include "support/counting_outer.h"
#include "support/temp_registry.h"

namespace {

using orvex::test::CountingOuter;

using orvex::platform::DynamicLibrary;
using orvex::platform::RegistryKey;
using orvex::platform::RegRoot;

struct Module {
    explicit Module(const std::string& path) {
        EXPECT_TRUE(lib.Open(path)) << lib.Error();
        get_class_object =
            reinterpret_cast<decltype(get_class_object)>(lib.Symbol("DllGetClassObject"));
        can_unload = reinterpret_cast<decltype(can_unload)>(lib.Symbol("DllCanUnloadNow"));
        reg = reinterpret_cast<decltype(reg)>(lib.Symbol("DllRegisterServer"));
        unreg = reinterpret_cast<decltype(unreg)>(lib.Symbol("DllUnregisterServer"));
    }
    DynamicLibrary lib;
    HRESULT(STDMETHODCALLTYPE* get_class_object)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDMETHODCALLTYPE* can_unload)() = nullptr;
    HRESULT(STDMETHODCALLTYPE* reg)() = nullptr;
    HRESULT(STDMETHODCALLTYPE* unreg)() = nullptr;
};

Module& TheModule() {
    static Module m(OXRENDERER_PATH);
    return m;
}

CComPtr<IClassFactory> FactoryOf(REFCLSID clsid) {
    CComPtr<IClassFactory> cf;
    EXPECT_EQ(TheModule().get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&cf)),
              S_OK);
    return cf;
}

const CLSID* const kClasses[] = {&CLSID_OXRenderer, &CLSID_OXRendererBMD, &CLSID_OXRendererAJA};

TEST(ModuleEntry, ClassObjectLookup) {
    Module& m = TheModule();
    ASSERT_NE(m.get_class_object, nullptr);
    EXPECT_EQ(m.get_class_object(CLSID_OXRenderer, IID_IClassFactory, nullptr), E_POINTER);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(m.get_class_object(CLSID_OXFactory, IID_IClassFactory, &p),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(m.get_class_object(CLSID_OXRenderer, IID_IOXDevice, &p), E_NOINTERFACE);
    // Each class has its own class object (ConcurrentRequestsShareOneClassObject: one per class).
    EXPECT_NE(FactoryOf(CLSID_OXRendererAJA).p, FactoryOf(CLSID_OXRendererBMD).p);
}

// Every class answers its interface table, and a failed call leaves no out-parameter as the
// caller's garbage.
TEST(ModuleEntry, EveryClassAnswersItsInterfacesAndClearsOutParametersOnFailure) {
    BSTR const junkName = reinterpret_cast<BSTR>(std::uintptr_t{0x10});
    IUnknown* const junkObject = reinterpret_cast<IUnknown*>(std::uintptr_t{0x20});
    for (const CLSID* clsid : kClasses) {
        CComPtr<IUnknown> obj;
        ASSERT_EQ(FactoryOf(*clsid)->CreateInstance(nullptr, IID_IUnknown,
                                                    reinterpret_cast<void**>(&obj)),
                  S_OK);
        const auto query = [&](REFIID iid) {
            CComPtr<IUnknown> p;
            EXPECT_EQ(obj->QueryInterface(iid, reinterpret_cast<void**>(&p)), S_OK);
            return p;
        };
        // The private identifiers reach the same interfaces as IOXProps and IOXFormat.
        EXPECT_EQ(query(IID_IMPrivProps).p, query(IID_IOXProps).p);
        EXPECT_EQ(query(IID_IMPrivFormat).p, query(IID_IOXFormat).p);
        EXPECT_TRUE(query(IID_IOXReceiver));
        // Identity holds through the marshaler too.
        CComPtr<IUnknown> id;
        if (CComPtr<IUnknown> marshal = query(IID_IMarshal))
            marshal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&id));
        EXPECT_EQ(id.p, obj.p);
        CComQIPtr<IOXDevice> device(obj);
        ASSERT_TRUE(device);
        EXPECT_EQ(device->DeviceGetCount(eOXDT_Video, nullptr), E_POINTER);

        int count = -7, index = -7;
        BSTR name = junkName, current = junkName;
        BOOL busy = 7;
        IUnknown* internal = junkObject;
        const HRESULT results[] = {
            device->DeviceGetCount(eOXDT_Video, &count),
            device->DeviceGetByIndex(eOXDT_Video, 0, &name, &busy),
            device->DeviceGet(eOXDT_Video, &index, &current),
            device->DeviceGetInternal(eOXDT_Video, &internal),
        };
        if (FAILED(results[0])) {
            EXPECT_EQ(count, 0);
        }
        if (FAILED(results[1])) {
            EXPECT_EQ(name, nullptr);
            EXPECT_EQ(busy, FALSE);
        }
        if (FAILED(results[2])) {
            EXPECT_EQ(index, 0);
            EXPECT_EQ(current, nullptr);
        }
        if (FAILED(results[3])) {
            EXPECT_EQ(internal, nullptr);
        }
        // Whatever did succeed hands out something the caller frees.
        if (SUCCEEDED(results[1])) SysFreeString(name);
        if (SUCCEEDED(results[2])) SysFreeString(current);
        if (SUCCEEDED(results[3]) && internal) internal->Release();
    }
}

TEST(ModuleEntry, CreateInstanceRules) {
    CComPtr<IClassFactory> cf = FactoryOf(CLSID_OXRendererBMD);
    CountingOuter outer;
    EXPECT_EQ(cf->CreateInstance(nullptr, IID_IOXDevice, nullptr), E_POINTER);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(cf->CreateInstance(&outer, IID_IOXDevice, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);

    IUnknown* inner = nullptr;
    ASSERT_EQ(cf->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    outer.inner = inner;
    IOXDevice* device = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IOXDevice, reinterpret_cast<void**>(&device)), S_OK);
    EXPECT_EQ(outer.refs, 2u);  // the interface's references go to the outer object
    IUnknown* identity = nullptr;
    device->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    device->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(inner->Release(), 0u);
}

TEST(ModuleEntry, CanUnloadOnlyWhenNothingIsOutstanding) {
    Module& m = TheModule();
    CComPtr<IClassFactory> cf = FactoryOf(CLSID_OXRenderer);
    EXPECT_EQ(m.can_unload(), S_FALSE);  // the class object held out here
    CComPtr<IUnknown> obj;
    ASSERT_EQ(cf->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&obj)), S_OK);
    cf = nullptr;
    EXPECT_EQ(m.can_unload(), S_FALSE);  // one renderer alive
    obj = nullptr;
    EXPECT_EQ(m.can_unload(), S_OK);  // class objects stay cached without locking
    cf = FactoryOf(CLSID_OXRenderer);
    EXPECT_EQ(cf->LockServer(TRUE), S_OK);
    cf = nullptr;
    EXPECT_EQ(m.can_unload(), S_FALSE);
    FactoryOf(CLSID_OXRenderer)->LockServer(FALSE);
    EXPECT_EQ(m.can_unload(), S_OK);
}

TEST(ModuleEntry, ConcurrentRequestsShareOneClassObject) {
    constexpr int kThreads = 16;
    std::vector<IUnknown*> got(kThreads, nullptr);
    std::barrier start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            TheModule().get_class_object(CLSID_OXRendererAJA, IID_IUnknown,
                                         reinterpret_cast<void**>(&got[i]));
        });
    for (auto& t : threads) t.join();
    for (IUnknown* u : got) {
        EXPECT_EQ(u, got[0]);
        u->Release();
    }
}

std::u16string DefaultValue(const std::u16string& path) {
    RegistryKey key;
    std::u16string v;
    if (key.Open(RegRoot::kClassesRoot, path) != ERROR_SUCCESS) return u"<missing>";
    key.QueryString(u"", &v);
    return v;
}

bool KeyExists(const std::u16string& path) {
    RegistryKey key;
    return key.Open(RegRoot::kClassesRoot, path) == ERROR_SUCCESS;
}

TEST(Registration, WritesAndRemovesTheClassKeys) {
    const std::u16string aja = u"CLSID\\" + orvex::com::GuidToString(CLSID_OXRendererAJA);
    const std::u16string typelib = u"TypeLib\\" + orvex::com::GuidToString(LIBID_OrvexLib);
    {
        RegistryKey stale, other, tl;
        ASSERT_EQ(stale.Create(RegRoot::kClassesRoot, aja + u"\\Stale"), ERROR_SUCCESS);
        ASSERT_EQ(other.Create(RegRoot::kClassesRoot, u"CLSID\\{Other}"), ERROR_SUCCESS);
        ASSERT_EQ(tl.Create(RegRoot::kClassesRoot, typelib), ERROR_SUCCESS);
        ASSERT_EQ(tl.SetString(u"", u"kept"), ERROR_SUCCESS);
    }
    ASSERT_EQ(TheModule().reg(), S_OK);

    EXPECT_EQ(DefaultValue(u"Orvex.OXRenderer.1\\CLSID"),
              orvex::com::GuidToString(CLSID_OXRenderer));
    EXPECT_EQ(DefaultValue(u"Orvex.OXRendererBMD\\CurVer"), u"Orvex.OXRendererBMD.1");
    EXPECT_EQ(DefaultValue(aja + u"\\ProgID"), u"Orvex.OXRendererAJA.1");
    EXPECT_EQ(DefaultValue(aja + u"\\VersionIndependentProgID"), u"Orvex.OXRendererAJA");
    EXPECT_EQ(DefaultValue(aja + u"\\TypeLib"), orvex::com::GuidToString(LIBID_OrvexLib));
    EXPECT_EQ(DefaultValue(aja + u"\\InprocServer32"),
              orvex::com::ToUtf16(std::filesystem::canonical(OXRENDERER_PATH).string()));
    RegistryKey server;
    ASSERT_EQ(server.Open(RegRoot::kClassesRoot, aja + u"\\InprocServer32"), ERROR_SUCCESS);
    std::u16string model;
    EXPECT_EQ(server.QueryString(u"ThreadingModel", &model), ERROR_SUCCESS);
    EXPECT_EQ(model, u"Free");
    EXPECT_FALSE(KeyExists(aja + u"\\Stale"));  // ForceRemove cleared the old subtree

    ASSERT_EQ(TheModule().unreg(), S_OK);
    EXPECT_FALSE(KeyExists(u"Orvex.OXRenderer.1"));
    EXPECT_FALSE(KeyExists(u"Orvex.OXRendererBMD"));
    EXPECT_FALSE(KeyExists(aja));
    EXPECT_TRUE(KeyExists(u"CLSID\\{Other}"));  // CLSID itself is NoRemove
    EXPECT_EQ(DefaultValue(typelib), u"kept");  // the type library is never touched
    orvex::platform::RegistryDeleteTree(RegRoot::kClassesRoot, u"CLSID");
    orvex::platform::RegistryDeleteTree(RegRoot::kClassesRoot, u"TypeLib");
}

// Registers a copy of the module loaded from `dir` and returns the registration result.
HRESULT RegisterCopyIn(const std::filesystem::path& dir, std::u16string* server_path) {
    std::filesystem::create_directories(dir);
    auto copy = dir / "libOXRenderer.so";
    std::filesystem::copy_file(OXRENDERER_PATH, copy,
                               std::filesystem::copy_options::overwrite_existing);
    Module m(copy.string());
    HRESULT hr = m.reg();
    *server_path =
        DefaultValue(u"CLSID\\" + orvex::com::GuidToString(CLSID_OXRenderer) + u"\\InprocServer32");
    if (SUCCEEDED(hr)) m.unreg();
    return hr;
}

TEST(Registration, ModulePathsWithQuotesAndLengthLimit) {
    auto base = orvex::test::g_temp_registry->dir() / "modules";
    std::u16string server;
    auto quoted = base / "it's here";
    ASSERT_EQ(RegisterCopyIn(quoted, &server), S_OK);
    EXPECT_EQ(server, orvex::com::ToUtf16((quoted / "libOXRenderer.so").string()));

    // A path that fills the 260-character buffer is refused.
    auto deep = base;
    while (deep.string().size() < 260) deep /= std::string(40, 'd');
    EXPECT_EQ(RegisterCopyIn(deep, &server), MakeHResult(0x8007007Au));
}

}  // namespace
