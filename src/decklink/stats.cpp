#include "decklink/stats.h"

#include <algorithm>
#include <utility>

namespace orvex::decklink {
namespace {

constexpr std::int64_t kTimeScale = 10'000'000;
constexpr std::int64_t kAudioRate = 48'000;

int GetInt(IMNode* root, const char16_t* name) {
    int value = 0;
    root->AttributesGetInt(CComBSTR(name), &value);
    return value;
}

void SetInt(IMNode* root, const char16_t* name, int value) {
    root->AttributesSetInt(CComBSTR(name), value);
}

void Add(IMNode* root, const char16_t* name, int count) {
    // Created on first use, even when nothing is added, so a host always finds the figure.
    const std::int64_t sum = static_cast<std::int64_t>(GetInt(root, name)) + count;
    SetInt(root, name, static_cast<int>(std::clamp<std::int64_t>(sum, INT32_MIN, INT32_MAX)));
}

void SetDouble(IMNode* root, const char16_t* name, double value) {
    root->AttributesSetDouble(CComBSTR(name), value);
}

}  // namespace

HRESULT ReadHardwareStats(IDeckLinkOutput_v9_9* output, DeckLinkBufferStats* stats) {
    if (!output || !stats) return E_POINTER;
    *stats = DeckLinkBufferStats{};
    DeckLinkBufferStats s;
    unsigned int frames = 0, samples = 0;
    HRESULT hr = output->GetBufferedVideoFrameCount(&frames);
    if (SUCCEEDED(hr)) hr = output->GetBufferedAudioSampleFrameCount(&samples);
    double speed = 0;
    BMDTimeValue stream = 0, hardware = 0, in_frame = 0, per_frame = 0;
    if (SUCCEEDED(hr)) hr = output->GetScheduledStreamTime(kTimeScale, &stream, &speed);
    if (SUCCEEDED(hr))
        hr = output->GetHardwareReferenceClock(kTimeScale, &hardware, &in_frame, &per_frame);
    if (FAILED(hr)) return hr;
    s.videoFrames = frames;
    s.audioSamples = samples;
    s.ticksPerFrame = per_frame;
    s.timeInFrame = in_frame;
    s.hardwareTime = hardware;
    s.streamTime = stream;
    s.videoTime = static_cast<std::int64_t>(frames) * per_frame - in_frame;
    s.audioTime = static_cast<std::int64_t>(samples) * kTimeScale / kAudioRate;
    *stats = s;
    return hr;
}

std::u16string_view ReferenceStatusText(BMDReferenceStatus status) {
    if (status == bmdReferenceLocked) return u"locked";
    if (status == bmdReferenceNotSupportedByHardware) return u"not-supported";
    return u"none";
}

void WriteStreamTimes(IMNode* stat, std::int64_t hardware_time, std::int64_t stream_start,
                      std::int64_t input_time, std::int64_t local_time) {
    if (!stat) return;
    static const CComBSTR kStreamTime(u"bmd.stream_time"), kInputTime(u"bmd.input_time"),
        kStreamOffset(u"bmd.stream_offset"), kSync(u"bmd.hw_time_sync");
    const std::int64_t stream = hardware_time - stream_start;
    stat->AttributesSetDouble(kStreamTime, static_cast<double>(stream) / kTimeScale);
    stat->AttributesSetDouble(kInputTime, static_cast<double>(input_time) / kTimeScale);
    stat->AttributesSetDouble(kStreamOffset, static_cast<double>(input_time - stream) / 10'000);
    stat->AttributesSetDouble(kSync, static_cast<double>(hardware_time - local_time) / 10'000);
}

void AddQualityFigures(IMNode* root, BMDOutputFrameCompletionResult result,
                       const DeckLinkBufferStats& s) {
    if (!root) return;
    if (result == bmdOutputFrameDropped) Add(root, u"quality::drop_frames", 1);
    if (result == bmdOutputFrameDisplayedLate) Add(root, u"quality::late_frames", 1);
    if (result == bmdOutputFrameFlushed) Add(root, u"quality::flush_frames", 1);
    Add(root, u"quality::frames", 1);
    SetDouble(root, u"quality::av_late",
              static_cast<double>(s.audioTime - s.videoTime) / kTimeScale);
    SetInt(root, u"quality::v_buffers",
           static_cast<int>(std::min<std::uint32_t>(s.videoFrames, INT32_MAX)));
    SetInt(root, u"quality::a_buffers",
           static_cast<int>(std::min<std::uint32_t>(s.audioSamples, INT32_MAX)));
    SetDouble(root, u"quality::a_time", static_cast<double>(s.audioTime) / kTimeScale);
    SetDouble(root, u"quality::v_time", static_cast<double>(s.videoTime) / kTimeScale);
}

void DeckLinkOutputCallback::SetOutput(IDeckLinkOutput_v9_9* output, IMNode* root) {
    CComPtr<IDeckLinkOutput_v9_9> old_output;
    CComPtr<IMNode> old_root;
    {
        std::lock_guard guard(lock_);
        old_output = std::exchange(output_, CComPtr<IDeckLinkOutput_v9_9>(output));
        old_root = std::exchange(root_, CComPtr<IMNode>(root));
    }
    // The old references go here, outside the lock: a driver may call back while releasing.
}

STDMETHODIMP DeckLinkOutputCallback::ScheduledFrameCompleted(
    IDeckLinkVideoFrame* frame, BMDOutputFrameCompletionResult result) {
    try {
        std::lock_guard guard(lock_);
        if (!output_) return S_OK;
        DeckLinkBufferStats stats;
        ReadHardwareStats(output_, &stats);
        if (frame) {
            // Touch the completed frame's memory address (the value is not used).
            void* bytes = nullptr;
            frame->GetBytes(&bytes);
        }
        AddQualityFigures(root_, result, stats);
    } catch (...) {
        // Nothing may escape into the driver's thread.
    }
    return S_OK;
}

STDMETHODIMP DeckLinkOutputCallback::RenderAudioSamples(BOOL) {
    try {
        std::lock_guard guard(lock_);
        if (output_) ReadHardwareStats(output_, &last_audio_);
    } catch (...) {
    }
    return S_OK;
}

DeckLinkBufferStats DeckLinkOutputCallback::LastAudioStats() {
    std::lock_guard guard(lock_);
    return last_audio_;
}

}  // namespace orvex::decklink
