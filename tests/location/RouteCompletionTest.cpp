#include "core/Geodesy.h"
#include "location/CoordinateText.h"
#include "location/DrawnRoute.h"
#include "location/TrackFill.h"

#include <gtest/gtest.h>

#include <cmath>

namespace corvane {
namespace {

using Kind = GPXParser::ParseResults;

Location fix(const QGeoCoordinate &coordinate, double timestamp, double speed = -1,
             double course = -1)
{
    Location location;
    location.coordinate = coordinate;
    location.altitude = 12;
    location.horizontalAccuracy = 4;
    location.verticalAccuracy = 6;
    location.timestamp = timestamp;
    location.speed = speed;
    location.course = course;
    return location;
}

const QGeoCoordinate origin(47.3769, 8.5417);

TEST(FillTrack, AnAssumedSpeedTimesATrackThatHasNeither)
{
    const QGeoCoordinate second = destination(origin, 1000, 60);
    const std::vector<Location> read = {
        Location::coordinateOnly(47.3769, 8.5417, 500),
        Location::coordinateOnly(second.latitude(), second.longitude(), 500)};
    const auto filled = fillTrack(
        read, {Kind::elevation, Kind::timestamp, Kind::speed, Kind::course, Kind::accuracy},
        DrawMode::drive);
    ASSERT_EQ(filled.size(), 2u);
    EXPECT_EQ(filled[0].timestamp, 500);
    EXPECT_NEAR(filled[1].timestamp, 540, 1e-4);
    EXPECT_EQ(filled[0].speed, 25);
    EXPECT_EQ(filled[1].speed, 25);
    EXPECT_NEAR(filled[0].course, 60, 1e-6);
    EXPECT_EQ(filled[1].course, -1);
    // Place, altitude and accuracies stay as read.
    EXPECT_EQ(filled[1].coordinate, read[1].coordinate);
    EXPECT_EQ(filled[1].verticalAccuracy, -1);
}

TEST(FillTrack, TimesWithoutSpeedsGiveDistanceOverTime)
{
    const QGeoCoordinate b = destination(origin, 100, 0);
    const QGeoCoordinate c = destination(b, 30, 90);
    const std::vector<Location> read = {fix(origin, 10, 3), fix(b, 30, 7), fix(c, 30, 9),
                                        fix(origin, 20, 4)};
    // The mode plays no part once times are there.
    const auto filled = fillTrack(read, {Kind::speed, Kind::accuracy}, DrawMode::fly);
    ASSERT_EQ(filled.size(), 4u);
    EXPECT_EQ(filled[0].speed, 3);
    EXPECT_NEAR(filled[1].speed, distanceMetres(origin, b) / 20, 1e-9);
    EXPECT_EQ(filled[2].speed, 9); // no time between them
    EXPECT_EQ(filled[3].speed, 4); // time going backwards
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(filled[i].timestamp, read[i].timestamp);
        EXPECT_EQ(filled[i].course, -1);
        EXPECT_EQ(filled[i].altitude, 12);
        EXPECT_EQ(filled[i].horizontalAccuracy, 4);
    }
}

TEST(FillTrack, SpeedsWithoutTimesChainFromThePreviousFilledPoint)
{
    const QGeoCoordinate b = destination(origin, 100, 0);
    const QGeoCoordinate c = destination(b, 50, 0);
    const QGeoCoordinate d = destination(c, 40, 0);
    const std::vector<Location> read = {fix(origin, 1000, 5), fix(b, 1000, 10), fix(c, 7, 0),
                                        fix(d, 1000, 4)};
    const auto filled = fillTrack(read, {Kind::timestamp}, std::nullopt);
    ASSERT_EQ(filled.size(), 4u);
    EXPECT_EQ(filled[0].timestamp, 1000);
    EXPECT_NEAR(filled[1].timestamp, 1000 + distanceMetres(origin, b) / 10, 1e-9);
    EXPECT_EQ(filled[2].timestamp, 7); // no speed to travel by
    EXPECT_NEAR(filled[3].timestamp, 7 + distanceMetres(c, d) / 4, 1e-9);
    EXPECT_EQ(filled[1].speed, 10);
    EXPECT_EQ(filled[2].speed, 0);
}

TEST(FillTrack, CoursesHeadForTheNextPointAndNothingElseChangesWhenComplete)
{
    const QGeoCoordinate b = destination(origin, 100, -135);
    const std::vector<Location> read = {fix(origin, 1, 2, 10), fix(b, 2, 2, 20),
                                        fix(origin, 3, 2, 30)};
    const auto filled = fillTrack(read, {Kind::course}, DrawMode::walk);
    EXPECT_NEAR(filled[0].course, -135, 1e-6);
    EXPECT_DOUBLE_EQ(filled[1].course, bearing(b, origin));
    EXPECT_NEAR(filled[1].course, 45, 1e-2);
    EXPECT_EQ(filled[2].course, 30);

    EXPECT_EQ(fillTrack(read, {Kind::accuracy}, DrawMode::walk), read);
    EXPECT_TRUE(fillTrack({}, {Kind::timestamp, Kind::course}, DrawMode::bike).empty());
}

// Drawn points stand for the coordinates in a table, by their x; the y is
// passed through untouched, so the callback sees what the map gave.
class StrokeTest : public ::testing::Test {
protected:
    std::optional<std::vector<Location>> convert(const std::vector<QGeoCoordinate> &coordinates,
                                                 DrawMode mode)
    {
        table = coordinates;
        std::vector<QPointF> points;
        for (std::size_t i = 0; i < coordinates.size(); ++i)
            points.emplace_back(double(i), 300.0 - double(i));
        return routeFromStroke(
            points,
            [this](const QPointF &point) {
                seenY.push_back(point.y());
                return table.at(std::size_t(point.x()));
            },
            mode, start);
    }

    static constexpr double start = 1700000000;
    std::vector<QGeoCoordinate> table;
    std::vector<double> seenY;
};

TEST_F(StrokeTest, FewerThanThreePointsMakeNoRoute)
{
    EXPECT_EQ(convert({origin, destination(origin, 3, 0)}, DrawMode::walk), std::nullopt);
    EXPECT_EQ(convert({}, DrawMode::fly), std::nullopt);
}

TEST_F(StrokeTest, ShortStretchesKeepEachDrawnPoint)
{
    const QGeoCoordinate b = destination(origin, 3, 90);
    const QGeoCoordinate c = destination(b, 4, 200);
    const auto route = convert({origin, b, c}, DrawMode::walk);
    ASSERT_TRUE(route);
    ASSERT_EQ(route->size(), 3u);
    EXPECT_EQ(seenY, (std::vector<double>{300, 299, 298}));
    const double ab = distanceMetres(origin, b);
    const double bc = distanceMetres(b, c);
    EXPECT_EQ((*route)[0].timestamp, start);
    EXPECT_DOUBLE_EQ((*route)[1].timestamp, start + ab / 2);
    EXPECT_DOUBLE_EQ((*route)[2].timestamp, start + ab / 2 + bc / 2);
    EXPECT_EQ((*route)[1].coordinate, b);
    EXPECT_DOUBLE_EQ((*route)[0].course, bearing(origin, b));
    // Heading south-south-west is a negative course, kept as it is.
    EXPECT_DOUBLE_EQ((*route)[1].course, bearing(b, c));
    EXPECT_LT((*route)[1].course, 0);
    EXPECT_EQ((*route)[2].course, 0);
    for (const Location &location : *route) {
        EXPECT_EQ(location.altitude, 0);
        EXPECT_EQ(location.horizontalAccuracy, 10);
        EXPECT_EQ(location.verticalAccuracy, 10);
        EXPECT_EQ(location.speed, 2);
    }
}

TEST_F(StrokeTest, LongStretchesAreWalkedInSteps)
{
    const QGeoCoordinate b = destination(origin, 10, 30);
    const QGeoCoordinate c = destination(b, 2, 120);
    const auto route = convert({origin, b, c}, DrawMode::walk);
    ASSERT_TRUE(route);
    // A, then B replaced by the points at 4, 8 and 10 m, then C.
    ASSERT_EQ(route->size(), 5u);
    const double ab = distanceMetres(origin, b);
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        const Location &step = (*route)[std::size_t(i)];
        EXPECT_NEAR(distanceMetres(origin, step.coordinate), std::min(4.0 * i, ab), 1e-4);
        EXPECT_NEAR(bearing(origin, step.coordinate), 30, 1e-4);
        EXPECT_DOUBLE_EQ(step.course, bearing(b, c));
    }
    EXPECT_NEAR((*route)[3].coordinate.latitude(), b.latitude(), 1e-9);
    EXPECT_NEAR((*route)[3].coordinate.longitude(), b.longitude(), 1e-9);
    EXPECT_DOUBLE_EQ((*route)[1].timestamp, start + 2);
    EXPECT_DOUBLE_EQ((*route)[2].timestamp, start + 4);
    EXPECT_NEAR((*route)[3].timestamp, start + 5, 1e-4);
    EXPECT_EQ((*route)[4].course, 0);

    // Driving steps 8 m at 25 m/s: 20 m is 8, 8 and 4.
    const auto drive =
        convert({origin, destination(origin, 20, 0), destination(origin, 21, 0)}, DrawMode::drive);
    ASSERT_TRUE(drive);
    ASSERT_EQ(drive->size(), 5u);
    EXPECT_NEAR((*drive)[2].timestamp - start, 16.0 / 25, 1e-6);
    EXPECT_NEAR((*drive)[3].timestamp - start, 20.0 / 25, 1e-4);
}

TEST_F(StrokeTest, PointsTheMapCannotPlaceAreSkipped)
{
    QGeoCoordinate nowhere;
    nowhere.setLatitude(std::nan(""));
    nowhere.setLongitude(std::nan(""));
    const auto route =
        convert({origin, nowhere, destination(origin, 2, 0), nowhere}, DrawMode::walk);
    ASSERT_TRUE(route);
    EXPECT_EQ(route->size(), 2u);
    EXPECT_EQ(convert({nowhere, nowhere, nowhere}, DrawMode::walk), std::nullopt);
}

TEST(CoordinateText, TwoNumbersWithinTheGlobeAndNotBothZero)
{
    struct Case {
        const char *text;
        std::optional<std::pair<double, double>> coordinate;
    };
    using P = std::pair<double, double>;
    const Case cases[] = {
        {"37.3350703, -122.0091543", P{37.3350703, -122.0091543}},
        {"0, 5", P{0, 5}},
        {"-90, -180", P{-90, -180}},
        {"-90, 180", P{-90, 180}},
        {"37,1", P{37, 1}},
        {"37.1 , -122.2", P{37.1, -122.2}},
        {" 37.5 ,  -122.25 ", P{37.5, -122.25}},
        {"north, 37.1, -122.2", P{37.1, -122.2}},
        {"abc, 37.5, -122.25", P{37.5, -122.25}},
        {"\t1e1,\n0x10", P{10, 16}},
        {"0, 0", std::nullopt},
        {"-0, 0.0", std::nullopt},
        {"91, 10", std::nullopt},
        {"10, 181", std::nullopt},
        {"1, 2, 3", std::nullopt},
        {"37.5 -122.25", std::nullopt},
        {"nan, 5", std::nullopt},
        {"5, inf", std::nullopt},
        {"37,5", P{37, 5}},
        {"37.5,", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<QGeoCoordinate> coordinate = parseCoordinateText(QString(c.text));
        ASSERT_EQ(coordinate.has_value(), c.coordinate.has_value());
        if (coordinate) {
            EXPECT_EQ(coordinate->latitude(), c.coordinate->first);
            EXPECT_EQ(coordinate->longitude(), c.coordinate->second);
        }
    }
}

} // namespace
} // namespace corvane
