// The ancillary packets GStreamer's VBI parser finds in one v210 blanking line (it checks each
// packet's checksum and drops packets whose checksum is wrong).
#pragma once

#include <gst/video/video.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/process.h"

namespace orvex::test {

// GStreamer keeps its plugin registry under the user's home unless told otherwise: tests keep
// it in the temporary folder.
inline void InitGStreamer() {
    static const bool done = [] {
        if (!std::getenv("GST_REGISTRY")) {
            const auto path =
                std::filesystem::temp_directory_path() / "orvex-test-gst-registry.bin";
            platform::SetEnvVar("GST_REGISTRY", path.string());
        }
        return gst_init_check(nullptr, nullptr, nullptr) != FALSE;
    }();
    (void)done;
}

struct GstPacket {
    int did, sdid;
    std::vector<std::uint8_t> data;
};

inline std::vector<GstPacket> GstPackets(const std::vector<std::uint8_t>& line, int width) {
    std::vector<GstPacket> out;
    InitGStreamer();
    GstVideoVBIParser* parser = gst_video_vbi_parser_new(GST_VIDEO_FORMAT_v210, width);
    if (!parser) return out;
    gst_video_vbi_parser_add_line(parser, line.data());
    GstVideoAncillary anc;
    while (gst_video_vbi_parser_get_ancillary(parser, &anc) == GST_VIDEO_VBI_PARSER_RESULT_OK)
        out.push_back({anc.DID, anc.SDID_block_number,
                       std::vector<std::uint8_t>(anc.data, anc.data + anc.data_count)});
    gst_video_vbi_parser_free(parser);
    return out;
}

}  // namespace orvex::test
