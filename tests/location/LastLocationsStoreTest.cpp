#include "common/TestSupport.h"
#include "location/LastLocationsStore.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <cmath>

using namespace corvane;
using namespace corvane::test;

namespace {

std::vector<Location> threePoints()
{
    std::vector<Location> points;
    for (int i = 0; i < 3; ++i) {
        Location point(37.33507030721554 + i * 1e-7, -122.00915439213304 - i * 1e-7);
        point.altitude = 12.345 + i;
        point.horizontalAccuracy = 4.9;
        point.verticalAccuracy = i == 1 ? -1 : 3.25;
        point.speed = i == 0 ? -1 : 2.77777;
        point.course = i == 2 ? -1 : 271.5;
        point.timestamp = 1619870400.0 + i * 1.125 + 0.001;
        points.push_back(point);
    }
    return points;
}

QByteArray element(const QString &withoutKey = {}, const QJsonObject &replacements = {})
{
    QJsonObject object{{"cordinate", QJsonObject{{"lat", 1.5}, {"lon", 2.5}}},
                       {"altitude", 0},
                       {"horizontalAccuracy", 5},
                       {"verticalAccuracy", -1},
                       {"speed", -1},
                       {"course", -1},
                       {"timestamp", 641563200}};
    object.remove(withoutKey);
    for (auto it = replacements.begin(); it != replacements.end(); ++it)
        object.insert(it.key(), it.value());
    return QJsonDocument(QJsonArray{object}).toJson(QJsonDocument::Compact);
}

} // namespace

TEST(LastLocationsStore, ARouteComesBackExactlyThroughTheFile)
{
    QTemporaryDir dir;
    LastLocationsStore store(dir.filePath("nested/folder/LastLocations.json"));
    const auto points = threePoints();
    ASSERT_TRUE(store.save(points));
    const auto loaded = store.load();
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(loaded->at(i), points[i]) << i;
        // Bit for bit, not only within the coordinate epsilon.
        EXPECT_EQ(loaded->at(i).coordinate.latitude(), points[i].coordinate.latitude());
    }
    EXPECT_EQ(loaded->at(0).speed, -1);
    EXPECT_EQ(loaded->at(2).course, -1);
}

TEST(LastLocationsStore, TimestampsCountFrom2001AndTheKeysAreAsStored)
{
    Location point = Location::coordinateOnly(1.5, 2.5, 0);
    point.horizontalAccuracy = 5;
    point.setDateTime(QDateTime(QDate(2021, 5, 1), QTime(12, 0), QTimeZone::utc()));
    const auto json = LastLocationsStore::encode({point});
    ASSERT_TRUE(json);
    const QJsonObject object = QJsonDocument::fromJson(*json).array().at(0).toObject();
    EXPECT_EQ(object.value("timestamp").toDouble(), 641563200.0);
    EXPECT_EQ(object.value("cordinate").toObject().value("lon").toDouble(), 2.5);
    EXPECT_EQ(object.keys(), QStringList({"altitude", "cordinate", "course", "horizontalAccuracy",
                                          "speed", "timestamp", "verticalAccuracy"}));

    const auto decoded = LastLocationsStore::decode(element());
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 1u);
    EXPECT_EQ(decoded->at(0), point);
    EXPECT_EQ(decoded->at(0).dateTime(),
              QDateTime(QDate(2021, 5, 1), QTime(12, 0), QTimeZone::utc()));
}

TEST(LastLocationsStore, OneBadElementSpoilsTheWholeFile)
{
    EXPECT_FALSE(LastLocationsStore::decode(element("verticalAccuracy")));
    EXPECT_FALSE(LastLocationsStore::decode(
        element("cordinate", {{"coordinate", QJsonObject{{"lat", 1.5}, {"lon", 2.5}}}})));
    EXPECT_FALSE(LastLocationsStore::decode(
        element({}, {{"cordinate", QJsonObject{{"latitude", 1.5}, {"longitude", 2.5}}}})));
    EXPECT_FALSE(LastLocationsStore::decode(element({}, {{"timestamp", "641563200"}})));
    EXPECT_FALSE(LastLocationsStore::decode(element({}, {{"speed", QJsonValue()}})));
    EXPECT_FALSE(LastLocationsStore::decode("[1e400]"));
    EXPECT_FALSE(LastLocationsStore::decode("{}"));
    EXPECT_FALSE(LastLocationsStore::decode("[{\"cordinate\""));
    EXPECT_EQ(LastLocationsStore::decode("[]"), std::vector<Location>());

    QTemporaryDir dir;
    LastLocationsStore store(dir.filePath("LastLocations.json"));
    EXPECT_FALSE(store.load());
    ASSERT_TRUE(writeFile(store.path(), element("altitude")));
    EXPECT_EQ(store.load(), std::vector<Location>());
}

TEST(LastLocationsStore, ANonFiniteValueKeepsTheOldFileAndAnEmptyRouteRemovesIt)
{
    QTemporaryDir dir;
    LastLocationsStore store(dir.filePath("LastLocations.json"));
    ASSERT_TRUE(store.save(threePoints()));
    const QByteArray before = readFile(store.path());

    for (double bad : {double(NAN), double(INFINITY)}) {
        auto points = threePoints();
        points[1].timestamp = bad;
        EXPECT_FALSE(store.save(points));
        points = threePoints();
        points[2].coordinate.setLongitude(bad);
        EXPECT_FALSE(store.save(points));
    }
    EXPECT_EQ(readFile(store.path()), before);

    EXPECT_FALSE(store.save({}));
    EXPECT_FALSE(QFile::exists(store.path()));
    EXPECT_FALSE(store.load());
}

TEST(LastLocationsStore, LaterSavesRunInCallOrder)
{
    QTemporaryDir dir;
    LastLocationsStore store(dir.filePath("LastLocations.json"));
    std::vector<std::vector<Location>> routes;
    for (int i = 1; i <= 20; ++i) {
        std::vector<Location> route(size_t(i * 500), Location::coordinateOnly(i, i, i));
        routes.push_back(route);
        store.saveLater(std::make_shared<const std::vector<Location>>(route));
    }
    store.saveLater(std::make_shared<const std::vector<Location>>(routes[3]));
    store.waitForSaves();
    EXPECT_EQ(store.load(), routes[3]);
}
