// Pins the binary layout of our DeckLink declarations in the Windows layout: the vtable slot
// of every method, the slots of every interface, and every identifier.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "com/runtime.h"
#include "decklink/api/decklink_api.h"
#include "decklink_api/identifiers.h"
#include "decklink_api/slots.h"

namespace {

using namespace orvex::test;

struct Windows {
    ORVEX_DECKLINK_LAYOUT_NAMES();
};

TEST(DeckLinkApi, EveryMethodSitsInItsVendorSlot) {
    ExpectVendorMethodOrder<Windows>(11);
}

TEST(DeckLinkApi, InterfacesHaveNoHiddenSlotsOrState) {
    // One vtable pointer and nothing else: no virtual destructor, no data.
    EXPECT_EQ(sizeof(IDeckLinkOutput), sizeof(void*));
    EXPECT_EQ(sizeof(IDeckLinkMutableVideoFrame), sizeof(void*));
    EXPECT_EQ(sizeof(BOOL), 4u);
    EXPECT_EQ(sizeof(BMDDisplayMode), 4u);
    EXPECT_EQ(sizeof(BMDTimeValue), 8u);
    const std::vector<std::size_t> counts = SlotCounts<Windows>();
    for (std::size_t i = 0; i < counts.size(); ++i)
        EXPECT_EQ(counts[i], kSlotTotals[i].windows) << kSlotTotals[i].name;
}

TEST(DeckLinkApi, IdentifiersAreTheVendors) {
    for (const Identifier& id : kIdentifiers) {
        // Appended piece by piece: GCC 12 misreads `"{" + std::string` under -Wrestrict.
        std::string braced = "{";
        braced += id.text;
        braced += '}';
        EXPECT_EQ(orvex::com::ToUtf8(orvex::com::GuidToString(id.guid)), braced);
    }
    // In memory the first three fields are little-endian.
    const unsigned char stored[16] = {0xCD, 0x36, 0xFB, 0x50, 0x63, 0x30, 0x73, 0x4B,
                                      0xBD, 0xBB, 0x95, 0x80, 0x87, 0xF2, 0xD8, 0xBA};
    EXPECT_EQ(std::memcmp(&IID_IDeckLinkIterator, stored, 16), 0);
}

}  // namespace
