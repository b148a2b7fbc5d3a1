/* The driver interface under the NTV2 card-access classes: what a board driver offers to
   user space (board list, register reads and writes, AutoCirculate control, DMA transfers,
   vertical interrupts). The classes above it are the only callers.

   A driver is a shared library registered under HKEY_CLASSES_ROOT\Orvex.NTV2Driver (default
   value: the library's path; a driver writes it from its DllRegisterServer). The library
   exports OxNtv2DriverEntry, which returns the function table below for the version asked
   for. The virtual boards (libOXAjaSim) are one such driver; a build on the vendor's kernel
   driver would be another.

   Results: 0 success, else a negative code of the list below. */
#pragma once

#include <stdint.h>

#include "aja/ntv2/ntv2enums.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OX_NTV2_DRIVER_KEY u"Orvex.NTV2Driver"
#define OX_NTV2_DRIVER_ENTRY "OxNtv2DriverEntry"
#define OX_NTV2_DRIVER_VERSION 1u

enum {
    OX_NTV2_OK = 0,
    OX_NTV2_E_INVALID = -22,  /* bad argument or register */
    OX_NTV2_E_REFUSED = -95,  /* the board cannot do the value written */
    OX_NTV2_E_GONE = -19,     /* the board was removed */
    OX_NTV2_E_TIMEOUT = -110, /* no interrupt within the time-out */
    OX_NTV2_E_IO = -5,        /* a DMA transfer failed */
    OX_NTV2_E_BUSY = -16,     /* the ring is full or not running */
    OX_NTV2_E_NOTSUP = -38    /* the board offers no such service */
};

/* What a board is, as the driver reports it. */
typedef struct OxNtv2BoardInfo {
    uint32_t device_id;
    uint32_t pci_slot;
    uint64_t serial;
    char identifier[64]; /* unique per board, names cross-process claims */
    char model[48];
    uint16_t frame_stores;
    uint16_t sdi_outputs;
    uint16_t hdmi_outputs;
    uint16_t analog_outputs;
    uint16_t audio_systems;
    uint16_t max_audio_channels;
    uint16_t reference_inputs; /* SDI inputs usable as reference */
    uint8_t multi_format;
    uint8_t bidirectional_sdi;
    uint8_t audio_96k;
    uint8_t rp188;
    uint32_t frame_buffers;     /* frames of 1080-line 8-bit 4:2:2 in board memory */
    uint32_t video_formats[16]; /* bit set over NTV2VideoFormat values below 512 */
    uint32_t pixel_formats;     /* bit set over NTV2FrameBufferFormat values */
} OxNtv2BoardInfo;

/* Registers: our own numbering. Per-channel registers are base + channel (0..7); per audio
   system registers base + system; routing registers base + input crosspoint value. */
#define OX_NTV2_REG_TASK_MODE 1u
#define OX_NTV2_REG_MULTI_FORMAT 2u
#define OX_NTV2_REG_REFERENCE 3u
#define OX_NTV2_REG_VIDEO_FORMAT 16u     /* + channel */
#define OX_NTV2_REG_FRAME_RATE 24u       /* + channel; set with the format, may be set alone */
#define OX_NTV2_REG_FRAME_BUFFER_FMT 32u /* + channel */
#define OX_NTV2_REG_CHANNEL_DISABLE 40u  /* + channel */
#define OX_NTV2_REG_VANC_MODE 48u        /* + channel */
#define OX_NTV2_REG_VANC_SHIFT 56u       /* + channel */
#define OX_NTV2_REG_OUTPUT_INTERRUPT 64u /* + channel: 1 = subscribed */
#define OX_NTV2_REG_SDI_STANDARD 72u     /* + SDI output */
#define OX_NTV2_REG_SDI_TRANSMIT 80u     /* + SDI connector */
#define OX_NTV2_REG_SDI_AUDIO_SYSTEM 88u /* + SDI output */
#define OX_NTV2_REG_AUDIO_CHANNELS 96u   /* + audio system */
#define OX_NTV2_REG_AUDIO_RATE 104u      /* + audio system */
#define OX_NTV2_REG_AUDIO_BUFFER 112u    /* + audio system */
#define OX_NTV2_REG_AUDIO_LOOPBACK 120u  /* + audio system */
#define OX_NTV2_REG_ROUTE 256u           /* + input crosspoint: the output crosspoint */
#define OX_NTV2_REG_COUNT 512u

/* Arguments of AutoCirculate initialisation. */
typedef struct OxNtv2AcInit {
    int32_t start_frame, end_frame; /* inclusive, on-board frame numbers */
    uint32_t audio_system;
    uint32_t options; /* OX_NTV2_AC_* */
} OxNtv2AcInit;

#define OX_NTV2_AC_AUDIO (1u << 0)
#define OX_NTV2_AC_RP188 (1u << 1)
#define OX_NTV2_AC_LTC (1u << 2)
#define OX_NTV2_AC_FBF_CHANGE (1u << 3)
#define OX_NTV2_AC_FBO_CHANGE (1u << 4)

#define OX_NTV2_AC_INIT 1u
#define OX_NTV2_AC_START 2u
#define OX_NTV2_AC_STOP 3u
#define OX_NTV2_AC_ABORT 4u

typedef struct OxNtv2Driver {
    uint32_t size; /* sizeof(OxNtv2Driver) */
    uint32_t version;
    int32_t (*board_count)(void);
    int32_t (*board_info)(int32_t index, OxNtv2BoardInfo* info);
    int32_t (*open)(int32_t index, void** handle);
    void (*close)(void* handle);
    int32_t (*read_register)(void* handle, uint32_t reg, uint32_t* value);
    int32_t (*write_register)(void* handle, uint32_t reg, uint32_t value);
    /* command: OX_NTV2_AC_*; init may be null except for OX_NTV2_AC_INIT. */
    int32_t (*autocirculate)(void* handle, uint32_t command, uint32_t crosspoint,
                             const OxNtv2AcInit* init, uint64_t start_time);
    int32_t (*autocirculate_status)(void* handle, uint32_t crosspoint,
                                    AUTOCIRCULATE_STATUS_STRUCT* status);
    /* Copies one frame (video, audio, timecode tasks) into the ring's next free slot. */
    int32_t (*transfer)(void* handle, const AUTOCIRCULATE_TRANSFER_STRUCT* transfer,
                        const AUTOCIRCULATE_TASK_STRUCT* tasks,
                        AUTOCIRCULATE_TRANSFER_STATUS_STRUCT* status);
    /* Blocks until the channel's next output vertical interrupt or the time-out. */
    int32_t (*wait_output_vertical)(void* handle, uint32_t channel, uint32_t timeout_ms);
} OxNtv2Driver;

typedef const OxNtv2Driver* (*OxNtv2DriverEntryFn)(uint32_t version);

#ifdef __cplusplus
}
#endif
