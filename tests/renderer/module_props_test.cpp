// IOXProps of the renderer classes as a host meets them: the module loaded as a library,
// objects made by its class objects.
#include <gtest/gtest.h>

#include "backend/registry_settings.h"
#include "com/ptr.h"
#include "com/runtime.h"
#include "orvex/ids.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"
#include "support/temp_registry.h"

namespace {

using orvex::platform::RegistryKey;
using orvex::platform::RegRoot;

CComPtr<IOXProps> Create(REFCLSID clsid) {
    static orvex::platform::DynamicLibrary lib;
    static auto get_class_object = [] {
        EXPECT_TRUE(lib.Open(OXRENDERER_PATH));
        return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**)>(
            lib.Symbol("DllGetClassObject"));
    }();
    CComPtr<IClassFactory> cf;
    EXPECT_EQ(get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&cf)), S_OK);
    CComPtr<IOXProps> props;
    if (cf) {
        EXPECT_EQ(cf->CreateInstance(nullptr, IidOf<IOXProps>(), reinterpret_cast<void**>(&props)),
                  S_OK);
    }
    return props;
}

std::u16string Get(IOXProps* props, const char16_t* name) {
    CComBSTR v;
    EXPECT_EQ(props->PropsGet(CComBSTR(name), &v), S_OK) << orvex::com::ToUtf8(name);
    return std::u16string(v.View());
}

TEST(ModuleProps, EveryClassServesAStoreAndSharesTheKey) {
    orvex::platform::RegistryDeleteTree(RegRoot::kCurrentUser, orvex::backend::kSettingsKeyPath);
    CComPtr<IOXProps> generic = Create(CLSID_OXRenderer);
    ASSERT_TRUE(generic);
    // A fresh account gets the key with the defaults; later sets stay in the object's store.
    EXPECT_EQ(generic->PropsSet(CComBSTR(u"later"), CComBSTR(u"12")), S_OK);
    {
        RegistryKey key;
        ASSERT_EQ(key.Open(RegRoot::kCurrentUser, orvex::backend::kSettingsKeyPath, true), 0);
        std::u16string v = u"unset";
        EXPECT_EQ(key.QueryString(u"extra_devices.clsids", &v), 0);
        EXPECT_EQ(v, u"");
        EXPECT_NE(key.QueryString(u"later", &v), 0);
        key.SetString(u"user.choice", u"7");
    }
    for (const CLSID* clsid : {&CLSID_OXRendererBMD, &CLSID_OXRendererAJA}) {
        CComPtr<IOXProps> props = Create(*clsid);
        ASSERT_TRUE(props);
        EXPECT_EQ(Get(props, u"user.choice"), u"7");
        EXPECT_EQ(props->PropsSet(CComBSTR(u"a::b"), CComBSTR(u"1")), S_OK);
        EXPECT_EQ(Get(props, u"a::b"), u"1");
    }
    // Every class refuses what its schema bounds: a queue of a million frames is no setting.
    for (const CLSID* clsid : {&CLSID_OXRenderer, &CLSID_OXRendererBMD, &CLSID_OXRendererAJA}) {
        CComPtr<IOXProps> props = Create(*clsid);
        EXPECT_EQ(props->PropsSet(CComBSTR(u"input.buffers"), CComBSTR(u"1000000")), E_INVALIDARG);
        EXPECT_EQ(props->PropsSet(CComBSTR(u"input.buffers"), CComBSTR(u"4")), S_OK);
    }
    // Stores are per object.
    CComBSTR v;
    EXPECT_EQ(generic->PropsGet(CComBSTR(u"a::b"), &v), S_FALSE);
}

}  // namespace
