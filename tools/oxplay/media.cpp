// Media files through FFmpeg's libraries: libavformat reads the container, libavcodec
// decodes, libswresample brings any sample layout to 32-bit integers at the file's own rate
// (the renderer resamples to the card's rate).
//
// Packets are read ahead into one queue per stream and decoded only when their picture or
// sound is wanted. The read-ahead is bounded: when one stream is wanted and the file has been
// read more than kMaxSkew past the playing time for the other (or the queues hold
// kMaxQueuedBytes), the wanted stream has a gap there: the picture is held, silence plays.
// So memory stays flat whatever the streams do: one ends early, starts late, or pauses.
#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>

#include "tools/oxplay/media_picture.h"
#include "tools/oxplay/source.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace oxplay {
namespace {

constexpr std::int64_t kMaxSkew = 3 * kTicksPerSecond;
constexpr std::int64_t kMaxQueuedBytes = 128 << 20;
constexpr std::int64_t kNoTime = std::numeric_limits<std::int64_t>::min();
constexpr int kVideo = 0, kAudio = 1;

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::int64_t Ticks(std::int64_t value, AVRational base) {
    return av_rescale_q(value, base, {1, static_cast<int>(kTicksPerSecond)});
}

// The order the card's channels take: left, right, centre, LFE, side (or back) pair, back
// pair. Mono goes to both of the first pair; other layouts keep the file's order.
struct ChannelMap {
    std::vector<int> from;  // file channel of each output channel
    std::string layout, placement;
};

ChannelMap MapChannels(const AVChannelLayout& given) {
    ChannelMap m;
    // A file that does not say which channel is which has the usual layout of its count.
    AVChannelLayout layout{};
    if (given.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&layout, given.nb_channels);
    else
        av_channel_layout_copy(&layout, &given);
    char name[64] = {};
    av_channel_layout_describe(&layout, name, sizeof name);
    m.layout = name;
    const int n = layout.nb_channels;
    auto at = [&](AVChannel c) { return av_channel_layout_index_from_channel(&layout, c); };
    auto range = [](int count) { return "channels 1-" + std::to_string(count); };
    if (n == 1) {
        m.from = {0, 0};
        m.placement = "channels 1-2 (the one channel on both)";
        av_channel_layout_uninit(&layout);
        return m;
    }
    const int fl = at(AV_CHAN_FRONT_LEFT), fr = at(AV_CHAN_FRONT_RIGHT);
    const int fc = at(AV_CHAN_FRONT_CENTER), lfe = at(AV_CHAN_LOW_FREQUENCY);
    const int sl = at(AV_CHAN_SIDE_LEFT), sr = at(AV_CHAN_SIDE_RIGHT);
    const int bl = at(AV_CHAN_BACK_LEFT), br = at(AV_CHAN_BACK_RIGHT);
    if (n == 2 && fl >= 0 && fr >= 0) {
        m.from = {fl, fr};
        m.placement = range(2) + " (L R)";
    } else if (n == 6 && fl >= 0 && fr >= 0 && fc >= 0 && lfe >= 0 &&
               ((sl >= 0 && sr >= 0) || (bl >= 0 && br >= 0))) {
        m.from = {fl, fr, fc, lfe, sl >= 0 ? sl : bl, sl >= 0 ? sr : br};
        m.placement = range(6) + " (L R C LFE Ls Rs)";
    } else if (n == 8 && fl >= 0 && fr >= 0 && fc >= 0 && lfe >= 0 && sl >= 0 && sr >= 0 &&
               bl >= 0 && br >= 0) {
        m.from = {fl, fr, fc, lfe, sl, sr, bl, br};
        m.placement = range(8) + " (L R C LFE Ls Rs Lrs Rrs)";
    } else {
        for (int c = 0; c < n; ++c) m.from.push_back(c);
        m.placement = range(n) + " in the file's order";
    }
    av_channel_layout_uninit(&layout);
    return m;
}

class MediaSource final : public Source {
public:
    ~MediaSource() override { Close(); }

    bool Open(const std::string& path, std::string* error) {
        path_ = path;
        if (!OpenFile(error)) return false;
        if (vidx_ < 0) return true;
        // The first picture tells the size, field order and turn the file plays with; when it
        // starts later than the read-ahead reaches, the stream's description does.
        TimedImage first;
        const Fetch got = DecodePicture(0, &first, error);
        if (got == Fetch::kError) return false;
        if (got == Fetch::kEnd) {
            *error = "'" + path + "' has no picture that decodes";
            return false;
        }
        if (got == Fetch::kPicture) {
            video.width = first.image->width;
            video.height = first.image->height;
            video.aspect_num = first.image->aspect_num;
            video.aspect_den = first.image->aspect_den;
            video.interlace = first.image->interlace;
            first_ = std::move(first);
            return true;
        }
        const AVCodecParameters* par = fmt_->streams[vidx_]->codecpar;
        const bool turned = rotation_ == 90 || rotation_ == 270;
        video.width = ((turned ? par->height : par->width) + 1) & ~1;  // pairs, as pictures
        video.height = turned ? par->width : par->height;
        if (par->sample_aspect_ratio.num > 0 && par->sample_aspect_ratio.den > 0) {
            video.aspect_num = par->sample_aspect_ratio.num;
            video.aspect_den = par->sample_aspect_ratio.den;
            if (turned) std::swap(video.aspect_num, video.aspect_den);
        }
        video.interlace =
            par->field_order == AV_FIELD_TT || par->field_order == AV_FIELD_TB   ? eMI_Field1First
            : par->field_order == AV_FIELD_BB || par->field_order == AV_FIELD_BT ? eMI_Field2First
                                                                                 : eMI_Progressive;
        if (video.width <= 0 || video.height <= 0 || video.width > 16384 || video.height > 16384) {
            *error = "'" + path + "' has a picture size oxplay cannot play";
            return false;
        }
        return true;
    }

    Fetch NextPicture(std::int64_t now, TimedImage* out, std::string* error) override {
        if (vidx_ < 0) return Fetch::kEnd;
        if (first_.image) {
            *out = std::move(first_);
            first_ = {};
            return Fetch::kPicture;
        }
        return DecodePicture(now, out, error);
    }

    bool ReadAudio(int count, std::uint8_t* out, bool* ended, std::string* error) override {
        *ended = true;
        if (aidx_ < 0) return true;
        const std::size_t channels = static_cast<std::size_t>(audio.channels);
        auto* samples = reinterpret_cast<std::int32_t*>(out);
        int done = 0;
        while (done < count) {
            const std::int64_t at = position_ + done;
            if (!pending_.empty()) {
                const std::int64_t length = static_cast<std::int64_t>(pending_.size() / channels);
                if (pending_at_ > at) {
                    // A gap in the stream: silence up to its next sound.
                    const int n =
                        static_cast<int>(std::min<std::int64_t>(pending_at_ - at, count - done));
                    std::memset(samples + done * channels, 0, n * channels * 4);
                    done += n;
                    continue;
                }
                // Sound that overlaps what already played is cut off at its front.
                const std::int64_t skip = std::min(at - pending_at_, length);
                const int n = static_cast<int>(std::min<std::int64_t>(length - skip, count - done));
                std::memcpy(samples + done * channels,
                            pending_.data() + static_cast<std::size_t>(skip) * channels,
                            n * channels * 4);
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(
                                                                        (skip + n) * channels));
                pending_at_ = at + n;
                done += n;
                continue;
            }
            const Fetch got = DecodeSound(at * kTicksPerSecond / audio.rate, error);
            if (got == Fetch::kError) return false;
            if (got != Fetch::kPicture) {
                std::memset(samples + done * channels, 0, (count - done) * channels * 4);
                if (got == Fetch::kEnd) audio_ended_ = true;
                break;
            }
        }
        position_ += count;
        // Whether the sound ends right here is known only by looking for more.
        if (pending_.empty() && !audio_ended_) {
            const Fetch got = DecodeSound(position_ * kTicksPerSecond / audio.rate, error);
            if (got == Fetch::kError) return false;
            audio_ended_ = got == Fetch::kEnd;
        }
        *ended = audio_ended_ && pending_.empty();
        return true;
    }

    bool Rewind(std::string* error) override {
        Close();
        return OpenFile(error);
    }

    std::int64_t PeakQueuedBytes() const override { return peak_bytes_; }

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
        packet_ = av_packet_alloc();
        decoded_ = av_frame_alloc();
        if (!packet_ || !decoded_) {
            *error = "out of memory";
            return false;
        }
        // Time zero: the earlier start of the two streams.
        start_ = kNoTime;
        for (int index : {vidx_, aidx_}) {
            if (index < 0) continue;
            const AVStream* st = fmt_->streams[index];
            if (st->start_time == AV_NOPTS_VALUE) continue;
            const std::int64_t t = Ticks(st->start_time, st->time_base);
            start_ = start_ == kNoTime ? t : std::min(start_, t);
        }
        if (start_ == kNoTime) start_ = 0;
        // Where each stream ends, when the file says so reliably (a length guessed from the
        // bit rate is not): decoders give out padding past it, which is not part of the file.
        for (int which : {kVideo, kAudio}) {
            const int index = which == kVideo ? vidx_ : aidx_;
            end_[which] = kNoTime;
            if (index < 0 || fmt_->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
                continue;
            const AVStream* st = fmt_->streams[index];
            if (st->duration == AV_NOPTS_VALUE || st->duration <= 0) continue;
            const std::int64_t first = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
            end_[which] = Ticks(first + st->duration, st->time_base) - start_;
        }
        if (vidx_ >= 0 && !SetUpVideo(error)) return false;
        if (aidx_ >= 0 && !SetUpAudio(error)) return false;
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

    bool SetUpVideo(std::string* error) {
        if (!OpenDecoder(vidx_, &vdec_, error)) return false;
        const AVStream* st = fmt_->streams[vidx_];
        AVRational rate = st->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0) rate = st->r_frame_rate;
        if (rate.num <= 0 || rate.den <= 0 || av_q2d(rate) > 1000) rate = {25, 1};
        video.present = true;
        video.rate_num = rate.num;
        video.rate_den = rate.den;
        video.variable_rate = av_cmp_q(st->avg_frame_rate, st->r_frame_rate) != 0;
        video.codec = avcodec_get_name(st->codecpar->codec_id);
        const auto* matrix = reinterpret_cast<const std::int32_t*>(
            av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
        rotation_ = RotationOf(matrix);
        return true;
    }

    bool SetUpAudio(std::string* error) {
        if (!OpenDecoder(aidx_, &adec_, error)) return false;
        const int channels = adec_->ch_layout.nb_channels;
        if (channels < 1 || channels > 16 || adec_->sample_rate < 8000 ||
            adec_->sample_rate > 192000) {
            *error = "'" + path_ + "' has audio oxplay cannot play (" + std::to_string(channels) +
                     " channels at " + std::to_string(adec_->sample_rate) + " Hz)";
            return false;
        }
        const ChannelMap map = MapChannels(adec_->ch_layout);
        map_ = map.from;
        audio.channels = static_cast<int>(map_.size());
        audio.rate = adec_->sample_rate;
        audio.bits = 32;
        audio.layout = map.layout;
        audio.placement = map.placement;
        const int rc =
            swr_alloc_set_opts2(&swr_, &adec_->ch_layout, AV_SAMPLE_FMT_S32P, audio.rate,
                                &adec_->ch_layout, adec_->sample_fmt, audio.rate, 0, nullptr);
        if (rc < 0 || swr_init(swr_) < 0) {
            *error = "'" + path_ + "': cannot set up the audio conversion";
            return false;
        }
        return true;
    }

    // Reads one packet into its stream's queue; the end of the file (or a read error, which
    // ends it as well) is remembered.
    void Demux() {
        const int rc = av_read_frame(fmt_, packet_);
        if (rc == AVERROR(EAGAIN)) return;
        if (rc < 0) {
            eof_ = true;
            return;
        }
        const int which = packet_->stream_index == vidx_   ? kVideo
                          : packet_->stream_index == aidx_ ? kAudio
                                                           : -1;
        if (which < 0) {
            av_packet_unref(packet_);
            return;
        }
        const std::int64_t stamp = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
        if (stamp != AV_NOPTS_VALUE)
            read_to_[which] =
                std::max(read_to_[which],
                         Ticks(stamp, fmt_->streams[packet_->stream_index]->time_base) - start_);
        AVPacket* kept = av_packet_alloc();
        if (!kept) {
            av_packet_unref(packet_);
            return;
        }
        av_packet_move_ref(kept, packet_);
        queued_bytes_ += kept->size + static_cast<std::int64_t>(sizeof(AVPacket));
        peak_bytes_ = std::max(peak_bytes_, queued_bytes_);
        queue_[which].push_back(kept);
    }

    // Whether stream `which`, wanted at time `now`, has a gap there: the other stream has been
    // read far past it, or the read-ahead is full.
    bool Starved(int which, std::int64_t now) const {
        const std::int64_t other = read_to_[1 - which];
        return queued_bytes_ >= kMaxQueuedBytes || (other != kNoTime && other > now + kMaxSkew);
    }

    // Feeds the decoder of `which` its next packet (or the end). False when none is there.
    bool Feed(int which, AVCodecContext* ctx, std::int64_t now, Fetch* stop) {
        auto& q = queue_[which];
        if (!q.empty()) {
            AVPacket* p = q.front();
            q.pop_front();
            queued_bytes_ -= p->size + static_cast<std::int64_t>(sizeof(AVPacket));
            // A damaged packet is skipped as players do; the decoder carries on.
            avcodec_send_packet(ctx, p);
            av_packet_free(&p);
            return true;
        }
        if (eof_) {
            if (flushed_[which]) {
                *stop = Fetch::kEnd;
                return false;
            }
            avcodec_send_packet(ctx, nullptr);
            flushed_[which] = true;
            return true;
        }
        if (Starved(which, now)) {
            *stop = Fetch::kNotYet;
            return false;
        }
        Demux();
        return true;
    }

    // Decodes until `which`'s decoder gives a frame into decoded_ (kPicture), or says why not.
    Fetch Decode(int which, AVCodecContext* ctx, std::int64_t now) {
        for (;;) {
            const int rc = avcodec_receive_frame(ctx, decoded_);
            if (rc == 0) return Fetch::kPicture;
            if (rc == AVERROR_EOF) return Fetch::kEnd;
            Fetch stop = Fetch::kEnd;
            if (!Feed(which, ctx, now, &stop)) return stop;
        }
    }

    Fetch DecodePicture(std::int64_t now, TimedImage* out, std::string* error) {
        if (const Fetch got = Decode(kVideo, vdec_, now); got != Fetch::kPicture) return got;
        const AVStream* st = fmt_->streams[vidx_];
        const std::int64_t stamp = decoded_->best_effort_timestamp;
        std::int64_t duration = decoded_->pkt_duration > 0
                                    ? Ticks(decoded_->pkt_duration, st->time_base)
                                    : PeriodStart(1, video.rate_num, video.rate_den);
        const std::int64_t start =
            stamp != AV_NOPTS_VALUE ? Ticks(stamp, st->time_base) - start_ : next_picture_;
        next_picture_ = start + duration;
        if (end_[kVideo] != kNoTime && start >= end_[kVideo]) {
            av_frame_unref(decoded_);
            return Fetch::kEnd;
        }
        auto image = std::make_shared<Image>();
        std::string why;
        const bool ok = PictureFromFrame(decoded_, rotation_, image.get(), &why);
        av_frame_unref(decoded_);
        if (!ok) {
            *error = "'" + path_ + "': " + why;
            return Fetch::kError;
        }
        out->image = std::move(image);
        out->start = start;
        out->duration = duration;
        out->number = pictures_++;
        return Fetch::kPicture;
    }

    // Decodes the next block of sound into pending_ (kPicture: there is one).
    Fetch DecodeSound(std::int64_t now, std::string* error) {
        if (const Fetch got = Decode(kAudio, adec_, now); got != Fetch::kPicture) return got;
        const int n = decoded_->nb_samples;
        if (decoded_->ch_layout.nb_channels != adec_->ch_layout.nb_channels ||
            decoded_->sample_rate != audio.rate) {
            av_frame_unref(decoded_);
            *error = "'" + path_ + "': the audio changes its channels or rate mid-stream";
            return Fetch::kError;
        }
        const std::size_t in_channels = static_cast<std::size_t>(adec_->ch_layout.nb_channels);
        planes_.resize(in_channels * static_cast<std::size_t>(n));
        std::vector<std::uint8_t*> outs(in_channels);
        for (std::size_t c = 0; c < in_channels; ++c)
            outs[c] = reinterpret_cast<std::uint8_t*>(planes_.data() + c * n);
        const int got = swr_convert(swr_, outs.data(), n,
                                    const_cast<const std::uint8_t**>(decoded_->extended_data), n);
        const std::int64_t stamp = decoded_->best_effort_timestamp;
        const AVRational base = fmt_->streams[aidx_]->time_base;
        av_frame_unref(decoded_);
        if (got < 0) {
            *error = "'" + path_ + "': the audio does not convert";
            return Fetch::kError;
        }
        // Where the block belongs: by its time stamp, unless that is within 20 ms of where
        // the previous block ended (stamps jitter; the sound must not).
        std::int64_t at = expected_;
        if (stamp != AV_NOPTS_VALUE) {
            const std::int64_t stamped =
                (Ticks(stamp, base) - start_) * audio.rate / kTicksPerSecond;
            if (expected_ == kNoTime || std::llabs(stamped - expected_) > audio.rate / 50)
                at = stamped;
        }
        if (at == kNoTime) at = 0;
        int got_kept = got;
        if (end_[kAudio] != kNoTime) {
            const std::int64_t last = end_[kAudio] * audio.rate / kTicksPerSecond;
            if (at >= last) return Fetch::kEnd;
            got_kept = static_cast<int>(std::min<std::int64_t>(got, last - at));
        }
        const std::size_t out_channels = map_.size();
        pending_.resize(static_cast<std::size_t>(got_kept) * out_channels);
        for (int i = 0; i < got_kept; ++i)
            for (std::size_t c = 0; c < out_channels; ++c)
                pending_[static_cast<std::size_t>(i) * out_channels + c] =
                    planes_[static_cast<std::size_t>(map_[c]) * n + i];
        pending_at_ = at;
        expected_ = at + got;
        return Fetch::kPicture;
    }

    void Close() {
        for (auto& q : queue_) {
            for (AVPacket* p : q) av_packet_free(&p);
            q.clear();
        }
        swr_free(&swr_);
        avcodec_free_context(&vdec_);
        avcodec_free_context(&adec_);
        avformat_close_input(&fmt_);
        av_packet_free(&packet_);
        av_frame_free(&decoded_);
        queued_bytes_ = 0;
        read_to_[0] = read_to_[1] = kNoTime;
        flushed_[0] = flushed_[1] = false;
        eof_ = audio_ended_ = false;
        pending_.clear();
        position_ = 0;
        expected_ = kNoTime;
        next_picture_ = 0;
        pictures_ = 0;
        first_ = {};
    }

    std::string path_;
    AVFormatContext* fmt_ = nullptr;
    AVCodecContext* vdec_ = nullptr;
    AVCodecContext* adec_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* decoded_ = nullptr;
    int vidx_ = -1, aidx_ = -1;
    int rotation_ = 0;
    std::int64_t start_ = 0;
    std::int64_t end_[2] = {kNoTime, kNoTime};  // where each stream ends, when known

    std::deque<AVPacket*> queue_[2];
    std::int64_t queued_bytes_ = 0, peak_bytes_ = 0;
    std::int64_t read_to_[2] = {kNoTime, kNoTime};  // latest time read, per stream
    bool flushed_[2] = {false, false};
    bool eof_ = false;

    TimedImage first_;
    std::int64_t next_picture_ = 0;
    std::int64_t pictures_ = 0;

    std::vector<int> map_;
    std::vector<std::int32_t> planes_;   // one block, planar, as the file has it
    std::vector<std::int32_t> pending_;  // decoded sound not yet handed out, interleaved
    std::int64_t pending_at_ = 0;        // its first sample's position
    std::int64_t position_ = 0;          // the next sample handed out
    std::int64_t expected_ = kNoTime;    // where the next block joins on
    bool audio_ended_ = false;
};

}  // namespace

std::unique_ptr<Source> OpenMedia(const std::string& path, std::string* error) {
    // The reasons reach the user as oxplay's own one-line messages.
    av_log_set_level(AV_LOG_QUIET);
    auto s = std::make_unique<MediaSource>();
    if (!s->Open(path, error)) return nullptr;
    return s;
}

}  // namespace oxplay
