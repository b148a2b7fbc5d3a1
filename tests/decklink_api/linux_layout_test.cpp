// Pins the Linux layout of our DeckLink declarations, and checks that the virtual card's
// Linux-layout library really speaks it: its objects are called here slot by slot through
// plain function pointers, not through our declarations or the bridge.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "decklink/api/decklink_api_linux.h"
#include "decklink_api/identifiers.h"
#include "decklink_api/slots.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "sim/decklink/sim_control.h"
#include "support/temp_registry.h"

namespace {

using namespace orvex::test;

struct Linux {
    ORVEX_DECKLINK_LAYOUT_NAMES(linux_layout);
};

// The 16 bytes of an IID as the text writes them.
struct Bytes16 {
    unsigned char b[16];
};
Bytes16 Written(const char* text) {
    Bytes16 out{};
    int n = 0;
    for (const char* p = text; *p && n < 32; ++p) {
        if (*p == '-') continue;
        const int digit = *p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10;
        out.b[n / 2] = static_cast<unsigned char>(out.b[n / 2] << 4 | digit);
        ++n;
    }
    return out;
}

TEST(DeckLinkLinuxLayout, EveryMethodSitsInItsVendorSlotAndDestructorsFollow) {
    ExpectVendorMethodOrder<Linux>(13);
    const std::vector<std::size_t> counts = SlotCounts<Linux>();
    for (std::size_t i = 0; i < counts.size(); ++i)
        EXPECT_EQ(counts[i], kSlotTotals[i].linux_count) << kSlotTotals[i].name;
    EXPECT_EQ(sizeof(linux_layout::IidBytes), 16u);
}

TEST(DeckLinkLinuxLayout, IdentifiersPassAsWrittenAndFailuresHaveTheirOwnCodes) {
    for (const Identifier& id : kIdentifiers) {
        const linux_layout::IidBytes bytes = linux_layout::ToIidBytes(id.guid);
        EXPECT_EQ(std::memcmp(bytes.bytes, Written(id.text).b, 16), 0) << id.text;
        EXPECT_TRUE(linux_layout::FromIidBytes(bytes) == id.guid) << id.text;
    }
    // {Windows, Linux}: the vendor's Linux values, both ways; the others pass unchanged.
    const std::pair<std::uint32_t, std::uint32_t> codes[] = {
        {0x80004001, 0x80000001}, {0x8007000E, 0x80000002}, {0x80070057, 0x80000003},
        {0x80004002, 0x80000004}, {0x80004003, 0x80000005}, {0x80070006, 0x80000006},
        {0x80004004, 0x80000007}, {0x80004005, 0x80000008}, {0x80070005, 0x80000009},
        {0x00000000, 0x00000000}, {0x00000001, 0x00000001}, {0x8000FFFF, 0x8000FFFF},
        {0x800700AA, 0x800700AA}};
    for (auto [windows, linux_code] : codes) {
        EXPECT_EQ(linux_layout::ToLinuxResult(MakeHResult(windows)), MakeHResult(linux_code));
        EXPECT_EQ(linux_layout::ToWindowsResult(MakeHResult(linux_code)), MakeHResult(windows));
    }
}

// Calls slot `slot` of `object` as a System V function taking `args` after the object.
template <class R, class... A>
R Call(void* object, std::size_t slot, A... args) {
    void** vtable = *static_cast<void***>(object);
    return reinterpret_cast<R (*)(void*, A...)>(vtable[slot])(object, args...);
}
void* Query(void* object, const char* iid) {
    void* out = nullptr;
    EXPECT_EQ(Call<std::int32_t>(object, 0, Written(iid), &out), 0) << iid;
    return out;
}
unsigned long ReleaseOf(void* object) {
    return Call<unsigned long>(object, 2);
}

TEST(VirtualCardLinuxLibrary, SpeaksTheLinuxLayoutSlotBySlot) {
    const std::string model = "Carte d\u2019essai \u00dc";
    const std::string rig = g_temp_registry->dir().string() + "/rig.xml";
    std::ofstream(rig) << "<rig><card model=\"" << model
                       << "\" video-out=\"sdi\" bypass=\"true\" modes=\"all\"/></rig>";
    orvex::platform::SetEnvVar("ORVEX_DECKLINK_RIG", rig);
    // Kept loaded: the bridge keeps its spare objects for the life of the process.
    static orvex::platform::DynamicLibrary library;
    ASSERT_TRUE(library.IsOpen() || library.Open(OXDECKLINKSIM_LINUX_PATH)) << library.Error();
    reinterpret_cast<OxSimResetFn>(library.Symbol(OX_SIM_RESET))();
    for (const char* entry : linux_layout::kIteratorEntryPoints)
        EXPECT_NE(library.Symbol(entry), nullptr) << entry;
    auto create =
        reinterpret_cast<void* (*)()>(library.Symbol(linux_layout::kIteratorEntryPoints[0]));
    void* iterator = create();
    ASSERT_NE(iterator, nullptr);

    // QueryInterface takes the IID by value in written order; in the Windows memory order it
    // is another IID, refused with the vendor's Linux code.
    const char* kIterator = "50FB36CD-3063-4B73-BDBB-958087F2D8BA";
    void* same = nullptr;
    Bytes16 stored;
    std::memcpy(stored.b, &IID_IDeckLinkIterator, 16);
    EXPECT_EQ(Call<std::uint32_t>(iterator, 0, stored, &same), 0x80000004u);
    EXPECT_EQ(Query(iterator, kIterator), iterator);
    EXPECT_EQ(Call<unsigned long>(iterator, 1), 3u);  // AddRef
    EXPECT_EQ(ReleaseOf(iterator), 2u);
    EXPECT_EQ(ReleaseOf(iterator), 1u);

    void* device = nullptr;
    ASSERT_EQ(Call<std::int32_t>(iterator, 3, &device), 0);  // Next
    ASSERT_NE(device, nullptr);
    // The model name in UTF-8, the caller's to free().
    const char* name = nullptr;
    ASSERT_EQ(Call<std::int32_t>(device, 3, &name), 0);
    EXPECT_EQ(std::string(name), model);
    std::free(const_cast<char*>(name));

    // A flag is a one-byte bool: the bytes around it stay as they were.
    void* attributes = Query(device, "ABC11843-D966-44CB-96E2-A1CB5D3135C4");
    ASSERT_NE(attributes, nullptr);
    unsigned char around[3] = {0xAA, 0xAA, 0xAA};
    EXPECT_EQ(Call<std::int32_t>(attributes, 3, BMDDeckLinkHasBypass, &around[1]), 0);
    EXPECT_EQ(around[0], 0xAA);
    EXPECT_EQ(around[1], 1);
    EXPECT_EQ(around[2], 0xAA);
    std::int64_t outputs = 0;
    EXPECT_EQ(Call<std::int32_t>(attributes, 4, BMDDeckLinkVideoOutputConnections, &outputs), 0);
    EXPECT_EQ(outputs, bmdVideoConnectionSDI);

    void* output = Query(device, "CC5C8A6E-3F2F-4B3A-87EA-FD78AF300564");
    ASSERT_NE(output, nullptr);
    unsigned int* no_result = nullptr;
    EXPECT_EQ(
        Call<std::uint32_t>(output, 3, bmdModeHD1080i50, bmdFormat8BitYUV, 0u, no_result, nullptr),
        0x80000005u);  // E_POINTER, Linux value
    // Slot 30 is the current revision's last method (in the earlier one, its destructor).
    std::int64_t completed = -1;
    EXPECT_EQ(Call<std::uint32_t>(output, 30, nullptr, std::int64_t{10'000'000}, &completed),
              0x80000001u);  // E_NOTIMPL: the card completes no scheduled frames
    void* frame = nullptr;
    ASSERT_EQ(Call<std::int32_t>(output, 9, 1920, 1080, 3840, bmdFormat8BitYUV, 0u, &frame), 0);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(Call<long>(frame, 3), 1920);  // GetWidth
    // SetFlags sits after the base frame's two destructor slots.
    EXPECT_EQ(Call<std::int32_t>(frame, 13, bmdFrameFlagFlipVertical), 0);
    EXPECT_EQ(Call<std::uint32_t>(frame, 7), bmdFrameFlagFlipVertical);  // GetFlags

    // One count for the device and its parts.
    EXPECT_EQ(ReleaseOf(frame), 0u);
    EXPECT_EQ(ReleaseOf(output), 2u);
    EXPECT_EQ(ReleaseOf(attributes), 1u);
    EXPECT_EQ(ReleaseOf(device), 0u);
    EXPECT_EQ(ReleaseOf(iterator), 0u);
    OxSimCardStats stats{};
    reinterpret_cast<OxSimStatsFn>(library.Symbol(OX_SIM_STATS))(0, &stats);
    EXPECT_EQ(stats.frames_alive, 0);
}

}  // namespace
