#include "EngineTestSupport.h"

#include "core/SimulateLocation.h"
#include "core/ToolsetManager.h"
#include "fixtures/DemoTree.h"
#include "fixtures/FixtureTree.h"
#include "model/DeviceWatcher.h"
#include "platform/notifications/DistributedNotificationRecorder.h"

#include <QDBusConnection>

#include <climits>
#include <cmath>

using namespace corvane;
using namespace corvane::test;
using namespace std::chrono_literals;

TEST(TimerStepScheduler, OneStepWaitsAtATimeAndOddDelaysAreTamed)
{
    EXPECT_EQ(StepScheduler::intervalMilliseconds(0.05), 50);
    EXPECT_EQ(StepScheduler::intervalMilliseconds(-3), 0);
    EXPECT_EQ(StepScheduler::intervalMilliseconds(NAN), 0);
    EXPECT_EQ(StepScheduler::intervalMilliseconds(INFINITY), INT_MAX);
    EXPECT_EQ(StepScheduler::intervalMilliseconds(1e12), INT_MAX);

    TimerStepScheduler scheduler;
    int first = 0;
    int second = 0;
    scheduler.schedule(NAN, [&] { ++first; });
    EXPECT_TRUE(scheduler.isPending());
    ASSERT_TRUE(waitUntil([&] { return first == 1; }));
    EXPECT_FALSE(scheduler.isPending());

    scheduler.schedule(3600, [&] { ++first; });
    scheduler.schedule(0.01, [&] { ++second; });
    ASSERT_TRUE(waitUntil([&] { return second == 1; }));
    pumpFor(50ms);
    EXPECT_EQ(first, 1);

    scheduler.schedule(INFINITY, [&] { ++first; });
    EXPECT_TRUE(scheduler.isPending());
    scheduler.cancel();
    EXPECT_FALSE(scheduler.isPending());

    // A step that schedules the next from inside itself keeps it.
    std::function<void()> step = [&] {
        if (++second < 4)
            scheduler.schedule(0, step);
    };
    scheduler.schedule(0, step);
    ASSERT_TRUE(waitUntil([&] { return second == 4; }));
    EXPECT_FALSE(scheduler.isPending());
}

namespace {

// The simulated Xcode's tree behind the real toolset manager and device
// watcher; locations go to a recorder.
class FixturePlaybackTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        m_tree.addRuntime("iOS", "17.5");
        m_tree.selectXcode(m_tree.addXcode());
        m_tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.5"});
        m_tree.addDevice({.name = "iPad Air 11-inch (M2)", .runtime = "iOS 17.5"});
        SystemPaths paths = m_tree.paths();
        paths.applicationSupport = SystemPaths::current().applicationSupport;
        paths.configDir = SystemPaths::current().configDir;
        SystemPaths::setCurrent(paths);
        DeviceWatcher::installAsToolsetWatcherFactory();
        ToolsetManager::resetShared();
        recorder = DistributedNotificationRecorder::make();
        DistributedNotificationCenter::setDefaultCenter(recorder);
    }

    void TearDown() override
    {
        engine.reset();
        ToolsetManager::resetShared();
        DistributedNotificationCenter::setDefaultCenter(nullptr);
        EngineTest::TearDown();
    }

    fixture::FixtureTree m_tree;
    std::shared_ptr<DistributedNotificationRecorder> recorder;
};

} // namespace

TEST_F(FixturePlaybackTest, ADeviceAddedToTheListGetsOnlyThePointShown)
{
    auto environment = this->environment();
    environment.devices = LocationSimulator::currentToolsetDevices;
    environment.sink = [](const Location &location, const QStringList &devices) {
        simulateLocation(location, devices);
    };
    engine = LocationSimulator::make(environment);
    ASSERT_TRUE(waitUntil([&] { return engine->isReady(); }, 20s));
    const QStringList listed = engine->activeSimulators();
    ASSERT_EQ(listed.size(), 2);
    EXPECT_FALSE(engine->supportsAdditionalFields());

    engine->useWithLocations(route(2));
    ASSERT_EQ(recorder->posted().size(), 1u);
    EXPECT_EQ(recorder->posted()[0].userInfo.value("simulateLocationDevices").toStringList(),
              listed);

    const QString added = m_tree.addDevice({.name = "iPhone 15 Pro", .runtime = "iOS 17.5"});
    ASSERT_TRUE(waitUntil([&] { return engine->activeSimulators().size() == 3; }, 20s));
    const auto posted = recorder->posted();
    ASSERT_EQ(posted.size(), 2u);
    const QVariantMap info = posted[1].userInfo;
    EXPECT_EQ(info.value("simulateLocationDevices").toStringList(), QStringList{added});
    EXPECT_EQ(info.value("simulateLocationLatitude").toDouble(),
              engine->currentLocation()->coordinate.latitude());
}

// The demo's Simulator stand-in listens on the session bus, as the real one
// takes the distributed notification.
TEST(SimulatorPlayback, TheSimulatorReceivesEveryPointThenTheFirstAgain)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no D-Bus session bus (make test runs under dbus-run-session)";
    QTemporaryDir dir;
    const QString root = dir.filePath("demo");
    QString error;
    ASSERT_TRUE(fixture::layOutDemo(root, &error)) << error.toStdString();
    fixture::FixtureTree tree(root);
    ASSERT_TRUE(waitUntil([&] { return tree.isSimulatorListening(); }, 20s));

    SystemPaths::setCurrent(tree.paths());
    CorvaneSettings::resetShared(UserDefaults::withFile(dir.filePath("defaults.conf")),
                                 std::make_shared<CloudKeyValueStore>(dir.filePath("kvs.json")));
    CorvaneSettings::shared()->registerCommonSettings();
    DeviceWatcher::installAsToolsetWatcherFactory();
    ToolsetManager::resetShared();
    DistributedNotificationCenter::setDefaultCenter(nullptr);
    // Selected before the engine exists, so that no later toolset change
    // resets the timestamp modes set below.
    ASSERT_TRUE(ToolsetManager::shared()->current());
    pumpFor(100ms);

    auto engine = LocationSimulator::make(LocationSimulator::Environment::standard());
    ASSERT_TRUE(waitUntil([&] { return engine->isReady(); }, 20s));
    const QStringList devices = engine->activeSimulators();
    EXPECT_EQ(devices.size(), 11);
    engine->setTimestampDateMode(LocationSimulator::TimestampDateModeOptions::original);
    engine->setTimestampTimeMode(LocationSimulator::TimestampTimeModeOptions::original);
    engine->setPace(LocationSimulator::PaceOptions::fixed);
    engine->setSpeed(LocationSimulator::SpeedOptions::ff100);

    std::vector<Location> points;
    for (int i = 0; i < 5; ++i) {
        Location point(51.5007 + i * 0.000123456789, -0.1246 - i * 0.000987654321);
        point.altitude = 11.5 + i;
        point.horizontalAccuracy = 4.25;
        point.verticalAccuracy = i == 2 ? -1 : 3.5;
        point.course = i == 4 ? -1 : 45.5 * i;
        point.speed = 1.3 * i;
        point.timestamp = 1714557600.125 + 7.5 * i;
        points.push_back(point);
    }
    engine->useWithLocations(points);
    engine->toggle();
    ASSERT_TRUE(waitUntil([&] { return tree.receivedLocations().size() >= 6; }, 20s));
    EXPECT_EQ(engine->playbackState(), LocationSimulator::PlaybackStatus::stopped);
    pumpFor(200ms);

    const auto received = tree.receivedLocations();
    ASSERT_EQ(received.size(), 6);
    const int order[] = {0, 1, 2, 3, 4, 0};
    for (int i = 0; i < 6; ++i) {
        const QVariantMap &info = received[i];
        const Location &point = points[size_t(order[i])];
        EXPECT_EQ(info.value("simulateLocationLatitude").toDouble(), point.coordinate.latitude());
        EXPECT_EQ(info.value("simulateLocationLongitude").toDouble(), point.coordinate.longitude());
        EXPECT_EQ(info.value("simulateLocationAltitude").toDouble(), point.altitude);
        EXPECT_EQ(info.value("simulateLocationHorizontalAccuracy").toDouble(),
                  point.horizontalAccuracy);
        EXPECT_EQ(info.value("simulateLocationVerticalAccuracy").toDouble(),
                  point.verticalAccuracy);
        EXPECT_EQ(info.value("simulateLocationCourse").toDouble(), point.course);
        EXPECT_EQ(info.value("simulateLocationSpeed").toDouble(), point.speed);
        EXPECT_EQ(info.value("simulateLocationTimestamp").toDouble(), point.timestamp);
        EXPECT_EQ(info.value("simulateLocationDevices").toStringList(), devices) << i;
    }

    engine.reset();
    ToolsetManager::resetShared();
    DispatchQueue::waitUntilIdle(10s);
    CorvaneSettings::resetShared();
    SystemPaths::resetToEnvironment();
}
