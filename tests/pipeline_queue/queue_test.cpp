#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "aja/co_ox_renderer_aja.h"
#include "com/object.h"
#include "com/ptr.h"
#include "decklink/co_ox_renderer_bmd.h"
#include "orvex/ids.h"
#include "pipeline/receiver_impl.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "props/props_impl.h"

namespace {

using orvex::pipeline::IOXReceiverImpl;
using orvex::pipeline::kRetryFrame;
using orvex::platform::Ticks;
using orvex::platform::VirtualClock;

ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

template <class Pred>
bool WaitUntil(Pred pred, std::chrono::seconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

// Holds the frame handler until opened; counts the handlers that reached it.
struct Gate {
    void Pass() {
        ++entered;
        open.Wait();
    }
    bool WaitEntered(int n) {
        return WaitUntil([&] { return entered >= n; });
    }
    void Open() { open.Set(); }
    std::atomic<int> entered{0};
    orvex::platform::Event open{orvex::platform::Event::ResetMode::kManual};
};

// A renderer with the SDK's property store and a frame handler the test sets.
class TestRenderer : public CComObjectRootEx<CComMultiThreadModel>,
                     public IMPropsImpl<TestRenderer>,
                     public IOXReceiverImpl<TestRenderer> {
public:
    BEGIN_COM_MAP(TestRenderer)
    COM_INTERFACE_ENTRY(IOXProps)
    COM_INTERFACE_ENTRY(IOXReceiver)
    END_COM_MAP()

    void FinalRelease() { StopQueue(); }

    std::u16string Prop(const char16_t* name) {
        CComBSTR value;
        PropsGet(CComBSTR(name), &value);
        return std::u16string(orvex::com::View(value));
    }

    HRESULT ProcessFrame(IMFrame_I* frame) {
        {
            std::lock_guard lock(seenLock);
            seen.push_back(frame);
            threads.push_back(orvex::platform::Thread::CurrentId());
        }
        return handler ? handler(frame) : S_OK;
    }
    std::vector<IMFrame_I*> Seen() {
        std::lock_guard lock(seenLock);
        return seen;
    }

    std::function<HRESULT(IMFrame_I*)> handler;
    std::mutex seenLock;
    std::vector<IMFrame_I*> seen;
    std::vector<std::uint64_t> threads;
};

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        CComObject<TestRenderer>* p = nullptr;
        ASSERT_EQ(CComObject<TestRenderer>::CreateInstance(&p), S_OK);
        renderer = p;
        ASSERT_EQ(CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                                   reinterpret_cast<void**>(&factory)),
                  S_OK);
    }
    void SetBuffers(const char16_t* n) {
        renderer->PropsSet(CComBSTR(OLESTR("input.buffers")), CComBSTR(n));
    }
    CComPtr<IOXFrame> Frame(bool live = false) {
        M_AV_PROPS props{};
        CComPtr<IOXFrame> f;
        EXPECT_EQ(factory->OXFrameMake(&props, 0, &f), S_OK);
        if (live) f->OXFlagsSet(eMFF_Live);
        return f;
    }
    IMFrame_I* Internal(IOXFrame* f) {
        CComQIPtr<IMFrame_I> i(f);
        return i.p;  // the frame keeps it alive; for comparisons only
    }
    HRESULT Put(IOXFrame* f, LONGLONG maxWait = 0) {
        return renderer->ReceiverFramePut(f, maxWait, nullptr);
    }
    // Fills a queue of `capacity` behind a handler held at the gate: the first frame sits in
    // the handler, the next `capacity` - 1 in the queue (the handler's frame counts).
    std::vector<CComPtr<IOXFrame>> FillBehindGate(int capacity) {
        renderer->handler = [this](IMFrame_I*) {
            gate.Pass();
            return S_OK;
        };
        std::vector<CComPtr<IOXFrame>> frames;
        for (int i = 0; i < capacity; ++i) {
            frames.push_back(Frame());
            EXPECT_EQ(Put(frames.back()), S_OK);
            if (i == 0) {
                EXPECT_TRUE(gate.WaitEntered(1));
            }
        }
        EXPECT_EQ(renderer->QueuedCount(), capacity - 1);
        return frames;
    }

    Gate gate;  // outlives the renderer, whose worker may still be leaving it
    CComPtr<IOXFactory> factory;
    CComPtr<TestRenderer> renderer;
};

// The queue's ring against a deque, through growth while its items wrap around its end.
TEST(ItemRing, KeepsOrderThroughWrapAndGrowth) {
    orvex::pipeline::ItemRing<int> ring;
    std::deque<int> model;
    int next = 0;
    // Puts (+n), takes (-n) and puts back at the head (0).
    for (int step : {+3, -2, +3, -1, +6, 0, -4, +9, -7, 0, 0, -3, +2, -5}) {
        for (int i = 0; i < step; ++i) {
            ring.push_back(next);
            model.push_back(next++);
        }
        for (int i = 0; i < -step; ++i) {
            ASSERT_EQ(ring.pop_front(), model.front());
            model.pop_front();
        }
        if (step == 0) {
            ring.push_front(-next);
            model.push_front(-next);
        }
        ASSERT_EQ(ring.size(), model.size());
    }
    while (!model.empty()) {
        ASSERT_EQ(ring.pop_front(), model.front());
        model.pop_front();
    }
    EXPECT_TRUE(ring.empty());
}

TEST_F(QueueTest, WithoutCapacityTheHandlerRunsOnTheCallersThreadAndNoWorkerExists) {
    for (const char16_t* buffers : {static_cast<const char16_t*>(nullptr), u"0", u"-3"}) {
        if (buffers) SetBuffers(buffers);
        renderer->handler = [](IMFrame_I*) { return E_ACCESSDENIED; };
        CComPtr<IOXFrame> f = Frame();
        EXPECT_EQ(Put(f), E_ACCESSDENIED);  // the handler's own result
        EXPECT_EQ(renderer->threads.back(), orvex::platform::Thread::CurrentId());
        EXPECT_EQ(renderer->WorkerState(), 0);
        EXPECT_EQ(RefCount(f), 1u);
    }
    EXPECT_EQ(renderer->ReceiverFramePut(nullptr, 0, nullptr), E_POINTER);
}

TEST_F(QueueTest, FullQueueWaitsOneSecondForRoomOrRefusesLiveFramesAtOnce) {
    VirtualClock clock;
    SetBuffers(u"2");
    auto frames = FillBehindGate(2);
    // rtMaxWait is not looked at: 0 still waits the full second for a frame that is not live.
    CComPtr<IOXFrame> extra = Frame();
    const Ticks before = clock.Now();
    EXPECT_EQ(Put(extra, 0), E_OUTOFMEMORY);
    EXPECT_EQ(clock.Now() - before, 10'000'000);
    EXPECT_EQ(renderer->Prop(u"stat::buffer_overlow"), u"1");
    EXPECT_EQ(renderer->QueuedCount(), 1);
    EXPECT_EQ(Put(extra, 1), E_OUTOFMEMORY);
    EXPECT_EQ(RefCount(extra), 1u);
    // A live frame is refused at once, whatever it allows.
    CComPtr<IOXFrame> live = Frame(true);
    const Ticks live_at = clock.Now();
    EXPECT_EQ(Put(live, 50'000'000), E_OUTOFMEMORY);
    EXPECT_EQ(clock.Now(), live_at);
    EXPECT_EQ(renderer->Prop(u"stat::buffer_overlow"), u"3");

    gate.Open();
    ASSERT_TRUE(WaitUntil([&] { return renderer->Seen().size() == 2; }));
    ASSERT_TRUE(WaitUntil([&] { return RefCount(frames.back()) == 1; }));
    for (auto& f : frames) EXPECT_EQ(RefCount(f), 1u);
    const auto seen = renderer->Seen();
    for (int i = 0; i < 2; ++i) EXPECT_EQ(seen[i], Internal(frames[i]));
}

TEST_F(QueueTest, RetriedFrameStaysAtTheHeadAndIsOfferedAgainAtOnce) {
    SetBuffers(u"4");
    CComPtr<IOXFrame> a = Frame(), b = Frame();
    std::atomic<int> refusals{2};
    renderer->handler = [&](IMFrame_I* f) {
        if (f == Internal(a)) {
            gate.Pass();  // b is queued behind a while a is refused
            if (refusals-- > 0) return kRetryFrame;
        }
        return S_OK;
    };
    ASSERT_EQ(Put(a), S_OK);
    ASSERT_TRUE(gate.WaitEntered(1));
    ASSERT_EQ(Put(b), S_OK);
    gate.Open();
    ASSERT_TRUE(WaitUntil([&] { return renderer->Seen().size() == 4; }));
    const auto seen = renderer->Seen();
    EXPECT_EQ(seen, (std::vector<IMFrame_I*>{Internal(a), Internal(a), Internal(a), Internal(b)}));
    ASSERT_TRUE(WaitUntil([&] { return RefCount(b) == 1; }));
    EXPECT_EQ(RefCount(a), 1u);
}

TEST_F(QueueTest, PutsDuringAndAfterAStopAreRefusedUntilTheWorkerHasEnded) {
    SetBuffers(u"2");
    auto frames = FillBehindGate(2);
    // A producer waiting for room without limit is woken by the flush and refused.
    std::atomic<int> waitingResult{0};
    CComPtr<IOXFrame> waiting = Frame();
    CComQIPtr<IMFrame_I> waitingInternal(waiting);
    std::thread producer([&] { waitingResult = renderer->Put(waitingInternal, -1); });

    renderer->Flush(true, 0);  // asks the worker to stop, does not wait for it
    producer.join();
    EXPECT_EQ(waitingResult, -1);
    EXPECT_EQ(RefCount(frames[1]), 1u);  // the queued frame went with the flush
    EXPECT_EQ(renderer->WorkerState(), 2);

    CComPtr<IOXFrame> during = Frame();
    EXPECT_EQ(Put(during), E_OUTOFMEMORY);
    EXPECT_EQ(RefCount(during), 1u);

    gate.Open();
    ASSERT_TRUE(WaitUntil([&] { return renderer->WorkerState() == 0; }));
    CComPtr<IOXFrame> after = Frame();
    EXPECT_EQ(Put(after), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return renderer->Seen().size() == 2; }));
    EXPECT_EQ(renderer->Seen().back(), Internal(after));
    EXPECT_EQ(renderer->Prop(u"stat::buffer_overlow"), u"1");
    waitingInternal.Release();
    ASSERT_TRUE(WaitUntil([&] { return RefCount(after) == 1; }));
    EXPECT_EQ(RefCount(frames[0]), 1u);
    EXPECT_EQ(RefCount(waiting), 1u);
}

TEST_F(QueueTest, RetryRequestedWhileStoppingDropsTheFrame) {
    SetBuffers(u"2");
    CComPtr<IOXFrame> a = Frame();
    renderer->handler = [&](IMFrame_I*) {
        gate.Pass();
        return kRetryFrame;
    };
    ASSERT_EQ(Put(a), S_OK);
    ASSERT_TRUE(gate.WaitEntered(1));
    renderer->Flush(true, 0);
    gate.Open();
    ASSERT_TRUE(WaitUntil([&] { return renderer->WorkerState() == 0; }));
    EXPECT_EQ(renderer->QueuedCount(), 0);
    EXPECT_EQ(RefCount(a), 1u);
}

TEST_F(QueueTest, HandlerExceptionsAreCountedAndServingGoesOn) {
    SetBuffers(u"4");
    CComPtr<IOXFrame> frames[5] = {Frame(), Frame(), Frame(), Frame(), Frame()};
    renderer->handler = [&](IMFrame_I* f) -> HRESULT {
        if (f == Internal(frames[0])) gate.Pass();  // the rest queue up behind it
        if (f == Internal(frames[0])) throw std::runtime_error("handler failed");
        if (f == Internal(frames[2])) throw 42;
        if (f == Internal(frames[4])) throw std::bad_alloc();
        return S_OK;
    };
    for (int i = 0; i < 4; ++i) ASSERT_EQ(Put(frames[i]), S_OK);
    gate.Open();
    ASSERT_TRUE(WaitUntil([&] { return renderer->Seen().size() == 4; }));
    ASSERT_TRUE(WaitUntil([&] { return RefCount(frames[3]) == 1; }));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(RefCount(frames[i]), 1u) << i;  // released once each
    EXPECT_EQ(renderer->Seen(),
              (std::vector<IMFrame_I*>{Internal(frames[0]), Internal(frames[1]),
                                       Internal(frames[2]), Internal(frames[3])}));
    EXPECT_EQ(renderer->Prop(u"stat::handler_exceptions"), u"2");
    EXPECT_EQ(renderer->WorkerState(), 1);

    // Without a queue (the setting removed) the handler runs on the caller's thread, and the
    // exception stops there.
    renderer->PropsRemove(CComBSTR(OLESTR("input.buffers")));
    EXPECT_EQ(Put(frames[4]), E_UNEXPECTED);
    EXPECT_EQ(RefCount(frames[4]), 1u);
    EXPECT_EQ(renderer->Prop(u"stat::handler_exceptions"), u"3");
    EXPECT_EQ(renderer->Prop(u"stat::buffer_overlow"), u"");
}

TEST_F(QueueTest, DroppingTheOldestFrameMakesRoom) {
    renderer->SetLimits(0, 3, true);
    renderer->handler = [&](IMFrame_I*) {
        gate.Pass();
        return S_OK;
    };
    CComPtr<IOXFrame> frames[4] = {Frame(), Frame(), Frame(), Frame()};
    ASSERT_EQ(renderer->Put(Internal(frames[0]), 0), 1);
    ASSERT_TRUE(gate.WaitEntered(1));
    EXPECT_EQ(renderer->Put(Internal(frames[1]), 0), 1);
    EXPECT_EQ(renderer->Put(Internal(frames[2]), 0), 2);
    EXPECT_EQ(renderer->Put(Internal(frames[3]), 0), 2);
    EXPECT_EQ(RefCount(frames[1]), 1u);  // dropped from the head, never the handler's frame
    gate.Open();
    ASSERT_TRUE(WaitUntil([&] { return renderer->Seen().size() == 3; }));
    EXPECT_EQ(renderer->Seen()[2], Internal(frames[3]));
}

TEST_F(QueueTest, DestroyingTheRendererReleasesQueuedFrames) {
    SetBuffers(u"8");
    auto frames = FillBehindGate(4);
    std::thread releaser([&] { renderer.Release(); });
    // The queued frames go at once; the one in the handler when the handler returns.
    ASSERT_TRUE(WaitUntil([&] {
        for (std::size_t i = 1; i < frames.size(); ++i)
            if (RefCount(frames[i]) != 1) return false;
        return true;
    }));
    EXPECT_NE(RefCount(frames[0]), 1u);
    gate.Open();
    releaser.join();
    EXPECT_EQ(RefCount(frames[0]), 1u);
}

TEST_F(QueueTest, ManyProducersEveryFrameHandledOrRefusedAndReleasedOnce) {
    SetBuffers(u"3");
    std::atomic<int> handled{0};
    renderer->handler = [&](IMFrame_I*) {
        ++handled;
        return S_OK;
    };
    constexpr int kThreads = 4, kFrames = 500;
    std::atomic<int> accepted{0}, refused{0};
    std::vector<std::vector<CComPtr<IOXFrame>>> made(kThreads);
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kFrames; ++i) {
                made[t].push_back(Frame(i % 2 == 0));
                const HRESULT hr = Put(made[t].back());
                if (hr == S_OK)
                    ++accepted;
                else if (hr == E_OUTOFMEMORY)
                    ++refused;
            }
        });
    }
    for (auto& p : producers) p.join();
    EXPECT_EQ(accepted + refused, kThreads * kFrames);
    ASSERT_TRUE(WaitUntil([&] { return handled == accepted; }));
    EXPECT_EQ(renderer->Prop(u"stat::buffer_overlow"),
              refused == 0 ? u"" : orvex::com::ToUtf16(std::to_string(refused.load())));
    renderer.Release();
    for (auto& list : made)
        for (auto& f : list) ASSERT_EQ(RefCount(f), 1u);
}

// Whatever a backend does with a frame, it is released once by the time the backend is gone.
template <class Backend>
void PutThroughBackend(IOXFactory* factory) {
    CComObject<Backend>* p = nullptr;
    ASSERT_EQ(CComObject<Backend>::CreateInstance(&p), S_OK);
    CComPtr<IUnknown> backend(p->GetUnknown());
    CComQIPtr<IOXReceiver> receiver(backend);
    ASSERT_TRUE(receiver);
    M_AV_PROPS props{};
    CComPtr<IOXFrame> f;
    ASSERT_EQ(factory->OXFrameMake(&props, 0, &f), S_OK);
    receiver->ReceiverFramePut(f, 0, nullptr);
    EXPECT_EQ(receiver->ReceiverFramePut(nullptr, 0, nullptr), E_POINTER);
    receiver.Release();
    backend.Release();
    EXPECT_EQ(RefCount(f), 1u);
}

TEST_F(QueueTest, BothBackendsServeReceiverFramePut) {
    PutThroughBackend<CCoOXRendererAJA>(factory);
    PutThroughBackend<CCoOXRendererBMD>(factory);
}

}  // namespace
