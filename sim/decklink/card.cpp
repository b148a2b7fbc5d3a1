#include "sim/decklink/card.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/clock.h"
#include "sim/decklink/card_internal.h"

namespace orvex::sim::decklink {
namespace {

std::atomic<NowFunction> g_now{nullptr};
std::atomic<void*> g_now_context{nullptr};

std::string Hex16(std::uint64_t v) {
    char s[20];
    std::snprintf(s, sizeof s, "%016llx", static_cast<unsigned long long>(v));
    return s;
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

Card::Card(CardSpec described, int index, std::string record_folder)
    : spec_(std::move(described)),
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
    video_owner_ = nullptr;
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

void Card::DeviceReleased(const void* client) {
    CComPtr<IDeckLinkMemoryAllocator> allocator;
    bool decommit = false;
    {
        std::lock_guard guard(mutex_);
        // A client that goes away without disabling its output gives the card up.
        if (client && client == video_owner_ && devices_ > 1) {
            if (mode_) CatchUpLocked();
            EndVideoLocked();
        }
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

// ---- The rig

namespace {
struct RigState {
    std::mutex lock;
    bool loaded = false;
    std::vector<std::shared_ptr<Card>> cards;
    std::string error;
};
// On the heap so that it outlives every static card user at exit; the library's unload
// handler deletes it (DestroyRig), so nothing is left behind in the host.
RigState*& RigSlot() {
    static RigState* r = new RigState;
    return r;
}
RigState& TheRig() {
    return *RigSlot();
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

void DestroyRig() {
    ResetRig();
    RigState*& r = RigSlot();
    delete r;
    r = nullptr;
}

}  // namespace orvex::sim::decklink
