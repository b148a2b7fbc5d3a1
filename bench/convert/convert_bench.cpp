// Times every conversion cell against memcpy of the destination's bytes and against peer
// libraries in the same run. ORVEX_CPU_LEVEL picks the instruction-set level under test;
// ratio_table.py turns the JSON output into the README's table.
#include <benchmark/benchmark.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "convert/convert.h"
#include "convert/planes.h"

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

void SetBytes(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// Args: source layout, destination layout, width, height, stripes (0: Convert decides),
// RGB row order (0 top-down, 1 bottom-up).
void BM_Cell(benchmark::State& state) {
    const eMFCC from = kLayouts[state.range(0)], to = kLayouts[state.range(1)];
    const int w = int(state.range(2)), h = int(state.range(3)), stripes = int(state.range(4));
    const bool bottom_up = state.range(5) != 0;
    const M_VID_PROPS sp = Props(from, w, h, bottom_up), dp = Props(to, w, h, bottom_up);
    const Bytes src = Source(from, w, h);
    Bytes dst(std::size_t(dp.nRowBytes) * h, 1);
    if (src.empty()) {
        state.SkipWithError("the source picture could not be made");
        return;
    }
    for (auto _ : state) {
        const ConvertStatus status = stripes == 0
                                         ? Convert(src.data(), dst.data(), sp, dp)
                                         : ConvertStripes(src.data(), dst.data(), sp, dp, stripes);
        if (status != ConvertStatus::kDone) {
            state.SkipWithError("the conversion was refused");
            break;
        }
        benchmark::ClobberMemory();
    }
    SetBytes(state, dst.size());
}

// Every cell at 1080 and 2160 lines, one stripe and Convert's own choice; every RGB cell
// also bottom-up.
void CellArgs(benchmark::internal::Benchmark* b) {
    for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
        for (int s = 0; s < 6; ++s) {
            for (int d = 0; d < 6; ++d) {
                if (d == 5 && s < 2) continue;  // not supported
                for (int order = 0; order <= (s < 2 || d < 2 ? 1 : 0); ++order) {
                    b->Args({s, d, w, h, 1, order})->Args({s, d, w, h, 0, order});
                }
            }
        }
    }
}
BENCHMARK(BM_Cell)->Apply(CellArgs)->UseRealTime()->Unit(benchmark::kMicrosecond);

// One primitive at one instruction-set level, 1920 x 1080. Args: row, level.
void BM_Row(benchmark::State& state) {
    const Row row = static_cast<Row>(state.range(0));
    const int level = int(state.range(1));
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
        for (int level : {kLevelPortable, kLevelSsse3, kLevelAvx2, kLevelAvx512}) {
            b->Args({r, level});
        }
    }
}
BENCHMARK(BM_Row)->Apply(RowArgs)->Unit(benchmark::kMicrosecond);

// Args: destination bytes.
void BM_Memcpy(benchmark::State& state) {
    const std::size_t n = std::size_t(state.range(0));
    const Bytes src = Random(n, 2);
    Bytes dst(n, 1);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), n);
        benchmark::ClobberMemory();
    }
    SetBytes(state, n);
}
BENCHMARK(BM_Memcpy)
    ->Arg(1920 * 1080 * 4)
    ->Arg(1920 * 1080 * 3)
    ->Arg(1920 * 1080 * 2)
    ->Arg(5120 * 1080)
    ->Arg(3840 * 2160 * 4)
    ->Arg(3840 * 2160 * 3)
    ->Arg(3840 * 2160 * 2)
    ->Arg(10240 * 2160)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

#if ORVEX_BENCH_LIBYUV
template <int kSrcBpp, int kDstBpp, class Fn>
void RunLibyuv(benchmark::State& state, Fn fn) {
    const int w = 1920, h = 1080;
    const Bytes src = Random(std::size_t(w) * kSrcBpp * h, 3);
    Bytes dst(std::size_t(w) * kDstBpp * h, 1);
    for (auto _ : state) {
        fn(src.data(), w * kSrcBpp, dst.data(), w * kDstBpp, w, h);
        benchmark::ClobberMemory();
    }
    SetBytes(state, dst.size());
}

void BM_Libyuv_ARGBToUYVY(benchmark::State& s) {
    RunLibyuv<4, 2>(s, libyuv::ARGBToUYVY);
}
void BM_Libyuv_ARGBToYUY2(benchmark::State& s) {
    RunLibyuv<4, 2>(s, libyuv::ARGBToYUY2);
}
void BM_Libyuv_UYVYToARGB(benchmark::State& s) {
    RunLibyuv<2, 4>(s, libyuv::UYVYToARGB);
}
void BM_Libyuv_YUY2ToARGB(benchmark::State& s) {
    RunLibyuv<2, 4>(s, libyuv::YUY2ToARGB);
}
void BM_Libyuv_RGB24ToARGB(benchmark::State& s) {
    RunLibyuv<3, 4>(s, libyuv::RGB24ToARGB);
}
void BM_Libyuv_ARGBToRGB24(benchmark::State& s) {
    RunLibyuv<4, 3>(s, libyuv::ARGBToRGB24);
}
// The 4:2:2 reorder as a four-byte shuffle over half as many "pixels".
void BM_Libyuv_ARGBShuffle(benchmark::State& s) {
    static const std::uint8_t kSwap[16] = {1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14};
    RunLibyuv<2, 2>(s,
                    [](const std::uint8_t* src, int ss, std::uint8_t* dst, int ds, int w, int h) {
                        return libyuv::ARGBShuffle(src, ss, dst, ds, kSwap, w / 2, h);
                    });
}
#define ORVEX_LIBYUV(name) BENCHMARK(name)->UseRealTime()->Unit(benchmark::kMicrosecond)
ORVEX_LIBYUV(BM_Libyuv_ARGBToUYVY);
ORVEX_LIBYUV(BM_Libyuv_ARGBToYUY2);
ORVEX_LIBYUV(BM_Libyuv_UYVYToARGB);
ORVEX_LIBYUV(BM_Libyuv_YUY2ToARGB);
ORVEX_LIBYUV(BM_Libyuv_RGB24ToARGB);
ORVEX_LIBYUV(BM_Libyuv_ARGBToRGB24);
ORVEX_LIBYUV(BM_Libyuv_ARGBShuffle);
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

// Args: width, height. 8-bit 4:2:2 planes to v210.
void BM_FFmpeg_V210Encode(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_V210);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    EncodeTarget target;
    ctx->width = w;
    ctx->height = h;
    ctx->pix_fmt = AV_PIX_FMT_YUV422P;
    ctx->time_base = {1, 25};
    ctx->thread_count = 1;
    ctx->opaque = &target;
    ctx->get_encode_buffer = GetEncodeBuffer;
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        state.SkipWithError("v210 encoder unavailable");
        return;
    }
    AVFrame* frame = av_frame_alloc();
    frame->width = w;
    frame->height = h;
    frame->format = AV_PIX_FMT_YUV422P;
    av_frame_get_buffer(frame, 64);
    for (int p = 0; p < 3; ++p) {
        std::memset(frame->data[p], 0x70 + p, std::size_t(frame->linesize[p]) * h);
    }
    AVPacket* pkt = av_packet_alloc();
    // One frame before timing, so that the output buffer's first-touch faults stay out.
    avcodec_send_frame(ctx, frame);
    avcodec_receive_packet(ctx, pkt);
    av_packet_unref(pkt);
    for (auto _ : state) {
        avcodec_send_frame(ctx, frame);
        avcodec_receive_packet(ctx, pkt);
        av_packet_unref(pkt);
    }
    SetBytes(state, std::size_t(RowBytes(eMFCC_v210, w)) * h);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
}

// Args: width, height. v210 to 10-bit 4:2:2 planes.
void BM_FFmpeg_V210Decode(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_V210);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = w;
    ctx->height = h;
    ctx->thread_count = 1;
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        state.SkipWithError("v210 decoder unavailable");
        return;
    }
    Bytes data = V210Picture(w, h);
    data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    AVPacket* pkt = av_packet_alloc();
    pkt->buf = av_buffer_create(
        data.data(), int(data.size()), [](void*, std::uint8_t*) {}, nullptr, 0);
    pkt->data = data.data();
    pkt->size = int(data.size() - AV_INPUT_BUFFER_PADDING_SIZE);
    pkt->flags = AV_PKT_FLAG_KEY;
    AVFrame* frame = av_frame_alloc();
    avcodec_send_packet(ctx, pkt);  // warms the decoder's frame pool
    avcodec_receive_frame(ctx, frame);
    av_frame_unref(frame);
    for (auto _ : state) {
        avcodec_send_packet(ctx, pkt);
        avcodec_receive_frame(ctx, frame);
        av_frame_unref(frame);
    }
    SetBytes(state, std::size_t(w) * 2 * h);
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
}
BENCHMARK(BM_FFmpeg_V210Encode)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FFmpeg_V210Decode)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
#endif

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
    constexpr const char* kLevelNames[kLevelCount] = {"c",     "sse2", "ssse3",
                                                      "sse41", "avx2", "avx512"};
    benchmark::AddCustomContext("orvex_cpu_level", kLevelNames[ProcessorLevelInit()]);
    benchmark::AddCustomContext("orvex_cpu_model", ProcessorModel());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
