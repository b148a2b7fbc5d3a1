// The card library's parts on their own: rig text, ancillary packet scan, recording files
// (read back with FFmpeg's demuxer and decoder).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>

#include "sim/common/record_writer.h"
#include "sim/decklink/modes.h"
#include "sim/decklink/recorder.h"
#include "sim/decklink/recording.h"
#include "sim/decklink/rig.h"
#include "sim/decklink/vanc.h"
#include "sim_test_util.h"
#include "support/temp_registry.h"

namespace {

namespace fs = std::filesystem;
using namespace orvex::sim::decklink;
using orvex::test::Packet;
using orvex::test::Probe;
using orvex::test::ReadWithLibav;
using orvex::test::V210Line;

TEST(SimRig, EveryPresetParses) {
    for (std::string_view name : PresetNames()) {
        Rig rig;
        std::string error;
        EXPECT_TRUE(ParseRig(PresetText(name), &rig, &error)) << name << ": " << error;
    }
}

TEST(SimRig, ReadsEveryAttributeOfACard) {
    Rig rig;
    std::string error;
    ASSERT_TRUE(ParseRig(R"(<rig record="/r"><card model="M" name="N" video-out="sdi,optical-sdi"
        keying="external" busy="capture,playback" reference="none" modes="4k30,pal"
        formats="v210,32,0x42475241" flags="vanc,3d" audio-bits="32" audio-channels="16"
        frame-memory="1000" audio-buffer="96" refuse-modes="Hi50" refuse-audio="32x16,16x2"
        enable-error="0x80004005" frame-oom="3" removed="yes" drift-ppm="-2.5" jitter-us="40"/></rig>)",
                         &rig, &error))
        << error;
    ASSERT_EQ(rig.cards.size(), 1u);
    const CardSpec& c = rig.cards[0];
    EXPECT_EQ(c.video_out, 0x05u);
    EXPECT_TRUE(c.key_external && !c.key_internal);
    EXPECT_EQ(c.busy, 3u);
    EXPECT_EQ(c.reference, 0u);
    EXPECT_EQ(c.modes.size(), 9u);  // five UHD, three 4K DCI, PAL
    EXPECT_EQ(c.formats, (std::vector<BMDPixelFormat>{bmdFormat10BitYUV, bmdFormat8BitARGB,
                                                      bmdFormat8BitBGRA}));
    EXPECT_EQ(c.flags, bmdVideoOutputVANC | bmdVideoOutputDualStream3D);
    EXPECT_EQ(c.frame_memory, 1000);
    EXPECT_EQ(c.audio_buffer, 96);
    EXPECT_EQ(c.faults.refuse_audio,
              (std::vector<std::uint32_t>{(32u << 16) | 16, (16u << 16) | 2}));
    EXPECT_EQ(c.faults.enable_error, static_cast<HRESULT>(0x80004005u));
    EXPECT_EQ(c.faults.frame_oom, 3);
    EXPECT_TRUE(c.faults.removed);
    EXPECT_DOUBLE_EQ(c.faults.drift_ppm, -2.5);
    EXPECT_EQ(c.faults.jitter, 400);
}

// Each refusal names the first fault and where it stands.
TEST(SimRig, RefusesMalformedRigsSayingWhereAndWhy) {
    std::string cards, deep;
    for (int i = 0; i < 5000; ++i) cards += "<card model=\"M\"/>\n";
    for (int i = 0; i < 100000; ++i) deep += "<a>";
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"not xml", "line 1, column 1: expected the rig's root element"},
        {"<cards/>", "line 1: the root element must be <rig>, not <cards>"},
        {"<rig>\n<box/></rig>", "line 2: unknown element <box> in the rig"},
        {"<rig><card/></rig>", "line 1: <card> has no model"},
        {"<rig>\n<card model=\"A\">\n</rig>",
         "line 3, column 6: </rig> does not close <card> of line 2"},
        {"<rig><card model='A'", "line 1, column 21: <card> is not closed with '>'"},
        {"<rig><card model='A'>text</card></rig>", "text in <card>"},
        {"<rig><card model='A'><sub/></card></rig>", "<sub> in a <card>, which holds none"},
        {"<!DOCTYPE rig [<!ENTITY x 'y'>]><rig/>", "no document type declaration"},
        {"<rig><card model='&x;'/></rig>", "unknown reference &x;"},
        {"<rig><card model='a & b'/></rig>", "'&' that starts no reference"},
        {"<rig><card model='&#0;'/></rig>", "&#0; is no character a rig can hold"},
        {std::string("<rig>\n<card model='M\0'/></rig>", 25),
         "line 2, column 15: not text (a zero byte)"},
        {"<rig>\xff</rig>", "line 1, column 6: not UTF-8 text"},
        {"<rig>" + cards + "</rig>", "line 65: more than 64 cards"},
        {"<rig>" + deep, "line 1, column 27: elements nested deeper than 8 levels"},
        {"<rig>" + std::string(1 << 20, ' ') + "</rig>", "larger than a rig may be (1 MiB)"},
        {"<rig><card model=\"M\"\n frame-memory=\"100000000000000000000000\"/></rig>",
         "line 2: <card> attribute frame-memory: not a whole number from 0 to"},
        {R"(<rig><card model="M" video-out="sdi,dvi"/></rig>)",
         "attribute video-out: unknown word dvi"},
        {R"(<rig><card model="M" modes="Hx99"/></rig>)",
         "attribute modes: unknown display mode Hx99"},
        {R"(<rig><card model="M" formats="toolong"/></rig>)",
         "attribute formats: not a four-character code"},
        {R"(<rig><card model="M" frame-memory="-1"/></rig>)", "attribute frame-memory"},
        {R"(<rig><card model="M" audio-buffer="1e9"/></rig>)", "attribute audio-buffer"},
        {R"(<rig><card model="M" full-duplex="maybe"/></rig>)",
         "attribute full-duplex: not true or false"},
        {R"(<rig><card model="M" audio-channels="0"/></rig>)", "attribute audio-channels"},
        {R"(<rig><card model="M" refuse-audio="16by2"/></rig>)",
         "attribute refuse-audio: not BITSxCHANNELS"},
        {R"(<rig><card model="M" drift-ppm="nan"/></rig>)",
         "attribute drift-ppm: not a number from"},
        {R"(<rig><card model="M" jitter-us="99999999999"/></rig>)", "attribute jitter-us"},
    };
    for (const auto& c : cases) {
        Rig rig;
        std::string error;
        EXPECT_FALSE(ParseRig(c.text, &rig, &error)) << c.error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_TRUE(rig.cards.empty()) << c.error;
    }
}

// References are decoded; an attribute no card has, or one given twice, is warned about.
TEST(SimRig, DecodesReferencesAndWarnsOfAttributesItDoesNotRead) {
    Rig rig;
    std::string error;
    ASSERT_TRUE(
        ParseRig("<?xml version='1.0'?><!-- a rig --><rig record='/a &amp; b'>\n"
                 "<card model='A &lt;1&gt; &#65;&#x263A;' refuse-mdoes='Hp25'\n"
                 " name='one' name='two'/></rig>",
                 &rig, &error))
        << error;
    EXPECT_EQ(rig.record, "/a & b");
    ASSERT_EQ(rig.cards.size(), 1u);
    EXPECT_EQ(rig.cards[0].model, "A <1> A\u263A");
    EXPECT_EQ(rig.cards[0].name, "two");
    EXPECT_EQ(rig.warnings, (std::vector<std::string>{
                                "line 2: <card> has an attribute refuse-mdoes, which is not read",
                                "line 3: <card> gives name again later; the last is read"}));
}

TEST(SimVanc, FindsPacketsInLumaOrInEverySample) {
    struct Case {
        bool luma_only;
        int width;
        std::size_t at;
        bool good;
    };
    const Case cases[] = {{true, 1920, 0, true}, {true, 1920, 100, false}, {false, 720, 7, true}};
    for (const Case& c : cases) {
        auto p = Packet(0x61, 0x02, {0x96, 0x69, 0x01}, c.good);
        auto line = V210Line(p, c.luma_only, c.width, c.at);
        auto found = FindVancPackets(line.data(), line.size(), c.width, c.luma_only);
        ASSERT_EQ(found.size(), 1u) << c.width;
        EXPECT_EQ(found[0].did, 0x61);
        EXPECT_EQ(found[0].sdid, 0x02);
        EXPECT_EQ(found[0].data, (std::vector<std::uint8_t>{0x96, 0x69, 0x01}));
        EXPECT_EQ(found[0].checksum_ok, c.good);
    }
    // A packet whose data count runs past the end of the line is not reported.
    auto p = Packet(0x41, 0x05, std::vector<std::uint8_t>(200, 1));
    auto line = V210Line(std::vector<std::uint16_t>(p.begin(), p.begin() + 6), false, 720, 1430);
    EXPECT_TRUE(FindVancPackets(line.data(), line.size(), 720, false).empty());
    EXPECT_TRUE(FindVancPackets(line.data(), 3, 720, false).empty());
}

// A fresh folder in the test's temporary folder.
struct Folder {
    Folder() { fs::create_directories(path); }
    std::string operator/(const char* name) const { return (path / name).string(); }
    const fs::path path = orvex::test::g_temp_registry->dir() / "parts";
};

// A black PAL picture in `format`, its rows `pad` bytes longer than they need be.
Picture Pal(BMDPixelFormat format, int pad = 0) {
    Picture p;
    p.width = 720;
    p.height = 576;
    p.format = format;
    p.row_bytes = static_cast<std::int32_t>(MinRowBytes(format, 720)) + pad;
    p.bytes.assign(static_cast<std::size_t>(p.row_bytes) * 576, 0);
    return p;
}

TEST(SimRecorder, PicturesDecodeToWhatTheCardWasShown) {
    Folder dir;
    const ModeInfo& pal = *FindMode(bmdModePAL);
    struct Case {
        BMDPixelFormat format;
        const char* file;
        AVPixelFormat expected;
    };
    const Case cases[] = {{bmdFormat8BitYUV, "c.y4m", AV_PIX_FMT_YUV422P},
                          {bmdFormat8BitBGRA, "c-7.png", AV_PIX_FMT_RGBA}};
    for (const Case& c : cases) {
        Picture p = Pal(c.format, 64);
        // One recognisable pixel pair at (2, 1): 2vuy U=0x11 Y=0x22 V=0x33; BGRA B=1 G=2 R=3 A=4.
        std::uint8_t* px = &p.bytes[static_cast<std::size_t>(p.row_bytes) + 8];
        if (c.format == bmdFormat8BitYUV)
            px[0] = 0x11, px[1] = 0x22, px[2] = 0x33;
        else
            px[0] = 1, px[1] = 2, px[2] = 3, px[3] = 4;
        VideoRecorder rec;
        rec.Start(dir / "c", pal);
        EXPECT_TRUE(rec.WritePeriod(p, true, 7, nullptr));
        EXPECT_TRUE(rec.WritePeriod(p, false, 8, nullptr));
        rec.Close();
        Probe probe;
        ReadWithLibav(dir / c.file, &probe);
        const AVFrame* f = probe.first;
        const AVCodecParameters& par = probe.par;
        ASSERT_NE(f, nullptr) << c.file;
        EXPECT_EQ(f->width, 720);
        EXPECT_EQ(f->height, 576);
        EXPECT_EQ(f->format, c.expected);
        if (c.format == bmdFormat8BitYUV) {
            EXPECT_EQ(f->data[0][f->linesize[0] + 4], 0x22);
            EXPECT_EQ(f->data[1][f->linesize[1] + 2], 0x11);
            EXPECT_EQ(f->data[2][f->linesize[2] + 2], 0x33);
            EXPECT_EQ(par.sample_aspect_ratio.num * 11, 12 * par.sample_aspect_ratio.den);
        } else {
            const std::uint8_t* rgba = f->data[0] + f->linesize[0] + 8;
            EXPECT_EQ(rgba[0], 3);
            EXPECT_EQ(rgba[1], 2);
            EXPECT_EQ(rgba[2], 1);
            EXPECT_EQ(rgba[3], 4);
        }
    }
    EXPECT_FALSE(fs::exists(dir / "c-8.png"));  // a repeat writes no new still

    // A repeat writes the picture before it again, also after a new one (10-bit: the planes
    // of the last picture are kept rather than unpacked again).
    Picture p = Pal(bmdFormat10BitYUV);
    VideoRecorder rec;
    rec.Start(dir / "r", pal);
    for (int period = 0; period < 4; ++period) {
        if (period == 2) p.bytes[static_cast<std::size_t>(p.row_bytes) * 100 + 5] = 0x7;
        EXPECT_TRUE(rec.WritePeriod(p, period % 2 == 0, period, nullptr));
    }
    rec.Close();
    std::ifstream in(dir / "r.y4m", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t frame = 6 + std::size_t{720 + 720} * 576 * 2;  // "FRAME\n" and 3 planes
    const std::size_t header = text.find('\n') + 1;
    ASSERT_EQ(text.size(), header + 4 * frame);
    const auto picture = [&](int k) { return text.substr(header + k * frame, frame); };
    EXPECT_EQ(picture(1), picture(0));
    EXPECT_EQ(picture(3), picture(2));
    EXPECT_NE(picture(2), picture(0));
}

// The writer runs jobs in order and refuses what would pass its bound; a recording leaves out
// what its writer refused, says so in the period's line, and keeps the WAV on the card's
// timeline (silence where samples were left out, and across gaps).
TEST(SimRecording, WhatTheWriterCannotTakeIsLeftOutAndSaid) {
    orvex::sim::RecordWriter writer(100);
    std::promise<void> gate;
    std::shared_future<void> open = gate.get_future().share();
    std::vector<int> order;
    ASSERT_TRUE(writer.Submit(0, [open] { open.wait(); }));
    EXPECT_TRUE(writer.Submit(60, [&] { order.push_back(1); }));
    EXPECT_FALSE(writer.Submit(60, [&] { order.push_back(2); }));  // 120 bytes would wait
    EXPECT_TRUE(writer.Submit(0, [&] { order.push_back(3); }));
    gate.set_value();
    writer.Drain();
    EXPECT_EQ(order, (std::vector<int>{1, 3}));
    EXPECT_EQ(writer.Refused(), 1u);

    Folder dir;
    {
        Recording rec(dir / "d", *FindMode(bmdModePAL), 1000, /*bound_bytes=*/0);
        rec.AudioFormat(16, 2);
        auto picture = std::make_shared<Picture>(Pal(bmdFormat8BitYUV));
        EXPECT_FALSE(rec.Picture(picture, nullptr, true, 5));
        rec.Line("{\"period\":5", false);
        const std::vector<std::uint8_t> samples(480 * 4, 1);
        rec.Audio(990, samples.data(), 480);   // ten before the origin are not recorded
        rec.Audio(1490, samples.data(), 480);  // twenty of silence before these
        EXPECT_GT(rec.Dropped(), 0u);
    }
    std::ifstream log(dir / "d.jsonl");
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    EXPECT_EQ(line, "{\"period\":5,\"recorded\":false,\"dropped\":true}");
    EXPECT_EQ(fs::file_size(dir / "d.wav"), 44u + (470u + 20u + 480u) * 4u);
}

TEST(SimRecorder, WavHeaderIsValidWhileWritingAndAfterClose) {
    Folder dir;
    struct Case {
        int bits, channels;
        AVCodecID codec;
        std::uintmax_t header;
    };
    const Case cases[] = {{16, 2, AV_CODEC_ID_PCM_S16LE, 44}, {32, 16, AV_CODEC_ID_PCM_S32LE, 68}};
    for (const Case& c : cases) {
        const std::string path = dir / (c.bits == 16 ? "a16.wav" : "a32.wav");
        AudioRecorder rec;
        ASSERT_TRUE(rec.Open(path, c.bits, c.channels));
        std::vector<std::uint8_t> data(static_cast<std::size_t>(c.bits / 8 * c.channels) * 480,
                                       0x5A);
        rec.Write(data.data(), 480);
        rec.Write(nullptr, 480);
        // Still open: the sizes already describe what was written.
        Probe p;
        ReadWithLibav(path, &p);
        EXPECT_EQ(p.par.codec_id, c.codec);
        EXPECT_EQ(p.par.ch_layout.nb_channels, c.channels);
        EXPECT_EQ(p.bytes / (c.bits / 8 * c.channels), 960);
        rec.Close();
        EXPECT_EQ(fs::file_size(path), c.header + data.size() * 2);
    }
}

}  // namespace
