#include "tools/oxplay/source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

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
    PatternSource(const PatternFormat& format, int channels) : format_(format) {
        video.present = true;
        video.width = format.width;
        video.height = format.height;
        video.rate_num = format.rate_num;
        video.rate_den = format.rate_den;
        video.interlace = format.interlace;
        video.codec = "pattern";
        audio.channels = channels;
        audio.rate = 48000;
        audio.bits = 32;
        audio.layout = "1 kHz tone";
        audio.placement = "channels 1-" + std::to_string(channels);
        picture_.Resize(format.width, format.height);
    }
    Fetch NextPicture(std::int64_t, TimedImage* out, std::string* error) override {
        DrawPattern(format_.pattern, index_, format_.timecode.Text(index_), &picture_);
        auto image = std::make_shared<Image>();
        image->fcc = format_.fcc;
        image->width = format_.width;
        image->height = format_.height;
        image->interlace = format_.interlace;
        if (!PackPicture(picture_, format_.fcc, &image->bytes, &image->row_bytes)) {
            *error = "the patterns cannot be drawn in this pixel format";
            return Fetch::kError;
        }
        out->image = std::move(image);
        out->start = PeriodStart(index_, format_.rate_num, format_.rate_den);
        out->duration = PeriodStart(index_ + 1, format_.rate_num, format_.rate_den) - out->start;
        out->number = index_++;
        return Fetch::kPicture;
    }
    bool ReadAudio(int count, std::uint8_t* out, bool* ended, std::string*) override {
        DrawTone(audio_pos_, count, audio, out);
        audio_pos_ += count;
        *ended = false;
        return true;
    }
    bool Rewind(std::string*) override {
        index_ = 0;
        audio_pos_ = 0;
        return true;
    }

private:
    PatternFormat format_;
    Picture picture_;
    std::int64_t index_ = 0;
    std::int64_t audio_pos_ = 0;
};

}  // namespace

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

void DrawTone(std::int64_t first, int samples, const AudioInfo& audio, std::uint8_t* out) {
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

std::unique_ptr<Source> MakePatternSource(const PatternFormat& format, int audio_channels) {
    return std::make_unique<PatternSource>(format, audio_channels);
}

std::shared_ptr<const Image> BarsImage(const PatternFormat& format) {
    Picture bars;
    bars.Resize(format.width, format.height);
    DrawPattern(Pattern::kBars, 0, {}, &bars);
    auto image = std::make_shared<Image>();
    image->fcc = format.fcc;
    image->width = format.width;
    image->height = format.height;
    if (!PackPicture(bars, format.fcc, &image->bytes, &image->row_bytes)) return nullptr;
    return image;
}

namespace {

// Drop-frame counting leaves out the first labels of every minute but each tenth: two at
// 29.97 frames per second, four at 59.94.
int DroppedPerMinute(int fps) {
    return fps / 15;
}

}  // namespace

std::string TimecodeClock::Text(std::int64_t index) const {
    const int f = fps > 0 ? fps : 25;
    const bool drop = drop_frame && (f == 30 || f == 60);
    const std::int64_t per_day =
        drop ? 24 * 6 * (f * 600 - DroppedPerMinute(f) * 9) : static_cast<std::int64_t>(f) * 86400;
    std::int64_t n = ((start_frames + index) % per_day + per_day) % per_day;
    if (drop) {
        // Back from a count of frames to the labels, which skip the dropped ones.
        const int d = DroppedPerMinute(f);
        const std::int64_t per_ten = f * 600 - d * 9, per_minute = f * 60 - d;
        const std::int64_t tens = n / per_ten, rest = n % per_ten;
        n += d * 9 * tens + (rest > d ? d * ((rest - d) / per_minute) : 0);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d%c%02d", static_cast<int>(n / f / 3600),
                  static_cast<int>(n / f / 60 % 60), static_cast<int>(n / f % 60), drop ? ';' : ':',
                  static_cast<int>(n % f));
    return text;
}

std::string TimecodeFrames(int hours, int minutes, int seconds, int frames, bool drop_frame,
                           int fps, bool ntsc, int* count) {
    char label[16];
    std::snprintf(label, sizeof label, "%02d:%02d:%02d%c%02d", hours, minutes, seconds,
                  drop_frame ? ';' : ':', frames);
    if (frames >= fps)
        return "timecode " + std::string(label) + " does not exist at " + std::to_string(fps) +
               " frames/s (frames 00 to " + std::to_string(fps - 1) + ")";
    if (drop_frame && (!ntsc || (fps != 30 && fps != 60)))
        return "drop-frame timecode " + std::string(label) +
               " needs a 29.97 or 59.94 output; use ':' before the frames";
    const int minutes_total = hours * 60 + minutes;
    const int d = drop_frame ? DroppedPerMinute(fps) : 0;
    if (drop_frame && seconds == 0 && minutes % 10 != 0 && frames < d)
        return "drop-frame timecode " + std::string(label) +
               " does not exist (each minute but every tenth starts at frame " + std::to_string(d) +
               ")";
    *count = ((hours * 60 + minutes) * 60 + seconds) * fps + frames -
             d * (minutes_total - minutes_total / 10);
    return {};
}

int PeriodSamples(std::int64_t n, int rate_num, int rate_den, int audio_rate) {
    // A day of periods times 192 kHz times 1001 stays far inside 64 bits.
    const std::int64_t per = static_cast<std::int64_t>(audio_rate) * rate_den;
    return static_cast<int>((n + 1) * per / rate_num - n * per / rate_num);
}

}  // namespace oxplay
