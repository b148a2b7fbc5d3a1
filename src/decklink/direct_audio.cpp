#include "decklink/direct_audio.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "platform/clock.h"

namespace orvex::decklink {
namespace {

// A sample within this many of its place is left there (see the header).
constexpr std::int64_t kTolerance = 1;
// The silence block, in sample frames.
constexpr int kZeroFrames = 1024;
// Silence held back from a placement by the clock until the card's audio is measured again.
constexpr std::int64_t kSettle = 64;

// ceil(a * b / c) for c > 0, without overflow.
std::int64_t MulDivUp(std::int64_t a, std::int64_t b, std::int64_t c) {
    const __int128 p = static_cast<__int128>(a) * b;
    __int128 q = p / c;
    if (p % c != 0 && p > 0) ++q;
    return static_cast<std::int64_t>(q);
}

PeriodSamples Reduced(std::int64_t num, std::int64_t den) {
    const std::int64_t g = std::gcd(num, den);
    return g > 0 ? PeriodSamples{num / g, den / g} : PeriodSamples{num, den};
}

}  // namespace

PeriodSamples SamplesPerPeriod(double ticks_per_frame, int rate) {
    // The standard rates exactly (whole rates and their 1000/1001 neighbours), else the
    // period in whole ticks.
    for (std::int64_t m = 1; m <= 300; ++m) {
        if (std::fabs(ticks_per_frame - 1e7 / static_cast<double>(m)) < 0.01)
            return Reduced(rate, m);
        if (std::fabs(ticks_per_frame - 1e7 * 1001.0 / (static_cast<double>(m) * 1000.0)) < 0.01)
            return Reduced(static_cast<std::int64_t>(rate) * 1001, m * 1000);
    }
    return Reduced(std::llround(ticks_per_frame) * rate, 10'000'000);
}

std::int64_t GridAtPeriod(std::int64_t period, PeriodSamples samples) {
    return MulDivUp(period, samples.num, samples.den);
}

std::int64_t GridAtTime(std::int64_t hw, int rate) {
    return MulDivUp(hw, rate, platform::kTicksPerSecond);
}

DirectAudio::DirectAudio() {
    buffer_.Attach(new pipeline::MAudioBuffer2());
}

DirectAudio::~DirectAudio() {
    StopThread();
}

void DirectAudio::Reset(const M_AUD_PROPS* format) {
    std::lock_guard lock(*buffer_);
    buffer_->Reset();
    written_.store(0, std::memory_order_relaxed);
    enabled_ = false;
    format_ = M_AUD_PROPS{};
    first_anchor_ = anchor_count_ = 0;
    appended_ = removed_ = pad_ = card_end_ = 0;
    input_rate_ = 0;
    input_base_ = input_frames_ = 0;
    card_end_known_ = displaced_ = false;
    counts_ = AudioCounts{};
    if (format && format->nChannels >= 1 && format->nSamplesPerSec >= 1 &&
        format->nBitsPerSample != 0 && buffer_->SetFormat(format) >= 0) {
        format_ = *format;
        enabled_ = true;
        zeros_.assign(static_cast<std::size_t>(kZeroFrames) *
                          static_cast<std::size_t>(format_.nChannels) *
                          static_cast<std::size_t>((std::abs(format_.nBitsPerSample) + 7) / 8),
                      0);
    }
}

int DirectAudio::Buffered() {
    return buffer_->Available();
}

AudioCounts DirectAudio::Counts() {
    std::lock_guard lock(*buffer_);
    return counts_;
}

HRESULT DirectAudio::AddFrame(const M_AUD_PROPS* props, const BYTE* data, int bytes,
                              std::int64_t due, bool last) {
    if (!props || !data) return E_INVALIDARG;
    std::lock_guard lock(*buffer_);
    if (!enabled_) return S_OK;
    const int before = buffer_->Available();
    int stored = buffer_->Append(props, data, bytes, false, false);
    if (stored >= 0 && last) stored = buffer_->EndOfStream();
    if (stored < 0) return static_cast<HRESULT>(stored);
    // Where the frame's first sample sits in the stream. Through a rate converter it comes
    // out later than what is stored so far (the converter holds a few samples back): its
    // place follows from the input counted at the input's rate.
    const std::int64_t frame_bytes =
        static_cast<std::int64_t>(props->nChannels) * ((std::abs(props->nBitsPerSample) + 7) / 8);
    if (props->nSamplesPerSec != input_rate_) {
        input_rate_ = props->nSamplesPerSec;
        input_base_ = appended_;
        input_frames_ = 0;
    }
    const std::int64_t start =
        input_base_ + MulDivUp(input_frames_, format_.nSamplesPerSec, input_rate_);
    if (frame_bytes > 0) input_frames_ += bytes / frame_bytes;
    // With every slot taken (the card has not taken audio for many frames), the frame simply
    // follows the one before it.
    if (anchor_count_ < kMaxFrames) {
        anchors_[(first_anchor_ + anchor_count_) % kMaxFrames] = Anchor{start, due};
        ++anchor_count_;
    }
    appended_ += std::max(0, stored - before);
    // Nothing takes the audio (the thread ended on a card failure): keep a second at most.
    const int excess = buffer_->Available() - format_.nSamplesPerSec;
    if (excess > 0) {
        counts_.dropped += excess;
        ConsumeLocked(excess);
    }
    return S_OK;
}

std::int64_t DirectAudio::HeadDueLocked(std::int64_t* segment_left) {
    // The frame the head belongs to: the last one that starts at or before it.
    while (anchor_count_ > 1 && anchors_[(first_anchor_ + 1) % kMaxFrames].stream <= removed_) {
        first_anchor_ = (first_anchor_ + 1) % kMaxFrames;
        --anchor_count_;
    }
    const Anchor& a = anchors_[first_anchor_];
    const std::int64_t end =
        anchor_count_ > 1 ? anchors_[(first_anchor_ + 1) % kMaxFrames].stream : appended_;
    *segment_left = end - removed_;
    return a.due + (removed_ - a.stream);
}

void DirectAudio::ConsumeLocked(int samples) {
    if (samples <= 0) return;
    const int taken = buffer_->Consume(samples, nullptr);
    removed_ += taken;
}

HRESULT DirectAudio::WriteSilence(IDeckLinkOutput_v9_9* output, std::int64_t* land,
                                  std::int64_t keep) {
    for (;;) {
        std::int64_t pad = 0;
        {
            std::lock_guard lock(*buffer_);
            pad = pad_ - keep;
        }
        if (pad <= 0) return S_OK;
        const auto n = static_cast<unsigned int>(std::min<std::int64_t>(pad, kZeroFrames));
        unsigned int written = 0;
        const HRESULT hr = output->WriteAudioSamplesSync(zeros_.data(), n, &written);
        if (FAILED(hr)) return hr;
        written = std::min(written, n);
        *land += written;
        {
            std::lock_guard lock(*buffer_);
            pad_ -= written;
        }
        if (written < n) return S_FALSE;  // the card is full
    }
}

HRESULT DirectAudio::Landing(IDeckLinkOutput_v9_9* output, std::int64_t hw, unsigned int buffered,
                             std::int64_t* land) {
    if (hw < 0) {
        BMDTimeValue now = 0, in_frame = 0, tpf = 0;
        const HRESULT hr =
            output->GetHardwareReferenceClock(platform::kTicksPerSecond, &now, &in_frame, &tpf);
        if (FAILED(hr)) return hr;
        hw = now;
    }
    *land = GridAtTime(hw, format_.nSamplesPerSec) + buffered;
    return S_OK;
}

void DirectAudio::AlignLocked(std::int64_t land, bool count) {
    bool moved = false;
    while (anchor_count_ > 0 && buffer_->Available() > 0) {
        std::int64_t left = 0;
        const std::int64_t late = land + pad_ - HeadDueLocked(&left);
        if (late > kTolerance) {
            if (pad_ > 0) {  // silence not yet written goes first
                const std::int64_t cut = std::min(pad_, late);
                pad_ -= cut;
                if (count) counts_.realign_padded -= cut;
                continue;
            }
            const auto n =
                static_cast<int>(std::min<std::int64_t>({late, left, buffer_->Available()}));
            if (n <= 0) break;
            ConsumeLocked(n);
            if (count) counts_.realign_dropped += n;
            moved = true;
            continue;
        }
        if (late < -kTolerance) {
            pad_ += -late;
            if (count) counts_.realign_padded += -late;
            moved = true;
        }
        break;
    }
    if (moved && count) ++counts_.realigned;
}

HRESULT DirectAudio::Write(IDeckLinkOutput_v9_9* output) {
    if (!output) return E_INVALIDARG;
    if (!enabled_) return S_OK;
    const platform::Ticks started = platform::Now();

    // Where the next sample lands: after what the card holds, which ends where the last
    // write left it unless the card ran dry meanwhile.
    unsigned int buffered = 0;
    HRESULT hr = output->GetBufferedAudioSampleFrameCount(&buffered);
    if (FAILED(hr)) return hr;
    std::int64_t land = -1;
    bool displaced = false;
    {
        std::lock_guard lock(*buffer_);
        if (buffered > 0 && card_end_known_) land = card_end_;
        displaced = displaced_;
        displaced_ = false;
    }
    bool from_clock = land < 0;
    if (from_clock && FAILED(hr = Landing(output, -1, buffered, &land))) return hr;

    // Audio that landed late (the card ran dry while it was being written) is taken back
    // rather than pushing the next frame's start: the card's buffer is emptied.
    if (displaced) {
        bool late = false;
        {
            std::lock_guard lock(*buffer_);
            std::int64_t left = 0;
            late = anchor_count_ > 0 && buffer_->Available() > 0 &&
                   land + pad_ - HeadDueLocked(&left) > kTolerance;
        }
        if (late && SUCCEEDED(output->FlushBufferedAudioSamples())) {
            std::lock_guard lock(*buffer_);
            ++counts_.realigned;
        }
        if (late && FAILED(hr = Landing(output, -1, 0, &land))) return hr;
        from_clock = from_clock || late;
    }

    // Bring the head of the buffer onto its place (the first audio of an output is placed,
    // not corrected). What arrives meanwhile waits for the next write: it was not placed.
    int placed = 0;
    {
        std::lock_guard lock(*buffer_);
        AlignLocked(land, card_end_known_);
        placed = buffer_->Available();
    }
    // Placed by the clock, the silence goes in two steps: a reading taken before a write is
    // off by the time the write takes, so once most of it is on the card, where the card's
    // audio ends is measured again between two quick calls and the rest follows from that.
    if (from_clock) {
        hr = WriteSilence(output, &land, kSettle);
        if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
        unsigned int now_buffered = 0;
        if (SUCCEEDED(output->GetBufferedAudioSampleFrameCount(&now_buffered)) &&
            now_buffered > 0 && SUCCEEDED(Landing(output, -1, now_buffered, &land))) {
            std::lock_guard lock(*buffer_);
            AlignLocked(land, false);
            placed = buffer_->Available();
        }
    }

    hr = WriteSilence(output, &land, 0);
    while (hr == S_OK && placed > 0) {
        BYTE* block = nullptr;
        int count = 0;
        {
            // The block stays valid until the next Read, and only one thread writes.
            std::lock_guard lock(*buffer_);
            const int available = std::min(placed, buffer_->Available());
            if (available <= 0) break;
            count = buffer_->Read(&format_, &block, available, 0, format_.nChannels, true);
        }
        if (count <= 0 || !block) break;
        unsigned int written = 0;
        hr = output->WriteAudioSamplesSync(block, static_cast<unsigned int>(count), &written);
        if (FAILED(hr)) break;
        written = std::min(written, static_cast<unsigned int>(count));
        {
            std::lock_guard lock(*buffer_);
            ConsumeLocked(static_cast<int>(written));
        }
        written_.fetch_add(written, std::memory_order_relaxed);
        land += written;
        placed -= static_cast<int>(written);
        if (written == 0) break;  // the card is full: the rest waits for the next write
    }

    // Writing took longer than the card's audio lasted: it may have run dry meanwhile, and
    // what was written then landed later than counted. Look where the card's audio ends now.
    if (platform::Now() - started >= static_cast<platform::Ticks>(buffered) *
                                         platform::kTicksPerSecond / format_.nSamplesPerSec) {
        unsigned int now_buffered = 0;
        std::int64_t actual = 0;
        if (SUCCEEDED(output->GetBufferedAudioSampleFrameCount(&now_buffered)) &&
            SUCCEEDED(Landing(output, -1, now_buffered, &actual))) {
            std::lock_guard lock(*buffer_);
            displaced_ = actual - land > kTolerance;
            land = actual;
        }
    }
    std::lock_guard lock(*buffer_);
    card_end_ = land;
    card_end_known_ = true;
    // The card takes nothing: drop what would pile up behind the video.
    const int left = buffer_->Available();
    if (left > kMaxLeftOver) {
        counts_.dropped += left;
        ConsumeLocked(left);
    }
    return FAILED(hr) ? hr : S_OK;
}

bool DirectAudio::StartThread(OutputSource source, void* context) {
    StopThread();
    thread_ = std::make_unique<platform::Thread>();
    running_.store(true, std::memory_order_release);
    if (!thread_->Start([this, source, context] { ThreadBody(source, context); }, true)) {
        running_.store(false, std::memory_order_release);
        thread_.reset();
        return false;
    }
    thread_->Resume();
    return true;
}

void DirectAudio::StopThread() {
    if (!thread_) return;
    running_.store(false, std::memory_order_release);
    wake_.Set();
    thread_->Join();
    thread_.reset();
}

void DirectAudio::ThreadBody(OutputSource source, void* context) {
    platform::Thread::SetCurrentName("decklink audio");
    platform::Thread::SetCurrentPriority(platform::ThreadPriority::kTimeCritical);
    while (running_.load(std::memory_order_acquire)) {
        wake_.Wait(platform::kInfinite);
        if (!running_.load(std::memory_order_acquire)) break;
        CComPtr<IDeckLinkOutput_v9_9> output = source(context);
        if (!output) continue;
        if (FAILED(Write(output))) {  // the card refuses audio: the thread ends
            running_.store(false, std::memory_order_release);
            return;
        }
    }
}

}  // namespace orvex::decklink
