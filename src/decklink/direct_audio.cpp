#include "decklink/direct_audio.h"

#include "platform/clock.h"

namespace orvex::decklink {

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
    if (format && format->nChannels >= 1 && format->nSamplesPerSec >= 1 &&
        format->nBitsPerSample != 0 && buffer_->SetFormat(format) >= 0) {
        format_ = *format;
        enabled_ = true;
    }
}

int DirectAudio::Buffered() {
    return buffer_->Available();
}

HRESULT DirectAudio::WriteSync(IDeckLinkOutput_v9_9* output, const M_AUD_PROPS* props,
                               const BYTE* data, int bytes, std::int64_t* dropped, bool last) {
    if (!output || !props) return E_INVALIDARG;
    std::lock_guard lock(*buffer_);
    int stored = buffer_->Append(props, data, bytes, false, false);
    if (stored >= 0 && last) stored = buffer_->EndOfStream();
    if (stored < 0) return static_cast<HRESULT>(stored);
    // No later frame comes to push out what is left below the threshold.
    const int threshold = last ? 0 : kSyncThreshold;
    while (buffer_->Available() > threshold) {
        BYTE* block = nullptr;
        const int count =
            buffer_->Read(&format_, &block, buffer_->Available(), 0, format_.nChannels, true);
        if (count <= 0 || !block) break;
        unsigned int written = 0;
        HRESULT hr =
            output->WriteAudioSamplesSync(block, static_cast<unsigned int>(count), &written);
        if (FAILED(hr)) return hr;
        if (written > static_cast<unsigned int>(count)) written = static_cast<unsigned int>(count);
        buffer_->Consume(static_cast<int>(written), nullptr);
        written_.fetch_add(written, std::memory_order_relaxed);
        if (written == 0) break;
    }
    const int left = buffer_->Available();
    if (left > kMaxLeftOver) {
        if (dropped) *dropped += left;
        buffer_->Consume(-1, nullptr);
    }
    return S_OK;
}

HRESULT DirectAudio::PutForThread(const M_AUD_PROPS* props, const BYTE* data, int bytes,
                                  bool last) {
    if (!data) return E_INVALIDARG;
    {
        std::lock_guard lock(*buffer_);
        int stored = buffer_->Append(props, data, bytes, false, false);
        if (stored >= 0 && last) stored = buffer_->EndOfStream();
        if (stored < 0) return static_cast<HRESULT>(stored);
    }
    wake_.Set();
    return S_OK;
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
    while (running_.load(std::memory_order_acquire)) {
        wake_.Wait(platform::kInfinite);
        while (running_.load(std::memory_order_acquire) &&
               buffer_->Available() > kThreadThreshold) {
            BYTE* block = nullptr;
            int count = 0;
            {
                // The block stays valid until the next Read, and only this thread reads.
                std::lock_guard lock(*buffer_);
                count = buffer_->Read(&format_, &block, buffer_->Available(), 0, format_.nChannels,
                                      true);
            }
            if (count <= 0 || !block) break;
            CComPtr<IDeckLinkOutput_v9_9> output = source(context);
            if (!output) break;
            unsigned int written = 0;
            if (FAILED(output->WriteAudioSamplesSync(block, static_cast<unsigned int>(count),
                                                     &written))) {
                running_.store(false, std::memory_order_release);
                return;
            }
            if (written > static_cast<unsigned int>(count))
                written = static_cast<unsigned int>(count);
            {
                std::lock_guard lock(*buffer_);
                buffer_->Consume(static_cast<int>(written), nullptr);
            }
            written_.fetch_add(written, std::memory_order_relaxed);
            if (written == 0) platform::SleepFor(platform::kTicksPerMillisecond);
        }
    }
}

}  // namespace orvex::decklink
