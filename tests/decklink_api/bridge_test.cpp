// The layout bridge on its own, for what the virtual card does not exercise: the host's
// callbacks and allocator called by a Linux-layout driver, objects handed back the way they
// came, reference counts, and no allocation once the bridge is warm.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "decklink/api/layout_bridge.h"

namespace {

std::atomic<long> g_allocations{0};

}  // namespace

// Every allocation of the program is counted (not in sanitizer builds, whose allocators stay).
#ifdef ORVEX_COUNT_ALLOCATIONS
void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
#endif

namespace {

namespace lx = linux_layout;
using orvex::decklink_layout::PresentAsLinux;
using orvex::decklink_layout::PresentAsWindows;

// A frame of a Linux-layout driver.
class DriverFrame final : public lx::IDeckLinkVideoFrame {
public:
    HRESULT QueryInterface(lx::IidBytes iid, void** out) override {
        *out = nullptr;
        if (!(lx::FromIidBytes(iid) == IID_IUnknown) &&
            !(lx::FromIidBytes(iid) == IID_IDeckLinkVideoFrame))
            return lx::kNoInterface;
        AddRef();
        *out = this;
        return S_OK;
    }
    unsigned long AddRef() override { return ++refs; }
    unsigned long Release() override { return --refs; }  // lives on the stack
    long GetWidth() override { return 1920; }
    long GetHeight() override { return 1080; }
    long GetRowBytes() override { return 3840; }
    BMDPixelFormat GetPixelFormat() override { return bmdFormat8BitYUV; }
    BMDFrameFlags GetFlags() override { return 0; }
    HRESULT GetBytes(void** buffer) override {
        *buffer = nullptr;
        return lx::kFail;
    }
    HRESULT GetTimecode(BMDTimecodeFormat, lx::IDeckLinkTimecode**) override {
        return lx::kNotImplemented;
    }
    HRESULT GetAncillaryData(lx::IDeckLinkVideoFrameAncillary**) override {
        return lx::kNotImplemented;
    }
    std::atomic<unsigned long> refs{1};
};

// The host's callbacks and allocator.
class Host final : public IDeckLinkVideoOutputCallback,
                   public IDeckLinkAudioOutputCallback,
                   public IDeckLinkMemoryAllocator {
public:
    HRESULT QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT ScheduledFrameCompleted(IDeckLinkVideoFrame* frame,
                                    BMDOutputFrameCompletionResult result) override {
        completed_width = frame ? frame->GetWidth() : -1;
        completed_result = result;
        return E_FAIL;
    }
    HRESULT ScheduledPlaybackHasStopped() override { return S_OK; }
    HRESULT RenderAudioSamples(BOOL preroll) override {
        last_preroll = preroll;
        return S_OK;
    }
    HRESULT AllocateBuffer(unsigned int size, void** buffer) override {
        *buffer = size <= sizeof slot ? slot : nullptr;
        return *buffer ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT ReleaseBuffer(void*) override { return S_OK; }
    HRESULT Commit() override { return S_OK; }
    HRESULT Decommit() override { return E_INVALIDARG; }

    std::atomic<ULONG> refs{1};
    long completed_width = 0;
    BMDOutputFrameCompletionResult completed_result = 0;
    BOOL last_preroll = -1;
    unsigned char slot[64] = {};
};

TEST(LayoutBridge, TheDriverCallsTheHostInItsOwnLayout) {
    Host host;
    DriverFrame frame;
    host.refs += 3;  // the references the bridges take over
    lx::IDeckLinkVideoOutputCallback* video =
        PresentAsLinux(static_cast<IDeckLinkVideoOutputCallback*>(&host));
    lx::IDeckLinkAudioOutputCallback* audio =
        PresentAsLinux(static_cast<IDeckLinkAudioOutputCallback*>(&host));
    lx::IDeckLinkMemoryAllocator* allocator =
        PresentAsLinux(static_cast<IDeckLinkMemoryAllocator*>(&host));
    ASSERT_TRUE(video && audio && allocator);

    // The driver's frame reaches the host as a frame of the host's layout.
    EXPECT_EQ(video->ScheduledFrameCompleted(&frame, bmdOutputFrameDisplayedLate), lx::kFail);
    EXPECT_EQ(host.completed_width, 1920);
    EXPECT_EQ(host.completed_result, bmdOutputFrameDisplayedLate);
    EXPECT_EQ(frame.refs, 1u);  // the presented frame is gone again
    EXPECT_EQ(audio->RenderAudioSamples(true), S_OK);
    EXPECT_EQ(host.last_preroll, TRUE);
    EXPECT_EQ(audio->RenderAudioSamples(false), S_OK);
    EXPECT_EQ(host.last_preroll, FALSE);

    void* buffer = nullptr;
    EXPECT_EQ(allocator->AllocateBuffer(64, &buffer), S_OK);
    EXPECT_EQ(buffer, host.slot);
    EXPECT_EQ(allocator->AllocateBuffer(65, &buffer), lx::kOutOfMemory);
    EXPECT_EQ(allocator->Decommit(), lx::kInvalidArg);

    for (lx::IUnknown* bridge : std::initializer_list<lx::IUnknown*>{video, audio, allocator})
        EXPECT_EQ(bridge->Release(), 0u);
    EXPECT_EQ(host.refs, 1u);
}

TEST(LayoutBridge, AnObjectGoingBackIsItselfAndTheWarmPathAllocatesNothing) {
    DriverFrame frame;
    auto round_trip = [&] {
        frame.AddRef();
        IDeckLinkVideoFrame* presented = PresentAsWindows(&frame);
        EXPECT_EQ(presented->GetRowBytes(), 3840);
        void* bytes = &frame;
        EXPECT_EQ(presented->GetBytes(&bytes), E_FAIL);  // the driver's code, in ours
        lx::IDeckLinkVideoFrame* back = PresentAsLinux(presented);
        EXPECT_EQ(back, &frame);  // not wrapped twice
        back->Release();
    };
    round_trip();
    const long before = g_allocations.load();
    for (int i = 0; i < 1000; ++i) round_trip();
    EXPECT_EQ(frame.refs, 1u);
#ifdef ORVEX_COUNT_ALLOCATIONS
    EXPECT_EQ(g_allocations.load(), before);
#else
    (void)before;
#endif
}

}  // namespace
