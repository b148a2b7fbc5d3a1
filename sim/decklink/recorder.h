// Files of what went on air through one output: the pictures (Y4M for 8- and 10-bit 4:2:2,
// PNG stills of each new RGB frame), the audio (WAV, sizes kept valid after every write) and
// a JSON-lines log with one line per hardware period. Not thread-safe: one writer thread
// uses them (see Recording).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "decklink/api/decklink_api.h"
#include "sim/decklink/modes.h"

namespace orvex::sim::decklink {

// A picture as the card took it at DisplayVideoFrameSync.
struct Picture {
    std::int32_t width = 0, height = 0, row_bytes = 0;
    BMDPixelFormat format = 0;
    std::vector<std::uint8_t> bytes;
};

// 64-bit FNV-1a over the visible bytes of each row, eight bytes at a time.
std::uint64_t PictureChecksum(const std::uint8_t* rows, std::int32_t width, std::int32_t height,
                              std::int32_t row_bytes, BMDPixelFormat format);
inline std::uint64_t PictureChecksum(const Picture& p) {
    return PictureChecksum(p.bytes.data(), p.width, p.height, p.row_bytes, p.format);
}

class VideoRecorder {
public:
    VideoRecorder() = default;
    ~VideoRecorder() { Close(); }
    VideoRecorder(const VideoRecorder&) = delete;
    VideoRecorder& operator=(const VideoRecorder&) = delete;

    // `base` is the path without extension; files are created on first use.
    void Start(std::string base, const ModeInfo& mode);
    bool Active() const { return !base_.empty(); }
    // One period: the picture on air (new or repeated). Returns false when the picture could
    // not go to a file (unsupported layout, a layout change within the stream, I/O error).
    bool WritePeriod(const Picture& picture, bool is_new, std::int64_t period,
                     const Picture* right_eye);
    // One line, written whole and flushed.
    void WriteLogLine(const std::string& json);
    // The next repeat has no picture to repeat (the one before it never reached the file).
    void ForgetLastPicture();
    void Flush();
    void Close();

private:
    // One Y4M file and the planes of the last picture written to it.
    struct Y4mFile {
        std::FILE* file = nullptr;
        std::vector<std::uint8_t> planes;
        bool planes_valid = false;  // `planes` hold the picture last written
    };
    bool WriteY4m(Y4mFile& out, const std::string& path, const Picture& p, bool is_new);

    std::string base_;
    ModeInfo mode_{};
    Y4mFile y4m_;
    Y4mFile y4m_right_;
    BMDPixelFormat y4m_format_ = 0;
    std::FILE* log_ = nullptr;
};

class AudioRecorder {
public:
    AudioRecorder() = default;
    ~AudioRecorder() { Close(); }
    AudioRecorder(const AudioRecorder&) = delete;
    AudioRecorder& operator=(const AudioRecorder&) = delete;

    bool Open(const std::string& path, int bits, int channels);
    bool IsOpen() const { return file_ != nullptr; }
    // Interleaved sample frames; null data writes silence.
    void Write(const std::uint8_t* data, std::uint64_t frames);
    void Close();

private:
    void UpdateSizes();

    std::FILE* file_ = nullptr;
    int frame_bytes_ = 0;
    std::uint64_t data_bytes_ = 0;
    long data_size_offset_ = 0;
};

// PNG file of an 8-bit BGRA or ARGB picture, stored without compression.
bool WritePng(const std::string& path, const Picture& p);

}  // namespace orvex::sim::decklink
