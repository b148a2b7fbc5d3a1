// Where oxplay's pictures and sound come from: patterns drawn here, Y4M and WAV files read
// here, and any other media file decoded by FFmpeg's libraries (media.cpp). A source hands
// out timed pictures, each in a layout the renderer takes, and a continuous stream of
// interleaved audio; the schedule (schedule.h) decides which picture each output period shows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orvex/types.h"

namespace oxplay {

// Times are 100-ns ticks from the source's start.
inline constexpr std::int64_t kTicksPerSecond = 10'000'000;

// The start of period `n` at `rate_num`/`rate_den` periods a second (exact: no drift).
inline std::int64_t PeriodStart(std::int64_t n, int rate_num, int rate_den) {
    return n * kTicksPerSecond * rate_den / rate_num;
}

// A picture in one of the layouts the renderer takes: UYVY (HDYC for BT.709 colours), YUY2,
// RGB32 (B, G, R, A bytes, top row first) or v210.
struct Image {
    eMFCC fcc = eMFCC_UYVY;
    int width = 0;
    int height = 0;
    int row_bytes = 0;
    std::vector<std::uint8_t> bytes;
    eMInterlace interlace = eMI_Progressive;  // the order of its fields, when it has two
    int aspect_num = 1, aspect_den = 1;       // a pixel's width over its height
};

struct TimedImage {
    std::shared_ptr<const Image> image;
    std::int64_t start = 0;
    std::int64_t duration = 0;
    std::int64_t number = 0;  // counts the source's pictures from 0
};

struct VideoInfo {
    bool present = false;
    int width = 0;
    int height = 0;
    int aspect_num = 1, aspect_den = 1;  // pixel aspect
    int rate_num = 25, rate_den = 1;     // nominal frames per second (variable: the average)
    bool variable_rate = false;
    eMInterlace interlace = eMI_Progressive;
    std::string codec;  // "h264 yuv420p", for the start line
    double Rate() const { return static_cast<double>(rate_num) / rate_den; }
};

struct AudioInfo {
    int channels = 0;  // handed to the renderer, after mapping; 0: no audio
    int rate = 48000;
    int bits = 32;          // 16 or 32
    std::string layout;     // "5.1", "stereo", ...
    std::string placement;  // "channels 1-6 (L R C LFE Ls Rs)"
};

enum class Fetch {
    kPicture,  // here it is
    kNotYet,   // no picture near `now` (the stream has a gap or starts later): ask again
    kEnd,
    kError,
};

class Source {
public:
    virtual ~Source() = default;
    // The next picture in time order. `now` is the output's time: a source that would have to
    // read far past it to find the next picture says kNotYet instead.
    virtual Fetch NextPicture(std::int64_t now, TimedImage* out, std::string* error) = 0;
    // The next `count` sample frames, interleaved, audio.bits wide, silence where the stream
    // has a gap or has ended; *ended when it ended at or before the end of this block.
    virtual bool ReadAudio(int count, std::uint8_t* out, bool* ended, std::string* error) = 0;
    // Starts again from the beginning (for --loop); false with a reason when it cannot.
    virtual bool Rewind(std::string* error) = 0;
    // The most the source ever held read ahead of what played, in bytes.
    virtual std::int64_t PeakQueuedBytes() const { return 0; }

    VideoInfo video;
    AudioInfo audio;
};

// 8-bit 4:2:2 picture, Y'CbCr studio range (BT.709), stored as UYVY: the form the patterns
// are drawn in and Y4M pictures are read into before packing.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> uyvy;
    void Resize(int w, int h) {
        width = w;
        height = h;
        uyvy.assign(static_cast<std::size_t>(w) * h * 2, 0);
    }
};

// Packs `picture` into `fcc` (UYVY, HDYC, YUY2, RGB32 top-down, v210); false for others.
bool PackPicture(const Picture& picture, eMFCC fcc, std::vector<std::uint8_t>* out, int* row_bytes);
// Bytes per row the renderer expects of `fcc` at `width` (0 for unknown layouts).
int RowBytesOf(eMFCC fcc, int width);

enum class Pattern { kBars, kBox, kRamp };
// Draws pattern frame `index` (the box pattern burns in the counter and `timecode` text).
void DrawPattern(Pattern pattern, std::int64_t index, const std::string& timecode,
                 Picture* picture);
// The 1 kHz tone with a channel ident for `samples` sample frames starting at `first`:
// channel c falls silent for a quarter second at (c + 1) quarter seconds into every
// five-second cycle, so a listener (or a meter) tells the channels apart.
void DrawTone(std::int64_t first, int samples, const AudioInfo& audio, std::uint8_t* out);

// The running timecode of the output: start and rate, counted in frames.
struct TimecodeClock {
    int start_frames = 36000 * 25;  // 10:00:00:00 at 25
    int fps = 25;                   // frames per second of the count (30 for 29.97)
    bool drop_frame = false;        // 29.97 and 59.94 drop-frame counting
    // "HH:MM:SS:FF" (";FF" when dropping frames) of frame `index`.
    std::string Text(std::int64_t index) const;
};
// The frame count of a timecode at `fps` frames a second (`ntsc`: 1000/1001 of it), or a
// one-line reason why that label does not exist there (frames past the rate, drop-frame
// counting at a rate that has none, or a drop-frame label that is skipped).
std::string TimecodeFrames(int hours, int minutes, int seconds, int frames, bool drop_frame,
                           int fps, bool ntsc, int* count);

// Test patterns of `format` (its size, rate and layout) with the tone; endless.
struct PatternFormat {
    Pattern pattern = Pattern::kBox;
    int width = 1920, height = 1080;
    int rate_num = 25, rate_den = 1;
    eMFCC fcc = eMFCC_UYVY;
    eMInterlace interlace = eMI_Progressive;
    TimecodeClock timecode;
};
std::unique_ptr<Source> MakePatternSource(const PatternFormat& format, int audio_channels);
// Colour bars of `format`'s size and layout: the picture of a source without video.
std::shared_ptr<const Image> BarsImage(const PatternFormat& format);
// A Y4M file: 8-bit 4:2:0, 4:2:2, 4:4:4 or mono, brought to UYVY.
std::unique_ptr<Source> OpenY4M(const std::string& path, std::string* error);
// A WAV file (PCM 16/24/32-bit or 32-bit float); no pictures.
std::unique_ptr<Source> OpenWav(const std::string& path, std::string* error);
// Any media file FFmpeg decodes.
std::unique_ptr<Source> OpenMedia(const std::string& path, std::string* error);

// Caption lines: each line the CEA-608 byte pairs of one frame as hex words ("9420 2c2f");
// blank lines carry nothing. Only a regular file of at most kMaxCaptionBytes is read.
// Returns an empty string or the reason the file is refused.
inline constexpr std::int64_t kMaxCaptionBytes = 16 << 20;
std::string ReadCaptions(const std::string& path, std::vector<std::vector<std::uint8_t>>* out);

// The audio sample frames of output period `n` at `rate_num`/`rate_den` periods a second and
// `audio_rate` samples a second: consecutive periods add up exactly (1601 or 1602 at 29.97).
int PeriodSamples(std::int64_t n, int rate_num, int rate_den, int audio_rate);

}  // namespace oxplay
