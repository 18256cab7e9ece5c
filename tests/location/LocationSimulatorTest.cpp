#include "EngineTestSupport.h"

#include "core/ToolsetManager.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/Log.h"

#include <QFile>
#include <QTimeZone>

#include <cmath>
#include <cstdlib>
#include <ctime>

using namespace corvane;
using namespace corvane::test;
using Status = LocationSimulator::PlaybackStatus;
using Speed = LocationSimulator::SpeedOptions;
using Pace = LocationSimulator::PaceOptions;
using DateMode = LocationSimulator::TimestampDateModeOptions;
using TimeMode = LocationSimulator::TimestampTimeModeOptions;

namespace {

class LocationSimulatorTest : public EngineTest {
protected:
    void useOriginalTimestamps()
    {
        engine->setTimestampDateMode(DateMode::original);
        engine->setTimestampTimeMode(TimeMode::original);
    }

    std::vector<Location> sentLocations() const
    {
        std::vector<Location> locations;
        for (const Sent &each : sent)
            locations.push_back(each.location);
        return locations;
    }

    void clearRecords()
    {
        sent.clear();
        posted = {};
    }
};

} // namespace

TEST_F(LocationSimulatorTest, AnEmptyRouteClearsThePointOnceAndPlaybackIsOff)
{
    makeEngine();
    engine->useWithLocations(route(2));
    store->waitForSaves();
    ASSERT_TRUE(QFile::exists(storePath));
    ASSERT_TRUE(engine->playbackEnabled());
    clearRecords();

    engine->useWithLocations({});
    ASSERT_EQ(posted.updates.size(), 1u);
    EXPECT_FALSE(posted.updates[0]);
    EXPECT_EQ(posted.count(LocationSimulator::locationsChange), 1);
    EXPECT_FALSE(engine->currentLocation());
    EXPECT_FALSE(engine->currentIndex());
    EXPECT_FALSE(engine->playbackEnabled());
    EXPECT_TRUE(sent.empty());

    engine->toggle();
    engine->restart();
    EXPECT_EQ(engine->playbackState(), Status::stopped);
    store->waitForSaves();
    EXPECT_FALSE(QFile::exists(storePath));
}

TEST_F(LocationSimulatorTest, OnePointIsSentOnceStampedNowWhateverTheModes)
{
    makeEngine();
    useOriginalTimestamps();
    bool enabledTold = false;
    auto token = engine->playbackEnabledProperty().observe(
        [&](const bool &, const bool &) { enabledTold = true; });
    const Location point = route(1)[0];

    engine->useWithLocations({point});
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].location, stamped(point, now));
    EXPECT_EQ(sent[0].devices, QStringList({"UDID-A", "UDID-B"}));
    EXPECT_FALSE(engine->playbackEnabled());
    EXPECT_TRUE(enabledTold);

    engine->toggle();
    EXPECT_EQ(engine->playbackState(), Status::stopped);
    EXPECT_EQ(posted.count(LocationSimulator::statusChanged), 0);
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(LocationSimulatorTest, ANewRouteIsSavedOnceAnEqualOneOnlyRewinds)
{
    makeEngine();
    useOriginalTimestamps();
    engine->useWithLocations(route(3, 1000.0));
    engine->setCurrentIndex(2);
    store->waitForSaves();
    clearRecords();

    const auto next = route(3);
    engine->useWithLocations(next);
    ASSERT_EQ(posted.updates.size(), 2u);
    EXPECT_FALSE(posted.updates[0]);
    EXPECT_EQ(posted.updates[1], next[0]);
    EXPECT_EQ(posted.count(LocationSimulator::locationsChange), 1);
    EXPECT_EQ(posted.names.last(), LocationSimulator::locationsChange);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].location, next[0]);
    store->waitForSaves();
    EXPECT_EQ(store->load(), next);

    // An equal list: nothing saved (the file stays gone), but back to the start.
    ASSERT_TRUE(QFile::remove(storePath));
    engine->setCurrentIndex(2);
    clearRecords();
    engine->useWithLocations(route(3));
    store->waitForSaves();
    EXPECT_FALSE(QFile::exists(storePath));
    ASSERT_EQ(posted.updates.size(), 1u);
    EXPECT_EQ(posted.updates[0], next[0]);
    EXPECT_EQ(engine->currentIndex(), 0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].location, next[0]);
}

TEST_F(LocationSimulatorTest, LoadingARouteWhilePlayingStops)
{
    makeEngine();
    engine->useWithLocations(route(3));
    engine->toggle();
    ASSERT_TRUE(scheduler->isPending());
    engine->useWithLocations(route(4));
    EXPECT_EQ(engine->playbackState(), Status::stopped);
    EXPECT_FALSE(scheduler->isPending());
    EXPECT_EQ(engine->currentIndex(), 0);
}

namespace {

// Local time is read through the process's TZ, set for each test here.
class TimestampTest : public LocationSimulatorTest {
protected:
    void SetUp() override
    {
        LocationSimulatorTest::SetUp();
        const char *zone = std::getenv("TZ");
        m_previousZone = zone ? std::optional<QByteArray>(zone) : std::nullopt;
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }
    void TearDown() override
    {
        if (m_previousZone)
            qputenv("TZ", *m_previousZone);
        else
            qunsetenv("TZ");
        tzset();
        LocationSimulatorTest::TearDown();
    }

    static double local(int year, int month, int day, int hour, int minute, int second)
    {
        return double(QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::LocalTime)
                          .toSecsSinceEpoch());
    }

private:
    std::optional<QByteArray> m_previousZone;
};

} // namespace

TEST_F(TimestampTest, BothOriginalSendsTheStoredPoints)
{
    makeEngine();
    useOriginalTimestamps();
    auto points = route(2);
    points[0].timestamp += 0.125;
    engine->useWithLocations(points);
    engine->setCurrentIndex(1);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].location, points[0]);
    EXPECT_EQ(sent[1].location, points[1]);
}

TEST_F(TimestampTest, OneModeOriginalMixesDateAndTimeInLocalTime)
{
    makeEngine();
    auto points = route(2);
    points[0].timestamp = local(2021, 5, 1, 12, 34, 56) + 0.25;
    now = local(2024, 2, 10, 8, 0, 0) + 0.5;

    engine->setTimestampDateMode(DateMode::today);
    engine->setTimestampTimeMode(TimeMode::original);
    engine->useWithLocations(points);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].location, stamped(points[0], local(2024, 2, 10, 12, 34, 56) + 0.25));
    EXPECT_EQ(engine->locations()[0].timestamp, points[0].timestamp);

    engine->setTimestampDateMode(DateMode::original);
    engine->setTimestampTimeMode(TimeMode::now);
    engine->restart();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].location.timestamp, local(2021, 5, 1, 8, 0, 0) + 0.5);

    // Both to the present: the clock's moment itself.
    engine->setTimestampDateMode(DateMode::today);
    engine->restart();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].location.timestamp, now);
}

TEST_F(TimestampTest, ADateInsideTheSpringGapChangesNothing)
{
    makeEngine();
    auto points = route(3);
    points[1].timestamp = local(2020, 6, 1, 2, 30, 0);
    // Berlin skips from 02:00 to 03:00 on 2021-03-28.
    now = local(2021, 3, 28, 12, 0, 0);
    engine->setTimestampDateMode(DateMode::today);
    engine->setTimestampTimeMode(TimeMode::original);
    engine->useWithLocations(points);
    const auto shown = engine->currentLocation();
    ASSERT_TRUE(shown);
    clearRecords();

    Log::Capture log;
    engine->setCurrentIndex(1);
    EXPECT_TRUE(log.contains("Couldn't build date"));
    EXPECT_TRUE(posted.updates.empty());
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(engine->currentLocation(), shown);
    EXPECT_EQ(engine->currentIndex(), 1);
}

TEST_F(LocationSimulatorTest, TheWorkedExampleEndsStoppedOnTheFirstPoint)
{
    makeEngine();
    useOriginalTimestamps();
    engine->setSpeed(Speed::ff2);
    auto points = route(3);
    points[1].timestamp = points[0].timestamp + 30;
    points[2].timestamp = points[0].timestamp + 90;
    engine->useWithLocations(points);
    clearRecords();

    engine->toggle();
    EXPECT_EQ(engine->playbackState(), Status::playing);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].location, points[1]);
    ASSERT_TRUE(scheduler->isPending());
    EXPECT_EQ(*scheduler->delay, 30.0);

    ASSERT_TRUE(scheduler->fire());
    EXPECT_EQ(sentLocations(), std::vector<Location>({points[1], points[2], points[0]}));
    EXPECT_EQ(engine->playbackState(), Status::stopped);
    EXPECT_EQ(engine->currentIndex(), 0);
    EXPECT_FALSE(scheduler->isPending());
    EXPECT_EQ(posted.count(LocationSimulator::statusChanged), 2);
}

TEST_F(LocationSimulatorTest, DelaysFollowPaceAndSpeed)
{
    makeEngine();
    auto points = route(4);
    points[2].timestamp = points[1].timestamp;
    points[3].timestamp = NAN;
    engine->useWithLocations(points);

    engine->setPace(Pace::fixed);
    engine->setSpeed(Speed::sl05);
    engine->toggle();
    EXPECT_EQ(*scheduler->delay, 10.0);
    engine->restart();
    engine->setSpeed(Speed::ff100);
    EXPECT_EQ(*scheduler->delay, 0.05);

    // Realtime from index 0: equal timestamps, then a NaN one.
    engine->toggle();
    engine->setPace(Pace::realtime);
    engine->setSpeed(Speed::normal);
    engine->restart();
    engine->toggle();
    EXPECT_EQ(engine->currentIndex(), 1);
    EXPECT_EQ(*scheduler->delay, 0.0);
    ASSERT_TRUE(scheduler->fire());
    EXPECT_TRUE(std::isnan(*scheduler->delay));
    EXPECT_EQ(StepScheduler::intervalMilliseconds(*scheduler->delay), 0);
    EXPECT_EQ(settings->gpsPace(), "realtime");
    EXPECT_EQ(settings->gpsSpeed(), "normal");
}

TEST_F(LocationSimulatorTest, ASpeedChangeWhilePlayingAdvancesAtOnce)
{
    makeEngine();
    engine->useWithLocations(route(5));
    engine->toggle();
    ASSERT_EQ(engine->currentIndex(), 1);
    sent.clear();

    engine->setSpeed(Speed::ff10);
    EXPECT_EQ(engine->currentIndex(), 2);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].location.coordinate, route(5)[2].coordinate);
    EXPECT_EQ(*scheduler->delay, 6.0);
    EXPECT_EQ(settings->gpsSpeed(), "ff10");

    // Stopped, a change only stores.
    engine->toggle();
    engine->setPace(Pace::fixed);
    EXPECT_EQ(engine->currentIndex(), 2);
    EXPECT_FALSE(scheduler->isPending());
    EXPECT_EQ(settings->gpsPace(), "fixed");
}

TEST_F(LocationSimulatorTest, RestartWhilePlayingSendsTheFirstThenTheSecondPoint)
{
    makeEngine();
    useOriginalTimestamps();
    const auto points = route(4);
    engine->useWithLocations(points);
    engine->toggle();
    ASSERT_TRUE(scheduler->fire());
    ASSERT_EQ(engine->currentIndex(), 2);
    clearRecords();

    engine->restart();
    EXPECT_EQ(sentLocations(), std::vector<Location>({points[0], points[1]}));
    EXPECT_EQ(posted.count(LocationSimulator::statusChanged), 2);
    EXPECT_EQ(engine->playbackState(), Status::playing);
    EXPECT_TRUE(scheduler->isPending());
}

TEST_F(LocationSimulatorTest, WithoutAToolsetPointsArePostedButNotSent)
{
    setDevices({});
    makeEngine();
    engine->useWithLocations(route(2));
    ASSERT_EQ(posted.updates.size(), 2u);
    EXPECT_TRUE(posted.updates[1]);
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(engine->activeSimulators().isEmpty());
    EXPECT_FALSE(engine->supportsAdditionalFields());
}

TEST_F(LocationSimulatorTest, LosingTheToolsetForcesOriginalModesAndStoresThem)
{
    makeEngine();
    ASSERT_TRUE(engine->supportsAdditionalFields());
    useOriginalTimestamps();
    engine->useWithLocations(route(2));
    sent.clear();

    setDevices({});
    NotificationCenter::defaultCenter().post(ToolsetManager::currentDidChange);
    ASSERT_TRUE(waitUntil([&] { return !engine->supportsAdditionalFields(); }));
    EXPECT_EQ(engine->timestampDateMode(), DateMode::today);
    EXPECT_EQ(engine->timestampTimeMode(), TimeMode::now);
    EXPECT_EQ(settings->gpsTimestampsDateMode(), "today");
    EXPECT_EQ(settings->gpsTimestampsTimeMode(), "now");
    EXPECT_TRUE(engine->activeSimulators().isEmpty());
    engine->restart();
    EXPECT_TRUE(sent.empty());

    // A toolset again, with new devices: they take the point shown.
    setDevices({true, true, false, {"UDID-C"}});
    NotificationCenter::defaultCenter().post(ToolsetManager::currentDidChange);
    ASSERT_TRUE(waitUntil([&] { return !engine->activeSimulators().isEmpty(); }));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].devices, QStringList{"UDID-C"});
}

TEST_F(LocationSimulatorTest, ADeviceListChangeSendsToNewDevicesOnly)
{
    makeEngine();
    engine->useWithLocations(route(2));
    sent.clear();

    setDevices({true, true, true, {"UDID-B", "UDID-C", "UDID-A"}});
    NotificationCenter::defaultCenter().post(Notifications::deviceListDidChange);
    ASSERT_TRUE(waitUntil([&] { return engine->activeSimulators().size() == 3; }));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].devices, QStringList{"UDID-C"});
    EXPECT_EQ(sent[0].location, *engine->currentLocation());

    // A list without a watcher behind it changes nothing.
    setDevices({true, false, true, {}});
    NotificationCenter::defaultCenter().post(Notifications::deviceListDidChange);
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(engine->activeSimulators().size(), 3);
}

TEST_F(LocationSimulatorTest, AnApplicationUpdateRestartsOnlyWithAutoRewind)
{
    makeEngine();
    engine->useWithLocations(route(3));
    engine->setCurrentIndex(2);
    engine->setAutoRewindEnabled(false);
    NotificationCenter::defaultCenter().post(Application::applicationDidUpdate);
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(engine->currentIndex(), 2);

    engine->setAutoRewindEnabled(true);
    EXPECT_TRUE(settings->gpsAutoRewind());
    NotificationCenter::defaultCenter().post(Application::applicationDidUpdate);
    ASSERT_TRUE(waitUntil([&] { return engine->currentIndex() == 0; }));
}

TEST_F(LocationSimulatorTest, StoredOptionsAreReadAndUnknownOnesGiveTheFirstCase)
{
    settings->setGpsTimestampsDateMode("original");
    settings->setGpsTimestampsTimeMode("original");
    settings->setGpsPace("fixed");
    settings->setGpsSpeed("ff5");
    settings->setGpsAutoRewind(true);
    makeEngine();
    EXPECT_EQ(engine->timestampDateMode(), DateMode::original);
    EXPECT_EQ(engine->timestampTimeMode(), TimeMode::original);
    EXPECT_EQ(engine->pace(), Pace::fixed);
    EXPECT_EQ(engine->speed(), Speed::ff5);
    EXPECT_TRUE(engine->autoRewindEnabled());
    engine.reset();

    settings->setGpsTimestampsTimeMode("Original");
    settings->setGpsPace("warp");
    settings->setGpsSpeed("ff1000");
    settings->setGpsAutoRewind(false);
    // Without a toolset, construction still leaves the options alone.
    setDevices({});
    makeEngine();
    EXPECT_FALSE(engine->supportsAdditionalFields());
    EXPECT_EQ(engine->timestampDateMode(), DateMode::original);
    EXPECT_EQ(engine->timestampTimeMode(), TimeMode::now);
    EXPECT_EQ(engine->pace(), Pace::realtime);
    EXPECT_EQ(engine->speed(), Speed::normal);
    EXPECT_FALSE(engine->autoRewindEnabled());
    EXPECT_EQ(settings->gpsTimestampsDateMode(), "original");
    EXPECT_EQ(settings->gpsTimestampsTimeMode(), "Original");
    EXPECT_EQ(settings->gpsPace(), "warp");
    EXPECT_EQ(settings->gpsSpeed(), "ff1000");
}

TEST_F(LocationSimulatorTest, TheLastRouteIsLoadedAtStart)
{
    const auto points = route(3);
    ASSERT_TRUE(LastLocationsStore(storePath).save(points));
    makeEngine();
    EXPECT_EQ(engine->locations(), points);
    EXPECT_EQ(engine->currentIndex(), 0);
    EXPECT_TRUE(engine->playbackEnabled());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].location.coordinate, points[0].coordinate);
    EXPECT_EQ(sent[0].devices, QStringList({"UDID-A", "UDID-B"}));
}

TEST_F(LocationSimulatorTest, ACorruptFileGivesAnEmptyRouteAndStays)
{
    ASSERT_TRUE(writeFile(storePath, "[{\"cordinate\": {\"lat\": 1, \"lon\": 2}}]"));
    makeEngine();
    EXPECT_TRUE(engine->locations().empty());
    EXPECT_FALSE(engine->currentLocation());
    store->waitForSaves();
    EXPECT_EQ(readFile(storePath), "[{\"cordinate\": {\"lat\": 1, \"lon\": 2}}]");
}

TEST_F(LocationSimulatorTest, ARouteAssignedBeforeTheStartUpLoadSurvivesIt)
{
    ASSERT_TRUE(LastLocationsStore(storePath).save(route(3, 1000.0)));
    engine = LocationSimulator::make(environment());
    // Still on the main thread: the load cannot have been taken in yet.
    const auto chosen = route(2);
    engine->useWithLocations(chosen);
    ASSERT_TRUE(waitUntil([this] { return engine->isReady(); }));
    EXPECT_EQ(engine->locations(), chosen);
    store->waitForSaves();
    EXPECT_EQ(store->load(), chosen);
}
