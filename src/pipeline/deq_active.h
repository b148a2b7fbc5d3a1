// The active frame queue: producers put frames at the tail, a worker thread owned by the
// queue takes them from the head and hands each one to the owner's frame handler,
// Owner::ProcessFrame(item) -> HRESULT. The owner derives from the queue.
//
// An exception from the handler never leaves the worker: it is reported to the owner through
// Owner::FrameHandlerFault(), which counts it, and the frame counts as handled (released, not
// offered again); the worker goes on with the next one.
//
// Every item the queue takes holds one reference, released exactly once: when the handler is
// done with it, when it is dropped to make room, flushed, or destroyed with the queue. Items
// are released outside the queue's lock, since a release may run arbitrary code.
//
// The capacity counts the frames the queue holds for the handler, the one the handler is
// working on included: a producer that keeps the queue full waits behind that many frames,
// so that the capacity is also the latency, in frames, that the queue adds. The items live in
// a ring that grows only when it is full: a steady flow of frames takes no memory.
//
// Locks: the queue's lock guards the item list and the limits only. It is never held while
// the handler runs, while a producer waits for room, or while an item is released, so the
// handler may take any lock of the renderer (output lock, then frame clock or mailbox lock)
// without an order against the queue.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "com/runtime.h"
#include "pipeline/active_thread.h"
#include "platform/event.h"

namespace orvex::pipeline {

// The handler asks for its frame to be offered again (VFW_E_NOT_COMMITTED).
inline constexpr HRESULT kRetryFrame = MakeHResult(0x80040203u);
// Time-outs of Flush: none, and the one destruction allows.
inline constexpr DWORD kWaitForever = 0xFFFFFFFFu;
inline constexpr DWORD kStopTimeoutMs = 3000;

// The queue's items in order, in a ring that doubles when it is full.
template <class Item>
class ItemRing {
public:
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    Item& front() { return slots_[head_]; }
    void push_back(Item item) {
        Grow();
        slots_[(head_ + count_) % slots_.size()] = std::move(item);
        ++count_;
    }
    void push_front(Item item) {
        Grow();
        head_ = (head_ + slots_.size() - 1) % slots_.size();
        slots_[head_] = std::move(item);
        ++count_;
    }
    Item pop_front() {
        Item item = std::move(slots_[head_]);
        head_ = (head_ + 1) % slots_.size();
        --count_;
        return item;
    }
    void swap(ItemRing& other) noexcept {
        slots_.swap(other.slots_);
        std::swap(head_, other.head_);
        std::swap(count_, other.count_);
    }

private:
    void Grow() {
        if (count_ < slots_.size()) return;
        std::vector<Item> bigger(std::max<std::size_t>(4, slots_.size() * 2));
        for (std::size_t i = 0; i < count_; ++i)
            bigger[i] = std::move(slots_[(head_ + i) % slots_.size()]);
        slots_.swap(bigger);
        head_ = 0;
    }

    std::vector<Item> slots_;
    std::size_t head_ = 0, count_ = 0;
};

template <class Owner, class Item>
class CDeqActive {
public:
    CDeqActive() = default;
    ~CDeqActive() { StopQueue(); }
    CDeqActive(const CDeqActive&) = delete;
    CDeqActive& operator=(const CDeqActive&) = delete;

    // minCount = the smaller of a and b (fill level that wakes the worker), maxCount = the
    // larger (capacity, the handler's frame included; 0 or less is unlimited).
    void SetLimits(int a, int b, bool dropOldest) {
        std::lock_guard lock(lock_);
        minCount_ = a < b ? a : b;
        maxCount_ = a < b ? b : a;
        dropOldest_ = dropOldest;
        if (Held() < maxCount_) spaceEvent_.Set();
    }

    // rtWait in 100-ns units: negative waits for room without limit, 0 does not wait,
    // positive waits at most that long. Returns the number of queued items, or -1 when the
    // frame was refused (queue still full, or the worker stopped or stopping).
    int Put(Item frame, LONGLONG rtWait) {
        worker_.StartIfEnded(this, &CDeqActive::WorkerRoutine);
        {
            std::lock_guard lock(lock_);
            if (maxCount_ > 0 && Held() >= maxCount_)
                spaceEvent_.Reset();
            else
                spaceEvent_.Set();
        }
        // A set event would end the wait at once; skipping it spares arming the timer on
        // every put that finds room.
        if (rtWait < 0) {
            spaceEvent_.Wait(platform::kInfinite);
        } else if (rtWait > 0 && !spaceEvent_.IsSet()) {
            platform::WaitableTimer* timer;
            {
                std::lock_guard lock(lock_);
                if (!waitTimer_) waitTimer_ = std::make_unique<platform::WaitableTimer>(true);
                timer = waitTimer_.get();
            }
            timer->SetRelative(rtWait);
            // The timer is shared by producers and may be re-armed by another one meanwhile;
            // the safety time-out bounds the wait whatever happens to it.
            const platform::Ticks safety =
                ((rtWait / 10'000) * 2 + 10) * platform::kTicksPerMillisecond;
            platform::WaitAny({&spaceEvent_, timer}, safety);
        }
        Item dropped;
        int count;
        {
            std::lock_guard lock(lock_);
            if (!worker_.running.load(std::memory_order_acquire) || worker_.IsRunning() == 0)
                return -1;
            if (maxCount_ > 0 && Held() >= maxCount_) {
                if (!dropOldest_) return -1;
                // The handler's frame cannot be dropped: with none queued the new one waits
                // behind it.
                if (!items_.empty()) dropped = items_.pop_front();
            }
            items_.push_back(std::move(frame));
            count = Count();
            if (count >= minCount_) worker_.Signal();
        }
        return count;
    }

    // Drops every queued frame; with stopWorker also stops the worker, waiting at most
    // timeoutMs for it to end.
    void Flush(bool stopWorker, DWORD timeoutMs) {
        ItemRing<Item> dropped;
        {
            std::lock_guard lock(lock_);
            dropped.swap(items_);
            if (stopWorker) {
                worker_.running.store(false, std::memory_order_release);
                worker_.Signal();
            }
            // A waiting producer wakes and finds the worker stopped.
            spaceEvent_.Set();
        }
        dropped = ItemRing<Item>();
        if (stopWorker) worker_.Stop(timeoutMs);
    }

    // The destruction sequence. The owner calls it before its own members go (FinalRelease),
    // since the worker calls into the owner; running it again does nothing.
    void StopQueue() {
        Flush(true, kStopTimeoutMs);
        worker_.Stop(kWaitForever);
        ItemRing<Item> left;
        {
            std::lock_guard lock(lock_);
            left.swap(items_);
        }
    }

    int QueuedCount() {
        std::lock_guard lock(lock_);
        return Count();
    }
    int WorkerState() { return worker_.IsRunning(); }

protected:
    // Caller holds lock_. Frames queued, and frames held against the capacity.
    int Count() const { return static_cast<int>(items_.size()); }
    int Held() const { return Count() + (handling_ ? 1 : 0); }

    // Runs the frame handler on the calling thread; an exception from it becomes
    // E_UNEXPECTED after the owner has been told (it keeps the count).
    HRESULT CallHandler(const Item& frame) noexcept {
        try {
            return static_cast<Owner*>(this)->ProcessFrame(frame);
        } catch (...) {
        }
        try {
            static_cast<Owner*>(this)->FrameHandlerFault();
        } catch (...) {
            // Counting needs memory; without it the fault goes unreported, the frame still
            // goes.
        }
        return E_UNEXPECTED;
    }

private:
    static DWORD WorkerRoutine(void* param) {
        static_cast<CDeqActive*>(param)->WorkerLoop();
        return 0;
    }

    void WorkerLoop() {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        while (worker_.running.load(std::memory_order_acquire)) {
            worker_.WaitWake();
            if (!worker_.running.load(std::memory_order_acquire)) break;
            Item frame;
            {
                std::lock_guard lock(lock_);
                if (items_.empty()) continue;
                frame = items_.pop_front();
                handling_ = true;
            }
            const HRESULT hr = CallHandler(frame);
            {
                std::lock_guard lock(lock_);
                handling_ = false;
                if (hr != kRetryFrame) {
                    if (maxCount_ <= 0 || Held() < maxCount_) spaceEvent_.Set();
                    if (!items_.empty()) worker_.Signal();
                } else if (worker_.running.load(std::memory_order_acquire)) {
                    items_.push_front(std::move(frame));
                    worker_.Signal();
                }
                // A frame asking to be retried while the worker stops is dropped with the
                // rest of the queue rather than kept for a later start.
            }
            frame = Item();
        }
        CoUninitialize();
    }

    std::mutex lock_;
    CActiveThread worker_;
    ItemRing<Item> items_;
    bool handling_ = false;  // the worker has taken a frame and not yet let it go
    platform::Event spaceEvent_{platform::Event::ResetMode::kManual};
    int maxCount_ = 0;
    int minCount_ = 0;
    bool dropOldest_ = true;
    std::unique_ptr<platform::WaitableTimer> waitTimer_;
};

}  // namespace orvex::pipeline
