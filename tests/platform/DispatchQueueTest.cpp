#include "common/TestSupport.h"
#include "platform/queues/DispatchQueue.h"

#include <QEventLoop>
#include <QThread>
#include <gtest/gtest.h>
#include <numeric>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace corvane;
using namespace std::chrono_literals;

TEST(DispatchQueue, SerialQueueRunsInOrderOneAtATime)
{
    auto queue = DispatchQueue::makeSerial("test.serial");
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 200; ++i) {
        queue->async([&, i] {
            if (running.fetch_add(1) != 0)
                overlapped = true;
            {
                std::lock_guard lock(mutex);
                order.push_back(i);
            }
            running.fetch_sub(1);
        });
    }
    queue->sync([] {});
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(order[size_t(i)], i);
    EXPECT_FALSE(overlapped);
}

TEST(DispatchQueue, SyncReturnsValueAndKnowsItsQueue)
{
    auto queue = DispatchQueue::makeSerial("test.sync");
    EXPECT_FALSE(queue->isCurrent());
    EXPECT_TRUE(queue->sync([&] { return queue->isCurrent(); }));
    EXPECT_EQ(queue->sync([] { return 42; }), 42);
}

TEST(DispatchQueue, AsyncAfterNeverRunsEarlyAndCancelledItemsNeverRun)
{
    auto queue = DispatchQueue::makeConcurrent("test.after");
    const auto start = Clock::now();
    std::atomic<bool> ran{false};
    std::atomic<Clock::time_point::rep> when{0};
    queue->asyncAfter(0.15, [&] {
        when = Clock::now().time_since_epoch().count();
        ran = true;
    });
    auto cancelled = std::make_shared<WorkItem>([&] { ADD_FAILURE() << "cancelled item ran"; });
    queue->asyncAfter(Clock::now() + 50ms, cancelled);
    cancelled->cancel();
    ASSERT_TRUE(test::waitUntil([&] { return ran.load(); }));
    EXPECT_GE(Clock::time_point(Clock::duration(when.load())) - start, 150ms);
    test::pumpFor(100ms);
}

TEST(DispatchQueue, ItemsOfOneDeadlineRunInTheOrderAdded)
{
    auto queue = DispatchQueue::makeSerial("test.after.order");
    const auto deadline = Clock::now() + 100ms;
    std::mutex mutex;
    std::vector<int> order;
    for (int i = 0; i < 20; ++i)
        queue->asyncAfter(deadline, [&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
        });
    ASSERT_TRUE(test::waitUntil([&] {
        std::lock_guard lock(mutex);
        return order.size() == 20;
    }));
    std::vector<int> expected(20);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}

TEST(DispatchQueue, MainQueueRunsOnTheQtThread)
{
    std::atomic<bool> onMain{false};
    std::atomic<bool> done{false};
    DispatchQueue::background()->async([&] {
        EXPECT_FALSE(DispatchQueue::isMainThread());
        DispatchQueue::main()->async([&] {
            onMain = QThread::currentThread() == QCoreApplication::instance()->thread() &&
                     DispatchQueue::main()->isCurrent();
            done = true;
        });
    });
    ASSERT_TRUE(test::waitUntil([&] { return done.load(); }));
    EXPECT_TRUE(onMain);
}

TEST(DispatchQueue, WorkStillRunsWhileManyPoolThreadsBlock)
{
    DispatchSemaphore release;
    std::atomic<int> finished{0};
    for (int i = 0; i < 40; ++i) {
        DispatchQueue::userInitiated()->async([&] {
            release.wait(5s);
            ++finished;
        });
    }
    std::atomic<bool> ran{false};
    DispatchQueue::background()->async([&] { ran = true; });
    EXPECT_TRUE(test::waitUntil([&] { return ran.load(); }));
    for (int i = 0; i < 40; ++i)
        release.signal();
    // The semaphore lives on this stack: every waiter must be out of it first.
    EXPECT_TRUE(test::waitUntil([&] { return finished.load() == 40; }));
}

TEST(DispatchSemaphore, WaitTimesOutAndSignalWakes)
{
    DispatchSemaphore semaphore;
    EXPECT_FALSE(semaphore.wait(20ms));
    std::thread([&] { semaphore.signal(); }).detach();
    EXPECT_TRUE(semaphore.wait(2s));
}

TEST(DispatchQueue, MainQueueKeepsOrderAndDrainsInsideANestedLoop)
{
    std::vector<int> order;
    bool nestedSawLater = false;
    DispatchQueue::main()->async([&] {
        order.push_back(0);
        // A modal dialog's loop: work queued behind this item still runs.
        QEventLoop loop;
        DispatchQueue::main()->async([&] {
            nestedSawLater = order.size() > 1;
            loop.quit();
        });
        loop.exec();
    });
    for (int i = 1; i < 1000; ++i)
        DispatchQueue::main()->async([&order, i] { order.push_back(i); });
    ASSERT_TRUE(test::waitUntil([&] { return order.size() == 1000u; }));
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(order[size_t(i)], i);
    EXPECT_TRUE(nestedSawLater);
}
