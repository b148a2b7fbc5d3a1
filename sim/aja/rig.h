// The boards of the virtual AJA driver, described in attribute-tree XML:
//
//   <rig record="/folder/for/recordings">
//     <board model="Virtual 4K Quad" identifier="Studio A" frame-stores="4" sdi-out="4"
//            hdmi-out="1" analog-out="0" bidirectional-sdi="true" multi-format="true"
//            formats="sd,hd,2k,4k" pixel-formats="8bit-ycbcr,10bit-ycbcr,argb"
//            audio-systems="4" audio-channels="16" audio-96k="true" frame-buffers="64"
//            reference="external,sdi,hdmi" rp188="true" checksum="true"
//            record-video="true" record-limit-mb="4095"/>
//   </rig>
//
// The rig is read from the environment variable ORVEX_AJA_RIG, else from the string value
// "Rig" of HKEY_CLASSES_ROOT\Orvex.NTV2Driver, else the preset "default"; either holds a
// preset name or the path of a rig file. ORVEX_AJA_RECORD overrides the record folder.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::sim::aja {

struct BoardSpec {
    std::string model = "Virtual Board";
    std::string identifier;  // empty: "<model> - <index>"
    std::uint64_t serial = 0;
    int frame_stores = 4;
    int sdi_outputs = 4;
    int hdmi_outputs = 1;
    int analog_outputs = 0;
    bool bidirectional_sdi = false;
    bool multi_format = true;
    std::bitset<512> formats;         // NTV2VideoFormat values
    std::uint32_t pixel_formats = 0;  // bits of NTV2FrameBufferFormat values
    int audio_systems = 4;
    int audio_channels = 16;
    bool audio_96k = true;
    std::uint32_t frame_buffers = 64;  // 1080-line 8-bit 4:2:2 frames of memory
    bool reference_external = true;
    bool reference_sdi = true;
    bool reference_hdmi = false;
    bool reference_analog = false;
    bool rp188 = true;
    bool checksum = true;  // checksum every transferred picture (off for benchmarks)
    bool record_video = true;
    std::uint64_t record_limit_mb = 4095;  // per recorded file
    // Faults present from the start.
    std::vector<std::uint32_t> refuse_formats;
    bool no_interrupt = false;
    std::int64_t dma_fail = 0;
    bool removed = false;
};

struct Rig {
    std::string record;  // folder; empty = no recording
    std::vector<BoardSpec> boards;
    std::vector<std::string> warnings;  // attributes that are not read, with their places
};

// A rig has at most this many boards.
inline constexpr std::size_t kMaxBoards = 16;

// Parses rig XML; false for malformed text or values, with the first fault and its place
// ("line 4: <board> attribute sdi-out: ..."). The attributes a board may have stand in one
// table, kBoardAttributes in rig.cpp.
bool ParseRig(std::string_view xml, Rig* rig, std::string* error);
std::string_view PresetText(std::string_view name);
// The rig of the documented setting (see above); a broken setting yields no boards and a
// message that begins with the setting. Warnings go to the standard error stream.
Rig LoadConfiguredRig(std::string* error);

}  // namespace orvex::sim::aja
