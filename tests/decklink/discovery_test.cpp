// Choosing a DeckLink card, and its connector and keying options, as a host meets them.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "decklink/api/decklink_api.h"
#include "platform/registry.h"
#include "support/virtual_decklink.h"

namespace {

using orvex::test::CardSetting;
using orvex::test::LinuxLayout;
using orvex::test::VirtualDeckLink;

constexpr HRESULT kBusy = static_cast<HRESULT>(0x800700AA);
constexpr HRESULT kBadIndex = static_cast<HRESULT>(0x80070585);
constexpr HRESULT kNoDeviceOpen = static_cast<HRESULT>(0x80040227);

std::string Card(const std::string& model, const std::string& extra = "") {
    return "<card model=\"" + model + "\" video-out=\"sdi\" modes=\"all\" " + extra + "/>";
}

// The name and busy flag of every card listed.
std::vector<std::pair<std::u16string, BOOL>> List(IOXDevice* device) {
    std::vector<std::pair<std::u16string, BOOL>> list;
    int count = -1;
    EXPECT_EQ(device->DeviceGetCount(eOXDT_Video, &count), S_OK);
    for (int i = 0; i < count; ++i) {
        CComBSTR name;
        BOOL busy = 7;
        EXPECT_EQ(device->DeviceGetByIndex(eOXDT_Video, i, &name, &busy), S_OK);
        list.emplace_back(name.View(), busy);
    }
    return list;
}

// (value, display name) of each option of a property.
std::vector<std::pair<std::u16string, std::u16string>> Options(IOXProps* props,
                                                               const char16_t* name) {
    std::vector<std::pair<std::u16string, std::u16string>> options;
    int count = 0;
    EXPECT_EQ(props->PropsOptionGetCount(CComBSTR(name), &count), S_OK);
    for (int i = 0; i < count; ++i) {
        CComBSTR value, help;
        EXPECT_EQ(props->PropsOptionGetByIndex(CComBSTR(name), i, &value, &help), S_OK);
        options.emplace_back(value.View(), help.View());
    }
    return options;
}

std::u16string Get(IOXProps* props, const char16_t* name) {
    CComBSTR value;
    props->PropsGet(CComBSTR(name), &value);
    return std::u16string(value.View());
}

class DeckLinkDiscovery : public ::testing::Test {
protected:
    void SetUp() override { rig_.Register(); }
    VirtualDeckLink rig_;
};

TEST_F(DeckLinkDiscovery, ListsPlayoutCardsWithUniqueNames) {
    rig_.UseRig(Card("DeckLink Duo") +
                "<card model=\"Mini Recorder\" video-out=\"\" video-in=\"sdi\"/>" +
                Card("DeckLink Duo") + Card("DeckLink Duo") + Card("DeckLink Duo (2)"));
    CComPtr<IOXDevice> device = rig_.Create<IOXDevice>();
    ASSERT_TRUE(device);
    EXPECT_EQ(List(device),
              (std::vector<std::pair<std::u16string, BOOL>>{{u"DeckLink Duo", 0},
                                                            {u"DeckLink Duo (2)", 0},
                                                            {u"DeckLink Duo (3)", 0},
                                                            {u"DeckLink Duo (2) (2)", 0}}));
    CComBSTR name;
    BOOL busy = 5;
    for (int bad : {4, -1})
        EXPECT_EQ(device->DeviceGetByIndex(eOXDT_Video, bad, &name, &busy), kBadIndex) << bad;
}

TEST_F(DeckLinkDiscovery, ChoosingACardClaimsItAndBusyCardsAreRefused) {
    rig_.UseRig(Card("A", "full-duplex=\"true\"") + Card("B", "busy=\"playback\"") +
                Card("C", "busy=\"capture\" full-duplex=\"true\"") +
                Card("D", "busy=\"capture\" full-duplex=\"false\""));
    CComPtr<IOXDevice> device = rig_.Create<IOXDevice>();
    ASSERT_TRUE(device);

    int index = 9;
    // An out-pointer holding garbage the callee must overwrite (owned by `stale`).
    CComBSTR stale(u"stale"), name;
    name.m_str = stale.m_str;
    EXPECT_EQ(device->DeviceGet(eOXDT_Video, &index, &name), S_FALSE);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(name.m_str, nullptr);
    CComPtr<IUnknown> none;
    EXPECT_EQ(device->DeviceGetInternal(eOXDT_Video, &none), kNoDeviceOpen);

    for (auto [i, result] :
         {std::pair{0, S_OK}, {0, S_FALSE}, {1, kBusy}, {3, kBusy}, {4, kBadIndex}})
        EXPECT_EQ(device->DeviceSet(eOXDT_Video, i, nullptr), result) << i;
    EXPECT_EQ(device->DeviceGet(eOXDT_Video, &index, &name), S_OK);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(name.View(), u"A");

    const auto list = List(device);
    ASSERT_EQ(list.size(), 4u);
    const BOOL expected_busy[] = {-1, 1, 0, 1};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(list[i].second, expected_busy[i]) << i;

    // The chosen card is claimed: a second renderer sees it busy and cannot take it.
    CComPtr<IOXDevice> other = rig_.Create<IOXDevice>();
    EXPECT_EQ(List(other).at(0).second, 1);
    EXPECT_EQ(other->DeviceSet(eOXDT_Video, 0, nullptr), kBusy);
    // Moving to another card lets the first go.
    EXPECT_EQ(device->DeviceSet(eOXDT_Video, 2, nullptr), S_OK);
    EXPECT_EQ(other->DeviceSet(eOXDT_Video, 0, nullptr), S_OK);

    CComPtr<IUnknown> internal;
    ASSERT_EQ(device->DeviceGetInternal(eOXDT_Video, &internal), S_OK);
    CComPtr<IDeckLink> card;
    EXPECT_EQ(internal.QueryInterface(&card), S_OK);
    CComBSTR model;
    ASSERT_EQ(card->GetModelName(&model), S_OK);
    EXPECT_EQ(model.View(), u"C");
}

TEST_F(DeckLinkDiscovery, ACardThatRefusesTheClaimIsNotChosen) {
    rig_.UseRig(Card("A") + Card("B"));
    CComPtr<IOXDevice> device = rig_.Create<IOXDevice>();
    ASSERT_EQ(device->DeviceSet(eOXDT_Video, 0, nullptr), S_OK);
    rig_.SetFault(1, "enable-error", static_cast<double>(0x80004005u));
    EXPECT_EQ(device->DeviceSet(eOXDT_Video, 1, nullptr), E_FAIL);
    int index = 9;
    EXPECT_EQ(device->DeviceGet(eOXDT_Video, &index, nullptr), S_FALSE);
    EXPECT_EQ(index, -1);
    rig_.SetFault(1, "clear", 0);
    EXPECT_EQ(device->DeviceSet(eOXDT_Video, 1, nullptr), S_OK);
}

struct ConnectorCase {
    const char* label;
    const char* card;
    const char16_t* property;
    std::vector<std::pair<std::u16string, std::u16string>> options;
};

class DeckLinkConnectorOptions : public DeckLinkDiscovery,
                                 public ::testing::WithParamInterface<ConnectorCase> {};

TEST_P(DeckLinkConnectorOptions, ListTheCardsConnectors) {
    const ConnectorCase& c = GetParam();
    rig_.UseRig(std::string("<card model=\"X\" modes=\"all\" ") + c.card + "/>");
    CComPtr<IOXDevice> device = rig_.Create<IOXDevice>();
    ASSERT_EQ(device->DeviceSet(eOXDT_Video, 0, nullptr), S_OK);
    CComQIPtr<IOXProps> props(device);
    EXPECT_EQ(Options(props, c.property), c.options);
    EXPECT_EQ(Get(props, c.property), c.options.empty() ? u"" : c.options.front().first);
}

// clang-format off
const ConnectorCase kConnectorCases[] = {
    {"AnalogOutputAfterDigitalPrefix", "video-out=\"sdi,hdmi,component\"", u"line-out",
     {{u"component", u"SDI & HDMI & Component"}}},
    {"InputsWithXlrReplacingAnalog",
     "video-out=\"sdi\" video-in=\"sdi,component\" audio-in=\"embedded,analog,analog-xlr,aes\"",
     u"line-in",
     {{u"sdi", u"SDI Video & SDI Audio"}, {u"sdi_xlr", u"SDI Video & Analog XLR Audio"},
      {u"sdi_aes", u"SDI Video & AES/EBU Audio"},
      {u"component", u"Component Video & Analog XLR Audio"},
      {u"component_aes", u"Component Video & AES/EBU Audio"}}},
    {"InputsWithoutReportedAudio", "video-out=\"sdi\" video-in=\"hdmi,component\" audio-in=\"\"",
     u"line-in",
     {{u"hdmi", u"HDMI Video & HDMI Audio"}, {u"hdmi_analog", u"HDMI Video & Analog Audio"},
      {u"component", u"Component Video & Analog Audio"}}},
    {"AllKeyingModes", "video-out=\"sdi\" keying=\"internal,external,hd\"", u"keying",
     {{u"disable", u"Disable Keying"}, {u"internal", u"Internal Keying"},
      {u"external", u"External Keying"}}},
    {"NoKeying", "video-out=\"sdi\" keying=\"\"", u"keying", {{u"disable", u"Not Supported"}}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Cards, DeckLinkConnectorOptions, ::testing::ValuesIn(kConnectorCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(DeckLinkDiscovery, ChoosingAnOptionTellsTheCard) {
    rig_.UseRig(Card("X",
                     "video-out=\"sdi,component,composite\" video-in=\"sdi\" "
                     "audio-in=\"embedded,aes\" keying=\"internal\""));
    CComPtr<IOXDevice> device = rig_.Create<IOXDevice>();
    ASSERT_EQ(device->DeviceSet(eOXDT_Video, 0, nullptr), S_OK);
    CComQIPtr<IOXProps> props(device);
    EXPECT_EQ(props->PropsSet(CComBSTR(u"line-out"), CComBSTR(u"composite")), S_OK);
    EXPECT_EQ(CardSetting(device, bmdDeckLinkConfigVideoOutputConnection), 0x10);
    EXPECT_EQ(props->PropsOptionSetByIndex(CComBSTR(u"LINE-OUT"), 0), S_OK);
    EXPECT_EQ(CardSetting(device, bmdDeckLinkConfigVideoOutputConnection), 0x08);
    // An input is chosen for keying only: with keying off the card is not told.
    const LONGLONG before = CardSetting(device, bmdDeckLinkConfigAudioInputConnection);
    EXPECT_EQ(props->PropsSet(CComBSTR(u"line-in"), CComBSTR(u"sdi_aes")), S_OK);
    EXPECT_EQ(CardSetting(device, bmdDeckLinkConfigAudioInputConnection), before);
    // Keying on a closed output applies at once, with the chosen input.
    EXPECT_EQ(props->PropsSet(CComBSTR(u"keying"), CComBSTR(u"internal")), S_OK);
    EXPECT_EQ(CardSetting(device, bmdDeckLinkConfigVideoInputConnection), 0x01);
    EXPECT_EQ(CardSetting(device, bmdDeckLinkConfigAudioInputConnection), 0x02);
    // A value that names no option is kept as written and tells the card nothing.
    EXPECT_EQ(props->PropsSet(CComBSTR(u"line-out"), CComBSTR(u"nonsense")), S_OK);
    EXPECT_EQ(CardSetting(device, bmdDeckLinkConfigVideoOutputConnection), 0x08);
}

TEST_F(DeckLinkDiscovery, ControlPanelIsTheProgramTheSettingNames) {
    rig_.UseRig(Card("A"));
    CComPtr<IOXDevice> device = rig_.Create<IOXDevice>();
    CComQIPtr<IOXProps> props(device);
    EXPECT_EQ(device->DeviceShowProps(eOXDT_Video, nullptr, 0), static_cast<HRESULT>(0x80070002));
    props->PropsSet(CComBSTR(u"bmd.control_panel"), CComBSTR(u"/nonexistent/panel"));
    EXPECT_EQ(device->DeviceShowProps(eOXDT_Video, nullptr, 0), static_cast<HRESULT>(0x80070002));
    props->PropsSet(CComBSTR(u"bmd.control_panel"), CComBSTR(u"/bin/true"));
    EXPECT_EQ(device->DeviceShowProps(eOXDT_Video, nullptr, 0), S_OK);
}

// Every way of not finding the driver leaves an empty list.
TEST(DeckLinkDriver, MissingOrBrokenDriverGivesAnEmptyList) {
    VirtualDeckLink rig;  // loads the module; the card library is not registered
    // The number of cards listed, and whether the driver statistic says `reason`.
    auto count = [&](const char16_t* reason) {
        CComPtr<IOXDevice> device = rig.Create<IOXDevice>();
        int n = -1;
        EXPECT_TRUE(device);
        if (device) {
            EXPECT_EQ(device->DeviceGetCount(eOXDT_Video, &n), S_OK);
            CComQIPtr<IOXProps> props(device);
            EXPECT_NE(Get(props, u"stat::bmd.driver").find(reason), std::u16string::npos)
                << orvex::com::ToUtf8(Get(props, u"stat::bmd.driver"));
        }
        return n;
    };
    const std::u16string key =
        u"CLSID\\" + orvex::com::GuidToString(CLSID_CDeckLinkIterator) + u"\\InprocServer32";
    // An earlier case in the same process may have left the card registered.
    orvex::platform::RegistryDeleteTree(orvex::platform::RegRoot::kClassesRoot, key);
    EXPECT_EQ(count(u"no driver: none registered"), 0);
    orvex::platform::RegistryKey server;
    ASSERT_EQ(server.Create(orvex::platform::RegRoot::kClassesRoot, key), ERROR_SUCCESS);
    ASSERT_EQ(server.SetString(u"", u"/nonexistent/libdriver.so"), ERROR_SUCCESS);
    EXPECT_EQ(count(u"/nonexistent/libdriver.so"), 0);  // library missing
    ASSERT_EQ(server.SetString(u"", orvex::com::ToUtf16(ORVEXCOM_PATH)), ERROR_SUCCESS);
    EXPECT_EQ(count(u"the registered driver"), 0);  // a library without the entry point
    rig.Register();
    rig.UseRig("<card model=\"A\" video-out=\"sdi\" modes=\"nonsense-mode\"/>");
    EXPECT_EQ(count(u"; it lists no cards"), 0);  // a rig that does not parse
    rig.UseRig(Card("A"));
    EXPECT_EQ(count(LinuxLayout() ? u"libDeckLinkAPI.so (CreateDeckLinkIteratorInstance_0004)"
                                  : u"registered driver "),
              1);
}

}  // namespace
