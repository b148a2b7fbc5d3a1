#include "pipeline/audio_buffer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace orvex::pipeline {

namespace {

bool SameFormat(const M_AUD_PROPS& a, const M_AUD_PROPS& b) {
    return a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec &&
           a.nBitsPerSample == b.nBitsPerSample;
}

// Positions recorded without anyone consuming them stay bounded.
constexpr std::size_t kMaxPositions = 1024;

}  // namespace

int MAudioBuffer2::StoredSamples() const noexcept {
    if (!IsValidFormat(format)) return 0;
    const auto bytes = static_cast<std::size_t>(StorageBytes(format.nBitsPerSample));
    return static_cast<int>(std::min<std::size_t>(store.ChannelBytes() / bytes, INT_MAX));
}

int MAudioBuffer2::Fail(HRESULT hr) {
    store.Clear();
    std::lock_guard guard(consumeLock);
    positions.clear();
    return hr;
}

int MAudioBuffer2::TakeFormat(const M_AUD_PROPS& props) {
    resampler16.Reset();
    resampler32.Reset();
    store.Clear();
    format = props;
    {
        std::lock_guard guard(consumeLock);
        positions.clear();
    }
    const HRESULT hr = store.SetChannelCount(props.nChannels);
    return FAILED(hr) ? Fail(hr) : 0;
}

int MAudioBuffer2::SetFormat(const M_AUD_PROPS* props) {
    std::lock_guard lock(*this);
    if (!props) return kAudioNoFormat;
    if (IsDisabledFormat(*props)) {
        Reset();
        format = *props;
        return 0;
    }
    if (!IsValidFormat(*props)) return E_INVALIDARG;
    // Whatever the converters still hold belongs to the old format.
    HRESULT hr = FlushResamplers();
    if (FAILED(hr)) return Fail(hr);
    if (StoredSamples() == 0) return TakeFormat(*props);

    const int oldBytes = StorageBytes(format.nBitsPerSample);
    const int newBytes = StorageBytes(props->nBitsPerSample);
    if (oldBytes != newBytes) {
        hr = ConvertStoredWidth(newBytes);
        if (FAILED(hr)) return Fail(hr);
    }
    format.nBitsPerSample = props->nBitsPerSample;
    if (props->nSamplesPerSec != format.nSamplesPerSec) {
        hr = ResampleStored(props->nSamplesPerSec);
        if (FAILED(hr)) return Fail(hr);
        ScalePositions(format.nSamplesPerSec, props->nSamplesPerSec);
    }
    hr = store.SetChannelCount(props->nChannels);
    if (FAILED(hr)) return Fail(hr);
    format = *props;
    resampler16.Reset();
    resampler32.Reset();
    return StoredSamples();
}

HRESULT MAudioBuffer2::ConvertStoredWidth(int newBytes) {
    const int oldBytes = StorageBytes(format.nBitsPerSample);
    const std::size_t samples = store.ChannelBytes() / static_cast<std::size_t>(oldBytes);
    for (auto& channel : store.channels) {
        if (!store.scratch.Reserve(samples * static_cast<std::size_t>(newBytes)))
            return E_OUTOFMEMORY;
        ConvertSamples(channel.data(), oldBytes, oldBytes, store.scratch.data(), newBytes, newBytes,
                       samples, Narrowing::kRound);
        channel.Swap(store.scratch);
    }
    store.RefreshPointers();
    return S_OK;
}

HRESULT MAudioBuffer2::ResampleStored(int newRate) {
    const int bytes = StorageBytes(format.nBitsPerSample);
    const std::size_t samples = store.ChannelBytes() / static_cast<std::size_t>(bytes);
    const double expected =
        std::round(static_cast<double>(samples) * newRate / format.nSamplesPerSec) +
        static_cast<double>(AudioResampler::kOutputMargin);
    if (expected > INT_MAX) return E_OUTOFMEMORY;
    const auto capacity = static_cast<std::size_t>(expected);
    std::size_t produced = capacity;
    for (auto& channel : store.channels) {
        if (!store.scratch.Reserve(capacity * static_cast<std::size_t>(bytes)))
            return E_OUTOFMEMORY;
        const long long made =
            AudioResampler::Once(format.nSamplesPerSec, newRate, bytes, channel.data(), samples,
                                 store.scratch.data(), capacity);
        if (made == AudioResampler::kFailed) return E_OUTOFMEMORY;
        produced = std::min(produced, static_cast<std::size_t>(made));
        channel.Swap(store.scratch);
    }
    store.RefreshPointers();
    store.Truncate(produced * static_cast<std::size_t>(bytes));
    return S_OK;
}

HRESULT MAudioBuffer2::FlushResamplers() {
    for (AudioResampler* resampler : {&resampler16, &resampler32}) {
        const std::size_t pending = resampler->Pending();
        if (pending == 0) continue;
        const int bytes = StorageBytes(format.nBitsPerSample);
        if (!IsValidFormat(format) || resampler->Channels() > store.ChannelCount()) {
            resampler->Reset();
            continue;
        }
        const std::size_t base = store.ChannelBytes();
        HRESULT hr = store.Grow(pending * static_cast<std::size_t>(bytes));
        if (FAILED(hr)) return hr;
        BYTE* outputs[kMaxAudioChannels];
        for (int c = 0; c < resampler->Channels(); ++c) outputs[c] = store.Channel(c) + base;
        const long long made = resampler->Flush(outputs, pending);
        store.Truncate(base + static_cast<std::size_t>(std::max(made, 0LL)) *
                                  static_cast<std::size_t>(bytes));
    }
    return S_OK;
}

HRESULT MAudioBuffer2::AppendResampled(AudioResampler& resampler, int srcRate, int channels,
                                       std::size_t samples) {
    const int bytes = StorageBytes(format.nBitsPerSample);
    if (!resampler.Matches(srcRate, format.nSamplesPerSec, channels, bytes)) {
        HRESULT hr = FlushResamplers();
        if (FAILED(hr)) return hr;
        if (!resampler.Configure(srcRate, format.nSamplesPerSec, channels, bytes)) return E_FAIL;
    }
    const double ratio = static_cast<double>(format.nSamplesPerSec) / srcRate;
    const auto margin = static_cast<double>(AudioResampler::kOutputMargin);
    BYTE* inputs[kMaxAudioChannels];
    BYTE* outputs[kMaxAudioChannels];
    std::size_t done = 0;
    // Normally one pass; more only if the converter stopped early for lack of output room.
    for (int pass = 0; pass < 8 && done < samples; ++pass) {
        const double expected = std::round(static_cast<double>(samples - done) * ratio + margin);
        if (expected + StoredSamples() > INT_MAX) return E_OUTOFMEMORY;
        const auto capacity = static_cast<std::size_t>(expected);
        const std::size_t base = store.ChannelBytes();
        HRESULT hr = store.Grow(capacity * static_cast<std::size_t>(bytes));
        if (FAILED(hr)) return hr;
        for (int c = 0; c < channels; ++c) {
            inputs[c] = work.Channel(c) + done * static_cast<std::size_t>(bytes);
            outputs[c] = store.Channel(c) + base;
        }
        std::size_t used = 0;
        const long long made = resampler.Process(inputs, samples - done, outputs, capacity, &used);
        store.Truncate(base + static_cast<std::size_t>(std::max(made, 0LL)) *
                                  static_cast<std::size_t>(bytes));
        if (made == AudioResampler::kFailed) return E_FAIL;
        done += used;
    }
    return S_OK;
}

int MAudioBuffer2::Append(const M_AUD_PROPS* src, const BYTE* data, int bytes, bool adoptFormat,
                          bool mixDown) {
    std::lock_guard lock(*this);
    if (!src || !IsValidFormat(*src) || bytes < 0) return E_INVALIDARG;
    if (IsDisabledFormat(format)) return E_AUDIO_DISABLED;
    if (!IsValidFormat(format) || (adoptFormat && StoredSamples() == 0)) {
        if (!SameFormat(format, *src) || !IsValidFormat(format)) {
            const int hr = TakeFormat(*src);
            if (hr < 0) return hr;
        }
    }

    const int srcBytes = WireBytes(src->nBitsPerSample);
    const int srcChannels = src->nChannels;
    const std::size_t frameBytes = static_cast<std::size_t>(srcBytes) * srcChannels;
    const std::size_t samples = static_cast<std::size_t>(bytes) / frameBytes;
    if (samples == 0) return StoredSamples();

    const int storeBytes = StorageBytes(format.nBitsPerSample);
    const int targetChannels = format.nChannels;
    const std::ptrdiff_t srcStride = static_cast<std::ptrdiff_t>(frameBytes);

    if (SameFormat(*src, format)) {
        if (samples + static_cast<std::size_t>(StoredSamples()) > INT_MAX)
            return Fail(E_OUTOFMEMORY);
        HRESULT hr = FlushResamplers();
        if (FAILED(hr)) return Fail(hr);
        const std::size_t base = store.ChannelBytes();
        hr = store.Grow(samples * static_cast<std::size_t>(storeBytes));
        if (FAILED(hr)) return Fail(hr);
        if (data) {
            for (int c = 0; c < targetChannels; ++c)
                ConvertSamples(data + static_cast<std::size_t>(c) * srcBytes, srcStride, srcBytes,
                               store.Channel(c) + base, storeBytes, storeBytes, samples,
                               Narrowing::kRound);
        }
        return StoredSamples();
    }

    // Bring the source to the storage width (and mix it down) in `work`.
    const bool mix = mixDown && srcChannels > targetChannels;
    const int kept = std::min(srcChannels, targetChannels);
    const int converted = mix ? srcChannels : kept;
    work.Clear();
    HRESULT hr = work.SetChannelCount(converted);
    if (SUCCEEDED(hr)) hr = work.Resize(samples * static_cast<std::size_t>(storeBytes));
    if (FAILED(hr)) {
        work.Reset();
        return Fail(hr);
    }
    if (data) {
        for (int c = 0; c < converted; ++c)
            ConvertSamples(data + static_cast<std::size_t>(c) * srcBytes, srcStride, srcBytes,
                           work.Channel(c), storeBytes, storeBytes, samples, Narrowing::kRound);
    }
    if (mix) {
        MixRoute routes[kMaxAudioChannels * 2];
        const int count = MixDownRoutes(srcChannels, targetChannels, routes);
        for (int r = 0; r < count; ++r) {
            if (storeBytes == 2)
                MixAdd16(work.ChannelAs<std::int16_t>(routes[r].to),
                         work.ChannelAs<std::int16_t>(routes[r].from), samples);
            else
                MixAdd32(work.ChannelAs<std::int32_t>(routes[r].to),
                         work.ChannelAs<std::int32_t>(routes[r].from), samples);
        }
        work.SetChannelCount(kept);
    }

    if (src->nSamplesPerSec != format.nSamplesPerSec) {
        hr = AppendResampled(storeBytes == 2 ? resampler16 : resampler32, src->nSamplesPerSec, kept,
                             samples);
        if (hr == E_FAIL) return hr;
        if (FAILED(hr)) return Fail(hr);
        return StoredSamples();
    }

    if (samples + static_cast<std::size_t>(StoredSamples()) > INT_MAX) return Fail(E_OUTOFMEMORY);
    hr = FlushResamplers();
    if (FAILED(hr)) return Fail(hr);
    const std::size_t base = store.ChannelBytes();
    const std::size_t length = samples * static_cast<std::size_t>(storeBytes);
    hr = store.Grow(length);
    if (FAILED(hr)) return Fail(hr);
    // Channels the source lacks stay silent (grown zeroed).
    for (int c = 0; c < kept; ++c) std::memcpy(store.Channel(c) + base, work.Channel(c), length);
    return StoredSamples();
}

int MAudioBuffer2::Read(const M_AUD_PROPS* want, BYTE** out, int samples, int firstChannel,
                        int channelCount, bool ditherOrRound) {
    std::lock_guard lock(*this);
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsDisabledFormat(format) || !IsValidFormat(format)) return 0;

    M_AUD_PROPS wanted = want ? *want : M_AUD_PROPS{};
    if (wanted.nSamplesPerSec <= 0) wanted.nSamplesPerSec = format.nSamplesPerSec;
    if (wanted.nSamplesPerSec != format.nSamplesPerSec) return kAudioRateMismatch;
    if (wanted.nChannels < 1) wanted.nChannels = format.nChannels;
    if (wanted.nBitsPerSample == 0) wanted.nBitsPerSample = format.nBitsPerSample;
    const int outBytes = WireBytes(wanted.nBitsPerSample);
    const int channels = channelCount >= 1 ? channelCount : wanted.nChannels;
    if (outBytes == 0 || channels > kMaxAudioChannels || firstChannel < 0) return E_INVALIDARG;

    const int stored = StoredSamples();
    if (samples < 0) samples = stored;
    const int real = std::min(samples, stored);
    const std::size_t frame = static_cast<std::size_t>(channels) * outBytes;
    if (!interleaved.Reserve(static_cast<std::size_t>(samples) * frame)) return E_OUTOFMEMORY;
    BYTE* dst = interleaved.data();
    const int storeBytes = StorageBytes(format.nBitsPerSample);
    const Narrowing mode = ditherOrRound ? Narrowing::kRound : Narrowing::kTruncate;

    // Channels beyond the stored ones read as silence.
    const int present = std::clamp(format.nChannels - firstChannel, 0, channels);
    if (present < channels && real > 0) std::memset(dst, 0, static_cast<std::size_t>(real) * frame);
    for (int k = 0; k < present; ++k)
        ConvertSamples(store.Channel(firstChannel + k), storeBytes, storeBytes,
                       dst + static_cast<std::size_t>(k) * outBytes,
                       static_cast<std::ptrdiff_t>(frame), outBytes, static_cast<std::size_t>(real),
                       mode);
    if (samples > real)
        std::memset(dst + static_cast<std::size_t>(real) * frame, 0,
                    static_cast<std::size_t>(samples - real) * frame);
    *out = dst;
    return real;
}

int MAudioBuffer2::Consume(int samples, int* remaining) {
    std::lock_guard lock(*this);
    const int stored = StoredSamples();
    const int dropped = samples < 0 ? stored : std::min(samples, stored);
    if (dropped > 0) {
        store.DropFront(static_cast<std::size_t>(dropped) *
                        static_cast<std::size_t>(StorageBytes(format.nBitsPerSample)));
    }
    MovePositions(dropped);
    if (remaining) *remaining = stored - dropped;
    return dropped;
}

int MAudioBuffer2::EndOfStream() {
    std::lock_guard lock(*this);
    const HRESULT hr = FlushResamplers();
    return FAILED(hr) ? Fail(hr) : StoredSamples();
}

int MAudioBuffer2::Available() {
    std::lock_guard lock(*this);
    return StoredSamples();
}

void MAudioBuffer2::Reset() {
    std::lock_guard lock(*this);
    format = M_AUD_PROPS{};
    store.Reset();
    work.Reset();
    interleaved.Free();
    resampler16.Reset();
    resampler32.Reset();
    std::lock_guard guard(consumeLock);
    positions.clear();
}

M_AUD_PROPS MAudioBuffer2::Format() {
    std::lock_guard lock(*this);
    return format;
}

void MAudioBuffer2::SetStoreLimit(std::size_t bytesPerChannel) {
    std::lock_guard lock(*this);
    store.SetByteLimit(bytesPerChannel);
}

int MAudioBuffer2::MarkPosition(LONGLONG tag) {
    std::lock_guard lock(*this);
    const int position = StoredSamples();
    std::lock_guard guard(consumeLock);
    std::erase_if(positions, [tag](const auto& p) { return p.first == tag; });
    if (positions.size() >= kMaxPositions) positions.erase(positions.begin());
    positions.emplace_back(tag, position);
    return position;
}

int MAudioBuffer2::PositionOf(LONGLONG tag) {
    std::lock_guard guard(consumeLock);
    for (const auto& [key, position] : positions)
        if (key == tag) return static_cast<int>(position);
    return kUnknownPosition;
}

void MAudioBuffer2::MovePositions(int consumed) {
    std::lock_guard guard(consumeLock);
    std::erase_if(positions, [consumed](const auto& p) { return p.second < consumed; });
    for (auto& p : positions) p.second -= consumed;
}

void MAudioBuffer2::ScalePositions(int oldRate, int newRate) {
    std::lock_guard guard(consumeLock);
    for (auto& p : positions)
        p.second = std::llround(static_cast<double>(p.second) * newRate / oldRate);
}

}  // namespace orvex::pipeline
