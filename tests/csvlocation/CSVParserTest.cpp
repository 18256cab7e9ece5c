#include "csv/location/CSVParser.h"

#include "common/TestSupport.h"
#include "csv/CSVError.h"
#include "csv/CsvTestSupport.h"
#include "csv/FileInputStream.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace corvane {
namespace {

using namespace std::string_literals;
using Locations = std::vector<Location>;

Locations parseText(const std::string &text)
{
    CSVParser parser(QByteArray::fromStdString(text));
    return parser.parse();
}

// The code of the `CSVError` that `parse()` throws; none when it throws nothing.
std::optional<CSVError::Code> parseError(CSVParser &parser)
{
    try {
        parser.parse();
    } catch (const CSVError &error) {
        return error.code();
    }
    return std::nullopt;
}

std::string joined(const std::array<std::string, 8> &fields)
{
    std::string row;
    for (const std::string &field : fields)
        row += (row.empty() ? "" : ",") + field;
    return row + "\n";
}

const std::array<std::string, 8> goodFields = {"1700000000.5", "37.5", "-122.25", "12.5",
                                               "90",           "3.5",  "4",       "6"};

TEST(CSVParserTest, ReadsEightColumnsAndDropsRowsThatDoNotFit)
{
    const Locations locations = parseText("timestamp,latitude,longitude,altitude,course,speed,"
                                          "verticalAccuracy,horizontalAccuracy\n"
                                          "1,2,3,4,5,6,7\n"
                                          "1700000000.5,37.5,-122.25,12.5,90,3.5,4,6,extra\n"
                                          "1700000001,37.6,-122.3,-13,-1,-1,-1,5\n"
                                          "1700000002,37.7,-122.4,0,0,0,nan,-NAN\n");
    ASSERT_EQ(locations.size(), 3u);

    EXPECT_EQ(locations[0].timestamp, 1700000000.5);
    EXPECT_EQ(locations[0].coordinate.latitude(), 37.5);
    EXPECT_EQ(locations[0].coordinate.longitude(), -122.25);
    EXPECT_EQ(locations[0].altitude, 12.5);
    EXPECT_EQ(locations[0].course, 90);
    EXPECT_EQ(locations[0].speed, 3.5);
    EXPECT_EQ(locations[0].verticalAccuracy, 4);
    EXPECT_EQ(locations[0].horizontalAccuracy, 6);

    // Invalid course and speed keep their meaning; unknown accuracies become 0.
    EXPECT_EQ(locations[1].altitude, -13);
    EXPECT_EQ(locations[1].course, -1);
    EXPECT_EQ(locations[1].speed, -1);
    EXPECT_EQ(locations[1].verticalAccuracy, 0);
    EXPECT_EQ(locations[1].horizontalAccuracy, 5);
    EXPECT_EQ(locations[2].verticalAccuracy, 0);
    EXPECT_EQ(locations[2].horizontalAccuracy, 0);

    EXPECT_TRUE(parseText("").empty());
    EXPECT_TRUE(parseText("a,b,c,d,e,f,g,h\n\n,,,,,,,\n").empty());
}

TEST(CSVParserTest, EveryFieldMustBeExactlyOneNumber)
{
    // The quotes are the reader's: the field within them is a plain number.
    auto quoted = goodFields;
    quoted[1] = "\"37.5\"";
    EXPECT_EQ(parseText(joined(quoted)), parseText(joined(goodFields)));

    for (std::size_t column = 0; column < goodFields.size(); ++column) {
        for (const std::string &bad :
             {" " + goodFields[column], goodFields[column] + " ", goodFields[column] + "\0"s,
              "\"" + goodFields[column] + " \"", ""s, "1e"s, "N"s}) {
            auto fields = goodFields;
            fields[column] = bad;
            EXPECT_TRUE(parseText(joined(fields)).empty())
                << "column " << column << ": \"" << bad << '"';
        }
    }
}

TEST(CSVParserTest, DropsCoordinatesOffTheGlobeAndTimesThatAreNotFinite)
{
    const auto row = [](const char *timestamp, const char *latitude, const char *longitude) {
        return std::string(timestamp) + "," + latitude + "," + longitude + ",0,0,0,0,0\n";
    };
    const Locations locations =
        parseText(row("1", "91", "0") + row("2", "0", "-180.5") + row("3", "nan", "0") +
                  row("4", "0", "-inf") + row("inf", "0", "0") + row("nan", "0", "0") +
                  row("5", "603338735", "-1175033765") + row("6", "-90", "180") +
                  row("7", "90", "-180") + row("-8.5", "-0", "0x1p-2"));
    ASSERT_EQ(locations.size(), 3u);
    EXPECT_EQ(locations[0].coordinate.latitude(), -90);
    EXPECT_EQ(locations[0].coordinate.longitude(), 180);
    EXPECT_EQ(locations[1].coordinate.latitude(), 90);
    EXPECT_EQ(locations[1].coordinate.longitude(), -180);
    EXPECT_EQ(locations[2].timestamp, -8.5);
    EXPECT_EQ(locations[2].coordinate.longitude(), 0.25);
}

TEST(CSVParserTest, LineEndsDoNotMatterAndASecondParseGivesTheSameList)
{
    const std::string lf = "1,10,20,0,0,0,0,0\n2,11,21,0,0,0,0,0\n3,12,22,0,0,0,0,0";
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? "\r\n"s : std::string(1, c);
    const Locations fromLf = parseText(lf);
    ASSERT_EQ(fromLf.size(), 3u);
    EXPECT_EQ(parseText(crlf + "\r\n"), fromLf);

    CSVParser parser(QByteArray::fromStdString(crlf));
    const Locations first = parser.parse();
    EXPECT_EQ(parser.parse(), first);
    EXPECT_EQ(parser.locations(), fromLf);
}

TEST(CSVParserTest, DamagedInputIsAnErrorNotAShorterRoute)
{
    // The invalid byte cuts its row short at a plausible "85".
    CSVParser decoding(QByteArray("1,10,20,0,0,0,0,0\n2,11,21,0,0,0,0,85\xFF"
                                  "9\n3,12,22,0,0,0,0,0\n"));
    EXPECT_EQ(parseError(decoding), CSVError::Code::unicodeDecoding);
    EXPECT_EQ(parseError(decoding), CSVError::Code::unicodeDecoding);
    EXPECT_EQ(decoding.locations().size(), 1u);

    const std::string text = "1,10,20,0,0,0,0,0\n2,11,21,0,0,0,0,0\n3,12,22,0,0,0,0,0\n";
    CSVParser failing(std::make_shared<test::TestStream>(
        text, test::TestStream::Options{.chunk = 7, .failAt = 25, .failure = "I/O error"}));
    try {
        failing.parse();
        ADD_FAILURE() << "a failed read gave a route";
    } catch (const CSVError &error) {
        EXPECT_EQ(error, CSVError::streamErrorHasOccurred("I/O error"));
    }

    // The same bytes from a stream that does not fail are a whole route.
    CSVParser whole(
        std::make_shared<test::TestStream>(text, test::TestStream::Options{.chunk = 7}));
    EXPECT_EQ(whole.parse().size(), 3u);
}

TEST(CSVParserTest, OpensLocalFilesOnly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath("missing.csv");
    try {
        CSVParser parser(QUrl::fromLocalFile(missing));
        ADD_FAILURE() << "a missing file opened";
    } catch (const CSVError &error) {
        EXPECT_EQ(error.code(), CSVError::Code::cannotOpenFile);
    }
    EXPECT_THROW(CSVParser(std::filesystem::path(missing.toStdString())), CSVError);

    try {
        CSVParser parser(QUrl("http://example.com/route.csv"));
        ADD_FAILURE() << "a web address opened";
    } catch (const CSVParser::Error &error) {
        EXPECT_EQ(error.code(), CSVParser::ParserError::resourceNotFoundError);
        EXPECT_FALSE(error.description().empty());
    }
    EXPECT_STREQ(CSVParser::Error(CSVParser::ParserError::noLocationsError).what(),
                 "The file holds no usable locations.");
}

TEST(CSVParserTest, FilesPastTheSizeLimitAreRefusedBeforeReading)
{
    QTemporaryDir directory;
    const QString path = directory.filePath("large.csv");
    for (const qint64 size : {CSVParser::maximumFileSize, CSVParser::maximumFileSize + 1}) {
        // Sparse: its size costs neither disk nor time.
        ASSERT_TRUE(test::writeFile(path, "") && QFile::resize(path, size));
        try {
            CSVParser parser(QUrl::fromLocalFile(path));
            EXPECT_EQ(size, CSVParser::maximumFileSize);
        } catch (const CSVParser::Error &error) {
            EXPECT_EQ(error.code(), CSVParser::ParserError::fileTooLarge);
            EXPECT_GT(size, CSVParser::maximumFileSize);
        }
    }
}

// An eight-column route made from a real track: time from its date and time,
// its coordinate and altitude, no course or speed, accuracies of 5 metres.
TEST(CSVParserRealWorldTest, ReadsARouteMadeFromARealTrack)
{
    auto track = CSVReader::initWithStream(
        std::make_shared<FileInputStream>(
            test::realWorldPath("csv/gpsbabel__garminconnect.csv").toStdString()),
        true);
    std::string route;
    while (const CSVReader::Row *row = track.readRow()) {
        const QDateTime time = QDateTime::fromString(
            QString::fromStdString((*row)[6] + " " + (*row)[7]), "yyyy/MM/dd HH:mm:ss");
        ASSERT_TRUE(time.isValid());
        route += std::to_string(
                     QDateTime(time.date(), time.time(), QTimeZone::utc()).toSecsSinceEpoch()) +
                 "," + (*row)[1] + "," + (*row)[2] + "," + (*row)[3] + ",-1,-1,5,5\n";
    }
    ASSERT_FALSE(track.error());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("route.csv");
    ASSERT_TRUE(test::writeFile(path, QByteArray::fromStdString(route)));

    CSVParser parser(QUrl::fromLocalFile(path));
    const Locations locations = parser.parse();
    ASSERT_EQ(locations.size(), 68u);
    const Location &first = locations.front();
    EXPECT_EQ(first.timestamp, 1673892146);
    EXPECT_EQ(first.coordinate.latitude(), 40.188950);
    EXPECT_EQ(first.coordinate.longitude(), -105.178361);
    EXPECT_EQ(first.altitude, 1531.4);
    EXPECT_EQ(first.course, -1);
    EXPECT_EQ(first.speed, -1);
    EXPECT_EQ(first.horizontalAccuracy, 5);
    EXPECT_EQ(first.verticalAccuracy, 5);
    const Location &last = locations.back();
    EXPECT_EQ(last.timestamp, 1673892444);
    EXPECT_EQ(last.coordinate.latitude(), 40.203097);
    EXPECT_EQ(last.coordinate.longitude(), -105.178007);
    EXPECT_EQ(last.altitude, 1550.8);

    EXPECT_EQ(CSVParser(test::readFile(path)).parse(), locations);
}

// Other programs' GPS exports are no routes of ours: headers, units in
// fields, N/S suffixes, padding, semicircles. None may slip through.
TEST(CSVParserRealWorldTest, OtherProgramsExportsGiveNoLocations)
{
    const QDir csv(test::realWorldPath("csv"));
    const QStringList files = csv.entryList(QDir::Files);
    ASSERT_EQ(files.size(), 11);
    for (const QString &name : files) {
        SCOPED_TRACE(name.toStdString());
        CSVParser parser(std::filesystem::path(csv.filePath(name).toStdString()));
        if (name == "gpsbabel__grapheme.csv") {
            EXPECT_EQ(parseError(parser), CSVError::Code::unicodeDecoding);
            continue;
        }
        EXPECT_EQ(parseError(parser), std::nullopt);
        EXPECT_TRUE(parser.locations().empty());
    }
}

} // namespace
} // namespace corvane
