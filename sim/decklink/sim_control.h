/* Control entry points of the virtual DeckLink card library, for tests and tools. Find them
   with dlsym/GetProcAddress on the loaded card library; the renderer never calls them.
   Results are HRESULT values (0 = success). */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int64_t (*OxSimNowFunction)(void* context); /* 100-ns ticks */

typedef struct OxSimCardStats {
    int64_t periods;           /* hardware periods with a picture on air */
    int64_t new_frames;        /* periods that began a new frame */
    int64_t repeats;           /* periods that repeated the last frame */
    int64_t replaced;          /* frames replaced by a later one within a period */
    int64_t frames_alive;      /* frames created and not yet released */
    int64_t frame_bytes_alive; /* card-owned frame memory in use */
    int64_t allocate_calls;    /* host allocator: AllocateBuffer */
    int64_t release_calls;     /* host allocator: ReleaseBuffer */
    int64_t commit_calls;
    int64_t decommit_calls;
    int64_t audio_played;      /* sample frames played from the buffer */
    int64_t audio_silence;     /* sample frames of silence played on underrun */
    int64_t recording_dropped; /* parts of the recording left out: the writer fell behind */
    /* With ORVEX_DECKLINK_AUDIO_MARKERS=1, for hosts whose frames carry a marker in the first
       sample of channel 0 (silence there elsewhere): frames whose marker was found, frames
       without one, and the least and greatest offset of a marker from its frame's first
       period, in sample frames (positive: late). */
    int64_t marked_frames, unmarked_frames, marker_offset_min, marker_offset_max;
    int64_t clock; /* the card's clock when the figures were read, 100 ns */
} OxSimCardStats;

/* The clock every card runs on; null restores the platform clock. */
typedef void (*OxSimSetTimeSourceFn)(OxSimNowFunction now, void* context);
#define OX_SIM_SET_TIME_SOURCE "OxSimDeckLinkSetTimeSource"

/* How a call stalled by a fault waits: until `deadline` on the time source's clock. Null
   sleeps on the platform clock. Tests on a virtual clock give one that advances it. */
typedef void (*OxSimSleepUntilFunction)(int64_t deadline, void* context);
typedef void (*OxSimSetSleepFn)(OxSimSleepUntilFunction sleep_until, void* context);
#define OX_SIM_SET_SLEEP "OxSimDeckLinkSetSleep"

/* Forgets the loaded rig; the next iterator reads the rig setting again. */
typedef int32_t (*OxSimResetFn)(void);
#define OX_SIM_RESET "OxSimDeckLinkReset"

/* Number of cards of the loaded rig (loading it if needed); the reason a rig failed to load
   is copied into `error` (may be null). */
typedef int32_t (*OxSimCardCountFn)(char* error, int32_t error_size);
#define OX_SIM_CARD_COUNT "OxSimDeckLinkCardCount"

/* Faults by name: "refuse-mode" (mode code; 0 clears), "refuse-format" (pixel format; 0
   clears), "refuse-flags" (mask), "refuse-audio" ((bits << 16) | channels; 0 clears),
   "enable-error" (HRESULT; 0 clears), "display-error" (HRESULT; 0 clears),
   "display-error-calls" (calls that fail; -1 every call), "frame-oom" (CreateVideoFrame calls
   that fail), "allocate-oom" (frames from the host allocator that fail), "busy" (busy-state
   bits), "removed" (0/1), "reference" (reference status bits), "drift-ppm", "jitter-us",
   "stall-display-us", "stall-audio-us", "stall-clock-us" (every DisplayVideoFrameSync,
   WriteAudioSamplesSync or GetHardwareReferenceClock waits that long before it acts; 0 ends
   it), "late-display-us", "late-audio-us", "late-clock-us" (the next such call alone waits),
   "audio-refuse" (each WriteAudioSamplesSync leaves that many of its sample frames untaken),
   "audio-refuse-calls" (writes it applies to; -1 every write), "clear" (no faults). */
typedef int32_t (*OxSimSetFaultFn)(int32_t card, const char* name, double value);
#define OX_SIM_SET_FAULT "OxSimDeckLinkSetFault"

/* Catches the card up to now and returns its counters. */
typedef int32_t (*OxSimStatsFn)(int32_t card, OxSimCardStats* stats);
#define OX_SIM_STATS "OxSimDeckLinkStats"

/* Catches the card up to now and flushes its recording files. */
typedef int32_t (*OxSimFlushFn)(int32_t card);
#define OX_SIM_FLUSH "OxSimDeckLinkFlush"

#ifdef __cplusplus
}
#endif
