#include "platform/rw_lock.h"

#include "platform/wait_internal.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace orvex::platform {
namespace {

// Slot indexes are reused once a lock is gone; serials never are, so a thread's stale depth
// from a previous owner of the slot reads as zero.
struct SlotRegistry {
    std::mutex mutex;
    std::vector<std::uint32_t> free_slots;
    std::uint32_t next_slot = 0;
    std::uint64_t next_serial = 1;
};

SlotRegistry& Slots() {
    static SlotRegistry registry;
    return registry;
}

struct DepthEntry {
    std::uint64_t serial = 0;
    int depth = 0;
};

thread_local std::vector<DepthEntry> t_read_depths;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace

std::uint32_t SpinCriticalSection::NewThreadTag() {
    // Zero means "no owner", so it is skipped when the counter wraps.
    static std::atomic<std::uint32_t> next{0};
    std::uint32_t tag;
    do tag = next.fetch_add(1, std::memory_order_relaxed) + 1;
    while (tag == 0);
    return tag;
}

void SpinCriticalSection::EnterContended() {
    // Spin on reads first, so that the waiting core does not keep stealing the line.
    for (int i = 0; i < spin_count_; ++i) {
        std::uint32_t expected = word_.load(std::memory_order_relaxed);
        if (expected == 0 && word_.compare_exchange_weak(expected, 1, std::memory_order_acquire,
                                                         std::memory_order_relaxed))
            return;
        CpuRelax();
    }
    // Mark the word as having sleepers before sleeping; whoever takes it this way keeps the
    // mark, so that its Leave wakes the next sleeper too.
    while (word_.exchange(2, std::memory_order_acquire) != 0) detail::WaitWhileEquals(word_, 2);
}

void SpinCriticalSection::Wake() {
    detail::WakeOneWaiter(word_);
}

CRWSynchroLiteRW::CRWSynchroLiteRW(int spin_count, bool nested_reads) : section_(spin_count) {
    if (!nested_reads) return;
    SlotRegistry& slots = Slots();
    std::lock_guard<std::mutex> hold(slots.mutex);
    if (slots.free_slots.empty()) {
        tls_slot_ = slots.next_slot++;
    } else {
        tls_slot_ = slots.free_slots.back();
        slots.free_slots.pop_back();
    }
    tls_serial_ = slots.next_serial++;
}

CRWSynchroLiteRW::~CRWSynchroLiteRW() {
    if (tls_slot_ == kNoSlot) return;
    SlotRegistry& slots = Slots();
    std::lock_guard<std::mutex> hold(slots.mutex);
    slots.free_slots.push_back(tls_slot_);
}

int& CRWSynchroLiteRW::ThreadDepth() {
    if (t_read_depths.size() <= tls_slot_) t_read_depths.resize(tls_slot_ + 1);
    DepthEntry& entry = t_read_depths[tls_slot_];
    if (entry.serial != tls_serial_) entry = {tls_serial_, 0};
    return entry.depth;
}

bool CRWSynchroLiteRW::TryAddReader() {
    std::int32_t state = state_.load();
    while (state >= 0)
        if (state_.compare_exchange_weak(state, state + 1)) return true;
    return false;
}

bool CRWSynchroLiteRW::TryEnterAsWriter() {
    // From free to -1, or one deeper for a writer that already holds the lock.
    std::int32_t state = state_.load();
    while (state <= 0)
        if (state_.compare_exchange_weak(state, state - 1)) return true;
    return false;
}

bool CRWSynchroLiteRW::LockReadSlow(bool wait, std::uint32_t* tag) {
    int* depth = nullptr;
    if (tls_slot_ != kNoSlot) {
        depth = &ThreadDepth();
        if ((*depth)++ > 0) return true;
    }
    if (tag) *tag = tag_.load();
    // Without nesting support a reader must never queue behind a waiting writer: it may
    // already hold the lock further up its own stack.
    if ((depth == nullptr || writers_.load() == 0) && TryAddReader()) return true;

    if (wait) {
        section_.Enter();
    } else if (!section_.TryEnter()) {
        if (depth) *depth = 0;
        return false;
    }
    // Holding the section, a negative state can only be this thread's own write lock, which
    // already excludes everyone else.
    TryAddReader();
    section_.Leave();
    return true;
}

void CRWSynchroLiteRW::UnlockReadSlow() {
    if (tls_slot_ != kNoSlot) {
        int& depth = ThreadDepth();
        if (depth > 0 && --depth > 0) return;
    }
    std::int32_t state = state_.load();
    while (state >= 1)
        if (state_.compare_exchange_weak(state, state - 1)) return;
}

bool CRWSynchroLiteRW::LockWrite(bool wait, std::uint32_t tag, std::uint32_t* previous_tag) {
    if (previous_tag) *previous_tag = tag_.load();
    if (wait) {
        section_.Enter();
        writers_.fetch_add(1);
        for (unsigned pass = 1; !TryEnterAsWriter(); ++pass) {
            if (pass % 128 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            else
                std::this_thread::yield();
        }
    } else {
        if (!section_.TryEnter()) return false;
        // A try-writer claims the state like a waiting one: otherwise readers that skip the
        // section would walk in on it.
        if (!TryEnterAsWriter()) {
            section_.Leave();
            return false;
        }
        writers_.fetch_add(1);
    }
    tag_.store(tag);
    return true;
}

void CRWSynchroLiteRW::UnlockWrite() {
    std::int32_t state = state_.load();
    while (state <= -1)
        if (state_.compare_exchange_weak(state, state + 1)) break;
    writers_.fetch_sub(1);
    section_.Leave();
}

}  // namespace orvex::platform
