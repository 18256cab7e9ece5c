#include "core/Geodesy.h"
#include "core/Location.h"
#include "core/SimulateLocation.h"
#include "platform/notifications/DistributedNotificationRecorder.h"

#include <QTimeZone>
#include <gtest/gtest.h>

#include <cmath>
#include <unordered_set>

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

TEST(Location, EqualityIsExactBeyondTheCoordinateEpsilon)
{
    const Location location = sample();
    Location other = location;
    EXPECT_EQ(other, location);
    EXPECT_EQ(other.hash(), location.hash());

    // QGeoCoordinate's own comparison calls these equal.
    Location a(37, -122);
    Location b(37 + 1e-14, -122);
    ASSERT_TRUE(a.coordinate == b.coordinate);
    EXPECT_NE(a, b);

    Location c(0.5, 0.5);
    Location d(0.5 + 1e-15, 0.5);
    EXPECT_NE(c, d);
    Location e(1e-17, -0.0);
    Location f(0.0, 1e-17);
    EXPECT_EQ(e, f);
    EXPECT_TRUE(coordinatesEqual(e.coordinate, f.coordinate));
    EXPECT_EQ(coordinateHash(e.coordinate), coordinateHash(f.coordinate));
    EXPECT_EQ(e.hash(), f.hash());

    for (double Location::*field :
         {&Location::altitude, &Location::course, &Location::speed, &Location::horizontalAccuracy,
          &Location::verticalAccuracy, &Location::timestamp}) {
        Location changed = location;
        changed.*field += 0.001;
        EXPECT_NE(changed, location);
    }
    Location nan = location;
    nan.speed = NAN;
    EXPECT_NE(nan, nan);

    // Coordinates with no integer form hash without trouble.
    Location unknown;
    Location huge;
    huge.coordinate.setLatitude(1e300);
    huge.coordinate.setLongitude(-1e300);
    std::unordered_set<Location> set{location, unknown, huge, location};
    EXPECT_EQ(set.size(), 3u);
}

TEST(Location, ACoordinateOnlyFixHasNothingButItsPlaceAndTime)
{
    const Location fix = Location::coordinateOnly(37.5, -122.25, 1700000000.75);
    EXPECT_EQ(fix.coordinate.latitude(), 37.5);
    EXPECT_EQ(fix.coordinate.longitude(), -122.25);
    EXPECT_EQ(fix.altitude, 0);
    EXPECT_EQ(fix.horizontalAccuracy, 0);
    EXPECT_EQ(fix.verticalAccuracy, -1);
    EXPECT_EQ(fix.course, -1);
    EXPECT_EQ(fix.speed, -1);
    EXPECT_EQ(fix.timestamp, 1700000000.75);
}

TEST(Geodesy, BearingPointsAlongTheGreatCircle)
{
    const auto at = [](double latitude, double longitude) {
        return QGeoCoordinate(latitude, longitude);
    };
    EXPECT_DOUBLE_EQ(bearing(at(0, 0), at(0, 1)), 90);
    EXPECT_DOUBLE_EQ(bearing(at(0, 0), at(1, 0)), 0);
    EXPECT_DOUBLE_EQ(bearing(at(0, 0), at(0, -1)), -90);
    EXPECT_DOUBLE_EQ(bearing(at(1, 0), at(0, 0)), 180);
    // Paris to New York leaves west-north-west, not due west.
    EXPECT_NEAR(bearing(at(48.8566, 2.3522), at(40.7128, -74.0060)), -68.206, 0.001);
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
