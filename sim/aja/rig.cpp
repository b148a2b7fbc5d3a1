#include "sim/aja/rig.h"

#include <cstdlib>

#include "aja/ntv2/ntv2driver.h"
#include "sim/common/rig_reader.h"

namespace orvex::sim::aja {
namespace {

constexpr std::string_view kQuad =
    R"(<board model="Virtual 4K Quad" frame-stores="4" sdi-out="4" hdmi-out="1" analog-out="0"
         bidirectional-sdi="true" multi-format="true" formats="sd,hd,2k,4k"
         pixel-formats="8bit-ycbcr,10bit-ycbcr,argb,rgba" audio-systems="4" audio-channels="16"
         audio-96k="true" frame-buffers="64" reference="external,sdi,hdmi"/>)";
constexpr std::string_view kHdDuo =
    R"(<board model="Virtual HD Duo" frame-stores="2" sdi-out="2" hdmi-out="0" analog-out="1"
         bidirectional-sdi="false" multi-format="false" formats="sd,hd"
         pixel-formats="8bit-ycbcr,10bit-ycbcr" audio-systems="1" audio-channels="8"
         audio-96k="false" frame-buffers="32" reference="external,sdi,analog"/>)";
constexpr std::string_view kEight =
    R"(<board model="Virtual 8-Channel" frame-stores="8" sdi-out="8" hdmi-out="1" analog-out="0"
         bidirectional-sdi="true" multi-format="true" formats="sd,hd,2k,4k"
         pixel-formats="8bit-ycbcr,10bit-ycbcr,argb" audio-systems="8" audio-channels="16"
         audio-96k="true" frame-buffers="128" reference="external,sdi"/>)";
constexpr std::string_view kMono =
    R"(<board model="Virtual Mono" frame-stores="1" sdi-out="1" hdmi-out="1" analog-out="1"
         multi-format="false" formats="sd,hd" pixel-formats="8bit-ycbcr" audio-systems="1"
         audio-channels="8" audio-96k="false" frame-buffers="16" reference="external"/>)";

const std::vector<RigPreset>& Presets() {
    static const std::vector<RigPreset> presets{
        {"default", {kQuad}},
        {"quad", {kQuad}},
        {"hd-duo", {kHdDuo}},
        {"eight", {kEight}},
        {"mono", {kMono}},
        {"pair", {kQuad, kQuad}},
        {"studio", {kQuad, kHdDuo, kEight, kMono}},
        {"none", {}},
    };
    return presets;
}

std::vector<std::string> Tokens(std::string_view text) {
    return RigTokens(RigLower(std::string(text)));
}

// Format groups by the NTV2 numbering.
void AddGroup(std::bitset<512>& set, ULWord first, ULWord last) {
    for (ULWord f = first; f <= last; ++f) set.set(f);
}

// Every attribute a <board> may have, its faults last. An attribute not listed here is warned
// about and not read; one read but not listed stops a debug build.
constexpr std::string_view kBoardAttributes[] = {
    "model", "identifier", "serial", "frame-stores", "sdi-out", "hdmi-out", "analog-out",
    "bidirectional-sdi", "multi-format", "formats", "pixel-formats", "audio-systems",
    "audio-channels", "audio-96k", "frame-buffers", "reference", "rp188", "checksum",
    "record-video", "record-limit-mb",
    // Faults.
    "refuse-formats", "no-interrupt", "dma-fail", "removed"};

bool ReadBoard(const RigXmlElement& node, BoardSpec* b, std::string* error) {
    RigAttributes r(node, kBoardAttributes, error);
    if (r.Has("model")) b->model = r.Text("model");
    if (b->model.empty() || b->model.size() > 47)
        return r.FailAt("model", "a model name has 1 to 47 bytes");
    b->identifier = r.Text("identifier");
    if (b->identifier.size() > 63) return r.FailAt("identifier", "at most 63 bytes");
    bool ok =
        r.Int("serial", 0, INT64_MAX, &b->serial) &&
        r.Int("frame-stores", 0, 8, &b->frame_stores) && r.Int("sdi-out", 0, 8, &b->sdi_outputs) &&
        r.Int("hdmi-out", 0, 1, &b->hdmi_outputs) &&
        r.Int("analog-out", 0, 1, &b->analog_outputs) &&
        r.Bool("bidirectional-sdi", &b->bidirectional_sdi) &&
        r.Bool("multi-format", &b->multi_format) &&
        r.Int("audio-systems", 0, 8, &b->audio_systems) &&
        r.Int("audio-channels", 0, 16, &b->audio_channels) && r.Bool("audio-96k", &b->audio_96k) &&
        r.Int("frame-buffers", 0, 4096, &b->frame_buffers) && r.Bool("rp188", &b->rp188) &&
        r.Bool("checksum", &b->checksum) && r.Bool("record-video", &b->record_video) &&
        r.Int("record-limit-mb", 1, 4095, &b->record_limit_mb) &&
        r.Bool("no-interrupt", &b->no_interrupt) &&
        r.Int("dma-fail", -1, INT64_MAX, &b->dma_fail) && r.Bool("removed", &b->removed);
    if (!ok) return false;
    b->formats.reset();
    for (const std::string& t : Tokens(r.Has("formats") ? r.Text("formats") : "sd,hd,2k,4k")) {
        if (t == "sd") {
            AddGroup(b->formats, NTV2_FORMAT_525_5994, NTV2_FORMAT_625psf_2500);
        } else if (t == "hd") {
            AddGroup(b->formats, NTV2_FORMAT_1080i_5000, NTV2_FORMAT_1080p_2K_2500);
        } else if (t == "2k") {
            AddGroup(b->formats, NTV2_FORMAT_2K_1498, NTV2_FORMAT_2K_2500);
        } else if (t == "4k") {
            AddGroup(b->formats, NTV2_FORMAT_4x1920x1080psf_2398, NTV2_FORMAT_4x1920x1080p_6000);
        } else if (t == "4k30") {
            AddGroup(b->formats, NTV2_FORMAT_4x1920x1080psf_2398, NTV2_FORMAT_4x2048x1080p_3000);
        } else {
            char* end = nullptr;
            const unsigned long v = std::strtoul(t.c_str(), &end, 0);
            if (*end || v >= 512) return r.FailAt("formats", "unknown format " + t);
            b->formats.set(v);
        }
    }
    b->pixel_formats = 0;
    for (const std::string& t :
         Tokens(r.Has("pixel-formats") ? r.Text("pixel-formats") : "8bit-ycbcr,10bit-ycbcr")) {
        if (t == "8bit-ycbcr")
            b->pixel_formats |= 1u << NTV2_FBF_8BIT_YCBCR;
        else if (t == "10bit-ycbcr")
            b->pixel_formats |= 1u << NTV2_FBF_10BIT_YCBCR;
        else if (t == "argb")
            b->pixel_formats |= 1u << NTV2_FBF_ARGB;
        else if (t == "rgba")
            b->pixel_formats |= 1u << NTV2_FBF_RGBA;
        else
            return r.FailAt("pixel-formats", "unknown pixel format " + t);
    }
    if (r.Has("reference")) {
        b->reference_external = b->reference_sdi = b->reference_hdmi = b->reference_analog = false;
        for (const std::string& t : Tokens(r.Text("reference"))) {
            if (t == "external")
                b->reference_external = true;
            else if (t == "sdi")
                b->reference_sdi = true;
            else if (t == "hdmi")
                b->reference_hdmi = true;
            else if (t == "analog")
                b->reference_analog = true;
            else
                return r.FailAt("reference", "unknown reference " + t);
        }
    }
    for (const std::string& t : Tokens(r.Text("refuse-formats"))) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(t.c_str(), &end, 0);
        if (*end || v >= 512) return r.FailAt("refuse-formats", "not a format number: " + t);
        b->refuse_formats.push_back(static_cast<std::uint32_t>(v));
    }
    return true;
}

}  // namespace

bool ParseRig(std::string_view xml, Rig* rig, std::string* error) {
    return ParseRigOf(xml, "board", kMaxBoards, kBoardAttributes, &Rig::boards, ReadBoard, rig,
                      error);
}

std::string_view PresetText(std::string_view name) {
    return RigPresetText(Presets(), name);
}

Rig LoadConfiguredRig(std::string* error) {
    return LoadRig<Rig>("virtual AJA boards", "ORVEX_AJA_RIG", OX_NTV2_DRIVER_KEY, Presets(),
                        "ORVEX_AJA_RECORD", ParseRig, error);
}

}  // namespace orvex::sim::aja
