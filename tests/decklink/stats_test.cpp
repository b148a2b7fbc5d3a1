// The card's buffer levels, the frame clock's times, the reference text and the quality
// figures of completed frames, from driver threads.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "captions_fakes.h"
#include "decklink/stats.h"
#include "props/xml_node.h"

namespace {

using namespace orvex::decklink;
using orvex::test::FakeDeckFrame;
using orvex::test::FakeOutput;

std::u16string Get(IMNode* root, const char16_t* name) {
    CComBSTR value;
    if (root->AttributesGet(CComBSTR(name), &value) != S_OK) return u"<none>";
    return std::u16string(value.View());
}
int GetInt(IMNode* root, const char16_t* name) {
    int v = -999;
    root->AttributesGetInt(CComBSTR(name), &v);
    return v;
}
double GetDouble(IMNode* root, const char16_t* name) {
    double v = -999;
    root->AttributesGetDouble(CComBSTR(name), &v);
    return v;
}

TEST(HardwareStats, FiguresComeFromOneReadingOfEachCall) {
    FakeOutput out;
    out.video_frames = 3;
    out.audio_samples = 4800;
    out.ticks_per_frame = 400000;  // 25 fps
    out.time_in_frame = 100000;
    out.hardware_time = 123456789;
    out.stream_time = 5000000;
    DeckLinkBufferStats s;
    EXPECT_EQ(ReadHardwareStats(&out, &s), S_OK);
    EXPECT_EQ(s.videoFrames, 3u);
    EXPECT_EQ(s.audioSamples, 4800u);
    EXPECT_EQ(s.videoTime, 3 * 400000 - 100000);
    EXPECT_EQ(s.audioTime, 1000000);
    EXPECT_EQ(s.hardwareTime, 123456789);
    EXPECT_EQ(s.streamTime, 5000000);

    out.audio_samples = 0xFFFFFFFFu;  // 64-bit arithmetic
    EXPECT_EQ(ReadHardwareStats(&out, &s), S_OK);
    EXPECT_EQ(s.audioTime, 0xFFFFFFFFll * 10'000'000 / 48'000);

    out.fail_video_count = E_FAIL;
    EXPECT_EQ(ReadHardwareStats(&out, &s), E_FAIL);
    EXPECT_EQ(s.audioSamples, 0u);
    EXPECT_EQ(s.hardwareTime, 0);
    EXPECT_EQ(ReadHardwareStats(nullptr, &s), E_POINTER);
    EXPECT_EQ(ReadHardwareStats(&out, nullptr), E_POINTER);
}

TEST(QualityFigures, EachResultCountsInItsOwnFigure) {
    XMLParse::XMLNodePtr root = XMLParse::CoXMLNode::Create(u"m-props");
    DeckLinkBufferStats s;
    s.videoFrames = 2;
    s.audioSamples = 960;
    s.videoTime = 600000;
    s.audioTime = 200000;
    for (BMDOutputFrameCompletionResult r : {0u, 1u, 1u, 2u, 3u, 3u, 3u, 7u})
        AddQualityFigures(root, r, s);
    EXPECT_EQ(GetInt(root, u"quality::frames"), 8);
    EXPECT_EQ(GetInt(root, u"quality::late_frames"), 2);
    EXPECT_EQ(GetInt(root, u"quality::drop_frames"), 1);
    EXPECT_EQ(GetInt(root, u"quality::flush_frames"), 3);
    EXPECT_DOUBLE_EQ(GetDouble(root, u"quality::av_late"), -0.04);
    EXPECT_DOUBLE_EQ(GetDouble(root, u"quality::v_time"), 0.06);
    EXPECT_DOUBLE_EQ(GetDouble(root, u"quality::a_time"), 0.02);

    XMLParse::XMLNodePtr fresh = XMLParse::CoXMLNode::Create(u"m-props");
    AddQualityFigures(fresh, bmdOutputFrameCompleted, s);
    EXPECT_EQ(Get(fresh, u"quality::late_frames"), u"<none>");
    EXPECT_EQ(GetInt(fresh, u"quality::frames"), 1);
}

TEST(OutputCallback, CompletionsFromDriverThreadsAreAllCounted) {
    XMLParse::XMLNodePtr root = XMLParse::CoXMLNode::Create(u"m-props");
    CComObject<DeckLinkOutputCallback>* raw = nullptr;
    ASSERT_EQ(CComObject<DeckLinkOutputCallback>::CreateInstance(&raw), S_OK);
    CComPtr<IDeckLinkVideoOutputCallback> callback(raw);
    FakeOutput out;
    out.video_frames = 1;
    FakeDeckFrame frame(16, 2, bmdFormat8BitYUV, 32);

    // Before an output is set nothing is counted.
    EXPECT_EQ(callback->ScheduledFrameCompleted(&frame, bmdOutputFrameDropped), S_OK);
    EXPECT_EQ(Get(root, u"quality::frames"), u"<none>");

    raw->SetOutput(&out, root);
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                callback->ScheduledFrameCompleted(&frame, t == 0 ? bmdOutputFrameDisplayedLate : 0);
                CComPtr<IDeckLinkAudioOutputCallback> audio;
                callback.QueryInterface(&audio);
                audio->RenderAudioSamples(FALSE);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(GetInt(root, u"quality::frames"), kThreads * kEach);
    EXPECT_EQ(GetInt(root, u"quality::late_frames"), kEach);
    EXPECT_EQ(GetInt(root, u"quality::v_buffers"), 1);
    EXPECT_EQ(callback->ScheduledPlaybackHasStopped(), S_OK);

    raw->SetOutput(nullptr, nullptr);
    EXPECT_EQ(callback->ScheduledFrameCompleted(&frame, 0), S_OK);
    EXPECT_EQ(GetInt(root, u"quality::frames"), kThreads * kEach);
}

}  // namespace
