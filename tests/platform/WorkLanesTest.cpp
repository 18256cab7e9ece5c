#include "common/TestSupport.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/queues/WorkLanes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace corvane;

TEST(WorkLanes, RunsEverythingFirstComeFirstAtMostWidthAtATime)
{
    WorkLanes lanes(DispatchQueue::makeConcurrent("test.worklanes"), 3);
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int running = 0;
    int most = 0;
    std::vector<int> started;
    for (int i = 0; i < 10; ++i)
        lanes.async([&, i] {
            std::unique_lock lock(mutex);
            started.push_back(i);
            most = std::max(most, ++running);
            changed.notify_all();
            changed.wait(lock, [&] { return open; });
            --running;
            changed.notify_all();
        });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return running == 3; }));
        // The lanes take the first three, in whatever order they start them.
        std::vector<int> first = started;
        std::sort(first.begin(), first.end());
        EXPECT_EQ(first, (std::vector<int>{0, 1, 2}));
        open = true;
    }
    changed.notify_all();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30),
                                     [&] { return started.size() == 10 && running == 0; }));
    }
    EXPECT_EQ(most, 3);
    // A later item finds a free lane again.
    bool ran = false;
    lanes.async([&] {
        std::lock_guard lock(mutex);
        ran = true;
        changed.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return ran; }));
    }
    EXPECT_TRUE(test::waitForBackgroundWork());
}
