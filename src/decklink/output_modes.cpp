#include "decklink/output_modes.h"

#include <cstdlib>

#include "formats/video_formats.h"

namespace orvex::decklink {
namespace {

struct ModeRow {
    int format;  // eMVideoFormat low byte
    BMDDisplayMode mode;
    double queue_rate;
};

// One row per format; the first row of a mode is its reverse mapping.
constexpr ModeRow kModes[] = {
    {1, bmdModeNTSC, 29.97},
    {3, bmdModeNTSC, 29.97},
    {2, bmdModeNTSC2398, 23.976},
    {4, bmdModePAL, 25},
    {5, bmdModePAL, 25},
    {6, bmdModeHD720p50, 50},
    {7, bmdModeHD720p5994, 59.94},
    {8, bmdModeHD720p60, 60},
    {9, bmdModeHD1080p2398, 23.976},
    {10, bmdModeHD1080p24, 24},
    {11, bmdModeHD1080p25, 25},
    {12, bmdModeHD1080p2997, 29.97},
    {13, bmdModeHD1080p30, 30},
    {14, bmdModeHD1080i50, 25},
    {15, bmdModeHD1080i5994, 29.97},
    {16, bmdModeHD1080i6000, 30},
    {17, bmdModeHD1080p50, 50},
    {18, bmdModeHD1080p5994, 59.94},
    {19, bmdModeHD1080p6000, 60},
    {20, bmdMode2k2398, 23.976},
    {21, bmdMode2k24, 24},
    {22, bmdMode2k25, 25},
    {26, bmdMode4K2160p2398, 23.976},
    {27, bmdMode4K2160p24, 24},
    {28, bmdMode4K2160p25, 25},
    {29, bmdMode4K2160p2997, 29.97},
    {30, bmdMode4K2160p30, 30},
    {31, bmdMode4kDCI2398, 23.976},
    {32, bmdMode4kDCI24, 24},
    {33, bmdMode4kDCI25, 25},
    {34, bmdMode4K2160p50, 0},
    {35, bmdMode4K2160p5994, 0},
    {36, bmdMode4K2160p60, 0},
};

const ModeRow* RowOfMode(BMDDisplayMode mode) {
    for (const ModeRow& row : kModes)
        if (row.mode == mode) return &row;
    return nullptr;
}

}  // namespace

BMDDisplayMode DisplayModeFor(int video_format) {
    int base = video_format & 0xFF;
    if (base == 0) base = 1;
    for (const ModeRow& row : kModes)
        if (row.format == base) return row.mode;
    return 0;
}

eMVideoFormat VideoFormatFor(BMDDisplayMode mode) {
    const ModeRow* row = RowOfMode(mode);
    return row ? static_cast<eMVideoFormat>(row->format) : eMVF_Custom;
}

double QueueRateFor(BMDDisplayMode mode) {
    const ModeRow* row = RowOfMode(mode);
    return row ? row->queue_rate : 0;
}

BMDPixelFormat PixelFormatFor(eMFCC requested, bool ten_bit, bool keying) {
    if (keying) return bmdFormat8BitBGRA;
    if (requested == eMFCC_Default) requested = eMFCC_UYVY;
    if (ten_bit && requested != eMFCC_ARGB32) requested = eMFCC_v210;
    switch (requested) {
        case eMFCC_UYVY:
        case eMFCC_YUY2:
        case eMFCC_HDYC:
            return bmdFormat8BitYUV;
        case eMFCC_v210:
            return bmdFormat10BitYUV;
        case eMFCC_r210:
            return bmdFormat10BitRGB;
        case eMFCC_ARGB32:
        case eMFCC_RGB32:
            return bmdFormat8BitBGRA;
        default:
            return kNoPixelFormat;
    }
}

eMFCC FccFor(BMDPixelFormat format, int height) {
    switch (format) {
        case bmdFormat8BitBGRA:
            return eMFCC_RGB32;
        case bmdFormat8BitYUV:
            return std::abs(height) >= 720 ? eMFCC_HDYC : eMFCC_UYVY;
        case bmdFormat10BitRGB:
            return eMFCC_r210;
        case bmdFormat10BitYUV:
            return eMFCC_v210;
        default:
            return eMFCC_Default;
    }
}

int CardRowBytes(BMDPixelFormat format, int width) {
    const long long w = width < 0 ? 0 : width;
    switch (format) {
        case bmdFormat8BitYUV:
            return static_cast<int>(w * 2);
        case bmdFormat10BitYUV:
            return static_cast<int>((w + 47) / 48 * 128);
        case bmdFormat10BitRGB:
            return static_cast<int>((w + 63) / 64 * 256);
        default:
            return static_cast<int>(w * 4);
    }
}

M_VID_PROPS OutputVideoProps(BMDDisplayMode mode, BMDPixelFormat format, bool sd16x9) {
    M_VID_PROPS props = formats::VideoFormatDefaults(VideoFormatFor(mode), eMFCC_UYVY);
    if (props.nWidth == 0) {
        // UHD above 30 frames per second is outside the format table; the card's mode says it.
        const double rate = mode == bmdMode4K2160p50     ? 50.0
                            : mode == bmdMode4K2160p5994 ? 60000.0 / 1001.0
                            : mode == bmdMode4K2160p60   ? 60.0
                                                         : 0.0;
        if (rate > 0) {
            props.eVideoFormat = VideoFormatFor(mode);
            props.nWidth = 3840;
            props.nHeight = 2160;
            props.dblRate = rate;
            props.eInterlace = eMI_Progressive;
            props.nAspectX = 16;
            props.nAspectY = 9;
        }
    }
    const eMFCC fcc = FccFor(format, props.nHeight);
    props.fccType = fcc;
    props.nRowBytes = CardRowBytes(format, props.nWidth);
    // The card's BGRA rows run top-down.
    if (format == bmdFormat8BitBGRA) props.nHeight = -std::abs(props.nHeight);
    if (sd16x9) {
        props.nAspectX = 16;
        props.nAspectY = 9;
    }
    return props;
}

}  // namespace orvex::decklink
