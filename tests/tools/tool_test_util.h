// Helpers of the tool tests: running a tool as a person does, and files to feed it.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_registry.h"

namespace orvex::test {

inline std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct RunResult {
    int code = -1;
    std::string out, err;
};

// Runs `program args` through the shell, with its output kept in the temporary folder.
inline RunResult RunTool(const std::string& program, const std::string& args) {
    const std::filesystem::path tmp = g_temp_registry->dir();
    const std::string cmd =
        program + " " + args + " >" + (tmp / "out").string() + " 2>" + (tmp / "err").string();
    const int status = std::system(cmd.c_str());
    RunResult r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = Slurp(tmp / "out");
    r.err = Slurp(tmp / "err");
    return r;
}

// The last line of a tool that refused its input: exit code 2 and one line naming why.
inline void ExpectRefused(const RunResult& r, const std::string& tool, const std::string& what,
                          const std::string& reason) {
    EXPECT_EQ(r.code, 2) << what << "\n" << r.err;
    EXPECT_TRUE(r.err.starts_with(tool + ": ")) << what << ": " << r.err;
    EXPECT_NE(r.err.find(reason), std::string::npos) << what << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

// `n` bytes of `v`, little endian.
inline std::string Le(std::uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

// A WAV file with an odd-sized LIST chunk (padded) before the data; `data_len` overrides the
// data chunk's size.
inline std::string Wav(int tag, int channels, int rate, int bits, const std::string& data,
                       std::uint32_t data_len = 0) {
    const std::string fmt = Le(tag, 2) + Le(channels, 2) + Le(rate, 4) +
                            Le(rate * channels * bits / 8, 4) + Le(channels * bits / 8, 2) +
                            Le(bits, 2);
    const std::string body =
        "WAVEfmt " + Le(16, 4) + fmt + "LIST" + Le(3, 4) + "abc" + std::string(1, '\0') + "data" +
        Le(data_len ? data_len : static_cast<std::uint32_t>(data.size()), 4) + data;
    return "RIFF" + Le(static_cast<std::uint32_t>(body.size()), 4) + body;
}

// ffmpeg's input of `channels` sound channels in `layout`, each at a level of its own: 0.1,
// 0.2... of full scale in the file's order.
inline std::string Levels(const std::string& layout, int channels, int rate, double seconds) {
    std::string v;
    for (int c = 0; c < channels; ++c) {
        if (c) v += '|';
        v += std::to_string(0.1 * (c + 1));
    }
    return " -f lavfi -i \"aevalsrc=" + v + ":c=" + layout + ":s=" + std::to_string(rate) +
           ":d=" + std::to_string(seconds) + "\"";
}

}  // namespace orvex::test
