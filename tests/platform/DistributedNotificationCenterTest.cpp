#include "common/TestSupport.h"
#include "platform/notifications/DistributedNotificationCenter.h"
#include "platform/notifications/DistributedNotificationRecorder.h"

#include <QDBusConnection>
#include <gtest/gtest.h>

using namespace corvane;

TEST(DistributedNotificationCenter, RecorderKeepsPostsAndDeliversByName)
{
    auto recorder = DistributedNotificationRecorder::make();
    std::vector<DistributedNotification> heard;
    auto token = recorder->observe("a.b", [&](const auto &n) { heard.push_back(n); });
    recorder->post("a.b", "obj", {{"k", 1.5}});
    recorder->post("other", QString(), {});
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].object, "obj");
    EXPECT_EQ(recorder->posted().size(), 2u);
    token->invalidate();
    recorder->post("a.b", QString(), {});
    EXPECT_EQ(heard.size(), 1u);
}

TEST(DistributedNotificationCenter, RoundTripOverTheSessionBus)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no D-Bus session bus";
    auto center = DistributedNotificationCenter::makeDBusCenter();
    std::vector<DistributedNotification> heard;
    auto token = center->observe("com.quendrith.corvane.test.roundTrip",
                                 [&](const auto &n) { heard.push_back(n); });
    const QVariantMap userInfo{{"latitude", 52.5},
                               {"devices", QStringList{"A", "B"}},
                               {"empty", QStringList{}},
                               {"nested", QVariantMap{{"x", "y"}}}};
    center->post("com.quendrith.corvane.test.other", QString(), {});
    center->post("com.quendrith.corvane.test.roundTrip", "the.object", userInfo);
    ASSERT_TRUE(test::waitUntil([&] { return !heard.empty(); }));
    test::pumpFor(std::chrono::milliseconds(50));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].name, "com.quendrith.corvane.test.roundTrip");
    EXPECT_EQ(heard[0].object, "the.object");
    EXPECT_EQ(heard[0].userInfo.value("latitude").toDouble(), 52.5);
    EXPECT_EQ(heard[0].userInfo.value("devices").toStringList(), (QStringList{"A", "B"}));
    EXPECT_TRUE(heard[0].userInfo.contains("empty"));
    EXPECT_TRUE(heard[0].userInfo.value("empty").toStringList().isEmpty());
    EXPECT_EQ(heard[0].userInfo.value("nested").toMap().value("x").toString(), "y");
}
