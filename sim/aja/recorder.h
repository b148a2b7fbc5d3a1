// Files of what went on air through one channel's ring: the pictures (Y4M, 8-bit 4:2:2 as
// C422, one picture per vertical interrupt), the audio (WAV, 32-bit, sizes valid after every
// write) and a JSON-lines log with one line per interrupt.
//
// RecordFiles writes them; it is not thread-safe. Recorder hands each part to a writer thread
// of its own that runs RecordFiles, so that the board's clock never waits for the disk; a part
// the writer cannot take in time is left out and the interrupt's line says so ("dropped").
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/common/record_writer.h"

namespace orvex::sim::aja {

struct RecordFormat {
    std::uint32_t width = 0, height = 0;
    std::uint32_t rate_num = 0, rate_den = 1;
    bool interlaced = false;
    std::uint32_t audio_channels = 0, audio_rate = 48000;
    bool video = true;  // write the Y4M file
    // Each file stops growing before it would pass this size (the WAV file's own sizes are
    // 32-bit, so it never passes 4 GiB); what would not fit is left out, not cut.
    std::uint64_t limit_bytes = 0xFFFFFFFFull;
};

class RecordFiles {
public:
    RecordFiles() = default;
    ~RecordFiles() { Close(); }
    RecordFiles(const RecordFiles&) = delete;
    RecordFiles& operator=(const RecordFiles&) = delete;

    // `base` is the path without extension; files are created on first use.
    void Start(std::string base, const RecordFormat& format);
    bool Active() const { return !base_.empty(); }
    // Whether a file reached the size limit and left something out.
    bool Full() const { return full_; }
    // One picture of 8-bit UYVY rows (`row_bytes` apart), starting at `rows`.
    void WritePicture(const std::uint8_t* rows, std::uint32_t row_bytes, std::size_t size);
    // Interleaved 32-bit sample frames; null data writes silence.
    void WriteAudio(const std::uint8_t* data, std::uint64_t frames);
    // One line, written whole and flushed.
    void WriteLogLine(const std::string& json);
    void Flush();
    void Close();

private:
    void UpdateWavSizes();

    std::string base_;
    RecordFormat format_{};
    std::FILE* y4m_ = nullptr;
    std::FILE* wav_ = nullptr;
    std::FILE* log_ = nullptr;
    std::uint64_t wav_bytes_ = 0, y4m_bytes_ = 0, log_bytes_ = 0;
    std::vector<std::uint8_t> plane_;
    bool full_ = false;
};

class Recorder {
public:
    Recorder(std::string base, const RecordFormat& format,
             std::size_t bound_bytes = RecordWriter::kDefaultBound);
    // Ends the writer after everything queued, then closes the files.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // One interrupt's picture: `size` bytes of UYVY rows at `offset` into `frame`, which the
    // writer holds until it has written them (a repeat shares the bytes of the picture before
    // it, so only new pictures count against the bound). False when the writer could not take
    // it.
    bool Picture(std::shared_ptr<const std::vector<std::uint8_t>> frame, std::size_t offset,
                 std::uint32_t row_bytes, std::size_t size, bool is_new);
    // Sample frames (copied; null: silence). What the writer cannot take is recorded as
    // silence, so the WAV keeps the board's timeline.
    void Audio(const std::uint8_t* data, std::uint64_t frames);
    void Line(std::string json);
    // Waits until the files hold everything given so far.
    void Drain();
    std::uint64_t Dropped() const { return writer_.Refused(); }
    bool Full() const { return full_.load(); }

private:
    const std::uint32_t audio_channels_;
    std::unique_ptr<RecordFiles> files_;  // touched only on the writer thread
    std::atomic<bool> full_{false};
    RecordWriter writer_;  // declared last: ends before the files close
};

// 64-bit FNV-1a, eight bytes at a time (the tail byte by byte).
std::uint64_t Checksum(const std::uint8_t* data, std::size_t size);

}  // namespace orvex::sim::aja
