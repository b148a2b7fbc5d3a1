// Caption distribution packets built from A/53 data and taken from 'C708' items, checked field
// by field and run through GStreamer's caption converter.
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "captions_fakes.h"
#include "captions_gst.h"
#include "decklink/cdp.h"

// GLib and GStreamer keep process-wide allocations for their lifetime.
extern "C" [[gnu::visibility("default")]] const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgstreamer-1.0.so\n";
}

namespace {

using namespace orvex::decklink;
using Bytes = std::vector<std::uint8_t>;
using orvex::test::Ga94Item;

// The cc_data triplets GStreamer's ccconverter takes out of one CDP at `fps`; nothing when it
// drops the packet.
std::optional<Bytes> ConvertCdp(const Bytes& cdp, const std::string& fps) {
    orvex::test::InitGStreamer();
    const std::string desc =
        "appsrc name=src format=time caps=\"closedcaption/x-cea-708,format=(string)cdp,"
        "framerate=(fraction)" +
        fps +
        "\" ! ccconverter ! appsink name=sink sync=false "
        "caps=\"closedcaption/x-cea-708,format=(string)cc_data,framerate=(fraction)" +
        fps + "\"";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(desc.c_str(), &error);
    if (!pipeline || error) {
        ADD_FAILURE() << "no caption converter: " << (error ? error->message : "?");
        if (error) g_error_free(error);
        if (pipeline) gst_object_unref(pipeline);
        return std::nullopt;
    }
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBuffer* buffer = gst_buffer_new_memdup(cdp.data(), cdp.size());
    GST_BUFFER_PTS(buffer) = 0;
    GST_BUFFER_DURATION(buffer) = GST_SECOND / 25;
    gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    std::optional<Bytes> out;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 5 * GST_SECOND)) {
        GstMapInfo map;
        GstBuffer* b = gst_sample_get_buffer(sample);
        if (b && gst_buffer_map(b, &map, GST_MAP_READ)) {
            if (!out) out.emplace();
            out->insert(out->end(), map.data, map.data + map.size);
            gst_buffer_unmap(b, &map);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(src);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return out;
}

// Whether the cc_data holds the triplets, in this order, each at a triplet boundary.
bool HasInOrder(const Bytes& cc_data, const std::vector<Bytes>& triplets) {
    std::size_t next = 0;
    for (std::size_t i = 0; i + 3 <= cc_data.size() && next < triplets.size(); i += 3)
        if (Bytes(cc_data.begin() + i, cc_data.begin() + i + 3) == triplets[next]) ++next;
    return next == triplets.size();
}

// Checks a CDP against the 334-2 layout this renderer writes (no timecode, no service
// information) and returns its cc_data triplets. The header: identifier 96 69, length, rate
// code over reserved bits, flags 41 (cc_data present), sequence, ccdata_id 72, marker bits
// over cc_count; the footer: 74, the sequence again, and a checksum that makes the sum zero.
Bytes CheckCdp(const Bytes& cdp, std::uint8_t rate_code, std::uint8_t cc_count,
               std::uint16_t sequence) {
    const std::size_t n = 13u + 3u * cc_count;
    EXPECT_EQ(cdp.size(), n);
    if (cdp.size() != n) return {};
    const auto hi = static_cast<std::uint8_t>(sequence >> 8);
    const auto lo = static_cast<std::uint8_t>(sequence & 0xFF);
    EXPECT_EQ(Bytes(cdp.begin(), cdp.begin() + 9),
              (Bytes{0x96, 0x69, static_cast<std::uint8_t>(n),
                     static_cast<std::uint8_t>(rate_code << 4 | 0x0F), 0x41, hi, lo, 0x72,
                     static_cast<std::uint8_t>(0xE0 | cc_count)}));
    EXPECT_EQ(Bytes(cdp.end() - 4, cdp.end() - 1), (Bytes{0x74, hi, lo}));
    EXPECT_EQ(std::accumulate(cdp.begin(), cdp.end(), 0u) & 0xFF, 0u);
    return Bytes(cdp.begin() + 9, cdp.begin() + 9 + 3 * cc_count);
}

struct RateCase {
    eMVideoFormat format;
    double custom_rate;
    int code, cc_count;  // code 0: no CDP for this rate
    const char* gst_rate;
};

class CdpRates : public ::testing::TestWithParam<RateCase> {};

TEST_P(CdpRates, EachOutputRateGetsItsCodeAndTheConverterTakesIt) {
    const RateCase c = GetParam();
    M_VID_PROPS props{};
    props.eVideoFormat = c.format;
    props.dblRate = c.custom_rate;
    const auto rate = CdpRateFor(OutputFrameRate(props));
    if (c.code == 0) {
        EXPECT_FALSE(rate);
        return;
    }
    ASSERT_TRUE(rate);
    EXPECT_EQ(rate->code, c.code);
    EXPECT_EQ(rate->cc_count, c.cc_count);

    const Bytes item = Ga94Item({{0xFC, 0x94, 0x2C}, {0xFE, 0x41, 0x42}});
    const auto cdp = BuildCdpFromGa94(item.data(), item.size(), *rate, 0x1234);
    ASSERT_TRUE(cdp);
    const Bytes triplets = CheckCdp(*cdp, rate->code, rate->cc_count, 0x1234);
    const auto converted = ConvertCdp(*cdp, c.gst_rate);
    ASSERT_TRUE(converted) << "the converter dropped the CDP";
    // Both caption triplets come through in order (the converter adds its own padding).
    EXPECT_TRUE(HasInOrder(*converted, {{0xFC, 0x94, 0x2C}, {0xFE, 0x41, 0x42}}));
}

INSTANTIATE_TEST_SUITE_P(Formats, CdpRates,
                         ::testing::Values(RateCase{eMVF_HD1080_2398p, 0, 1, 25, "24000/1001"},
                                           RateCase{eMVF_2K_24p, 0, 2, 25, "24/1"},
                                           RateCase{eMVF_HD1080_50i, 0, 3, 24, "25/1"},
                                           RateCase{eMVF_NTSC, 0, 4, 20, "30000/1001"},
                                           RateCase{eMVF_4K_UHD_60i, 0, 5, 20, "30/1"},
                                           RateCase{eMVF_HD720_50p, 0, 6, 12, "50/1"},
                                           RateCase{eMVF_4K_DCI_5994p, 0, 7, 10, "60000/1001"},
                                           RateCase{eMVF_HD1080_60p, 0, 8, 10, "60/1"},
                                           RateCase{eMVF_Custom, 30, 5, 20, "30/1"},
                                           RateCase{eMVF_Custom, 12.5, 0, 0, ""},
                                           RateCase{eMVF_Custom, 0, 0, 0, ""}));

TEST(Cdp, A1080i50FrameWithThreeCaptionTripletsIsPaddedTo85Bytes) {
    const Bytes item = Ga94Item({{0xFC, 0x94, 0x2C},
                                 {0xF8, 0x11, 0x22},  // cc_valid clear: left out
                                 {0xFD, 0x80, 0x80},
                                 {0x04, 0x33, 0x44},  // marker bits missing: left out
                                 {0xFF, 0x01, 0x02}});
    const auto cdp = BuildCdpFromGa94(item.data(), item.size(), {3, 24}, 7);
    ASSERT_TRUE(cdp);
    const Bytes triplets = CheckCdp(*cdp, 3, 24, 7);
    ASSERT_EQ(triplets.size(), 72u);
    EXPECT_EQ(Bytes(triplets.begin(), triplets.begin() + 9),
              (Bytes{0xFC, 0x94, 0x2C, 0xFD, 0x80, 0x80, 0xFF, 0x01, 0x02}));
    for (std::size_t i = 9; i < triplets.size(); i += 3)
        EXPECT_EQ(Bytes(triplets.begin() + i, triplets.begin() + i + 3), (Bytes{0xFA, 0, 0}));
}

TEST(Cdp, HostileGa94ItemsAreReadOnlyWithinTheItem) {
    const Bytes valid{0xFC, 1, 2};
    struct Case {
        const char* what;
        Bytes item;
        std::size_t triplets_taken;
        bool built;
    } cases[] = {
        {"cc_count larger than the triplets", Ga94Item({valid, valid}, 31), 2, true},
        {"a partial triplet at the end",
         [&] {
             Bytes b = Ga94Item({valid, valid}, 3);
             b.push_back(0xFC);
             return b;
         }(),
         2, true},
        {"more valid triplets than the rate takes", Ga94Item(std::vector<Bytes>(30, valid), 31), 10,
         true},
        {"shorter than 11 bytes", Bytes{'G', 'A', '9', '4', 3, 0x5F, 0xFF, 0xFC, 1, 2}, 0, false},
    };
    for (const Case& c : cases) {
        const Bytes exact = c.item;  // an allocation of exactly the item, for ASan
        const auto cdp = BuildCdpFromGa94(exact.data(), exact.size(), {8, 10}, 1);
        ASSERT_EQ(cdp.has_value(), c.built) << c.what;
        if (!cdp) continue;
        const Bytes t = CheckCdp(*cdp, 8, 10, 1);
        std::size_t taken = 0;
        for (std::size_t i = 0; i < t.size(); i += 3) taken += t[i] == 0xFC;
        EXPECT_EQ(taken, c.triplets_taken) << c.what;
    }
}

TEST(Cdp, C708ChecksumIsCorrectedInACopyAndBadLengthsAreRefused) {
    const auto rate = CdpRateFor(25);
    const Bytes ga94 = Ga94Item({{0xFC, 0x94, 0x2C}, {0xFA, 0, 0}});
    Bytes cdp = *BuildCdpFromGa94(ga94.data(), ga94.size(), *rate, 3);
    Bytes item(4 + cdp.size(), 0);  // a 4-byte item header, then the packet
    std::copy(cdp.begin(), cdp.end(), item.begin() + 4);
    item.back() ^= 0x55;  // wrong checksum
    const Bytes host = item;
    const auto sent = CdpFromC708(item.data(), item.size());
    ASSERT_TRUE(sent);
    EXPECT_EQ(*sent, cdp);
    EXPECT_EQ(item, host);  // the host's frame keeps its bytes
    const auto converted = ConvertCdp(*sent, "25/1");
    ASSERT_TRUE(converted);
    EXPECT_TRUE(HasInOrder(*converted, {{0xFC, 0x94, 0x2C}}));

    Bytes too_long = host;
    too_long[4 + 2] = static_cast<std::uint8_t>(cdp.size() + 1);  // cdp_length past the item
    EXPECT_FALSE(CdpFromC708(too_long.data(), too_long.size()));
    Bytes zero = host;
    zero[4 + 2] = 0;
    EXPECT_FALSE(CdpFromC708(zero.data(), zero.size()));
    EXPECT_FALSE(CdpFromC708(host.data(), 10));
    // A CDP shorter than the item is taken by its own length.
    Bytes longer = host;
    longer.resize(host.size() + 20, 0xAB);
    EXPECT_EQ(CdpFromC708(longer.data(), longer.size())->size(), cdp.size());
}

}  // namespace
