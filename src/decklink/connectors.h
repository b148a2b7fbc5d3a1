// The card's output connectors, input connectors and keying modes as option lists of the
// renderer's property tree, and what choosing one of them does to the card.
//
// Each list is a schema entry under the root's "attributes_info" node ("line-out",
// "line-in", "keying") of type "option_fixed", with one child per option: the child is named
// by the option's value (what the host writes into the property), its text is the option's
// display name, and its attributes say what to tell the card ("bmd-id"/"bmd-int", for inputs
// also "bmd-id-2"/"bmd-int-2"; "keying-id" for keying).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "decklink/api/decklink_api.h"
#include "orvex/interfaces.h"

namespace orvex::decklink {

struct ConnectorOption {
    std::u16string name;   // shown to people
    std::u16string value;  // the property's value when chosen
    std::optional<LONGLONG> bmd_id, bmd_int, bmd_id_2, bmd_int_2;
    std::optional<int> keying_id;
};

inline constexpr std::u16string_view kLineOut = u"line-out";
inline constexpr std::u16string_view kLineIn = u"line-in";
inline constexpr std::u16string_view kKeying = u"keying";

// The lists for the card's reported connections ('vocn'; 'vicn' with 'aicn', where
// `audio_inputs` is empty when the card does not report them) and keying abilities.
std::vector<ConnectorOption> LineOutOptions(LONGLONG video_outputs);
std::vector<ConnectorOption> LineInOptions(LONGLONG video_inputs,
                                           std::optional<LONGLONG> audio_inputs);
std::vector<ConnectorOption> KeyingOptions(bool internal, bool external);

// Reads the card's connections and keying flags and writes the three lists under `root`,
// each property set to its first option. A list the card has nothing for is removed.
void PublishConnectorOptions(IMNode* root, IDeckLink* device);

// One option as read back from the tree.
struct ChosenOption {
    std::optional<LONGLONG> bmd_id, bmd_int, bmd_int_ex, bmd_id_2, bmd_int_2;
    int keying_id = -2;  // -2: not a keying option
};
// The option of list `list` named `value`; nothing when the list has no such option.
std::optional<ChosenOption> FindOption(IMNode* root, std::u16string_view list,
                                       std::u16string_view value);

// Tells the card what `option` asks for: connections through the configuration interface
// (the current revision first, then the earlier one, whose audio input codes differ), keying
// through the keyer at `keying_level`.
void ApplyOption(IDeckLink* device, IDeckLinkKeyer* keyer, const ChosenOption& option,
                 int keying_level);

// The earlier configuration revision's code for an audio input bit; nothing for a value it
// has no code for (no call is made then).
std::optional<LONGLONG> LegacyAudioConnection(LONGLONG bit);

}  // namespace orvex::decklink
