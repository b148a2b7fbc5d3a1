#include "aja/ntv2/ntv2rp188.h"

#include <cstdio>

namespace {
constexpr ULWord kDropFrameBit = 1u << 10;
constexpr ULWord kFieldBit = 1u << 27;
}  // namespace

CRP188::CRP188() = default;

CRP188::CRP188(const RP188_STRUCT& rp188, const TimecodeFormat format) {
    SetRP188(rp188, format);
}

CRP188::CRP188(const NTV2_RP188& rp188, const TimecodeFormat format) {
    SetRP188(static_cast<RP188_STRUCT>(rp188), format);
}

CRP188::CRP188(ULWord frames, ULWord secs, ULWord mins, ULWord hours, const TimecodeFormat format) {
    SetRP188(frames, secs, mins, hours, format);
}

CRP188::CRP188(ULWord frameCount, const TimecodeFormat format) {
    SetRP188(frameCount, format);
}

ULWord CRP188::FramesPerSecond(TimecodeFormat format) const {
    switch (Use(format)) {
        case kTCFormat24fps:
            return 24;
        case kTCFormat25fps:
            return 25;
        case kTCFormat30fps:
        case kTCFormat30fpsDF:
            return 30;
        case kTCFormat48fps:
            return 48;
        case kTCFormat50fps:
            return 50;
        case kTCFormat60fps:
        case kTCFormat60fpsDF:
            return 60;
        default:
            return 30;
    }
}

bool CRP188::FormatIsDropFrame(TimecodeFormat format) const {
    const TimecodeFormat f = Use(format);
    return f == kTCFormat30fpsDF || f == kTCFormat60fpsDF;
}

bool CRP188::FormatIs60_50fps(TimecodeFormat format) const {
    const TimecodeFormat f = Use(format);
    return f == kTCFormat50fps || f == kTCFormat60fps || f == kTCFormat60fpsDF;
}

ULWord CRP188::MaxFramesPerDay(TimecodeFormat format) const {
    const ULWord fps = FramesPerSecond(format);
    ULWord frames = fps * 86400;
    // Drop-frame numbering leaves out fps/15 numbers a minute, except every tenth minute.
    if (FormatIsDropFrame(format)) frames -= (fps / 15) * (1440 - 144);
    return frames;
}

void CRP188::ConvertTimecode(ULWord& frameCount, TimecodeFormat format, ULWord hours,
                             ULWord minutes, ULWord seconds, ULWord frames) const {
    const ULWord fps = FramesPerSecond(format);
    const ULWord totalMinutes = hours * 60 + minutes;
    frameCount = (totalMinutes * 60 + seconds) * fps + frames;
    if (FormatIsDropFrame(format)) frameCount -= (fps / 15) * (totalMinutes - totalMinutes / 10);
}

void CRP188::ConvertFrameCount(ULWord frameCount, TimecodeFormat format, ULWord& hours,
                               ULWord& minutes, ULWord& seconds, ULWord& frames) const {
    const ULWord fps = FramesPerSecond(format);
    frameCount %= MaxFramesPerDay(format);
    if (FormatIsDropFrame(format)) {
        const ULWord drop = fps / 15;
        const ULWord per10 = fps * 600 - drop * 9;
        const ULWord perMinute = fps * 60 - drop;
        const ULWord tens = frameCount / per10;
        ULWord rest = frameCount % per10;
        frameCount += drop * 9 * tens;
        if (rest >= drop) frameCount += drop * ((rest - drop) / perMinute);
    }
    frames = frameCount % fps;
    seconds = frameCount / fps % 60;
    minutes = frameCount / (fps * 60) % 60;
    hours = frameCount / (fps * 3600) % 24;
}

void CRP188::SetRP188(ULWord frms, ULWord secs, ULWord mins, ULWord hrs,
                      const TimecodeFormat format) {
    mFormat = Use(format);
    mDropFrame = FormatIsDropFrame();
    mValid = frms < FramesPerSecond() && secs < 60 && mins < 60 && hrs < 24;
    if (!mValid) {
        mRP188 = RP188_STRUCT{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
        return;
    }
    mFrms = frms, mSecs = secs, mMins = mins, mHrs = hrs;
    Encode();
}

void CRP188::SetRP188(ULWord frameCount, const TimecodeFormat format) {
    mFormat = Use(format);
    ULWord h, m, s, f;
    ConvertFrameCount(frameCount, mFormat, h, m, s, f);
    SetRP188(f, s, m, h, mFormat);
}

void CRP188::SetRP188(const RP188_STRUCT& rp188, const TimecodeFormat format) {
    mFormat = Use(format);
    mRP188 = rp188;
    mValid = !(rp188.DBB == 0xFFFFFFFF && rp188.Low == 0xFFFFFFFF && rp188.High == 0xFFFFFFFF);
    if (!mValid) return;
    const ULWord lo = rp188.Low, hi = rp188.High;
    mFrms = ((lo >> 8) & 0x3) * 10 + (lo & 0xF);
    mSecs = ((lo >> 24) & 0x7) * 10 + ((lo >> 16) & 0xF);
    mMins = ((hi >> 8) & 0x7) * 10 + (hi & 0xF);
    mHrs = ((hi >> 24) & 0x3) * 10 + ((hi >> 16) & 0xF);
    mDropFrame = (lo & kDropFrameBit) != 0;
    if (FormatIs60_50fps()) mFrms = mFrms * 2 + ((lo & kFieldBit) ? 1 : 0);
}

void CRP188::SetDropFrame(bool dropFrame) {
    mDropFrame = dropFrame;
    if (mValid) Encode();
}

void CRP188::Encode() {
    const ULWord f = FormatIs60_50fps() ? mFrms / 2 : mFrms;
    ULWord lo = (f % 10) | (f / 10) << 8 | (mSecs % 10) << 16 | (mSecs / 10) << 24;
    if (mDropFrame) lo |= kDropFrameBit;
    if (FormatIs60_50fps() && (mFrms & 1)) lo |= kFieldBit;
    const ULWord hi = (mMins % 10) | (mMins / 10) << 8 | (mHrs % 10) << 16 | (mHrs / 10) << 24;
    mRP188 = RP188_STRUCT{0, lo, hi};
}

bool CRP188::GetRP188Reg(RP188_STRUCT& out) const {
    out = mRP188;
    return mValid;
}

bool CRP188::GetRP188Reg(NTV2_RP188& out) const {
    out = NTV2_RP188(mRP188);
    return mValid;
}

bool CRP188::GetRP188Str(std::string& out) const {
    if (!mValid) return false;
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u%c%02u", static_cast<unsigned>(mHrs),
                  static_cast<unsigned>(mMins), static_cast<unsigned>(mSecs),
                  mDropFrame ? ';' : ':', static_cast<unsigned>(mFrms));
    out = text;
    return true;
}

bool CRP188::GetRP188Secs(ULWord& out) const {
    out = mSecs;
    return mValid;
}
bool CRP188::GetRP188Frms(ULWord& out) const {
    out = mFrms;
    return mValid;
}
bool CRP188::GetRP188Mins(ULWord& out) const {
    out = mMins;
    return mValid;
}
bool CRP188::GetRP188Hrs(ULWord& out) const {
    out = mHrs;
    return mValid;
}

bool CRP188::GetFrameCount(ULWord& out) {
    if (!mValid) return false;
    ConvertTimecode(out, mFormat, mHrs, mMins, mSecs, mFrms);
    return true;
}
