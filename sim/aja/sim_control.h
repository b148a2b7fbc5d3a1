/* Control entry points of the virtual AJA board library, for tests, tools and benchmarks.
   Find them with dlsym/GetProcAddress on the loaded driver library; the renderer never calls
   them. Results are 0 on success, negative on a bad argument. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int64_t (*OxSimAjaNowFunction)(void* context);                       /* 100-ns ticks */
typedef void (*OxSimAjaSleepUntilFunction)(int64_t deadline, void* context); /* 100-ns ticks */

typedef struct OxSimAjaChannelStats {
    int64_t interrupts;        /* output vertical interrupts since the ring started */
    int64_t frames_played;     /* interrupts that put a new ring frame on air */
    int64_t frames_dropped;    /* interrupts with an empty ring after the first frame (repeats) */
    int64_t transfers;         /* frames accepted into the ring */
    int64_t transfer_errors;   /* transfers refused (full ring, injected DMA failure, ...) */
    int64_t buffer_level;      /* frames waiting in the ring */
    int64_t audio_samples;     /* sample frames played with the frames on air */
    int64_t state;             /* NTV2AutoCirculateState */
    int64_t sessions;          /* times the ring was initialised */
    int64_t audio_silence;     /* sample frames of silence played since the first frame */
    int64_t audio_cut;         /* sample frames cut: a frame carried more than its interrupt */
    int64_t recording_dropped; /* parts of the recording left out: the writer fell behind */
    /* With ORVEX_AJA_AUDIO_MARKERS=1, for hosts whose frames carry a marker in the first sample
       of channel 0 (silence there elsewhere): frames whose marker was found, frames without
       one, and the least and greatest offset of a marker from its frame's interrupt, in
       sample frames (positive: late). */
    int64_t marked_frames, unmarked_frames, marker_offset_min, marker_offset_max;
} OxSimAjaChannelStats;

/* The clock every board runs on; null functions restore the platform clock. `sleep_until`
   is how a wait for a vertical interrupt passes time (null: the platform's sleep). */
typedef void (*OxSimAjaSetTimeSourceFn)(OxSimAjaNowFunction now,
                                        OxSimAjaSleepUntilFunction sleep_until, void* context);
#define OX_SIM_AJA_SET_TIME_SOURCE "OxSimAjaSetTimeSource"

/* Forgets the loaded rig; the next scan reads the rig setting again. */
typedef int32_t (*OxSimAjaResetFn)(void);
#define OX_SIM_AJA_RESET "OxSimAjaReset"

/* Number of boards of the loaded rig (loading it if needed); the reason a rig failed to load
   is copied into `error` (may be null). */
typedef int32_t (*OxSimAjaBoardCountFn)(char* error, int32_t error_size);
#define OX_SIM_AJA_BOARD_COUNT "OxSimAjaBoardCount"

/* Faults by name: "refuse-format" (NTV2 video format refused; 0 clears), "refuse-reference"
   (NTV2 reference source refused; -1 clears), "no-interrupt" (0/1: the output interrupt
   cannot be subscribed and waits fail), "dma-fail" (transfers that fail; -1 every one),
   "removed" (0/1: the board stops answering), "stall-transfer-us" (every transfer waits that
   long before it acts; 0 ends it), "late-transfer-us" (the next transfer alone waits),
   "clear" (no faults). */
typedef int32_t (*OxSimAjaSetFaultFn)(int32_t board, const char* name, double value);
#define OX_SIM_AJA_SET_FAULT "OxSimAjaSetFault"

/* Catches the board up to now and returns the channel's ring counters. */
typedef int32_t (*OxSimAjaStatsFn)(int32_t board, int32_t channel, OxSimAjaChannelStats* stats);
#define OX_SIM_AJA_STATS "OxSimAjaStats"

/* A register as the board holds it (see ntv2driver.h for the numbering). */
typedef int32_t (*OxSimAjaRegisterFn)(int32_t board, uint32_t reg, uint32_t* value);
#define OX_SIM_AJA_REGISTER "OxSimAjaRegister"

/* Catches the board up to now and flushes its recording files. */
typedef int32_t (*OxSimAjaFlushFn)(int32_t board);
#define OX_SIM_AJA_FLUSH "OxSimAjaFlush"

#ifdef __cplusplus
}
#endif
