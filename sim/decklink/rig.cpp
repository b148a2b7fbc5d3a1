#include "sim/decklink/rig.h"

#include <cstdlib>
#include <sstream>

#include "com/runtime.h"
#include "sim/common/rig_reader.h"
#include "sim/decklink/modes.h"

namespace orvex::sim::decklink {
namespace {

// Shipped presets, modelled on real card families.
constexpr std::string_view kCard4K =
    R"(<card model="DeckLink 4K Extreme" video-out="sdi,hdmi" video-in="sdi,hdmi"
         audio-in="embedded,aes,analog" audio-out="embedded,aes,analog"
         keying="internal,external,hd" full-duplex="true" bypass="true" reference="locked"
         modes="all" formats="2vuy,v210,BGRA,r210" flags="vanc,vitc,rp188,3d"
         audio-bits="16,32" audio-channels="2,8,16" frame-memory="1073741824"/>)";
constexpr std::string_view kCardHdSdi =
    R"(<card model="DeckLink SDI" video-out="sdi" video-in="sdi" audio-in="embedded"
         audio-out="embedded" full-duplex="false" reference="locked" modes="hd"
         formats="2vuy,v210,BGRA" flags="vanc,vitc,rp188" audio-bits="16,32"
         audio-channels="2,8" frame-memory="268435456"/>)";
constexpr std::string_view kCardHdmi =
    R"(<card model="Intensity Pro 4K" video-out="hdmi" video-in="hdmi" audio-in="embedded"
         audio-out="embedded" reference="not-supported" modes="hd,4k30"
         formats="2vuy,v210,BGRA" flags="" audio-bits="16,32" audio-channels="2,8"
         frame-memory="536870912"/>)";
constexpr std::string_view kCardCapture =
    R"(<card model="DeckLink Mini Recorder" video-out="" video-in="sdi,hdmi"
         audio-in="embedded" audio-out="" modes="hd" formats="2vuy,v210" flags=""
         audio-bits="16,32" audio-channels="2,8"/>)";
constexpr std::string_view kCardDuo =
    R"(<card model="DeckLink SDI 4K" video-out="sdi" video-in="sdi" audio-in="embedded,aes"
         audio-out="embedded" keying="internal" full-duplex="true" reference="locked"
         modes="hd,4k30" formats="2vuy,v210,BGRA" flags="vanc,vitc,rp188"
         audio-bits="16,32" audio-channels="2,8,16"/>)";

const std::vector<RigPreset>& Presets() {
    static const std::vector<RigPreset> presets{
        {"default", {kCard4K}},
        {"4k", {kCard4K}},
        {"hd-sdi", {kCardHdSdi}},
        {"hdmi", {kCardHdmi}},
        {"capture", {kCardCapture}},
        {"pair", {kCardDuo, kCardDuo}},
        {"studio", {kCardHdSdi, kCard4K, kCardHdmi, kCardCapture, kCardDuo, kCardDuo}},
        {"none", {}},
    };
    return presets;
}

std::vector<std::string> Tokens(std::string_view text) {
    return RigTokens(text);
}

std::string Lower(std::string s) {
    return RigLower(std::move(s));
}

// Every attribute a <card> may have: the first group describes the card, the second its
// faults. An attribute not listed here is warned about and not read; one read but not listed
// stops a debug build.
constexpr std::string_view kCardAttributes[] = {
    "model", "name", "video-out", "video-in", "audio-in", "audio-out", "keying", "full-duplex",
    "busy", "bypass", "reference", "modes", "formats", "flags", "audio-bits", "audio-channels",
    "frame-memory", "audio-buffer",
    // Faults.
    "refuse-modes", "refuse-formats", "refuse-flags", "refuse-audio", "enable-error",
    "display-error", "frame-oom", "allocate-oom", "removed", "drift-ppm", "jitter-us"};

class CardReader : public RigAttributes {
public:
    CardReader(const RigXmlElement& card, std::string* error)
        : RigAttributes(card, kCardAttributes, error) {}

    bool Hr(const char* name, HRESULT* out) {
        std::int64_t v = 0;
        if (!Int(name, -0x80000000ll, 0xFFFFFFFFll, &v)) return false;
        if (Has(name)) *out = static_cast<HRESULT>(static_cast<std::uint32_t>(v));
        return true;
    }
    // Named bits from a table.
    template <std::size_t N>
    bool Bits(const char* name, const std::pair<const char*, std::uint32_t> (&table)[N],
              std::uint32_t* out) {
        if (!Has(name)) return true;
        std::uint32_t bits = 0;
        for (const std::string& t : Tokens(Text(name))) {
            bool found = false;
            for (const auto& [word, bit] : table)
                if (Lower(t) == word) bits |= bit, found = true;
            if (!found) return FailAt(name, "unknown word " + t);
        }
        *out = bits;
        return true;
    }
    bool Codes(const char* name, std::vector<std::uint32_t>* out) {
        if (!Has(name)) return true;
        out->clear();
        for (const std::string& t : Tokens(Text(name))) {
            auto code = ParseCode(t);
            if (!code) return FailAt(name, "not a four-character code: " + t);
            out->push_back(*code);
        }
        return true;
    }
    bool Modes(const char* name, std::vector<BMDDisplayMode>* out) {
        if (!Has(name)) return true;
        out->clear();
        for (const std::string& t : Tokens(Text(name))) {
            std::string w = Lower(t);
            auto add_if = [&](auto pred) {
                for (const ModeInfo* m = AllModes(); m->mode; ++m)
                    if (pred(*m)) out->push_back(m->mode);
            };
            if (w == "all")
                add_if([](const ModeInfo&) { return true; });
            else if (w == "sd")
                add_if([](const ModeInfo& m) { return m.width == 720; });
            else if (w == "hd")
                add_if([](const ModeInfo& m) { return m.height <= 1080 && m.width <= 1920; });
            else if (w == "2k")
                add_if([](const ModeInfo& m) { return m.width == 2048; });
            else if (w == "4k")
                add_if([](const ModeInfo& m) { return m.height == 2160; });
            else if (w == "4k30")
                add_if([](const ModeInfo& m) {
                    return m.height == 2160 && m.scale / m.duration <= 30;
                });
            else {
                auto code = ParseCode(t);
                if (!code || !FindMode(*code)) return FailAt(name, "unknown display mode " + t);
                out->push_back(*code);
            }
        }
        return true;
    }
    bool Ints(const char* name, std::vector<int>* out) {
        if (!Has(name)) return true;
        out->clear();
        for (const std::string& t : Tokens(Text(name))) {
            char* end = nullptr;
            long v = std::strtol(t.c_str(), &end, 10);
            if (*end || v <= 0 || v > 64) return FailAt(name, "not a number from 1 to 64: " + t);
            out->push_back(static_cast<int>(v));
        }
        return true;
    }
};

constexpr std::pair<const char*, std::uint32_t> kVideoWords[] = {
    {"sdi", bmdVideoConnectionSDI},
    {"hdmi", bmdVideoConnectionHDMI},
    {"optical-sdi", bmdVideoConnectionOpticalSDI},
    {"component", bmdVideoConnectionComponent},
    {"composite", bmdVideoConnectionComposite},
    {"s-video", bmdVideoConnectionSVideo}};
constexpr std::pair<const char*, std::uint32_t> kAudioWords[] = {
    {"embedded", bmdAudioConnectionEmbedded},    {"aes", bmdAudioConnectionAESEBU},
    {"analog", bmdAudioConnectionAnalog},        {"analog-xlr", bmdAudioConnectionAnalogXLR},
    {"analog-rca", bmdAudioConnectionAnalogRCA}, {"microphone", bmdAudioConnectionMicrophone},
    {"headphones", bmdAudioConnectionHeadphones}};
constexpr std::pair<const char*, std::uint32_t> kKeyWords[] = {
    {"internal", 1}, {"external", 2}, {"hd", 4}};
constexpr std::pair<const char*, std::uint32_t> kBusyWords[] = {
    {"capture", bmdDeviceCaptureBusy},
    {"playback", bmdDevicePlaybackBusy},
    {"serial", bmdDeviceSerialPortBusy}};
constexpr std::pair<const char*, std::uint32_t> kFlagWords[] = {{"vanc", bmdVideoOutputVANC},
                                                                {"vitc", bmdVideoOutputVITC},
                                                                {"rp188", bmdVideoOutputRP188},
                                                                {"3d", bmdVideoOutputDualStream3D}};
constexpr std::pair<const char*, std::uint32_t> kReferenceWords[] = {
    {"none", 0},
    {"locked", bmdReferenceLocked},
    {"not-supported", bmdReferenceNotSupportedByHardware}};

bool ReadCard(const RigXmlElement& node, CardSpec* card, std::string* error) {
    CardReader r(node, error);
    card->model = r.Text("model");
    if (card->model.empty()) return r.Fail("has no model");
    card->name = r.Text("name", card->model);
    std::uint32_t keys = 0, reference = bmdReferenceLocked;
    bool ok = r.Bits("video-out", kVideoWords, &card->video_out) &&
              r.Bits("video-in", kVideoWords, &card->video_in) &&
              r.Bits("audio-in", kAudioWords, &card->audio_in) &&
              r.Bits("audio-out", kAudioWords, &card->audio_out) &&
              r.Bits("keying", kKeyWords, &keys) && r.Bool("full-duplex", &card->full_duplex) &&
              r.Bits("busy", kBusyWords, &card->busy) && r.Bool("bypass", &card->bypass) &&
              r.Bits("reference", kReferenceWords, &reference) && r.Modes("modes", &card->modes) &&
              r.Codes("formats", &card->formats) && r.Bits("flags", kFlagWords, &card->flags) &&
              r.Ints("audio-bits", &card->audio_bits) &&
              r.Ints("audio-channels", &card->audio_channels) &&
              r.Int("frame-memory", 0, 1ll << 40, &card->frame_memory) &&
              r.Int("audio-buffer", 1, 48000 * 60, &card->audio_buffer);
    if (!ok) return false;
    card->key_internal = keys & 1;
    card->key_external = keys & 2;
    card->key_hd = keys & 4;
    card->reference = reference;
    Faults& f = card->faults;
    std::vector<std::uint32_t> audio;
    std::int64_t jitter_us = 0;
    ok = r.Modes("refuse-modes", &f.refuse_modes) && r.Codes("refuse-formats", &f.refuse_formats) &&
         r.Bits("refuse-flags", kFlagWords, &f.refuse_flags) &&
         r.Hr("enable-error", &f.enable_error) && r.Hr("display-error", &f.display_error) &&
         r.Int("frame-oom", 0, 1ll << 40, &f.frame_oom) &&
         r.Int("allocate-oom", 0, 1ll << 40, &f.allocate_oom) && r.Bool("removed", &f.removed) &&
         r.Double("drift-ppm", -1000, 1000, &f.drift_ppm) &&
         r.Int("jitter-us", 0, 1'000'000, &jitter_us);
    if (!ok) return false;
    f.jitter = jitter_us * 10;
    if (r.Has("refuse-audio")) {
        // "BITSxCHANNELS" items, e.g. "32x16,16x2".
        for (const std::string& t : Tokens(r.Text("refuse-audio"))) {
            int bits = 0, channels = 0;
            char x = 0;
            std::istringstream in(t);
            if (!(in >> bits >> x >> channels) || x != 'x' || bits <= 0 || channels <= 0 ||
                bits > 64 || channels > 64)
                return r.FailAt("refuse-audio", "not BITSxCHANNELS: " + t);
            f.refuse_audio.push_back((static_cast<std::uint32_t>(bits) << 16) |
                                     static_cast<std::uint32_t>(channels));
        }
    }
    return true;
}

}  // namespace

bool ParseRig(std::string_view xml, Rig* rig, std::string* error) {
    return ParseRigOf(xml, "card", kMaxCards, kCardAttributes, &Rig::cards, ReadCard, rig, error);
}

std::string_view PresetText(std::string_view name) {
    return RigPresetText(Presets(), name);
}

std::vector<std::string_view> PresetNames() {
    std::vector<std::string_view> names;
    for (const RigPreset& p : Presets()) names.push_back(p.name);
    return names;
}

Rig LoadConfiguredRig(std::string* error) {
    return LoadRig<Rig>("virtual DeckLink card", "ORVEX_DECKLINK_RIG",
                        u"CLSID\\" + orvex::com::GuidToString(CLSID_CDeckLinkIterator), Presets(),
                        "ORVEX_DECKLINK_RECORD", ParseRig, error);
}

}  // namespace orvex::sim::decklink
