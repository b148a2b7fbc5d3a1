// The pipeline computes output formats for each frame while host threads change settings.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "format_test_objects.h"
#include "formats/video_formats.h"

using namespace orvex::formats;

TEST(FormatThreads, OutputComputeSeesWholeSettingsWhileHostsSetFormats) {
    auto obj = MakeObject<CFormatOnly>();
    IOXFormat* fmt = obj;
    constexpr int kHostRounds = 300;
    std::atomic<int> hostsRunning{2};
    std::atomic<bool> torn{false};

    // Host 1 switches the Convert video between two whole formats.
    std::thread videoHost([&] {
        for (int i = 0; i < kHostRounds; ++i) {
            M_VID_PROPS vid{};
            vid.eVideoFormat = i % 2 ? eMVF_HD720_50p : eMVF_HD1080_25p;
            fmt->FormatVideoSet(eMFT_Convert, &vid);
            M_VID_PROPS got{};
            BSTR name = nullptr;
            fmt->FormatVideoGet(eMFT_Output, &got, nullptr, &name);
            SysFreeString(name);
        }
        --hostsRunning;
    });
    // Host 2 changes audio and rebuilds lists.
    std::thread audioHost([&] {
        for (int i = 0; i < kHostRounds; ++i) {
            M_AUD_PROPS aud{i % 2 ? 8 : 2, 48000, 24, 0};
            fmt->FormatAudioSet(eMFT_Convert, &aud);
            int count = 0;
            fmt->FormatVideoGetCount(eMFT_Convert, &count);
            if (count != 88) torn = true;
            M_AUD_PROPS entry{};
            fmt->FormatAudioGetByIndex(eMFT_Convert, i % 191, &entry, nullptr);
        }
        --hostsRunning;
    });

    // The pipeline: PAL frames with stereo audio, one output format per frame.
    int frames = 0;
    while (hostsRunning.load() > 0 || frames < 10) {
        M_AV_PROPS frame{};
        frame.vidProps = VideoFormatDefaults(eMVF_PAL, eMFCC_Default);
        frame.audProps = {2, 48000, 16, 2};
        M_AV_PROPS out{};
        const int flags = obj->FormatOutputCompute(&frame, &out);
        const bool is720 = out.vidProps.nWidth == 1280 && out.vidProps.nHeight == 720;
        const bool is1080 = out.vidProps.nWidth == 1920 && out.vidProps.nHeight == 1080;
        const bool isPal = out.vidProps.nWidth == 720 && out.vidProps.nHeight == 576;
        if (!(is720 || is1080 || isPal) || ((is720 || is1080) && !(flags & kConvertVideo)))
            torn = true;
        const int ch = out.audProps.nChannels;
        const int split = out.audProps.nTrackSplitBits;
        if (!((ch == 2 && split == 2) || (ch == 8 && split == 128))) torn = true;
        ++frames;
    }
    videoHost.join();
    audioHost.join();
    EXPECT_FALSE(torn.load());
    EXPECT_GE(frames, 10);
}
