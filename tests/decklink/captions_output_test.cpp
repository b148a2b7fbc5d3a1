// Timecode and caption packets of frames played on the virtual card, as its JSON-lines log
// records them period by period.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "captions_fakes.h"
#include "decklink/captions.h"
#include "output_fixture.h"
#include "platform/process.h"
#include "support/temp_registry.h"

namespace {

using namespace orvex::test;
using namespace orvex::decklink;

class DeckLinkCaptions : public DeckLinkOutputTest {
protected:
    void SetUp() override {
        DeckLinkOutputTest::SetUp();
        folder_ = g_temp_registry->dir() / "recording";
        std::filesystem::remove_all(folder_);
        orvex::platform::SetEnvVar("ORVEX_DECKLINK_RECORD", folder_.string());
    }
    void TearDown() override {
        DeckLinkOutputTest::TearDown();
        orvex::platform::UnsetEnvVar("ORVEX_DECKLINK_RECORD");
    }

    // A frame of `format` with timecode 10:00:00:frame and the given data items.
    CComPtr<IOXFrame> Captioned(int format, int frame,
                                std::initializer_list<std::pair<DWORD, std::vector<BYTE>>> items) {
        CComPtr<IOXFrame> f = Frame(format);
        M_TIME t{};
        t.tcFrame = {10, 0, 0, frame, eMTCF_NonDropFrame, 0};
        f->OXTimeSet(&t);
        for (const auto& [code, bytes] : items)
            EXPECT_EQ(
                f->OXDataSet(code, static_cast<LONG>(bytes.size()),
                             static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(bytes.data()))),
                S_OK);
        return f;
    }

    // The log lines of the periods that began a new frame.
    std::vector<std::string> NewPeriods() {
        clock_.Advance(2 * kPeriod);  // the last frame goes on air in the next period
        auto flush = reinterpret_cast<OxSimFlushFn>(rig_.CardLibrary().Symbol(OX_SIM_FLUSH));
        EXPECT_EQ(flush(0), 0);
        std::vector<std::string> lines;
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            if (entry.path().extension() != ".jsonl") continue;
            std::ifstream in(entry.path());
            for (std::string line; std::getline(in, line);)
                if (line.find("\"frame\":\"new\"") != std::string::npos) lines.push_back(line);
        }
        return lines;
    }

    std::filesystem::path folder_;
};

TEST_F(DeckLinkCaptions, EachPeriodCarriesItsTimecodeAndCaptionPackets) {
    Open("", {{u"output.10bit", u"true"}});
    for (int k = 0; k < 3; ++k)
        ASSERT_EQ(Put(Captioned(eMVF_HD1080_50i, k,
                                {{kItemC608, {0x94, static_cast<BYTE>(0x20 + k)}},
                                 {kItemGA94, Ga94Item({{0xFC, 0x94, 0x2C}, {0xFE, 0x41, 0x42}})}})),
                  S_OK);
    ASSERT_EQ(Output().pixel_format, bmdFormat10BitYUV);
    const auto lines = NewPeriods();
    ASSERT_EQ(lines.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        const std::string& line = lines[static_cast<std::size_t>(k)];
        SCOPED_TRACE(line);
        EXPECT_NE(line.find("\"rpv1\":\"10:00:00:0" + std::to_string(k) + "\""), std::string::npos);
        // The CDP: 85 bytes for 25 frames per second, sequence k + 1, both triplets first.
        char cdp_head[64];
        std::snprintf(cdp_head, sizeof cdp_head, "9669553f41%04x72f8fc942cfe4142", k + 1);
        EXPECT_NE(line.find("{\"line\":9,\"did\":\"61\",\"sdid\":\"01\",\"data\":\"" +
                            std::string(cdp_head)),
                  std::string::npos);
        char cc[64];
        std::snprintf(cc, sizeof cc, "\"data\":\"8094%02x\",\"checksum_ok\":true", 0x20 + k);
        EXPECT_NE(line.find("\"sdid\":\"02\"," + std::string(cc)), std::string::npos);
        EXPECT_EQ(line.find("\"checksum_ok\":false"), std::string::npos);
    }
}

TEST_F(DeckLinkCaptions, NtscLine21NeverTouchesTheHostsPicture) {
    Open();
    CComPtr<IOXFrame> f = Captioned(eMVF_NTSC, 0, {{kItemC608, {0x94, 0x2C, 0x80, 0x80}}});
    LONG size = 0;
    LONGLONG address = 0;
    ASSERT_EQ(f->OXVideoBytesGet(&size, &address), S_OK);
    const auto* picture = reinterpret_cast<const BYTE*>(static_cast<std::uintptr_t>(address));
    const std::vector<BYTE> before(picture, picture + size);
    ASSERT_EQ(Put(f), S_OK);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), picture));
    clock_.Advance(2 * kPeriod);
    EXPECT_EQ(Stats().new_frames, 1);
}

}  // namespace
