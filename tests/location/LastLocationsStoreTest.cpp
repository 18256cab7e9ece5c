#include "common/TestSupport.h"
#include "location/LastLocationsStore.h"
#include "platform/Log.h"

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

// A file cut short (by a full disk, before saves were checked) loads as no
// route, and says so in the log.
TEST(LastLocationsStore, ACutShortFileLoadsAsNoRouteWithALogLine)
{
    QTemporaryDir dir;
    LastLocationsStore store(dir.filePath("LastLocations.json"));
    const auto whole = LastLocationsStore::encode(std::vector<Location>(200, threePoints()[0]));
    ASSERT_TRUE(writeFile(store.path(), whole.value().left(4096)));
    Log::Capture log;
    EXPECT_EQ(store.load(), std::vector<Location>());
    EXPECT_TRUE(log.contains(store.path() + " holds no route that can be read"));
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

TEST(LastLocationsStore, AHundredThousandPointsComeBackExactly)
{
    std::vector<Location> route;
    route.reserve(100000);
    for (int i = 0; i < 100000; ++i) {
        Location point(-89.5 + i * 0.00179, -179.5 + i * 0.00359);
        point.altitude = i % 7 == 0 ? -12.25 : i * 0.01;
        point.horizontalAccuracy = 5;
        point.verticalAccuracy = i % 3 == 0 ? -1 : 1e-9 * i;
        point.speed = i % 5 == 0 ? -1 : 1.0 / (i + 1);
        point.course = std::fmod(i * 1.7, 360);
        point.timestamp = 1619870400.0 + i * 0.125;
        route.push_back(point);
    }
    QTemporaryDir dir;
    LastLocationsStore store(dir.filePath("LastLocations.json"));
    ASSERT_TRUE(store.save(route));
    EXPECT_EQ(store.load(), route);
}

// The file is read a piece at a time, yet it takes what Qt's document reader
// took: any white space, key order and unknown keys (what other writers of
// this format add), its leniencies and its bounds, and refuses what it
// refused.
TEST(LastLocationsStore, TheArrayIsReadAsAnyJsonReaderWouldReadIt)
{
    const auto points = threePoints();
    QJsonArray array;
    for (const auto &object : QJsonDocument::fromJson(*LastLocationsStore::encode(points)).array())
        array.append(object);
    const QByteArray members =
        R"("timestamp":641563200,"speed":-1,"course":-1,"verticalAccuracy":-1,)"
        R"("horizontalAccuracy":5,"altitude":0)";
    const auto one = [&](const QByteArray &more) {
        return "[{" + more + members + R"(,"cordinate":{"lon":2.5,"lat":1.5}}])";
    };
    struct Case {
        QByteArray json;
        std::optional<size_t> size;
    };
    const Case cases[] = {
        {QJsonDocument(array).toJson(QJsonDocument::Compact), 3},
        {QJsonDocument(array).toJson(QJsonDocument::Indented), 3},
        {"\xEF\xBB\xBF \r\n\t" + one("") + " \n", 1},
        {one(R"("floor":{"a":[1,{"b":null}],"c":"\u00e9\"x\u00e9"},"extra":[true,false],)"), 1},
        {one(R"("speed":"fast","\u0073peed":-1.5E+0,)"), 1},
        {one(R"("x":)" + QByteArray(1022, '[') + QByteArray(1022, ']') + ","), 1},
        {one(R"("x":"a\q)" + QByteArray("\x01\\\x96", 3) + R"(","y":[1.,.5],)"), 1},
        {"[]", 0},
        {one(R"("speed":"fast",)").replace(R"("speed":-1,)", ""), std::nullopt},
        {one(R"("x":)" + QByteArray(1023, '[') + QByteArray(1023, ']') + ","), std::nullopt},
        {one(R"("x":1e400,)"), std::nullopt},
        {one("\"x\":\"\xC0\xAF\","), std::nullopt},
        {one(R"("x":01,)"), std::nullopt},
        {one(R"("x":-,)"), std::nullopt},
        {one(R"("x":tru,)"), std::nullopt},
        {one(R"("altitude":1e400,)").replace(R"(,"altitude":0)", ""), std::nullopt},
        {one("") + "x", std::nullopt},
        {one("").chopped(1), std::nullopt},
        {one("").replace(R"("speed":-1,)", R"("speed":-1 )"), std::nullopt},
        {"[{}]", std::nullopt},
        {"", std::nullopt}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.json.left(120).toStdString());
        const auto decoded = LastLocationsStore::decode(c.json);
        ASSERT_EQ(decoded.has_value(), c.size.has_value());
        if (!decoded)
            continue;
        EXPECT_EQ(decoded->size(), *c.size);
        if (*c.size == 3)
            EXPECT_EQ(*decoded, points);
        if (*c.size == 1)
            EXPECT_EQ(decoded->at(0).coordinate, QGeoCoordinate(1.5, 2.5));
    }
}
