// Lightweight reader/writer locks. CRWSynchroLiteRW lets readers in with one atomic operation
// while no writer is counted; writers serialise on a recursive critical section and then wait
// for the readers inside to leave. CRWSynchroLiteCS offers the same interface over a single
// critical section. Hold a lock through CRWSynchroLiteGuard.
#pragma once

#include <atomic>
#include <cstdint>

namespace orvex::platform {

// Recursive critical section that spins a while before it blocks. Sixteen bytes: a lock
// word (0 free, 1 held, 2 held with sleepers), the owning thread's tag and the depth of its
// recursion. A thread that finds it held spins up to the spin count, then sleeps on the lock
// word (a futex on Linux); the one leaving wakes a sleeper only when the word says there is
// one, so an uncontended Enter/Leave is one compare-exchange and one exchange.
class SpinCriticalSection {
public:
    explicit SpinCriticalSection(int spin_count) : spin_count_(spin_count) {}
    SpinCriticalSection(const SpinCriticalSection&) = delete;
    SpinCriticalSection& operator=(const SpinCriticalSection&) = delete;

    void Enter() {
        const std::uint32_t me = ThreadTag();
        if (owner_.load(std::memory_order_relaxed) == me) {
            ++depth_;
            return;
        }
        std::uint32_t expected = 0;
        if (!word_.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                           std::memory_order_relaxed))
            EnterContended();
        owner_.store(me, std::memory_order_relaxed);
        depth_ = 1;
    }
    bool TryEnter() {
        const std::uint32_t me = ThreadTag();
        if (owner_.load(std::memory_order_relaxed) == me) {
            ++depth_;
            return true;
        }
        std::uint32_t expected = 0;
        if (!word_.compare_exchange_strong(expected, 1, std::memory_order_acquire,
                                           std::memory_order_relaxed))
            return false;
        owner_.store(me, std::memory_order_relaxed);
        depth_ = 1;
        return true;
    }
    // Only the owner may leave, as often as it entered.
    void Leave() {
        if (--depth_ > 0) return;
        owner_.store(0, std::memory_order_relaxed);
        if (word_.exchange(0, std::memory_order_release) == 2) Wake();
    }

private:
    // A non-zero tag per thread, given out on the thread's first use of any section. Only
    // the owner ever stores its own tag, so reading our own tag back means we own it.
    static std::uint32_t ThreadTag() {
        static thread_local std::uint32_t tag = 0;
        if (tag == 0) tag = NewThreadTag();
        return tag;
    }
    static std::uint32_t NewThreadTag();
    void EnterContended();
    void Wake();

    std::atomic<std::uint32_t> word_{0};
    std::atomic<std::uint32_t> owner_{0};
    std::uint32_t depth_ = 0;  // touched by the owner only
    int spin_count_;
};

class CRWSynchroLiteBase {
public:
    virtual ~CRWSynchroLiteBase() = default;
    // With wait = false the calls fail at once instead of blocking. `tag` receives the tag of
    // the last writer; `previous_tag` likewise before `tag` replaces it.
    virtual bool LockRead(bool wait = true, std::uint32_t* tag = nullptr) = 0;
    virtual void UnlockRead() = 0;
    virtual bool LockWrite(bool wait = true, std::uint32_t tag = 0,
                           std::uint32_t* previous_tag = nullptr) = 0;
    virtual void UnlockWrite() = 0;
};

class CRWSynchroLiteRW final : public CRWSynchroLiteBase {
public:
    static constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;

    // With `nested_reads` a thread may take the read lock again while it holds it, even when
    // a writer is waiting; such a lock also holds new readers back while a writer waits.
    explicit CRWSynchroLiteRW(int spin_count = 1024, bool nested_reads = false);
    ~CRWSynchroLiteRW() override;
    CRWSynchroLiteRW(const CRWSynchroLiteRW&) = delete;
    CRWSynchroLiteRW& operator=(const CRWSynchroLiteRW&) = delete;

    // The uncontended read without nesting is inline; everything else goes out of line.
    bool LockRead(bool wait = true, std::uint32_t* tag = nullptr) override {
        if (tls_slot_ == kNoSlot) {
            if (tag) *tag = tag_.load();
            std::int32_t state = state_.load();
            if (state >= 0 && state_.compare_exchange_weak(state, state + 1)) return true;
        }
        return LockReadSlow(wait, tag);
    }
    void UnlockRead() override {
        if (tls_slot_ == kNoSlot) {
            std::int32_t state = state_.load();
            if (state >= 1 && state_.compare_exchange_weak(state, state - 1)) return;
        }
        UnlockReadSlow();
    }
    bool LockWrite(bool wait = true, std::uint32_t tag = 0,
                   std::uint32_t* previous_tag = nullptr) override;
    void UnlockWrite() override;

    // Readers inside when positive, writer depth when negative (for diagnostics and tests).
    std::int32_t State() const { return state_.load(std::memory_order_acquire); }
    std::int32_t Writers() const { return writers_.load(std::memory_order_acquire); }

private:
    bool LockReadSlow(bool wait, std::uint32_t* tag);
    void UnlockReadSlow();
    int& ThreadDepth();
    bool TryAddReader();
    bool TryEnterAsWriter();  // caller holds the critical section

    SpinCriticalSection section_;
    std::atomic<std::int32_t> state_{0};
    std::atomic<std::int32_t> writers_{0};
    std::atomic<std::uint32_t> tag_{0};
    std::uint32_t tls_slot_ = kNoSlot;
    std::uint64_t tls_serial_ = 0;  // tells a reused slot from its previous owner
};

class CRWSynchroLiteCS final : public CRWSynchroLiteBase {
public:
    explicit CRWSynchroLiteCS(int spin_count = 1024) : section_(spin_count) {}

    // Defined here, so that callers holding the final type get them inlined.
    bool LockRead(bool wait = true, std::uint32_t* tag = nullptr) override {
        if (wait)
            section_.Enter();
        else if (!section_.TryEnter())
            return false;
        if (tag) *tag = tag_.load();
        return true;
    }
    void UnlockRead() override { section_.Leave(); }
    bool LockWrite(bool wait = true, std::uint32_t tag = 0,
                   std::uint32_t* previous_tag = nullptr) override {
        if (previous_tag) *previous_tag = tag_.load();
        if (wait)
            section_.Enter();
        else if (!section_.TryEnter())
            return false;
        tag_.store(tag);
        return true;
    }
    void UnlockWrite() override { section_.Leave(); }

private:
    SpinCriticalSection section_;
    std::atomic<std::uint32_t> tag_{0};
};

enum class LockMode { kRead, kWrite };

// Takes the lock (waiting) for the scope; a null lock makes it a no-op.
class CRWSynchroLiteGuard {
public:
    CRWSynchroLiteGuard(CRWSynchroLiteBase* lock, LockMode mode, std::uint32_t tag = 0)
        : lock_(lock), mode_(mode), tag_(tag) {
        if (!lock_) return;
        if (mode_ == LockMode::kRead)
            lock_->LockRead(true, &tag_);
        else
            lock_->LockWrite(true, tag_, nullptr);
    }
    CRWSynchroLiteGuard(CRWSynchroLiteBase& lock, LockMode mode, std::uint32_t tag = 0)
        : CRWSynchroLiteGuard(&lock, mode, tag) {}
    ~CRWSynchroLiteGuard() {
        if (!lock_) return;
        if (mode_ == LockMode::kRead)
            lock_->UnlockRead();
        else
            lock_->UnlockWrite();
    }
    CRWSynchroLiteGuard(const CRWSynchroLiteGuard&) = delete;
    CRWSynchroLiteGuard& operator=(const CRWSynchroLiteGuard&) = delete;

    // For a read guard, the tag the last writer left.
    std::uint32_t Tag() const { return tag_; }

private:
    CRWSynchroLiteBase* lock_;
    LockMode mode_;
    std::uint32_t tag_;
};

}  // namespace orvex::platform
