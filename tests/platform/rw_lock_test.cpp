#include "platform/rw_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "test_util.h"

namespace orvex::platform {
namespace {

using test::WaitUntil;

// A thread that holds a lock until told to let go.
class Holder {
public:
    Holder(CRWSynchroLiteBase& lock, LockMode mode)
        : thread_([this, &lock, mode] {
              CRWSynchroLiteGuard guard(lock, mode);
              holding_ = true;
              WaitUntil([this] { return release_.load(); });
          }) {
        EXPECT_TRUE(WaitUntil([this] { return holding_.load(); }));
    }
    ~Holder() { Release(); }
    void Release() {
        release_ = true;
        if (thread_.joinable()) thread_.join();
    }

private:
    std::atomic<bool> holding_{false};
    std::atomic<bool> release_{false};
    std::thread thread_;
};

class RWLockTest : public ::testing::TestWithParam<bool> {
protected:
    CRWSynchroLiteRW lock_{1024, GetParam()};
};

TEST_P(RWLockTest, ReadersShare) {
    constexpr int kReaders = 6;
    std::atomic<int> inside{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i)
        readers.emplace_back([&] {
            CRWSynchroLiteGuard guard(lock_, LockMode::kRead);
            ++inside;
            // Everybody must be able to be inside at the same time.
            EXPECT_TRUE(WaitUntil([&] { return inside.load() == kReaders; }));
        });
    for (auto& t : readers) t.join();
    EXPECT_EQ(lock_.State(), 0);
}

TEST_P(RWLockTest, WritersExcludeReadersAndEachOther) {
    // Two plain fields kept equal by writers; ThreadSanitizer sees any unguarded access.
    long first = 0, second = 0;
    std::atomic<int> writers_inside{0};
    std::atomic<bool> broken{false};
    auto writer = [&] {
        for (int i = 0; i < 2000; ++i) {
            CRWSynchroLiteGuard guard(lock_, LockMode::kWrite, static_cast<std::uint32_t>(i));
            if (writers_inside.fetch_add(1) != 0) broken = true;
            ++first;
            ++second;
            writers_inside.fetch_sub(1);
        }
    };
    auto reader = [&] {
        for (int i = 0; i < 4000; ++i) {
            CRWSynchroLiteGuard guard(lock_, LockMode::kRead);
            if (first != second || writers_inside.load() != 0) broken = true;
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(writer);
    threads.emplace_back(writer);
    for (int i = 0; i < 3; ++i) threads.emplace_back(reader);
    for (auto& t : threads) t.join();
    EXPECT_FALSE(broken);
    EXPECT_EQ(first, 4000);
    EXPECT_EQ(lock_.State(), 0);
    EXPECT_EQ(lock_.Writers(), 0);
}

TEST_P(RWLockTest, BlockedWriterEntersWhenLastReaderLeaves) {
    Holder reader1(lock_, LockMode::kRead);
    Holder reader2(lock_, LockMode::kRead);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        CRWSynchroLiteGuard guard(lock_, LockMode::kWrite);
        written = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return lock_.Writers() == 1; }));
    reader1.Release();
    EXPECT_FALSE(written.load());
    EXPECT_EQ(lock_.State(), 1);
    reader2.Release();
    EXPECT_TRUE(WaitUntil([&] { return written.load(); }));
    writer.join();
    EXPECT_EQ(lock_.State(), 0);
}

TEST_P(RWLockTest, TryLocksFailAtOnceWithoutDisturbingHolders) {
    {
        Holder reader(lock_, LockMode::kRead);
        EXPECT_FALSE(lock_.LockWrite(false));
        EXPECT_EQ(lock_.State(), 1);
        EXPECT_EQ(lock_.Writers(), 0);
        // Another reader still gets in.
        ASSERT_TRUE(lock_.LockRead(false));
        lock_.UnlockRead();
    }
    EXPECT_EQ(lock_.State(), 0);
    {
        Holder writer(lock_, LockMode::kWrite);
        EXPECT_FALSE(lock_.LockRead(false));
        EXPECT_FALSE(lock_.LockWrite(false));
        EXPECT_EQ(lock_.State(), -1);
        EXPECT_EQ(lock_.Writers(), 1);
    }
    // The failed try-read left no depth behind on this thread.
    Holder other_reader(lock_, LockMode::kRead);
    EXPECT_TRUE(lock_.LockRead(false));
    EXPECT_EQ(lock_.State(), 2);
    lock_.UnlockRead();
    EXPECT_EQ(lock_.State(), 1);
}

TEST_P(RWLockTest, RecursiveWriterAndReadsInsideIt) {
    ASSERT_TRUE(lock_.LockWrite(false, 5));  // a free lock takes a try at once
    ASSERT_TRUE(lock_.LockWrite(false));
    EXPECT_EQ(lock_.State(), -2);
    ASSERT_TRUE(lock_.LockRead());
    lock_.UnlockRead();
    lock_.UnlockWrite();
    lock_.UnlockWrite();
    EXPECT_EQ(lock_.State(), 0);
    EXPECT_EQ(lock_.Writers(), 0);
    std::atomic<bool> other{false};
    std::thread t([&] {
        other = lock_.LockWrite(false);
        if (other) lock_.UnlockWrite();
    });
    t.join();
    EXPECT_TRUE(other.load());
}

TEST_P(RWLockTest, NestedReadWhileAWriterWaits) {
    ASSERT_TRUE(lock_.LockRead());
    std::thread writer([&] { CRWSynchroLiteGuard guard(lock_, LockMode::kWrite); });
    ASSERT_TRUE(WaitUntil([&] { return lock_.Writers() == 1; }));
    // Must not queue behind the writer, which waits for this very thread.
    ASSERT_TRUE(lock_.LockRead());
    lock_.UnlockRead();
    lock_.UnlockRead();
    writer.join();
    EXPECT_EQ(lock_.State(), 0);
}

TEST_P(RWLockTest, TagsPassFromWriterToNextLocker) {
    std::uint32_t previous = 99;
    ASSERT_TRUE(lock_.LockWrite(true, 7, &previous));
    EXPECT_EQ(previous, 0u);
    lock_.UnlockWrite();
    CRWSynchroLiteGuard guard(lock_, LockMode::kRead);
    EXPECT_EQ(guard.Tag(), 7u);
    std::uint32_t seen = 0;
    std::thread t([&] { EXPECT_FALSE(lock_.LockWrite(false, 8, &seen)); });
    t.join();
    EXPECT_EQ(seen, 7u);  // a failed try still reports the tag it saw
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutNesting, RWLockTest, ::testing::Bool());

TEST(RWLockSlots, ReusedSlotStartsAtDepthZero) {
    auto first = std::make_unique<CRWSynchroLiteRW>(1024, true);
    ASSERT_TRUE(first->LockRead());
    first.reset();  // dropped while this thread still counted a read on it
    CRWSynchroLiteRW second(1024, true);
    ASSERT_TRUE(second.LockRead());
    EXPECT_EQ(second.State(), 1);
    second.UnlockRead();
    EXPECT_EQ(second.State(), 0);
}

// Another thread gets in only after the last leave; the writer's tag passes on.
TEST(CriticalSectionLock, ReadAndWriteShareOneRecursiveSection) {
    CRWSynchroLiteCS lock;
    auto other_gets_in = [&] {
        bool in = false;
        std::thread t([&] {
            in = lock.LockWrite(false);
            if (in) lock.UnlockWrite();
        });
        t.join();
        return in;
    };
    {
        Holder reader(lock, LockMode::kRead);
        EXPECT_FALSE(lock.LockRead(false));
        EXPECT_FALSE(lock.LockWrite(false));
    }
    ASSERT_TRUE(lock.LockWrite(false, 3));
    ASSERT_TRUE(lock.LockWrite(false, 4));
    ASSERT_TRUE(lock.LockRead());
    lock.UnlockRead();
    lock.UnlockWrite();
    EXPECT_FALSE(other_gets_in());
    lock.UnlockWrite();
    std::uint32_t tag = 0;
    ASSERT_TRUE(lock.LockRead(true, &tag));
    EXPECT_EQ(tag, 4u);
    lock.UnlockRead();
    EXPECT_TRUE(other_gets_in());
}

// Spin count 0 sends every contended entry to sleep at once; 1024 mostly spins.
class ContendedSection : public ::testing::TestWithParam<int> {};

TEST_P(ContendedSection, ThreadsTakeTurnsWithoutLostWakeups) {
    CRWSynchroLiteCS lock(GetParam());
    long count = 0;  // plain: ThreadSanitizer sees any unguarded access
    std::atomic<int> inside{0};
    std::atomic<bool> broken{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 3000; ++i) {
                CRWSynchroLiteGuard outer(lock, LockMode::kWrite);
                CRWSynchroLiteGuard inner(lock, i % 2 ? LockMode::kRead : LockMode::kWrite);
                if (inside.fetch_add(1) != 0) broken = true;
                ++count;
                inside.fetch_sub(1);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_FALSE(broken);
    EXPECT_EQ(count, 4 * 3000);
    EXPECT_TRUE(lock.LockWrite(false));
    lock.UnlockWrite();
}

INSTANTIATE_TEST_SUITE_P(SleepingAndSpinning, ContendedSection, ::testing::Values(0, 1024));

}  // namespace
}  // namespace orvex::platform
