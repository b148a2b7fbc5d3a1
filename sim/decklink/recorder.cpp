#include "sim/decklink/recorder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

namespace orvex::sim::decklink {
namespace {

void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put32Be(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n, std::uint32_t crc = 0) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// v210 line -> 10-bit samples in transmission order (Cb Y Cr Y ...).
void UnpackV210(const std::uint8_t* line, std::int32_t width, std::vector<std::uint16_t>* out) {
    const std::size_t samples = static_cast<std::size_t>(width) * 2;
    out->resize(samples);
    std::size_t n = 0;
    for (std::size_t w = 0; n < samples; ++w) {
        std::uint32_t word = static_cast<std::uint32_t>(line[4 * w]) |
                             (static_cast<std::uint32_t>(line[4 * w + 1]) << 8) |
                             (static_cast<std::uint32_t>(line[4 * w + 2]) << 16) |
                             (static_cast<std::uint32_t>(line[4 * w + 3]) << 24);
        for (int k = 0; k < 3 && n < samples; ++k) (*out)[n++] = (word >> (10 * k)) & 0x3FF;
    }
}

}  // namespace

std::uint64_t PictureChecksum(const std::uint8_t* rows, std::int32_t width, std::int32_t height,
                              std::int32_t row_bytes, BMDPixelFormat format) {
    // FNV-1a over 64-bit little-endian words (bytes for a row's tail): eight times faster than
    // bytewise, which matters for UHD frames at 50 periods a second.
    std::uint64_t h = 14695981039346656037ull;
    std::int64_t visible = std::min<std::int64_t>(MinRowBytes(format, width), row_bytes);
    if (visible <= 0) visible = row_bytes;
    const std::size_t words = static_cast<std::size_t>(visible) / 8;
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = rows + static_cast<std::size_t>(y) * row_bytes;
        for (std::size_t w = 0; w < words; ++w) {
            std::uint64_t v;
            std::memcpy(&v, row + 8 * w, 8);
            h = (h ^ v) * 1099511628211ull;
        }
        for (std::int64_t x = static_cast<std::int64_t>(words) * 8; x < visible; ++x)
            h = (h ^ row[x]) * 1099511628211ull;
    }
    return h;
}

void VideoRecorder::Start(std::string base, const ModeInfo& mode) {
    Close();
    base_ = std::move(base);
    mode_ = mode;
}

// A repeated period writes the planes of the picture before it again: converting them anew
// cost as much as a new picture, so a card that fell behind (every period it had to catch
// up on written out in the hardware clock's reader) fell further behind with each period.
bool VideoRecorder::WriteY4m(Y4mFile& out, const std::string& path, const Picture& p, bool is_new) {
    if (!is_new && out.planes_valid) {
        std::fputs("FRAME\n", out.file);
        return std::fwrite(out.planes.data(), 1, out.planes.size(), out.file) == out.planes.size();
    }
    out.planes_valid = false;
    if (p.format != bmdFormat8BitYUV && p.format != bmdFormat10BitYUV) return false;
    if (p.width != mode_.width || p.height != mode_.height) return false;
    if (p.row_bytes < MinRowBytes(p.format, p.width) ||
        p.bytes.size() < static_cast<std::size_t>(p.row_bytes) * static_cast<std::size_t>(p.height))
        return false;
    const bool ten = p.format == bmdFormat10BitYUV;
    if (!out.file) {
        out.file = std::fopen(path.c_str(), "wb");
        if (!out.file) return false;
        y4m_format_ = p.format;
        const std::int64_t g = std::gcd(mode_.scale, mode_.duration);
        const char interlace = mode_.field == bmdUpperFieldFirst   ? 't'
                               : mode_.field == bmdLowerFieldFirst ? 'b'
                                                                   : 'p';
        std::fprintf(out.file, "YUV4MPEG2 W%d H%d F%lld:%lld I%c A%d:%d %s XORVEX=decklink\n",
                     p.width, p.height, static_cast<long long>(mode_.scale / g),
                     static_cast<long long>(mode_.duration / g), interlace, mode_.aspect_num,
                     mode_.aspect_den, ten ? "C422p10" : "C422");
    }
    if (p.format != y4m_format_) return false;
    const std::size_t w = static_cast<std::size_t>(p.width), h = static_cast<std::size_t>(p.height);
    const std::size_t cw = (w + 1) / 2, bps = ten ? 2 : 1;
    out.planes.assign((w + 2 * cw) * h * bps, 0);
    std::uint8_t* yp = out.planes.data();
    std::uint8_t* up = yp + w * h * bps;
    std::uint8_t* vp = up + cw * h * bps;
    std::vector<std::uint16_t> samples;
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* row = p.bytes.data() + y * static_cast<std::size_t>(p.row_bytes);
        if (!ten) {
            for (std::size_t x = 0; x < w; ++x) yp[y * w + x] = row[2 * x + 1];
            for (std::size_t c = 0; c < cw; ++c) {
                up[y * cw + c] = row[4 * c];
                vp[y * cw + c] = row[4 * c + 2];
            }
        } else {
            UnpackV210(row, p.width, &samples);
            for (std::size_t x = 0; x < w; ++x) Put16(yp + 2 * (y * w + x), samples[2 * x + 1]);
            for (std::size_t c = 0; c < cw; ++c) {
                Put16(up + 2 * (y * cw + c), samples[4 * c]);
                Put16(vp + 2 * (y * cw + c), samples[4 * c + 2]);
            }
        }
    }
    out.planes_valid = true;
    std::fputs("FRAME\n", out.file);
    return std::fwrite(out.planes.data(), 1, out.planes.size(), out.file) == out.planes.size();
}

bool VideoRecorder::WritePeriod(const Picture& picture, bool is_new, std::int64_t period,
                                const Picture* right_eye) {
    if (!Active()) return false;
    if (picture.format == bmdFormat8BitBGRA || picture.format == bmdFormat8BitARGB) {
        if (!is_new) return true;  // a repeat is the still already written
        bool ok = WritePng(base_ + "-" + std::to_string(period) + ".png", picture);
        if (right_eye)
            ok = WritePng(base_ + "-" + std::to_string(period) + "-right.png", *right_eye) && ok;
        return ok;
    }
    bool ok = WriteY4m(y4m_, base_ + ".y4m", picture, is_new);
    if (right_eye) ok = WriteY4m(y4m_right_, base_ + "-right.y4m", *right_eye, is_new) && ok;
    return ok;
}

void VideoRecorder::WriteLogLine(const std::string& json) {
    if (!Active()) return;
    if (!log_) {
        log_ = std::fopen((base_ + ".jsonl").c_str(), "wb");
        // Large enough for any line: each reaches the file in one write, so a run that is
        // killed leaves whole lines.
        if (log_) std::setvbuf(log_, nullptr, _IOFBF, 1 << 18);
    }
    if (!log_) return;
    std::string line = json;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), log_);
    std::fflush(log_);
}

void VideoRecorder::ForgetLastPicture() {
    y4m_.planes_valid = y4m_right_.planes_valid = false;
}

void VideoRecorder::Flush() {
    for (std::FILE* f : {y4m_.file, y4m_right_.file, log_})
        if (f) std::fflush(f);
}

void VideoRecorder::Close() {
    for (std::FILE** f : {&y4m_.file, &y4m_right_.file, &log_})
        if (*f) std::fclose(*f), *f = nullptr;
    y4m_.planes_valid = y4m_right_.planes_valid = false;
    base_.clear();
}

bool AudioRecorder::Open(const std::string& path, int bits, int channels) {
    Close();
    file_ = std::fopen(path.c_str(), "wb+");
    if (!file_) return false;
    frame_bytes_ = bits / 8 * channels;
    data_bytes_ = 0;
    // WAVE_FORMAT_EXTENSIBLE beyond two 16-bit channels, as readers expect.
    const bool extensible = channels > 2 || bits > 16;
    std::vector<std::uint8_t> h(extensible ? 68 : 44, 0);
    std::copy_n("RIFF", 4, h.begin());
    std::copy_n("WAVEfmt ", 8, h.begin() + 8);
    Put32(&h[16], extensible ? 40 : 16);
    Put16(&h[20], extensible ? 0xFFFE : 1);
    Put16(&h[22], static_cast<std::uint32_t>(channels));
    Put32(&h[24], 48000);
    Put32(&h[28], 48000u * static_cast<std::uint32_t>(frame_bytes_));
    Put16(&h[32], static_cast<std::uint32_t>(frame_bytes_));
    Put16(&h[34], static_cast<std::uint32_t>(bits));
    std::size_t at = 36;
    if (extensible) {
        Put16(&h[36], 22);
        Put16(&h[38], static_cast<std::uint32_t>(bits));
        Put32(&h[40], 0);  // no speaker positions: channels are discrete
        static const std::uint8_t kPcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                              0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        std::copy_n(kPcm, 16, h.begin() + 44);
        at = 60;
    }
    std::copy_n("data", 4, h.begin() + static_cast<long>(at));
    data_size_offset_ = static_cast<long>(at + 4);
    if (std::fwrite(h.data(), 1, h.size(), file_) != h.size()) {
        Close();
        return false;
    }
    UpdateSizes();
    return true;
}

void AudioRecorder::Write(const std::uint8_t* data, std::uint64_t frames) {
    if (!file_ || frames == 0) return;
    // RIFF sizes are 32-bit: stop before the file outgrows them.
    const std::uint64_t bytes = frames * static_cast<std::uint64_t>(frame_bytes_);
    if (data_bytes_ + bytes > 0xFFFFFF00ull - 80) return;
    if (data) {
        std::fwrite(data, 1, bytes, file_);
    } else {
        static const std::uint8_t zeros[4096] = {};
        for (std::uint64_t left = bytes; left;) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof zeros));
            std::fwrite(zeros, 1, n, file_);
            left -= n;
        }
    }
    data_bytes_ += bytes;
    UpdateSizes();
}

void AudioRecorder::UpdateSizes() {
    std::uint8_t v[4];
    Put32(v, static_cast<std::uint32_t>(data_bytes_ +
                                        static_cast<std::uint64_t>(data_size_offset_) - 4));
    std::fseek(file_, 4, SEEK_SET);
    std::fwrite(v, 1, 4, file_);
    Put32(v, static_cast<std::uint32_t>(data_bytes_));
    std::fseek(file_, data_size_offset_, SEEK_SET);
    std::fwrite(v, 1, 4, file_);
    std::fseek(file_, 0, SEEK_END);
    std::fflush(file_);
}

void AudioRecorder::Close() {
    if (!file_) return;
    UpdateSizes();
    std::fclose(file_);
    file_ = nullptr;
}

bool WritePng(const std::string& path, const Picture& p) {
    if (p.width <= 0 || p.height <= 0 || p.row_bytes < p.width * 4 ||
        p.bytes.size() < static_cast<std::size_t>(p.row_bytes) * static_cast<std::size_t>(p.height))
        return false;
    const std::size_t w = static_cast<std::size_t>(p.width);
    const bool argb = p.format == bmdFormat8BitARGB;
    // Raw scanlines: filter byte 0, then RGBA.
    std::vector<std::uint8_t> raw;
    raw.reserve((w * 4 + 1) * static_cast<std::size_t>(p.height));
    for (std::int32_t y = 0; y < p.height; ++y) {
        const std::uint8_t* row = p.bytes.data() + static_cast<std::size_t>(y) * p.row_bytes;
        raw.push_back(0);
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint8_t* px = row + 4 * x;
            if (argb)
                raw.insert(raw.end(), {px[1], px[2], px[3], px[0]});
            else
                raw.insert(raw.end(), {px[2], px[1], px[0], px[3]});
        }
    }
    // zlib stream of stored blocks.
    std::vector<std::uint8_t> z = {0x78, 0x01};
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    for (std::size_t off = 0; off < raw.size() || off == 0;) {
        std::size_t n = std::min<std::size_t>(raw.size() - off, 65535);
        z.push_back(off + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n));
        z.push_back(static_cast<std::uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<long>(off),
                 raw.begin() + static_cast<long>(off + n));
        off += n;
        if (n == 0) break;
    }
    Put32Be(z, (b << 16) | a);

    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto chunk = [&](const char* type, const std::vector<std::uint8_t>& data) {
        Put32Be(out, static_cast<std::uint32_t>(data.size()));
        std::size_t start = out.size();
        out.insert(out.end(), type, type + 4);
        out.insert(out.end(), data.begin(), data.end());
        Put32Be(out, Crc32(out.data() + start, out.size() - start));
    };
    std::vector<std::uint8_t> ihdr;
    Put32Be(ihdr, static_cast<std::uint32_t>(p.width));
    Put32Be(ihdr, static_cast<std::uint32_t>(p.height));
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    chunk("IHDR", ihdr);
    chunk("IDAT", z);
    chunk("IEND", {});
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace orvex::sim::decklink
