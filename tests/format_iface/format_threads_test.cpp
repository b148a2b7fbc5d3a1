// The pipeline computes output formats for each frame while host threads change settings.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "format_test_objects.h"
#include "formats/video_formats.h"

using namespace orvex::formats;

TEST(FormatThreads, OutputComputeSeesWholeSettingsWhileHostsSetFormats) {
    auto obj = MakeObject<CFormatOnly>();
    std::atomic<int> hostsRunning{2};
    std::atomic<bool> torn{false};
    const auto host = [&](bool video) {
        for (int i = 0; i < 300; ++i) {
            M_VID_PROPS vid{};
            vid.eVideoFormat = i % 2 ? eMVF_HD720_50p : eMVF_HD1080_25p;
            M_AUD_PROPS aud{i % 2 ? 8 : 2, 48000, 24, 0};
            int count = 0;
            if (video) {
                obj->FormatVideoSet(eMFT_Convert, &vid);
                obj->FormatVideoGet(eMFT_Output, &vid, &count, nullptr);
            } else {
                obj->FormatAudioSet(eMFT_Convert, &aud);
                obj->FormatVideoGetCount(eMFT_Convert, &count);
                torn = torn || count != 88;
            }
        }
        --hostsRunning;
    };
    std::thread videoHost(host, true);
    std::thread audioHost(host, false);

    // PAL frames with stereo audio; every output is one whole Convert setting or the input.
    for (int frames = 0; hostsRunning.load() > 0 || frames < 10; ++frames) {
        M_AV_PROPS frame{};
        frame.vidProps = VideoFormatDefaults(eMVF_PAL, eMFCC_Default);
        frame.audProps = {2, 48000, 16, 2};
        M_AV_PROPS out{};
        const int flags = obj->FormatOutputCompute(&frame, &out);
        const M_VID_PROPS& v = out.vidProps;
        const bool converted =
            (v.nWidth == 1280 && v.nHeight == 720) || (v.nWidth == 1920 && v.nHeight == 1080);
        if (!(converted || v.nHeight == 576) || converted != ((flags & kConvertVideo) != 0))
            torn = true;
        const M_AUD_PROPS& a = out.audProps;
        if (!((a.nChannels == 2 && a.nTrackSplitBits == 2) ||
              (a.nChannels == 8 && a.nTrackSplitBits == 128)))
            torn = true;
    }
    videoHost.join();
    audioHost.join();
    EXPECT_FALSE(torn.load());
}
