#include "tools/oxplay/source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace oxplay {
namespace {

struct Ycc {
    std::uint8_t y, cb, cr;
};

// 75% colour bars, BT.709 studio range.
constexpr Ycc kBars[] = {{180, 128, 128}, {168, 44, 136}, {145, 147, 44}, {133, 63, 52},
                         {63, 193, 204},  {51, 109, 212}, {28, 212, 120}, {16, 128, 128}};
constexpr Ycc kWhite{235, 128, 128};
constexpr Ycc kBackground{40, 128, 128};
constexpr Ycc kBoxColour{145, 147, 44};

// Digits and ':' of a 5 x 7 font, one row per byte, high bit on the left.
constexpr std::uint8_t kGlyphs[11][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
    {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}};

void Fill(Picture* p, int x0, int y0, int x1, int y1, Ycc c) {
    x0 = std::clamp(x0, 0, p->width) & ~1;  // chroma pairs stay whole
    x1 = std::clamp(x1, 0, p->width);
    y0 = std::clamp(y0, 0, p->height);
    y1 = std::clamp(y1, 0, p->height);
    for (int y = y0; y < y1; ++y) {
        std::uint8_t* row = p->uyvy.data() + static_cast<std::size_t>(y) * p->width * 2;
        for (int x = x0; x < x1; ++x) {
            row[x * 2 + 1] = c.y;
            row[(x & ~1) * 2] = c.cb;
            row[(x & ~1) * 2 + 2] = c.cr;
        }
    }
}

void DrawText(Picture* p, int x, int y, int scale, const std::string& text) {
    for (char ch : text) {
        const int glyph = ch >= '0' && ch <= '9' ? ch - '0' : ch == ':' ? 10 : -1;
        if (glyph >= 0)
            for (int r = 0; r < 7; ++r)
                for (int c = 0; c < 5; ++c)
                    if (kGlyphs[glyph][r] & (0x10 >> c))
                        Fill(p, x + c * scale, y + r * scale, x + (c + 1) * scale,
                             y + (r + 1) * scale, kWhite);
        x += 6 * scale;
    }
}

std::uint8_t Clip8(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

class PatternSource final : public Source {
public:
    PatternSource(Pattern pattern, const VideoSpec& v, const AudioSpec& a, int timecode_start)
        : timecode_start_(timecode_start), pattern_(pattern) {
        video = v;
        audio = a;
        picture_.Resize(v.width, v.height);
    }
    bool Read(Frame* frame, std::string* error) override {
        const int fps = static_cast<int>(std::lround(video.Rate()));
        DrawPattern(pattern_, index_, TimecodeText(timecode_start_, index_, fps), &picture_);
        if (!PackPicture(picture_, video.fcc, &frame->video, &frame->row_bytes)) {
            *error = "the patterns cannot be drawn in this pixel format";
            return false;
        }
        FillAudio(frame);
        ++index_;
        return true;
    }
    bool Rewind() override {
        index_ = 0;
        audio_pos_ = 0;
        return true;
    }

private:
    int timecode_start_;
    void FillAudio(Frame* frame) {
        frame->samples = 0;
        frame->audio.clear();
        if (audio.channels <= 0) return;
        const int n = SamplesForFrame(index_, video, audio.rate);
        frame->audio.resize(static_cast<std::size_t>(n) * audio.channels * (audio.bits / 8));
        DrawTone(audio_pos_, n, audio, frame->audio.data());
        frame->samples = n;
        audio_pos_ += n;
    }

    Pattern pattern_;
    Picture picture_;
    std::int64_t index_ = 0;
    std::int64_t audio_pos_ = 0;
};

// ---- Y4M ---------------------------------------------------------------------------------

class Y4MSource final : public Source {
public:
    bool Open(const std::string& path, eMFCC fcc, std::string* error) {
        path_ = path;
        file_.open(path, std::ios::binary);
        if (!file_) {
            *error = "cannot open '" + path + "'";
            return false;
        }
        std::string header;
        if (!std::getline(file_, header) || !header.starts_with("YUV4MPEG2 ")) {
            *error = "'" + path + "' is not a Y4M file";
            return false;
        }
        int w = 0, h = 0;
        std::istringstream fields(header.substr(10));
        std::string f;
        std::string colour = "420jpeg";
        while (fields >> f) {
            const char key = f[0];
            const std::string val = f.substr(1);
            if (key == 'W') {
                w = std::atoi(val.c_str());
            } else if (key == 'H') {
                h = std::atoi(val.c_str());
            } else if (key == 'F') {
                if (std::sscanf(val.c_str(), "%d:%d", &video.rate_num, &video.rate_den) != 2)
                    video.rate_den = 0;
            } else if (key == 'I') {
                video.interlace = val == "t"   ? eMI_Field1First
                                  : val == "b" ? eMI_Field2First
                                               : eMI_Progressive;
            } else if (key == 'A') {
                int ax = 0, ay = 0;
                if (std::sscanf(val.c_str(), "%d:%d", &ax, &ay) == 2 && ax > 0 && ay > 0 &&
                    ax < 32768 && ay < 32768) {
                    video.aspect_x = static_cast<short>(ax);
                    video.aspect_y = static_cast<short>(ay);
                }
            } else if (key == 'C') {
                colour = val;
            }
        }
        if (w <= 0 || h <= 0 || w > 16384 || h > 16384 || (w & 1)) {
            *error = "'" + path + "' has a picture size oxplay cannot play (" + std::to_string(w) +
                     "x" + std::to_string(h) + ")";
            return false;
        }
        if (video.rate_num <= 0 || video.rate_den <= 0 || video.rate_num / video.rate_den > 240) {
            *error = "'" + path + "' has no usable frame rate";
            return false;
        }
        const std::int64_t luma = static_cast<std::int64_t>(w) * h;
        if (colour == "420" || colour == "420jpeg" || colour == "420paldv" ||
            colour == "420mpeg2") {
            chroma_div_x_ = 2;
            chroma_div_y_ = 2;
        } else if (colour == "422") {
            chroma_div_x_ = 2;
            chroma_div_y_ = 1;
        } else if (colour == "444") {
            chroma_div_x_ = 1;
            chroma_div_y_ = 1;
        } else if (colour == "mono") {
            chroma_div_x_ = 0;
        } else {
            *error = "'" + path + "' has colour space C" + colour +
                     "; oxplay reads 8-bit 420, 422, 444 and mono";
            return false;
        }
        chroma_w_ = chroma_div_x_ ? (w + chroma_div_x_ - 1) / chroma_div_x_ : 0;
        chroma_h_ = chroma_div_x_ ? (h + chroma_div_y_ - 1) / chroma_div_y_ : 0;
        frame_bytes_ = luma + 2 * static_cast<std::int64_t>(chroma_w_) * chroma_h_;
        video.width = w;
        video.height = h;
        video.fcc = fcc;
        picture_.Resize(w, h);
        data_start_ = file_.tellg();
        // A file without one whole picture would play nothing and seem to have played.
        file_.seekg(0, std::ios::end);
        const std::int64_t after_header =
            std::streamoff(file_.tellg()) - std::streamoff(data_start_);
        file_.seekg(data_start_);
        if (!file_ || after_header < frame_bytes_ + 6) {  // "FRAME\n" and the picture
            *error = "'" + path + "' holds no whole picture";
            return false;
        }
        raw_.resize(static_cast<std::size_t>(frame_bytes_));
        return true;
    }

    bool Read(Frame* frame, std::string* error) override {
        std::string line;
        if (!std::getline(file_, line)) return false;  // end of file
        if (!line.starts_with("FRAME")) {
            *error = "'" + path_ + "' is damaged (no FRAME marker)";
            return false;
        }
        if (!file_.read(reinterpret_cast<char*>(raw_.data()), frame_bytes_)) {
            return false;  // a cut-off last frame ends the file
        }
        ToUyvy();
        frame->samples = 0;
        frame->audio.clear();
        if (!PackPicture(picture_, video.fcc, &frame->video, &frame->row_bytes)) {
            *error = "cannot pack the picture in this pixel format";
            return false;
        }
        return true;
    }
    bool Rewind() override {
        file_.clear();
        file_.seekg(data_start_);
        return static_cast<bool>(file_);
    }

private:
    void ToUyvy() {
        const int w = video.width, h = video.height;
        const std::uint8_t* luma = raw_.data();
        const std::uint8_t* cb = luma + static_cast<std::size_t>(w) * h;
        const std::uint8_t* cr = cb + static_cast<std::size_t>(chroma_w_) * chroma_h_;
        for (int y = 0; y < h; ++y) {
            std::uint8_t* out = picture_.uyvy.data() + static_cast<std::size_t>(y) * w * 2;
            const std::uint8_t* ly = luma + static_cast<std::size_t>(y) * w;
            const std::size_t crow =
                chroma_div_x_ ? static_cast<std::size_t>(y / chroma_div_y_) * chroma_w_ : 0;
            for (int x = 0; x < w; x += 2) {
                std::uint8_t u = 128, v = 128;
                if (chroma_div_x_) {
                    const std::size_t cx = static_cast<std::size_t>(x / chroma_div_x_);
                    u = cb[crow + cx];
                    v = cr[crow + cx];
                }
                out[x * 2] = u;
                out[x * 2 + 1] = ly[x];
                out[x * 2 + 2] = v;
                out[x * 2 + 3] = ly[x + 1];
            }
        }
    }

    std::string path_;
    std::ifstream file_;
    std::streampos data_start_;
    int chroma_div_x_ = 2, chroma_div_y_ = 2, chroma_w_ = 0, chroma_h_ = 0;
    std::int64_t frame_bytes_ = 0;
    std::vector<std::uint8_t> raw_;
    Picture picture_;
};

// ---- WAV ---------------------------------------------------------------------------------

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

class WavSource final : public Source {
public:
    bool Open(const std::string& path, const VideoSpec& v, std::string* error) {
        video = v;
        bars_.Resize(v.width, v.height);
        DrawPattern(Pattern::kBars, 0, {}, &bars_);
        file_.open(path, std::ios::binary);
        if (!file_) {
            *error = "cannot open '" + path + "'";
            return false;
        }
        file_.seekg(0, std::ios::end);
        const std::int64_t size = file_.tellg();
        file_.seekg(0);
        std::uint8_t riff[12];
        if (!file_.read(reinterpret_cast<char*>(riff), 12) || std::memcmp(riff, "RIFF", 4) ||
            std::memcmp(riff + 8, "WAVE", 4)) {
            *error = "'" + path + "' is not a WAV file";
            return false;
        }
        bool have_fmt = false;
        std::int64_t pos = 12;
        while (pos + 8 <= size) {
            std::uint8_t chunk[8];
            file_.seekg(pos);
            if (!file_.read(reinterpret_cast<char*>(chunk), 8)) break;
            const std::int64_t len = Le32(chunk + 4);
            const std::int64_t body = pos + 8;
            if (!std::memcmp(chunk, "fmt ", 4)) {
                std::uint8_t fmt[40] = {};
                if (len < 16 ||
                    !file_.read(reinterpret_cast<char*>(fmt), std::min<std::int64_t>(len, 40))) {
                    *error = "'" + path + "' has a damaged format chunk";
                    return false;
                }
                int tag = Le16(fmt);
                if (tag == 0xFFFE && len >= 26) tag = Le16(fmt + 24);  // extensible
                in_channels_ = Le16(fmt + 2);
                audio.rate = static_cast<int>(Le32(fmt + 4));
                in_bits_ = Le16(fmt + 14);
                is_float_ = tag == 3;
                if ((tag != 1 && tag != 3) || (is_float_ && in_bits_ != 32) ||
                    (!is_float_ && in_bits_ != 16 && in_bits_ != 24 && in_bits_ != 32)) {
                    *error = "'" + path + "' is not 16/24/32-bit PCM or 32-bit float audio";
                    return false;
                }
                if (in_channels_ < 1 || in_channels_ > 16 || audio.rate < 8000 ||
                    audio.rate > 192000) {
                    *error = "'" + path + "' has " + std::to_string(in_channels_) +
                             " channels at " + std::to_string(audio.rate) +
                             " Hz; oxplay plays 1 to 16 channels at 8 to 192 kHz";
                    return false;
                }
                have_fmt = true;
            } else if (!std::memcmp(chunk, "data", 4)) {
                if (!have_fmt) break;
                data_start_ = body;
                // A length past the end (a recording cut short) plays what is there.
                const std::int64_t avail = std::min<std::int64_t>(len, size - body);
                total_samples_ = avail / (in_channels_ * (in_bits_ / 8));
                break;
            }
            pos = body + len + (len & 1);
        }
        if (!have_fmt || data_start_ < 0) {
            *error = "'" + path + "' has no audio data";
            return false;
        }
        audio.channels = in_channels_;
        audio.bits = in_bits_ == 16 ? 16 : 32;
        return Rewind();
    }

    bool Read(Frame* frame, std::string* error) override {
        if (pos_ >= total_samples_) return false;
        const int want = SamplesForFrame(index_, video, audio.rate);
        const int n = static_cast<int>(std::min<std::int64_t>(want, total_samples_ - pos_));
        const std::size_t in_frame = static_cast<std::size_t>(in_channels_) * (in_bits_ / 8);
        raw_.resize(in_frame * n);
        if (!file_.read(reinterpret_cast<char*>(raw_.data()),
                        static_cast<std::streamsize>(raw_.size()))) {
            *error = "reading the WAV file failed";
            return false;
        }
        const std::size_t count = static_cast<std::size_t>(n) * in_channels_;
        frame->audio.resize(count * (audio.bits / 8));
        if (in_bits_ == 16) {
            std::memcpy(frame->audio.data(), raw_.data(), raw_.size());
        } else {
            auto* out = reinterpret_cast<std::int32_t*>(frame->audio.data());
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint8_t* p = raw_.data() + i * (in_bits_ / 8);
                if (in_bits_ == 24) {
                    out[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                       static_cast<std::uint32_t>(p[1]) << 16 |
                                                       static_cast<std::uint32_t>(p[2]) << 24);
                } else if (is_float_) {
                    float f;
                    std::memcpy(&f, p, 4);
                    const double s = std::clamp(static_cast<double>(f), -1.0, 1.0) * 2147483647.0;
                    out[i] = static_cast<std::int32_t>(std::lround(s));
                } else {
                    std::memcpy(&out[i], p, 4);
                }
            }
        }
        frame->samples = n;
        if (!PackPicture(bars_, video.fcc, &frame->video, &frame->row_bytes)) {
            *error = "cannot pack the picture in this pixel format";
            return false;
        }
        pos_ += n;
        ++index_;
        return true;
    }
    bool Rewind() override {
        file_.clear();
        file_.seekg(data_start_);
        pos_ = 0;
        index_ = 0;
        return static_cast<bool>(file_);
    }
    std::int64_t FrameCount() const override {
        // Frames until the samples run out, by the same per-frame split as Read.
        std::int64_t frames = 0, samples = 0;
        while (samples < total_samples_) samples += SamplesForFrame(frames++, video, audio.rate);
        return frames;
    }

private:
    std::ifstream file_;
    std::int64_t data_start_ = -1;
    std::int64_t total_samples_ = 0;
    std::int64_t pos_ = 0;
    std::int64_t index_ = 0;
    int in_channels_ = 0, in_bits_ = 0;
    bool is_float_ = false;
    std::vector<std::uint8_t> raw_;
    Picture bars_;
};

}  // namespace

int SamplesForFrame(std::int64_t index, const VideoSpec& v, int audio_rate) {
    auto upto = [&](std::int64_t n) {
        return n * audio_rate * v.rate_den / v.rate_num;  // fits: n < 2^40 for a day of play
    };
    return static_cast<int>(upto(index + 1) - upto(index));
}

int RowBytesOf(eMFCC fcc, int width) {
    switch (fcc) {
        case eMFCC_UYVY:
        case eMFCC_HDYC:
        case eMFCC_YUY2:
            return width * 2;
        case eMFCC_RGB32:
        case eMFCC_ARGB32:
            return width * 4;
        case eMFCC_v210:
            return (width + 47) / 48 * 128;
        default:
            return 0;
    }
}

bool PackPicture(const Picture& p, eMFCC fcc, std::vector<std::uint8_t>* out, int* row_bytes) {
    const int rb = RowBytesOf(fcc, p.width);
    if (rb == 0) return false;
    *row_bytes = rb;
    out->assign(static_cast<std::size_t>(rb) * p.height, 0);
    for (int y = 0; y < p.height; ++y) {
        const std::uint8_t* s = p.uyvy.data() + static_cast<std::size_t>(y) * p.width * 2;
        std::uint8_t* d = out->data() + static_cast<std::size_t>(y) * rb;
        switch (fcc) {
            case eMFCC_UYVY:
            case eMFCC_HDYC:
                std::memcpy(d, s, static_cast<std::size_t>(p.width) * 2);
                break;
            case eMFCC_YUY2:
                for (int x = 0; x < p.width * 2; x += 4) {
                    d[x] = s[x + 1];
                    d[x + 1] = s[x];
                    d[x + 2] = s[x + 3];
                    d[x + 3] = s[x + 2];
                }
                break;
            case eMFCC_RGB32:
            case eMFCC_ARGB32:
                // BT.709 studio range to full-range B, G, R, A bytes.
                for (int x = 0; x < p.width; ++x) {
                    const int yy = s[x * 2 + 1] - 16;
                    const int u = s[(x & ~1) * 2] - 128;
                    const int v = s[(x & ~1) * 2 + 2] - 128;
                    const double yl = 1.164383 * yy;
                    d[x * 4 + 0] = Clip8(static_cast<int>(std::lround(yl + 2.112402 * u)));
                    d[x * 4 + 1] =
                        Clip8(static_cast<int>(std::lround(yl - 0.213249 * u - 0.532909 * v)));
                    d[x * 4 + 2] = Clip8(static_cast<int>(std::lround(yl + 1.792741 * v)));
                    d[x * 4 + 3] = 255;
                }
                break;
            case eMFCC_v210: {
                // Six pixels in four little-endian words of three 10-bit samples each, in the
                // order Cb Y Cr Y Cb Y Cr Y ...; a part group is padded with the last pair.
                auto* words = reinterpret_cast<std::uint32_t*>(d);
                const int pairs = p.width / 2;
                for (int g = 0; g * 3 < pairs; ++g) {
                    std::uint32_t sample[12];
                    for (int k = 0; k < 3; ++k) {
                        const int pair = std::min(g * 3 + k, pairs - 1);
                        for (int j = 0; j < 4; ++j)
                            sample[k * 4 + j] = static_cast<std::uint32_t>(s[pair * 4 + j]) << 2;
                    }
                    for (int wd = 0; wd < 4; ++wd)
                        words[g * 4 + wd] =
                            sample[wd * 3] | sample[wd * 3 + 1] << 10 | sample[wd * 3 + 2] << 20;
                }
                break;
            }
            default:
                return false;
        }
    }
    return true;
}

void DrawPattern(Pattern pattern, std::int64_t index, const std::string& timecode, Picture* p) {
    const int w = p->width, h = p->height;
    switch (pattern) {
        case Pattern::kBars:
            for (int i = 0; i < 8; ++i) Fill(p, w * i / 8, 0, w * (i + 1) / 8, h, kBars[i]);
            break;
        case Pattern::kRamp:
            for (int x = 0; x < w; x += 2)
                Fill(p, x, 0, x + 2, h,
                     {static_cast<std::uint8_t>(16 + 219 * x / std::max(1, w - 2)), 128, 128});
            break;
        case Pattern::kBox: {
            Fill(p, 0, 0, w, h, kBackground);
            // One box width a second at 25 frames per second, bouncing off the edges.
            const int box = std::max(2, w / 8) & ~1;
            const int travel = std::max(1, w - box);
            const std::int64_t step = (index * box / 25) % (2 * travel);
            const int x = static_cast<int>(step < travel ? step : 2 * travel - step);
            Fill(p, x, h / 2 - box / 2, x + box, h / 2 + box / 2, kBoxColour);
            const int scale = std::max(1, h / 108);
            char counter[32];
            std::snprintf(counter, sizeof counter, "%08lld", static_cast<long long>(index));
            DrawText(p, 8 * scale, 8 * scale, scale, counter);
            DrawText(p, 8 * scale, 18 * scale, scale, timecode);
            break;
        }
    }
}

void DrawTone(std::int64_t first, int samples, const AudioSpec& audio, std::uint8_t* out) {
    constexpr double kTwoPi = 6.283185307179586;
    const std::int64_t quarter = audio.rate / 4;
    const std::int64_t cycle = static_cast<std::int64_t>(audio.rate) * 5;
    for (int i = 0; i < samples; ++i) {
        const std::int64_t n = first + i;
        // -18 dBFS: the usual line-up level.
        const double s =
            0.125893 * std::sin(kTwoPi * 1000.0 * static_cast<double>(n % audio.rate) / audio.rate);
        const std::int64_t at = n % cycle;
        for (int c = 0; c < audio.channels; ++c) {
            const bool mute = at >= (c + 1) * quarter && at < (c + 2) * quarter;
            const double v = mute ? 0.0 : s;
            const std::size_t k = static_cast<std::size_t>(i) * audio.channels + c;
            if (audio.bits == 16) {
                const auto q = static_cast<std::int16_t>(std::lround(v * 32767.0));
                std::memcpy(out + k * 2, &q, 2);
            } else {
                const auto q = static_cast<std::int32_t>(std::lround(v * 2147483647.0));
                std::memcpy(out + k * 4, &q, 4);
            }
        }
    }
}

std::unique_ptr<Source> MakePatternSource(Pattern pattern, const VideoSpec& video,
                                          const AudioSpec& audio, int timecode_start) {
    return std::make_unique<PatternSource>(pattern, video, audio, timecode_start);
}

std::unique_ptr<Source> OpenY4M(const std::string& path, eMFCC fcc, std::string* error) {
    auto s = std::make_unique<Y4MSource>();
    if (!s->Open(path, fcc, error)) return nullptr;
    return s;
}

std::unique_ptr<Source> OpenWav(const std::string& path, const VideoSpec& video,
                                std::string* error) {
    auto s = std::make_unique<WavSource>();
    if (!s->Open(path, video, error)) return nullptr;
    return s;
}

std::string ReadCaptions(const std::string& path, std::vector<std::vector<std::uint8_t>>* out) {
    std::ifstream in(path);
    if (!in) return "cannot open caption file '" + path + "'";
    out->clear();
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::vector<std::uint8_t> pairs;
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            unsigned value = 0;
            char extra = 0;
            if (word.size() != 4 || std::sscanf(word.c_str(), "%4x%c", &value, &extra) != 1 ||
                word.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                return "caption file line " + std::to_string(number) + ": '" + word +
                       "' is not a hex byte pair";
            pairs.push_back(static_cast<std::uint8_t>(value >> 8));
            pairs.push_back(static_cast<std::uint8_t>(value & 0xFF));
        }
        // A frame carries at most a few pairs on one line of the ancillary space.
        if (pairs.size() > 2 * 32)
            return "caption file line " + std::to_string(number) + " has more than 32 pairs";
        out->push_back(std::move(pairs));
    }
    return {};
}

std::string TimecodeText(int start_frames, std::int64_t index, int fps) {
    if (fps <= 0) fps = 25;
    const std::int64_t day = static_cast<std::int64_t>(fps) * 86400;
    const std::int64_t t = (start_frames + index) % day;
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", static_cast<int>(t / fps / 3600),
                  static_cast<int>(t / fps / 60 % 60), static_cast<int>(t / fps % 60),
                  static_cast<int>(t % fps));
    return text;
}

}  // namespace oxplay
