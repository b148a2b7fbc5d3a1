// The generic renderer's device directory and delegation over backend classes of the test
// (the module's own backends list nothing: no card driver is registered here).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "backend/registry_settings.h"
#include "com/ptr.h"
#include "com/runtime.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"
#include "renderer/fake_backend.h"
#include "support/temp_registry.h"

namespace {

using orvex::platform::RegRoot;
using orvex::test::BackendProbe;
using orvex::test::kFakeA;
using orvex::test::kFakeB;
using orvex::test::kFakeC;
using Calls = std::vector<std::string>;
using Probes = std::vector<BackendProbe*>;

constexpr HRESULT kMarker = static_cast<HRESULT>(0x8004ABCD);
const CLSID& kSib1 = CLSID_SiblingRenderer1;
const CLSID& kSib2 = CLSID_SiblingRenderer2;

std::u16string Braced(REFCLSID clsid) {
    return orvex::com::GuidToString(clsid);
}

class Directory : public ::testing::Test {
public:
    void SetUp() override {
        static orvex::platform::DynamicLibrary module;  // lists the renderer classes
        static const bool opened = module.Open(OXRENDERER_PATH);
        ASSERT_TRUE(opened) << module.Error();
        orvex::platform::RegistryDeleteTree(RegRoot::kCurrentUser,
                                            orvex::backend::kSettingsKeyPath);
    }
    void TearDown() override { orvex::test::UnlistAll(); }

    BackendProbe& Backend(REFCLSID clsid, std::vector<std::u16string> devices = {}) {
        probes_.emplace_back(std::make_unique<BackendProbe>());
        BackendProbe& probe = *probes_.back();
        probe.devices = std::move(devices);
        orvex::test::List(clsid, &probe);
        return probe;
    }
    void Setting(const char16_t* name, const std::u16string& value) {
        orvex::platform::RegistryKey key;
        ASSERT_EQ(key.Create(RegRoot::kCurrentUser, orvex::backend::kSettingsKeyPath), 0);
        ASSERT_EQ(key.SetString(name, value), 0);
    }
    CComPtr<IOXDevice> Make() {
        CComPtr<IOXDevice> device;
        EXPECT_EQ(CoCreateInstance(CLSID_OXRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IOXDevice,
                                   reinterpret_cast<void**>(&device)),
                  S_OK);
        return device;
    }
    static std::vector<std::u16string> Names(IOXDevice* device) {
        std::vector<std::u16string> names;
        int count = -1;
        EXPECT_EQ(device->DeviceGetCount(eOXDT_Video, &count), S_OK);
        int audio = -1;
        EXPECT_EQ(device->DeviceGetCount(eOXDT_Audio, &audio), S_OK);
        EXPECT_EQ(audio, count);
        for (int i = 0; i < count; ++i) {
            CComBSTR name;
            EXPECT_EQ(device->DeviceGetByIndex(eOXDT_Video, i, &name, nullptr), S_OK) << i;
            names.emplace_back(name.View());
        }
        for (int beyond : {count, -1}) {
            CComBSTR name;
            EXPECT_EQ(device->DeviceGetByIndex(eOXDT_Video, beyond, &name, nullptr),
                      E_INVALID_INDEX);
        }
        return names;
    }
    static std::pair<int, std::u16string> Chosen(IOXDevice* device) {
        int index = 99;
        CComBSTR name;
        device->DeviceGet(eOXDT_Video, &index, &name);
        return {index, std::u16string(name.View())};
    }

    std::vector<std::unique_ptr<BackendProbe>> probes_;
};

// Which backends join the directory, in which order, and that every object is let go with
// the renderer. Each backend: its class, devices and a fault; the extra classes setting.
const auto kExtra = u"extra_devices.clsids";
struct BackendRow {
    const CLSID* clsid;
    std::vector<std::u16string> devices;
    void (*fault)(BackendProbe&) = nullptr;
    int alive = 1;  // objects while the renderer lives
};
struct TableCase {
    const char* what;
    std::vector<BackendRow> backends;
    std::u16string extra;
    std::vector<std::u16string> names;
};

class DirectoryTable : public Directory, public ::testing::WithParamInterface<TableCase> {};

TEST_P(DirectoryTable, ListsTheDevicesOfEveryUsableBackendInOrder) {
    Probes probes;
    for (const BackendRow& b : GetParam().backends) {
        probes.push_back(&Backend(*b.clsid, b.devices));
        if (b.fault) b.fault(*probes.back());
    }
    if (!GetParam().extra.empty()) Setting(kExtra, GetParam().extra);
    {
        CComPtr<IOXDevice> device = Make();
        ASSERT_TRUE(device);
        EXPECT_EQ(Names(device), GetParam().names);
        for (std::size_t i = 0; i < probes.size(); ++i)
            EXPECT_EQ(probes[i]->alive.load(), GetParam().backends[i].alive) << "probe " << i;
    }
    for (BackendProbe* p : probes) EXPECT_EQ(p->alive.load(), 0);
}

const std::u16string kA = Braced(kFakeA), kB = Braced(kFakeB), kC = Braced(kFakeC);
std::u16string Lower(std::u16string s) {
    for (char16_t& c : s) c = static_cast<char16_t>(std::tolower(c));
    return s;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, DirectoryTable, ::testing::Values(
    TableCase{"no backend with devices", {}, u"", {}},
    TableCase{"siblings, the second kept without devices", {{&kSib1, {u"s1"}}, {&kSib2, {}}}, u"", {u"s1"}},
    TableCase{"the first sibling only with devices; extras after the built-in classes",
              {{&kSib1, {}, nullptr, 0}, {&kFakeA, {u"a0", u"a1"}}, {&kFakeB, {u"b0"}}, {&kSib2, {u"s2"}}},
              kB + u" " + kA, {u"s2", u"b0", u"a0", u"a1"}},
    TableCase{"failing, throwing and impossible counts are left out",
              {{&kSib1, {u"x"}, +[](BackendProbe& p) { p.count_result = E_FAIL; }, 0},
               {&kSib2, {u"y"}, +[](BackendProbe& p) { p.count_result = E_NOTIMPL; }, 0},
               {&kFakeA, {u"z"}, +[](BackendProbe& p) { p.count_override = -3; }, 0}, {&kFakeB, {u"ok"}}},
              kA + u";" + kB, {u"ok"}},
    TableCase{"classes that cannot be made are skipped", {{&kSib1, {u"x"}, +[](BackendProbe& p) { p.create_result = E_OUTOFMEMORY; }, 0}, {&kFakeA, {u"a"}}}, kC + u"," + kA, {u"a"}},
    TableCase{"separators, malformed tokens, the directory itself", {{&kFakeA, {u"a"}}, {&kFakeB, {u"b"}}},
              u",, \t" + Lower(kB) + u";\r\n{nope} " + Braced(CLSID_OXRenderer) + u" 5d0c6f1a-1111-4c3e-9a51-7be0a2c40003 {},;" + kA + u"x " + kA,
              {u"b", u"a"}},
    TableCase{"a backend that makes a directory while it is made", {{&kSib1, {u"s"}, +[](BackendProbe& p) { p.makes_directory = true; }}}, u"", {u"s"}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });
// clang-format on

TEST_F(Directory, ChoosingADeviceMovesBetweenBackendsAndClosesTheOldOne) {
    BackendProbe& a = Backend(kSib1, {u"a0", u"a1"});
    BackendProbe& b = Backend(kFakeB, {u"b0"});
    Setting(kExtra, kB);
    CComPtr<IOXDevice> device = Make();
    ASSERT_TRUE(device);
    // "device.init_first" is on by default: the first device is chosen at once.
    EXPECT_EQ(a.Calls(), (Calls{"DeviceSet 0 null"}));
    EXPECT_EQ(Chosen(device), std::make_pair(0, std::u16string(u"a0")));

    struct Step {
        int index;
        HRESULT result;
        Calls a, b;
        int chosen;
        std::u16string name;
    } steps[] = {
        {1, S_OK, {"DeviceSet 1 p"}, {}, 1, u"a1"},
        {2, S_OK, {"DeviceClose"}, {"DeviceSet 0 p"}, 2, u"b0"},
        {2, S_OK, {}, {"DeviceSet 0 p"}, 2, u"b0"},
        {3, E_INVALID_INDEX, {}, {}, 2, u"b0"},
        {-1, E_INVALID_INDEX, {}, {}, 2, u"b0"},
        {0, S_OK, {"DeviceSet 0 p"}, {"DeviceClose"}, 0, u"a0"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.index);
        a.Calls(), b.Calls();
        EXPECT_EQ(device->DeviceSet(eOXDT_Video, s.index, CComBSTR(u"p")), s.result);
        EXPECT_EQ(a.Calls(), s.a);
        EXPECT_EQ(b.Calls(), s.b);
        EXPECT_EQ(Chosen(device), std::make_pair(s.chosen, s.name));
    }

    // A device that refuses the choice leaves the previous backend current.
    b.set_result = E_BUSY;
    EXPECT_EQ(device->DeviceSet(eOXDT_Video, 2, nullptr), E_BUSY);
    EXPECT_EQ(Chosen(device), std::make_pair(0, std::u16string(u"a0")));
    a.Calls();
    EXPECT_EQ(device->DeviceClose(), S_OK);
    EXPECT_EQ(a.Calls(), (Calls{"DeviceClose"}));
}

TEST_F(Directory, InitFirstChoosesTheFirstDeviceUnlessTurnedOff) {
    for (const char16_t* value : {u"", u"1", u"true", u"0", u"false"}) {
        SCOPED_TRACE(orvex::com::ToUtf8(value));
        BackendProbe& empty = Backend(kSib2);  // kept without devices, so listed first
        BackendProbe& a = Backend(kFakeA, {u"a0"});
        Setting(kExtra, kA);
        if (*value) Setting(u"device.init_first", value);
        const bool on = value[0] != u'0' && value[0] != u'f';
        CComPtr<IOXDevice> device = Make();
        ASSERT_TRUE(device);
        EXPECT_EQ(a.Calls(), on ? Calls{"DeviceSet 0 null"} : Calls{});
        EXPECT_EQ(empty.Calls(), Calls{});  // nothing to close at creation
        // Off, the first entry is current with no device chosen: DeviceGet says -1.
        EXPECT_EQ(Chosen(device).first, on ? 0 : -1);
        device.Release();
        orvex::test::UnlistAll();
        SetUp();
    }
}

// Calls that go to the current backend arrive there with their arguments and come back with
// the backend's own result: every device call, and a sample of the property and format calls,
// which share one forwarding path each (the format delegation itself is tested in
// tests/format_iface).
TEST_F(Directory, DelegatesEveryInterfaceToTheCurrentBackend) {
    BackendProbe& a = Backend(kSib1, {u"a0"});
    CComPtr<IOXDevice> device = Make();
    ASSERT_TRUE(device);
    a.Calls();
    a.call_result = kMarker;
    CComQIPtr<IOXReceiver> receiver(device);
    CComQIPtr<IOXProps> props(device);
    CComQIPtr<IOXFormat> format(device);
    ASSERT_TRUE(receiver && props && format);
    CComBSTR s(u"x"), out;
    int n = 0;
    BOOL b = 0;
    M_VID_PROPS vid{};
    M_AUD_PROPS aud{};
    CComPtr<IUnknown> unk;
    const std::vector<std::pair<std::string, std::function<HRESULT()>>> calls = {
        {"DeviceGetByIndex 0", [&] { return device->DeviceGetByIndex(eOXDT_Video, 0, &out, &b); }},
        {"DeviceSet 0 x", [&] { return device->DeviceSet(eOXDT_Video, 0, s); }},
        {"DeviceGet", [&] { return device->DeviceGet(eOXDT_Video, &n, &out); }},
        {"DeviceShowProps x 42", [&] { return device->DeviceShowProps(eOXDT_Video, s, 42); }},
        {"DeviceOpen x null", [&] { return device->DeviceOpen(s, nullptr); }},
        {"DeviceClose", [&] { return device->DeviceClose(); }},
        {"DeviceGetInternal", [&] { return device->DeviceGetInternal(eOXDT_Video, &unk); }},
        {"ReceiverFramePut null 7 x", [&] { return receiver->ReceiverFramePut(nullptr, 7, s); }},
        {"PropsSet x x", [&] { return props->PropsSet(s, s); }},
        {"PropsGet x", [&] { return props->PropsGet(s, &out); }},
        {"PropsInfoGet", [&] { return props->PropsInfoGet(s, eMIT_Help, &out); }},
        {"PropsOptionGetByIndex", [&] { return props->PropsOptionGetByIndex(s, 0, &out, &out); }},
        {"PropsOptionGet", [&] { return props->PropsOptionGet(s, &n, &out, &out); }},
        {"FormatVideoSet", [&] { return format->FormatVideoSet(eMFT_Convert, &vid); }},
        {"FormatAudioGet", [&] { return format->FormatAudioGet(eMFT_Convert, &aud, &n, &out); }},
    };
    for (const auto& [what, call] : calls) {
        out.Empty();
        unk.Release();
        EXPECT_EQ(call(), kMarker) << what;
        EXPECT_EQ(a.Calls(), Calls{what});
    }
    // A backend that throws answers E_UNEXPECTED instead, every time.
    a.throws = true;
    for (const auto& [what, call] : calls) {
        EXPECT_EQ(call(), E_UNEXPECTED) << what;
        EXPECT_EQ(a.Calls(), Calls{what});
    }
}

TEST_F(Directory, WithoutABackendOnlyTheOwnStoreAndFormatListsAnswer) {
    CComPtr<IOXDevice> device = Make();
    ASSERT_TRUE(device);
    CComPtr<IUnknown> unk;
    CComQIPtr<IOXReceiver> receiver(device);
    EXPECT_EQ(device->DeviceOpen(nullptr, nullptr), E_NO_DEVICE);
    EXPECT_EQ(device->DeviceClose(), E_NO_DEVICE);
    EXPECT_EQ(device->DeviceShowProps(eOXDT_Video, nullptr, 0), E_NO_DEVICE);
    EXPECT_EQ(device->DeviceGetInternal(eOXDT_Video, &unk), E_NO_DEVICE);
    EXPECT_EQ(receiver->ReceiverFramePut(nullptr, 0, nullptr), E_NO_DEVICE);
    EXPECT_EQ(device->DeviceSet(eOXDT_Video, 0, nullptr), E_INVALID_INDEX);
    int index = 77;
    EXPECT_EQ(device->DeviceGet(eOXDT_Video, &index, nullptr), S_FALSE);
    EXPECT_EQ(index, -1);

    CComQIPtr<IOXFormat> format(device);
    int formats = 0;
    EXPECT_EQ(format->FormatVideoGetCount(eMFT_Convert, &formats), S_OK);
    EXPECT_GT(formats, 0);
    CComQIPtr<IOXProps> props(device);
    CComBSTR value;
    EXPECT_EQ(props->PropsGet(CComBSTR(u"extra_devices.clsids"), &value), S_OK);
    EXPECT_EQ(props->PropsSet(CComBSTR(u"own"), CComBSTR(u"1")), S_OK);
    value.Empty();
    EXPECT_EQ(props->PropsGet(CComBSTR(u"own"), &value), S_OK);
    EXPECT_EQ(value.View(), u"1");
}

// A backend that lacks an interface leaves that interface to the renderer's own answer.
TEST_F(Directory, InterfacesTheBackendLacksFallBackOrFail) {
    BackendProbe& a = Backend(kSib1, {u"a0"});
    a.receiver = false;
    a.props = false;
    a.format = false;
    CComPtr<IOXDevice> device = Make();
    ASSERT_TRUE(device);
    a.Calls();
    CComQIPtr<IOXReceiver> receiver(device);
    EXPECT_EQ(receiver->ReceiverFramePut(nullptr, 0, nullptr), E_NOINTERFACE);
    // The private identifier alone is enough for the property calls.
    CComQIPtr<IOXProps> props(device);
    EXPECT_EQ(props->PropsSet(CComBSTR(u"k"), CComBSTR(u"v")), S_OK);
    EXPECT_EQ(a.Calls(), (Calls{"PropsSet k v"}));
    a.private_props = false;
    EXPECT_EQ(props->PropsSet(CComBSTR(u"k"), CComBSTR(u"own")), S_OK);
    CComBSTR value;
    EXPECT_EQ(props->PropsGet(CComBSTR(u"k"), &value), S_OK);
    EXPECT_EQ(value.View(), u"own");
    CComQIPtr<IOXFormat> format(device);
    int formats = 0;
    EXPECT_EQ(format->FormatVideoGetCount(eMFT_Convert, &formats), S_OK);
    EXPECT_GT(formats, 0);
    EXPECT_EQ(a.Calls(), Calls{});
    EXPECT_EQ(a.store[u"k"], u"v");
}

// Readers (device queries, properties, frames) run while another thread switches backends.
TEST_F(Directory, CallsRunSafelyWhileTheDeviceChanges) {
    Backend(kSib1, {u"a0", u"a1"});
    Backend(kSib2, {u"b0"});
    CComPtr<IOXDevice> device = Make();
    ASSERT_TRUE(device);
    std::atomic<int> failures{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t) {
        readers.emplace_back([&, t] {
            CComQIPtr<IOXProps> props(device);
            CComQIPtr<IOXReceiver> receiver(device);
            for (int i = 0; i < 300; ++i) {
                CComBSTR name;
                if (device->DeviceGetByIndex(eOXDT_Video, t, &name, nullptr) != S_OK) ++failures;
                if (FAILED(props->PropsSet(CComBSTR(u"k"), CComBSTR(u"v")))) ++failures;
                if (receiver->ReceiverFramePut(nullptr, 0, nullptr) != S_OK) ++failures;
            }
        });
    }
    for (int i = 0; i < 100; ++i) EXPECT_EQ(device->DeviceSet(eOXDT_Video, i % 3, nullptr), S_OK);
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
