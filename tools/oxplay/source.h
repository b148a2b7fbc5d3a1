// Where oxplay's frames come from: patterns drawn here, Y4M and WAV files read here, and any
// other media file decoded by FFmpeg's libraries (media.cpp). A source hands out one video
// frame's picture and audio at a time, in a layout the renderer takes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orvex/types.h"

namespace oxplay {

struct VideoSpec {
    int width = 0;
    int height = 0;
    int rate_num = 25;  // frames per second as a fraction
    int rate_den = 1;
    eMInterlace interlace = eMI_Progressive;
    eMFCC fcc = eMFCC_UYVY;
    eMVideoFormat format = eMVF_Custom;
    short aspect_x = 0;
    short aspect_y = 0;
    double Rate() const { return static_cast<double>(rate_num) / rate_den; }
};

struct AudioSpec {
    int channels = 0;  // 0: no audio
    int rate = 48000;
    int bits = 16;
};

struct Frame {
    std::vector<std::uint8_t> video;  // empty: no picture
    int row_bytes = 0;
    std::vector<std::uint8_t> audio;  // interleaved samples
    int samples = 0;
};

// The audio sample frames that belong to video frame `index` at `audio`'s rate, so that the
// running total follows the exact rate ratio (1601/1602 at 29.97 frames per second).
int SamplesForFrame(std::int64_t index, const VideoSpec& video, int audio_rate);

class Source {
public:
    virtual ~Source() = default;
    // Reads the next frame; false at the end (error empty) or on failure (error set).
    virtual bool Read(Frame* frame, std::string* error) = 0;
    // Starts again from the first frame (for --loop); false when the source cannot.
    virtual bool Rewind() = 0;
    // Frames in the source; -1 when endless or unknown.
    virtual std::int64_t FrameCount() const { return -1; }

    VideoSpec video;
    AudioSpec audio;
};

// 8-bit 4:2:2 picture, Y'CbCr studio range (BT.709), stored as UYVY: the form the patterns
// are drawn in and files are brought to before packing.
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
void DrawTone(std::int64_t first, int samples, const AudioSpec& audio, std::uint8_t* out);

// Test patterns (video) with the tone (audio when audio.channels > 0); endless.
// `timecode_start` is the first frame's timecode in frames.
std::unique_ptr<Source> MakePatternSource(Pattern pattern, const VideoSpec& video,
                                          const AudioSpec& audio, int timecode_start);
// A Y4M file: 8-bit 4:2:0, 4:2:2, 4:4:4 or mono, brought to `fcc`.
std::unique_ptr<Source> OpenY4M(const std::string& path, eMFCC fcc, std::string* error);
// A WAV file (PCM 16/24/32-bit or 32-bit float) shown over colour bars of `video`.
std::unique_ptr<Source> OpenWav(const std::string& path, const VideoSpec& video,
                                std::string* error);
// Any media file FFmpeg decodes; `bars` is the picture when the file has no video.
std::unique_ptr<Source> OpenMedia(const std::string& path, const VideoSpec& bars,
                                  std::string* error);

// Caption lines: each line the CEA-608 byte pairs of one frame as hex words ("9420 2c2f");
// blank lines carry nothing. Returns an empty string or the reason the file is refused.
std::string ReadCaptions(const std::string& path, std::vector<std::vector<std::uint8_t>>* out);

// "HH:MM:SS:FF" of frame `index` counted from `start` at `fps` (integer frames per second).
std::string TimecodeText(int start_frames, std::int64_t index, int fps);

}  // namespace oxplay
