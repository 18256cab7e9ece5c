#include "common/TestSupport.h"
#include "platform/notifications/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace corvane;

namespace {
struct Sender : Object {};
} // namespace

TEST(NotificationCenter, FiltersBySenderAndStopsAfterRemoval)
{
    NotificationCenter center;
    auto a = std::make_shared<Sender>();
    auto b = std::make_shared<Sender>();
    int fromA = 0;
    int fromAny = 0;
    auto tokenA = center.addObserver("n", a, nullptr, [&](const Notification &) { ++fromA; });
    auto tokenAny = center.addObserver("n", nullptr, nullptr, [&](const Notification &n) {
        ++fromAny;
        EXPECT_EQ(n.userInfo.value("k").toInt(), 7);
    });
    center.post("n", a, {{"k", 7}});
    center.post("n", b, {{"k", 7}});
    center.post("other", a);
    EXPECT_EQ(fromA, 1);
    EXPECT_EQ(fromAny, 2);
    center.removeObserver(tokenA);
    center.post("n", a, {{"k", 7}});
    EXPECT_EQ(fromA, 1);
    EXPECT_EQ(center.observerCount("n"), 1);
}

TEST(NotificationCenter, QueuedDeliveryIsDroppedAfterRemoval)
{
    NotificationCenter center;
    std::atomic<int> delivered{0};
    auto token = center.addObserver("n", nullptr, DispatchQueue::main(),
                                    [&](const Notification &) { ++delivered; });
    center.post("n");
    EXPECT_EQ(delivered.load(), 0);
    EXPECT_TRUE(test::waitUntil([&] { return delivered.load() == 1; }));
    center.post("n");
    center.removeObserver(token);
    test::pumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(delivered.load(), 1);
}
