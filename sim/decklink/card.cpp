#include "sim/decklink/card.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/clock.h"
#include "sim/decklink/objects.h"
#include "sim/decklink/vanc.h"

namespace orvex::sim::decklink {
namespace {

constexpr HRESULT kRemoved = E_FAIL;  // what every call of a removed card answers
constexpr std::int64_t kTicks = 10'000'000;
constexpr std::int64_t kMaxFrameBytes = 1ll << 31;

std::atomic<NowFunction> g_now{nullptr};
std::atomic<void*> g_now_context{nullptr};

std::int64_t MulDiv(std::int64_t a, std::int64_t b, std::int64_t c) {  // floor(a*b/c), c > 0
    __int128 p = static_cast<__int128>(a) * b;
    __int128 q = p / c;
    if ((p % c != 0) && (p < 0)) --q;
    return static_cast<std::int64_t>(q);
}

template <class T>
bool Contains(const std::vector<T>& v, T x) {
    return std::find(v.begin(), v.end(), x) != v.end();
}

std::string Hex16(std::uint64_t v) {
    char s[20];
    std::snprintf(s, sizeof s, "%016llx", static_cast<unsigned long long>(v));
    return s;
}

// Copies what a frame holds; false for a frame whose geometry the card cannot take.
bool TakePicture(IDeckLinkVideoFrame* frame, Picture* out) {
    out->width = frame->GetWidth();
    out->height = frame->GetHeight();
    out->row_bytes = frame->GetRowBytes();
    out->format = frame->GetPixelFormat();
    const std::int64_t min = MinRowBytes(out->format, out->width);
    if (out->width <= 0 || out->height <= 0 || out->row_bytes <= 0 ||
        (min > 0 && out->row_bytes < min))
        return false;
    const std::int64_t bytes = static_cast<std::int64_t>(out->row_bytes) * out->height;
    if (bytes > kMaxFrameBytes) return false;
    void* data = nullptr;
    if (FAILED(frame->GetBytes(&data)) || !data) return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    out->bytes.assign(p, p + bytes);
    return true;
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
        json += (json.empty() ? "" : ",") + std::string(text);
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
            json += (json.empty() ? "" : ",") + std::string(head) + "\"data\":\"" + data +
                    "\",\"checksum_ok\":" + (pk.checksum_ok ? "true" : "false") + "}";
        }
    }
    return json.empty() ? json : "[" + json + "]";
}

}  // namespace

void SetTimeSource(NowFunction now, void* context) {
    g_now_context.store(context);
    g_now.store(now);
}

std::int64_t SourceNow() {
    NowFunction f = g_now.load();
    return f ? f(g_now_context.load()) : orvex::platform::Now();
}

Card::Card(CardSpec spec, int index, std::string record_folder)
    : spec_(std::move(spec)),
      index_(index),
      record_folder_(std::move(record_folder)),
      faults_(spec_.faults),
      busy_(spec_.busy),
      reference_(spec_.reference),
      drift_ppm_(spec_.faults.drift_ppm) {
    origin_ = SourceNow();
}

Card::~Card() = default;

bool Card::Removed() {
    std::lock_guard guard(mutex_);
    return faults_.removed;
}

std::int64_t Card::CardNowLocked() {
    const std::int64_t src = SourceNow();
    const long double elapsed = static_cast<long double>(src - origin_);
    return base_ + static_cast<std::int64_t>(elapsed + elapsed * drift_ppm_ / 1e6L);
}

std::int64_t Card::PeriodAtLocked(std::int64_t t) const {
    return MulDiv(t, mode_->scale, mode_->duration * kTicks);
}

std::string Card::SlugLocked() const {
    std::string slug;
    for (char c : spec_.model) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            slug += c;
        else if (c >= 'A' && c <= 'Z')
            slug += static_cast<char>(c - 'A' + 'a');
        else if (!slug.empty() && slug.back() != '-')
            slug += '-';
    }
    while (!slug.empty() && slug.back() == '-') slug.pop_back();
    return (slug.empty() ? "card" : slug) + "-" + std::to_string(index_ + 1) + "-" +
           std::to_string(segment_);
}

void Card::CatchUpLocked() {
    const std::int64_t t = CardNowLocked();
    if (video_enabled_) {
        const std::int64_t current = PeriodAtLocked(t);
        const bool recording = !record_folder_.empty();
        while (settled_period_ < current) {
            ++settled_period_;
            // Without a recording, a run of repeats needs no work per period.
            if (!recording && !pending_ && on_air_) {
                const std::int64_t n = current - settled_period_ + 1;
                stats_.periods += n;
                stats_.repeats += n;
                settled_period_ = current;
                break;
            }
            SettlePeriodLocked(settled_period_);
        }
    }
    DrainAudioLocked(t);
}

void Card::SettlePeriodLocked(std::int64_t period) {
    bool is_new = false;
    if (pending_) {
        on_air_ = std::move(pending_);
        pending_.reset();
        is_new = true;
        ++stats_.new_frames;
    } else if (on_air_) {
        ++stats_.repeats;
    } else {
        return;  // nothing shown yet: the output is black and not recorded
    }
    ++stats_.periods;
    if (record_folder_.empty()) return;
    if (!video_recorder_.Active()) {
        std::error_code ec;
        std::filesystem::create_directories(record_folder_, ec);
        video_recorder_.Start(record_folder_ + "/" + SlugLocked(), *mode_);
    }
    const Shown& s = *on_air_;
    const bool recorded = video_recorder_.WritePeriod(s.picture, is_new, period,
                                                      s.right_eye ? &*s.right_eye : nullptr);
    const std::int64_t boundary = -MulDiv(-period, mode_->duration * kTicks, mode_->scale);
    std::string line = "{\"period\":" + std::to_string(period) +
                       ",\"hw_time\":" + std::to_string(boundary) + ",\"frame\":\"" +
                       (is_new ? "new" : "repeat") + "\",\"format\":\"" +
                       FourCCText(s.picture.format) + "\",\"checksum\":\"" + Hex16(s.checksum) +
                       "\",\"recorded\":" + (recorded ? "true" : "false");
    if (s.right_eye)
        line += ",\"eye\":\"left+right\",\"right_checksum\":\"" + Hex16(s.right_checksum) + "\"";
    if (!s.timecode_json.empty()) line += ",\"timecode\":" + s.timecode_json;
    if (!s.vanc_json.empty()) line += ",\"vanc\":" + s.vanc_json;
    if (keyer_)
        line += std::string(",\"keyer\":\"") + (keyer_ == 2 ? "external" : "internal") +
                "\",\"key_level\":" + std::to_string(key_level_);
    video_recorder_.WriteLogLine(line + "}");
}

void Card::DrainAudioLocked(std::int64_t t) {
    if (!audio_started_) return;
    const std::int64_t target = MulDiv(t - audio_start_, 48000, kTicks);
    std::int64_t n = target - audio_played_;
    if (n <= 0) return;
    const std::size_t frame_bytes = static_cast<std::size_t>(audio_bits_ / 8 * audio_channels_);
    const std::size_t capacity = audio_ring_.size() / frame_bytes;
    std::size_t take = static_cast<std::size_t>(
        std::min<std::int64_t>(n, static_cast<std::int64_t>(audio_count_)));
    stats_.audio_played += static_cast<std::int64_t>(take);
    while (take) {
        const std::size_t chunk = std::min(take, capacity - audio_head_);
        audio_recorder_.Write(audio_ring_.data() + audio_head_ * frame_bytes, chunk);
        audio_head_ = (audio_head_ + chunk) % capacity;
        audio_count_ -= chunk;
        take -= chunk;
        n -= static_cast<std::int64_t>(chunk);
    }
    // An empty buffer plays silence, so that the recording keeps the card's timeline.
    if (n > 0) {
        stats_.audio_silence += n;
        audio_recorder_.Write(nullptr, static_cast<std::uint64_t>(n));
    }
    audio_played_ = target;
}

void Card::EndVideoLocked() {
    video_recorder_.Close();
    pending_.reset();
    on_air_.reset();
    video_enabled_ = false;
    mode_ = nullptr;
}

void Card::EndAudioLocked() {
    audio_recorder_.Close();
    audio_enabled_ = false;
    audio_started_ = false;
    audio_ring_.clear();
    audio_head_ = audio_count_ = 0;
}

// ---- Control

HRESULT Card::SetFault(const std::string& name, double value) {
    std::lock_guard guard(mutex_);
    const auto u32 = static_cast<std::uint32_t>(static_cast<std::int64_t>(value));
    const auto i64 = static_cast<std::int64_t>(value);
    if (name == "refuse-mode")
        value ? faults_.refuse_modes.push_back(u32) : faults_.refuse_modes.clear();
    else if (name == "refuse-format")
        value ? faults_.refuse_formats.push_back(u32) : faults_.refuse_formats.clear();
    else if (name == "refuse-flags")
        faults_.refuse_flags = u32;
    else if (name == "refuse-audio")
        value ? faults_.refuse_audio.push_back(u32) : faults_.refuse_audio.clear();
    else if (name == "enable-error")
        faults_.enable_error = static_cast<HRESULT>(u32);
    else if (name == "display-error")
        faults_.display_error = static_cast<HRESULT>(u32);
    else if (name == "display-error-calls")
        faults_.display_error_calls = i64;
    else if (name == "frame-oom")
        faults_.frame_oom = std::max<std::int64_t>(0, i64);
    else if (name == "allocate-oom")
        faults_.allocate_oom = std::max<std::int64_t>(0, i64);
    else if (name == "busy")
        busy_ = u32;
    else if (name == "removed")
        faults_.removed = value != 0;
    else if (name == "reference")
        reference_ = u32;
    else if (name == "drift-ppm") {
        if (!(value >= -1000 && value <= 1000)) return E_INVALIDARG;
        if (mode_) CatchUpLocked();
        base_ = CardNowLocked();  // the new rate applies from now on
        origin_ = SourceNow();
        drift_ppm_ = value;
    } else if (name == "jitter-us")
        faults_.jitter = std::clamp<std::int64_t>(i64, 0, 1'000'000) * 10;
    else if (name == "clear") {
        const std::int64_t t = CardNowLocked();
        faults_ = Faults{};
        busy_ = 0;
        base_ = t;
        origin_ = SourceNow();
        drift_ppm_ = 0;
    } else
        return E_INVALIDARG;
    return S_OK;
}

CardStats Card::Stats() {
    std::lock_guard guard(mutex_);
    CatchUpLocked();
    CardStats s = stats_;
    s.frames_alive = frames_alive_.load();
    s.frame_bytes_alive = frame_bytes_alive_.load();
    s.release_calls = release_calls_.load();
    return s;
}

void Card::Flush() {
    std::lock_guard guard(mutex_);
    CatchUpLocked();
    video_recorder_.Flush();
}

void Card::DeviceAcquired() {
    std::lock_guard guard(mutex_);
    ++devices_;
}

void Card::DeviceReleased() {
    CComPtr<IDeckLinkMemoryAllocator> allocator;
    bool decommit = false;
    {
        std::lock_guard guard(mutex_);
        if (--devices_ > 0) return;
        if (mode_)
            CatchUpLocked();
        else
            DrainAudioLocked(CardNowLocked());
        EndVideoLocked();
        EndAudioLocked();
        allocator.Attach(allocator_.Detach());
        decommit = allocator_committed_;
        allocator_committed_ = false;
        video_callback_ = nullptr;
        audio_callback_ = nullptr;
        keyer_ = 0;
        config_flags_.clear();
        config_ints_.clear();
        config_floats_.clear();
    }
    if (allocator && decommit) {
        allocator->Decommit();
        std::lock_guard guard(mutex_);
        ++stats_.decommit_calls;
    }
}

// ---- Attributes and configuration

HRESULT Card::GetAttrFlag(BMDDeckLinkAttributeID id, BOOL* value) {
    if (!value) return E_POINTER;
    *value = FALSE;
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    switch (id) {
        case BMDDeckLinkSupportsFullDuplex:
            *value = spec_.full_duplex;
            break;
        case BMDDeckLinkSupportsInternalKeying:
            *value = spec_.key_internal;
            break;
        case BMDDeckLinkSupportsExternalKeying:
            *value = spec_.key_external;
            break;
        case BMDDeckLinkSupportsHDKeying:
            *value = spec_.key_hd;
            break;
        case BMDDeckLinkHasBypass:
            *value = spec_.bypass;
            break;
        case BMDDeckLinkHasReferenceInput:
            *value = spec_.reference != bmdReferenceNotSupportedByHardware;
            break;
        case BMDDeckLinkSupportsDesktopDisplay:
            break;
        default:
            return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT Card::GetAttrInt(BMDDeckLinkAttributeID id, LONGLONG* value) {
    if (!value) return E_POINTER;
    *value = 0;
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    switch (id) {
        case BMDDeckLinkVideoOutputConnections:
            *value = spec_.video_out;
            break;
        case BMDDeckLinkVideoInputConnections:
            *value = spec_.video_in;
            break;
        case BMDDeckLinkAudioInputConnections:
            *value = spec_.audio_in;
            break;
        case BMDDeckLinkAudioOutputConnections:
            *value = spec_.audio_out;
            break;
        case BMDDeckLinkDeviceBusyState:
            *value = busy_;
            break;
        case BMDDeckLinkMaximumAudioChannels:
            for (int c : spec_.audio_channels) *value = std::max<LONGLONG>(*value, c);
            break;
        case BMDDeckLinkNumberOfSubDevices:
            *value = 1;
            break;
        case BMDDeckLinkSubDeviceIndex:
            *value = 0;
            break;
        case BMDDeckLinkPersistentID:
            *value = 0x51D0 + index_;
            break;
        case BMDDeckLinkTopologicalID:
            *value = 0x100 * (index_ + 1);
            break;
        case BMDDeckLinkVideoIOSupport:
            *value = (spec_.video_in ? bmdDeviceSupportsCapture : 0) |
                     (spec_.video_out ? bmdDeviceSupportsPlayback : 0);
            break;
        default:
            return E_INVALIDARG;
    }
    return S_OK;
}

namespace {
bool KnownConfigFlag(BMDDeckLinkConfigurationID id) {
    return id == bmdDeckLinkConfigLowLatencyVideoOutput ||
           id == bmdDeckLinkConfigFieldFlickerRemoval || id == bmdDeckLinkConfig444SDIVideoOutput ||
           id == bmdDeckLinkConfigBlackVideoOutputDuringCapture ||
           id == bmdDeckLinkConfigUse1080pNotPsF;
}
// Old 'aicn' codes and the bits they stand for.
constexpr std::pair<std::uint32_t, std::uint32_t> kOldAudioCodes[] = {
    {bmdAudioConnectionEmbedded_v10_2, bmdAudioConnectionEmbedded},
    {bmdAudioConnectionAESEBU_v10_2, bmdAudioConnectionAESEBU},
    {bmdAudioConnectionAnalog_v10_2, bmdAudioConnectionAnalog},
    {bmdAudioConnectionAnalogXLR_v10_2, bmdAudioConnectionAnalogXLR},
    {bmdAudioConnectionAnalogRCA_v10_2, bmdAudioConnectionAnalogRCA}};
bool SubsetOf(LONGLONG v, std::uint32_t bits) {
    return v > 0 && (static_cast<std::uint64_t>(v) & ~static_cast<std::uint64_t>(bits)) == 0;
}
std::uint32_t LowestBit(std::uint32_t bits) {
    return bits & (~bits + 1);
}
}  // namespace

HRESULT Card::ConfigSetFlag(BMDDeckLinkConfigurationID id, BOOL value) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (!KnownConfigFlag(id)) return E_INVALIDARG;
    config_flags_[id] = value ? TRUE : FALSE;
    return S_OK;
}

HRESULT Card::ConfigGetFlag(BMDDeckLinkConfigurationID id, BOOL* value) {
    if (!value) return E_POINTER;
    *value = FALSE;
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (!KnownConfigFlag(id)) return E_INVALIDARG;
    if (auto it = config_flags_.find(id); it != config_flags_.end()) *value = it->second;
    return S_OK;
}

HRESULT Card::ConfigSetInt(BMDDeckLinkConfigurationID id, LONGLONG value, bool legacy) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    switch (id) {
        case bmdDeckLinkConfigVideoOutputConnection:
            if (!SubsetOf(value, spec_.video_out)) return E_INVALIDARG;
            break;
        case bmdDeckLinkConfigVideoInputConnection:
            if (!SubsetOf(value, spec_.video_in)) return E_INVALIDARG;
            break;
        case bmdDeckLinkConfigAudioInputConnection:
            if (legacy) {
                LONGLONG bit = 0;
                for (auto [code, b] : kOldAudioCodes)
                    if (value == code) bit = b;
                value = bit;
            }
            if (!SubsetOf(value, spec_.audio_in)) return E_INVALIDARG;
            break;
        case bmdDeckLinkConfigBypass:
            if (!spec_.bypass) return E_NOTIMPL;
            if (value < -1) return E_INVALIDARG;
            break;
        case bmdDeckLinkConfigVideoOutputConversionMode:
        case bmdDeckLinkConfigVideoOutputIdleOperation:
        case bmdDeckLinkConfigDefaultVideoOutputMode:
        case bmdDeckLinkConfigReferenceInputTimingOffset:
        case bmdDeckLinkConfigAnalogAudioOutputSelect:
        case bmdDeckLinkConfigDuplexMode:
            break;
        default:
            return E_INVALIDARG;
    }
    config_ints_[id] = value;
    return S_OK;
}

HRESULT Card::ConfigGetInt(BMDDeckLinkConfigurationID id, LONGLONG* value, bool legacy) {
    if (!value) return E_POINTER;
    *value = 0;
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    auto it = config_ints_.find(id);
    switch (id) {
        case bmdDeckLinkConfigVideoOutputConnection:
            *value = it != config_ints_.end() ? it->second : LowestBit(spec_.video_out);
            break;
        case bmdDeckLinkConfigVideoInputConnection:
            *value = it != config_ints_.end() ? it->second : LowestBit(spec_.video_in);
            break;
        case bmdDeckLinkConfigAudioInputConnection:
            *value = it != config_ints_.end() ? it->second : LowestBit(spec_.audio_in);
            if (legacy)
                for (auto [code, b] : kOldAudioCodes)
                    if (*value == b) *value = code;
            break;
        case bmdDeckLinkConfigBypass:
            if (!spec_.bypass) return E_NOTIMPL;
            *value = it != config_ints_.end() ? it->second : -1;
            break;
        case bmdDeckLinkConfigVideoOutputConversionMode:
        case bmdDeckLinkConfigVideoOutputIdleOperation:
        case bmdDeckLinkConfigDefaultVideoOutputMode:
        case bmdDeckLinkConfigReferenceInputTimingOffset:
        case bmdDeckLinkConfigAnalogAudioOutputSelect:
        case bmdDeckLinkConfigDuplexMode:
            if (it != config_ints_.end()) *value = it->second;
            break;
        default:
            return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT Card::ConfigSetFloat(BMDDeckLinkConfigurationID, double) {
    std::lock_guard guard(mutex_);
    return faults_.removed ? kRemoved : E_INVALIDARG;  // no float settings on these cards
}

HRESULT Card::ConfigGetFloat(BMDDeckLinkConfigurationID, double* value) {
    if (!value) return E_POINTER;
    *value = 0;
    std::lock_guard guard(mutex_);
    return faults_.removed ? kRemoved : E_INVALIDARG;
}

// ---- Keyer

HRESULT Card::KeyerEnable(BOOL external) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (external ? !spec_.key_external : !spec_.key_internal) return E_INVALIDARG;
    keyer_ = external ? 2 : 1;
    return S_OK;
}

HRESULT Card::KeyerSetLevel(unsigned char level) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    key_level_ = level;
    return S_OK;
}

HRESULT Card::KeyerRamp(unsigned int, bool up) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (!keyer_) return E_UNEXPECTED;
    key_level_ = up ? 255 : 0;  // the ramp's end state; its frames are not modelled
    return S_OK;
}

HRESULT Card::KeyerDisable() {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    keyer_ = 0;
    return S_OK;
}

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

HRESULT Card::EnableVideo(BMDDisplayMode mode, BMDVideoOutputFlags flags) {
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (FAILED(faults_.enable_error)) return faults_.enable_error;
    // Another client plays out through this card.
    if (busy_ & bmdDevicePlaybackBusy) return E_ACCESSDENIED;
    const ModeInfo* info = FindMode(mode);
    if (!info || !Contains(spec_.modes, mode) || Contains(faults_.refuse_modes, mode) ||
        (flags & ~spec_.flags) || (flags & faults_.refuse_flags))
        return E_INVALIDARG;
    if (video_enabled_) {  // a new mode starts a new stream
        CatchUpLocked();
        EndVideoLocked();
    }
    mode_ = info;
    video_flags_ = flags;
    video_enabled_ = true;
    ++segment_;
    settled_period_ = PeriodAtLocked(CardNowLocked());
    return S_OK;
}

HRESULT Card::DisableVideo() {
    CComPtr<IDeckLinkMemoryAllocator> allocator;
    {
        std::lock_guard guard(mutex_);
        if (faults_.removed) return kRemoved;
        if (video_enabled_) CatchUpLocked();
        EndVideoLocked();
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
    if (!TakePicture(frame, &shown.picture) || shown.picture.width != mode.width ||
        shown.picture.height != mode.height)
        return E_INVALIDARG;
    shown.checksum = PictureChecksum(shown.picture);
    if (flags & bmdVideoOutputDualStream3D) {
        CComPtr<IDeckLinkVideoFrame3DExtensions> ext;
        CComPtr<IDeckLinkVideoFrame> right;
        if (SUCCEEDED(frame->QueryInterface(IID_IDeckLinkVideoFrame3DExtensions,
                                            reinterpret_cast<void**>(&ext))) &&
            ext && SUCCEEDED(ext->GetFrameForRightEye(&right)) && right) {
            Picture p;
            if (!TakePicture(right, &p) || p.width != mode.width || p.height != mode.height)
                return E_INVALIDARG;
            shown.right_checksum = PictureChecksum(p);
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
    std::lock_guard guard(mutex_);
    if (faults_.removed) return kRemoved;
    if (!audio_enabled_) return E_FAIL;
    CatchUpLocked();
    const std::size_t frame_bytes = static_cast<std::size_t>(audio_bits_ / 8 * audio_channels_);
    const std::size_t capacity = audio_ring_.size() / frame_bytes;
    std::size_t take = std::min<std::size_t>(frames, capacity - audio_count_);
    if (!audio_started_ && take) {
        audio_started_ = true;
        audio_start_ = CardNowLocked();
        audio_played_ = 0;
        if (!record_folder_.empty()) {
            std::error_code ec;
            std::filesystem::create_directories(record_folder_, ec);
            audio_recorder_.Open(record_folder_ + "/" + SlugLocked() + ".wav", audio_bits_,
                                 audio_channels_);
        }
    }
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

// ---- The rig

namespace {
struct RigState {
    std::mutex lock;
    bool loaded = false;
    std::vector<std::shared_ptr<Card>> cards;
    std::string error;
};
RigState& TheRig() {
    static RigState* r = new RigState;  // outlives every card user at exit
    return *r;
}
}  // namespace

std::vector<std::shared_ptr<Card>> CurrentCards() {
    RigState& r = TheRig();
    std::lock_guard guard(r.lock);
    if (!r.loaded) {
        Rig rig = LoadConfiguredRig(&r.error);
        for (std::size_t i = 0; i < rig.cards.size(); ++i)
            r.cards.push_back(
                std::make_shared<Card>(rig.cards[i], static_cast<int>(i), rig.record));
        r.loaded = true;
    }
    return r.cards;
}

void ResetRig() {
    std::vector<std::shared_ptr<Card>> old;
    RigState& r = TheRig();
    std::lock_guard guard(r.lock);
    old.swap(r.cards);
    r.loaded = false;
    r.error.clear();
}

std::string RigError() {
    RigState& r = TheRig();
    std::lock_guard guard(r.lock);
    return r.error;
}

}  // namespace orvex::sim::decklink
