// 720p59.94 with 16 channels of audio on the virtual clock, 100,000 frames by default
// (ORVEX_SOAK_FRAMES overrides): a new frame every period, exactly the audio given, no growth.
#include <gtest/gtest.h>

#include <cstdlib>

#include "output_fixture.h"
#include "platform/process.h"

#ifndef ORVEX_SOAK_DEFAULT_FRAMES
#define ORVEX_SOAK_DEFAULT_FRAMES 100000
#endif

namespace {

using namespace orvex::test;

long long SoakFrames() {
    if (const char* env = std::getenv("ORVEX_SOAK_FRAMES")) {
        const long long n = std::atoll(env);
        if (n > 0) return n;
    }
    return ORVEX_SOAK_DEFAULT_FRAMES;
}

// Sample frames of audio for frame n at 59.94 fps: 800.8 on average, carried exactly.
int SamplesOf(long long n) {
    return static_cast<int>((n + 1) * 48000 * 1001 / 60000 - n * 48000 * 1001 / 60000);
}

TEST_F(DeckLinkOutputTest, SoakOfManyFramesAt5994WithAudio) {
    const long long frames = SoakFrames();
    Open();
    // Two sets of frames, reused round-robin, for the two audio lengths of the cadence.
    std::vector<CComPtr<IOXFrame>> of800, of801;
    for (int i = 0; i < 4; ++i) {
        of800.push_back(Frame(kHD720p5994, eMFCC_UYVY, 800, 16, 16));
        of801.push_back(Frame(kHD720p5994, eMFCC_UYVY, 801, 16, 16));
    }
    long long samples = 0;
    std::size_t heap_at_warm = 0;
    for (long long n = 0; n < frames; ++n) {
        const int s = SamplesOf(n);
        samples += s;
        auto& set = s == 800 ? of800 : of801;
        ASSERT_EQ(Put(set[static_cast<std::size_t>(n % 4)]), S_OK) << n;
        if (n == frames / 10) heap_at_warm = orvex::platform::HeapBytesInUse();
    }
    const std::size_t heap_at_end = orvex::platform::HeapBytesInUse();
    const OxSimCardStats s = Stats();
    // Every period from the first frame on showed a new frame (the last one is pending).
    EXPECT_EQ(s.new_frames, frames - 1);
    EXPECT_EQ(s.repeats, 0);
    EXPECT_EQ(s.replaced, 0);
    EXPECT_EQ(Stat(u"bmd.missed"), 0);
    EXPECT_EQ(Stat(u"bmd.error"), 0);
    EXPECT_EQ(Stat(u"bmd.audio_dropped"), 0);
    // All the audio given went to the card but what waits for the next write.
    const long long written = Clock()->AudioSamplesWritten();
    EXPECT_LE(samples - written, 256);
    EXPECT_GE(samples - written, 0);
    EXPECT_EQ(s.audio_silence, 0);
    // 48 kHz over the run: the card played what the periods took, within one frame's audio.
    const double seconds = static_cast<double>(frames) * 1001.0 / 60000.0;
    EXPECT_NEAR(static_cast<double>(samples), seconds * 48000.0, 1.0);
    EXPECT_NEAR(static_cast<double>(s.audio_played), static_cast<double>(written), 1602);
#if !defined(ORVEX_SOAK_SANITIZED)
    // Steady state keeps its memory (a little slack for the allocator's own bookkeeping).
    EXPECT_LE(heap_at_end, heap_at_warm + (1u << 20));
#else
    (void)heap_at_warm;
    (void)heap_at_end;
#endif
}

}  // namespace
