// One virtual AJA board: its registers and routing as the card-access classes set them, and
// per channel an AutoCirculate ring that plays one frame per vertical interrupt at the
// format's rate on the board clock (the platform clock, or a test's through the time source).
// The board is passive: it catches up with the clock whenever it is called. One lock guards
// everything; waits for an interrupt, stalls by a fault and closing or draining a recording
// happen without it.
//
// Audio follows its frame, as AutoCirculate keeps it: from the first frame on air the channel
// plays the audio cadence of its rate (1602, 1601, ... sample frames per interrupt at 29.97),
// and each interrupt that puts a new frame on air starts that frame's audio at its first
// sample. A frame with less audio than its interrupt is followed by silence, one with more is
// cut there (counted), and a repeated frame plays silence. The recording's WAV starts with the
// first frame on air, and each interrupt's log line gives its first sample in the WAV
// ("audio_pos") and the silence played in it ("audio_silence").
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "aja/ntv2/ntv2driver.h"
#include "sim/aja/recorder.h"
#include "sim/aja/rig.h"
#include "sim/aja/sim_control.h"
#include "sim/common/marker_watch.h"

namespace orvex::sim::aja {

using Ticks = std::int64_t;

// The board clock (see OxSimAjaSetTimeSource).
Ticks BoardNow();
void BoardSleepUntil(Ticks deadline);
void SetTimeSource(OxSimAjaNowFunction now, OxSimAjaSleepUntilFunction sleep, void* context);

class Board {
public:
    Board(BoardSpec model, int index, std::string record_folder);
    ~Board();

    const BoardSpec& model() const { return spec_; }
    OxNtv2BoardInfo Info() const;

    int32_t Open();
    void Close();
    int32_t ReadRegister(uint32_t reg, uint32_t* value);
    int32_t WriteRegister(uint32_t reg, uint32_t value);
    int32_t AutoCirculate(uint32_t command, uint32_t crosspoint, const OxNtv2AcInit* init,
                          uint64_t start_time);
    int32_t Status(uint32_t crosspoint, AUTOCIRCULATE_STATUS_STRUCT* status);
    int32_t Transfer(const AUTOCIRCULATE_TRANSFER_STRUCT* transfer,
                     const AUTOCIRCULATE_TASK_STRUCT* tasks,
                     AUTOCIRCULATE_TRANSFER_STATUS_STRUCT* status);
    int32_t WaitOutputVertical(uint32_t channel, uint32_t timeout_ms);

    int32_t SetFault(const std::string& name, double value);
    std::uint32_t PeekRegister(std::uint32_t reg);  // also on a removed board
    OxSimAjaChannelStats Stats(int channel);
    void Flush();

private:
    struct Slot {
        std::shared_ptr<const std::vector<std::uint8_t>> video;
        std::vector<std::uint8_t> audio;
        std::uint32_t video_bytes = 0;
        std::uint32_t audio_frames = 0;
        std::uint64_t checksum = 0;
        RP188_STRUCT timecode{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
        std::int32_t frame = 0;
        std::uint64_t transfer = 0;
    };
    struct Ring {
        NTV2AutoCirculateState state = NTV2_AUTOCIRCULATE_DISABLED;
        std::int32_t start_frame = 0, end_frame = 0;
        std::uint32_t audio_system = 0, options = 0;
        std::vector<Slot> slots;
        std::deque<std::size_t> queued;  // slot indices in play order
        std::size_t next_slot = 0;
        std::int64_t on_air = -1;   // slot on air, -1 none
        std::int64_t next_vbi = 0;  // index on the channel's interrupt grid
        bool played_any = false;
        std::int64_t audio_interrupts = 0;  // interrupts since the first frame went on air
        std::int64_t audio_pos = 0;         // sample frames played since then
        std::uint64_t transfers = 0;
        OxSimAjaChannelStats stats{};
        std::shared_ptr<Recorder> recorder;
        std::int64_t recording_dropped = 0;  // of the recordings closed before
        MarkerWatch markers;                 // with ORVEX_AJA_AUDIO_MARKERS=1
    };

    bool RateOf(int channel, std::uint32_t* num, std::uint32_t* den) const;
    NTV2VideoFormat FormatOf(int channel) const;
    Ticks VbiTime(std::int64_t index, std::uint32_t num, std::uint32_t den) const;
    std::int64_t VbiAfter(Ticks t, std::uint32_t num, std::uint32_t den) const;
    void CatchUp();
    void PlayInterrupt(int channel, Ring& ring, std::int64_t vbi, Ticks when);
    // Ends the ring's recording; it is closed by the caller once the lock is released.
    [[nodiscard]] std::shared_ptr<Recorder> EndRecording(Ring& ring);
    [[nodiscard]] std::shared_ptr<Recorder> StartRecording(int channel, Ring& ring);
    int32_t AutoCirculateLocked(uint32_t command, uint32_t crosspoint, const OxNtv2AcInit* init,
                                std::shared_ptr<Recorder>* closing);
    bool ValidWrite(uint32_t reg, uint32_t value) const;
    std::uint32_t FramesInMemory(NTV2VideoFormat format) const;

    const BoardSpec spec_;
    const int index_;
    const std::string record_folder_;
    std::mutex lock_;
    std::array<std::uint32_t, OX_NTV2_REG_COUNT> regs_{};
    std::array<Ring, 8> rings_;
    int sessions_ = 0;
    // Faults
    std::vector<std::uint32_t> refuse_formats_;
    std::int64_t refuse_reference_ = -1;
    bool no_interrupt_ = false;
    std::int64_t dma_fail_ = 0;
    bool removed_ = false;
    Ticks stall_transfer_ = 0, late_transfer_ = 0;
    const bool watch_markers_;
};

// The loaded rig (read on first use) and its load error.
std::vector<std::shared_ptr<Board>> CurrentBoards();
std::string RigError();
void ResetRig();

}  // namespace orvex::sim::aja
