// A host that knows only the generic renderer class plays out on a virtual DeckLink card: it
// lists the cards, chooses one, sets it up through the renderer's properties and puts frames.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "backend/registry_settings.h"
#include "formats/video_formats.h"
#include "platform/registry.h"
#include "support/virtual_decklink.h"

namespace {

using orvex::platform::RegRoot;

ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

TEST(GenericHost, ListsChoosesAndPlaysOnTheVirtualCard) {
    orvex::platform::RegistryDeleteTree(RegRoot::kCurrentUser, orvex::backend::kSettingsKeyPath);
    orvex::test::VirtualDeckLink rig;
    rig.Register();
    const std::string card =
        "model=\"DeckLink Mini Monitor\" modes=\"all\" formats=\"2vuy,v210,BGRA\" "
        "audio-out=\"embedded\" audio-bits=\"16,32\" audio-channels=\"2,8,16\"";
    rig.UseRig("<card video-out=\"sdi\" " + card + "/><card video-out=\"sdi,hdmi\" " + card + "/>");

    CComPtr<IOXDevice> device = rig.Create<IOXDevice>(CLSID_OXRenderer);
    ASSERT_TRUE(device);
    // Names and busy flags are the DeckLink renderer's (tested with it): the generic class lists
    // both cards and hands the choice of the second on.
    int count = 0;
    ASSERT_EQ(device->DeviceGetCount(eOXDT_Video, &count), S_OK);
    ASSERT_EQ(count, 2);
    ASSERT_EQ(device->DeviceSet(eOXDT_Video, 1, nullptr), S_OK);
    int index = -5;
    CComBSTR chosen;
    EXPECT_EQ(device->DeviceGet(eOXDT_Video, &index, &chosen), S_OK);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(chosen.View(), u"DeckLink Mini Monitor (2)");

    // Properties reach the DeckLink renderer: the chosen card's connector list is there.
    CComQIPtr<IOXProps> props(device);
    CComBSTR line_out;
    EXPECT_EQ(props->PropsGet(CComBSTR(u"line-out"), &line_out), S_OK);
    EXPECT_EQ(line_out.View(), u"SDI & HDMI");
    ASSERT_EQ(props->PropsSet(CComBSTR(u"input.buffers"), CComBSTR(u"2")), S_OK);

    CComPtr<IOXFactory> factory;
    ASSERT_EQ(CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    M_AV_PROPS av{};
    av.vidProps = orvex::formats::VideoFormatDefaults(eMVF_HD1080_50i, eMFCC_UYVY);
    std::vector<CComPtr<IOXFrame>> frames(5);
    CComQIPtr<IOXReceiver> receiver(device);
    ASSERT_TRUE(receiver);
    for (auto& frame : frames) {
        ASSERT_EQ(factory->OXFrameMake(&av, 0, &frame), S_OK);
        EXPECT_EQ(receiver->ReceiverFramePut(frame, -1, nullptr), S_OK);
    }
    // The chosen card shows each frame in a period of its own (on the real clock).
    auto stats_of = reinterpret_cast<OxSimStatsFn>(rig.CardLibrary().Symbol(OX_SIM_STATS));
    ASSERT_NE(stats_of, nullptr);
    OxSimCardStats stats{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (stats_of(1, &stats) == 0 && stats.new_frames + stats.replaced < 5 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    // Every frame reached the card. On the real clock a loaded machine can hand two frames
    // over within one period, where the second replaces the first on air.
    EXPECT_EQ(stats.new_frames + stats.replaced, 5)
        << "periods " << stats.periods << ", repeats " << stats.repeats;
    EXPECT_GE(stats.new_frames, 1);
    OxSimCardStats first{};
    ASSERT_EQ(stats_of(0, &first), 0);
    EXPECT_EQ(first.new_frames, 0);  // the card let go at the change shows nothing

    // Closing lets every frame go.
    EXPECT_EQ(device->DeviceClose(), S_OK);
    for (auto& frame : frames) EXPECT_EQ(RefCount(frame), 1u);
    ASSERT_EQ(stats_of(1, &stats), 0);
    EXPECT_EQ(stats.frames_alive, 0);
}

}  // namespace
