// One virtual card: its rig entry, faults, configuration, keyer, and the output engine.
//
// Time. The card's hardware clock is the platform clock (or the time source a test installs
// through the control API), scaled by the card's drift. Periods are not driven by a thread of
// the card: every call catches the card up to "now" first, settling each period boundary
// that passed since the last call (showing the pending frame or repeating the last one,
// draining audio at 48 kHz, writing the recording). The outcome depends only on the clock
// readings, so a virtual clock gives the same result on every run and a test never waits
// for a card thread; the recording of the last periods is completed when the card is next
// called, flushed, disabled or released.
//
// Audio. The card's audio runs on a sample grid anchored at card time 0: sample k starts at
// k / 48000 s, and a period's audio starts with the first sample that starts at or after the
// period. What is written plays from the first grid sample not yet played; an empty buffer
// plays silence. The recording's WAV starts with the first recorded period, and each period's
// log line gives that period's first sample in the WAV ("audio_pos") and the silence played
// in it ("audio_silence"), so that audio and pictures can be compared sample by sample.
//
// Recording. Files are written by each recording's own writer thread (Recording), never on
// the thread of a card call. A period's log line is completed at the next boundary, once its
// audio has played.
//
// Locking. One mutex per card guards everything below; it is never held while the host's
// allocator is called (the host's Decommit may wait for buffers that another thread returns
// through the card), while a call stalls by a fault, or while a recording is drained or
// closed.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "com/ptr.h"
#include "decklink/api/decklink_api.h"
#include "platform/named_claim.h"
#include "sim/common/marker_watch.h"
#include "sim/decklink/recorder.h"
#include "sim/decklink/recording.h"
#include "sim/decklink/rig.h"

namespace orvex::sim::decklink {

using NowFunction = std::int64_t (*)(void* context);
using SleepUntilFunction = void (*)(std::int64_t deadline, void* context);
// The time source of every card (100-ns ticks); null restores the platform clock.
void SetTimeSource(NowFunction now, void* context);
// How a stalled call waits on that time source; null sleeps on the platform clock.
void SetSleep(SleepUntilFunction sleep_until, void* context);
std::int64_t SourceNow();
void SourceSleepFor(std::int64_t duration);

// The card's audio sample rate, and the grid index of the first sample that starts at or
// after `card_time` (100-ns ticks).
constexpr std::int64_t kAudioRate = 48000;
std::int64_t AudioGridAt(std::int64_t card_time);

// What the card took from a frame at DisplayVideoFrameSync.
struct Shown {
    std::shared_ptr<const Picture> picture;
    std::shared_ptr<const Picture> right_eye;
    std::uint64_t checksum = 0, right_checksum = 0;
    std::string timecode_json;  // {"rpv1":"10:00:00:00",...} or empty
    std::string vanc_json;      // [{"line":9,...}] or empty
};

// What the card keeps of each frame it is shown: a copy (recorded as pictures), only its
// checksum, or nothing but the count (for measuring the host's own cost). The environment
// variable ORVEX_DECKLINK_PICTURES chooses: "copy" (the default), "checksum" or "count".
enum class PictureMode { kCopy, kChecksum, kCount };
PictureMode PictureModeFromEnvironment();

struct CardStats {
    std::int64_t periods = 0, new_frames = 0, repeats = 0, replaced = 0;
    std::int64_t frames_alive = 0, frame_bytes_alive = 0;
    std::int64_t allocate_calls = 0, release_calls = 0, commit_calls = 0, decommit_calls = 0;
    std::int64_t audio_played = 0, audio_silence = 0;
    std::int64_t recording_dropped = 0;  // parts of the recording the writer could not take
    MarkerFigures markers;               // with ORVEX_DECKLINK_AUDIO_MARKERS=1
    std::int64_t clock = 0;              // the card's clock when they were read
};

class Card : public std::enable_shared_from_this<Card> {
public:
    Card(CardSpec described, int index, std::string record_folder);
    ~Card();

    const CardSpec& described() const { return spec_; }
    int index() const { return index_; }
    std::mutex& mutex() { return mutex_; }

    // ---- Control (tests and tools).
    HRESULT SetFault(const std::string& name, double value);
    CardStats Stats();
    void Flush();  // catch up and wait until the recording files hold it

    // ---- Attributes and configuration.
    HRESULT GetAttrFlag(BMDDeckLinkAttributeID id, BOOL* value);
    // `client` is the device object asking: a card whose output another client holds reads
    // as busy with playback to everyone else.
    HRESULT GetAttrInt(BMDDeckLinkAttributeID id, LONGLONG* value, const void* client = nullptr);
    HRESULT ConfigSetFlag(BMDDeckLinkConfigurationID id, BOOL value);
    HRESULT ConfigGetFlag(BMDDeckLinkConfigurationID id, BOOL* value);
    HRESULT ConfigSetInt(BMDDeckLinkConfigurationID id, LONGLONG value, bool legacy);
    HRESULT ConfigGetInt(BMDDeckLinkConfigurationID id, LONGLONG* value, bool legacy);
    HRESULT ConfigSetFloat(BMDDeckLinkConfigurationID id, double value);
    HRESULT ConfigGetFloat(BMDDeckLinkConfigurationID id, double* value);

    // ---- Keyer.
    HRESULT KeyerEnable(BOOL external);
    HRESULT KeyerSetLevel(unsigned char level);
    HRESULT KeyerRamp(unsigned int frames, bool up);
    HRESULT KeyerDisable();

    // ---- Output.
    bool Removed();
    HRESULT Supports(BMDDisplayMode mode, BMDPixelFormat format, BMDVideoOutputFlags flags,
                     BMDDisplayModeSupport* result);
    // The output belongs to the client that enabled it until that client disables it or lets
    // the card go; other clients are refused meanwhile, as another program would be.
    HRESULT EnableVideo(BMDDisplayMode mode, BMDVideoOutputFlags flags,
                        const void* client = nullptr);
    HRESULT DisableVideo(const void* client = nullptr);
    HRESULT SetAllocator(IDeckLinkMemoryAllocator* allocator);
    HRESULT CreateFrame(int width, int height, int row_bytes, BMDPixelFormat format,
                        BMDFrameFlags flags, IDeckLinkMutableVideoFrame** out);
    HRESULT CreateAncillary(BMDPixelFormat format, IDeckLinkVideoFrameAncillary** out);
    HRESULT DisplaySync(IDeckLinkVideoFrame* frame);
    HRESULT BufferedVideo(unsigned int* count);
    HRESULT EnableAudio(BMDAudioSampleRate rate, BMDAudioSampleType type, unsigned int channels,
                        BMDAudioOutputStreamType stream);
    HRESULT DisableAudio();
    HRESULT WriteAudio(const void* data, unsigned int frames, unsigned int* written);
    HRESULT BufferedAudio(unsigned int* count);
    HRESULT FlushAudio();
    HRESULT ReferenceStatus(BMDReferenceStatus* status);
    HRESULT HardwareClock(BMDTimeScale scale, BMDTimeValue* hw, BMDTimeValue* in_frame,
                          BMDTimeValue* ticks_per_frame);
    HRESULT StreamTime(BMDTimeScale scale, BMDTimeValue* time, double* speed);
    HRESULT SetVideoCallback(IDeckLinkVideoOutputCallback* callback);
    HRESULT SetAudioCallback(IDeckLinkAudioOutputCallback* callback);

    // Frames return their memory here (never under the card lock).
    void FrameMemoryReleased(std::int64_t bytes, bool own_memory);
    // Device objects of this card come and go; when the last one goes the output ends, as a
    // driver ends it when its client lets go.
    void DeviceAcquired();
    void DeviceReleased(const void* client = nullptr);

private:
    // Calls a fault may stall or make late.
    enum Call { kCallDisplay, kCallAudio, kCallClock, kCallKinds };
    // Waits (without the lock) as the faults on `call` ask.
    void Stall(Call call);

    // Caller holds mutex_.
    std::int64_t CardNowLocked();  // card time in 100-ns ticks
    std::int64_t PeriodAtLocked(std::int64_t card_time) const;
    std::int64_t PeriodAudioLocked(std::int64_t period) const;  // grid index of its start
    void CatchUpLocked();
    void SettlePeriodLocked(std::int64_t period);
    void FinishLineLocked();
    void DrainAudioLocked(std::int64_t grid);  // plays the grid up to `grid`
    // Ends the output; the recording is handed back to be closed without the lock.
    [[nodiscard]] std::shared_ptr<Recording> EndVideoLocked();
    void EndAudioLocked();
    // "<model>-<card>-<n>": n the output's number, or the next that no recording in the
    // folder has yet.
    std::string RecordingNameLocked();

    const CardSpec spec_;
    const int index_;
    const std::string record_folder_;
    const PictureMode pictures_;
    // Where marked frames' audio began against their periods (ORVEX_DECKLINK_AUDIO_MARKERS=1).
    std::optional<MarkerWatch> markers_;
    std::mutex mutex_;

    Faults faults_;
    std::uint32_t busy_;
    BMDReferenceStatus reference_;
    std::map<std::uint32_t, LONGLONG> config_ints_;
    std::map<std::uint32_t, BOOL> config_flags_;
    std::map<std::uint32_t, double> config_floats_;
    int keyer_ = 0;  // 0 off, 1 internal, 2 external
    int key_level_ = 255;

    // Clock: card time = base + (source - origin) * (1 + drift).
    std::int64_t origin_ = 0;
    std::int64_t base_ = 0;
    double drift_ppm_ = 0;
    std::uint64_t jitter_state_ = 0x9E3779B97F4A7C15ull;
    std::int64_t last_reading_ = 0;

    // Video output.
    bool video_enabled_ = false;
    const void* video_owner_ = nullptr;  // the client holding the output
    // The output's claim across processes while a client of this process holds it: another
    // process reads the card as busy with playback, and the claim goes when this one dies.
    platform::NamedClaim claim_;
    std::string ClaimName() const;
    const ModeInfo* mode_ = nullptr;
    BMDVideoOutputFlags video_flags_ = 0;
    std::int64_t settled_period_ = 0;  // last period whose boundary was settled
    std::optional<Shown> pending_;     // shown from the next boundary
    std::optional<Shown> on_air_;
    int segment_ = 0;
    int recording_number_ = 0;  // of the last recording
    std::shared_ptr<Recording> recording_;
    std::string line_;  // the settled period's line, completed at the next boundary
    bool line_pending_ = false, line_picture_queued_ = false;
    std::int64_t line_audio_pos_ = 0;  // grid index of the line's period start
    CComPtr<IDeckLinkMemoryAllocator> allocator_;
    bool allocator_committed_ = false;
    CComPtr<IDeckLinkVideoOutputCallback> video_callback_;
    CComPtr<IDeckLinkAudioOutputCallback> audio_callback_;

    // Audio output.
    bool audio_enabled_ = false;
    int audio_bits_ = 0, audio_channels_ = 0;
    std::vector<std::uint8_t> audio_ring_;  // capacity = audio_buffer sample frames
    std::size_t audio_head_ = 0;            // sample frames
    std::size_t audio_count_ = 0;
    bool audio_started_ = false;       // something was written since audio was enabled
    std::int64_t audio_grid_ = 0;      // grid index of the next sample to play: the buffer's head
    std::int64_t period_silence_ = 0;  // silence played since the line's period began

    // Faults on the timing of calls, and on audio writes.
    std::array<std::int64_t, kCallKinds> stall_{};  // ticks every call of a kind waits
    std::array<std::int64_t, kCallKinds> late_{};   // ticks the next call of a kind waits
    std::int64_t audio_refuse_ = 0;                 // sample frames each write leaves untaken
    std::int64_t audio_refuse_calls_ = -1;          // writes still to refuse; -1 every write

    int devices_ = 0;
    CardStats stats_;
    std::atomic<std::int64_t> frames_alive_{0}, frame_bytes_alive_{0};
    std::atomic<std::int64_t> release_calls_{0};
};

// The cards of the loaded rig (loaded on first use).
std::vector<std::shared_ptr<Card>> CurrentCards();
// Drops the rig so that the next use reads the setting again; cards still referenced by
// device objects live on.
void ResetRig();
// Closes and frees the rig for good: only when the library unloads.
void DestroyRig();
std::string RigError();

}  // namespace orvex::sim::decklink
