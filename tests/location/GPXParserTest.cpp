#include "common/TestSupport.h"
#include "location/GPXParser.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <limits>
#include <new>
#include <string>

namespace corvane {
namespace {

using Kind = GPXParser::ParseResults;
using Kinds = std::vector<Kind>;

constexpr double readingMoment = 1900000000.5;

class GPXParserTest : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string &bytes, const char *name = "track.gpx")
    {
        const QString path = directory.filePath(name);
        EXPECT_TRUE(test::writeFile(path, QByteArray::fromStdString(bytes)));
        return path.toStdString();
    }

    GPXParser::Result parseBytes(const std::string &bytes)
    {
        return GPXParser(write(bytes),
                         [this] {
                             ++clockReads;
                             return readingMoment;
                         })
            .parse();
    }

    // The error parsing the bytes throws; a test failure when there is none.
    GPXParser::XMLError xmlError(const std::string &bytes)
    {
        try {
            parseBytes(bytes);
        } catch (const GPXParser::XMLError &error) {
            return error;
        }
        ADD_FAILURE() << "no error";
        return GPXParser::XMLError({}, 0, 0);
    }

    // A GPX document around the given track points.
    GPXParser::Result parseTrack(const std::string &points)
    {
        return parseBytes("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">"
                          "<trk><trkseg>" +
                          points + "</trkseg></trk></gpx>");
    }

    QTemporaryDir directory;
    int clockReads = 0;
};

std::string point(const std::string &inside, const char *lat = "37.0", const char *lon = "-122.0")
{
    return std::string("<trkpt lat=\"") + lat + "\" lon=\"" + lon + "\">" + inside + "</trkpt>";
}

TEST_F(GPXParserTest, AFullPointTakesDefaultsAndTheMissingKindsComeInOrder)
{
    const auto result = parseTrack(point("<ele>10</ele><time>2021-05-01T12:00:00Z</time>"));
    ASSERT_EQ(result.locations.size(), 1u);
    const Location &location = result.locations[0];
    EXPECT_EQ(location.coordinate.latitude(), 37.0);
    EXPECT_EQ(location.coordinate.longitude(), -122.0);
    EXPECT_EQ(location.altitude, 10);
    EXPECT_EQ(location.horizontalAccuracy, 20);
    EXPECT_EQ(location.verticalAccuracy, 10);
    EXPECT_EQ(location.course, -1);
    EXPECT_EQ(location.speed, -1);
    EXPECT_EQ(location.timestamp, 1619870400.0);
    EXPECT_EQ(result.missing, (Kinds{Kind::speed, Kind::course, Kind::accuracy}));
}

TEST_F(GPXParserTest, DilutionsOfPrecisionBecomeMetresByBand)
{
    struct Case {
        const char *hdop, *vdop;
        double horizontal, vertical;
    };
    for (const Case &c :
         {Case{"4", "12", 8, 60}, Case{"10", "10", 35, 30}, Case{"20", "4.9", 200, 9.8},
          Case{"5", "19.5", 17.5, 97.5}, Case{" 1.5\n", "2e0", 3, 4}}) {
        SCOPED_TRACE(std::string(c.hdop) + " / " + c.vdop);
        const auto result =
            parseTrack(point(std::string("<ele>1</ele><hdop>") + c.hdop + "</hdop><vdop>" + c.vdop +
                             "</vdop><time>2021-05-01T12:00:00Z</time>"));
        ASSERT_EQ(result.locations.size(), 1u);
        EXPECT_DOUBLE_EQ(result.locations[0].horizontalAccuracy, c.horizontal);
        EXPECT_DOUBLE_EQ(result.locations[0].verticalAccuracy, c.vertical);
        EXPECT_EQ(result.missing, (Kinds{Kind::speed, Kind::course}));
    }
}

TEST_F(GPXParserTest, AGpsExtensionGivesSpeedInKilometresPerHourAndCourse)
{
    const auto result =
        parseTrack(point("<ele>1</ele><time>2021-05-01T12:00:00Z</time>"
                         "<extensions><a:gps speed=\"36\" azimuth=\"90\"/></extensions>") +
                   // Names must hold ":gps"; a speed that is no number leaves the course.
                   point("<ele>1</ele><time>2021-05-01T12:00:01Z</time>"
                         "<extensions><gps speed=\"50\" azimuth=\"5\"/><x:gpsdata speed=\"fast\" "
                         "azimuth=\"-45\"/></extensions>"));
    ASSERT_EQ(result.locations.size(), 2u);
    EXPECT_DOUBLE_EQ(result.locations[0].speed, 10.008);
    EXPECT_EQ(result.locations[0].course, 90);
    EXPECT_EQ(result.locations[1].speed, -1);
    EXPECT_EQ(result.locations[1].course, -45);
    EXPECT_EQ(result.missing, (Kinds{Kind::accuracy}));
}

TEST_F(GPXParserTest, PointsLackingTimeOrElevationAreKnownByTheirPlaceAlone)
{
    const auto result =
        parseTrack(point("<time>2021-05-01T12:00:00Z</time><a:gps speed=\"36\"/>", "1", "1") +
                   point("<ele>5</ele>", "2", "2") + point("", "3", "3") +
                   point("<ele>1</ele><time>2021-05-01T11:00:00Z</time>", "4", "4"));
    ASSERT_EQ(result.locations.size(), 4u);
    // The one full point is in the past; the others were stamped at one
    // moment of reading and keep their file order behind it.
    EXPECT_EQ(result.locations[0].coordinate.latitude(), 4);
    EXPECT_EQ(result.locations[0].verticalAccuracy, 10);
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(result.locations[i], Location::coordinateOnly(i, i, readingMoment));
    }
    EXPECT_EQ(clockReads, 1);
    // What a point held still counts, though it was not kept.
    EXPECT_EQ(result.missing, (Kinds{Kind::course, Kind::accuracy}));
}

TEST_F(GPXParserTest, OnlyTrackPointsWithUsableCoordinatesBecomeLocations)
{
    const std::string timed = "<ele>1</ele><time>2021-05-01T12:00:00Z</time>";
    const auto result =
        parseBytes("<gpx><metadata><time>2020-01-01T00:00:00Z</time></metadata>"
                   "<wpt lat=\"1\" lon=\"1\"><ele>1</ele><time>2021-05-01T12:00:00Z</time></wpt>"
                   "<rte><rtept lat=\"1\" lon=\"1\"><ele>1</ele></rtept></rte><trk><trkseg>" +
                   std::string("<trkpt lat=\"10\"><ele>1</ele></trkpt>") + point(timed, "abc") +
                   point(timed, "nan") + point(timed, "91") + point(timed, "1", "180.5") +
                   "<gpx:trkpt lat=\"1\" lon=\"1\"><ele>1</ele></gpx:trkpt>" +
                   point(timed, " 45.5\t", "\n7") + "</trkseg></trk></gpx>");
    ASSERT_EQ(result.locations.size(), 1u);
    EXPECT_EQ(result.locations[0].coordinate.latitude(), 45.5);
    EXPECT_EQ(result.locations[0].coordinate.longitude(), 7);
}

// A number is a finite decimal of a few hundred characters at most, white
// space included: hexadecimal read as a number, and a text of 100 MB was
// held whole, several times over.
TEST_F(GPXParserTest, NumbersAreShortFiniteDecimals)
{
    struct Case {
        std::string text;
        std::optional<double> value;
    };
    std::vector<Case> cases{{"10", 10},
                            {"-12.5e-1", -1.25},
                            {" +5\n", 5},
                            {"-.5", -0.5},
                            {"5.", 5},
                            {"1E+1", 10},
                            {std::string(500, '0') + "5", 5}};
    // Hexadecimal, infinities and NaN, which the C library reads, and texts too long.
    for (const std::string &text : std::initializer_list<std::string>{
             "0x10", "0X1p4", "inf", "-Infinity", "nan", "NaN(1)", "1e400", ".", "e5", "1e", "1e+",
             "1 2", "", std::string(600, '0') + "5", std::string(600, ' ') + "5"})
        cases.push_back({text, std::nullopt});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        const auto elevation =
            parseTrack(point("<ele>" + c.text + "</ele><time>2021-05-01T12:00:00Z</time>"));
        ASSERT_EQ(elevation.locations.size(), 1u);
        EXPECT_EQ(elevation.locations[0].altitude, c.value.value_or(0));
        EXPECT_EQ(std::count(elevation.missing.begin(), elevation.missing.end(), Kind::elevation),
                  c.value ? 0 : 1);
        const auto latitude = parseTrack(point("", c.text.c_str(), "1"));
        ASSERT_EQ(latitude.locations.size(), c.value ? 1u : 0u);
        if (c.value)
            EXPECT_EQ(latitude.locations[0].coordinate.latitude(), *c.value);
    }
}

TEST_F(GPXParserTest, SortsByTimeAndKeepsFileOrderForEqualTimes)
{
    const auto at = [](const char *lat, const char *time) {
        return point(std::string("<ele>1</ele><time>") + time + "</time>", lat);
    };
    const auto result =
        parseTrack(at("1", "2021-05-01T12:00:02Z") + at("2", "2021-05-01T12:00:01Z") +
                   at("3", "2021-05-01T12:00:02Z") + at("4", "2021-05-01T12:00:00Z") +
                   at("5", "2021-05-01T14:00:01+02:00"));
    std::vector<double> order;
    for (const Location &location : result.locations)
        order.push_back(location.coordinate.latitude());
    EXPECT_EQ(order, (std::vector<double>{4, 2, 5, 1, 3}));
}

// A time without a zone, which GPX allows and means UTC, gave none, and so
// did a fraction of more than nine digits: the point lost its elevation too.
TEST_F(GPXParserTest, TimesAreReadWithAnyZoneAndAnyFraction)
{
    const double noon = 1619870400.0;
    struct Case {
        const char *text;
        std::optional<double> seconds;
    };
    const Case cases[] = {
        {"2021-05-01T12:00:00Z", noon},
        {"2021-05-01T12:00:00", noon},
        {"2021-05-01T12:00:00.25", noon + 0.25},
        {"2021-05-01T12:00:00.5Z", noon + 0.5},
        {"2021-05-01T12:00:00.12Z", noon + 0.12},
        {"2021-05-01T12:00:00.000Z", noon},
        {"2021-05-01T12:00:00.1234Z", noon + 0.1234},
        {"2021-05-01T12:00:00.12345Z", noon + 0.12345},
        {"2021-05-01T12:00:00.123456Z", noon + 0.123456},
        {"2021-05-01T12:00:00.1234567Z", noon + 0.1234567},
        {"2021-05-01T12:00:00.12345678Z", noon + 0.12345678},
        {"2021-05-01T12:00:00.123456789Z", noon + 0.123456789},
        {"2021-05-01T12:00:00.1234567891Z", noon + 0.123456789},
        {"2021-05-01T12:00:00.12345678951Z", noon + 0.12345679},
        {"2021-05-01T12:00:00.999999999500+00:00", noon + 1},
        {"2021-05-01T12:00:00.999999999499", noon + 0.999999999},
        {"2021-05-01T13:15:00.250+01:15", noon + 0.25},
        {"2021-05-01T04:00:00-08:00", noon},
        {"2021-05-01T12:00:00-00:00", noon},
        {"\n  2021-05-01T12:00:00Z\t", noon},
        {"\n  2021-05-01T12:00:00\t", noon},
        {"2020-02-29T00:00:00Z", 1582934400.0},
        {"1969-12-31T23:59:59Z", -1.0},
        {"2021-05-01T12:00:00.Z", std::nullopt},
        {"2021-05-01T12:00:00.", std::nullopt},
        {"2021-05-01T12:00:00.5x", std::nullopt},
        {"2021-05-01T12:00:00z", std::nullopt},
        {"2021-05-01t12:00:00Z", std::nullopt},
        {"2021-05-01 12:00:00Z", std::nullopt},
        {"2021-05-01T12:00", std::nullopt},
        {"2021-02-29T12:00:00Z", std::nullopt},
        {"2021-13-01T12:00:00Z", std::nullopt},
        {"2021-05-01T24:00:00Z", std::nullopt},
        {"2021-05-01T12:60:00Z", std::nullopt},
        {"2021-05-01T12:00:60Z", std::nullopt},
        {"2021-05-01T12:00:00+0100", std::nullopt},
        {"2021-05-01T12:00:00+01:00 ", noon - 3600},
        {"2021-05-01T12:00:00+24:00", std::nullopt},
        {"21-05-01T12:00:00Z", std::nullopt},
        {"2021-5-01T12:00:00Z", std::nullopt},
        {"+021-05-01T12:00:00Z", std::nullopt},
        {"2021-05-01T12:00:00ZZ", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<double> seconds = GPXParser::parseTime(c.text);
        ASSERT_EQ(seconds.has_value(), c.seconds.has_value());
        if (seconds) {
            EXPECT_NEAR(*seconds, *c.seconds, 1e-6);
        }
        // A time makes the point a full fix, its elevation kept; any
        // other text leaves it known by its place alone.
        const auto result =
            parseTrack(point(std::string("<ele>11.1</ele><time>") + c.text + "</time>"));
        const Location &location = result.locations.at(0);
        EXPECT_EQ(location.timestamp, seconds.value_or(readingMoment));
        EXPECT_EQ(location.altitude, seconds ? 11.1 : 0);
        EXPECT_EQ(location.verticalAccuracy, seconds ? 10 : -1);
    }
}

TEST_F(GPXParserTest, TextIsTakenChunkByChunk)
{
    const auto result = parseTrack(
        // CDATA and a comment each split the text; the last chunk that reads
        // wins, and a time cut in two reads as none.
        point("<ele>1<![CDATA[2]]></ele><time><![CDATA[2021-05-01T12:00:00Z]]></time>", "1") +
        point("<ele>5</ele><time>2021-05-01T<![CDATA[12:00:01Z]]></time>", "2") +
        point("<ele>3<!-- c -->&#52;</ele><time>2021-05-01T12:00:02Z</time>", "3"));
    ASSERT_EQ(result.locations.size(), 3u);
    EXPECT_EQ(result.locations[0].altitude, 2);
    EXPECT_EQ(result.locations[0].timestamp, 1619870400.0);
    EXPECT_EQ(result.locations[1].altitude, 4);
    EXPECT_EQ(result.locations[2], Location::coordinateOnly(2, -122, readingMoment));
}

TEST_F(GPXParserTest, MalformedXmlIsAnErrorWithItsPlaceAndNoPartialRoute)
{
    const GPXParser::XMLError error =
        xmlError("<gpx><trk><trkseg>\r\n" + point("<ele>1</ele>") +
                 "\n  <trkpt lat=\"1\" lon=\"2\"></trkseg></trk></gpx>");
    EXPECT_EQ(error.line(), 3);
    EXPECT_EQ(error.column(), 28);
    EXPECT_FALSE(error.message().empty());
    EXPECT_NE(std::string(error.what()).find("line 3, column 28"), std::string::npos);
    // A wide character counts as one column.
    const GPXParser::XMLError wide = xmlError("<gpx>\n<name>Ærø</nam></gpx>");
    EXPECT_EQ(wide.line(), 2);
    EXPECT_EQ(wide.column(), 12);
    EXPECT_THROW(parseBytes(""), GPXParser::XMLError);
}

TEST_F(GPXParserTest, DocumentsThatAreNotWellFormedFailWhereTheyBreak)
{
    // Two good points on the first line; each fault on the second, told in
    // the XML parser's words.
    const std::string head =
        "<gpx><trk><trkseg>" + point("<ele>1</ele>") + point("<ele>2</ele>", "37.1") + "\n";
    const std::string tail = "</trkseg></trk></gpx>";
    const std::string token = "not well-formed (invalid token)";
    const struct {
        std::string bytes;
        int column;
        std::string why;
    } cases[] = {
        {"<name>a</nme>" + tail, 10, "mismatched tag"},
        {tail + "trailing words", 22, "junk after document element"},
        {tail + "<gpx/>", 22, "junk after document element"},
        {tail + "</gpx>", 23, token},
        {"<name a=\"1\" a=\"2\"/>" + tail, 13, "duplicate attribute"},
        {"<name a=\"x<y\"/>" + tail, 11, token},
        {"<name>fish & chips</name>" + tail, 13, token},
        {"<name>&nbsp;</name>" + tail, 7, "undefined entity"},
        {"<name>&#0;</name>" + tail, 7, "reference to invalid character number"},
        {"<name>&#x110000;</name>" + tail, 7, "reference to invalid character number"},
        {"<!-- a -- b -->" + tail, 10, token},
        {"<name>a]]>b</name>" + tail, 10, token},
        {"<name>\x01</name>" + tail, 7, token},
        {"<name>\xC3\x28</name>" + tail, 7, token},
        {"<name>\xEF\xBF\xBE</name>" + tail, 7, token},
        {"<?xml version=\"1.0\"?>" + tail, 1, "XML or text declaration not at start of entity"},
        {tail + "<!DOCTYPE gpx>", 22, "junk after document element"},
        {"<name b=\"1\"c=\"2\"/>", 12, token},
        {"<name>", 7, "no element found"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        const GPXParser::XMLError error = xmlError(head + c.bytes);
        EXPECT_EQ(error.message(), c.why);
        EXPECT_EQ(error.line(), 2);
        EXPECT_EQ(error.column(), c.column);
    }
    EXPECT_EQ(xmlError("  <?xml version=\"1.0\"?><gpx/>").message(),
              "XML or text declaration not at start of entity");
    EXPECT_EQ(xmlError("text<gpx/>").message(), token);
    EXPECT_EQ(xmlError("<!-- only a comment -->").message(), "no element found");
}

TEST_F(GPXParserTest, WellFormedDocumentsOfEveryShapeRead)
{
    const std::string points = point("<ele>1</ele>") + point("<ele>2</ele>", "37.1");
    std::string manyAttributes;
    for (int i = 0; i < 40; ++i)
        manyAttributes += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    const std::string cases[] = {
        "<?xml version='1.0' encoding='UTF-8' standalone='yes' ?>\n<!-- before -->\n"
        "<?style sheet?><gpx><trk><trkseg>" +
            points + "</trkseg></trk></gpx>\n<!-- after --><?end?>\n",
        "<!DOCTYPE gpx SYSTEM \"gpx.dtd\" [\n<!ENTITY nbsp \"&#160;\">\n<!-- ] -->\n"
        "<!ATTLIST gpx v CDATA '>'>\n%extra;\n]>\n<gpx><name>a&nbsp;b</name><trk><trkseg>" +
            points + "</trkseg></trk></gpx>",
        "<gpx xmlns:x=\"urn:x\"><x:name x:a='&lt;&#x41;&gt;' b=\"it's &quot;ok&quot;\">"
        "a > b ]] c <![CDATA[<&]]]></x:name><trk><trkseg>" +
            points + "</trkseg ></trk></gpx >",
        "<gpx><n\xC3\xA6me\xC2\xB7" + manyAttributes + "/><trk><trkseg>" + points +
            "</trkseg></trk></gpx>",
    };
    for (const std::string &bytes : cases) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(parseBytes(bytes).locations.size(), 2u);
    }
    // The attribute repeated past the first sixteen is found as well.
    EXPECT_EQ(xmlError("<gpx" + manyAttributes + " a39=\"again\"/>").message(),
              "duplicate attribute");
}

TEST_F(GPXParserTest, OnlyRegularLocalFilesOpen)
{
    const auto code = [](const std::function<void()> &open) {
        try {
            open();
        } catch (const GPXParser::Error &error) {
            return std::optional(error.code());
        }
        return std::optional<GPXParser::ParserError>();
    };
    const auto notFound = std::optional(GPXParser::ParserError::resourceNotFoundError);
    EXPECT_EQ(code([&] { GPXParser(directory.filePath("none.gpx").toStdString()); }), notFound);
    EXPECT_EQ(code([&] { GPXParser(directory.path().toStdString()); }), notFound);
    EXPECT_EQ(code([&] { GPXParser(QUrl("https://example.com/track.gpx")); }), notFound);
    EXPECT_EQ(
        code([&] { GPXParser(QUrl::fromLocalFile(QString::fromStdString(write("<gpx/>")))); }),
        std::nullopt);
    EXPECT_FALSE(GPXParser::description(GPXParser::ParserError::noLocationsError).empty());

    // A file without track points is no error: everything is missing.
    const auto empty = parseBytes("<gpx/>");
    EXPECT_TRUE(empty.locations.empty());
    EXPECT_EQ(empty.missing.size(), 6u);
}

TEST_F(GPXParserTest, FilesPastTheSizeLimitAreRefusedBeforeReading)
{
    for (const qint64 size : {GPXParser::maximumFileSize, GPXParser::maximumFileSize + 1}) {
        const std::filesystem::path path = write("<gpx>", "large.gpx");
        // Sparse: its size costs neither disk nor time.
        ASSERT_TRUE(QFile::resize(QString::fromStdString(path.string()), size));
        try {
            GPXParser parser(path);
            EXPECT_EQ(size, GPXParser::maximumFileSize);
        } catch (const GPXParser::Error &error) {
            EXPECT_EQ(error.code(), GPXParser::ParserError::fileTooLarge);
            EXPECT_GT(size, GPXParser::maximumFileSize);
        }
    }
}

TEST_F(GPXParserTest, EncodingsComeFromTheMarkOrTheDeclaration)
{
    const std::string body = "<gpx><trk><trkseg>" +
                             point("<ele>\xC2\xA0"
                                   "8</ele><time>2021-05-01T12:00:00Z</time>") +
                             "</trkseg></trk></gpx>";
    const auto utf16 = [&](bool bigEndian, bool mark) {
        const QString text =
            QString::fromStdString("<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + body);
        std::string bytes = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
        for (const QChar c : text) {
            const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xFF);
            bytes += bigEndian ? std::string{high, low} : std::string{low, high};
        }
        return bytes;
    };
    const auto declared = [](const std::string &name) {
        return "<?xml version='1.0' encoding='" + name + "'?><gpx><trk><trkseg>" +
               point("<ele>\xA0"
                     "8</ele><time>2021-05-01T12:00:00Z</time>") +
               "</trkseg></trk></gpx>";
    };
    // The no-break space before the number is trimmed only if the text was
    // decoded, so the elevation shows that it was.
    for (const std::string &bytes :
         {"\xEF\xBB\xBF" + body, utf16(false, true), utf16(true, true), utf16(true, false),
          declared("ISO-8859-1"), declared("windows-1252"), declared("ISO-8859-2"),
          declared("iso-8859-15"), declared("CP1252"),
          "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + body}) {
        const auto result = parseBytes(bytes);
        ASSERT_EQ(result.locations.size(), 1u);
        EXPECT_EQ(result.locations[0].altitude, 8);
    }
    EXPECT_NE(GPXParser::utf8Text(declared("windows-1252")).find("\xC2\xA0"), std::string::npos);
    const GPXParser::XMLError error =
        xmlError("<?xml version=\"1.0\" encoding=\"x-no-such-set\"?>" + body);
    EXPECT_NE(std::string(error.what()).find("\"x-no-such-set\""), std::string::npos);
    EXPECT_EQ(error.line(), 1);
    EXPECT_EQ(error.column(), 31);
}

TEST_F(GPXParserTest, ANulCharacterIsNotWellFormed)
{
    std::string bytes = "<gpx><trk><trkseg>\n" + point("<ele>1</ele>") + "\n  " +
                        point("<ele>2</ele>") + "</trkseg></trk></gpx>";
    bytes.insert(bytes.rfind("<trkpt"), 1, '\0');
    const GPXParser::XMLError error = xmlError(bytes);
    EXPECT_NE(error.message().find("not well-formed"), std::string::npos);
    EXPECT_EQ(error.line(), 3);
    EXPECT_EQ(error.column(), 3);
}

// A document type is read for nothing. expat expanded a declared entity in
// an attribute's value ("&la;" read as a latitude) and filled in the
// defaults of an attribute list: only the attributes a tag holds are read
// now, and one that refers to an entity gives no number, as written; a
// character reference still reads. A reference in text stays as written,
// and nothing is fetched.
TEST_F(GPXParserTest, NoDoctypeOrEntityIsExpanded)
{
    const std::filesystem::path secret = write("1234", "secret.txt");
    std::string laughs = "<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    const auto gpx = [](const std::string &subset, const std::string &points) {
        return "<?xml version=\"1.0\"?>\n<!DOCTYPE gpx " + subset + ">\n<gpx><trk><trkseg>" +
               points + point("") + "</trkseg></trk></gpx>";
    };
    const std::string file = "\"file://" + secret.string() + "\"";
    const std::string seven = "[<!ENTITY la \"37.5\"><!ENTITY l \"7\">]";
    const struct {
        std::string bytes;
        std::size_t locations;
    } cases[] = {
        {gpx("[<!ENTITY xxe SYSTEM " + file + ">" + laughs + "]",
             point("<ele>&xxe;</ele><time>2021-05-01T12:00:00Z</time><name>&l9;</name>")),
         2},
        {gpx("SYSTEM " + file, point("<ele>&xxe;</ele><time>2021-05-01T12:00:00Z</time>")), 2},
        {gpx("[<!ATTLIST trkpt lat CDATA \"37.5\">]", "<trkpt lon=\"1\"/>"), 1},
        {gpx(seven, "<trkpt lat=\"&la;\" lon=\"1\"/>"), 1},
        {gpx(seven, point("", "3&l;")), 1},
        {gpx(seven, point("", "37", "&#x31;7")), 2},
        {gpx("[<!ENTITY % p \"<!ENTITY la '37.5'>\"> %p;]", point("", "&la;")), 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        const auto result = parseBytes(c.bytes);
        ASSERT_EQ(result.locations.size(), c.locations);
        EXPECT_EQ(result.locations[0].altitude, 0);
        EXPECT_EQ(result.locations[0].timestamp, readingMoment);
    }
    EXPECT_EQ(parseBytes(gpx(seven, point("", "37", "&#x31;7"))).locations[0].coordinate,
              QGeoCoordinate(37, 17));
    // Expanded, a billion laughs in a value breach expat's bound on them.
    EXPECT_EQ(xmlError(gpx("[" + laughs + "]", point("", "&l9;"))).line(), 3);
}

// A tag of millions of attributes cost the well-formedness check 11 s at
// 64 MiB, growing faster than the file. The XML parser's memory is bounded:
// such a tag, or a nesting millions deep, is refused at once as out of
// memory (std::bad_alloc, which the opener tells as "The route is too large
// to open."), while deep nesting and many attributes within the bound read.
TEST_F(GPXParserTest, NestingAndAttributesReadWithinTheirBound)
{
    const auto nested = [](int levels) {
        std::string opened, closed;
        for (int i = 0; i < levels; ++i) {
            opened += "<a>";
            closed += "</a>";
        }
        return "<gpx>" + point("<ele>1</ele>") + opened + point("") + closed + "</gpx>";
    };
    const auto attributes = [](int count) {
        std::string tag = "<gpx>" + point("") + "<trk";
        for (int i = 0; i < count; ++i)
            tag += " a" + std::to_string(i) + "='1'";
        return tag + "/>" + point("") + "</gpx>";
    };
    const struct {
        std::string bytes;
        bool reads;
    } cases[] = {
        {nested(200000), true},
        {nested(2000000), false},
        {attributes(20000), true},
        {attributes(2000000), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes.size());
        if (c.reads)
            EXPECT_EQ(parseBytes(c.bytes).locations.size(), 2u);
        else
            EXPECT_THROW(parseBytes(c.bytes), std::bad_alloc);
    }

    // 8 MiB of long attributes in one tag take about as long as the same
    // attributes one to a tag, in the least thread processor time of a few
    // reads: a tag scanned again for each piece of it, or each attribute
    // compared with all the others, would take many times as long.
    const auto seconds = [this](bool oneTag) {
        std::string text = "<gpx>" + point("") + "<trk";
        for (int i = 0; text.size() < std::size_t(8) << 20; ++i) {
            text += std::string(oneTag || i == 0 ? "" : "/><trk") + " a" + std::to_string(i) +
                    std::string(100, 'x') + "='" + std::string(100, '1') + "'";
        }
        const std::filesystem::path path = write(text + "/>" + point("") + "</gpx>");
        double least = std::numeric_limits<double>::max();
        for (int i = 0; i < 3; ++i) {
            timespec start{}, end{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
            const std::size_t read = GPXParser(path).parse().locations.size();
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
            EXPECT_EQ(read, 2u);
            least = std::min(least, double(end.tv_sec - start.tv_sec) +
                                        double(end.tv_nsec - start.tv_nsec) / 1e9);
        }
        return least;
    };
    EXPECT_LT(seconds(true) / seconds(false), 3);
}

} // namespace
} // namespace corvane
