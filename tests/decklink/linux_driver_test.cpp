// Finding the vendor's Linux driver library: which entry point is taken, what a library that
// is not the driver's gives, and which of the ways of naming the driver wins.
#include <gtest/gtest.h>

#include <string>

#include "backend/registry_settings.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "support/virtual_decklink.h"

namespace {

using orvex::platform::SetEnvVar;

struct Listing {
    int count = -1;
    std::string driver;  // "stat::bmd.driver"
    std::string first;   // the first card's name
};

Listing List(orvex::test::VirtualDeckLink& rig) {
    Listing l;
    CComPtr<IOXDevice> device = rig.Create<IOXDevice>();
    if (!device) return l;
    EXPECT_EQ(device->DeviceGetCount(eOXDT_Video, &l.count), S_OK);
    CComQIPtr<IOXProps> props(device);
    CComBSTR text, name;
    props->PropsGet(CComBSTR(u"stat::bmd.driver"), &text);
    l.driver = orvex::com::ToUtf8(text.View());
    if (l.count > 0 && device->DeviceGetByIndex(eOXDT_Video, 0, &name, nullptr) == S_OK)
        l.first = orvex::com::ToUtf8(name.View());
    return l;
}

struct LibraryCase {
    const char* label;
    const char* library;
    const char* mode;  // FAKE_DECKLINK_MODE
    int count;
    const char* driver;  // part of "stat::bmd.driver"
};

class LinuxDriverLibrary : public ::testing::TestWithParam<LibraryCase> {};

TEST_P(LinuxDriverLibrary, IsTakenThroughItsNewestEntryPointOrExplained) {
    const LibraryCase& c = GetParam();
    orvex::test::VirtualDeckLink rig;  // nothing registered
    SetEnvVar("ORVEX_DECKLINK_LIBRARY", c.library);
    SetEnvVar("FAKE_DECKLINK_MODE", c.mode);
    const Listing l = List(rig);
    EXPECT_EQ(l.count, c.count);
    EXPECT_NE(l.driver.find(c.driver), std::string::npos) << l.driver;
    if (c.count > 0) {
        // The card's name (not ASCII) came through the entry point the driver names.
        EXPECT_EQ(l.first, "F\u00e4ke " + l.driver.substr(l.driver.size() - 5, 4)) << l.driver;
    }
}

// clang-format off
const LibraryCase kLibraryCases[] = {
    {"Missing", "/nonexistent/libDeckLinkAPI.so", "", 0, "/nonexistent/libDeckLinkAPI.so: cannot open"},
    {"NoEntryPoint", ORVEXCOM_PATH, "", 0,
     "exports none of CreateDeckLinkIteratorInstance_0004, _0003, _0002"},
    {"Only0002", FAKE_DRIVER_2, "", 1, "fake-driver-2.so (CreateDeckLinkIteratorInstance_0002)"},
    {"Newest0003", FAKE_DRIVER_3, "", 1, "fake-driver-3.so (CreateDeckLinkIteratorInstance_0003)"},
    {"Newest0004", FAKE_DRIVER_4, "", 1, "fake-driver-4.so (CreateDeckLinkIteratorInstance_0004)"},
    {"NoIterator", FAKE_DRIVER_4, "null", 0,
     "CreateDeckLinkIteratorInstance_0004 of " FAKE_DRIVER_4 " returned no iterator"},
    // The vendor's failure code comes back as ours.
    {"IteratorFails", FAKE_DRIVER_4, "failing", 0, "; listing its cards failed: 0x80004005"},
    {"UnknownObject", FAKE_DRIVER_4, "stranger", 0, "; 1 of its 1 cards answer no known interface"},
    {"EndlessList", FAKE_DRIVER_4, "endless", 0, "; its list did not end after 256 cards"},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cases, LinuxDriverLibrary, ::testing::ValuesIn(kLibraryCases),
                         [](const auto& info) { return std::string(info.param.label); });

// A registered driver comes first; then the environment variable, the shared setting, and
// the library's own name on the search path.
TEST(LinuxDriverLibraryChoice, RegistryThenVariableThenSettingThenSearchPath) {
    orvex::test::VirtualDeckLink rig;
    SetEnvVar("FAKE_DECKLINK_MODE", "");
    orvex::platform::RegistryKey settings;
    ASSERT_EQ(
        settings.Create(orvex::platform::RegRoot::kCurrentUser, orvex::backend::kSettingsKeyPath),
        ERROR_SUCCESS);
    ASSERT_EQ(settings.SetString(u"bmd.driver_library", orvex::com::ToUtf16(FAKE_DRIVER_2)),
              ERROR_SUCCESS);
    EXPECT_EQ(List(rig).first, "F\u00e4ke 0002");
    SetEnvVar("ORVEX_DECKLINK_LIBRARY", FAKE_DRIVER_3);
    EXPECT_EQ(List(rig).first, "F\u00e4ke 0003");
    rig.Register();  // the Windows-layout card, through the registry
    rig.UseRig("<card model=\"Registered\" video-out=\"sdi\" modes=\"all\"/>");
    EXPECT_EQ(List(rig).first, "Registered");
    // A registered driver that does not load gives way.
    const std::u16string key =
        u"CLSID\\" + orvex::com::GuidToString(CLSID_CDeckLinkIterator) + u"\\InprocServer32";
    orvex::platform::RegistryKey server;
    ASSERT_EQ(server.Open(orvex::platform::RegRoot::kClassesRoot, key, true), ERROR_SUCCESS);
    ASSERT_EQ(server.SetString(u"", u"/nonexistent/driver.so"), ERROR_SUCCESS);
    EXPECT_EQ(List(rig).first, "F\u00e4ke 0003");
    // Without a setting or a variable: libDeckLinkAPI.so, which no folder of this test holds.
    orvex::platform::UnsetEnvVar("ORVEX_DECKLINK_LIBRARY");
    ASSERT_EQ(settings.SetString(u"bmd.driver_library", u""), ERROR_SUCCESS);
    const Listing none = List(rig);
    EXPECT_EQ(none.count, 0);
    EXPECT_NE(none.driver.find("; libDeckLinkAPI.so: cannot open"), std::string::npos)
        << none.driver;
}

}  // namespace
