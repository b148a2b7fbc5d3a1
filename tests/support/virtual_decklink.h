// A virtual DeckLink rig for a test, set up the way a user sets one up: the card library is
// registered into the test's temporary registry with its own DllRegisterServer, the rig is a
// file named by ORVEX_DECKLINK_RIG, and renderers are made through the COM runtime from the
// loaded module. The card library's control entry points inject faults.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "com/ptr.h"
#include "com/runtime.h"
#include "decklink/api/decklink_api.h"
#include "orvex/ids.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "sim/decklink/sim_control.h"
#include "support/temp_registry.h"

namespace orvex::test {

class VirtualDeckLink {
public:
    VirtualDeckLink() {
        EXPECT_TRUE(card_library_.Open(OXDECKLINKSIM_PATH)) << card_library_.Error();
        EXPECT_TRUE(module_.Open(OXRENDERER_PATH)) << module_.Error();
    }

    // Registers the card library, as orvex-regsvr does.
    void Register() {
        auto reg = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(
            card_library_.Symbol("DllRegisterServer"));
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(), S_OK);
        registered_in_process = true;
    }

    // Set once any rig registered the card library: the module keeps a driver it loaded for
    // the life of the process, so from then on no case of this process sees it missing.
    static inline bool registered_in_process = false;

    // Writes `cards` (card elements) as the rig and makes the cards read it again.
    void UseRig(const std::string& cards) {
        const std::string path = g_temp_registry->dir().string() + "/rig.xml";
        std::ofstream(path) << "<rig>" << cards << "</rig>";
        platform::SetEnvVar("ORVEX_DECKLINK_RIG", path);
        auto reset = reinterpret_cast<OxSimResetFn>(card_library_.Symbol(OX_SIM_RESET));
        ASSERT_NE(reset, nullptr);
        reset();
    }

    void SetFault(int card, const char* name, double value) {
        auto set = reinterpret_cast<OxSimSetFaultFn>(card_library_.Symbol(OX_SIM_SET_FAULT));
        ASSERT_NE(set, nullptr);
        ASSERT_EQ(set(card, name, value), 0) << name;
    }

    template <class Itf>
    CComPtr<Itf> Create(REFCLSID clsid = CLSID_OXRendererBMD) {
        CComPtr<Itf> object;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IidOf<Itf>(),
                                   reinterpret_cast<void**>(&object)),
                  S_OK);
        return object;
    }

    const platform::DynamicLibrary& CardLibrary() const { return card_library_; }

private:
    platform::DynamicLibrary card_library_;
    platform::DynamicLibrary module_;  // lists the renderer classes in the process table
};

// The configuration value `id` of the card that `device` chose; -12345 when there is none.
inline LONGLONG CardSetting(IOXDevice* device, BMDDeckLinkConfigurationID id) {
    CComPtr<IUnknown> card;
    EXPECT_EQ(device->DeviceGetInternal(eOXDT_Video, &card), S_OK);
    CComPtr<IDeckLinkConfiguration> configuration;
    if (card) {
        EXPECT_EQ(card.QueryInterface(&configuration), S_OK);
    }
    LONGLONG value = -12345;
    if (configuration) configuration->GetInt(id, &value);
    return value;
}

}  // namespace orvex::test
