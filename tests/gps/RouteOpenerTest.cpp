#include "GPSTestSupport.h"

#include "core/Geodesy.h"
#include "location/GPXParser.h"
#include "location/RouteOpener.h"
#include "location/URLDragView.h"

#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

namespace {

const QByteArray twoPointGPX = R"(<?xml version="1.0"?>
<gpx version="1.1" creator="test"><trk><trkseg>
<trkpt lat="46.0" lon="14.0"><ele>300</ele><time>2021-05-01T12:00:00Z</time></trkpt>
<trkpt lat="46.001" lon="14.001"><ele>301</ele><time>2021-05-01T12:00:10Z</time></trkpt>
</trkseg></trk></gpx>
)";

class RouteOpening : public GPSWindowTest {
protected:
    QUrl file(const QString &name, const QByteArray &contents)
    {
        const QString where = path(name);
        EXPECT_TRUE(writeFile(where, contents));
        return QUrl::fromLocalFile(where);
    }

    // Opens and waits for every stage, alerts answered from the queue.
    void open(const QUrl &url)
    {
        opener->openRoute(url);
        ASSERT_TRUE(waitForBackgroundWork());
    }

    QStringList recents() const
    {
        QStringList paths;
        for (const auto &request : workspace->requests)
            if (request.operation == "noteRecentDocument")
                paths.append(request.argument);
        return paths;
    }

    void SetUp() override
    {
        GPSWindowTest::SetUp();
        opener = std::make_unique<RouteOpener>(engine);
    }

    std::unique_ptr<RouteOpener> opener;
};

TEST_F(RouteOpening, TheExtensionPicksTheReaderAndFilesBecomeRecent)
{
    const QUrl gpx = file("ROUTE.GPX", twoPointGPX);
    open(gpx);
    ASSERT_EQ(engine->locations().size(), 2u);
    EXPECT_TRUE(alerts->presented.empty());
    // Times but no speeds: each speed is distance over time, asked nothing.
    EXPECT_NEAR(
        engine->locations()[1].speed,
        distanceMetres(engine->locations()[0].coordinate, engine->locations()[1].coordinate) / 10,
        1e-9);

    open(file("notes.txt", twoPointGPX));
    const QUrl csv = file("one.csv", "timestamp,lat,lon,alt,course,speed,vacc,hacc\n"
                                     "1700000000,37.5,-122.25,10,90,3,4,5\n");
    open(csv);
    ASSERT_EQ(engine->locations().size(), 1u);
    EXPECT_DOUBLE_EQ(engine->locations()[0].coordinate.latitude(), 37.5);
    EXPECT_TRUE(alerts->presented.empty());
    EXPECT_EQ(recents(), QStringList({gpx.toLocalFile(), csv.toLocalFile()}));
}

// The panel offers routes only, and opens where the last route was chosen.
TEST_F(RouteOpening, ThePanelOffersRoutesAndKeepsAFolderOfItsOwn)
{
    const auto spec = RouteOpener::openPanelSpec();
    EXPECT_EQ(spec.allowedTypes, QStringList({"gpx", "csv"}));
    EXPECT_FALSE(spec.allowsMultipleSelection);
    EXPECT_EQ(spec.identifier, "SelectGPX");
}

TEST_F(RouteOpening, FailuresAreShownAndKeepTheRoute)
{
    engine->useWithLocations(route(3));
    open(file("one.gpx", R"(<gpx><trk><trkseg><trkpt lat="1" lon="2"/></trkseg></trk></gpx>)"));
    open(file("broken.gpx", "<gpx><trk>\n<trkseg></trk></gpx>"));
    open(file("empty.csv", "a,b,c\n"));
    open(QUrl::fromLocalFile(path("missing.csv")));

    ASSERT_EQ(alerts->presented.size(), 4u);
    const QStringList messages{
        "Unable to open the file one.gpx", "Unable to open the file broken.gpx",
        "Unable to open the file empty.csv", "Unable to open the file missing.csv"};
    for (size_t i = 0; i < 4; ++i) {
        const AlertSpec &alert = alerts->presented[i];
        EXPECT_EQ(alert.messageText, messages[int(i)]);
        EXPECT_EQ(alert.style, AlertSpec::Style::Critical);
        EXPECT_TRUE(alert.buttons.empty());
        EXPECT_GT(alert.informativeText.size(), 10) << alert.informativeText.toStdString();
    }
    EXPECT_EQ(alerts->presented[0].informativeText, QString::fromStdString(GPXParser::description(
                                                        GPXParser::ParserError::noLocationsError)));
    EXPECT_TRUE(alerts->presented[1].informativeText.contains("line 2"))
        << alerts->presented[1].informativeText.toStdString();
    EXPECT_EQ(engine->locations(), route(3));
    EXPECT_TRUE(recents().isEmpty());
}

TEST_F(RouteOpening, AnOversizeRouteFileIsRefusedUnreadWithAnAlertSayingSo)
{
    engine->useWithLocations(route(3));
    // 4 GiB of zeros, sparse: reading it would take as much memory.
    for (const QString name : {"zeros.gpx", "zeros.csv"}) {
        const QUrl url = file(name, "");
        ASSERT_TRUE(QFile::resize(url.toLocalFile(), qint64(4) << 30));
        open(url);
        ASSERT_FALSE(alerts->presented.empty());
        EXPECT_EQ(alerts->presented.back().messageText, "Unable to open the file " + name);
        EXPECT_EQ(alerts->presented.back().informativeText,
                  "The file is too large to be a route: a route file may hold at most 256 MB.");
    }
    EXPECT_EQ(alerts->presented.size(), 2u);
    EXPECT_EQ(engine->locations(), route(3));
    EXPECT_TRUE(recents().isEmpty());
}

TEST_F(RouteOpening, ATrackWithoutTimesOrSpeedsAsksForAPace)
{
    const QUrl seatown =
        QUrl::fromLocalFile(realWorldPath("gpx/gps-wizard__Seatownandgoldencap.gpx"));
    engine->useWithLocations(route(3));
    alerts->enqueue({4});
    open(seatown);
    ASSERT_EQ(alerts->presented.size(), 1u);
    const AlertSpec &question = alerts->presented[0];
    EXPECT_EQ(question.messageText, "GPX Missing Data");
    EXPECT_TRUE(question.cautionIcon);
    ASSERT_EQ(question.buttons.size(), 5u);
    EXPECT_EQ(question.buttons[2].title, "Driving (25 m/s)");
    EXPECT_EQ(question.buttons[4].title, "Cancel");
    EXPECT_EQ(engine->locations(), route(3));
    EXPECT_TRUE(recents().isEmpty());

    alerts->enqueue({2});
    open(seatown);
    const auto &filled = engine->locations();
    ASSERT_GT(filled.size(), 2u);
    EXPECT_DOUBLE_EQ(filled[1].speed, 25);
    EXPECT_NEAR(filled[1].timestamp - filled[0].timestamp,
                distanceMetres(filled[0].coordinate, filled[1].coordinate) / 25, 1e-6);
    EXPECT_EQ(recents(), QStringList({seatown.toLocalFile()}));

    const QUrl gt31 = QUrl::fromLocalFile(
        realWorldPath("gpx/gps-wizard__GT31_1Hz_GEORG30MICHA_932000175_20220411_111600.gpx"));
    open(gt31);
    EXPECT_EQ(alerts->presented.size(), 2u);
    ASSERT_GT(engine->locations().size(), 2u);
    EXPECT_GT(engine->locations()[5].speed, 0);
}

TEST_F(RouteOpening, SamplesLoadAndAreNotRecent)
{
    for (const char *name :
         {RouteOpener::runSample, RouteOpener::bikeSample, RouteOpener::driveSample}) {
        opener->openSample(name);
        ASSERT_TRUE(waitForBackgroundWork());
        ASSERT_GT(engine->locations().size(), 100u) << name;
        const QGeoCoordinate start = engine->locations().front().coordinate;
        EXPECT_LT(distanceMetres(start, QGeoCoordinate(37.33507030721554, -122.00915439213304)),
                  1000)
            << name;
    }
    opener->openSample("Walk");
    ASSERT_TRUE(waitForBackgroundWork());
    EXPECT_TRUE(alerts->presented.empty());
    EXPECT_TRUE(recents().isEmpty());
}

class FileDrop : public ::testing::Test {
protected:
    bool enter(const QList<QUrl> &urls)
    {
        mime.setUrls(urls);
        QDragEnterEvent event(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
        return event.isAccepted();
    }

    bool drop()
    {
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
        return event.isAccepted();
    }

    QList<QUrl> opened;
    QMimeData mime;
    URLDragView view{[this](const QUrl &url) { opened.append(url); }};
};

TEST_F(FileDrop, GPXAndCSVFilesAreTakenOneAtATime)
{
    view.resize(300, 200);
    const QList<QUrl> files{QUrl::fromLocalFile("/tmp/a.GPX"), QUrl::fromLocalFile("/tmp/b.csv")};
    EXPECT_TRUE(enter(files));
    ASSERT_NE(view.dragView(), nullptr);
    const QWidget *highlight = view.dragView();
    EXPECT_EQ(highlight->geometry(), view.rect());
    EXPECT_EQ(highlight->palette().color(QPalette::Window), QColor::fromRgbF(0, 0, 0, 0.1f));
    EXPECT_TRUE(enter(files));
    EXPECT_EQ(view.dragView(), highlight);
    EXPECT_TRUE(drop());
    EXPECT_EQ(opened, QList<QUrl>({files[0]}));
    EXPECT_EQ(view.dragView(), nullptr);

    EXPECT_TRUE(enter({QUrl::fromLocalFile("/tmp/c.gpx")}));
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(&view, &leave);
    EXPECT_EQ(view.dragView(), nullptr);

    EXPECT_FALSE(enter({QUrl::fromLocalFile("/tmp/notes.txt")}));
    EXPECT_EQ(view.dragView(), nullptr);
    EXPECT_FALSE(drop());
    EXPECT_EQ(opened.size(), 1);
}

} // namespace
