// Records and enumerations shared by every module of the Orvex SDK. Values and layouts are
// fixed: records cross module boundaries by pointer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "orvex/com.h"

enum eMVideoFormat : std::int32_t {
    eMVF_Custom = 0,
    eMVF_NTSC = 1,
    eMVF_NTSC_2398 = 2,
    eMVF_NTSC_16x9 = 3,
    eMVF_PAL = 4,
    eMVF_PAL_16x9 = 5,
    eMVF_HD720_50p = 6,
    eMVF_HD720_5994p = 7,
    eMVF_HD720_60p = 8,
    eMVF_HD1080_2398p = 9,
    eMVF_HD1080_24p = 10,
    eMVF_HD1080_25p = 11,
    eMVF_HD1080_2997p = 12,
    eMVF_HD1080_30p = 13,
    eMVF_HD1080_50i = 14,
    eMVF_HD1080_5994i = 15,
    eMVF_HD1080_60i = 16,
    eMVF_HD1080_50p = 17,
    eMVF_HD1080_5994p = 18,
    eMVF_HD1080_60p = 19,
    eMVF_2K_2398p = 20,
    eMVF_2K_24p = 21,
    eMVF_2K_25p = 22,
    eMVF_4K_UHD_50i = 23,
    eMVF_4K_UHD_5994i = 24,
    eMVF_4K_UHD_60i = 25,
    eMVF_4K_UHD_2398p = 26,
    eMVF_4K_UHD_24p = 27,
    eMVF_4K_UHD_25p = 28,
    eMVF_4K_UHD_2997p = 29,
    eMVF_4K_UHD_30p = 30,
    eMVF_4K_DCI_2398p = 31,
    eMVF_4K_DCI_24p = 32,
    eMVF_4K_DCI_25p = 33,
    eMVF_4K_UHD_50p = 34,
    eMVF_4K_UHD_5994p = 35,
    eMVF_4K_UHD_60p = 36,
    eMVF_4K_DCI_50p = 37,
    eMVF_4K_DCI_5994p = 38,
    eMVF_4K_DCI_60p = 39,
    eMVF_Disabled = 40,
    eMVF_3D_SbS_720_50p = 0x206,
    eMVF_3D_SbS_720_5994p = 0x207,
    eMVF_3D_SbS_720_60p = 0x208,
    eMVF_3D_SbS_1080_2398p = 0x209,
    eMVF_3D_SbS_1080_24p = 0x20A,
    eMVF_3D_SbS_1080_25p = 0x20B,
    eMVF_3D_SbS_1080_2997p = 0x20C,
    eMVF_3D_SbS_1080_30p = 0x20D,
    eMVF_3D_SbS_1080_50i = 0x20E,
    eMVF_3D_SbS_1080_5994i = 0x20F,
    eMVF_3D_SbS_1080_60i = 0x210,
    eMVF_3D_SbS_1080_50p = 0x211,
    eMVF_3D_SbS_1080_5994p = 0x212,
    eMVF_3D_SbS_1080_60p = 0x213,
    eMVF_3D_TnB_720_50p = 0x406,
    eMVF_3D_TnB_720_5994p = 0x407,
    eMVF_3D_TnB_720_60p = 0x408,
    eMVF_3D_TnB_1080_2398p = 0x409,
    eMVF_3D_TnB_1080_24p = 0x40A,
    eMVF_3D_TnB_1080_25p = 0x40B,
    eMVF_3D_TnB_1080_2997p = 0x40C,
    eMVF_3D_TnB_1080_30p = 0x40D,
    eMVF_3D_TnB_1080_50p = 0x411,
    eMVF_3D_TnB_1080_5994p = 0x412,
    eMVF_3D_TnB_1080_60p = 0x413,
    eMVF_3D_Full_SbS_720_50p = 0x1206,
    eMVF_3D_Full_SbS_720_5994p = 0x1207,
    eMVF_3D_Full_SbS_720_60p = 0x1208,
    eMVF_3D_Full_SbS_1080_2398p = 0x1209,
    eMVF_3D_Full_SbS_1080_24p = 0x120A,
    eMVF_3D_Full_SbS_1080_25p = 0x120B,
    eMVF_3D_Full_SbS_1080_2997p = 0x120C,
    eMVF_3D_Full_SbS_1080_30p = 0x120D,
    eMVF_3D_Full_SbS_1080_50i = 0x120E,
    eMVF_3D_Full_SbS_1080_5994i = 0x120F,
    eMVF_3D_Full_SbS_1080_60i = 0x1210,
    eMVF_3D_Full_TnB_720_50p = 0x1406,
    eMVF_3D_Full_TnB_720_5994p = 0x1407,
    eMVF_3D_Full_TnB_720_60p = 0x1408,
    eMVF_3D_Full_TnB_1080_2398p = 0x1409,
    eMVF_3D_Full_TnB_1080_24p = 0x140A,
    eMVF_3D_Full_TnB_1080_25p = 0x140B,
    eMVF_3D_Full_TnB_1080_2997p = 0x140C,
    eMVF_3D_Full_TnB_1080_30p = 0x140D,
    eMVF_3D_Full_TnB_1080_50i = 0x140E,
    eMVF_3D_Full_TnB_1080_5994i = 0x140F,
    eMVF_3D_Full_TnB_1080_60i = 0x1410,
};

enum eMFrameFlags : std::int32_t {
    eMFF_None = 0x0,
    eMFF_Break = 0x1,
    eMFF_Last = 0x2,
    eMFF_Dup = 0x11,
    eMFF_Pause = 0x21,
    eMFF_Live = 0x100,
    eMFF_Net = 0x200,
    eMFF_Reverse = 0x1000,
    eMFF_Main_Mask = 0xFFFF,
    eMFF_Intra = 0x10000,
    eMFF_Predicted = 0x20000,
    eMFF_Bidir_Predicted = 0x30000,
    eMFF_S_GMC_VOP_MPEG4 = 0x40000,
    eMFF_Switching_Intra = 0x50000,
    eMFF_Switching_Predicted = 0x60000,
    eMFF_BI = 0x70000,
    eMFF_Type_Mask = 0xF0000,
    eMFF_Reverse_Break = 0x1001,
    eMFF_Reverse_Last = 0x1002,
    eMFF_Reverse_Pause = 0x1021,
    eMFF_Last_Break = 0x3,
    eMFF_Last_Dup = 0x13,
    eMFF_Last_Pause = 0x23,
    eMFF_Live_Break = 0x101,
    eMFF_Live_Last = 0x102,
    eMFF_Live_Last_Break = 0x103,
    eMFF_Net_Break = 0x201,
    eMFF_Net_Last = 0x202,
    eMFF_Net_Last_Break = 0x203,
    eMFF_Break_Intra = 0x10001,
    eMFF_Break_Predicted = 0x20001,
    eMFF_Break_Bidir_Predicted = 0x30001,
    eMFF_Break_S_GMC_VOP_MPEG4 = 0x40001,
    eMFF_Break_Switching_Intra = 0x50001,
    eMFF_Break_Switching_Predicted = 0x60001,
    eMFF_Break_BI = 0x70001,
    eMFF_Reverse_Intra = 0x11000,
    eMFF_Reverse_Predicted = 0x21000,
    eMFF_Reverse_Bidir_Predicted = 0x31000,
    eMFF_Reverse_S_GMC_VOP_MPEG4 = 0x41000,
    eMFF_Reverse_Switching_Intra = 0x51000,
    eMFF_Reverse_Switching_Predicted = 0x61000,
    eMFF_Reverse_BI = 0x71000,
    eMFF_Reverse_Break_Intra = 0x11001,
    eMFF_Reverse_Break_Predicted = 0x21001,
    eMFF_Reverse_Break_Bidir_Predicted = 0x31001,
    eMFF_Reverse_Break_S_GMC_VOP_MPEG4 = 0x41001,
    eMFF_Reverse_Break_Switching_Intra = 0x51001,
    eMFF_Reverse_Break_Switching_Predicted = 0x61001,
    eMFF_Reverse_Break_BI = 0x71001,
    eMFF_Net_Intra = 0x10200,
    eMFF_Net_Predicted = 0x20200,
    eMFF_Net_Bidir_Predicted = 0x30200,
    eMFF_Net_S_GMC_VOP_MPEG4 = 0x40200,
    eMFF_Net_Switching_Intra = 0x50200,
    eMFF_Net_Switching_Predicted = 0x60200,
    eMFF_Net_BI = 0x70200,
    eMFF_Net_Break_Intra = 0x10201,
    eMFF_Net_Break_Predicted = 0x20201,
    eMFF_Net_Break_Bidir_Predicted = 0x30201,
    eMFF_Net_Break_S_GMC_VOP_MPEG4 = 0x40201,
    eMFF_Net_Break_Switching_Intra = 0x50201,
    eMFF_Net_Break_Switching_Predicted = 0x60201,
    eMFF_Net_Break_BI = 0x70201,
};

enum eMTimecodeFlags : std::uint32_t {
    eMTCF_NonDropFrame = 0x0u,
    eMTCF_DropFrame = 0x1u,
    eMTCF_Rate = 0xFF0u,
    eMTCF_Rate_24 = 0x10u,
    eMTCF_Rate_25 = 0x20u,
    eMTCF_Rate_30 = 0x40u,
    eMTCF_Rate_30_DF = 0x41u,
    eMTCF_Progressive_Even_Frame = 0x100u,
    eMTCF_Progressive_Odd_Frame = 0x200u,
    eMTCF_Rate_50 = 0x120u,
    eMTCF_Rate_60 = 0x140u,
    eMTCF_Rate_60_DF = 0x141u,
    eMTCF_Rate_50_Even = 0x220u,
    eMTCF_Rate_60_Even = 0x240u,
    eMTCF_Rate_60_DF_Even = 0x241u,
    eMTCF_SrcTC = 0x1000u,
    eMTCF_UserTC = 0x2000u,
    eMTCF_LocalTimeTC = 0x10000u,
    eMTCF_Invalid = 0x80000000u,
    eMTCF_SrcTC_DropFrame = 0x1001u,
    eMTCF_UserTC_DropFrame = 0x2001u,
    eMTCF_SrcTC_Rate_24 = 0x1010u,
    eMTCF_UserTC_Rate_24 = 0x2010u,
    eMTCF_SrcTC_Rate_25 = 0x1020u,
    eMTCF_UserTC_Rate_25 = 0x2020u,
    eMTCF_SrcTC_Rate_30_DF = 0x1041u,
    eMTCF_UserTC_Rate_30_DF = 0x2041u,
    eMTCF_SrcTC_Rate_30 = 0x1040u,
    eMTCF_UserTC_Rate_30 = 0x2040u,
    eMTCF_SrcTC_Progressive_Even_Frame = 0x1100u,
    eMTCF_UserTC_Progressive_Even_Frame = 0x2100u,
    eMTCF_SrcTC_Progressive_Odd_Frame = 0x1200u,
    eMTCF_UserTC_Progressive_Odd_Frame = 0x2200u,
    eMTCF_SrcTC_Rate_50 = 0x1120u,
    eMTCF_UserTC_Rate_50 = 0x2120u,
    eMTCF_SrcTC_Rate_60_DF = 0x1141u,
    eMTCF_UserTC_Rate_60_DF = 0x2141u,
    eMTCF_SrcTC_Rate_60 = 0x1140u,
    eMTCF_UserTC_Rate_60 = 0x2140u,
    eMTCF_SrcTC_Rate_50_Even = 0x1220u,
    eMTCF_UserTC_Rate_50_Even = 0x2220u,
    eMTCF_SrcTC_Rate_60_DF_Even = 0x1241u,
    eMTCF_UserTC_Rate_60_DF_Even = 0x2241u,
    eMTCF_SrcTC_Rate_60_Even = 0x1240u,
    eMTCF_UserTC_Rate_60_Even = 0x2240u,
};

enum eMFCC : std::uint32_t {
    eMFCC_Default = 0,
    eMFCC_r210 = 0x30313272,  // "r210"
    eMFCC_v210 = 0x30313276,  // "v210"
    eMFCC_I420 = 0x30323449,  // "I420"
    eMFCC_YV12 = 0x32315659,  // "YV12"
    eMFCC_NV12 = 0x3231564E,  // "NV12"
    eMFCC_YUY2 = 0x32595559,  // "YUY2"
    eMFCC_HDYC = 0x43594448,  // "HDYC"
    eMFCC_YVYU = 0x55595659,  // "YVYU"
    eMFCC_UYVY = 0x59565955,  // "UYVY"
    eMFCC_RGB24 = 0xE436EB7D,
    eMFCC_RGB32 = 0xE436EB7E,
    eMFCC_ARGB32 = 0x773C9AC0,
    eMFCC_RGB8 = 0xE436EB7A,
    eMFCC_GPU_YUV422 = 0x65FFAF79,
    eMFCC_GPU_RGB444 = 0x65FFAF80,
};

enum eMInterlace : std::int32_t {
    eMI_Default = 0,
    eMI_Field1First = 1,
    eMI_Field2First = 2,
    eMI_Progressive = 3,
    eMI_Inverse = 4,
    eMI_OneField = 5,
    eMI_DeinterlaceF1 = 256,
    eMI_DeinterlaceF2 = 512,
};

enum eMScaleType : std::int32_t {
    eMST_Default = 0,
    eMST_IgnoreAR = 1,
    eMST_LetterBox = 2,
    eMST_Crop = 3,
    eMST_NoScale = 4,
};

enum eM3DFormat : std::int32_t {
    eM3D_None = 0,
    eM3D_Auto = 1,
    eM3D_SideBySide = 0x200,
    eM3D_TopAndBottom = 0x400,
    eM3D_Tile = 0x800,
    eM3D_FullFlag = 0x1000,
    eM3D_FullSideBySide = 0x1200,
    eM3D_FullTopAndBottom = 0x1400,
};

enum eMANCFlags : std::int32_t {
    eMAF_None = 0,
    eMAF_AL_Valid = 2,
};

enum eOXDeviceType : std::int32_t {
    eOXDT_Video = 0,
    eOXDT_Audio = 1,
    eOXDT_ExtAudio = 2,
    eOXDT_All = 3,
};

enum eMFormatType : std::int32_t {
    eMFT_Input = 0,
    eMFT_Convert = 1,
    eMFT_Override = 2,
    eMFT_Output = 3,
};

enum eMFrameClone : std::int32_t {
    eMFC_Props = 0,
    eMFC_Video = 1,
    eMFC_VideoRef = 2,
    eMFC_Audio = 0x10,
    eMFC_VideoRef_Audio = 0x12,
    eMFC_Data = 0x100,
    eMFC_Obj = 0x200,
    eMFC_Data_Audio = 0x110,
    eMFC_ObjData_Audio = 0x310,
    eMFC_Reference = 0x312,
    eMFC_Full = 0x311,
};

// Kinds of schema information asked of IOXProps::PropsInfoGet.
enum eMInfoType : std::int32_t {
    eMIT_Help = 0,
    eMIT_Type = 1,
    eMIT_Default = 2,
    eMIT_Values = 3,
    eMIT_Min = 4,
    eMIT_Max = 5,
    eMIT_Node = 6,
};

struct M_VID_PROPS {
    eMVideoFormat eVideoFormat;
    eMFCC fccType;
    int nWidth;
    int nHeight;  // negative: rows run top-down (RGB formats)
    int nRowBytes;
    eMInterlace eInterlace;
    short nAspectX;
    short nAspectY;
    double dblRate;  // frames per second
    eMScaleType eScaleType;
    eM3DFormat e3DFormat;
};

struct M_AUD_PROPS {
    int nChannels;
    int nSamplesPerSec;
    int nBitsPerSample;
    int nTrackSplitBits;
};

struct M_AUDIO_LOUDNESS {
    float arrVUMeter[32];
    float arrVUPeaks[32];
    float arrRMS[32];
    float arrEBUMode_M[32];
    float arrEBUMode_S[32];
    float arrEBUMode_I[32];
    float arrPeaks_QPPM[32];
    float arrPeaks_TPL[32];
    int nValidChannels;
    int nValidTracks;
    int nTracksSplitBit;
};

struct M_ANC_DATA {
    eMANCFlags eFlags;
    M_AUDIO_LOUDNESS audOriginal;
    M_AUDIO_LOUDNESS audOutput;
};

struct M_AV_PROPS {
    M_VID_PROPS vidProps;
    M_AUD_PROPS audProps;
    M_ANC_DATA ancData;
    BOOL bLocked;
};

struct M_TIMECODE {
    int nHours;
    int nMinutes;
    int nSeconds;
    int nFrames;
    eMTimecodeFlags eTCFlags;
    int nExtraCounter;
};

struct M_TIME {
    LONGLONG rtStartTime;
    LONGLONG rtEndTime;
    M_TIMECODE tcFrame;
    eMFrameFlags eFFlags;
};

struct OX_FRAME_INFO {
    LONGLONG llVideoID;
    M_TIME mTime;
    M_AV_PROPS avProps;
    DWORD cbAudio;
    DWORD cbVideo;
    LONGLONG lpVideo;  // address of the video bytes
    LONGLONG lpAudio;  // address of the audio bytes
    int lAudioSamples;
    DWORD dwProcessID;
    int nDataCount;
    int nObjCount;
    int nStrCount;
};

// Natural alignment, as the type library lays the records out.
static_assert(sizeof(M_VID_PROPS) == 48);
static_assert(offsetof(M_VID_PROPS, fccType) == 4);
static_assert(offsetof(M_VID_PROPS, nRowBytes) == 16);
static_assert(offsetof(M_VID_PROPS, nAspectX) == 24 && offsetof(M_VID_PROPS, nAspectY) == 26);
static_assert(offsetof(M_VID_PROPS, dblRate) == 32);
static_assert(offsetof(M_VID_PROPS, eScaleType) == 40 && offsetof(M_VID_PROPS, e3DFormat) == 44);
static_assert(sizeof(M_AUD_PROPS) == 16 && offsetof(M_AUD_PROPS, nTrackSplitBits) == 12);
static_assert(sizeof(M_AUDIO_LOUDNESS) == 8 * 32 * 4 + 12);
static_assert(offsetof(M_AUDIO_LOUDNESS, arrPeaks_TPL) == 7 * 128);
static_assert(offsetof(M_AUDIO_LOUDNESS, nTracksSplitBit) == 1032);
static_assert(sizeof(M_ANC_DATA) == 4 + 2 * 1036);
static_assert(offsetof(M_ANC_DATA, audOutput) == 1040);
static_assert(offsetof(M_AV_PROPS, audProps) == 48 && offsetof(M_AV_PROPS, ancData) == 64);
static_assert(offsetof(M_AV_PROPS, bLocked) == 2140 && sizeof(M_AV_PROPS) == 2144);
static_assert(sizeof(M_TIMECODE) == 24 && offsetof(M_TIMECODE, eTCFlags) == 16);
static_assert(sizeof(M_TIME) == 48 && offsetof(M_TIME, tcFrame) == 16);
static_assert(offsetof(M_TIME, eFFlags) == 40);
static_assert(offsetof(OX_FRAME_INFO, mTime) == 8 && offsetof(OX_FRAME_INFO, avProps) == 56);
static_assert(offsetof(OX_FRAME_INFO, cbAudio) == 2200 && offsetof(OX_FRAME_INFO, cbVideo) == 2204);
static_assert(offsetof(OX_FRAME_INFO, lpVideo) == 2208 && offsetof(OX_FRAME_INFO, lpAudio) == 2216);
static_assert(offsetof(OX_FRAME_INFO, lAudioSamples) == 2224);
static_assert(offsetof(OX_FRAME_INFO, nStrCount) == 2240 && sizeof(OX_FRAME_INFO) == 2248);
