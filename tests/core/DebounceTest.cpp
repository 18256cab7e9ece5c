#include "common/TestSupport.h"
#include "core/Debounce.h"
#include "core/Mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace corvane;
using namespace std::chrono_literals;

TEST(Debounce, SameKeyRunsOnlyTheSecondAtItsDeadline)
{
    auto queue = DispatchQueue::background();
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    std::atomic<Clock::rep> ranAt{0};
    const auto start = Clock::now();
    debounce(queue, 0.1, QString("t.same"), [&] { ++first; });
    debounce(queue, 0.2, QString("t.same"), [&] {
        ranAt = Clock::now().time_since_epoch().count();
        ++second;
    });
    ASSERT_TRUE(test::waitUntil([&] { return second.load() == 1; }));
    EXPECT_EQ(first.load(), 0);
    EXPECT_GE(Clock::time_point(Clock::duration(ranAt.load())) - start, 200ms);
    EXPECT_TRUE(test::waitUntil([] { return !debounceIsPending(QString("t.same")); }));
}

TEST(Debounce, DifferentKeysBothRunAndKeylessCallsCancelEachOther)
{
    auto queue = DispatchQueue::background();
    std::atomic<int> a{0}, b{0}, k1{0}, k2{0};
    debounce(queue, 0.05, QString("t.a"), [&] { ++a; });
    debounce(queue, 0.05, QString("t.b"), [&] { ++b; });
    debounce(queue, 0.05, std::nullopt, [&] { ++k1; });
    debounce(queue, 0.05, std::nullopt, [&] { ++k2; });
    ASSERT_TRUE(test::waitUntil([&] { return a == 1 && b == 1 && k2 == 1; }));
    test::pumpFor(100ms);
    EXPECT_EQ(k1.load(), 0);
}

TEST(Debounce, OlderCleanUpKeepsANewerEntryCancellable)
{
    auto queue = DispatchQueue::background();
    DispatchSemaphore started, release;
    std::atomic<int> second{0}, third{0};
    debounce(queue, 0.0, QString("t.cleanup"), [&] {
        started.signal();
        release.wait(5s);
    });
    ASSERT_TRUE(started.wait(5s));
    // Registered while the first item runs: the first's clean-up must leave it.
    debounce(queue, 0.3, QString("t.cleanup"), [&] { ++second; });
    release.signal();
    test::pumpFor(50ms);
    EXPECT_TRUE(debounceIsPending(QString("t.cleanup")));
    debounce(queue, 0.05, QString("t.cleanup"), [&] { ++third; });
    ASSERT_TRUE(test::waitUntil([&] { return third.load() == 1; }));
    test::pumpFor(400ms);
    EXPECT_EQ(second.load(), 0);
}

TEST(Throttle, DropsCallsInsideTheIntervalThenRunsAgain)
{
    auto queue = DispatchQueue::background();
    std::atomic<int> runs{0};
    for (int i = 0; i < 5; ++i)
        throttle(queue, 0.2, QString("t.throttle"), [&] { ++runs; });
    ASSERT_TRUE(test::waitUntil([&] { return runs.load() == 1; }));
    test::pumpFor(50ms);
    EXPECT_EQ(runs.load(), 1);
    test::pumpFor(300ms);
    throttle(queue, 0.2, QString("t.throttle"), [&] { ++runs; });
    EXPECT_TRUE(test::waitUntil([&] { return runs.load() == 2; }));
}

TEST(Mutex, TrySyncOnAHeldLockRunsNothing)
{
    UnfairLock lock;
    lock.lock();
    std::atomic<bool> ran{false};
    std::thread([&] {
        EXPECT_FALSE(lock.trySync([&] { ran = true; }));
        EXPECT_FALSE(lock.trySync([] { return 1; }).has_value());
    }).join();
    lock.unlock();
    EXPECT_FALSE(ran);
    EXPECT_EQ(lock.trySync([] { return 5; }), std::optional<int>(5));
}

TEST(Mutex, ThrowingBodyFreesTheLockAndRecursiveLockNests)
{
    PThreadMutex mutex;
    EXPECT_THROW(mutex.sync([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
    EXPECT_TRUE(mutex.tryLock());
    mutex.unlock();

    PThreadMutex recursive(PThreadMutexType::recursive);
    EXPECT_EQ(recursive.sync([&] { return recursive.sync([] { return 3; }); }), 3);
}
