// The playing itself: each planned period becomes a frame of the SDK's frame factory, handed
// to the renderer through IOXReceiver; the renderer's queue sets the pace.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orvex/orvex.h"
#include "tools/oxplay/compose.h"
#include "tools/oxplay/report.h"
#include "tools/oxplay/schedule.h"

namespace oxplay {

struct Renderer {
    IOXDevice* device = nullptr;
    IOXReceiver* receiver = nullptr;
    IOXFactory* factory = nullptr;
    IOXProps* props = nullptr;
};

struct PlaySetup {
    M_VID_PROPS output{};  // the output's format, as the renderer converts to it
    OutputClock clock;     // its rate and field order
    FitSettings fit;
    std::shared_ptr<const Image> bars;  // shown when the source has no video
    AudioInfo audio;                    // the source's sound, as the plans carry it
    TimecodeClock timecode;
    const std::vector<std::vector<std::uint8_t>>* captions = nullptr;
    bool live = false;
};

struct PlayOutcome {
    std::int64_t played = 0;  // periods handed over
    int exit_code = 0;
    bool stopped = false;  // by Ctrl-C
    double seconds = 0;    // on the wall clock, to the end of the final wait
    Figures figures;       // the renderer's, once the last frame had time to go out
};

Figures ReadFigures(IOXProps* props);

// Plays until the schedule ends or `stop` is set; a failure is printed (one line) and given
// as the exit code (2 when nothing played and the input was at fault, else 1).
PlayOutcome Play(Schedule& schedule, const PlaySetup& setup, const Renderer& renderer,
                 const std::atomic<bool>& stop);

}  // namespace oxplay
