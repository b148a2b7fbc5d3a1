#include "decklink/connectors.h"

#include <charconv>

#include "com/ptr.h"
#include "com/runtime.h"
#include "props/xml_node.h"

namespace orvex::decklink {
namespace {

constexpr std::u16string_view kSchema = u"attributes_info";

struct Connector {
    LONGLONG bit;
    std::u16string_view name;
    std::u16string_view value;
};

constexpr Connector kVideoInputs[] = {
    {bmdVideoConnectionSDI, u"SDI Video", u"sdi"},
    {bmdVideoConnectionHDMI, u"HDMI Video", u"hdmi"},
    {bmdVideoConnectionOpticalSDI, u"Optical SDI Video", u"optical_sdi"},
    {bmdVideoConnectionComponent, u"Component Video", u"component"},
    {bmdVideoConnectionComposite, u"Composite (Y-In) Video", u"composite"},
    {bmdVideoConnectionSVideo, u"S-Video", u"s_video"},
};
// Embedded audio takes the name of the digital connector that carries it.
constexpr std::u16string_view kEmbeddedNames[] = {u"SDI Audio", u"HDMI Audio",
                                                  u"Optical SDI Audio"};
constexpr Connector kAudioInputs[] = {
    {bmdAudioConnectionEmbedded, u"", u""},
    {bmdAudioConnectionAnalog, u"Analog Audio", u"_analog"},
    {bmdAudioConnectionAnalogRCA, u"Analog RCA Audio", u"_rca"},
    {bmdAudioConnectionAnalogXLR, u"Analog XLR Audio", u"_xlr"},
    {bmdAudioConnectionAESEBU, u"AES/EBU Audio", u"_aes"},
};

std::u16string Text(LONGLONG v) {
    char buffer[24];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
    return com::ToUtf16(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

std::optional<LONGLONG> ReadInt(IMNode* node, std::u16string_view name) {
    int found = 0;
    CComBSTR value;
    if (FAILED(node->AttributesGetOrDefault(CComBSTR(name), &found, &value)) || !found)
        return std::nullopt;
    std::string text = com::ToUtf8(value.View());
    LONGLONG v = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        first += 2;
        base = 16;
    }
    auto [ptr, ec] = std::from_chars(first, last, v, base);
    if (ec != std::errc() || ptr != last) return std::nullopt;
    return v;
}

void SetAttribute(IMNode* node, std::u16string_view name, std::u16string_view value) {
    node->AttributesSet(CComBSTR(name), CComBSTR(value));
}

CComPtr<IMNode> Child(IMNode* node, std::u16string_view path, bool create) {
    CComPtr<IMNode> child;
    if (FAILED(node->NodeChildGet(CComBSTR(path), create ? 1 : 0, &child))) child.Release();
    return child;
}

void WriteList(IMNode* root, std::u16string_view list, const std::vector<ConnectorOption>& options,
               std::optional<bool> support_hd) {
    CComPtr<IMNode> schema = Child(root, kSchema, !options.empty());
    if (!schema) return;
    schema->NodeChildRemove(CComBSTR(list));
    if (options.empty()) {
        root->AttributesRemove(CComBSTR(list));
        return;
    }
    CComPtr<IMNode> entry;
    if (FAILED(schema->NodeChildAdd(CComBSTR(list), nullptr, &entry)) || !entry) return;
    SetAttribute(entry, u"type", u"option_fixed");
    if (support_hd) entry->AttributesSetBool(CComBSTR(u"support-hd"), *support_hd ? 1 : 0);
    for (const ConnectorOption& option : options) {
        CComPtr<IMNode> item;
        // The option's value names its child; a path separator inside it cannot, so such an
        // option is left out rather than written somewhere else.
        if (option.value.find(u"::") != std::u16string::npos) continue;
        if (FAILED(entry->NodeChildAdd(CComBSTR(option.value), CComBSTR(option.name), &item)) ||
            !item)
            continue;
        auto put = [&](std::u16string_view name, const std::optional<LONGLONG>& v) {
            if (v) SetAttribute(item, name, Text(*v));
        };
        put(u"bmd-id", option.bmd_id);
        put(u"bmd-int", option.bmd_int);
        put(u"bmd-id-2", option.bmd_id_2);
        put(u"bmd-int-2", option.bmd_int_2);
        if (option.keying_id) put(u"keying-id", *option.keying_id);
    }
    SetAttribute(root, list, options.front().value);
}

}  // namespace

std::vector<ConnectorOption> LineOutOptions(LONGLONG video_outputs) {
    std::vector<ConnectorOption> options;
    constexpr LONGLONG kDigital =
        bmdVideoConnectionSDI | bmdVideoConnectionHDMI | bmdVideoConnectionOpticalSDI;
    std::u16string prefix;
    if (video_outputs & bmdVideoConnectionSDI) prefix += u"SDI & ";
    if (video_outputs & bmdVideoConnectionHDMI) prefix += u"HDMI & ";
    if (video_outputs & bmdVideoConnectionOpticalSDI) prefix += u"Optical SDI & ";
    const struct {
        LONGLONG bit;
        std::u16string_view name, value;
    } analog[] = {{bmdVideoConnectionComponent, u"Component", u"component"},
                  {bmdVideoConnectionComposite, u"Composite (Y Out)", u"composite"},
                  {bmdVideoConnectionSVideo, u"S-Video", u"svideo"}};
    for (const auto& a : analog) {
        if (!(video_outputs & a.bit)) continue;
        options.push_back({prefix + std::u16string(a.name),
                           std::u16string(a.value),
                           BMDDeckLinkVideoOutputConnections,
                           a.bit,
                           {},
                           {},
                           {}});
    }
    if (options.empty() && !prefix.empty()) {
        std::u16string digital = prefix.substr(0, prefix.size() - 3);
        options.push_back({digital,
                           digital,
                           BMDDeckLinkVideoOutputConnections,
                           video_outputs & kDigital,
                           {},
                           {},
                           {}});
    }
    return options;
}

std::vector<ConnectorOption> LineInOptions(LONGLONG video_inputs,
                                           std::optional<LONGLONG> audio_inputs) {
    std::vector<ConnectorOption> options;
    if (video_inputs == 0) return options;
    LONGLONG audio = 0;
    if (audio_inputs && *audio_inputs != 0) {
        audio = *audio_inputs;
        if (audio & (bmdAudioConnectionAnalogXLR | bmdAudioConnectionAnalogRCA))
            audio &= ~static_cast<LONGLONG>(bmdAudioConnectionAnalog);
    } else {
        audio = bmdAudioConnectionEmbedded;
        if (video_inputs & bmdVideoConnectionComponent) audio |= bmdAudioConnectionAnalog;
    }
    for (std::size_t v = 0; v < std::size(kVideoInputs); ++v) {
        const Connector& video = kVideoInputs[v];
        if (!(video_inputs & video.bit)) continue;
        bool first = true;
        for (const Connector& sound : kAudioInputs) {
            if (!(audio & sound.bit)) continue;
            std::u16string_view audio_name = sound.name;
            if (sound.bit == bmdAudioConnectionEmbedded) {
                if (v >= std::size(kEmbeddedNames)) continue;  // analog video carries none
                audio_name = kEmbeddedNames[v];
            }
            ConnectorOption option;
            option.name = std::u16string(video.name) + u" & " + std::u16string(audio_name);
            option.value =
                std::u16string(video.value) + (first ? u"" : std::u16string(sound.value));
            option.bmd_id = BMDDeckLinkVideoInputConnections;
            option.bmd_int = video.bit;
            option.bmd_id_2 = BMDDeckLinkAudioInputConnections;
            option.bmd_int_2 = sound.bit;
            options.push_back(std::move(option));
            first = false;
        }
    }
    return options;
}

std::vector<ConnectorOption> KeyingOptions(bool internal, bool external) {
    auto keying = [](std::u16string name, std::u16string value, int id) {
        ConnectorOption o;
        o.name = std::move(name);
        o.value = std::move(value);
        o.keying_id = id;
        return o;
    };
    std::vector<ConnectorOption> options;
    options.push_back(
        keying((internal || external) ? u"Disable Keying" : u"Not Supported", u"disable", -1));
    if (internal) options.push_back(keying(u"Internal Keying", u"internal", 0));
    if (external) options.push_back(keying(u"External Keying", u"external", 1));
    return options;
}

void PublishConnectorOptions(IMNode* root, IDeckLink* device) {
    if (!root || !device) return;
    CComPtr<IDeckLinkAttributes> attributes;
    if (FAILED(device->QueryInterface(&attributes))) attributes.Release();
    auto get_int = [&](BMDDeckLinkAttributeID id) -> std::optional<LONGLONG> {
        LONGLONG v = 0;
        if (!attributes || FAILED(attributes->GetInt(id, &v))) return std::nullopt;
        return v;
    };
    auto get_flag = [&](BMDDeckLinkAttributeID id) {
        BOOL v = FALSE;
        return attributes && SUCCEEDED(attributes->GetFlag(id, &v)) && v;
    };
    const bool internal = get_flag(BMDDeckLinkSupportsInternalKeying);
    const bool external = get_flag(BMDDeckLinkSupportsExternalKeying);
    WriteList(root, kKeying, KeyingOptions(internal, external),
              get_flag(BMDDeckLinkSupportsHDKeying));
    WriteList(root, kLineOut,
              LineOutOptions(get_int(BMDDeckLinkVideoOutputConnections).value_or(0)), std::nullopt);
    WriteList(root, kLineIn,
              LineInOptions(get_int(BMDDeckLinkVideoInputConnections).value_or(0),
                            get_int(BMDDeckLinkAudioInputConnections)),
              std::nullopt);
}

std::optional<ChosenOption> FindOption(IMNode* root, std::u16string_view list,
                                       std::u16string_view value) {
    if (!root || value.empty() || value.find(u"::") != std::u16string_view::npos)
        return std::nullopt;
    std::u16string path =
        std::u16string(kSchema) + u"::" + std::u16string(list) + u"::" + std::u16string(value);
    CComPtr<IMNode> item = Child(root, path, false);
    if (!item) return std::nullopt;
    ChosenOption option;
    option.bmd_id = ReadInt(item, u"bmd-id");
    option.bmd_int = ReadInt(item, u"bmd-int");
    option.bmd_int_ex = ReadInt(item, u"bmd-int-ex");
    option.bmd_id_2 = ReadInt(item, u"bmd-id-2");
    option.bmd_int_2 = ReadInt(item, u"bmd-int-2");
    if (auto id = ReadInt(item, u"keying-id"); id && *id >= -2 && *id <= 1)
        option.keying_id = static_cast<int>(*id);
    return option;
}

std::optional<LONGLONG> LegacyAudioConnection(LONGLONG bit) {
    switch (bit) {
        case 0x01:
            return bmdAudioConnectionEmbedded_v10_2;
        case 0x02:
            return bmdAudioConnectionAESEBU_v10_2;
        case 0x04:
        case 0x20:
        case 0x40:
            return bmdAudioConnectionAnalog_v10_2;
        case 0x08:
            return bmdAudioConnectionAnalogXLR_v10_2;
        case 0x10:
            return bmdAudioConnectionAnalogRCA_v10_2;
        default:
            return std::nullopt;
    }
}

void ApplyOption(IDeckLink* device, IDeckLinkKeyer* keyer, const ChosenOption& option,
                 int keying_level) {
    if (option.keying_id >= -1) {
        if (!keyer) return;
        if (option.keying_id == -1) {
            keyer->Disable();
            return;
        }
        keyer->Enable(option.keying_id == 1 ? TRUE : FALSE);
        keyer->SetLevel(static_cast<unsigned char>(keying_level < 0     ? 0
                                                   : keying_level > 255 ? 255
                                                                        : keying_level));
        return;
    }
    if (!device) return;
    // Both revisions share the slots used here; only the audio input codes differ.
    CComPtr<IDeckLinkConfiguration> configuration;
    bool legacy = false;
    if (FAILED(device->QueryInterface(&configuration)) || !configuration) {
        configuration.Release();
        CComPtr<IDeckLinkConfiguration_v10_2> earlier;
        if (FAILED(device->QueryInterface(&earlier)) || !earlier) return;
        configuration = earlier.p;
        legacy = true;
    }
    if (option.bmd_id_2 && option.bmd_int_2) {
        std::optional<LONGLONG> value = *option.bmd_int_2;
        if (legacy && *option.bmd_id_2 == BMDDeckLinkAudioInputConnections)
            value = LegacyAudioConnection(*option.bmd_int_2);
        if (value)
            configuration->SetInt(static_cast<BMDDeckLinkConfigurationID>(*option.bmd_id_2),
                                  *value);
    }
    if (option.bmd_id) {
        const auto id = static_cast<BMDDeckLinkConfigurationID>(*option.bmd_id);
        if (option.bmd_int_ex) configuration->SetInt(id, *option.bmd_int_ex);
        if (option.bmd_int) configuration->SetInt(id, *option.bmd_int);
    }
}

}  // namespace orvex::decklink
