#include "sim/aja/recorder.h"

#include <algorithm>
#include <cstring>

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

void Recorder::Start(std::string base, const RecordFormat& format) {
    Close();
    base_ = std::move(base);
    format_ = format;
    wav_bytes_ = y4m_bytes_ = log_bytes_ = 0;
    full_ = false;
}

void Recorder::WritePicture(const std::uint8_t* rows, std::uint32_t row_bytes, std::size_t size) {
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

void Recorder::WriteAudio(const std::uint8_t* data, std::uint64_t frames) {
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

void Recorder::UpdateWavSizes() {
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

void Recorder::WriteLogLine(const std::string& json) {
    if (!Active()) return;
    if (log_bytes_ + json.size() + 1 > format_.limit_bytes) {
        full_ = true;
        return;
    }
    log_bytes_ += json.size() + 1;
    if (!log_) log_ = std::fopen((base_ + ".jsonl").c_str(), "wb");
    if (!log_) return;
    std::fputs(json.c_str(), log_);
    std::fputc('\n', log_);
}

void Recorder::Flush() {
    for (std::FILE* f : {y4m_, wav_, log_})
        if (f) std::fflush(f);
}

void Recorder::Close() {
    for (std::FILE** f : {&y4m_, &wav_, &log_}) {
        if (*f) std::fclose(*f);
        *f = nullptr;
    }
    base_.clear();
}

}  // namespace orvex::sim::aja
