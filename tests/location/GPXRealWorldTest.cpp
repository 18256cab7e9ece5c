#include "common/TestSupport.h"
#include "location/GPXParser.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace corvane {
namespace {

using Kind = GPXParser::ParseResults;
using Kinds = std::vector<Kind>;

constexpr double readingMoment = 1900000000.0;

GPXParser::Result parseFile(const std::filesystem::path &path)
{
    return GPXParser(path, [] { return readingMoment; }).parse();
}

GPXParser::Result parseSample(const char *name)
{
    return parseFile(test::realWorldPath(QString("gpx/") + name).toStdString());
}

// A full fix has its elevation and time; one known by place alone was
// stamped at the reading moment and has no vertical accuracy.
std::size_t fullPoints(const GPXParser::Result &result)
{
    return std::size_t(
        std::count_if(result.locations.begin(), result.locations.end(),
                      [](const Location &location) { return location.verticalAccuracy >= 0; }));
}

bool sortedByTime(const std::vector<Location> &locations)
{
    return std::is_sorted(
        locations.begin(), locations.end(),
        [](const Location &a, const Location &b) { return a.timestamp < b.timestamp; });
}

TEST(GPXRealWorldTest, EveryFileAndEveryDamagedCopyParsesOrFailsCleanly)
{
    const QDir folder(test::realWorldPath("gpx"));
    const QStringList names = folder.entryList({"*.gpx"}, QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 35);
    QTemporaryDir scratch;
    const std::string damagedPath = scratch.filePath("damaged.gpx").toStdString();
    std::mt19937 random(27);
    int failures = 0;
    const auto attempt = [&](const QByteArray &bytes) {
        ASSERT_TRUE(test::writeFile(QString::fromStdString(damagedPath), bytes));
        try {
            const auto result = parseFile(damagedPath);
            EXPECT_LE(result.missing.size(), 6u);
        } catch (const GPXParser::Failure &failure) {
            EXPECT_FALSE(failure.description().empty());
            ++failures;
        }
    };
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray bytes = test::readFile(folder.filePath(name));
        ASSERT_FALSE(bytes.isEmpty());
        EXPECT_NO_THROW(parseFile(folder.filePath(name).toStdString()));
        for (int cut = 1; cut <= 10; ++cut)
            attempt(bytes.left(bytes.size() * cut / 11));
        for (int flip = 0; flip < 100; ++flip) {
            QByteArray damaged = bytes;
            damaged[qsizetype(random() % damaged.size())] ^= char(1 << (random() % 8));
            attempt(damaged);
        }
    }
    // Cutting a document open is an error more often than not.
    EXPECT_GT(failures, 35 * 5);
}

TEST(GPXRealWorldTest, OrdinaryTrackWithElevationsAndTimes)
{
    const auto result = parseSample("gpxpy__cerknicko-jezero.gpx");
    EXPECT_EQ(result.locations.size(), 296u);
    EXPECT_EQ(fullPoints(result), 296u);
    EXPECT_TRUE(sortedByTime(result.locations));
    EXPECT_EQ(result.missing, (Kinds{Kind::speed, Kind::course, Kind::accuracy}));
}

TEST(GPXRealWorldTest, HorizontalDilutionWithoutVerticalLeavesAccuracyMissing)
{
    const auto result =
        parseSample("gps-wizard__GT31_1Hz_GEORG30MICHA_932000175_20220411_111600.gpx");
    EXPECT_EQ(result.locations.size(), 4161u);
    EXPECT_EQ(fullPoints(result), 4161u);
    const Location &first = result.locations.front();
    EXPECT_DOUBLE_EQ(first.horizontalAccuracy, 2.8);
    EXPECT_EQ(first.verticalAccuracy, 10);
    EXPECT_NE(std::find(result.missing.begin(), result.missing.end(), Kind::accuracy),
              result.missing.end());
}

TEST(GPXRealWorldTest, MillisecondTimesAreRead)
{
    const auto result = parseSample("gps-wizard__activity_8686414511.gpx");
    EXPECT_EQ(result.locations.size(), 1012u);
    EXPECT_EQ(fullPoints(result), 1012u);
    EXPECT_TRUE(sortedByTime(result.locations));
    EXPECT_LT(result.locations.back().timestamp, readingMoment);
    EXPECT_EQ(
        result.locations.front().timestamp,
        double(QDateTime::fromString("2022-04-22T14:45:05Z", Qt::ISODate).toSecsSinceEpoch()));

    // Fractions and offsets together.
    const auto offsets = parseSample("gpxpy__track-with-less-sec-time.gpx");
    ASSERT_FALSE(offsets.locations.empty());
    EXPECT_EQ(fullPoints(offsets), offsets.locations.size());
}

// The files of every field gave no time (theirs has no zone) and so no
// elevation. Files of each shape of time read as gpxpy 1.5 reads them: as many
// points with both a time and an elevation, and the earliest and the latest
// of them (of equal times, the last in the file) at the same moments and
// heights; gpxpy cuts fractions to microseconds.
TEST(GPXRealWorldTest, TimesAndElevationsReadAsGpxpyReadsThem)
{
    const struct {
        const char *name;
        std::size_t full;
        double firstTime, firstElevation, lastTime, lastElevation;
    } cases[] = {
        {"gps-wizard__0470_2022-07-16-1202.gpx", 5054, 1657972960.0, -2.978, 1657978026.0, 1.536},
        {"gps-wizard__activity_8686414511.gpx", 1012, 1650638705.0, 0.0, 1650644048.0,
         5.800000190734863},
        {"gpxpy__Mojstrovka.gpx", 184, -2147483647.793, 1636.776, -2147483647.792657, 1643.51208},
        {"gpxpy__cerknicko-jezero.gpx", 296, 1281018239.0, 542.320923, 1281025429.0, 562.508545},
        {"gpxpy__cerknicko-without-times.gpx", 5, 1281025372.0, 556.740723, 1281025429.0,
         562.508545},
        {"gpxpy__gpx1.0_with_all_fields.gpx", 1, 1357041604.0, 11.1, 1357041604.0, 11.1},
        {"gpxpy__gpx1.1_with_all_fields.gpx", 1, 1357041604.0, 11.1, 1357041604.0, 11.1},
        {"gpxpy__korita-zbevnica.gpx", 513, 1286098590.0, 753.330322, 1286111971.0, 770.634033},
        {"gpxpy__track-with-less-sec-time.gpx", 2, 1449844993.0, 23.5536, 1449844993.994,
         23.551199},
        {"opentracks__gpx_timezone.gpx", 1, 1610051819.179, 10.0, 1610051819.179, 10.0},
        {"opentracks__legacy_gpx_pause_resume.gpx", 4, 1610056319.179, 10.0, 1610056324.103, 10.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = parseSample(c.name);
        ASSERT_EQ(fullPoints(result), c.full);
        // Sorted by time, and the points known by place alone were
        // stamped at the moment of reading, after every full one.
        const Location &first = result.locations.front();
        const Location &last = result.locations[c.full - 1];
        EXPECT_NEAR(first.timestamp, c.firstTime, 1e-6);
        EXPECT_DOUBLE_EQ(first.altitude, c.firstElevation);
        EXPECT_NEAR(last.timestamp, c.lastTime, 1e-6);
        EXPECT_DOUBLE_EQ(last.altitude, c.lastElevation);
    }
    // The point of every field keeps its place and dilutions as well.
    const Location point = parseSample("gpxpy__gpx1.1_with_all_fields.gpx").locations.at(0);
    EXPECT_EQ(point.coordinate, QGeoCoordinate(10.1, -20.2));
    EXPECT_EQ(point.horizontalAccuracy, 1010);
    EXPECT_EQ(point.verticalAccuracy, 1020);
}

TEST(GPXRealWorldTest, SelfClosingPointsAndFilesWithoutTrackPoints)
{
    const auto planned = parseSample("gps-wizard__Seatownandgoldencap.gpx");
    EXPECT_EQ(planned.locations.size(), 2151u);
    EXPECT_EQ(fullPoints(planned), 0u);

    const auto route = parseSample("gpxpy__route.gpx");
    EXPECT_TRUE(route.locations.empty());
    EXPECT_EQ(route.missing, (Kinds{Kind::location, Kind::elevation, Kind::timestamp, Kind::speed,
                                    Kind::course, Kind::accuracy}));
}

TEST(GPXRealWorldTest, FilesWithAByteOrderMarkAreRead)
{
    EXPECT_EQ(parseSample("gpsbabel__basecamp-with-BOM.gpx").locations.size(), 2u);
    // Waypoints only: read, and nothing to keep.
    for (const char *name :
         {"gpxpy__unicode_with_bom.gpx", "gpxpy__unicode_with_bom_noencoding.gpx"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(parseSample(name).missing.size(), 6u);
    }
}

TEST(GPXRealWorldTest, AWindowsCodePageIsDecodedBeforeReading)
{
    QByteArray bytes = test::readFile(test::realWorldPath("gpx/gpxpy__cerknicko-jezero.gpx"));
    bytes.replace("encoding=\"UTF-8\"", "encoding=\"windows-1252\"");
    bytes.replace("<trk>", "<trk><name>Cerkni\xE9ko \x80</name>");
    QTemporaryDir scratch;
    const QString path = scratch.filePath("cp1252.gpx");
    ASSERT_TRUE(test::writeFile(path, bytes));
    EXPECT_EQ(parseFile(path.toStdString()).locations.size(), 296u);
    EXPECT_NE(GPXParser::utf8Text(bytes.toStdString()).find("<name>Cerkniéko €</name>"),
              std::string::npos);
}

} // namespace
} // namespace corvane
