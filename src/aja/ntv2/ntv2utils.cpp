#include "aja/ntv2/ntv2utils.h"

#include <array>

namespace {

struct FormatInfo {
    NTV2VideoFormat format;
    ULWord width, height;
    NTV2FrameRate rate;
    NTV2Standard standard;
    NTV2FrameGeometry geometry;
    bool progressive;
};

constexpr FormatInfo kFormats[] = {
    {NTV2_FORMAT_1080i_5000, 1920, 1080, NTV2_FRAMERATE_2500, NTV2_STANDARD_1080, NTV2_FG_1920x1080,
     false},
    {NTV2_FORMAT_1080i_5994, 1920, 1080, NTV2_FRAMERATE_2997, NTV2_STANDARD_1080, NTV2_FG_1920x1080,
     false},
    {NTV2_FORMAT_1080i_6000, 1920, 1080, NTV2_FRAMERATE_3000, NTV2_STANDARD_1080, NTV2_FG_1920x1080,
     false},
    {NTV2_FORMAT_720p_5994, 1280, 720, NTV2_FRAMERATE_5994, NTV2_STANDARD_720, NTV2_FG_1280x720,
     true},
    {NTV2_FORMAT_720p_6000, 1280, 720, NTV2_FRAMERATE_6000, NTV2_STANDARD_720, NTV2_FG_1280x720,
     true},
    {NTV2_FORMAT_1080psf_2398, 1920, 1080, NTV2_FRAMERATE_2398, NTV2_STANDARD_1080,
     NTV2_FG_1920x1080, false},
    {NTV2_FORMAT_1080psf_2400, 1920, 1080, NTV2_FRAMERATE_2400, NTV2_STANDARD_1080,
     NTV2_FG_1920x1080, false},
    {NTV2_FORMAT_1080p_2997, 1920, 1080, NTV2_FRAMERATE_2997, NTV2_STANDARD_1080p,
     NTV2_FG_1920x1080, true},
    {NTV2_FORMAT_1080p_3000, 1920, 1080, NTV2_FRAMERATE_3000, NTV2_STANDARD_1080p,
     NTV2_FG_1920x1080, true},
    {NTV2_FORMAT_1080p_2500, 1920, 1080, NTV2_FRAMERATE_2500, NTV2_STANDARD_1080p,
     NTV2_FG_1920x1080, true},
    {NTV2_FORMAT_1080p_2398, 1920, 1080, NTV2_FRAMERATE_2398, NTV2_STANDARD_1080p,
     NTV2_FG_1920x1080, true},
    {NTV2_FORMAT_1080p_2400, 1920, 1080, NTV2_FRAMERATE_2400, NTV2_STANDARD_1080p,
     NTV2_FG_1920x1080, true},
    {NTV2_FORMAT_1080p_2K_2398, 2048, 1080, NTV2_FRAMERATE_2398, NTV2_STANDARD_2Kx1080p,
     NTV2_FG_2048x1080, true},
    {NTV2_FORMAT_1080p_2K_2400, 2048, 1080, NTV2_FRAMERATE_2400, NTV2_STANDARD_2Kx1080p,
     NTV2_FG_2048x1080, true},
    {NTV2_FORMAT_720p_5000, 1280, 720, NTV2_FRAMERATE_5000, NTV2_STANDARD_720, NTV2_FG_1280x720,
     true},
    {NTV2_FORMAT_1080p_5000_B, 1920, 1080, NTV2_FRAMERATE_5000, NTV2_STANDARD_1080p,
     NTV2_FG_1920x1080, true},
    {NTV2_FORMAT_1080p_5994_B, 1920, 1080, NTV2_FRAMERATE_5994, NTV2_STANDARD_1080p,
     NTV2_FG_1920x1080, true},
    {NTV2_FORMAT_1080p_6000_B, 1920, 1080, NTV2_FRAMERATE_6000, NTV2_STANDARD_1080p,
     NTV2_FG_1920x1080, true},
    {NTV2_FORMAT_720p_2398, 1280, 720, NTV2_FRAMERATE_2398, NTV2_STANDARD_720, NTV2_FG_1280x720,
     true},
    {NTV2_FORMAT_720p_2500, 1280, 720, NTV2_FRAMERATE_2500, NTV2_STANDARD_720, NTV2_FG_1280x720,
     true},
    {NTV2_FORMAT_1080p_5000_A, 1920, 1080, NTV2_FRAMERATE_5000, NTV2_STANDARD_1080p,
     NTV2_FG_1920x1080, true},
    {NTV2_FORMAT_1080p_5994_A, 1920, 1080, NTV2_FRAMERATE_5994, NTV2_STANDARD_1080p,
     NTV2_FG_1920x1080, true},
    {NTV2_FORMAT_1080p_6000_A, 1920, 1080, NTV2_FRAMERATE_6000, NTV2_STANDARD_1080p,
     NTV2_FG_1920x1080, true},
    {NTV2_FORMAT_1080p_2K_2500, 2048, 1080, NTV2_FRAMERATE_2500, NTV2_STANDARD_2Kx1080p,
     NTV2_FG_2048x1080, true},
    {NTV2_FORMAT_525_5994, 720, 486, NTV2_FRAMERATE_2997, NTV2_STANDARD_525, NTV2_FG_720x486,
     false},
    {NTV2_FORMAT_625_5000, 720, 576, NTV2_FRAMERATE_2500, NTV2_STANDARD_625, NTV2_FG_720x576,
     false},
    {NTV2_FORMAT_525_2398, 720, 486, NTV2_FRAMERATE_2398, NTV2_STANDARD_525, NTV2_FG_720x486,
     false},
    {NTV2_FORMAT_525_2400, 720, 486, NTV2_FRAMERATE_2400, NTV2_STANDARD_525, NTV2_FG_720x486,
     false},
    {NTV2_FORMAT_525psf_2997, 720, 486, NTV2_FRAMERATE_2997, NTV2_STANDARD_525, NTV2_FG_720x486,
     false},
    {NTV2_FORMAT_625psf_2500, 720, 576, NTV2_FRAMERATE_2500, NTV2_STANDARD_625, NTV2_FG_720x576,
     false},
    {NTV2_FORMAT_2K_1498, 2048, 1556, NTV2_FRAMERATE_1498, NTV2_STANDARD_2K, NTV2_FG_2048x1556,
     false},
    {NTV2_FORMAT_2K_1500, 2048, 1556, NTV2_FRAMERATE_1500, NTV2_STANDARD_2K, NTV2_FG_2048x1556,
     false},
    {NTV2_FORMAT_2K_2398, 2048, 1556, NTV2_FRAMERATE_2398, NTV2_STANDARD_2K, NTV2_FG_2048x1556,
     false},
    {NTV2_FORMAT_2K_2400, 2048, 1556, NTV2_FRAMERATE_2400, NTV2_STANDARD_2K, NTV2_FG_2048x1556,
     false},
    {NTV2_FORMAT_2K_2500, 2048, 1556, NTV2_FRAMERATE_2500, NTV2_STANDARD_2K, NTV2_FG_2048x1556,
     false},
    {NTV2_FORMAT_4x1920x1080psf_2398, 3840, 2160, NTV2_FRAMERATE_2398, NTV2_STANDARD_3840x2160p,
     NTV2_FG_4x1920x1080, false},
    {NTV2_FORMAT_4x1920x1080p_2398, 3840, 2160, NTV2_FRAMERATE_2398, NTV2_STANDARD_3840x2160p,
     NTV2_FG_4x1920x1080, true},
    {NTV2_FORMAT_4x1920x1080p_2400, 3840, 2160, NTV2_FRAMERATE_2400, NTV2_STANDARD_3840x2160p,
     NTV2_FG_4x1920x1080, true},
    {NTV2_FORMAT_4x1920x1080p_2500, 3840, 2160, NTV2_FRAMERATE_2500, NTV2_STANDARD_3840x2160p,
     NTV2_FG_4x1920x1080, true},
    {NTV2_FORMAT_4x2048x1080p_2398, 4096, 2160, NTV2_FRAMERATE_2398, NTV2_STANDARD_4096x2160p,
     NTV2_FG_4x2048x1080, true},
    {NTV2_FORMAT_4x2048x1080p_2400, 4096, 2160, NTV2_FRAMERATE_2400, NTV2_STANDARD_4096x2160p,
     NTV2_FG_4x2048x1080, true},
    {NTV2_FORMAT_4x2048x1080p_2500, 4096, 2160, NTV2_FRAMERATE_2500, NTV2_STANDARD_4096x2160p,
     NTV2_FG_4x2048x1080, true},
    {NTV2_FORMAT_4x1920x1080p_2997, 3840, 2160, NTV2_FRAMERATE_2997, NTV2_STANDARD_3840x2160p,
     NTV2_FG_4x1920x1080, true},
    {NTV2_FORMAT_4x1920x1080p_3000, 3840, 2160, NTV2_FRAMERATE_3000, NTV2_STANDARD_3840x2160p,
     NTV2_FG_4x1920x1080, true},
    {NTV2_FORMAT_4x2048x1080p_2997, 4096, 2160, NTV2_FRAMERATE_2997, NTV2_STANDARD_4096x2160p,
     NTV2_FG_4x2048x1080, true},
    {NTV2_FORMAT_4x2048x1080p_3000, 4096, 2160, NTV2_FRAMERATE_3000, NTV2_STANDARD_4096x2160p,
     NTV2_FG_4x2048x1080, true},
    {NTV2_FORMAT_4x1920x1080p_5000, 3840, 2160, NTV2_FRAMERATE_5000, NTV2_STANDARD_3840HFR,
     NTV2_FG_4x1920x1080, true},
    {NTV2_FORMAT_4x1920x1080p_5994, 3840, 2160, NTV2_FRAMERATE_5994, NTV2_STANDARD_3840HFR,
     NTV2_FG_4x1920x1080, true},
    {NTV2_FORMAT_4x1920x1080p_6000, 3840, 2160, NTV2_FRAMERATE_6000, NTV2_STANDARD_3840HFR,
     NTV2_FG_4x1920x1080, true},
};

const FormatInfo* Find(NTV2VideoFormat format) {
    for (const FormatInfo& f : kFormats)
        if (f.format == format) return &f;
    return nullptr;
}

}  // namespace

NTV2FrameRate GetNTV2FrameRateFromVideoFormat(NTV2VideoFormat format) {
    const FormatInfo* f = Find(format);
    return f ? f->rate : NTV2_FRAMERATE_UNKNOWN;
}

NTV2Standard GetNTV2StandardFromVideoFormat(const NTV2VideoFormat format) {
    const FormatInfo* f = Find(format);
    return f ? f->standard : NTV2_STANDARD_INVALID;
}

NTV2FrameGeometry GetNTV2FrameGeometryFromVideoFormat(const NTV2VideoFormat format) {
    const FormatInfo* f = Find(format);
    return f ? f->geometry : NTV2_FG_INVALID;
}

NTV2FrameDimensions GetFormatDimensions(NTV2VideoFormat format) {
    const FormatInfo* f = Find(format);
    return f ? NTV2FrameDimensions(f->width, f->height) : NTV2FrameDimensions();
}

bool IsProgressiveFormat(NTV2VideoFormat format) {
    const FormatInfo* f = Find(format);
    return f && f->progressive;
}

bool GetFramesPerSecond(const NTV2FrameRate rate, ULWord& num, ULWord& den) {
    struct R {
        ULWord num, den;
    };
    static constexpr std::array<R, NTV2_NUM_FRAMERATES> kRates = {{{0, 0},
                                                                   {60, 1},
                                                                   {60000, 1001},
                                                                   {30, 1},
                                                                   {30000, 1001},
                                                                   {25, 1},
                                                                   {24, 1},
                                                                   {24000, 1001},
                                                                   {50, 1},
                                                                   {48, 1},
                                                                   {48000, 1001},
                                                                   {120, 1},
                                                                   {120000, 1001},
                                                                   {15, 1},
                                                                   {15000, 1001},
                                                                   {19, 1},
                                                                   {19000, 1001},
                                                                   {18, 1},
                                                                   {18000, 1001}}};
    if (rate == NTV2_FRAMERATE_UNKNOWN || rate >= NTV2_NUM_FRAMERATES) return false;
    num = kRates[rate].num;
    den = kRates[rate].den;
    return true;
}

double GetFramesPerSecond(const NTV2FrameRate rate) {
    ULWord num = 0, den = 0;
    return GetFramesPerSecond(rate, num, den) ? static_cast<double>(num) / den : 0.0;
}

bool NTV2_IS_FBF_RGB(NTV2FrameBufferFormat fbf) {
    switch (fbf) {
        case NTV2_FBF_ARGB:
        case NTV2_FBF_RGBA:
        case NTV2_FBF_10BIT_RGB:
        case NTV2_FBF_ABGR:
        case NTV2_FBF_10BIT_DPX:
        case NTV2_FBF_24BIT_RGB:
        case NTV2_FBF_24BIT_BGR:
        case NTV2_FBF_48BIT_RGB:
        case NTV2_FBF_10BIT_ARGB:
        case NTV2_FBF_16BIT_ARGB:
            return true;
        default:
            return false;
    }
}

bool NTV2_IS_FBF_8BIT(NTV2FrameBufferFormat fbf) {
    switch (fbf) {
        case NTV2_FBF_8BIT_YCBCR:
        case NTV2_FBF_ARGB:
        case NTV2_FBF_RGBA:
        case NTV2_FBF_8BIT_YCBCR_YUY2:
        case NTV2_FBF_ABGR:
        case NTV2_FBF_24BIT_RGB:
        case NTV2_FBF_24BIT_BGR:
            return true;
        default:
            return false;
    }
}

ULWord GetRowBytes(NTV2FrameBufferFormat fbf, ULWord width) {
    const ULWord64 w = width;
    ULWord64 bytes = 0;
    switch (fbf) {
        case NTV2_FBF_8BIT_YCBCR:
        case NTV2_FBF_8BIT_YCBCR_YUY2:
            bytes = w * 2;
            break;
        case NTV2_FBF_10BIT_YCBCR:
            bytes = (w + 47) / 48 * 128;
            break;
        case NTV2_FBF_ARGB:
        case NTV2_FBF_RGBA:
        case NTV2_FBF_ABGR:
        case NTV2_FBF_10BIT_RGB:
        case NTV2_FBF_10BIT_DPX:
            bytes = w * 4;
            break;
        case NTV2_FBF_24BIT_RGB:
        case NTV2_FBF_24BIT_BGR:
            bytes = w * 3;
            break;
        case NTV2_FBF_48BIT_RGB:
            bytes = w * 6;
            break;
        default:
            return 0;
    }
    return bytes > 0xFFFFFFFFull ? 0 : static_cast<ULWord>(bytes);
}

ULWord GetVancLines(NTV2VideoFormat format, NTV2VANCMode mode) {
    if (mode == NTV2_VANCMODE_OFF || mode >= NTV2_VANCMODE_INVALID) return 0;
    const bool taller = mode == NTV2_VANCMODE_TALLER;
    switch (GetNTV2FrameGeometryFromVideoFormat(format)) {
        case NTV2_FG_1920x1080:
        case NTV2_FG_2048x1080:
            return taller ? 34 : 32;  // 1114 or 1112 lines in all
        case NTV2_FG_1280x720:
            return 20;
        case NTV2_FG_720x486:
            return taller ? 28 : 22;
        case NTV2_FG_720x576:
            return taller ? 36 : 22;
        default:
            return 0;
    }
}

ULWord GetVideoActiveSize(const NTV2VideoFormat format, const NTV2FrameBufferFormat fbf,
                          const NTV2VANCMode vanc) {
    const NTV2FrameDimensions d = GetFormatDimensions(format);
    const ULWord64 row = GetRowBytes(fbf, d.GetWidth());
    const ULWord64 size = row * (d.GetHeight() + GetVancLines(format, vanc));
    return size > 0xFFFFFFFFull ? 0 : static_cast<ULWord>(size);
}

ULWord GetVideoActiveSize(const NTV2VideoFormat format, const NTV2FrameBufferFormat fbf,
                          const bool vancEnabled, const bool wideVANC) {
    return GetVideoActiveSize(
        format, fbf,
        vancEnabled ? (wideVANC ? NTV2_VANCMODE_TALLER : NTV2_VANCMODE_TALL) : NTV2_VANCMODE_OFF);
}

ULWord GetVideoWriteSize(const NTV2VideoFormat format, const NTV2FrameBufferFormat fbf,
                         const NTV2VANCMode vanc) {
    const ULWord64 size = GetVideoActiveSize(format, fbf, vanc);
    const ULWord64 rounded = (size + 4095) / 4096 * 4096;
    return rounded > 0xFFFFFFFFull ? 0 : static_cast<ULWord>(rounded);
}

double GetAudioSamplesPerSecond(const NTV2AudioRate rate) {
    switch (rate) {
        case NTV2_AUDIO_48K:
            return 48000.0;
        case NTV2_AUDIO_96K:
            return 96000.0;
        case NTV2_AUDIO_192K:
            return 192000.0;
        default:
            return 0.0;
    }
}

ULWord GetAudioSamplesPerFrame(const NTV2FrameRate inRate, const NTV2AudioRate audioRate,
                               ULWord cadenceFrame, bool isSMPTE372Enabled) {
    NTV2FrameRate rate = inRate;
    if (isSMPTE372Enabled) {
        switch (rate) {
            case NTV2_FRAMERATE_3000:
                rate = NTV2_FRAMERATE_6000;
                break;
            case NTV2_FRAMERATE_2997:
                rate = NTV2_FRAMERATE_5994;
                break;
            case NTV2_FRAMERATE_2500:
                rate = NTV2_FRAMERATE_5000;
                break;
            case NTV2_FRAMERATE_2400:
                rate = NTV2_FRAMERATE_4800;
                break;
            case NTV2_FRAMERATE_2398:
                rate = NTV2_FRAMERATE_4795;
                break;
            default:
                break;
        }
    }
    const ULWord k = cadenceFrame % 5;
    // Fractional rates run a five-frame cadence; the tables are the samples per cadence frame.
    static constexpr ULWord k5994at48[5] = {800, 801, 801, 801, 801};
    static constexpr ULWord k2997at48[5] = {1602, 1601, 1602, 1601, 1602};
    static constexpr ULWord k1498at48[5] = {3204, 3203, 3203, 3203, 3203};
    static constexpr ULWord k11988at48[5] = {400, 401, 400, 401, 400};
    static constexpr ULWord k5994at96[5] = {1602, 1601, 1602, 1601, 1602};
    static constexpr ULWord k2997at96[5] = {3204, 3203, 3203, 3203, 3203};
    static constexpr ULWord k1498at96[5] = {6408, 6406, 6406, 6406, 6406};
    static constexpr ULWord k11988at96[5] = {801, 801, 801, 801, 800};
    const bool at96 = audioRate == NTV2_AUDIO_96K;
    if (audioRate != NTV2_AUDIO_48K && !at96) return 0;
    const ULWord scale = at96 ? 2 : 1;
    switch (rate) {
        case NTV2_FRAMERATE_6000:
            return 800 * scale;
        case NTV2_FRAMERATE_5994:
            return at96 ? k5994at96[k] : k5994at48[k];
        case NTV2_FRAMERATE_5000:
            return 960 * scale;
        case NTV2_FRAMERATE_4800:
            return 1000 * scale;
        case NTV2_FRAMERATE_4795:
            return 1001 * scale;
        case NTV2_FRAMERATE_3000:
            return 1600 * scale;
        case NTV2_FRAMERATE_2997:
            return at96 ? k2997at96[k] : k2997at48[k];
        case NTV2_FRAMERATE_2500:
            return 1920 * scale;
        case NTV2_FRAMERATE_2400:
            return 2000 * scale;
        case NTV2_FRAMERATE_2398:
            return 2002 * scale;
        case NTV2_FRAMERATE_1500:
            return 3200 * scale;
        case NTV2_FRAMERATE_1498:
            return at96 ? k1498at96[k] : k1498at48[k];
        case NTV2_FRAMERATE_12000:
            return 400 * scale;
        case NTV2_FRAMERATE_11988:
            return at96 ? k11988at96[k] : k11988at48[k];
        default:
            return 0;
    }
}

LWord64 GetTotalAudioSamplesFromFrameNbrZeroUpToFrameNbr(NTV2FrameRate rate,
                                                         NTV2AudioRate audioRate,
                                                         ULWord frameNbrNonInclusive) {
    LWord64 cycle = 0;
    for (ULWord k = 0; k < 5; ++k) cycle += GetAudioSamplesPerFrame(rate, audioRate, k);
    LWord64 total = cycle * (frameNbrNonInclusive / 5);
    for (ULWord k = 0; k < frameNbrNonInclusive % 5; ++k)
        total += GetAudioSamplesPerFrame(rate, audioRate, k);
    return total;
}

namespace {
constexpr NTV2Crosspoint kOutputXpt[8] = {NTV2CROSSPOINT_CHANNEL1, NTV2CROSSPOINT_CHANNEL2,
                                          NTV2CROSSPOINT_CHANNEL3, NTV2CROSSPOINT_CHANNEL4,
                                          NTV2CROSSPOINT_CHANNEL5, NTV2CROSSPOINT_CHANNEL6,
                                          NTV2CROSSPOINT_CHANNEL7, NTV2CROSSPOINT_CHANNEL8};
constexpr NTV2OutputXptID kFbYuv[8] = {NTV2_XptFrameBuffer1YUV, NTV2_XptFrameBuffer2YUV,
                                       NTV2_XptFrameBuffer3YUV, NTV2_XptFrameBuffer4YUV,
                                       NTV2_XptFrameBuffer5YUV, NTV2_XptFrameBuffer6YUV,
                                       NTV2_XptFrameBuffer7YUV, NTV2_XptFrameBuffer8YUV};
constexpr NTV2OutputXptID kFbRgb[8] = {NTV2_XptFrameBuffer1RGB, NTV2_XptFrameBuffer2RGB,
                                       NTV2_XptFrameBuffer3RGB, NTV2_XptFrameBuffer4RGB,
                                       NTV2_XptFrameBuffer5RGB, NTV2_XptFrameBuffer6RGB,
                                       NTV2_XptFrameBuffer7RGB, NTV2_XptFrameBuffer8RGB};
constexpr NTV2InputXptID kSdiIn[8] = {
    NTV2_XptSDIOut1Input, NTV2_XptSDIOut2Input, NTV2_XptSDIOut3Input, NTV2_XptSDIOut4Input,
    NTV2_XptSDIOut5Input, NTV2_XptSDIOut6Input, NTV2_XptSDIOut7Input, NTV2_XptSDIOut8Input};
constexpr NTV2InputXptID kCscIn[8] = {
    NTV2_XptCSC1VidInput, NTV2_XptCSC2VidInput, NTV2_XptCSC3VidInput, NTV2_XptCSC4VidInput,
    NTV2_XptCSC5VidInput, NTV2_XptCSC6VidInput, NTV2_XptCSC7VidInput, NTV2_XptCSC8VidInput};
constexpr NTV2OutputXptID kCscYuv[8] = {NTV2_XptCSC1VidYUV, NTV2_XptCSC2VidYUV, NTV2_XptCSC3VidYUV,
                                        NTV2_XptCSC4VidYUV, NTV2_XptCSC5VidYUV, NTV2_XptCSC6VidYUV,
                                        NTV2_XptCSC7VidYUV, NTV2_XptCSC8VidYUV};
constexpr NTV2TCIndex kTcSdi[8] = {NTV2_TCINDEX_SDI1, NTV2_TCINDEX_SDI2, NTV2_TCINDEX_SDI3,
                                   NTV2_TCINDEX_SDI4, NTV2_TCINDEX_SDI5, NTV2_TCINDEX_SDI6,
                                   NTV2_TCINDEX_SDI7, NTV2_TCINDEX_SDI8};
constexpr NTV2TCIndex kTcLtc[8] = {
    NTV2_TCINDEX_SDI1_LTC, NTV2_TCINDEX_SDI2_LTC, NTV2_TCINDEX_SDI3_LTC, NTV2_TCINDEX_SDI4_LTC,
    NTV2_TCINDEX_SDI5_LTC, NTV2_TCINDEX_SDI6_LTC, NTV2_TCINDEX_SDI7_LTC, NTV2_TCINDEX_SDI8_LTC};
bool Valid(NTV2Channel c) {
    return c < NTV2_MAX_NUM_CHANNELS;
}
}  // namespace

NTV2Crosspoint NTV2ChannelToOutputCrosspoint(const NTV2Channel channel) {
    return Valid(channel) ? kOutputXpt[channel] : NTV2CROSSPOINT_INVALID;
}

NTV2Channel NTV2CrosspointToChannel(NTV2Crosspoint crosspoint) {
    for (ULWord c = 0; c < 8; ++c)
        if (kOutputXpt[c] == crosspoint) return static_cast<NTV2Channel>(c);
    return NTV2_CHANNEL_INVALID;
}

NTV2AudioSystem NTV2ChannelToAudioSystem(const NTV2Channel channel) {
    return Valid(channel) ? static_cast<NTV2AudioSystem>(channel) : NTV2_AUDIOSYSTEM_INVALID;
}

NTV2TCIndex NTV2ChannelToTimecodeIndex(const NTV2Channel channel, const bool embeddedLTC,
                                       const bool isF2) {
    if (!Valid(channel)) return NTV2_TCINDEX_INVALID;
    if (isF2) return static_cast<NTV2TCIndex>(19 + channel);
    return embeddedLTC ? kTcLtc[channel] : kTcSdi[channel];
}

NTV2OutputXptID GetFrameBufferOutputXptFromChannel(const NTV2Channel channel, const bool isRGB,
                                                   const bool /*is425*/) {
    if (!Valid(channel)) return NTV2_OUTPUT_CROSSPOINT_INVALID;
    return isRGB ? kFbRgb[channel] : kFbYuv[channel];
}

NTV2InputXptID GetSDIOutputInputXpt(const NTV2Channel channel, const bool isDS2) {
    if (!Valid(channel)) return NTV2_INPUT_CROSSPOINT_INVALID;
    return isDS2 ? static_cast<NTV2InputXptID>(kSdiIn[channel] + 1) : kSdiIn[channel];
}

NTV2InputXptID GetCSCInputXptFromChannel(const NTV2Channel channel, const bool isKeyInput) {
    if (!Valid(channel)) return NTV2_INPUT_CROSSPOINT_INVALID;
    return isKeyInput ? static_cast<NTV2InputXptID>(kCscIn[channel] + 1) : kCscIn[channel];
}

NTV2OutputXptID GetCSCOutputXptFromChannel(const NTV2Channel channel, const bool /*isKey*/,
                                           const bool isRGB) {
    if (!Valid(channel)) return NTV2_OUTPUT_CROSSPOINT_INVALID;
    return isRGB ? static_cast<NTV2OutputXptID>(kCscYuv[channel] | 0x80) : kCscYuv[channel];
}
