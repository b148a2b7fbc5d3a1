#include "sim/decklink/card.h"

#include <algorithm>
#include <cctype>
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
std::atomic<SleepUntilFunction> g_sleep{nullptr};
std::atomic<void*> g_sleep_context{nullptr};

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

void SetSleep(SleepUntilFunction sleep_until, void* context) {
    g_sleep_context.store(context);
    g_sleep.store(sleep_until);
}

std::int64_t SourceNow() {
    NowFunction f = g_now.load();
    return f ? f(g_now_context.load()) : orvex::platform::Now();
}

void SourceSleepFor(std::int64_t duration) {
    if (duration <= 0) return;
    if (SleepUntilFunction f = g_sleep.load()) {
        f(SourceNow() + duration, g_sleep_context.load());
        return;
    }
    orvex::platform::SleepFor(duration);
}

PictureMode PictureModeFromEnvironment() {
    const char* env = std::getenv("ORVEX_DECKLINK_PICTURES");
    const std::string mode = env ? env : "";
    if (mode == "checksum") return PictureMode::kChecksum;
    if (mode == "count") return PictureMode::kCount;
    return PictureMode::kCopy;
}

std::int64_t AudioGridAt(std::int64_t card_time) {
    return -MulDiv(-card_time, kAudioRate, kTicks);  // ceiling
}

Card::Card(CardSpec described, int index, std::string record_folder)
    : spec_(std::move(described)),
      index_(index),
      record_folder_(std::move(record_folder)),
      pictures_(PictureModeFromEnvironment()),
      markers_(std::getenv("ORVEX_DECKLINK_AUDIO_MARKERS")
                   ? std::optional<MarkerWatch>(MarkerWatch())
                   : std::nullopt),
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

std::string Card::RecordingNameLocked() {
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
    // The next name no earlier recording in the folder has (a run in another process, or
    // before this one): recordings never overwrite each other.
    const std::string stem =
        (slug.empty() ? "card" : slug) + "-" + std::to_string(index_ + 1) + "-";
    for (int n = std::max(segment_, recording_number_ + 1);; ++n) {
        const std::string base = record_folder_ + "/" + stem + std::to_string(n);
        std::error_code ec;
        if (!std::filesystem::exists(base + ".jsonl", ec) &&
            !std::filesystem::exists(base + ".y4m", ec) &&
            !std::filesystem::exists(base + ".wav", ec)) {
            recording_number_ = n;
            return stem + std::to_string(n);
        }
    }
}

std::int64_t Card::PeriodAudioLocked(std::int64_t period) const {
    return -MulDiv(-period, mode_->duration * kAudioRate, mode_->scale);  // ceiling
}

void Card::CatchUpLocked() {
    const std::int64_t t = CardNowLocked();
    if (video_enabled_) {
        const std::int64_t current = PeriodAtLocked(t);
        while (settled_period_ < current) {
            // Without a recording, a run of repeats needs no work per period.
            if (!recording_ && !line_pending_ && !pending_ && on_air_) {
                const std::int64_t n = current - settled_period_;
                stats_.periods += n;
                stats_.repeats += n;
                settled_period_ = current;
                break;
            }
            const std::int64_t next = settled_period_ + 1;
            // The audio of the period that ends here has played: its line is complete.
            DrainAudioLocked(PeriodAudioLocked(next));
            FinishLineLocked();
            settled_period_ = next;
            SettlePeriodLocked(next);
        }
    }
    DrainAudioLocked(AudioGridAt(t));
}

void Card::SettlePeriodLocked(std::int64_t period) {
    bool is_new = false;
    if (pending_) {
        on_air_ = std::move(pending_);
        pending_.reset();
        is_new = true;
        ++stats_.new_frames;
        if (markers_ && audio_enabled_)
            markers_->FrameStart(PeriodAudioLocked(period),
                                 PeriodAudioLocked(period + 1) - PeriodAudioLocked(period));
    } else if (on_air_) {
        ++stats_.repeats;
    } else {
        return;  // nothing shown yet: the output is black and not recorded
    }
    ++stats_.periods;
    if (record_folder_.empty()) return;
    if (!recording_) {
        recording_ = std::make_shared<Recording>(record_folder_ + "/" + RecordingNameLocked(),
                                                 *mode_, PeriodAudioLocked(period));
        if (audio_enabled_) recording_->AudioFormat(audio_bits_, audio_channels_);
    }
    const Shown& s = *on_air_;
    line_picture_queued_ = recording_->Picture(s.picture, s.right_eye, is_new, period);
    if (!line_picture_queued_) ++stats_.recording_dropped;
    const std::int64_t boundary = -MulDiv(-period, mode_->duration * kTicks, mode_->scale);
    line_ = "{\"period\":" + std::to_string(period) + ",\"hw_time\":" + std::to_string(boundary) +
            ",\"frame\":\"" + (is_new ? "new" : "repeat") + "\",\"format\":\"" +
            FourCCText(s.picture->format) + "\",\"checksum\":\"" + Hex16(s.checksum) + "\"";
    if (s.right_eye)
        line_ += ",\"eye\":\"left+right\",\"right_checksum\":\"" + Hex16(s.right_checksum) + "\"";
    if (!s.timecode_json.empty()) line_ += ",\"timecode\":" + s.timecode_json;
    if (!s.vanc_json.empty()) line_ += ",\"vanc\":" + s.vanc_json;
    if (keyer_)
        line_ += std::string(",\"keyer\":\"") + (keyer_ == 2 ? "external" : "internal") +
                 "\",\"key_level\":" + std::to_string(key_level_);
    line_pending_ = true;
    line_audio_pos_ = PeriodAudioLocked(period);
    period_silence_ = 0;
}

void Card::FinishLineLocked() {
    if (!line_pending_) return;
    line_pending_ = false;
    if (!recording_) return;
    if (audio_enabled_)
        line_ += ",\"audio_pos\":" + std::to_string(line_audio_pos_ - recording_->audio_origin()) +
                 ",\"audio_silence\":" + std::to_string(period_silence_);
    recording_->Line(std::move(line_), line_picture_queued_);
    line_.clear();
}

void Card::DrainAudioLocked(std::int64_t grid) {
    if (!audio_enabled_) return;
    std::int64_t n = grid - audio_grid_;
    if (n <= 0) return;
    const std::size_t frame_bytes = static_cast<std::size_t>(audio_bits_ / 8 * audio_channels_);
    const std::size_t capacity = audio_ring_.size() / frame_bytes;
    std::size_t take = static_cast<std::size_t>(
        std::min<std::int64_t>(n, static_cast<std::int64_t>(audio_count_)));
    stats_.audio_played += static_cast<std::int64_t>(take);
    while (take) {
        const std::size_t chunk = std::min(take, capacity - audio_head_);
        if (recording_)
            recording_->Audio(audio_grid_, audio_ring_.data() + audio_head_ * frame_bytes, chunk);
        if (markers_)
            markers_->Samples(audio_grid_, audio_ring_.data() + audio_head_ * frame_bytes, chunk,
                              frame_bytes, audio_bits_);
        audio_head_ = (audio_head_ + chunk) % capacity;
        audio_count_ -= chunk;
        audio_grid_ += static_cast<std::int64_t>(chunk);
        take -= chunk;
        n -= static_cast<std::int64_t>(chunk);
    }
    // An empty buffer plays silence.
    if (n > 0) {
        if (audio_started_) stats_.audio_silence += n;
        period_silence_ += n;
        if (recording_) recording_->Audio(audio_grid_, nullptr, static_cast<std::uint64_t>(n));
        audio_grid_ += n;
    }
}

std::string Card::ClaimName() const {
    std::string slug;
    for (char c : spec_.model) slug += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
    return "decklink-sim-" + slug + "-" + std::to_string(index_);
}

std::shared_ptr<Recording> Card::EndVideoLocked() {
    if (video_enabled_) DrainAudioLocked(AudioGridAt(CardNowLocked()));
    FinishLineLocked();  // the last period, as far as it played
    if (recording_) stats_.recording_dropped += static_cast<std::int64_t>(recording_->Dropped());
    std::shared_ptr<Recording> closing = std::move(recording_);
    recording_.reset();
    pending_.reset();
    on_air_.reset();
    video_enabled_ = false;
    video_owner_ = nullptr;
    claim_.Close();
    mode_ = nullptr;
    return closing;
}

void Card::EndAudioLocked() {
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
    else if (name.rfind("stall-", 0) == 0 || name.rfind("late-", 0) == 0) {
        // "stall-CALL-us": every call of a kind waits that long; "late-CALL-us": the next one.
        static const char* const kCalls[kCallKinds] = {"display", "audio", "clock"};
        const bool stall = name[0] == 's';
        const std::string call = name.substr(stall ? 6 : 5);
        int kind = -1;
        for (int k = 0; k < kCallKinds; ++k)
            if (call == std::string(kCalls[k]) + "-us") kind = k;
        if (kind < 0 || !(value >= 0 && value <= 60e6)) return E_INVALIDARG;
        (stall ? stall_ : late_)[static_cast<std::size_t>(kind)] = i64 * 10;
    } else if (name == "audio-refuse")
        audio_refuse_ = std::max<std::int64_t>(0, i64);
    else if (name == "audio-refuse-calls")
        audio_refuse_calls_ = i64;
    else if (name == "clear") {
        const std::int64_t t = CardNowLocked();
        faults_ = Faults{};
        stall_ = {};
        late_ = {};
        audio_refuse_ = 0;
        audio_refuse_calls_ = -1;
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
    if (recording_) s.recording_dropped += static_cast<std::int64_t>(recording_->Dropped());
    if (markers_) s.markers = markers_->Figures();
    s.frames_alive = frames_alive_.load();
    s.frame_bytes_alive = frame_bytes_alive_.load();
    s.release_calls = release_calls_.load();
    s.clock = CardNowLocked();
    return s;
}

void Card::Flush() {
    std::shared_ptr<Recording> recording;
    {
        std::lock_guard guard(mutex_);
        CatchUpLocked();
        recording = recording_;
    }
    if (recording) recording->Drain();
}

void Card::Stall(Call call) {
    std::int64_t wait = 0;
    {
        std::lock_guard guard(mutex_);
        const auto k = static_cast<std::size_t>(call);
        wait = stall_[k] + late_[k];
        late_[k] = 0;
    }
    SourceSleepFor(wait);
}

void Card::DeviceAcquired() {
    std::lock_guard guard(mutex_);
    ++devices_;
}

void Card::DeviceReleased(const void* client) {
    CComPtr<IDeckLinkMemoryAllocator> allocator;
    bool decommit = false;
    std::shared_ptr<Recording> closing;  // closed once the lock is released
    {
        std::lock_guard guard(mutex_);
        // A client that goes away without disabling its output gives the card up.
        if (client && client == video_owner_ && devices_ > 1) {
            if (mode_) CatchUpLocked();
            closing = EndVideoLocked();
        }
        if (--devices_ > 0) return;
        if (mode_)
            CatchUpLocked();
        else
            DrainAudioLocked(AudioGridAt(CardNowLocked()));
        if (auto last = EndVideoLocked()) closing = std::move(last);
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
