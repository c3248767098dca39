#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <ctime>
#include <thread>
#include <vector>

#include "Condition.h"
#include "DeathTestStyle.h"
#include "Monitor.h"
#include "Mutex.h"
#include "RWLock.h"
#include "Semaphore.h"
#include "Sequence.h"

namespace {
TEST(SemaphoreTest, NeverAdmitsMoreThanItsCount) {
    Semaphore semaphore(2);
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                semaphore.acquire();
                int now = ++inside;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::yield();
                --inside;
                semaphore.release();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_LE(most.load(), 2);
    EXPECT_GE(most.load(), 1);
    // Both permits are back.
    EXPECT_EQ(semaphore.tryAcquire(), 0);
    EXPECT_EQ(semaphore.tryAcquire(), 0);
    EXPECT_EQ(semaphore.tryAcquire(), -1);
}

TEST(SemaphoreTest, AcquireWaitsForRelease) {
    Semaphore semaphore(1);
    semaphore.acquire();
    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        semaphore.acquire();
        acquired = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(acquired.load());
    semaphore.release();
    waiter.join();
    EXPECT_TRUE(acquired.load());
}

TEST(RWLockTest, WritersExcludeEveryoneReadersShare) {
    RWLock lock;
    int readers = 0;  // guarded by counterMutex
    Mutex counterMutex;
    std::atomic<bool> violated{false};
    std::atomic<int> writersInside{0};
    std::atomic<int> maxReaders{0};
    auto reader = [&] {
        for (int i = 0; i < 300; ++i) {
            lock.readLock();
            if (writersInside.load() != 0) {
                violated = true;
            }
            {
                Monitor guard(counterMutex);
                ++readers;
                maxReaders = std::max(maxReaders.load(), readers);
            }
            std::this_thread::yield();
            {
                Monitor guard(counterMutex);
                --readers;
            }
            lock.unlock();
        }
    };
    auto writer = [&] {
        for (int i = 0; i < 100; ++i) {
            lock.writeLock();
            if (++writersInside != 1) {
                violated = true;
            }
            {
                Monitor guard(counterMutex);
                if (readers != 0) {
                    violated = true;
                }
            }
            std::this_thread::yield();
            --writersInside;
            lock.unlock();
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back(reader);
        threads.emplace_back(writer);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(violated.load());
    EXPECT_EQ(lock.tryWriteLock(), 0);
}

TEST(RWLockTest, TryLocksReportBusy) {
    RWLock lock;
    EXPECT_EQ(lock.tryReadLock(), 0);
    EXPECT_EQ(lock.tryReadLock(), 0);
    EXPECT_EQ(lock.tryWriteLock(), -1);
    lock.unlock();
    lock.unlock();
    EXPECT_EQ(lock.tryWriteLock(), 0);
    EXPECT_EQ(lock.tryReadLock(), -1);
    EXPECT_EQ(lock.tryWriteLock(), -1);
    lock.unlock();
    EXPECT_EQ(lock.tryReadLock(), 0);
}

TEST(ConditionTest, TimedWaitTimesOutAndSignalWakes) {
    Mutex mutex;
    Condition condition(mutex);
    condition.lock();
    EXPECT_EQ(condition.wait(1), ETIMEDOUT);
    condition.unlock();

    bool ready = false;
    std::thread signaller([&] {
        Monitor guard(mutex);
        ready = true;
        condition.signal();
    });
    {
        Monitor guard(mutex);
        while (!ready) {
            condition.wait();
        }
    }
    signaller.join();
    EXPECT_TRUE(ready);
}

TEST(MutexTest, TryLockFailsWhileHeld) {
    Mutex mutex;
    {
        Monitor guard(mutex);
        std::thread other([&] { EXPECT_NE(mutex.tryLock(), 0); });
        other.join();
    }
    EXPECT_EQ(mutex.tryLock(), 0);
    mutex.unlock();
}

TEST(SequenceTest, BlocksAndWrap) {
    Sequence sequence(0);
    EXPECT_EQ(sequence.getNext(5u), 0);
    EXPECT_EQ(sequence.getNext(), 5);
    EXPECT_EQ(sequence.getNext(), 6);

    Sequence nearEnd(INT_MAX - 1);
    EXPECT_EQ(nearEnd.getNext(), INT_MAX - 1);
    EXPECT_EQ(nearEnd.getNext(), INT_MAX);
    EXPECT_EQ(nearEnd.getNext(3u), 0);
    EXPECT_EQ(nearEnd.getNext(), 3);
}

TEST(SequenceTest, ThreadsGetDistinctValues) {
    Sequence sequence(0);
    std::vector<std::vector<int>> seen(4);
    std::vector<std::thread> threads;
    for (auto& values : seen) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                values.push_back(sequence.getNext());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<bool> hit(2000, false);
    for (const auto& values : seen) {
        for (int value : values) {
            ASSERT_LT(value, 2000);
            EXPECT_FALSE(hit[static_cast<size_t>(value)]) << value;
            hit[static_cast<size_t>(value)] = true;
        }
    }
}

#ifndef NDEBUG
TEST(ThreadPrimitivesDeathTest, PreconditionsAreAssertions) {
    useFreshProcessDeathTests();
    EXPECT_DEATH(Semaphore(0), "count >= 1");
    EXPECT_DEATH(Sequence(-1), "initVal >= 0");
    EXPECT_DEATH(
        {
            Sequence sequence(0);
            sequence.getNext(0u);
        },
        "Mutex.cpp.*int Sequence::getNext\\(unsigned int\\).*size > 0");
}
#endif
}  // namespace
