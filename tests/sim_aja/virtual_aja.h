// Virtual AJA boards as a user sets them up: the board library registered into the test's
// registry (the NTV2 classes find it as a driver), the rig a file named by ORVEX_AJA_RIG, the
// boards on the test's clock.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "orvex/com.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "sim/aja/sim_control.h"
#include "support/temp_registry.h"

namespace orvex::test {

// A four-channel multi-format board with bidirectional connectors and UHD, and a two-channel
// HD board with one format for the whole board.
inline constexpr const char* kQuadBoard =
    R"(<board model="Quad" frame-stores="4" sdi-out="4" hdmi-out="1" analog-out="0"
        bidirectional-sdi="true" multi-format="true" formats="sd,hd,4k" audio-systems="4"
        audio-channels="16" frame-buffers="64" reference="external,sdi"/>)";
inline constexpr const char* kStudioBoard =
    R"(<board model="Duo" identifier="Studio" frame-stores="2" sdi-out="2" hdmi-out="0"
        analog-out="1" multi-format="false" formats="sd,hd" audio-systems="1"
        audio-channels="8" audio-96k="false" frame-buffers="16" reference="external,analog"/>)";

inline std::int64_t AjaTestNow(void*) {
    return platform::Now();
}
inline void AjaTestSleepUntil(std::int64_t deadline, void*) {
    platform::SleepUntil(deadline);
}

class VirtualAja {
public:
    VirtualAja() {
        EXPECT_TRUE(library_.Open(OXAJASIM_PATH)) << library_.Error();
        auto reg =
            reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(library_.Symbol("DllRegisterServer"));
        EXPECT_NE(reg, nullptr);
        if (reg) {
            EXPECT_EQ(reg(), S_OK);
        }
        // The boards follow the test's clock (a virtual one when the test installs it).
        Fn<OxSimAjaSetTimeSourceFn>(OX_SIM_AJA_SET_TIME_SOURCE)(&AjaTestNow, &AjaTestSleepUntil,
                                                                nullptr);
    }
    ~VirtualAja() {
        Fn<OxSimAjaSetTimeSourceFn>(OX_SIM_AJA_SET_TIME_SOURCE)(nullptr, nullptr, nullptr);
    }

    // Writes `boards` (board elements) as the rig, with `record` as the record folder.
    void UseRig(const std::string& boards, const std::string& record = "") {
        const std::string path = g_temp_registry->dir().string() + "/aja-rig.xml";
        std::ofstream(path) << "<rig" << (record.empty() ? "" : " record=\"" + record + "\"") << ">"
                            << boards << "</rig>";
        UseSetting(path);
    }
    // The rig `setting` names (a preset or a file), read afresh.
    void UseSetting(const std::string& setting) {
        platform::SetEnvVar("ORVEX_AJA_RIG", setting);
        Fn<OxSimAjaResetFn>(OX_SIM_AJA_RESET)();
    }
    int BoardCount(std::string* error = nullptr) {
        char text[256] = {};
        const int n = Fn<OxSimAjaBoardCountFn>(OX_SIM_AJA_BOARD_COUNT)(text, sizeof text);
        if (error) *error = text;
        return n;
    }
    void SetFault(int board, const char* name, double value) {
        ASSERT_EQ(Fn<OxSimAjaSetFaultFn>(OX_SIM_AJA_SET_FAULT)(board, name, value), 0) << name;
    }
    OxSimAjaChannelStats Stats(int board, int channel) {
        OxSimAjaChannelStats s{};
        EXPECT_EQ(Fn<OxSimAjaStatsFn>(OX_SIM_AJA_STATS)(board, channel, &s), 0);
        return s;
    }
    std::uint32_t Register(int board, std::uint32_t reg) {
        std::uint32_t v = 0;
        EXPECT_EQ(Fn<OxSimAjaRegisterFn>(OX_SIM_AJA_REGISTER)(board, reg, &v), 0);
        return v;
    }
    void Flush(int board) { EXPECT_EQ(Fn<OxSimAjaFlushFn>(OX_SIM_AJA_FLUSH)(board), 0); }

private:
    template <class F>
    F Fn(const char* name) {
        auto f = reinterpret_cast<F>(library_.Symbol(name));
        EXPECT_NE(f, nullptr) << name;
        return f;
    }
    platform::DynamicLibrary library_;
};

}  // namespace orvex::test
