// Ancillary packets in v210 lines, and recordings read back with FFmpeg's demuxer and decoder.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace orvex::test {

// A v210 line with 10-bit samples placed in order (every sample, or luma only).
inline std::vector<std::uint8_t> V210Line(const std::vector<std::uint16_t>& packet, bool luma_only,
                                          int width, std::size_t at = 0) {
    const std::size_t samples = static_cast<std::size_t>(width) * 2;
    std::vector<std::uint16_t> s(samples, 0x200);
    for (std::size_t i = 0; i < samples; i += 2) s[i + 1] = 0x040;
    for (std::size_t i = 0; i < packet.size(); ++i)
        s[luma_only ? 2 * (at + i) + 1 : at + i] = packet[i];
    std::vector<std::uint8_t> line(static_cast<std::size_t>((width + 47) / 48 * 128), 0);
    for (std::size_t i = 0; i < samples; ++i) {
        const std::size_t word = i / 3, shift = 10 * (i % 3);
        std::uint32_t v;
        std::memcpy(&v, &line[4 * word], 4);
        v |= static_cast<std::uint32_t>(s[i]) << shift;
        std::memcpy(&line[4 * word], &v, 4);
    }
    return line;
}

// An ancillary packet's words (the data without parity bits), its checksum right or not.
inline std::vector<std::uint16_t> Packet(std::uint8_t did, std::uint8_t sdid,
                                         std::vector<std::uint8_t> data,
                                         bool good_checksum = true) {
    std::vector<std::uint16_t> p = {0x000, 0x3FF, 0x3FF,
                                    did,   sdid,  static_cast<std::uint16_t>(data.size())};
    for (auto d : data) p.push_back(d);
    std::uint32_t sum = 0;
    for (std::size_t i = 3; i < p.size(); ++i) sum += p[i] & 0x1FF;
    p.push_back(static_cast<std::uint16_t>((sum + (good_checksum ? 0 : 1)) & 0x1FF));
    return p;
}

// A recording's first stream as the demuxer sees it, what its packets hold, and its first
// picture decoded (freed with the probe).
struct Probe {
    int packets = 0;
    std::int64_t bytes = 0;
    AVCodecParameters par{};
    AVRational rate{0, 1};
    AVFrame* first = nullptr;
    Probe() = default;
    Probe(const Probe&) = delete;
    ~Probe() { av_frame_free(&first); }
};

inline void ReadWithLibav(const std::string& path, Probe* p) {
    AVFormatContext* ctx = nullptr;
    EXPECT_EQ(avformat_open_input(&ctx, path.c_str(), nullptr, nullptr), 0) << path;
    if (!ctx) return;
    EXPECT_GE(avformat_find_stream_info(ctx, nullptr), 0);
    p->par = *ctx->streams[0]->codecpar;
    p->par.sample_aspect_ratio = ctx->streams[0]->sample_aspect_ratio;  // where the demuxer puts it
    p->rate = ctx->streams[0]->avg_frame_rate;
    const AVCodec* codec = avcodec_find_decoder(p->par.codec_id);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, ctx->streams[0]->codecpar);
    avcodec_open2(dec, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        ++p->packets;
        p->bytes += pkt->size;
        if (!p->first && avcodec_send_packet(dec, pkt) >= 0 &&
            avcodec_receive_frame(dec, frame) >= 0)
            std::swap(p->first, frame);
        av_packet_unref(pkt);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&ctx);
}

}  // namespace orvex::test
