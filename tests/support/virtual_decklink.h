// A virtual DeckLink rig for a test, set up the way a user sets one up: the rig is a file
// named by ORVEX_DECKLINK_RIG, and renderers are made through the COM runtime from the loaded
// module. The card library's control entry points inject faults.
//
// The card speaks one of two layouts to the module, chosen per test process by the variable
// ORVEX_TEST_DECKLINK_LAYOUT (CTest runs the DeckLink cases both ways):
//   - unset: the Windows layout, the card library registered into the test's temporary
//     registry with its own DllRegisterServer;
//   - "linux": the vendor's Linux layout, the card built as libDeckLinkAPI.so and named by
//     ORVEX_DECKLINK_LIBRARY, with nothing registered.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
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

inline bool LinuxLayout() {
    const char* layout = std::getenv("ORVEX_TEST_DECKLINK_LAYOUT");
    return layout && std::string(layout) == "linux";
}

inline const char* CardLibraryPath() {
#ifdef OXDECKLINKSIM_LINUX_PATH
    if (LinuxLayout()) return OXDECKLINKSIM_LINUX_PATH;
#endif
    return OXDECKLINKSIM_PATH;
}

class VirtualDeckLink {
public:
    VirtualDeckLink() {
        platform::UnsetEnvVar("ORVEX_DECKLINK_LIBRARY");
        EXPECT_TRUE(module_.Open(OXRENDERER_PATH)) << module_.Error();
    }

    // Loads the card library and makes it the driver: registered as orvex-regsvr does, or
    // named as the vendor's Linux library. (Loaded before, the Linux build would be found by
    // its name as if it were on the library search path.)
    void Register() {
        if (!card_library_.IsOpen()) {
            ASSERT_TRUE(card_library_.Open(CardLibraryPath())) << card_library_.Error();
        }
        if (LinuxLayout()) {
            platform::SetEnvVar("ORVEX_DECKLINK_LIBRARY", CardLibraryPath());
            return;
        }
        auto reg = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(
            card_library_.Symbol("DllRegisterServer"));
        ASSERT_NE(reg, nullptr);
        ASSERT_EQ(reg(), S_OK);
    }

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
