// The rig: the set of virtual cards, read from attribute-tree XML.
//
//   <rig record="/folder/for/recordings">
//     <card model="..." name="..." video-out="sdi,hdmi" video-in="sdi" audio-in="embedded,aes"
//           audio-out="embedded" keying="internal,external,hd" full-duplex="true"
//           busy="" bypass="false" reference="locked" modes="Hi50,Hp25,..." (or "hd", "all")
//           formats="2vuy,v210,BGRA" flags="vanc,vitc,rp188,3d" audio-bits="16,32"
//           audio-channels="2,8,16" frame-memory="268435456" audio-buffer="48000"
//           refuse-modes="" refuse-formats="" refuse-flags="" refuse-audio="32x16"
//           enable-error="0x80004005" display-error="0x80004005" frame-oom="0"
//           allocate-oom="0" removed="false" drift-ppm="0" jitter-us="0"/>
//   </rig>
//
// Where the rig comes from: the environment variable ORVEX_DECKLINK_RIG, else the string
// value "Rig" of the card library's key HKEY_CLASSES_ROOT\CLSID\{1F2E109A-...}; either holds
// a file path or the name of a shipped preset. With neither set, the preset "default". The
// environment variable ORVEX_DECKLINK_RECORD overrides the rig's record folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "decklink/api/decklink_api.h"

namespace orvex::sim::decklink {

// Faults a card shows; the rig sets the initial ones, the control API changes them.
struct Faults {
    std::vector<BMDDisplayMode> refuse_modes;
    std::vector<BMDPixelFormat> refuse_formats;
    BMDVideoOutputFlags refuse_flags = 0;
    std::vector<std::uint32_t> refuse_audio;  // (bits << 16) | channels
    HRESULT enable_error = S_OK;
    HRESULT display_error = S_OK;
    std::int64_t display_error_calls = -1;  // with display_error: -1 = every call
    std::int64_t frame_oom = 0;             // CreateVideoFrame calls that fail
    std::int64_t allocate_oom = 0;          // host-allocator requests answered as failed
    bool removed = false;
    double drift_ppm = 0;
    std::int64_t jitter = 0;  // 100-ns ticks of reading latency, at most
};

struct CardSpec {
    std::string model;
    std::string name;  // display name
    std::uint32_t video_out = 0, video_in = 0, audio_in = 0, audio_out = 0;
    bool key_internal = false, key_external = false, key_hd = false;
    bool full_duplex = false;
    std::uint32_t busy = 0;  // BMDDeviceBusyState bits
    bool bypass = false;
    BMDReferenceStatus reference = bmdReferenceLocked;
    std::vector<BMDDisplayMode> modes;
    std::vector<BMDPixelFormat> formats;
    BMDVideoOutputFlags flags = 0;
    std::vector<int> audio_bits;
    std::vector<int> audio_channels;
    std::int64_t frame_memory = 512ll << 20;  // bytes of card-owned frames alive at once
    std::int64_t audio_buffer = 48000;        // sample frames the card buffers
    Faults faults;
};

struct Rig {
    std::string record;  // folder; empty = no recording
    std::vector<CardSpec> cards;
    std::vector<std::string> warnings;  // attributes that are not read, with their places
};

// A rig has at most this many cards.
inline constexpr std::size_t kMaxCards = 64;

// Parses rig XML; false for malformed text or values, with the first fault and its place
// ("line 4: <card> attribute frame-memory: ..."). The attributes a card may have stand in one
// table, kCardAttributes in rig.cpp.
bool ParseRig(std::string_view xml, Rig* rig, std::string* error);
// The text of a shipped preset, or empty.
std::string_view PresetText(std::string_view name);
// The names of the shipped presets.
std::vector<std::string_view> PresetNames();
// Reads the rig from the documented setting (see above); a broken setting yields no cards
// and a message that begins with the setting. Warnings go to the standard error stream.
Rig LoadConfiguredRig(std::string* error);

}  // namespace orvex::sim::decklink
