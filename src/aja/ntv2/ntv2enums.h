// Types and enumerations of the NTV2 card-access classes. Names and numeric values follow the
// classic card-access API, so that these classes can be swapped for a vendor build. Input
// crosspoint values are our own: code uses them by name only.
#pragma once

#include <cstdint>

using UByte = std::uint8_t;
using UWord = std::uint16_t;
using LWord = std::int32_t;
using ULWord = std::uint32_t;
using ULWord64 = std::uint64_t;
using LWord64 = std::int64_t;
using BOOL_ = bool;

enum NTV2DeviceID : ULWord { DEVICE_ID_NOTFOUND = 0xFFFFFFFF };

enum NTV2VideoFormat : ULWord {
    NTV2_FORMAT_UNKNOWN = 0,
    NTV2_FORMAT_1080i_5000 = 1,
    NTV2_FORMAT_1080i_5994 = 2,
    NTV2_FORMAT_1080i_6000 = 3,
    NTV2_FORMAT_720p_5994 = 4,
    NTV2_FORMAT_720p_6000 = 5,
    NTV2_FORMAT_1080psf_2398 = 6,
    NTV2_FORMAT_1080psf_2400 = 7,
    NTV2_FORMAT_1080p_2997 = 8,
    NTV2_FORMAT_1080p_3000 = 9,
    NTV2_FORMAT_1080p_2500 = 10,
    NTV2_FORMAT_1080p_2398 = 11,
    NTV2_FORMAT_1080p_2400 = 12,
    NTV2_FORMAT_1080p_2K_2398 = 13,
    NTV2_FORMAT_1080p_2K_2400 = 14,
    NTV2_FORMAT_720p_5000 = 17,
    NTV2_FORMAT_1080p_5000_B = 18,
    NTV2_FORMAT_1080p_5994_B = 19,
    NTV2_FORMAT_1080p_6000_B = 20,
    NTV2_FORMAT_720p_2398 = 21,
    NTV2_FORMAT_720p_2500 = 22,
    NTV2_FORMAT_1080p_5000_A = 23,
    NTV2_FORMAT_1080p_5994_A = 24,
    NTV2_FORMAT_1080p_6000_A = 25,
    NTV2_FORMAT_1080p_2K_2500 = 26,
    NTV2_FORMAT_525_5994 = 32,
    NTV2_FORMAT_625_5000 = 33,
    NTV2_FORMAT_525_2398 = 34,
    NTV2_FORMAT_525_2400 = 35,
    NTV2_FORMAT_525psf_2997 = 36,
    NTV2_FORMAT_625psf_2500 = 37,
    NTV2_FORMAT_2K_1498 = 64,
    NTV2_FORMAT_2K_1500 = 65,
    NTV2_FORMAT_2K_2398 = 66,
    NTV2_FORMAT_2K_2400 = 67,
    NTV2_FORMAT_2K_2500 = 68,
    NTV2_FORMAT_4x1920x1080psf_2398 = 80,
    NTV2_FORMAT_4x1920x1080p_2398 = 83,
    NTV2_FORMAT_4x1920x1080p_2400 = 84,
    NTV2_FORMAT_4x1920x1080p_2500 = 85,
    NTV2_FORMAT_4x2048x1080p_2398 = 89,
    NTV2_FORMAT_4x2048x1080p_2400 = 90,
    NTV2_FORMAT_4x2048x1080p_2500 = 91,
    NTV2_FORMAT_4x1920x1080p_2997 = 92,
    NTV2_FORMAT_4x1920x1080p_3000 = 93,
    NTV2_FORMAT_4x2048x1080p_2997 = 96,
    NTV2_FORMAT_4x2048x1080p_3000 = 97,
    NTV2_FORMAT_4x1920x1080p_5000 = 100,
    NTV2_FORMAT_4x1920x1080p_5994 = 101,
    NTV2_FORMAT_4x1920x1080p_6000 = 102,
    NTV2_MAX_NUM_VIDEO_FORMATS = 415
};

enum NTV2FrameBufferFormat : ULWord {
    NTV2_FBF_10BIT_YCBCR = 0,
    NTV2_FBF_8BIT_YCBCR = 1,
    NTV2_FBF_ARGB = 2,
    NTV2_FBF_RGBA = 3,
    NTV2_FBF_10BIT_RGB = 4,
    NTV2_FBF_8BIT_YCBCR_YUY2 = 5,
    NTV2_FBF_ABGR = 6,
    NTV2_FBF_10BIT_DPX = 7,
    NTV2_FBF_10BIT_YCBCR_DPX = 8,
    NTV2_FBF_24BIT_RGB = 12,
    NTV2_FBF_24BIT_BGR = 13,
    NTV2_FBF_48BIT_RGB = 16,
    NTV2_FBF_10BIT_ARGB = 21,
    NTV2_FBF_16BIT_ARGB = 22,
    NTV2_FBF_NUMFRAMEBUFFERFORMATS = 32,
    NTV2_FBF_INVALID = NTV2_FBF_NUMFRAMEBUFFERFORMATS
};

enum NTV2ReferenceSource : ULWord {
    NTV2_REFERENCE_EXTERNAL = 0,
    NTV2_REFERENCE_INPUT1 = 1,
    NTV2_REFERENCE_INPUT2 = 2,
    NTV2_REFERENCE_FREERUN = 3,
    NTV2_REFERENCE_ANALOG_INPUT = 4,
    NTV2_REFERENCE_HDMI_INPUT = 5,
    NTV2_REFERENCE_INPUT3 = 6,
    NTV2_REFERENCE_INPUT4 = 7,
    NTV2_REFERENCE_INPUT5 = 8,
    NTV2_REFERENCE_INPUT6 = 9,
    NTV2_REFERENCE_INPUT7 = 10,
    NTV2_REFERENCE_INPUT8 = 11,
    NTV2_REFERENCE_INVALID = 19,
    NTV2_NUM_REFERENCE_INPUTS = NTV2_REFERENCE_INVALID
};

enum NTV2FrameRate : ULWord {
    NTV2_FRAMERATE_UNKNOWN = 0,
    NTV2_FRAMERATE_INVALID = NTV2_FRAMERATE_UNKNOWN,
    NTV2_FRAMERATE_6000 = 1,
    NTV2_FRAMERATE_5994 = 2,
    NTV2_FRAMERATE_3000 = 3,
    NTV2_FRAMERATE_2997 = 4,
    NTV2_FRAMERATE_2500 = 5,
    NTV2_FRAMERATE_2400 = 6,
    NTV2_FRAMERATE_2398 = 7,
    NTV2_FRAMERATE_5000 = 8,
    NTV2_FRAMERATE_4800 = 9,
    NTV2_FRAMERATE_4795 = 10,
    NTV2_FRAMERATE_12000 = 11,
    NTV2_FRAMERATE_11988 = 12,
    NTV2_FRAMERATE_1500 = 13,
    NTV2_FRAMERATE_1498 = 14,
    NTV2_NUM_FRAMERATES = 19
};

enum NTV2Crosspoint : ULWord {
    NTV2CROSSPOINT_CHANNEL1 = 0,
    NTV2CROSSPOINT_CHANNEL2 = 1,
    NTV2CROSSPOINT_INPUT1 = 2,
    NTV2CROSSPOINT_INPUT2 = 3,
    NTV2CROSSPOINT_MATTE = 4,
    NTV2CROSSPOINT_FGKEY = 5,
    NTV2CROSSPOINT_CHANNEL3 = 6,
    NTV2CROSSPOINT_CHANNEL4 = 7,
    NTV2CROSSPOINT_INPUT3 = 8,
    NTV2CROSSPOINT_INPUT4 = 9,
    NTV2CROSSPOINT_CHANNEL5 = 10,
    NTV2CROSSPOINT_CHANNEL6 = 11,
    NTV2CROSSPOINT_CHANNEL7 = 12,
    NTV2CROSSPOINT_CHANNEL8 = 13,
    NTV2CROSSPOINT_INPUT5 = 14,
    NTV2CROSSPOINT_INPUT6 = 15,
    NTV2CROSSPOINT_INPUT7 = 16,
    NTV2CROSSPOINT_INPUT8 = 17,
    NTV2_NUM_CROSSPOINTS = 18,
    NTV2CROSSPOINT_INVALID = NTV2_NUM_CROSSPOINTS
};

enum NTV2Channel : ULWord {
    NTV2_CHANNEL1 = 0,
    NTV2_CHANNEL2,
    NTV2_CHANNEL3,
    NTV2_CHANNEL4,
    NTV2_CHANNEL5,
    NTV2_CHANNEL6,
    NTV2_CHANNEL7,
    NTV2_CHANNEL8,
    NTV2_MAX_NUM_CHANNELS,
    NTV2_CHANNEL_INVALID = NTV2_MAX_NUM_CHANNELS
};

enum NTV2AudioSystem : ULWord {
    NTV2_AUDIOSYSTEM_1 = 0,
    NTV2_AUDIOSYSTEM_2,
    NTV2_AUDIOSYSTEM_3,
    NTV2_AUDIOSYSTEM_4,
    NTV2_AUDIOSYSTEM_5,
    NTV2_AUDIOSYSTEM_6,
    NTV2_AUDIOSYSTEM_7,
    NTV2_AUDIOSYSTEM_8,
    NTV2_NUM_AUDIOSYSTEMS,
    NTV2_AUDIOSYSTEM_INVALID = NTV2_NUM_AUDIOSYSTEMS
};

enum NTV2AudioRate : ULWord {
    NTV2_AUDIO_48K = 0,
    NTV2_AUDIO_96K = 1,
    NTV2_AUDIO_192K = 2,
    NTV2_AUDIO_RATE_INVALID = 3
};

enum NTV2AudioBufferSize : ULWord {
    NTV2_AUDIO_BUFFER_STANDARD = 0,
    NTV2_AUDIO_BUFFER_BIG = 1,
    NTV2_AUDIO_BUFFER_INVALID = 2
};

enum NTV2AudioLoopBack : ULWord {
    NTV2_AUDIO_LOOPBACK_OFF = 0,
    NTV2_AUDIO_LOOPBACK_ON = 1,
    NTV2_AUDIO_LOOPBACK_INVALID = 2
};

enum NTV2EveryFrameTaskMode : ULWord {
    NTV2_DISABLE_TASKS = 0,
    NTV2_STANDARD_TASKS = 1,
    NTV2_OEM_TASKS = 2,
    NTV2_TASK_MODE_INVALID = 255
};

enum NTV2VANCMode : ULWord {
    NTV2_VANCMODE_OFF = 0,
    NTV2_VANCMODE_TALL = 1,
    NTV2_VANCMODE_TALLER = 2,
    NTV2_VANCMODE_INVALID = 3
};

enum NTV2VANCDataShiftMode : ULWord {
    NTV2_VANCDATA_NORMAL = 0,
    NTV2_VANCDATA_8BITSHIFT_ENABLE = 1,
    NTV2_MAX_NUM_VANCDataShiftModes = 2
};

enum NTV2Standard : ULWord {
    NTV2_STANDARD_1080 = 0,
    NTV2_STANDARD_720 = 1,
    NTV2_STANDARD_525 = 2,
    NTV2_STANDARD_625 = 3,
    NTV2_STANDARD_1080p = 4,
    NTV2_STANDARD_2K = 5,
    NTV2_STANDARD_2Kx1080p = 6,
    NTV2_STANDARD_2Kx1080i = 7,
    NTV2_STANDARD_3840x2160p = 8,
    NTV2_STANDARD_4096x2160p = 9,
    NTV2_STANDARD_3840HFR = 10,
    NTV2_STANDARD_4096HFR = 11,
    NTV2_STANDARD_INVALID = 16
};

enum NTV2FrameGeometry : ULWord {
    NTV2_FG_1920x1080 = 0,
    NTV2_FG_1280x720 = 1,
    NTV2_FG_720x486 = 2,
    NTV2_FG_720x576 = 3,
    NTV2_FG_2048x1080 = 10,
    NTV2_FG_2048x1556 = 11,
    NTV2_FG_4x1920x1080 = 16,
    NTV2_FG_4x2048x1080 = 17,
    NTV2_FG_INVALID = 20
};

enum NTV2AutoCirculateState : ULWord {
    NTV2_AUTOCIRCULATE_DISABLED = 0,
    NTV2_AUTOCIRCULATE_INIT = 1,
    NTV2_AUTOCIRCULATE_STARTING = 2,
    NTV2_AUTOCIRCULATE_PAUSED = 3,
    NTV2_AUTOCIRCULATE_STOPPING = 4,
    NTV2_AUTOCIRCULATE_RUNNING = 5,
    NTV2_AUTOCIRCULATE_STARTING_AT_TIME = 6,
    NTV2_AUTOCIRCULATE_INVALID = 7
};

enum NTV2VideoFrameBufferOrientation : ULWord {
    NTV2_FRAMEBUFFER_ORIENTATION_TOPDOWN = 0,
    NTV2_FRAMEBUFFER_ORIENTATION_BOTTOMUP = 1,
    NTV2_FRAMEBUFFER_ORIENTATION_INVALID = 2
};

enum NTV2TCIndex : ULWord {
    NTV2_TCINDEX_DEFAULT = 0,
    NTV2_TCINDEX_SDI1 = 1,
    NTV2_TCINDEX_SDI2 = 2,
    NTV2_TCINDEX_SDI3 = 3,
    NTV2_TCINDEX_SDI4 = 4,
    NTV2_TCINDEX_SDI1_LTC = 5,
    NTV2_TCINDEX_SDI2_LTC = 6,
    NTV2_TCINDEX_LTC1 = 7,
    NTV2_TCINDEX_LTC2 = 8,
    NTV2_TCINDEX_SDI5 = 9,
    NTV2_TCINDEX_SDI6 = 10,
    NTV2_TCINDEX_SDI7 = 11,
    NTV2_TCINDEX_SDI8 = 12,
    NTV2_TCINDEX_SDI3_LTC = 13,
    NTV2_TCINDEX_SDI4_LTC = 14,
    NTV2_TCINDEX_SDI5_LTC = 15,
    NTV2_TCINDEX_SDI6_LTC = 16,
    NTV2_TCINDEX_SDI7_LTC = 17,
    NTV2_TCINDEX_SDI8_LTC = 18,
    NTV2_MAX_NUM_TIMECODE_INDEXES = 27,
    NTV2_TCINDEX_INVALID = NTV2_MAX_NUM_TIMECODE_INDEXES
};

// Sources of the routing matrix (values stable across versions).
enum NTV2OutputCrosspointID : ULWord {
    NTV2_XptBlack = 0,
    NTV2_XptCSC1VidYUV = 5,
    NTV2_XptFrameBuffer1YUV = 8,
    NTV2_XptFrameBuffer2YUV = 15,
    NTV2_XptCSC2VidYUV = 16,
    NTV2_XptFrameBuffer3YUV = 36,
    NTV2_XptFrameBuffer4YUV = 37,
    NTV2_XptCSC5VidYUV = 44,
    NTV2_XptCSC3VidYUV = 58,
    NTV2_XptCSC4VidYUV = 60,
    NTV2_XptFrameBuffer5YUV = 81,
    NTV2_XptFrameBuffer6YUV = 82,
    NTV2_XptFrameBuffer7YUV = 83,
    NTV2_XptFrameBuffer8YUV = 84,
    NTV2_XptCSC6VidYUV = 89,
    NTV2_XptCSC7VidYUV = 91,
    NTV2_XptCSC8VidYUV = 93,
    NTV2_XptFrameBuffer1RGB = 136,
    NTV2_XptFrameBuffer2RGB = 143,
    NTV2_XptFrameBuffer3RGB = 164,
    NTV2_XptFrameBuffer4RGB = 165,
    NTV2_XptFrameBuffer5RGB = 209,
    NTV2_XptFrameBuffer6RGB = 210,
    NTV2_XptFrameBuffer7RGB = 211,
    NTV2_XptFrameBuffer8RGB = 212,
    NTV2_OUTPUT_CROSSPOINT_INVALID = 0xFF
};

// Destinations of the routing matrix. Their numbers differ between versions of the API; use
// the names.
enum NTV2InputCrosspointID : ULWord {
    NTV2_FIRST_INPUT_CROSSPOINT = 1,
    NTV2_XptFrameBuffer1Input = 1,
    NTV2_XptCSC1VidInput = 17,
    NTV2_XptCSC2VidInput = 19,
    NTV2_XptCSC3VidInput = 21,
    NTV2_XptCSC4VidInput = 23,
    NTV2_XptCSC5VidInput = 25,
    NTV2_XptCSC6VidInput = 27,
    NTV2_XptCSC7VidInput = 29,
    NTV2_XptCSC8VidInput = 31,
    NTV2_XptSDIOut1Input = 45,
    NTV2_XptSDIOut2Input = 47,
    NTV2_XptSDIOut3Input = 49,
    NTV2_XptSDIOut4Input = 51,
    NTV2_XptSDIOut5Input = 53,
    NTV2_XptSDIOut6Input = 55,
    NTV2_XptSDIOut7Input = 57,
    NTV2_XptSDIOut8Input = 59,
    NTV2_XptHDMIOutInput = 101,
    NTV2_XptHDMIOutQ1Input = 101,
    NTV2_XptAnalogOutInput = 117,
    NTV2_LAST_INPUT_CROSSPOINT = 128,
    NTV2_INPUT_CROSSPOINT_INVALID = 0xFFFFFFFF
};
using NTV2InputXptID = NTV2InputCrosspointID;
using NTV2OutputXptID = NTV2OutputCrosspointID;

enum NTV2WidgetID : ULWord {
    NTV2_WgtFrameBuffer1 = 0,
    NTV2_WgtCSC1 = 4,
    NTV2_WgtSDIOut1 = 16,
    NTV2_WgtAnalogOut1 = 32,
    NTV2_WgtHDMIOut1 = 35,
};

enum TimecodeFormat : ULWord {
    kTCFormatUnknown = 0,
    kTCFormat24fps = 1,
    kTCFormat25fps = 2,
    kTCFormat30fps = 3,
    kTCFormat30fpsDF = 4,
    kTCFormat48fps = 5,
    kTCFormat50fps = 6,
    kTCFormat60fps = 7,
    kTCFormat60fpsDF = 8
};

struct RP188_STRUCT {
    ULWord DBB;
    ULWord Low;
    ULWord High;
};

struct NTV2_RP188 {
    ULWord fDBB, fLo, fHi;
    explicit NTV2_RP188(ULWord dbb = 0xFFFFFFFF, ULWord lo = 0xFFFFFFFF, ULWord hi = 0xFFFFFFFF)
        : fDBB(dbb), fLo(lo), fHi(hi) {}
    NTV2_RP188(const RP188_STRUCT& r) : fDBB(r.DBB), fLo(r.Low), fHi(r.High) {}
    bool IsValid() const { return !(fDBB == 0xFFFFFFFF && fLo == 0xFFFFFFFF && fHi == 0xFFFFFFFF); }
    void Set(ULWord dbb, ULWord lo, ULWord hi) { fDBB = dbb, fLo = lo, fHi = hi; }
    operator RP188_STRUCT() const { return RP188_STRUCT{fDBB, fLo, fHi}; }
};

class NTV2FrameDimensions {
public:
    explicit NTV2FrameDimensions(ULWord w = 0, ULWord h = 0) : mWidth(w), mHeight(h) {}
    ULWord GetWidth() const { return mWidth; }
    ULWord GetHeight() const { return mHeight; }
    ULWord Width() const { return mWidth; }
    ULWord Height() const { return mHeight; }
    bool IsValid() const { return mWidth && mHeight; }
    void Set(ULWord w, ULWord h) { mWidth = w, mHeight = h; }
    void Reset() { Set(0, 0); }

private:
    ULWord mWidth, mHeight;
};

struct FRAME_STAMP_STRUCT {
    NTV2Crosspoint channelSpec;
    LWord64 frameTime;
    ULWord frame;
    ULWord64 audioClockTimeStamp;
    ULWord audioExpectedAddress;
    ULWord audioInStartAddress;
    ULWord audioInStopAddress;
    ULWord audioOutStopAddress;
    ULWord audioOutStartAddress;
    ULWord bytesRead;
    ULWord startSample;
    LWord64 currentTime;
    ULWord currentFrame;
    RP188_STRUCT currentRP188;
    LWord64 currentFrameTime;
    ULWord64 audioClockCurrentTime;
    ULWord currentAudioExpectedAddress;
    ULWord currentAudioStartAddress;
    ULWord currentFieldCount;
    ULWord currentLineCount;
    ULWord currentReps;
    ULWord currenthUser;
};

struct AUTOCIRCULATE_TRANSFER_STRUCT {
    NTV2Crosspoint channelSpec;
    ULWord* videoBuffer;
    ULWord videoBufferSize;
    ULWord videoDmaOffset;
    ULWord* audioBuffer;
    ULWord audioBufferSize;
    ULWord audioStartSample;
    ULWord audioNumChannels;
    ULWord frameRepeatCount;
    RP188_STRUCT rp188;
    LWord desiredFrame;
    ULWord hUser;
    ULWord transferFlags;
    BOOL_ bDisableExtraAudioInfo;
    NTV2FrameBufferFormat frameBufferFormat;
    NTV2VideoFrameBufferOrientation frameBufferOrientation;
    ULWord videoNumSegments;
    ULWord videoSegmentHostPitch;
    ULWord videoSegmentCardPitch;
};
using PAUTOCIRCULATE_TRANSFER_STRUCT = AUTOCIRCULATE_TRANSFER_STRUCT*;

struct AUTOCIRCULATE_TRANSFER_STATUS_STRUCT {
    NTV2Crosspoint channelSpec;
    NTV2AutoCirculateState state;
    LWord transferFrame;
    ULWord bufferLevel;
    ULWord framesProcessed;
    ULWord framesDropped;
    FRAME_STAMP_STRUCT frameStamp;
    ULWord audioBufferSize;
    ULWord audioStartSample;
};
using PAUTOCIRCULATE_TRANSFER_STATUS_STRUCT = AUTOCIRCULATE_TRANSFER_STATUS_STRUCT*;

struct AUTOCIRCULATE_STATUS_STRUCT {
    NTV2Crosspoint channelSpec;
    NTV2AutoCirculateState state;
    LWord startFrame;
    LWord endFrame;
    LWord activeFrame;
    ULWord64 rdtscStartTime;
    ULWord64 audioClockStartTime;
    ULWord64 rdtscCurrentTime;
    ULWord64 audioClockCurrentTime;
    ULWord framesProcessed;
    ULWord framesDropped;
    ULWord bufferLevel;
    BOOL_ bWithAudio;
    BOOL_ bWithRP188;
    BOOL_ bFbfChange;
    BOOL_ bFboChange;
    BOOL_ bWithColorCorrection;
    BOOL_ bWithVidProc;
    BOOL_ bWithCustomAncData;
};

// One generic task of a transfer's task list.
enum AutoCircTaskType : ULWord {
    eAutoCircTaskNone = 0,
    eAutoCircTaskRegisterWrite,
    eAutoCircTaskRegisterRead,
    eAutoCircTaskTimeCodeWrite,
    eAutoCircTaskTimeCodeRead
};

struct AutoCircRegisterTask {
    ULWord regNum, value, mask, shift;
};

// Timecode slots of a timecode write task, in the order of CNTV2Task::AddTimeCodeWriteTask.
struct AutoCircTimeCodeTask {
    RP188_STRUCT TCInOut1, TCInOut2, LTCEmbedded, LTCAnalog, LTCEmbedded2, LTCAnalog2, TCInOut3,
        TCInOut4, TCInOut5, TCInOut6, TCInOut7, TCInOut8;
};

struct AutoCircGenericTask {
    AutoCircTaskType taskType;
    union {
        AutoCircRegisterTask registerTask;
        AutoCircTimeCodeTask timeCodeTask;
    } u;
};

constexpr ULWord AUTOCIRCULATE_TASK_MAX_TASKS = 128;
constexpr ULWord AUTOCIRCULATE_TASK_VERSION = 0x00000001;

struct AUTOCIRCULATE_TASK_STRUCT {
    ULWord taskVersion;
    ULWord taskSize;
    ULWord numTasks;
    ULWord maxTasks;
    AutoCircGenericTask* taskArray;
    ULWord reserved0, reserved1, reserved2, reserved3;
};
using PAUTOCIRCULATE_TASK_STRUCT = AUTOCIRCULATE_TASK_STRUCT*;

struct NTV2RoutingTable;  // routing during a transfer is not offered
