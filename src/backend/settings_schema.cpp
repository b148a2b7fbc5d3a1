#include "backend/settings_schema.h"

namespace orvex::backend {
namespace {

// The frame queue's bounds: 1000 frames are 40 s at 25 frames/s, far beyond any use.
constexpr const char16_t* kMaxQueue = u"1000";

constexpr SettingSchema kSettings[] = {
    // The device-independent renderer.
    {u"extra_devices.clsids", u"string", nullptr, nullptr, nullptr,
     u"Class identifiers of further renderer classes to list, separated by spaces, commas or "
     u"semicolons"},
    {u"device.init_first", u"bool", nullptr, nullptr, nullptr,
     u"Choose the first device when the renderer is made"},
    // The frame queue of both card renderers.
    {u"input.buffers", u"int", u"0", kMaxQueue, nullptr,
     u"Frames the queue holds ahead of the output; 0 plays each frame on the host's thread"},
    // The DeckLink renderer.
    {u"live.video_buffers_min", u"int", u"0", kMaxQueue, nullptr,
     u"Low mark of the queue for live frames (doubled at 50 frames/s and more)"},
    {u"live.video_buffers_max", u"int", u"0", kMaxQueue, nullptr,
     u"High mark of the queue for live frames (doubled at 50 frames/s and more)"},
    {u"file.video_buffers", u"int", u"0", kMaxQueue, nullptr,
     u"High mark of the queue for file frames (doubled at 50 frames/s and more)"},
    {u"output.10bit", u"bool", nullptr, nullptr, nullptr, u"Play 8-bit YUV formats as v210"},
    {u"optimization.no_copy", u"bool", nullptr, nullptr, nullptr,
     u"Show frames from their own memory when their format matches the output's"},
    {u"optimization.own_buffer", u"bool", nullptr, nullptr, nullptr,
     u"Give the card the renderer's frame memory and completion callback"},
    {u"experimental.low_delay", u"bool", nullptr, nullptr, nullptr, u"Low-latency video output"},
    {u"experimental.direct_audio_thread", u"bool", nullptr, nullptr, nullptr,
     u"Write audio from a thread of its own"},
    {u"output.time_sync", u"bool", nullptr, nullptr, nullptr,
     u"Skip file frames that fall behind the output's clock"},
    {u"time-offset", u"double", u"-86400", u"86400", nullptr,
     u"Seconds added to frame times, taken when the output opens"},
    {u"scaling_quality", u"string", nullptr, nullptr, nullptr,
     u"Picture scaling: auto, or a method number (10 and more: field by field)"},
    {u"bypass.wait_frames", u"int", u"0", nullptr, nullptr, u"Frames before the bypass relay"},
    {u"output.timecode", u"bool", nullptr, nullptr, nullptr, u"Put timecode on the output"},
    {u"timecode_format", u"option_fixed", nullptr, nullptr,
     u"auto|rp188-vitc|rp188-vitc2|rp188-ltc|vitc|vitc-2|serial|disabled",
     u"Timecode kind; auto: VITC for SD formats, RP188 for the others"},
    {u"cc_output", u"int", u"0", u"7", nullptr,
     u"Caption output, a sum of: 1 line 21 in the picture, 2 CEA-608 packets, 4 CEA-708 "
     u"packets"},
    {u"cc_line_sdi", u"int", u"1", nullptr, nullptr,
     u"Vertical blanking line of the caption packets"},
    {u"cc_offset_dword", u"int", nullptr, nullptr, nullptr, u"Caption offset (not used)"},
    {u"output.copy_vanc", u"int", u"0", nullptr, nullptr,
     u"Ancillary lines of the frames: 0 dropped, 1 copied before the captions, 2 after"},
    {u"crop", u"string", nullptr, nullptr, nullptr, u"Crop of the picture before it is shown"},
    {u"mirror", u"string", nullptr, nullptr, nullptr, u"Mirroring of the picture"},
    {u"rotate", u"string", nullptr, nullptr, nullptr, u"Rotation of the picture"},
    {u"keying-level", u"int", u"0", u"255", nullptr, u"Level of the keyer"},
    {u"bmd.control_panel", u"string", nullptr, nullptr, nullptr,
     u"The program that opens the card's control panel"},
    {u"bmd.driver_library", u"string", nullptr, nullptr, nullptr,
     u"The DeckLink driver library to load on Linux when none is registered"},
    // The AJA renderer.
    {u"driver.buffers", u"int", u"0", nullptr, nullptr,
     u"Frames kept in the board's ring ahead of output (at least 2)"},
    {u"multiformat", u"bool", nullptr, nullptr, nullptr,
     u"Run the channel apart from the board's other channels"},
    {u"ref-in", u"option_fixed", nullptr, nullptr, u"freerun|external|sdi1|sdi2|analog|hdmi",
     u"Reference source"},
    {u"vanc.enabled", u"bool", nullptr, nullptr, nullptr, u"VANC lines in the frame buffer"},
    {u"vanc.wide", u"bool", nullptr, nullptr, nullptr, u"A taller VANC area"},
    {u"hdmi-out", u"bool", nullptr, nullptr, nullptr, u"Route the channel to the HDMI output"},
    {u"analog-out", u"bool", nullptr, nullptr, nullptr, u"Route the channel to the analog output"},
};

}  // namespace

std::span<const SettingSchema> SharedSettings() {
    return kSettings;
}

void DeclareSharedSettings(XMLParse::CoXMLNode* root) {
    XMLParse::XMLNodePtr schema = root->FindChild(XMLParse::kSchemaName);
    if (!schema) schema = root->AppendChild(XMLParse::kSchemaName);
    if (!schema) return;
    for (const SettingSchema& s : kSettings) {
        if (schema->FindChild(s.name)) continue;
        XMLParse::XMLNodePtr entry = schema->AppendChild(s.name);
        if (!entry) continue;
        entry->SetAttr(u"type", s.type);
        if (s.min) entry->SetAttr(u"min", s.min);
        if (s.max) entry->SetAttr(u"max", s.max);
        if (s.values) entry->SetAttr(u"values", s.values);
        if (s.help) entry->SetValue(s.help);
    }
}

}  // namespace orvex::backend
