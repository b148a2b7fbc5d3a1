// The card's output: modes, frames, display, audio and the hardware clock.
#include "sim/decklink/card.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/decklink/card_internal.h"
#include "sim/decklink/objects.h"
#include "sim/decklink/vanc.h"

namespace orvex::sim::decklink {
namespace {

// What the card takes of a frame (its bytes only when it keeps copies) and its checksum; null
// for a frame whose geometry the card cannot take.
std::shared_ptr<const Picture> TakePicture(IDeckLinkVideoFrame* frame, PictureMode mode,
                                           std::uint64_t* checksum) {
    *checksum = 0;
    auto taken = std::make_shared<Picture>();
    Picture* out = taken.get();
    out->width = frame->GetWidth();
    out->height = frame->GetHeight();
    out->row_bytes = frame->GetRowBytes();
    out->format = frame->GetPixelFormat();
    const std::int64_t min = MinRowBytes(out->format, out->width);
    if (out->width <= 0 || out->height <= 0 || out->row_bytes <= 0 ||
        (min > 0 && out->row_bytes < min))
        return nullptr;
    const std::int64_t bytes = static_cast<std::int64_t>(out->row_bytes) * out->height;
    if (bytes > kMaxFrameBytes) return nullptr;
    void* data = nullptr;
    if (FAILED(frame->GetBytes(&data)) || !data) return nullptr;
    const auto* p = static_cast<const std::uint8_t*>(data);
    if (mode == PictureMode::kCount) return taken;
    *checksum = PictureChecksum(p, out->width, out->height, out->row_bytes, out->format);
    if (mode == PictureMode::kCopy) out->bytes.assign(p, p + bytes);
    return taken;
}

std::string TimecodeJson(IDeckLinkVideoFrame* frame, BMDVideoOutputFlags flags) {
    std::string json;
    auto add = [&](BMDTimecodeFormat f) {
        CComPtr<IDeckLinkTimecode> tc;
        if (frame->GetTimecode(f, &tc) != S_OK || !tc) return;
        unsigned char h, m, s, fr;
        if (FAILED(tc->GetComponents(&h, &m, &s, &fr))) return;
        char text[64];
        std::snprintf(text, sizeof text, "\"%s\":\"%02u:%02u:%02u%c%02u\"", FourCCText(f).c_str(),
                      h, m, s, (tc->GetFlags() & bmdTimecodeIsDropFrame) ? ';' : ':', fr);
        if (!json.empty()) json += ',';
        json += text;
    };
    if (flags & bmdVideoOutputRP188)
        for (BMDTimecodeFormat f :
             {bmdTimecodeRP188VITC1, bmdTimecodeRP188VITC2, bmdTimecodeRP188LTC})
            add(f);
    if (flags & bmdVideoOutputVITC)
        for (BMDTimecodeFormat f : {bmdTimecodeVITC, bmdTimecodeVITCField2}) add(f);
    return json.empty() ? json : "{" + json + "}";
}

std::string VancJson(IDeckLinkVideoFrame* frame, const ModeInfo& mode) {
    CComPtr<IDeckLinkVideoFrameAncillary> anc;
    if (frame->GetAncillaryData(&anc) != S_OK || !anc) return {};
    if (anc->GetPixelFormat() != bmdFormat10BitYUV) return {};
    const std::int64_t row_bytes = MinRowBytes(bmdFormat10BitYUV, mode.width);
    std::map<unsigned int, std::vector<std::uint8_t>> lines;
    CComPtr<ISimAncillary> own;
    if (SUCCEEDED(anc->QueryInterface(IID_ISimAncillary, reinterpret_cast<void**>(&own))) && own) {
        lines = static_cast<SimAncillary*>(own.p)->Lines();
    } else {
        // Someone else's ancillary object: read every blanking line it gives.
        for (unsigned int line = 1; line <= 42; ++line) {
            void* buffer = nullptr;
            if (anc->GetBufferForVerticalBlankingLine(line, &buffer) == S_OK && buffer) {
                const auto* p = static_cast<const std::uint8_t*>(buffer);
                lines[line].assign(p, p + row_bytes);
            }
        }
    }
    std::string json;
    const bool luma_only = mode.height > 576;
    for (const auto& [line, bytes] : lines) {
        for (const VancPacket& pk :
             FindVancPackets(bytes.data(), bytes.size(), mode.width, luma_only)) {
            std::string data;
            char hex[4];
            for (std::uint8_t b : pk.data) std::snprintf(hex, sizeof hex, "%02x", b), data += hex;
            char head[96];
            std::snprintf(head, sizeof head, "{\"line\":%u,\"did\":\"%02x\",\"sdid\":\"%02x\",",
                          line, pk.did, pk.sdid);
            // Appended piece by piece: GCC 12 misreads `"" + std::string&&` under -Wrestrict.
            if (!json.empty()) json += ',';
            json += head;
            json += "\"data\":\"";
            json += data;
            json += "\",\"checksum_ok\":";
            json += pk.checksum_ok ? "true}" : "false}";
        }
    }
    return json.empty() ? json : "[" + json + "]";
}

}  // namespace

// ---- Output

HRESULT Card::Supports(BMDDisplayMode mode, BMDPixelFormat format, BMDVideoOutputFlags flags,
                       BMDDisplayModeSupport* result) {
    if (!result) return E_POINTER;
    *result = bmdDisplayModeNotSupported;
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (!spec_.video_out) return E_NOTIMPL;
    const bool ok = FindMode(mode) && Contains(spec_.modes, mode) &&
                    !Contains(faults_.refuse_modes, mode) && Contains(spec_.formats, format) &&
                    !Contains(faults_.refuse_formats, format) && (flags & ~spec_.flags) == 0 &&
                    (flags & faults_.refuse_flags) == 0;
    if (ok) *result = bmdDisplayModeSupported;
    return S_OK;
}

HRESULT Card::EnableVideo(BMDDisplayMode mode, BMDVideoOutputFlags flags, const void* client) {
    std::shared_ptr<Recording> closing;  // closed once the lock is released
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (FAILED(faults_.enable_error)) return faults_.enable_error;
    // Another client plays out through this card.
    if (busy_ & bmdDevicePlaybackBusy) return E_ACCESSDENIED;
    if (video_owner_ && video_owner_ != client) return E_ACCESSDENIED;
    const ModeInfo* info = FindMode(mode);
    if (!info || !Contains(spec_.modes, mode) || Contains(faults_.refuse_modes, mode) ||
        (flags & ~spec_.flags) || (flags & faults_.refuse_flags))
        return E_INVALIDARG;
    if (video_enabled_) {  // a new mode starts a new stream
        CatchUpLocked();
        closing = EndVideoLocked();
    }
    mode_ = info;
    video_flags_ = flags;
    video_enabled_ = true;
    if (markers_) markers_ = MarkerWatch{};  // measured per stream
    video_owner_ = client;
    ++segment_;
    settled_period_ = PeriodAtLocked(CardNowLocked());
    return S_OK;
}

HRESULT Card::DisableVideo(const void* client) {
    CComPtr<IDeckLinkMemoryAllocator> allocator;
    std::shared_ptr<Recording> closing;
    {
        std::lock_guard guard(mutex_);
        if (faults_.removed) return kRemoved;
        if (video_owner_ && video_owner_ != client) return S_OK;  // not this client's output
        if (video_enabled_) CatchUpLocked();
        closing = EndVideoLocked();
        if (allocator_committed_) allocator = allocator_;
        allocator_committed_ = false;
    }
    // The driver no longer needs frame memory.
    if (allocator) {
        allocator->Decommit();
        std::lock_guard guard(mutex_);
        ++stats_.decommit_calls;
    }
    return S_OK;
}

HRESULT Card::SetAllocator(IDeckLinkMemoryAllocator* allocator) {
    CComPtr<IDeckLinkMemoryAllocator> old;
    bool decommit = false;
    {
        std::lock_guard guard(mutex_);
        if (faults_.removed) return kRemoved;
        if (allocator_.p == allocator) return S_OK;
        old = allocator_;
        decommit = allocator_committed_;
        allocator_ = allocator;
        allocator_committed_ = false;
    }
    if (old && decommit) {
        old->Decommit();
        std::lock_guard guard(mutex_);
        ++stats_.decommit_calls;
    }
    return S_OK;
}

HRESULT Card::CreateFrame(int width, int height, int row_bytes, BMDPixelFormat format,
                          BMDFrameFlags flags, IDeckLinkMutableVideoFrame** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    const std::int64_t min = MinRowBytes(format, width);
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384 || min == 0 || row_bytes < min)
        return E_INVALIDARG;
    const std::int64_t bytes = static_cast<std::int64_t>(row_bytes) * height;
    if (bytes > kMaxFrameBytes) return E_INVALIDARG;
    CComPtr<IDeckLinkMemoryAllocator> allocator;
    bool commit = false;
    {
        std::lock_guard guard(mutex_);
        if (faults_.removed) return kRemoved;
        if (!spec_.video_out) return E_NOTIMPL;
        if (faults_.frame_oom > 0) return --faults_.frame_oom, E_OUTOFMEMORY;
        allocator = allocator_;
        if (allocator) {
            if (faults_.allocate_oom > 0) return --faults_.allocate_oom, E_OUTOFMEMORY;
            commit = !allocator_committed_;
            allocator_committed_ = true;
            ++stats_.allocate_calls;
            if (commit) ++stats_.commit_calls;
        } else if (frame_bytes_alive_.load() + bytes > spec_.frame_memory) {
            return E_OUTOFMEMORY;  // the card's frame memory is used up
        } else {
            frame_bytes_alive_ += bytes;
        }
    }
    std::uint8_t* memory = nullptr;
    if (allocator) {
        if (commit) allocator->Commit();
        void* buffer = nullptr;
        HRESULT hr = allocator->AllocateBuffer(static_cast<unsigned int>(bytes), &buffer);
        if (FAILED(hr)) return hr;
        if (!buffer) return E_OUTOFMEMORY;
        memory = static_cast<std::uint8_t*>(buffer);
    } else {
        memory = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(bytes), 1));
        if (!memory) {
            frame_bytes_alive_ -= bytes;
            return E_OUTOFMEMORY;
        }
    }
    auto* frame = new (std::nothrow)
        SimFrame(shared_from_this(), width, height, row_bytes, format, flags, memory, allocator);
    if (!frame) {
        if (allocator)
            allocator->ReleaseBuffer(memory);
        else
            std::free(memory), frame_bytes_alive_ -= bytes;
        return E_OUTOFMEMORY;
    }
    ++frames_alive_;
    *out = frame;
    return S_OK;
}

void Card::FrameMemoryReleased(std::int64_t bytes, bool own_memory) {
    --frames_alive_;
    if (own_memory)
        frame_bytes_alive_ -= bytes;
    else
        ++release_calls_;
}

HRESULT Card::CreateAncillary(BMDPixelFormat format, IDeckLinkVideoFrameAncillary** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    BMDDisplayMode mode;
    std::int64_t row_bytes;
    {
        std::lock_guard guard(mutex_);
        if (faults_.removed) return kRemoved;
        if (!video_enabled_) return E_UNEXPECTED;  // blanking lines follow the output's mode
        mode = mode_->mode;
        row_bytes = MinRowBytes(format, mode_->width);
    }
    if (row_bytes <= 0) return E_INVALIDARG;
    auto* anc = new (std::nothrow) SimAncillary(format, mode, row_bytes);
    if (!anc) return E_OUTOFMEMORY;
    *out = anc;
    return S_OK;
}

HRESULT Card::DisplaySync(IDeckLinkVideoFrame* frame) {
    if (!frame) return E_POINTER;
    Stall(kCallDisplay);
    ModeInfo mode;
    BMDVideoOutputFlags flags;
    int segment;
    {
        std::lock_guard guard(mutex_);
        if (faults_.removed) return kRemoved;
        if (!video_enabled_) return E_FAIL;
        if (FAILED(faults_.display_error) && faults_.display_error_calls != 0) {
            if (faults_.display_error_calls > 0) --faults_.display_error_calls;
            return faults_.display_error;
        }
        mode = *mode_;
        flags = video_flags_;
        segment = segment_;
    }
    // The frame is read without the card lock: it may be the host's own object.
    Shown shown;
    shown.picture = TakePicture(frame, pictures_, &shown.checksum);
    if (!shown.picture || shown.picture->width != mode.width ||
        shown.picture->height != mode.height)
        return E_INVALIDARG;
    if (flags & bmdVideoOutputDualStream3D) {
        CComPtr<IDeckLinkVideoFrame3DExtensions> ext;
        CComPtr<IDeckLinkVideoFrame> right;
        if (SUCCEEDED(frame->QueryInterface(IID_IDeckLinkVideoFrame3DExtensions,
                                            reinterpret_cast<void**>(&ext))) &&
            ext && SUCCEEDED(ext->GetFrameForRightEye(&right)) && right) {
            auto p = TakePicture(right, pictures_, &shown.right_checksum);
            if (!p || p->width != mode.width || p->height != mode.height) return E_INVALIDARG;
            shown.right_eye = std::move(p);
        }
    }
    shown.timecode_json = TimecodeJson(frame, flags);
    if (flags & bmdVideoOutputVANC) shown.vanc_json = VancJson(frame, mode);

    std::lock_guard guard(mutex_);
    if (!video_enabled_ || segment != segment_) return E_FAIL;  // the output changed meanwhile
    CatchUpLocked();
    if (pending_) ++stats_.replaced;  // a second frame within one period replaces the first
    pending_ = std::move(shown);
    return S_OK;
}

HRESULT Card::BufferedVideo(unsigned int* count) {
    if (!count) return E_POINTER;
    std::lock_guard guard(mutex_);
    *count = 0;
    if (faults_.removed) return kRemoved;
    CatchUpLocked();
    *count = pending_ ? 1 : 0;
    return S_OK;
}

HRESULT Card::EnableAudio(BMDAudioSampleRate rate, BMDAudioSampleType type, unsigned int channels,
                          BMDAudioOutputStreamType stream) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (!spec_.video_out) return E_NOTIMPL;
    const std::uint32_t layout = (type << 16) | channels;
    if (rate != bmdAudioSampleRate48kHz || (type != 16 && type != 32) ||
        !Contains(spec_.audio_bits, static_cast<int>(type)) ||
        !Contains(spec_.audio_channels, static_cast<int>(channels)) ||
        Contains(faults_.refuse_audio, layout) || stream > bmdAudioOutputStreamTimestamped)
        return E_INVALIDARG;
    CatchUpLocked();
    EndAudioLocked();
    const std::size_t frame_bytes = type / 8 * channels;
    const std::size_t bytes = static_cast<std::size_t>(spec_.audio_buffer) * frame_bytes;
    if (bytes > (256u << 20)) return E_OUTOFMEMORY;
    try {
        audio_ring_.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    audio_bits_ = static_cast<int>(type);
    audio_channels_ = static_cast<int>(channels);
    audio_enabled_ = true;
    audio_grid_ = AudioGridAt(CardNowLocked());  // silence until something is written
    if (recording_) recording_->AudioFormat(audio_bits_, audio_channels_);
    return S_OK;
}

HRESULT Card::DisableAudio() {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    CatchUpLocked();
    EndAudioLocked();
    return S_OK;
}

HRESULT Card::WriteAudio(const void* data, unsigned int frames, unsigned int* written) {
    if (!written) return E_POINTER;
    *written = 0;
    if (!data && frames) return E_POINTER;
    Stall(kCallAudio);
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (!audio_enabled_) return E_FAIL;
    CatchUpLocked();
    const std::size_t frame_bytes = static_cast<std::size_t>(audio_bits_ / 8 * audio_channels_);
    const std::size_t capacity = audio_ring_.size() / frame_bytes;
    std::size_t take = std::min<std::size_t>(frames, capacity - audio_count_);
    if (audio_refuse_ > 0 && audio_refuse_calls_ != 0) {  // the card takes only part
        if (audio_refuse_calls_ > 0) --audio_refuse_calls_;
        take -= std::min<std::size_t>(take, static_cast<std::size_t>(audio_refuse_));
    }
    if (take) audio_started_ = true;
    const auto* src = static_cast<const std::uint8_t*>(data);
    *written = static_cast<unsigned int>(take);
    while (take) {
        const std::size_t tail = (audio_head_ + audio_count_) % capacity;
        const std::size_t chunk = std::min(take, capacity - tail);
        std::memcpy(audio_ring_.data() + tail * frame_bytes, src, chunk * frame_bytes);
        src += chunk * frame_bytes;
        audio_count_ += chunk;
        take -= chunk;
    }
    return S_OK;
}

HRESULT Card::BufferedAudio(unsigned int* count) {
    if (!count) return E_POINTER;
    std::lock_guard guard(mutex_);
    *count = 0;
    if (faults_.removed) return kRemoved;
    CatchUpLocked();
    *count = static_cast<unsigned int>(audio_count_);
    return S_OK;
}

HRESULT Card::FlushAudio() {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    CatchUpLocked();
    audio_head_ = audio_count_ = 0;
    return S_OK;
}

HRESULT Card::ReferenceStatus(BMDReferenceStatus* status) {
    if (!status) return E_POINTER;
    std::lock_guard guard(mutex_);
    *status = 0;
    if (faults_.removed) return kRemoved;
    *status = reference_;
    return S_OK;
}

HRESULT Card::HardwareClock(BMDTimeScale scale, BMDTimeValue* hw, BMDTimeValue* in_frame,
                            BMDTimeValue* ticks_per_frame) {
    if (!hw || !in_frame || !ticks_per_frame) return E_POINTER;
    *hw = *in_frame = *ticks_per_frame = 0;
    if (scale <= 0 || scale > kTicks * 1000) return E_INVALIDARG;
    Stall(kCallClock);
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (!video_enabled_) return E_FAIL;  // no mode, no frame rate
    CatchUpLocked();
    std::int64_t t = CardNowLocked();
    if (faults_.jitter > 0) {  // a reading arrives up to `jitter` late
        jitter_state_ = jitter_state_ * 6364136223846793005ull + 1442695040888963407ull;
        t += static_cast<std::int64_t>((jitter_state_ >> 33) %
                                       static_cast<std::uint64_t>(faults_.jitter + 1));
    }
    t = std::max(t, last_reading_);
    last_reading_ = t;
    const std::int64_t period = PeriodAtLocked(t);
    *hw = MulDiv(t, scale, kTicks);
    const std::int64_t start = MulDiv(period, mode_->duration * scale, mode_->scale);
    *in_frame = *hw - start;
    *ticks_per_frame = MulDiv(mode_->duration, scale, mode_->scale);
    return S_OK;
}

HRESULT Card::StreamTime(BMDTimeScale scale, BMDTimeValue* time, double* speed) {
    if (!time || !speed) return E_POINTER;
    *time = 0;
    *speed = 0;
    if (scale <= 0) return E_INVALIDARG;
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    // Scheduled playback never runs on the virtual card: stream time stays 0 at speed 0.
    return S_OK;
}

HRESULT Card::SetVideoCallback(IDeckLinkVideoOutputCallback* callback) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    video_callback_ = callback;
    return S_OK;
}

HRESULT Card::SetAudioCallback(IDeckLinkAudioOutputCallback* callback) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    audio_callback_ = callback;
    return S_OK;
}

}  // namespace orvex::sim::decklink
