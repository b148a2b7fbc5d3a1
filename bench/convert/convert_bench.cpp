// Times every conversion cell against memcpy of the destination's bytes and against peer
// libraries, each in the same iterations as the cell. ORVEX_CPU_LEVEL picks the instruction-set
// level under test; ratio_table.py turns the JSON output into the README's table.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <time.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "convert/convert.h"
#include "convert/planes.h"
#include "convert/row_choice.h"
#include "convert/stripe_pool.h"

#if ORVEX_BENCH_LIBYUV
#include <libyuv.h>
#endif
#if ORVEX_BENCH_FFMPEG
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}
#endif

namespace {

using namespace orvex::convert;

constexpr eMFCC kLayouts[] = {eMFCC_RGB32, eMFCC_RGB24, eMFCC_UYVY,
                              eMFCC_HDYC,  eMFCC_YUY2,  eMFCC_v210};

int RowBytes(eMFCC fcc, int width) {
    switch (fcc) {
        case eMFCC_v210:
            return (width + 47) / 48 * 128;
        case eMFCC_RGB24:
            return (width * 3 + 3) & ~3;
        case eMFCC_RGB32:
            return width * 4;
        default:
            return width * 2;
    }
}

// RGB buffers are top-down (negative height) unless `bottom_up`; the other layouts have
// one row order only.
M_VID_PROPS Props(eMFCC fcc, int w, int h, bool bottom_up = false) {
    M_VID_PROPS p{};
    p.fccType = fcc;
    p.nWidth = w;
    p.nHeight = (fcc == eMFCC_RGB32 || fcc == eMFCC_RGB24) && !bottom_up ? -h : h;
    p.nRowBytes = RowBytes(fcc, w);
    p.eInterlace = eMI_Progressive;
    return p;
}

// The benchmark's pictures: 2 MB aligned and backed by huge pages where the system grants
// them. On 4 KB pages the 2160-line cells' 50 MB of source and destination overflow the
// TLB, and their times swung by up to 37% from one run to the next with where the pages
// happened to lie; every buffer here (peers' and memcpy's included) is placed alike.
template <class T>
struct PictureAllocator {
    using value_type = T;
    static constexpr std::size_t kHuge = std::size_t{2} << 20;
    PictureAllocator() = default;
    template <class U>
    PictureAllocator(const PictureAllocator<U>&) {}
    T* allocate(std::size_t n) {
        const std::size_t bytes = (n * sizeof(T) + kHuge - 1) / kHuge * kHuge;
        void* p = std::aligned_alloc(kHuge, bytes);
        if (p == nullptr) throw std::bad_alloc();
        madvise(p, bytes, MADV_HUGEPAGE);  // a hint: 4 KB pages if refused
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) { std::free(p); }
    template <class U>
    bool operator==(const PictureAllocator<U>&) const {
        return true;
    }
};
using Bytes = std::vector<std::uint8_t, PictureAllocator<std::uint8_t>>;

// Buffers are written once before timing so that page faults stay out of the loop.
Bytes Random(std::size_t n, unsigned seed) {
    Bytes v(n);
    std::mt19937 gen(seed);
    for (auto& b : v) b = static_cast<std::uint8_t>(gen());
    return v;
}

// A valid v210 picture (10-bit samples, top bits clear).
Bytes V210Picture(int w, int h) {
    Bytes uyvy = Random(std::size_t(w) * 2 * h, 5);
    Bytes v210(std::size_t(RowBytes(eMFCC_v210, w)) * h);
    if (ConvertStripes(uyvy.data(), v210.data(), Props(eMFCC_UYVY, w, h), Props(eMFCC_v210, w, h),
                       1) != ConvertStatus::kDone) {
        v210.clear();  // the benchmark reports the refusal
    }
    return v210;
}

Bytes Source(eMFCC fcc, int w, int h) {
    if (fcc == eMFCC_v210) return V210Picture(w, h);
    return Random(std::size_t(RowBytes(fcc, w)) * h, 1);
}

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SetBytes(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// An operation timed within a cell: ours, memcpy's or a peer's, on buffers of its own.
using Op = std::function<bool()>;

// A copy of `bytes` bytes: the floor that every cell is measured against.
Op MemcpyOp(std::size_t bytes) {
    auto src = std::make_shared<Bytes>(Random(bytes, 2));
    auto dst = std::make_shared<Bytes>(bytes, 1);
    return [src, dst] {
        std::memcpy(dst->data(), src->data(), src->size());
        return true;
    };
}

// The same copy in equal parts on Convert's stripe workers, with the same wake and join as a
// striped conversion: what the processors gain together on a pass over these bytes on this
// machine. A conversion that runs close to memory speed cannot gain more from its stripes.
Op StripedMemcpyOp(std::size_t bytes) {
    auto src = std::make_shared<Bytes>(Random(bytes, 2));
    auto dst = std::make_shared<Bytes>(bytes, 1);
    return [src, dst] {
        constexpr int kParts = 16;
        const std::size_t n = src->size(), part = (n + kParts - 1) / kParts;
        RunStripes(kParts, [&](int i) {
            const std::size_t begin = std::size_t(i) * part;
            if (begin < n)
                std::memcpy(dst->data() + begin, src->data() + begin, std::min(part, n - begin));
        });
        return true;
    };
}

// The memory traffic of a conversion without its arithmetic: the source's bytes read and
// the destination's written with the stores Convert uses for them (`streamed`: non-temporal,
// in 16-byte pieces and fenced at the end of each part, as for a picture of kStreamBytes and
// more; else cached), in equal parts on the caller alone or, `striped`, on the stripe
// workers. Its speed-up is what the memory gives two processors on these bytes moved this
// way. Null where the machine has no such stores.
Op TrafficOp(std::size_t src_bytes, std::size_t dst_bytes, bool striped, bool streamed) {
#if defined(__x86_64__)
    auto src = std::make_shared<Bytes>(Random(src_bytes, 2));
    auto dst = std::make_shared<Bytes>(dst_bytes, 1);
    return [src, dst, striped, streamed] {
        constexpr int kParts = 16;
        constexpr std::size_t kPiece = sizeof(__m128i);
        const auto part_of = [](std::size_t n, int i, std::size_t* end) {
            const std::size_t pieces = n / kPiece, each = (pieces + kParts - 1) / kParts;
            *end = std::min((std::size_t(i) + 1) * each, pieces) * kPiece;
            return std::min(std::size_t(i) * each, pieces) * kPiece;
        };
        const auto part = [&](int i) {
            std::size_t end = 0;
            __m128i sum = _mm_setzero_si128();
            for (std::size_t at = part_of(src->size(), i, &end); at < end; at += kPiece)
                sum = _mm_or_si128(
                    sum, _mm_load_si128(reinterpret_cast<const __m128i*>(src->data() + at)));
            auto* out = reinterpret_cast<__m128i*>(dst->data());
            const std::size_t first = part_of(dst->size(), i, &end) / kPiece, last = end / kPiece;
            if (streamed) {
                for (std::size_t at = first; at < last; ++at) _mm_stream_si128(out + at, sum);
                _mm_sfence();
            } else {
                for (std::size_t at = first; at < last; ++at) _mm_store_si128(out + at, sum);
            }
        };
        if (striped) {
            RunStripes(kParts, part);
        } else {
            for (int i = 0; i < kParts; ++i) part(i);
        }
        return true;
    };
#else
    (void)src_bytes, (void)dst_bytes, (void)striped, (void)streamed;
    return nullptr;
#endif
}

#if ORVEX_BENCH_LIBYUV
// `flip`: the library's own way to a destination whose rows lie the other way from the
// source's (a negative height), for the cells where one side is a bottom-up buffer.
template <class Fn>
Op LibyuvOp(int src_bpp, int dst_bpp, int w, int h, bool flip, Fn fn) {
    auto src = std::make_shared<Bytes>(Random(std::size_t(w) * src_bpp * h, 3));
    auto dst = std::make_shared<Bytes>(std::size_t(w) * dst_bpp * h, 1);
    const int rows = flip ? -h : h;
    return [=] { return fn(src->data(), w * src_bpp, dst->data(), w * dst_bpp, w, rows) == 0; };
}

// The 4:2:2 reorder as a four-byte shuffle over half as many "pixels".
int LibyuvSwap422(const std::uint8_t* src, int ss, std::uint8_t* dst, int ds, int w, int h) {
    static const std::uint8_t kSwap[16] = {1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14};
    return libyuv::ARGBShuffle(src, ss, dst, ds, kSwap, w / 2, h);
}
#endif

#if ORVEX_BENCH_FFMPEG
// The encoder writes into one buffer of ours, so that the timing holds no allocation.
struct EncodeTarget {
    std::vector<std::uint8_t> bytes;
};

int GetEncodeBuffer(AVCodecContext* ctx, AVPacket* pkt, int) {
    auto* target = static_cast<EncodeTarget*>(ctx->opaque);
    if (target->bytes.size() < std::size_t(pkt->size) + AV_INPUT_BUFFER_PADDING_SIZE) {
        target->bytes.resize(std::size_t(pkt->size) + AV_INPUT_BUFFER_PADDING_SIZE);
    }
    pkt->buf = av_buffer_create(
        target->bytes.data(), int(target->bytes.size()), [](void*, std::uint8_t*) {}, nullptr, 0);
    if (pkt->buf == nullptr) return AVERROR(ENOMEM);
    pkt->data = pkt->buf->data;
    return 0;
}

// FFmpeg's v210 encoder (8-bit 4:2:2 planes in) or decoder (10-bit 4:2:2 planes out), one
// thread, its buffers made before timing.
struct V210Codec {
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* pkt = nullptr;
    EncodeTarget target;
    Bytes data;  // the decoder's input
    bool encode = false;

    V210Codec(bool enc, int w, int h) : encode(enc) {
        const AVCodec* codec =
            enc ? avcodec_find_encoder(AV_CODEC_ID_V210) : avcodec_find_decoder(AV_CODEC_ID_V210);
        if (codec == nullptr || (ctx = avcodec_alloc_context3(codec)) == nullptr) return;
        ctx->width = w;
        ctx->height = h;
        ctx->thread_count = 1;
        frame = av_frame_alloc();
        pkt = av_packet_alloc();
        if (enc) {
            ctx->pix_fmt = AV_PIX_FMT_YUV422P;
            ctx->time_base = {1, 25};
            ctx->opaque = &target;
            ctx->get_encode_buffer = GetEncodeBuffer;
            frame->width = w;
            frame->height = h;
            frame->format = AV_PIX_FMT_YUV422P;
            if (av_frame_get_buffer(frame, 64) < 0) {
                Fail();
                return;
            }
            for (int p = 0; p < 3; ++p) {
                std::memset(frame->data[p], 0x70 + p, std::size_t(frame->linesize[p]) * h);
            }
        } else {
            data = V210Picture(w, h);
            data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE);
            pkt->buf = av_buffer_create(
                data.data(), int(data.size()), [](void*, std::uint8_t*) {}, nullptr, 0);
            pkt->data = data.data();
            pkt->size = int(data.size() - AV_INPUT_BUFFER_PADDING_SIZE);
            pkt->flags = AV_PKT_FLAG_KEY;
        }
        if (avcodec_open2(ctx, codec, nullptr) < 0) {
            Fail();
            return;
        }
        if (!Run()) Fail();  // first-touch faults and the frame pool stay out of the timing
    }
    ~V210Codec() {
        av_frame_free(&frame);
        av_packet_free(&pkt);
        avcodec_free_context(&ctx);
    }
    void Fail() { avcodec_free_context(&ctx); }
    bool Ready() const { return ctx != nullptr; }
    bool Run() {
        if (encode) {
            if (avcodec_send_frame(ctx, frame) < 0 || avcodec_receive_packet(ctx, pkt) < 0)
                return false;
            av_packet_unref(pkt);
        } else {
            if (avcodec_send_packet(ctx, pkt) < 0 || avcodec_receive_frame(ctx, frame) < 0)
                return false;
            av_frame_unref(frame);
        }
        return true;
    }
};

Op V210Op(bool encode, int w, int h) {
    auto codec = std::make_shared<V210Codec>(encode, w, h);
    if (!codec->Ready()) return nullptr;
    return [codec] { return codec->Run(); };
}
#endif

// The peer library's operation for a cell, with its name; none where no peer does the same
// work (libyuv is compared at 1920 x 1080 only). A bottom-up cell between RGB and 4:2:2 has
// its rows the other way on one side, and so does the peer's operation.
Op PeerOf(int s, int d, int w, int h, bool bottom_up, std::string* name) {
    [[maybe_unused]] const bool hd = w == 1920 && h == 1080;
    [[maybe_unused]] const auto peer = [name](const char* n, Op op) {
        if (op) *name = n;
        return op;
    };
#if ORVEX_BENCH_LIBYUV
    const bool flip = bottom_up && (s < 2) != (d < 2);
    const auto yuv = [&](const char* n, int sb, int db, auto fn) {
        return peer(n, LibyuvOp(sb, db, w, h, flip, fn));
    };
    if (hd && s == 0 && d == 1) return yuv("Libyuv_ARGBToRGB24", 4, 3, libyuv::ARGBToRGB24);
    if (hd && s == 0 && (d == 2 || d == 3))
        return yuv("Libyuv_ARGBToUYVY", 4, 2, libyuv::ARGBToUYVY);
    if (hd && s == 0 && d == 4) return yuv("Libyuv_ARGBToYUY2", 4, 2, libyuv::ARGBToYUY2);
    if (hd && s == 1 && d == 0) return yuv("Libyuv_RGB24ToARGB", 3, 4, libyuv::RGB24ToARGB);
    if (hd && (s == 2 || s == 3) && d == 0)
        return yuv("Libyuv_UYVYToARGB", 2, 4, libyuv::UYVYToARGB);
    if (hd && s == 4 && d == 0) return yuv("Libyuv_YUY2ToARGB", 2, 4, libyuv::YUY2ToARGB);
    if (hd && ((s == 4 && (d == 2 || d == 3)) || ((s == 2 || s == 3) && d == 4)))
        return yuv("Libyuv_ARGBShuffle", 2, 2, LibyuvSwap422);
#endif
#if ORVEX_BENCH_FFMPEG
    if (s >= 2 && s <= 4 && d == 5) return peer("FFmpeg_V210Encode", V210Op(true, w, h));
    if (s == 5 && (d == 2 || d == 3)) return peer("FFmpeg_V210Decode", V210Op(false, w, h));
#endif
    return nullptr;
}

// Args: source layout, destination layout, width, height, RGB row order (0 top-down, 1
// bottom-up).
//
// Each iteration runs, each timed on its own and in an order shuffled anew: the conversion in
// one stripe, the conversion in Convert's own stripes, a memcpy of the destination's bytes
// (for a converting cell also the same memcpy on the stripe workers, and the conversion's
// memory traffic alone, on the caller and on the stripe workers), and the peer's operation where
// there is one. The ratios are taken between figures of the same moments: on a shared machine the
// memory bandwidth drifts (a 2160-line cell moved between 2.1 and 3.8 ms from one run to the next),
// and benchmarks run one after another each caught it at another level. Counters (µs per
// iteration): one_cpu, one_wall (one stripe), striped_wall, memcpy_cpu, memcpy_wall,
// memcpy_striped_wall, traffic_wall, traffic_striped_wall, peer_cpu, and for a bottom-up cell
// bottom_cpu and top_cpu, the conversion in one stripe and the same conversion top-down on one pair
// of buffers; the iteration time is one_wall. The label names the peer.
void BM_Cell(benchmark::State& state) {
    const int si = int(state.range(0)), di = int(state.range(1));
    const eMFCC from = kLayouts[si], to = kLayouts[di];
    const int w = int(state.range(2)), h = int(state.range(3));
    const bool bottom_up = state.range(4) != 0;
    const M_VID_PROPS sp = Props(from, w, h, bottom_up), dp = Props(to, w, h, bottom_up);
    const bool copy_like = si == di || (si >= 2 && si <= 3 && di >= 2 && di <= 3);
    std::string peer_name;
    struct Timed {
        Op op;
        double* cpu;
        double* wall;
    };
    double one_cpu = 0, one_wall = 0, striped_wall = 0, memcpy_cpu = 0, memcpy_wall = 0,
           memcpy_striped_wall = 0, traffic_wall = 0, traffic_striped_wall = 0, peer_cpu = 0,
           top_cpu = 0, bottom_cpu = 0, unused = 0;
    std::vector<Timed> ops;
    std::size_t dst_bytes = 0;
    // Every conversion has buffers of its own: lines that the stripe workers left modified
    // in the other core's cache, or that another operation left in this one's, would make
    // one operation pay for or profit from the one before it. Only the walk's own cost is
    // timed on one pair of buffers, a bottom-up cell's conversion and its top-down twin
    // beside the cell's own: buffers of their own measured their pages more than their walk
    // (3840 x 2160 RGB24 -> UYVY and 4:2:2 -> RGB32 bottom-up took 1.05-1.14x the top-down
    // time with buffers of their own, 0.95-1.07x on the same ones), and the shuffled order
    // has either follow the other as often.
    struct Buffers {
        std::shared_ptr<Bytes> src, dst;
    };
    const auto conversion = [&](const M_VID_PROPS& from_props, const M_VID_PROPS& to_props,
                                int stripes, Buffers* shared = nullptr) -> Op {
        Buffers own;
        Buffers& b = shared != nullptr ? *shared : own;
        if (!b.src) {
            b.src = std::make_shared<Bytes>(Source(from, w, h));
            b.dst = std::make_shared<Bytes>(std::size_t(to_props.nRowBytes) * h, 1);
        }
        dst_bytes = b.dst->size();
        if (b.src->empty()) return nullptr;
        return [=, src = b.src, dst = b.dst] {
            const ConvertStatus status =
                stripes == 0
                    ? Convert(src->data(), dst->data(), from_props, to_props)
                    : ConvertStripes(src->data(), dst->data(), from_props, to_props, stripes);
            return status == ConvertStatus::kDone;
        };
    };
    ops.push_back({conversion(sp, dp, 1), &one_cpu, &one_wall});
    if (!copy_like) {  // copies and swaps of one layout family run as one stripe anyway
        ops.push_back({conversion(sp, dp, 0), &unused, &striped_wall});
    }
    Buffers walk;
    if (bottom_up) {
        ops.push_back({conversion(sp, dp, 1, &walk), &bottom_cpu, &unused});
        ops.push_back(
            {conversion(Props(from, w, h), Props(to, w, h), 1, &walk), &top_cpu, &unused});
    }
    for (const Timed& t : ops) {
        if (!t.op) {
            state.SkipWithError("the source picture could not be made");
            return;
        }
    }
    ops.push_back({MemcpyOp(dst_bytes), &memcpy_cpu, &memcpy_wall});
    if (!copy_like) ops.push_back({StripedMemcpyOp(dst_bytes), &unused, &memcpy_striped_wall});
    // The RGB -> 4:2:2 rows keep cached stores at every size.
    const bool rgb_to_422 = si <= 1 && di >= 2 && di <= 4;
    const bool streamed = !rgb_to_422 && dst_bytes >= kStreamBytes;
    const std::size_t src_bytes = std::size_t(RowBytes(from, w)) * h;
    if (Op one = copy_like ? nullptr : TrafficOp(src_bytes, dst_bytes, false, streamed)) {
        ops.push_back({one, &unused, &traffic_wall});
        ops.push_back(
            {TrafficOp(src_bytes, dst_bytes, true, streamed), &unused, &traffic_striped_wall});
    }
    if (Op peer = PeerOf(si, di, w, h, bottom_up, &peer_name))
        ops.push_back({peer, &peer_cpu, &unused});

    // A new order every iteration, so that each operation follows each other one as often.
    std::vector<std::size_t> order(ops.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::mt19937 shuffle(7);
    for (auto _ : state) {
        std::shuffle(order.begin(), order.end(), shuffle);
        double wall_of_one = 0;
        for (const std::size_t k : order) {
            Timed& t = ops[k];
            const double c0 = ThreadSeconds(), w0 = WallSeconds();
            const bool ok = t.op();
            benchmark::ClobberMemory();
            const double w1 = WallSeconds(), c1 = ThreadSeconds();
            if (!ok) {
                state.SkipWithError("an operation was refused");
                return;
            }
            *t.cpu += c1 - c0;
            *t.wall += w1 - w0;
            if (t.wall == &one_wall) wall_of_one = w1 - w0;
        }
        state.SetIterationTime(wall_of_one);
    }
    const double n = static_cast<double>(state.iterations()) / 1e6;
    state.counters["one_cpu"] = one_cpu / n;
    state.counters["one_wall"] = one_wall / n;
    if (!copy_like) {
        state.counters["striped_wall"] = striped_wall / n;
        state.counters["memcpy_wall"] = memcpy_wall / n;
        state.counters["memcpy_striped_wall"] = memcpy_striped_wall / n;
        if (traffic_striped_wall > 0) {
            state.counters["traffic_wall"] = traffic_wall / n;
            state.counters["traffic_striped_wall"] = traffic_striped_wall / n;
        }
    }
    if (bottom_up) {
        state.counters["top_cpu"] = top_cpu / n;
        state.counters["bottom_cpu"] = bottom_cpu / n;
    }
    state.counters["memcpy_cpu"] = memcpy_cpu / n;
    if (!peer_name.empty()) {
        state.counters["peer_cpu"] = peer_cpu / n;
        state.SetLabel(peer_name);
    }
    SetBytes(state, dst_bytes);
}

// Every cell at 1080 and 2160 lines; every RGB cell also bottom-up.
void CellArgs(benchmark::internal::Benchmark* b) {
    for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
        for (int s = 0; s < 6; ++s) {
            for (int d = 0; d < 6; ++d) {
                if (d == 5 && s < 2) continue;  // not supported
                for (int order = 0; order <= (s < 2 || d < 2 ? 1 : 0); ++order) {
                    b->Args({s, d, w, h, order});
                }
            }
        }
    }
}
BENCHMARK(BM_Cell)->Apply(CellArgs)->UseManualTime()->Unit(benchmark::kMicrosecond);
// One primitive at one instruction-set level (-1: the process's choice), 1920 x 1080. Args:
// row, level.
void BM_Row(benchmark::State& state) {
    const Row row = static_cast<Row>(state.range(0));
    const int level = int(state.range(1));
    if (level == kLevelNone) state.SetLabel(ChosenRow(row).name);
    if (level > ProcessorLevelSupported()) {
        state.SkipWithError("level not supported here");
        return;
    }
    const int w = 1920, h = 1080;
    const std::size_t sb = RowSourceBytes(row, w), db = RowDestBytes(row, w);
    Bytes src = Random(sb * h, 4);
    if (row == Row::kV210ToUyvy) src = V210Picture(w, h);
    Bytes dst(db * h, 1);
    const RowParams params = MakeRowParams(YuvMatrix::kBt709);
    for (auto _ : state) {
        ConvertRows(row, src.data(), std::ptrdiff_t(sb), dst.data(), std::ptrdiff_t(db), w, h,
                    params, level);
        benchmark::ClobberMemory();
    }
    SetBytes(state, dst.size());
}
void RowArgs(benchmark::internal::Benchmark* b) {
    for (int r = 0; r < int(Row::kCount); ++r) {
        for (int level : {kLevelPortable, kLevelSsse3, kLevelAvx2, kLevelAvx512, kLevelNone}) {
            b->Args({r, level});
        }
    }
}
BENCHMARK(BM_Row)->Apply(RowArgs)->Unit(benchmark::kMicrosecond);

// What a row's first use costs on this machine: the timing of its candidates. Args: row.
void BM_Choice(benchmark::State& state) {
    const Row row = static_cast<Row>(state.range(0));
    const RowFeatures features = ProcessorRowFeatures(ProcessorLevelSupported());
    for (auto _ : state) {
        RowChooser chooser(features, MachineTrials());
        benchmark::DoNotOptimize(chooser.Get(row).cached);
    }
}
BENCHMARK(BM_Choice)->DenseRange(0, int(Row::kCount) - 1)->Unit(benchmark::kMicrosecond);

// The processor's model name, for the table's heading.
std::string ProcessorModel() {
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("model name", 0) == 0) {
            const auto colon = line.find(':');
            if (colon != std::string::npos)
                return line.substr(line.find_first_not_of(' ', colon + 1));
        }
    }
    return "unknown";
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::AddCustomContext("orvex_cpu_level", ProcessorLevelName(ProcessorLevelInit()));
    benchmark::AddCustomContext("orvex_cpu_level_widest",
                                ProcessorLevelName(ProcessorLevelSupported()));
    // Forced by ORVEX_CPU_LEVEL: that level's fixed rule; else each row's timed choice.
    benchmark::AddCustomContext("orvex_cpu_level_forced", ProcessorLevelForced() ? "yes" : "no");
    constexpr const char* kRowNames[] = {
        "Swap422",     "Rgb32ToRgb24", "Rgb24ToRgb32", "Rgb32ToUyvy", "Rgb32ToYuy2",
        "Rgb24ToUyvy", "Rgb24ToYuy2",  "UyvyToRgb32",  "Yuy2ToRgb32", "UyvyToRgb24",
        "Yuy2ToRgb24", "UyvyToV210",   "Yuy2ToV210",   "V210ToUyvy"};
    static_assert(std::size(kRowNames) == std::size_t(Row::kCount));
    std::string choice;
    for (int r = 0; r < int(Row::kCount); ++r) {
        if (r > 0) choice += ", ";
        choice += kRowNames[r];
        choice += ' ';
        choice += ChosenRow(static_cast<Row>(r)).name;
    }
    benchmark::AddCustomContext("orvex_row_choice", choice);
    benchmark::AddCustomContext("orvex_cpu_model", ProcessorModel());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
