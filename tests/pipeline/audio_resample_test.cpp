#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <tuple>

#include "audio_test_util.h"

namespace orvex::pipeline {
namespace {

using testing::MakeBuffer;
using testing::Pack;
using testing::Props;
using testing::UnpackAll;

// Feeds two seconds of a half-scale mono sine at 44.1 kHz, in blocks of one 50 fps frame,
// into a 48 kHz buffer; returns everything it produced (full scale 1).
std::vector<double> ResampleSine(int bits, double frequency) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS out = Props(1, 48000, bits), in = Props(1, 44100, bits);
    EXPECT_EQ(buf->SetFormat(&out), 0);
    const int bytes = bits / 8;
    const double scale = bits == 16 ? 32767.0 : 2147483647.0;
    std::vector<double> produced;
    long long t = 0;
    for (int b = 0; b < 100; ++b) {
        std::vector<std::int32_t> block(882);
        for (auto& v : block) {
            const double x = 0.5 * std::sin(2 * std::numbers::pi * frequency * t++ / 44100);
            v = static_cast<std::int32_t>(std::lround(x * scale));
        }
        const auto data = Pack(block, bytes);
        EXPECT_GE(buf->Append(&in, data.data(), static_cast<int>(data.size()), false, false), 0);
        BYTE* p = nullptr;
        const int n = buf->Read(nullptr, &p, -1, 0, -1, false);
        for (auto v : UnpackAll(p, static_cast<std::size_t>(n), bytes))
            produced.push_back(v / scale);
        buf->Consume(n, nullptr);
    }
    return produced;
}

// Largest deviation from the best-fitting sine of the given frequency (least squares over
// sin and cos, so the converter's delay does not matter).
double SineError(const std::vector<double>& x, std::size_t from, std::size_t to, double frequency,
                 int rate) {
    double ss = 0, cc = 0, sc = 0, xs = 0, xc = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double w = 2 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
        const double s = std::sin(w), c = std::cos(w);
        ss += s * s, cc += c * c, sc += s * c, xs += x[i] * s, xc += x[i] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
    double worst = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double w = 2 * std::numbers::pi * frequency * static_cast<double>(i) / rate;
        worst = std::max(worst, std::fabs(x[i] - (a * std::sin(w) + b * std::cos(w))));
    }
    return worst;
}

TEST(AudioResample, SineStaysCloseToTheIdealSine) {
    // 32-bit: 1 kHz and 15 kHz at half scale; the worst error stays below -120 dB of full
    // scale (about 3e-7 is reached).
    for (double f : {1000.0, 15000.0}) {
        const auto y = ResampleSine(32, f);
        ASSERT_GT(y.size(), 90000u);
        EXPECT_LT(SineError(y, 4096, y.size() - 1, f, 48000), 1e-6) << f;
    }
    // 16-bit: input and output rounding (half a step each) plus a little (1.17 reached).
    const auto y = ResampleSine(16, 1000.0);
    EXPECT_LT(SineError(y, 4096, y.size() - 1, 1000.0, 48000) * 32767.0, 1.5);
}

TEST(AudioResample, LengthFollowsTheRateRatioWithoutDrift) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS out = Props(2, 48000, 16), in = Props(2, 44100, 16);
    ASSERT_EQ(buf->SetFormat(&out), 0);
    long long fed = 0, taken = 0, held = 0;
    int remaining = 0;
    // 20 minutes of 44.1 kHz audio in blocks of one 25 fps frame (1764 samples), read one
    // 48 kHz frame (1920 samples) at a time.
    for (int frame = 0; frame < 30000; ++frame) {
        ASSERT_GE(buf->Append(&in, nullptr, 1764 * 4, false, true), 0);
        fed += 1764;
        taken += buf->Consume(1920, &remaining);
        held = std::max(held, fed * 48000 / 44100 - taken - remaining);
    }
    // What the converter holds back between calls stays small...
    EXPECT_LE(held, 512);
    // ...and once drained, not one sample was lost or invented over the whole run: by a block
    // at the buffer's own rate, or by the end of the stream.
    auto twin = MakeBuffer();
    ASSERT_EQ(twin->SetFormat(&out), 0);
    for (int frame = 0; frame < 3; ++frame) twin->Append(&in, nullptr, 1764 * 4, false, true);
    const int stored = buf->Append(&out, nullptr, 1920 * 4, false, true);
    EXPECT_NEAR(taken + stored - 1920, fed * 48000 / 44100, 1);
    EXPECT_LT(twin->Available(), 3 * 1920);  // the converter's tail is still held back
    EXPECT_NEAR(twin->EndOfStream(), 3 * 1920, 1);
    EXPECT_EQ(twin->EndOfStream(), twin->Available());  // nothing more to drain
}

TEST(AudioResample, ConverterTailSurvivesRateAndFormatChanges) {
    auto buf = MakeBuffer();
    const M_AUD_PROPS in = Props(1, 44100, 32), out = Props(1, 48000, 32);
    // Stored audio is resampled as a whole when the buffer's rate changes.
    ASSERT_EQ(buf->Append(&in, nullptr, 44100 * 4, true, false), 44100);
    ASSERT_EQ(buf->SetFormat(&out), 48000);
    // A 48 kHz block first drains what the converter holds: 48000 + 10 x 4800 + 4800.
    for (int i = 0; i < 10; ++i) buf->Append(&in, nullptr, 4410 * 4, false, false);
    EXPECT_NEAR(buf->Append(&out, nullptr, 4800 * 4, false, false), 100800, 1);
    // So does a format change.
    for (int i = 0; i < 10; ++i) buf->Append(&in, nullptr, 4410 * 4, false, false);
    const M_AUD_PROPS wider = Props(2, 48000, 32);
    EXPECT_NEAR(buf->SetFormat(&wider), 148800, 1);
}

// A converter that cannot run says so by name, not with a count of samples.
TEST(AudioResample, ConvertersThatCannotRunReportFailure) {
    BYTE in[64] = {}, out[64] = {};
    for (const auto& [inRate, outRate, sampleBytes] :
         {std::tuple{0, 48000, 2}, std::tuple{48000, -1, 2}, std::tuple{48000, 44100, 3}})
        EXPECT_EQ(AudioResampler::Once(inRate, outRate, sampleBytes, in, 8, out, 8),
                  AudioResampler::kFailed);
    AudioResampler unconfigured;
    const BYTE* inputs[1] = {in};
    BYTE* outputs[1] = {out};
    std::size_t consumed = 1;
    EXPECT_EQ(unconfigured.Process(inputs, 8, outputs, 8, &consumed), AudioResampler::kFailed);
    EXPECT_EQ(consumed, 0u);
}

}  // namespace
}  // namespace orvex::pipeline
