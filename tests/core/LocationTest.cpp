#include "core/Location.h"
#include "core/SimulateLocation.h"
#include "platform/DistributedNotificationRecorder.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

Location sample()
{
    Location location(52.520008, 13.404954);
    location.altitude = 34.5;
    location.course = -1;
    location.speed = 4.25;
    location.horizontalAccuracy = 5;
    location.verticalAccuracy = -1;
    location.timestamp = 1700000000.125;
    return location;
}

} // namespace

TEST(Location, ConvertsToAndFromPositionInfoKeepingInvalidValues)
{
    const Location location = sample();
    const QGeoPositionInfo info = location.toPositionInfo();
    EXPECT_DOUBLE_EQ(info.coordinate().altitude(), 34.5);
    EXPECT_EQ(info.attribute(QGeoPositionInfo::Direction), -1);
    EXPECT_EQ(info.timestamp().toMSecsSinceEpoch(), 1700000000125);
    EXPECT_EQ(Location::fromPositionInfo(info), location);

    const Location bare = Location::fromPositionInfo(QGeoPositionInfo(
        QGeoCoordinate(1, 2), QDateTime::fromSecsSinceEpoch(10, QTimeZone::utc())));
    EXPECT_EQ(bare.altitude, 0);
    EXPECT_EQ(bare.course, -1);
    EXPECT_EQ(bare.speed, -1);
    EXPECT_EQ(bare.horizontalAccuracy, -1);
    EXPECT_EQ(bare.timestamp, 10.0);
}

TEST(SimulateLocation, PostsTheNineKeysWithTheValuesAsTheyStand)
{
    auto recorder = DistributedNotificationRecorder::make();
    Location location = sample();
    location.setDateTime(QDateTime(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc()));
    simulateLocation(location, {"8A1F0C3E-0000-4000-8000-000000000001"}, recorder);
    simulateLocation(location, {}, recorder);

    const auto posted = recorder->posted();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].name, "com.apple.iphonesimulator.simulateLocation");
    EXPECT_TRUE(posted[0].object.isEmpty());
    const QVariantMap info = posted[0].userInfo;
    EXPECT_EQ(info.size(), 9);
    EXPECT_EQ(info.value("simulateLocationLatitude").toDouble(), 52.520008);
    EXPECT_EQ(info.value("simulateLocationLongitude").toDouble(), 13.404954);
    EXPECT_EQ(info.value("simulateLocationAltitude").toDouble(), 34.5);
    EXPECT_EQ(info.value("simulateLocationCourse").toDouble(), -1.0);
    EXPECT_EQ(info.value("simulateLocationSpeed").toDouble(), 4.25);
    EXPECT_EQ(info.value("simulateLocationHorizontalAccuracy").toDouble(), 5.0);
    EXPECT_EQ(info.value("simulateLocationVerticalAccuracy").toDouble(), -1.0);
    EXPECT_EQ(info.value("simulateLocationTimestamp").typeId(), QMetaType::Double);
    EXPECT_EQ(info.value("simulateLocationTimestamp").toDouble(), 978307200.0);
    EXPECT_EQ(info.value("simulateLocationDevices").toStringList(),
              QStringList{"8A1F0C3E-0000-4000-8000-000000000001"});

    EXPECT_TRUE(posted[1].userInfo.contains("simulateLocationDevices"));
    EXPECT_TRUE(posted[1].userInfo.value("simulateLocationDevices").toStringList().isEmpty());
}
