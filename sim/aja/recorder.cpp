#include "sim/aja/recorder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace orvex::sim::aja {
namespace {

void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v), p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, v), Put16(p + 2, v >> 16);
}

}  // namespace

std::uint64_t Checksum(const std::uint8_t* data, std::size_t size) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, data + i, 8);
        h = (h ^ w) * 0x100000001b3ull;
    }
    for (; i < size; ++i) h = (h ^ data[i]) * 0x100000001b3ull;
    return h;
}

void RecordFiles::Start(std::string base, const RecordFormat& format) {
    Close();
    base_ = std::move(base);
    format_ = format;
    wav_bytes_ = y4m_bytes_ = log_bytes_ = 0;
    full_ = false;
}

void RecordFiles::WritePicture(const std::uint8_t* rows, std::uint32_t row_bytes,
                               std::size_t size) {
    if (!Active() || !format_.video) return;
    const std::uint64_t w = format_.width, h = format_.height;
    if (!w || !h || w % 2 || row_bytes < w * 2 || static_cast<std::uint64_t>(row_bytes) * h > size)
        return;
    const std::uint64_t frame_bytes = 6 + w * h * 2;
    if (y4m_bytes_ + frame_bytes + 64 > format_.limit_bytes) {
        full_ = true;
        return;
    }
    if (!y4m_) {
        y4m_ = std::fopen((base_ + ".y4m").c_str(), "wb");
        if (!y4m_) return;
        const int header = std::fprintf(y4m_, "YUV4MPEG2 W%u H%u F%u:%u I%c A1:1 C422\n",
                                        format_.width, format_.height, format_.rate_num,
                                        format_.rate_den, format_.interlaced ? 't' : 'p');
        y4m_bytes_ += header > 0 ? static_cast<std::uint64_t>(header) : 0;
    }
    y4m_bytes_ += frame_bytes;
    // UYVY rows to the Y, Cb and Cr planes.
    plane_.resize(static_cast<std::size_t>(w * h * 2));
    std::uint8_t* y = plane_.data();
    std::uint8_t* cb = y + w * h;
    std::uint8_t* cr = cb + w * h / 2;
    for (std::uint64_t r = 0; r < h; ++r) {
        const std::uint8_t* s = rows + r * row_bytes;
        for (std::uint64_t x = 0; x < w / 2; ++x, s += 4) {
            *cb++ = s[0];
            *y++ = s[1];
            *cr++ = s[2];
            *y++ = s[3];
        }
    }
    std::fputs("FRAME\n", y4m_);
    std::fwrite(plane_.data(), 1, plane_.size(), y4m_);
}

void RecordFiles::WriteAudio(const std::uint8_t* data, std::uint64_t frames) {
    if (!Active() || !format_.audio_channels || !frames) return;
    const std::uint64_t bytes = frames * format_.audio_channels * 4;
    if (44 + wav_bytes_ + bytes > std::min<std::uint64_t>(format_.limit_bytes, 0xFFFFFFFFull)) {
        full_ = true;
        return;
    }
    if (!wav_) {
        wav_ = std::fopen((base_ + ".wav").c_str(), "wb");
        if (!wav_) return;
        std::uint8_t header[44] = {};
        std::memcpy(header, "RIFF", 4);
        std::memcpy(header + 8, "WAVEfmt ", 8);
        Put32(header + 16, 16);
        Put16(header + 20, 1);
        Put16(header + 22, format_.audio_channels);
        Put32(header + 24, format_.audio_rate);
        Put32(header + 28, format_.audio_rate * format_.audio_channels * 4);
        Put16(header + 32, format_.audio_channels * 4);
        Put16(header + 34, 32);
        std::memcpy(header + 36, "data", 4);
        std::fwrite(header, 1, sizeof header, wav_);
        wav_bytes_ = 0;
    }
    if (data) {
        std::fwrite(data, 1, static_cast<std::size_t>(bytes), wav_);
    } else {
        static const std::uint8_t zeros[4096] = {};
        for (std::uint64_t left = bytes; left;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, 4096));
            std::fwrite(zeros, 1, n, wav_);
            left -= n;
        }
    }
    wav_bytes_ += bytes;
    UpdateWavSizes();
}

void RecordFiles::UpdateWavSizes() {
    if (!wav_ || wav_bytes_ > 0xFFFFFFFFull - 36) return;
    std::uint8_t v[4];
    const long end = std::ftell(wav_);
    Put32(v, static_cast<std::uint32_t>(wav_bytes_ + 36));
    std::fseek(wav_, 4, SEEK_SET);
    std::fwrite(v, 1, 4, wav_);
    Put32(v, static_cast<std::uint32_t>(wav_bytes_));
    std::fseek(wav_, 40, SEEK_SET);
    std::fwrite(v, 1, 4, wav_);
    std::fseek(wav_, end, SEEK_SET);
}

void RecordFiles::WriteLogLine(const std::string& json) {
    if (!Active()) return;
    if (log_bytes_ + json.size() + 1 > format_.limit_bytes) {
        full_ = true;
        return;
    }
    log_bytes_ += json.size() + 1;
    if (!log_) {
        log_ = std::fopen((base_ + ".jsonl").c_str(), "wb");
        // Large enough for any line: each reaches the file in one write, so a run that is
        // killed leaves whole lines.
        if (log_) std::setvbuf(log_, nullptr, _IOFBF, 1 << 16);
    }
    if (!log_) return;
    const std::string line = json + '\n';
    std::fwrite(line.data(), 1, line.size(), log_);
    std::fflush(log_);
}

void RecordFiles::Flush() {
    for (std::FILE* f : {y4m_, wav_, log_})
        if (f) std::fflush(f);
}

void RecordFiles::Close() {
    for (std::FILE** f : {&y4m_, &wav_, &log_}) {
        if (*f) std::fclose(*f);
        *f = nullptr;
    }
    base_.clear();
}

Recorder::Recorder(std::string base, const RecordFormat& format, std::size_t bound_bytes)
    : audio_channels_(format.audio_channels),
      files_(std::make_unique<RecordFiles>()),
      writer_(bound_bytes) {
    RecordFiles* f = files_.get();
    writer_.Submit(0, [f, base = std::move(base), format]() mutable {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(base).parent_path(), ec);
        f->Start(base, format);
    });
}

Recorder::~Recorder() = default;

bool Recorder::Picture(std::shared_ptr<const std::vector<std::uint8_t>> frame, std::size_t offset,
                       std::uint32_t row_bytes, std::size_t size, bool is_new) {
    if (!frame || offset + size > frame->size()) return false;
    RecordFiles* f = files_.get();
    const std::size_t bytes = is_new ? std::max<std::size_t>(size, 1) : 0;
    return writer_.Submit(bytes, [this, f, frame = std::move(frame), offset, row_bytes, size] {
        f->WritePicture(frame->data() + offset, row_bytes, size);
        if (f->Full()) full_ = true;
    });
}

void Recorder::Audio(const std::uint8_t* data, std::uint64_t frames) {
    if (!frames || !audio_channels_) return;
    RecordFiles* f = files_.get();
    auto silence = [this, f, frames] {
        f->WriteAudio(nullptr, frames);
        if (f->Full()) full_ = true;
    };
    if (!data) {
        writer_.Submit(0, silence);
        return;
    }
    std::vector<std::uint8_t> copy(data, data + frames * audio_channels_ * 4);
    const std::size_t bytes = copy.size();
    if (!writer_.Submit(bytes, [this, f, copy = std::move(copy), frames] {
            f->WriteAudio(copy.data(), frames);
            if (f->Full()) full_ = true;
        }))
        writer_.Submit(0, silence);
}

void Recorder::Line(std::string json) {
    RecordFiles* f = files_.get();
    writer_.Submit(0, [this, f, json = std::move(json)] {
        f->WriteLogLine(json);
        if (f->Full()) full_ = true;
    });
}

void Recorder::Drain() {
    writer_.Drain();
    RecordFiles* f = files_.get();
    writer_.Submit(0, [f] { f->Flush(); });
    writer_.Drain();
}

}  // namespace orvex::sim::aja
