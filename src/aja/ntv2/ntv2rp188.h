// SMPTE RP188 timecode as the boards carry it: BCD digits in the low and high words, with the
// drop-frame flag (bit 10 of the low word) and, for 50 and 60 fps formats, the frame pair's
// field flag (bit 27 of the low word) since the digits count pairs of frames.
#pragma once

#include <string>

#include "aja/ntv2/ntv2enums.h"

class CRP188 {
public:
    CRP188();
    CRP188(const RP188_STRUCT& rp188, const TimecodeFormat format = kTCFormat30fps);
    CRP188(const NTV2_RP188& rp188, const TimecodeFormat format = kTCFormat30fps);
    CRP188(ULWord frames, ULWord secs, ULWord mins, ULWord hours,
           const TimecodeFormat format = kTCFormat30fps);
    CRP188(ULWord frameCount, const TimecodeFormat format = kTCFormat30fps);

    void SetRP188(ULWord frms, ULWord secs, ULWord mins, ULWord hrs,
                  const TimecodeFormat format = kTCFormatUnknown);
    void SetRP188(const RP188_STRUCT& rp188, const TimecodeFormat format = kTCFormatUnknown);
    void SetRP188(ULWord frameCount, const TimecodeFormat format);
    void SetDropFrame(bool dropFrame);

    bool GetRP188Reg(RP188_STRUCT& out) const;
    bool GetRP188Reg(NTV2_RP188& out) const;
    bool GetRP188Str(std::string& out) const;
    bool GetRP188Secs(ULWord& out) const;
    bool GetRP188Frms(ULWord& out) const;
    bool GetRP188Mins(ULWord& out) const;
    bool GetRP188Hrs(ULWord& out) const;
    bool GetFrameCount(ULWord& out);
    TimecodeFormat GetTimecodeFormat() const { return mFormat; }
    bool IsValid() const { return mValid; }

    ULWord FramesPerSecond(TimecodeFormat format = kTCFormatUnknown) const;
    ULWord MaxFramesPerDay(TimecodeFormat format = kTCFormatUnknown) const;
    bool FormatIsDropFrame(TimecodeFormat format = kTCFormatUnknown) const;
    bool FormatIs60_50fps(TimecodeFormat format = kTCFormatUnknown) const;
    // Frame count of a time of day, drop-frame numbering where the format has it.
    void ConvertTimecode(ULWord& frameCount, TimecodeFormat format, ULWord hours, ULWord minutes,
                         ULWord seconds, ULWord frames) const;
    void ConvertFrameCount(ULWord frameCount, TimecodeFormat format, ULWord& hours, ULWord& minutes,
                           ULWord& seconds, ULWord& frames) const;

private:
    void Encode();
    TimecodeFormat Use(TimecodeFormat f) const { return f == kTCFormatUnknown ? mFormat : f; }

    TimecodeFormat mFormat = kTCFormat30fps;
    bool mValid = false;
    bool mDropFrame = false;
    ULWord mHrs = 0, mMins = 0, mSecs = 0, mFrms = 0;
    RP188_STRUCT mRP188{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
};
