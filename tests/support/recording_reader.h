// Reads back what a virtual card put on air: the log's lines (one per period or interrupt) and
// the WAV, and checks that every frame's audio started exactly on its first period.
//
// The frames of these tests carry a marker in the first sample of channel 0 of their audio
// (frame n: (n + 1) << 16, every other sample 0), so the WAV shows where each frame's audio
// began; the log gives each period's first sample in the WAV ("audio_pos").
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace orvex::test {

struct PeriodLine {
    bool is_new = false;
    std::int64_t audio_pos = -1, audio_silence = 0;
    std::string text;
};

// The value of `key` in a log line ("" when absent; strings without their quotes).
inline std::string Field(const std::string& line, const std::string& key) {
    const auto at = line.find("\"" + key + "\":");
    if (at == std::string::npos) return {};
    std::string v = line.substr(at + key.size() + 3);
    if (!v.empty() && v[0] == '"') return v.substr(1, v.find('"', 1) - 1);
    return v.substr(0, v.find_first_of(",}"));
}

inline std::vector<PeriodLine> ReadLog(const std::filesystem::path& file) {
    std::vector<PeriodLine> out;
    std::ifstream in(file);
    for (std::string s; std::getline(in, s);) {
        PeriodLine l;
        l.is_new = Field(s, "frame") == "new";
        if (const std::string p = Field(s, "audio_pos"); !p.empty()) l.audio_pos = std::stoll(p);
        if (const std::string q = Field(s, "audio_silence"); !q.empty())
            l.audio_silence = std::stoll(q);
        l.text = std::move(s);
        out.push_back(std::move(l));
    }
    return out;
}

// Channel 0 of a 16- or 32-bit PCM WAV, each sample widened to 32 bits.
inline std::vector<std::int32_t> ReadWavChannel0(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u16 = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) |
               static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8;
    };
    std::vector<std::int32_t> out;
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0) {
        ADD_FAILURE() << file << " is not a WAV file";
        return out;
    }
    const unsigned channels = u16(22), bits = u16(34);
    const std::size_t data = bytes.find("data", 36);
    if (data == std::string::npos || (bits != 16 && bits != 32) || channels == 0) {
        ADD_FAILURE() << file << ": unexpected layout";
        return out;
    }
    const std::size_t frame = channels * bits / 8;
    for (std::size_t at = data + 8; at + frame <= bytes.size(); at += frame) {
        std::int32_t v = 0;
        if (bits == 32)
            std::memcpy(&v, bytes.data() + at, 4);
        else
            v = static_cast<std::int32_t>(static_cast<std::int16_t>(u16(at))) * 65536;
        out.push_back(v);
    }
    return out;
}

// The marked samples nearest to `at`, for messages.
inline std::string Nearest(const std::vector<std::int32_t>& wav, std::int64_t at) {
    std::string out;
    const std::int64_t from = std::max<std::int64_t>(0, at - 4000);
    const std::int64_t to =
        std::min<std::int64_t>(static_cast<std::int64_t>(wav.size()), at + 4000);
    for (std::int64_t i = from; i < to; ++i)
        if (wav[static_cast<std::size_t>(i)] != 0) {
            out += ' ';
            out += std::to_string(wav[static_cast<std::size_t>(i)] / 65536 - 1);
            out += '@';
            out += std::to_string(i);
        }
    return out;
}

inline std::int32_t Marker(int frame) {
    return (frame + 1) * 65536;
}

// Checks the recording `base` (path without extension): each new period's first sample is the
// marker of its frame, and no marker sits anywhere else. With `every_frame`, the frames appear
// in order from `first_frame` on, none missing; the frames in `may_lose` (a disturbance hit
// them) may have lost their first samples or played them off their periods, never anyone else.
// With `slack`, a marker may sit that many samples off its place. Returns the frames seen.
inline int ExpectAudioOnItsPeriods(const std::string& base, int first_frame, bool every_frame,
                                   const std::set<int>& may_lose = {}, int slack = 0) {
    const std::vector<PeriodLine> log = ReadLog(base + ".jsonl");
    const std::vector<std::int32_t> wav = ReadWavChannel0(base + ".wav");
    EXPECT_FALSE(log.empty()) << base;
    std::vector<std::int64_t> starts;  // where the markers should be
    int expected = first_frame, seen = 0;
    for (const PeriodLine& l : log) {
        if (!l.is_new) continue;
        if (l.audio_pos < 0 || l.audio_pos >= static_cast<std::int64_t>(wav.size()))
            break;  // the last period's audio had not played when the output ended
        std::int64_t at = l.audio_pos;
        for (std::int64_t d = -slack; d <= slack; ++d)
            if (at + d >= 0 && at + d < static_cast<std::int64_t>(wav.size()) &&
                wav[static_cast<std::size_t>(at + d)] != 0)
                at += d;
        const std::int32_t v = wav[static_cast<std::size_t>(at)];
        if (v == 0 && every_frame && may_lose.count(expected)) {
            ++expected, ++seen;
            continue;
        }
        const int frame = v / 65536 - 1;
        EXPECT_TRUE(v % 65536 == 0 && frame >= 0)
            << "no frame's first sample at " << l.audio_pos << ": " << l.text
            << "; nearest: " << Nearest(wav, at);
        if (every_frame) {
            EXPECT_EQ(frame, expected) << l.text;
        }
        EXPECT_GE(frame, expected) << "frames out of order: " << l.text;
        expected = frame + 1;
        starts.push_back(at);
        ++seen;
    }
    std::size_t next = 0;
    for (std::size_t i = 0; i < wav.size(); ++i) {
        if (wav[i] == 0) continue;
        if (may_lose.count(wav[i] / 65536 - 1) &&
            (next >= starts.size() || starts[next] != static_cast<std::int64_t>(i)))
            continue;
        const bool expected_here =
            next < starts.size() && starts[next] == static_cast<std::int64_t>(i);
        EXPECT_TRUE(expected_here) << "a frame's first sample off its period, at " << i;
        if (!expected_here) break;
        ++next;
    }
    return seen;
}

}  // namespace orvex::test
