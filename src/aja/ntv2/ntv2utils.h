// Free helpers of the NTV2 card-access classes: what a video format is (geometry, rate,
// standard), frame sizes, the audio cadence, and channel-to-crosspoint mappings.
#pragma once

#include "aja/ntv2/ntv2enums.h"

NTV2FrameRate GetNTV2FrameRateFromVideoFormat(NTV2VideoFormat format);
NTV2Standard GetNTV2StandardFromVideoFormat(const NTV2VideoFormat format);
NTV2FrameGeometry GetNTV2FrameGeometryFromVideoFormat(const NTV2VideoFormat format);
// Width and height of the picture (without VANC); invalid for an unknown format.
NTV2FrameDimensions GetFormatDimensions(NTV2VideoFormat format);
bool IsProgressiveFormat(NTV2VideoFormat format);

double GetFramesPerSecond(const NTV2FrameRate rate);
bool GetFramesPerSecond(const NTV2FrameRate rate, ULWord& num, ULWord& den);

bool NTV2_IS_FBF_RGB(NTV2FrameBufferFormat fbf);
bool NTV2_IS_FBF_8BIT(NTV2FrameBufferFormat fbf);
// Bytes of one row of `width` pixels; 0 for a layout these classes do not size.
ULWord GetRowBytes(NTV2FrameBufferFormat fbf, ULWord width);
// VANC lines above the picture for a geometry and mode.
ULWord GetVancLines(NTV2VideoFormat format, NTV2VANCMode mode);

ULWord GetVideoActiveSize(const NTV2VideoFormat format, const NTV2FrameBufferFormat fbf,
                          const NTV2VANCMode vanc = NTV2_VANCMODE_OFF);
// The classic form, by VANC state.
ULWord GetVideoActiveSize(const NTV2VideoFormat format, const NTV2FrameBufferFormat fbf,
                          const bool vancEnabled, const bool wideVANC);
ULWord GetVideoWriteSize(const NTV2VideoFormat format, const NTV2FrameBufferFormat fbf,
                         const NTV2VANCMode vanc = NTV2_VANCMODE_OFF);

ULWord GetAudioSamplesPerFrame(const NTV2FrameRate rate, const NTV2AudioRate audioRate,
                               ULWord cadenceFrame = 0, bool isSMPTE372Enabled = false);
LWord64 GetTotalAudioSamplesFromFrameNbrZeroUpToFrameNbr(NTV2FrameRate rate,
                                                         NTV2AudioRate audioRate,
                                                         ULWord frameNbrNonInclusive);
double GetAudioSamplesPerSecond(const NTV2AudioRate rate);

NTV2Crosspoint NTV2ChannelToOutputCrosspoint(const NTV2Channel channel);
NTV2Channel NTV2CrosspointToChannel(NTV2Crosspoint crosspoint);  // invalid for inputs
NTV2AudioSystem NTV2ChannelToAudioSystem(const NTV2Channel channel);
NTV2TCIndex NTV2ChannelToTimecodeIndex(const NTV2Channel channel, const bool embeddedLTC = false,
                                       const bool isF2 = false);

NTV2OutputXptID GetFrameBufferOutputXptFromChannel(const NTV2Channel channel,
                                                   const bool isRGB = false,
                                                   const bool is425 = false);
NTV2InputXptID GetSDIOutputInputXpt(const NTV2Channel channel, const bool isDS2 = false);
NTV2InputXptID GetCSCInputXptFromChannel(const NTV2Channel channel, const bool isKeyInput = false);
NTV2OutputXptID GetCSCOutputXptFromChannel(const NTV2Channel channel, const bool isKey = false,
                                           const bool isRGB = false);
