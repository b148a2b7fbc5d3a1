// Files oxplay reads itself: Y4M video, WAV audio and caption lists. Every length and number
// they hold is checked before it sizes anything.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/oxplay/options.h"
#include "tools/oxplay/source.h"

namespace oxplay {
namespace {

// Frame rates a video format can have.
constexpr double kMinRate = 1.0;
constexpr double kMaxRate = 240.0;

// A line of at most `limit` bytes (without its '\n'); false at the end of the file or when
// the line is longer (a file that is not what it claims to be).
bool ReadLine(std::istream& in, std::size_t limit, std::string* line) {
    line->clear();
    for (char c; in.get(c);) {
        if (c == '\n') return true;
        if (line->size() >= limit) return false;
        line->push_back(c);
    }
    return false;
}

// A whole decimal number in [min, max]; false for anything else.
bool ParseNumber(const std::string& text, long min, long max, long* out) {
    if (text.empty() || text.size() > 12) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

// "N:D" with both parts in [min, INT_MAX].
bool ParseRatio(const std::string& text, long min, long* num, long* den) {
    const auto colon = text.find(':');
    return colon != std::string::npos && ParseNumber(text.substr(0, colon), min, INT_MAX, num) &&
           ParseNumber(text.substr(colon + 1), min, INT_MAX, den);
}

// What the two readers share: their file, opened and found again for each pass of a loop.
class FileSource : public Source {
protected:
    bool OpenFile(const std::string& path, std::string* error) {
        path_ = path;
        file_.open(path, std::ios::binary);
        if (!file_) *error = "cannot open '" + path + "'";
        return static_cast<bool>(file_);
    }
    bool SeekBack(std::streampos at, std::string* error) {
        file_.clear();
        file_.seekg(at);
        if (!file_) *error = "cannot read '" + path_ + "' again";
        return static_cast<bool>(file_);
    }

    std::string path_;
    std::ifstream file_;
};

class Y4MSource final : public FileSource {
public:
    bool Open(const std::string& path, std::string* error) {
        if (!OpenFile(path, error)) return false;
        std::string header;
        if (!ReadLine(file_, 4096, &header) || !header.starts_with("YUV4MPEG2 ")) {
            *error = "'" + path + "' is not a Y4M file";
            return false;
        }
        long w = 0, h = 0, num = 0, den = 0;
        std::istringstream fields(header.substr(10));
        std::string f;
        std::string colour = "420jpeg";
        video.present = true;
        video.codec = "y4m";
        while (fields >> f) {
            const char key = f[0];
            const std::string val = f.substr(1);
            long an = 0, ad = 0;
            if (key == 'W') {
                if (!ParseNumber(val, 1, 16384, &w)) w = -1;
            } else if (key == 'H') {
                if (!ParseNumber(val, 1, 16384, &h)) h = -1;
            } else if (key == 'F') {
                if (!ParseRatio(val, 1, &num, &den)) num = den = 0;
            } else if (key == 'I') {
                video.interlace = val == "t"   ? eMI_Field1First
                                  : val == "b" ? eMI_Field2First
                                               : eMI_Progressive;
            } else if (key == 'A' && ParseRatio(val, 1, &an, &ad) && an < 65536 && ad < 65536) {
                // The pixel's aspect (0:0, unknown, leaves square pixels).
                video.aspect_num = static_cast<int>(an);
                video.aspect_den = static_cast<int>(ad);
            } else if (key == 'C') {
                colour = val;
            }
        }
        if (w <= 0 || h <= 0 || (w & 1)) {
            *error = "'" + path + "' has a picture size oxplay cannot play (" + std::to_string(w) +
                     "x" + std::to_string(h) + ")";
            return false;
        }
        const double rate = den > 0 ? static_cast<double>(num) / den : 0.0;
        if (!(rate >= kMinRate && rate <= kMaxRate)) {
            *error = "'" + path + "' has a frame rate outside 1 to 240 frames/s (F" +
                     std::to_string(num) + ":" + std::to_string(den) + ")";
            return false;
        }
        video.rate_num = static_cast<int>(num);
        video.rate_den = static_cast<int>(den);
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
        chroma_w_ = chroma_div_x_ ? static_cast<int>((w + chroma_div_x_ - 1) / chroma_div_x_) : 0;
        chroma_h_ = chroma_div_x_ ? static_cast<int>((h + chroma_div_y_ - 1) / chroma_div_y_) : 0;
        frame_bytes_ =
            static_cast<std::int64_t>(w) * h + 2 * static_cast<std::int64_t>(chroma_w_) * chroma_h_;
        video.width = static_cast<int>(w);
        video.height = static_cast<int>(h);
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

    Fetch NextPicture(std::int64_t, TimedImage* out, std::string* error) override {
        std::string line;
        if (!ReadLine(file_, 256, &line)) return Fetch::kEnd;
        if (!line.starts_with("FRAME")) {
            *error = "'" + path_ + "' is damaged (no FRAME marker)";
            return Fetch::kError;
        }
        // A cut-off last picture ends the file.
        if (!file_.read(reinterpret_cast<char*>(raw_.data()), frame_bytes_)) return Fetch::kEnd;
        auto image = std::make_shared<Image>();
        image->fcc = video.height >= 720 ? eMFCC_HDYC : eMFCC_UYVY;
        image->width = video.width;
        image->height = video.height;
        image->row_bytes = video.width * 2;
        image->interlace = video.interlace;
        image->aspect_num = video.aspect_num;
        image->aspect_den = video.aspect_den;
        ToUyvy(image->bytes);
        out->image = std::move(image);
        out->start = PeriodStart(index_, video.rate_num, video.rate_den);
        out->duration = PeriodStart(index_ + 1, video.rate_num, video.rate_den) - out->start;
        out->number = index_++;
        return Fetch::kPicture;
    }
    bool ReadAudio(int, std::uint8_t*, bool* ended, std::string*) override {
        *ended = true;
        return true;
    }
    bool Rewind(std::string* error) override {
        index_ = 0;
        return SeekBack(data_start_, error);
    }

private:
    void ToUyvy(std::vector<std::uint8_t>& uyvy) const {
        const int w = video.width, h = video.height;
        uyvy.resize(static_cast<std::size_t>(w) * h * 2);
        const std::uint8_t* luma = raw_.data();
        const std::uint8_t* cb = luma + static_cast<std::size_t>(w) * h;
        const std::uint8_t* cr = cb + static_cast<std::size_t>(chroma_w_) * chroma_h_;
        for (int y = 0; y < h; ++y) {
            std::uint8_t* out = uyvy.data() + static_cast<std::size_t>(y) * w * 2;
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

    std::streampos data_start_;
    int chroma_div_x_ = 2, chroma_div_y_ = 2, chroma_w_ = 0, chroma_h_ = 0;
    std::int64_t frame_bytes_ = 0;
    std::int64_t index_ = 0;
    std::vector<std::uint8_t> raw_;
};

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

class WavSource final : public FileSource {
public:
    bool Open(const std::string& path, std::string* error) {
        if (!OpenFile(path, error)) return false;
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
        if (total_samples_ == 0) {
            *error = "'" + path + "' holds no samples";
            return false;
        }
        // Mono plays on both channels of the first pair.
        audio.channels = in_channels_ == 1 ? 2 : in_channels_;
        audio.bits = in_bits_ == 16 ? 16 : 32;
        audio.layout = in_channels_ == 1   ? "mono"
                       : in_channels_ == 2 ? "stereo"
                                           : std::to_string(in_channels_) + " channels";
        audio.placement = in_channels_ == 1   ? "channels 1-2 (the one channel on both)"
                          : in_channels_ == 2 ? "channels 1-2 (L R)"
                                              : "channels 1-" + std::to_string(in_channels_) +
                                                    " in the file's order";
        std::string unused;
        return Rewind(&unused);
    }

    Fetch NextPicture(std::int64_t, TimedImage*, std::string*) override { return Fetch::kEnd; }

    bool ReadAudio(int count, std::uint8_t* out, bool* ended, std::string* error) override {
        const int n = static_cast<int>(std::clamp<std::int64_t>(total_samples_ - pos_, 0, count));
        const std::size_t in_frame = static_cast<std::size_t>(in_channels_) * (in_bits_ / 8);
        const std::size_t out_sample = static_cast<std::size_t>(audio.bits / 8);
        raw_.resize(in_frame * n);
        if (n > 0 && !file_.read(reinterpret_cast<char*>(raw_.data()),
                                 static_cast<std::streamsize>(raw_.size()))) {
            *error = "reading '" + path_ + "' failed";
            return false;
        }
        const std::size_t values = static_cast<std::size_t>(n) * in_channels_;
        if (in_bits_ == 16) {
            std::memcpy(out, raw_.data(), raw_.size());
        } else {
            for (std::size_t i = 0; i < values; ++i) {
                const std::uint8_t* p = raw_.data() + i * (in_bits_ / 8);
                std::int32_t v;
                if (in_bits_ == 24) {
                    v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                  static_cast<std::uint32_t>(p[1]) << 16 |
                                                  static_cast<std::uint32_t>(p[2]) << 24);
                } else if (is_float_) {
                    float f;
                    std::memcpy(&f, p, 4);
                    const double s = std::clamp(static_cast<double>(f), -1.0, 1.0) * 2147483647.0;
                    v = static_cast<std::int32_t>(std::lround(s));
                } else {
                    std::memcpy(&v, p, 4);
                }
                std::memcpy(out + i * 4, &v, 4);
            }
        }
        if (in_channels_ == 1) {
            // Each sample twice, from the last back, in place.
            for (std::size_t i = values; i-- > 0;) {
                std::memmove(out + (2 * i + 1) * out_sample, out + i * out_sample, out_sample);
                std::memmove(out + 2 * i * out_sample, out + i * out_sample, out_sample);
            }
        }
        const std::size_t channels = static_cast<std::size_t>(audio.channels);
        std::memset(out + static_cast<std::size_t>(n) * channels * out_sample, 0,
                    (static_cast<std::size_t>(count) - n) * channels * out_sample);
        pos_ += n;
        *ended = pos_ >= total_samples_;
        return true;
    }

    bool Rewind(std::string* error) override {
        pos_ = 0;
        return SeekBack(data_start_, error);
    }

private:
    std::int64_t data_start_ = -1;
    std::int64_t total_samples_ = 0;
    std::int64_t pos_ = 0;
    int in_channels_ = 0, in_bits_ = 0;
    bool is_float_ = false;
    std::vector<std::uint8_t> raw_;
};

}  // namespace

std::unique_ptr<Source> OpenY4M(const std::string& path, std::string* error) {
    auto s = std::make_unique<Y4MSource>();
    if (!s->Open(path, error)) return nullptr;
    return s;
}

std::unique_ptr<Source> OpenWav(const std::string& path, std::string* error) {
    auto s = std::make_unique<WavSource>();
    if (!s->Open(path, error)) return nullptr;
    return s;
}

std::string ReadCaptions(const std::string& path, std::vector<std::vector<std::uint8_t>>* out) {
    // Only a regular file: a device or a pipe could be endless, a folder reads as nothing.
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) return "cannot open caption file '" + path + "'";
    if (!std::filesystem::is_regular_file(status))
        return "caption file '" + path + "' is not a regular file";
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > static_cast<std::uintmax_t>(kMaxCaptionBytes))
        return "caption file '" + path + "' is larger than " +
               std::to_string(kMaxCaptionBytes >> 20) + " MiB";
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot open caption file '" + path + "'";
    out->clear();
    std::string line;
    int number = 0;
    // The size may have grown since it was looked at: the reading stops at the cap as well.
    std::int64_t read = 0;
    while (std::getline(in, line)) {
        ++number;
        read += static_cast<std::int64_t>(line.size()) + 1;
        if (read > kMaxCaptionBytes + 1)
            return "caption file '" + path + "' is larger than " +
                   std::to_string(kMaxCaptionBytes >> 20) + " MiB";
        std::vector<std::uint8_t> pairs;
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            if (word.size() != 4 ||
                word.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                return "caption file line " + std::to_string(number) + ": '" +
                       Printable(word.substr(0, 16)) + "' is not a hex byte pair";
            const unsigned value = static_cast<unsigned>(std::strtoul(word.c_str(), nullptr, 16));
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

}  // namespace oxplay
