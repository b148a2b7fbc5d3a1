// Frames through ReceiverFramePut and the active frame queue to an empty handler.
//   BM_Direct:      capacity 0, the handler runs on the caller's thread (the baseline)
//   BM_Throughput:  frames per second through a queue of the given capacity
//   BM_HandOff:     from the call of ReceiverFramePut to the handler's entry on the worker,
//                   one frame at a time (the worker idle in between): median and 99th
//                   percentile in microseconds; with argument 1 the handler raises its thread
//                   to time-critical priority on its first frame, as the DeckLink one does
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "com/object.h"
#include "com/ptr.h"
#include "orvex/ids.h"
#include "pipeline/receiver_impl.h"
#include "platform/thread.h"
#include "props/props_impl.h"

namespace {

using Clock = std::chrono::steady_clock;

// A renderer with the property store the backends use, so that the queue reads its settings
// as it does in them.
class BenchRenderer : public CComObjectRootEx<CComMultiThreadModel>,
                      public IMPropsImpl<BenchRenderer>,
                      public orvex::pipeline::IOXReceiverImpl<BenchRenderer> {
public:
    BEGIN_COM_MAP(BenchRenderer)
    COM_INTERFACE_ENTRY(IOXProps)
    COM_INTERFACE_ENTRY(IOXReceiver)
    END_COM_MAP()

    void FinalRelease() { StopQueue(); }

    HRESULT ProcessFrame(IMFrame_I*) {
        if (raisePriority && !raised) {
            orvex::platform::Thread::SetCurrentPriority(
                orvex::platform::ThreadPriority::kTimeCritical);
            raised = true;
        }
        entered.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
        handled.fetch_add(1, std::memory_order_acq_rel);
        return S_OK;
    }

    bool raisePriority = false;
    bool raised = false;  // worker thread only
    std::atomic<long long> handled{0};
    std::atomic<Clock::rep> entered{0};
};

struct Setup {
    explicit Setup(int buffers) {
        CComObject<BenchRenderer>* p = nullptr;
        CComObject<BenchRenderer>::CreateInstance(&p);
        renderer = p;
        const std::string digits = std::to_string(buffers);
        const std::u16string text(digits.begin(), digits.end());
        renderer->PropsSet(CComBSTR(OLESTR("input.buffers")), CComBSTR(std::u16string_view(text)));
        CComPtr<IOXFactory> factory;
        CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                         reinterpret_cast<void**>(&factory));
        M_AV_PROPS props{};
        frames.resize(64);
        for (auto& f : frames) factory->OXFrameMake(&props, 0, &f);
    }
    CComPtr<BenchRenderer> renderer;
    std::vector<CComPtr<IOXFrame>> frames;
};

void BM_Direct(benchmark::State& state) {
    Setup s(0);
    std::size_t i = 0;
    for (auto _ : state) s.renderer->ReceiverFramePut(s.frames[i++ % s.frames.size()], 0, nullptr);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_Direct);

void BM_Throughput(benchmark::State& state) {
    Setup s(static_cast<int>(state.range(0)));
    std::size_t i = 0;
    long long refused = 0;
    for (auto _ : state) {
        if (s.renderer->ReceiverFramePut(s.frames[i++ % s.frames.size()], 0, nullptr) != S_OK)
            ++refused;
    }
    const long long accepted = static_cast<long long>(state.iterations()) - refused;
    while (s.renderer->handled.load(std::memory_order_acquire) < accepted) {
    }
    state.SetItemsProcessed(accepted);
    state.counters["refused"] = static_cast<double>(refused);
}
BENCHMARK(BM_Throughput)->Arg(2)->Arg(8)->Arg(64)->UseRealTime();

void BM_HandOff(benchmark::State& state) {
    Setup s(2);
    s.renderer->raisePriority = state.range(0) != 0;
    std::vector<double> micros;
    micros.reserve(1 << 20);
    std::size_t i = 0;
    for (auto _ : state) {
        const long long before = s.renderer->handled.load(std::memory_order_acquire);
        const auto start = Clock::now();
        s.renderer->ReceiverFramePut(s.frames[i++ % s.frames.size()], 0, nullptr);
        while (s.renderer->handled.load(std::memory_order_acquire) == before) {
        }
        const auto entered =
            Clock::time_point(Clock::duration(s.renderer->entered.load(std::memory_order_acquire)));
        micros.push_back(std::chrono::duration<double, std::micro>(entered - start).count());
    }
    std::sort(micros.begin(), micros.end());
    if (!micros.empty()) {
        state.counters["p50_us"] = micros[micros.size() / 2];
        state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    }
}
BENCHMARK(BM_HandOff)->Arg(0)->Arg(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
