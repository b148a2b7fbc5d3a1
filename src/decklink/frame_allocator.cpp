#include "decklink/frame_allocator.h"

#include <cstdlib>
#include <new>

#include "platform/clock.h"

namespace orvex::decklink {
namespace {

constexpr std::size_t kAlign = 64;

std::size_t RoundUp(std::size_t n) {
    return (n + kAlign - 1) / kAlign * kAlign;
}

}  // namespace

HRESULT FrameAllocator::FinalConstruct() {
    try {
        held_.reserve(2 * kPoolCount);
        free_.reserve(kPoolCount);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

void FrameAllocator::FinalRelease() {
    Held held;
    CComPtr<IMFrame_I> pending;
    {
        std::lock_guard lock(lock_);
        held.swap(held_);
        pending.Attach(pending_.Detach());
        FreePoolLocked();
    }
}

void FrameAllocator::FreePoolLocked() {
    ::operator delete (block_, std::align_val_t{kAlign});
    block_ = nullptr;
    slot_size_ = 0;
    free_.clear();
    retire_ = false;
}

bool FrameAllocator::ArmZeroCopy(IMFrame_I* frame) {
    BYTE* bytes = nullptr;
    LONG size = 0;
    if (!frame || FAILED(frame->FrameVideoGet(&bytes, &size)) || !bytes || size <= 0) return false;
    CComPtr<IMFrame_I> previous;
    std::lock_guard lock(lock_);
    if (FindHeldLocked(bytes) != held_.end()) return false;
    previous.Attach(pending_.Detach());  // released after the lock is left
    pending_ = frame;
    pending_bytes_ = bytes;
    pending_size_ = size;
    return true;
}

void FrameAllocator::Disarm() {
    CComPtr<IMFrame_I> previous;
    std::lock_guard lock(lock_);
    previous.Attach(pending_.Detach());
    pending_bytes_ = nullptr;
    pending_size_ = 0;
}

STDMETHODIMP FrameAllocator::AllocateBuffer(unsigned int bufferSize, void** allocatedBuffer) {
    if (!allocatedBuffer) return E_POINTER;
    *allocatedBuffer = nullptr;
    CComPtr<IMFrame_I> unused;
    std::lock_guard lock(lock_);
    if (pending_) {
        if (bufferSize <= static_cast<unsigned long>(pending_size_)) {
            // The list has room for the frames a card holds; beyond that it grows.
            try {
                held_.emplace_back(pending_bytes_, nullptr);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            held_.back().second.Attach(pending_.Detach());
            *allocatedBuffer = pending_bytes_;
            pending_bytes_ = nullptr;
            pending_size_ = 0;
            return S_OK;
        }
        // The card wants more than the picture holds: the frame is copied instead.
        unused.Attach(pending_.Detach());
        pending_bytes_ = nullptr;
        pending_size_ = 0;
    }
    const std::size_t size = bufferSize;
    // A pool cut for a smaller format is rebuilt once all of it is back (a reopen in a
    // larger format would otherwise be refused for ever).
    if (slot_size_ != 0 && slot_size_ < size && free_.size() == kPoolCount) FreePoolLocked();
    if (slot_size_ == 0) {
        if (size == 0) return E_INVALIDARG;
        const std::size_t slot = RoundUp(size * 2);
        if (slot / 2 < size || slot > SIZE_MAX / kPoolCount) return E_OUTOFMEMORY;
        block_ = static_cast<std::uint8_t*>(
            ::operator new (slot* kPoolCount, std::align_val_t{kAlign}, std::nothrow));
        if (!block_) return E_OUTOFMEMORY;
        slot_size_ = slot;
        free_.reserve(kPoolCount);
        for (int i = kPoolCount - 1; i >= 0; --i) free_.push_back(block_ + slot * i);
    }
    if (slot_size_ < size) return E_INVALIDARG;
    if (free_.empty()) return E_OUTOFMEMORY;
    *allocatedBuffer = free_.back();
    free_.pop_back();
    return S_OK;
}

STDMETHODIMP FrameAllocator::ReleaseBuffer(void* buffer) {
    CComPtr<IMFrame_I> frame;  // released after the lock is left
    std::lock_guard lock(lock_);
    if (auto it = FindHeldLocked(buffer); it != held_.end()) {
        frame.Attach(it->second.Detach());
        *it = std::move(held_.back());
        held_.pop_back();
        return S_OK;
    }
    auto* p = static_cast<std::uint8_t*>(buffer);
    if (block_ && p >= block_ && p < block_ + slot_size_ * kPoolCount &&
        (p - block_) % static_cast<std::ptrdiff_t>(slot_size_) == 0 &&
        free_.size() < static_cast<std::size_t>(kPoolCount)) {
        free_.push_back(p);
        if (retire_ && free_.size() == static_cast<std::size_t>(kPoolCount)) FreePoolLocked();
    }
    return S_OK;
}

STDMETHODIMP FrameAllocator::Decommit() {
    const platform::Ticks deadline =
        platform::Now() + kDecommitWaitMs * platform::kTicksPerMillisecond;
    for (;;) {
        {
            std::lock_guard lock(lock_);
            const bool pool_back = !block_ || free_.size() == static_cast<std::size_t>(kPoolCount);
            if (pool_back && held_.empty()) {
                FreePoolLocked();
                return S_OK;
            }
            if (platform::Now() >= deadline) {
                // The card still holds buffers: freeing them now would pull memory from under
                // it. The pool goes when its last slot comes back; held frames stay held.
                if (pool_back)
                    FreePoolLocked();
                else
                    retire_ = true;
                return S_OK;
            }
        }
        platform::SleepFor(10 * platform::kTicksPerMillisecond);
    }
}

FrameAllocator::Counts FrameAllocator::GetCounts() {
    std::lock_guard lock(lock_);
    Counts c;
    c.pool_built = block_ != nullptr;
    c.pool_slots_out = block_ ? kPoolCount - static_cast<int>(free_.size()) : 0;
    c.frames_held = static_cast<int>(held_.size());
    c.armed = static_cast<bool>(pending_);
    return c;
}

}  // namespace orvex::decklink
