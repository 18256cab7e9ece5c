#include "CsvTestSupport.h"

#include "common/TestSupport.h"
#include "csv/CSVReader.h"
#include "csv/CSVRowDecoder.h"
#include "csv/FileInputStream.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <algorithm>

namespace corvane {
namespace {

using test::Rows;

CSVReader openSample(const char *name)
{
    return CSVReader::initWithStream(std::make_shared<FileInputStream>(
        test::realWorldPath(QStringLiteral("csv/") + name).toStdString()));
}

bool allWidths(const Rows &rows, std::size_t width)
{
    return std::all_of(rows.begin(), rows.end(),
                       [&](const auto &row) { return row.size() == width; });
}

TEST(CSVRealWorldTest, GpsLoggersExports)
{
    auto wizard = openSample("gps-wizard__Speedsurfing20211112122819.csv");
    const Rows wizardRows = test::readRows(wizard);
    EXPECT_EQ(wizardRows.size(), 3275u);
    EXPECT_TRUE(allWidths(wizardRows, 9));
    EXPECT_EQ(wizardRows[1][1], "603338735"); // no CR left behind
    EXPECT_EQ(wizardRows.back()[8], "164");
    EXPECT_FALSE(wizard.error());

    auto mtk = openSample("gpsbabel__mtk_logger_bt-qt1000xt.csv");
    const Rows mtkRows = test::readRows(mtk);
    EXPECT_EQ(mtkRows.size(), 586u);
    EXPECT_TRUE(allWidths(mtkRows, 18));
    EXPECT_EQ(mtkRows.back()[17], "");
    EXPECT_EQ(mtkRows.back()[16], "      1.06 m");

    auto openTracks = openSample("opentracks__csv_export.csv");
    const Rows openTracksRows = test::readRows(openTracks);
    EXPECT_EQ(openTracksRows.size(), 13u);
    EXPECT_TRUE(allWidths(openTracksRows, 14));
    EXPECT_FALSE(openTracks.error());

    auto v900 = openSample("gpsbabel__v900_advanced_mode.csv");
    const Rows v900Rows = test::readRows(v900);
    ASSERT_EQ(v900Rows.size(), 22u);
    EXPECT_EQ(v900Rows[1][0], std::string("2419\0\0", 6));
    EXPECT_EQ(v900Rows.back()[14], std::string(9, '\0'));
}

TEST(CSVRealWorldTest, QuotedDelimitersAndEmoji)
{
    auto unidelim = openSample("gpsbabel__unidelim.csv");
    const Rows rows = test::readRows(unidelim);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][2], "foo; bar;");
    EXPECT_EQ(rows[0][6], "zoom|zap");
    EXPECT_EQ(rows[1][4], "Roma, 🇮🇹");
    EXPECT_EQ(rows[1][5], "my \"roam'n\" holiday");
}

TEST(CSVRealWorldTest, InvalidByteEndsOneStepOnly)
{
    auto grapheme = openSample("gpsbabel__grapheme.csv");
    const Rows rows = test::readRows(grapheme);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1][0], "Wu\u0308rzburg");
    ASSERT_TRUE(grapheme.error());
    EXPECT_EQ(grapheme.error()->code(), CSVError::Code::unicodeDecoding);
    ASSERT_NE(grapheme.readRow(), nullptr);
    EXPECT_EQ(*grapheme.currentRow(), (CSVReader::Row{"Eingen", "48.9464", "8.6694"}));
    EXPECT_EQ(grapheme.readRow(), nullptr);
}

struct TrackPoint {
    Date time;
    std::string trackpointType;
    std::optional<double> latitude;
    std::optional<double> longitude;
    std::optional<Int> heartrate;

    static TrackPoint decode(Decoder &decoder)
    {
        const auto c = decoder.container();
        return {c.decode<Date>("time"), c.decode<std::string>("trackpointType"),
                c.decodeIfPresent<double>("latitude"), c.decodeIfPresent<double>("longitude"),
                c.decodeIfPresent<Int>("heartrate")};
    }
};

TEST(CSVRealWorldTest, ExportRowsDecodeIntoRecords)
{
    auto reader = CSVReader::initWithStream(
        std::make_shared<FileInputStream>(
            test::realWorldPath("csv/opentracks__csv_export.csv").toStdString()),
        true);
    CSVRowDecoder decoder;
    // The header comments itself out with "#".
    decoder.keyDecodingStrategy =
        CSVRowDecoder::KeyDecodingStrategy::custom([](const std::string &name) {
            return convertFromSnakeCase(name.starts_with('#') ? name.substr(1) : name);
        });
    decoder.dateDecodingStrategy = CSVRowDecoder::DateDecodingStrategy::iso8601();
    std::vector<TrackPoint> points;
    while (reader.next())
        points.push_back(decoder.decode<TrackPoint>(reader));

    ASSERT_EQ(points.size(), 12u);
    EXPECT_EQ(points[0].trackpointType, "SEGMENT_START_MANUAL");
    EXPECT_EQ(points[0].latitude, std::nullopt);
    EXPECT_EQ(points[0].time.toQDateTime(),
              QDateTime::fromString("2020-02-02T02:02:02Z", Qt::ISODate));
    EXPECT_EQ(points[1].latitude, 3.123456);
    EXPECT_EQ(points[1].longitude, 14.001456);
    EXPECT_EQ(points[2].heartrate, 66);
    EXPECT_EQ(points.back().time.timeIntervalSince1970() - points[0].time.timeIntervalSince1970(),
              118.0);
}

} // namespace
} // namespace corvane
