// Media files through FFmpeg's libraries: libavformat reads the container, libavcodec
// decodes, libswresample brings planar or floating-point audio to interleaved integer samples
// at the file's own rate (the renderer resamples when the card needs another rate).
#include <algorithm>
#include <cstring>
#include <deque>

#include "tools/oxplay/source.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
}

namespace oxplay {
namespace {

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

class MediaSource final : public Source {
public:
    ~MediaSource() override { Close(); }

    bool Open(const std::string& path, const VideoSpec& bars, std::string* error) {
        path_ = path;
        bars_spec_ = bars;
        if (!OpenFile(error)) return false;
        if (vidx_ < 0) {
            video = bars;
            bars_.Resize(bars.width, bars.height);
            DrawPattern(Pattern::kBars, 0, {}, &bars_);
        } else {
            // The first picture tells the decoded layout and field order.
            while (pictures_.empty() && !ended_)
                if (!Pump(error)) return false;
            if (pictures_.empty()) {
                *error = "'" + path + "' has no picture that decodes";
                return false;
            }
            if (!DescribeVideo(pictures_.front(), error)) return false;
        }
        return true;
    }

    bool Read(Frame* frame, std::string* error) override {
        if (vidx_ >= 0) {
            while (pictures_.empty() && !ended_)
                if (!Pump(error)) return false;
            if (pictures_.empty()) return false;
        }
        const int want = SamplesForFrame(index_, video, audio.rate);
        const std::size_t frame_bytes = static_cast<std::size_t>(audio.channels) * (audio.bits / 8);
        if (aidx_ >= 0)
            while (fifo_.size() < frame_bytes * want && !ended_)
                if (!Pump(error)) return false;
        if (vidx_ < 0 && fifo_.empty()) return false;

        frame->samples = 0;
        frame->audio.clear();
        if (aidx_ >= 0 && frame_bytes > 0) {
            const std::size_t n =
                std::min(fifo_.size() / frame_bytes, static_cast<std::size_t>(want));
            frame->audio.assign(fifo_.begin(),
                                fifo_.begin() + static_cast<std::ptrdiff_t>(n * frame_bytes));
            fifo_.erase(fifo_.begin(),
                        fifo_.begin() + static_cast<std::ptrdiff_t>(n * frame_bytes));
            frame->samples = static_cast<int>(n);
        }
        if (vidx_ >= 0) {
            AVFrame* picture = pictures_.front();
            pictures_.pop_front();
            const bool ok = Convert(picture, frame, error);
            av_frame_free(&picture);
            if (!ok) return false;
        } else if (!PackPicture(bars_, video.fcc, &frame->video, &frame->row_bytes)) {
            *error = "cannot pack the picture in this pixel format";
            return false;
        }
        ++index_;
        return true;
    }

    bool Rewind() override {
        std::string error;
        Close();
        index_ = 0;
        return OpenFile(&error);
    }

private:
    bool OpenFile(std::string* error) {
        int rc = avformat_open_input(&fmt_, path_.c_str(), nullptr, nullptr);
        if (rc < 0) {
            *error = "cannot open '" + path_ + "': " + AvError(rc);
            return false;
        }
        if ((rc = avformat_find_stream_info(fmt_, nullptr)) < 0) {
            *error = "'" + path_ + "' does not decode: " + AvError(rc);
            return false;
        }
        vidx_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        aidx_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (vidx_ >= 0 && fmt_->streams[vidx_]->disposition & AV_DISPOSITION_ATTACHED_PIC)
            vidx_ = -1;  // cover art is no video
        if (vidx_ < 0 && aidx_ < 0) {
            *error = "'" + path_ + "' has neither video nor audio";
            return false;
        }
        if (vidx_ >= 0 && !OpenDecoder(vidx_, &vdec_, error)) return false;
        if (aidx_ >= 0 && !OpenDecoder(aidx_, &adec_, error)) return false;
        if (aidx_ >= 0 && !SetUpAudio(error)) return false;
        packet_ = av_packet_alloc();
        decoded_ = av_frame_alloc();
        if (!packet_ || !decoded_) {
            *error = "out of memory";
            return false;
        }
        ended_ = false;
        return true;
    }

    bool OpenDecoder(int index, AVCodecContext** ctx, std::string* error) {
        const AVStream* st = fmt_->streams[index];
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!codec) {
            *error = "'" + path_ + "': no decoder for " + avcodec_get_name(st->codecpar->codec_id);
            return false;
        }
        *ctx = avcodec_alloc_context3(codec);
        int rc = *ctx ? avcodec_parameters_to_context(*ctx, st->codecpar) : AVERROR(ENOMEM);
        if (rc >= 0) rc = avcodec_open2(*ctx, codec, nullptr);
        if (rc < 0) {
            *error = "'" + path_ + "': cannot open the decoder: " + AvError(rc);
            return false;
        }
        return true;
    }

    bool SetUpAudio(std::string* error) {
        const int channels = adec_->ch_layout.nb_channels;
        if (channels < 1 || channels > 16 || adec_->sample_rate < 8000 ||
            adec_->sample_rate > 192000) {
            *error = "'" + path_ + "' has audio oxplay cannot play (" + std::to_string(channels) +
                     " channels at " + std::to_string(adec_->sample_rate) + " Hz)";
            return false;
        }
        audio.channels = channels;
        audio.rate = adec_->sample_rate;
        // Interleaved 16-bit stays as it is; everything else becomes interleaved 32-bit.
        out_format_ =
            adec_->sample_fmt == AV_SAMPLE_FMT_S16 || adec_->sample_fmt == AV_SAMPLE_FMT_S16P
                ? AV_SAMPLE_FMT_S16
                : AV_SAMPLE_FMT_S32;
        audio.bits = out_format_ == AV_SAMPLE_FMT_S16 ? 16 : 32;
        if (adec_->sample_fmt == out_format_) return true;
        const int rc =
            swr_alloc_set_opts2(&swr_, &adec_->ch_layout, out_format_, audio.rate,
                                &adec_->ch_layout, adec_->sample_fmt, audio.rate, 0, nullptr);
        if (rc < 0 || swr_init(swr_) < 0) {
            *error = "'" + path_ + "': cannot set up the audio conversion";
            return false;
        }
        return true;
    }

    // Reads one packet (or flushes at the end) and keeps what the decoders give back.
    bool Pump(std::string* error) {
        int rc = av_read_frame(fmt_, packet_);
        if (rc < 0) {
            // End of file (or a read error, which ends the file as well): drain the decoders.
            for (AVCodecContext* ctx : {vdec_, adec_})
                if (ctx && avcodec_send_packet(ctx, nullptr) >= 0) Receive(ctx, error);
            ended_ = true;
            return error->empty();
        }
        AVCodecContext* ctx = packet_->stream_index == vidx_   ? vdec_
                              : packet_->stream_index == aidx_ ? adec_
                                                               : nullptr;
        // A damaged packet is skipped as players do; the decoder carries on with the next.
        if (ctx && avcodec_send_packet(ctx, packet_) >= 0) Receive(ctx, error);
        av_packet_unref(packet_);
        return error->empty();
    }

    void Receive(AVCodecContext* ctx, std::string* error) {
        while (avcodec_receive_frame(ctx, decoded_) >= 0) {
            if (ctx == vdec_) {
                pictures_.push_back(av_frame_clone(decoded_));
            } else if (!AppendAudio(decoded_)) {
                *error = "'" + path_ + "': the audio changed its layout mid-stream";
            }
            av_frame_unref(decoded_);
        }
    }

    bool AppendAudio(const AVFrame* f) {
        if (f->ch_layout.nb_channels != audio.channels || f->sample_rate != audio.rate)
            return false;
        const std::size_t bytes =
            static_cast<std::size_t>(f->nb_samples) * audio.channels * (audio.bits / 8);
        const std::size_t at = fifo_.size();
        fifo_.resize(at + bytes);
        if (!swr_) {
            std::memcpy(fifo_.data() + at, f->data[0], bytes);
            return true;
        }
        std::uint8_t* out[1] = {fifo_.data() + at};
        const int got =
            swr_convert(swr_, out, f->nb_samples,
                        const_cast<const std::uint8_t**>(f->extended_data), f->nb_samples);
        fifo_.resize(at + static_cast<std::size_t>(std::max(got, 0)) * audio.channels *
                              (audio.bits / 8));
        return got >= 0;
    }

    bool DescribeVideo(const AVFrame* f, std::string* error) {
        const AVStream* st = fmt_->streams[vidx_];
        AVRational rate = st->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) rate = st->r_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) rate = {25, 1};
        if (rate.num / rate.den > 240) {
            *error = "'" + path_ + "' has a frame rate oxplay cannot play";
            return false;
        }
        video.rate_num = rate.num;
        video.rate_den = rate.den;
        video.width = f->width;
        video.height = f->height;
        video.interlace = !f->interlaced_frame ? eMI_Progressive
                          : f->top_field_first ? eMI_Field1First
                                               : eMI_Field2First;
        if (f->sample_aspect_ratio.num > 0 && f->sample_aspect_ratio.den > 0) {
            AVRational dar = av_mul_q(f->sample_aspect_ratio, {f->width, f->height});
            av_reduce(&dar.num, &dar.den, dar.num, dar.den, 32767);
            video.aspect_x = static_cast<short>(dar.num);
            video.aspect_y = static_cast<short>(dar.den);
        }
        if (f->width <= 0 || f->height <= 0 || f->width > 16384 || f->height > 16384 ||
            (f->width & 1)) {
            *error = "'" + path_ + "' has a picture size oxplay cannot play";
            return false;
        }
        const bool hd = f->height >= 720;
        switch (f->format) {
            case AV_PIX_FMT_YUV420P:
            case AV_PIX_FMT_YUVJ420P:
            case AV_PIX_FMT_YUV422P:
            case AV_PIX_FMT_YUVJ422P:
            case AV_PIX_FMT_YUV444P:
            case AV_PIX_FMT_YUVJ444P:
            case AV_PIX_FMT_UYVY422:
                video.fcc = hd ? eMFCC_HDYC : eMFCC_UYVY;
                break;
            case AV_PIX_FMT_YUYV422:
                video.fcc = eMFCC_YUY2;
                break;
            case AV_PIX_FMT_BGRA:
            case AV_PIX_FMT_BGR0:
                video.fcc = eMFCC_RGB32;
                break;
            case AV_PIX_FMT_YUV422P10LE:
                video.fcc = eMFCC_v210;
                break;
            default:
                *error = "'" + path_ + "' decodes to " +
                         av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format)) +
                         ", which oxplay does not hand on (8-bit 4:2:0/4:2:2/4:4:4, UYVY, "
                         "YUY2, BGRA or 10-bit 4:2:2 plays)";
                return false;
        }
        picture_.Resize(f->width, f->height);
        return true;
    }

    bool Convert(const AVFrame* f, Frame* out, std::string* error) {
        if (f->width != video.width || f->height != video.height ||
            f->format != pictures_format_or(f)) {
            *error = "'" + path_ + "' changes its picture size or layout mid-stream";
            return false;
        }
        const int w = f->width, h = f->height;
        switch (f->format) {
            case AV_PIX_FMT_UYVY422:
            case AV_PIX_FMT_YUYV422:
            case AV_PIX_FMT_BGRA:
            case AV_PIX_FMT_BGR0: {
                // The decoded layout is one the renderer takes: rows are copied as they are.
                const int rb = RowBytesOf(video.fcc, w);
                out->row_bytes = rb;
                out->video.resize(static_cast<std::size_t>(rb) * h);
                for (int y = 0; y < h; ++y)
                    std::memcpy(out->video.data() + static_cast<std::size_t>(y) * rb,
                                f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0], rb);
                return true;
            }
            case AV_PIX_FMT_YUV422P10LE: {
                const int rb = RowBytesOf(eMFCC_v210, w);
                out->row_bytes = rb;
                out->video.assign(static_cast<std::size_t>(rb) * h, 0);
                for (int y = 0; y < h; ++y) {
                    auto row = [&](int plane) {
                        return reinterpret_cast<const std::uint16_t*>(
                            f->data[plane] + static_cast<std::ptrdiff_t>(y) * f->linesize[plane]);
                    };
                    const std::uint16_t *ly = row(0), *cb = row(1), *cr = row(2);
                    auto* words = reinterpret_cast<std::uint32_t*>(
                        out->video.data() + static_cast<std::size_t>(y) * rb);
                    const int pairs = w / 2;
                    for (int g = 0; g * 3 < pairs; ++g) {
                        std::uint32_t s[12];
                        for (int k = 0; k < 3; ++k) {
                            const int p = std::min(g * 3 + k, pairs - 1);
                            s[k * 4 + 0] = cb[p] & 0x3FF;
                            s[k * 4 + 1] = ly[2 * p] & 0x3FF;
                            s[k * 4 + 2] = cr[p] & 0x3FF;
                            s[k * 4 + 3] = ly[2 * p + 1] & 0x3FF;
                        }
                        for (int wd = 0; wd < 4; ++wd)
                            words[g * 4 + wd] =
                                s[wd * 3] | s[wd * 3 + 1] << 10 | s[wd * 3 + 2] << 20;
                    }
                }
                return true;
            }
            default: {
                // Planar 8-bit: chroma taken from the nearest sample (4:2:0 rows repeat).
                const AVPixFmtDescriptor* d =
                    av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
                const int sx = d->log2_chroma_w, sy = d->log2_chroma_h;
                for (int y = 0; y < h; ++y) {
                    const std::uint8_t* ly =
                        f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0];
                    const std::uint8_t* cb =
                        f->data[1] + static_cast<std::ptrdiff_t>(y >> sy) * f->linesize[1];
                    const std::uint8_t* cr =
                        f->data[2] + static_cast<std::ptrdiff_t>(y >> sy) * f->linesize[2];
                    std::uint8_t* o = picture_.uyvy.data() + static_cast<std::size_t>(y) * w * 2;
                    for (int x = 0; x < w; x += 2) {
                        o[x * 2] = cb[x >> sx];
                        o[x * 2 + 1] = ly[x];
                        o[x * 2 + 2] = cr[x >> sx];
                        o[x * 2 + 3] = ly[x + 1];
                    }
                }
                return PackPicture(picture_, video.fcc, &out->video, &out->row_bytes);
            }
        }
    }

    int pictures_format_or(const AVFrame* f) {
        if (first_format_ < 0) first_format_ = f->format;
        return first_format_;
    }

    void Close() {
        for (AVFrame* f : pictures_) av_frame_free(&f);
        pictures_.clear();
        fifo_.clear();
        swr_free(&swr_);
        avcodec_free_context(&vdec_);
        avcodec_free_context(&adec_);
        avformat_close_input(&fmt_);
        av_packet_free(&packet_);
        av_frame_free(&decoded_);
    }

    std::string path_;
    VideoSpec bars_spec_;
    Picture bars_;
    Picture picture_;
    AVFormatContext* fmt_ = nullptr;
    AVCodecContext* vdec_ = nullptr;
    AVCodecContext* adec_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* decoded_ = nullptr;
    int vidx_ = -1, aidx_ = -1;
    int first_format_ = -1;
    AVSampleFormat out_format_ = AV_SAMPLE_FMT_S16;
    bool ended_ = false;
    std::deque<AVFrame*> pictures_;
    std::vector<std::uint8_t> fifo_;
    std::int64_t index_ = 0;
};

}  // namespace

std::unique_ptr<Source> OpenMedia(const std::string& path, const VideoSpec& bars,
                                  std::string* error) {
    // The reasons reach the user as oxplay's own one-line messages.
    av_log_set_level(AV_LOG_QUIET);
    auto s = std::make_unique<MediaSource>();
    if (!s->Open(path, bars, error)) return nullptr;
    return s;
}

}  // namespace oxplay
