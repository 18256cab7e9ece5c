#include "MapTestSupport.h"

#include "fixtures/http/HostileReplies.h"
#include "location/MapProjection.h"
#include "tiles/TileServer.h"

#include <QLocale>
#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace corvane;
using namespace corvane::test;

namespace {

using Tile = std::tuple<int, int, int>;

// The tiles a 800 × 600 view centred there at a whole zoom covers, worked
// out from the tile scheme alone.
std::set<Tile> expectedTiles(const QGeoCoordinate &centre, int zoom)
{
    const QPointF world = map::worldPoint(centre) * std::exp2(zoom);
    const int count = 1 << zoom;
    std::set<Tile> tiles;
    for (int column = int(std::floor((world.x() - 400) / 256));
         column <= int(std::ceil((world.x() + 400) / 256)) - 1; ++column)
        for (int row = std::max(0, int(std::floor((world.y() - 300) / 256)));
             row <= std::min(count - 1, int(std::ceil((world.y() + 300) / 256)) - 1); ++row)
            tiles.emplace(zoom, ((column % count) + count) % count, row);
    return tiles;
}

std::set<Tile> requestedTiles(const TileServer &server)
{
    std::set<Tile> tiles;
    for (const QString &path : server.requests()) {
        const QStringList parts = path.mid(1).chopped(4).split('/');
        tiles.emplace(parts[0].toInt(), parts[1].toInt(), parts[2].toInt());
    }
    return tiles;
}

// The middle of the part of a tile the view shows.
QPointF tileMiddle(const MapView &map, int zoom, int column, int row)
{
    const double size = map::tileSize / (1 << zoom);
    const QPointF topLeft = map.coordinateToPoint(map::coordinateAt({column * size, row * size}));
    const QRectF tile(topLeft, QSizeF(256, 256) * std::exp2(map.zoom() - zoom));
    return tile.intersected(QRectF(map.rect())).center();
}

int largestDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 255;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}

class MapTiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listen());
        ASSERT_TRUE(m_cache.isValid());
    }

    std::shared_ptr<TileLoader> makeLoader(int concurrent = 2)
    {
        TileLoader::Options options;
        options.cacheDirectory = m_cache.filePath("tiles");
        options.maximumConcurrentRequests = concurrent;
        options.userAgent = TileLoader::standardUserAgent();
        return std::make_shared<TileLoader>(options);
    }

    std::unique_ptr<MapView> makeMap(const std::shared_ptr<TileLoader> &loader,
                                     const QGeoCoordinate &centre, double zoom)
    {
        auto map = sizedMap();
        map->setTileSources({server.urlTemplate(), "© Test Tiles"}, {});
        map->setTileLoader(loader);
        map->setCentre(centre, zoom, false);
        return map;
    }

    // Paints until every visible tile shows its colour.
    ::testing::AssertionResult waitForTiles(MapView &map, const std::set<Tile> &tiles)
    {
        QString missing;
        const bool shown = waitUntil([&] {
            const QImage image = render(map);
            for (const auto &[zoom, column, row] : tiles) {
                const QPointF middle = tileMiddle(map, zoom, column, row);
                if (pixel(image, middle) != TileServer::colourOf(zoom, column, row)) {
                    missing = TileServer::path(zoom, column, row) + " at " +
                              QString::number(middle.x()) + "," + QString::number(middle.y()) +
                              " is " + pixel(image, middle).name();
                    return false;
                }
            }
            return true;
        });
        if (shown)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << missing.toStdString();
    }

    // One tile through a new loader on the test's cache: its image, or a
    // null one when it failed.
    QImage loadTile(const QUrl &url)
    {
        auto loader = makeLoader();
        std::optional<QImage> image;
        QObject::connect(loader.get(), &TileLoader::tileLoaded,
                         [&](const QUrl &, const QImage &loaded) { image = loaded; });
        QObject::connect(loader.get(), &TileLoader::tileFailed, [&] { image = QImage(); });
        const QObject client;
        loader->request(&client, {url});
        EXPECT_TRUE(waitUntil([&] { return image.has_value(); }));
        return image.value_or(QImage());
    }

    TileServer server;
    QTemporaryDir m_cache;
};

} // namespace

TEST_F(MapTiles, TheViewAsksForTheTilesItCoversAndTheDiskCacheServesThemAgain)
{
    const QGeoCoordinate bern(46.95, 7.45);
    for (int zoom : {3, 12}) {
        const auto expected = expectedTiles(bern, zoom);
        const int before = server.requestCount();
        {
            auto loader = makeLoader();
            auto map = makeMap(loader, bern, zoom);
            EXPECT_EQ(map->tileLevel(), zoom);
            EXPECT_EQ(map->visibleTiles().size(), expected.size());
            ASSERT_TRUE(waitForTiles(*map, expected)) << zoom;
            EXPECT_EQ(server.requestCount() - before, int(expected.size())) << zoom;
        }
        EXPECT_EQ(requestedTiles(server).size(), server.requests().size());
        EXPECT_TRUE(server.lastUserAgent().startsWith("Corvane/"));

        // A second showing, by a new loader, comes from the disk cache.
        const int served = server.requestCount();
        auto loader = makeLoader();
        auto map = makeMap(loader, bern, zoom);
        ASSERT_TRUE(waitForTiles(*map, expected)) << zoom;
        EXPECT_EQ(server.requestCount(), served) << zoom;
    }
    std::set<Tile> all = expectedTiles(bern, 3);
    all.merge(expectedTiles(bern, 12));
    EXPECT_EQ(requestedTiles(server), all);
}

TEST_F(MapTiles, BrokenAndMissingTilesLeaveTheOfflineMapAndAreNotCached)
{
    const QGeoCoordinate centre(44.0, -30.0);
    const auto tiles = expectedTiles(centre, 4);
    const auto broken = *tiles.begin();
    const auto missing = *std::next(tiles.begin());
    server.setFault(std::get<0>(broken), std::get<1>(broken), std::get<2>(broken),
                    TileServer::Fault::broken);
    server.setFault(std::get<0>(missing), std::get<1>(missing), std::get<2>(missing),
                    TileServer::Fault::missing);
    std::set<Tile> good = tiles;
    good.erase(broken);
    good.erase(missing);

    auto offline = sizedMap();
    offline->setCentre(centre, 4, false);
    const QImage reference = render(*offline);

    for (int showing = 1; showing <= 2; ++showing) {
        auto loader = makeLoader();
        int failures = 0;
        QObject::connect(loader.get(), &TileLoader::tileFailed, [&] { ++failures; });
        auto map = makeMap(loader, centre, 4);
        ASSERT_TRUE(waitForTiles(*map, good));
        ASSERT_TRUE(waitUntil([&] { return failures == 2; }));
        const QImage image = render(*map);
        for (const auto &tile : {broken, missing}) {
            const QPointF middle =
                tileMiddle(*map, std::get<0>(tile), std::get<1>(tile), std::get<2>(tile));
            EXPECT_EQ(pixel(image, middle), pixel(reference, middle));
        }
        // The faulty tiles are asked for again; the good ones come from the cache.
        for (const auto &tile : {broken, missing})
            EXPECT_EQ(server.requestCount(std::get<0>(tile), std::get<1>(tile), std::get<2>(tile)),
                      showing);
        EXPECT_EQ(server.requestCount(), int(good.size()) + 2 * showing);
    }
}

TEST_F(MapTiles, WithTheServerGoneTheOfflineMapShowsTheCoasts)
{
    server.close();
    const QGeoCoordinate gibraltar(36.0, -5.5);
    auto offline = sizedMap();
    offline->setCentre(gibraltar, 6, false);
    const QImage reference = render(*offline);

    auto loader = makeLoader();
    int failures = 0;
    QObject::connect(loader.get(), &TileLoader::tileFailed, [&] { ++failures; });
    auto map = makeMap(loader, gibraltar, 6);
    const int visible = int(map->visibleTiles().size());
    render(*map);
    ASSERT_TRUE(waitUntil([&] { return failures >= visible; }));
    QImage image = render(*map);
    // Everything but the credit is the offline map, land and sea alike.
    const QRect credit = map->attributionRect();
    ASSERT_FALSE(credit.isEmpty());
    QPainter(&image).drawImage(credit, reference, credit);
    // Text may be smoothed a shade differently from one painting to the next.
    EXPECT_LE(largestDifference(image, reference), 2);
    EXPECT_NE(pixel(image, map->coordinateToPoint(QGeoCoordinate(37.5, -4.0))),
              pixel(image, map->coordinateToPoint(QGeoCoordinate(36.0, -8.5))));
    // Failed tiles are not asked for again at once.
    render(*map);
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(failures, visible);
}

TEST_F(MapTiles, NoMoreThanTwoRequestsAreOpenAtOnce)
{
    server.setDelay(120, true);
    const QGeoCoordinate centre(52.5, 13.4);
    auto loader = makeLoader(2);
    auto map = makeMap(loader, centre, 9);
    const auto tiles = expectedTiles(centre, 9);
    ASSERT_GE(tiles.size(), 12u);
    ASSERT_TRUE(waitForTiles(*map, tiles));
    EXPECT_EQ(server.mostOpenAtOnce(), 2);
    EXPECT_EQ(server.requestCount(), int(tiles.size()));
}

TEST_F(MapTiles, ALoadingTileShowsItsParentMeanwhile)
{
    const QGeoCoordinate centre(52.5, 13.4);
    auto loader = makeLoader();
    auto map = makeMap(loader, centre, 5);
    ASSERT_TRUE(waitForTiles(*map, expectedTiles(centre, 5)));
    server.setDelay(60000, true);
    map->setCentre(centre, 6, false);
    const QImage image = render(*map);
    const QPointF middle(400, 300);
    const QPointF world = map::worldPoint(map->pointToCoordinate(middle)) * 32 / 256;
    EXPECT_EQ(pixel(image, middle),
              TileServer::colourOf(5, int(std::floor(world.x())), int(std::floor(world.y()))));
}

TEST_F(MapTiles, TheTilesCreditIsDrawnInACorner)
{
    auto loader = makeLoader();
    auto map = makeMap(loader, QGeoCoordinate(0, 0), 2);
    EXPECT_EQ(map->attributionText(), "© Test Tiles");
    const QRect credit = map->attributionRect();
    EXPECT_EQ(credit.bottomRight(), QPoint(799, 599));
    auto offline = sizedMap();
    offline->setCentre(QGeoCoordinate(0, 0), 2, false);
    EXPECT_TRUE(offline->attributionText().isEmpty());
    EXPECT_TRUE(offline->attributionRect().isEmpty());

    server.setDelay(60000, true);
    const QImage withCredit = render(*map).copy(credit);
    const QImage without = render(*offline).copy(credit);
    EXPECT_NE(withCredit, without);
    int dark = 0;
    for (int y = 0; y < withCredit.height(); ++y)
        for (int x = 0; x < withCredit.width(); ++x)
            dark += qGray(withCredit.pixel(x, y)) < 128;
    EXPECT_GT(dark, 10);

    // The program's own default: OpenStreetMap with its credit.
    const QByteArray saved = qgetenv("CORVANE_MAP_TILE_URL");
    qunsetenv("CORVANE_MAP_TILE_URL");
    const MapTileSource standard = MapTileSource::standardDefault();
    qputenv("CORVANE_MAP_TILE_URL", saved);
    EXPECT_EQ(standard.url(3, 4, 2), QUrl("https://tile.openstreetmap.org/3/4/2.png"));
    EXPECT_EQ(standard.attribution, "© OpenStreetMap contributors");
    EXPECT_TRUE(MapTileSource::hybridDefault().isEmpty());
    EXPECT_TRUE(MapTileSource::standardDefault().isEmpty());
}

TEST_F(MapTiles, HostileTilesFailWithinTheirDeadline)
{
    const qint64 peakBefore = peakResidentBytes();
    fixture::LocalHttpServer hostile;
    QList<QUrl> urls;
    for (const auto &reply : fixture::serveHostileReplies(hostile))
        urls.append(hostile.url(reply.path));
    // Error replies are held to the tile's size too: Qt's own transport
    // reads such a body whole before anyone sees it.
    for (const int status : {401, 407}) {
        const QString path = QString("/%1/endless").arg(status);
        hostile.setReply(path, {.status = status,
                                .body = "endless ",
                                .delivery = fixture::LocalHttpServer::Delivery::endless});
        urls.append(hostile.url(path));
    }
    TileLoader::Options options;
    options.cacheDirectory = m_cache.filePath("hostile");
    options.maximumConcurrentRequests = int(urls.size());
    // 3 s for a whole tile, far less than the 60 s it may stall.
    options.transferTimeoutMilliseconds = 60000;
    options.transferDeadlineMilliseconds = 3000;
    TileLoader loader(options);
    QSet<QUrl> failed;
    int loaded = 0;
    QObject::connect(&loader, &TileLoader::tileFailed,
                     [&](const QUrl &url) { failed.insert(url); });
    QObject::connect(&loader, &TileLoader::tileLoaded, [&] { ++loaded; });
    const QObject client;
    loader.request(&client, urls);
    ASSERT_TRUE(waitUntil([&] { return failed.size() == urls.size(); }));
    EXPECT_EQ(loaded, 0);
    if (peakResidentBytesTellUse)
        EXPECT_LT(peakResidentBytes() - peakBefore, hostileRepliesPeakGrowth);
}

TEST_F(MapTiles, AStaleTileIsAskedForOnlyIfItChangedAndKeptWhileTheServerIsAway)
{
    using Reply = fixture::LocalHttpServer::Reply;
    const auto raw = [](const QByteArray &reply) {
        return Reply{.body = reply, .delivery = fixture::LocalHttpServer::Delivery::raw};
    };
    const QByteArray png = fixture::pngOf(4, 4, false);
    const auto tile = [&](const QByteArray &fields) {
        return raw("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(png.size()) + "\r\n" +
                   fields + "\r\n\r\n" + png);
    };
    const QByteArray expired = "Expires: Thu, 01 Jan 1970 00:00:00 GMT";
    const Reply unchanged = raw("HTTP/1.1 304 Not Modified\r\n" + expired + "\r\n\r\n");
    const auto httpDate = [](const QDateTime &date) {
        return QLocale::c().toString(date, u"ddd, dd MMM yyyy HH:mm:ss 'GMT'").toLatin1();
    };
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const struct {
        QByteArray fields;
        // The field of the second request; none when the cache answers.
        const char *askedWith;
        QByteArray value;
    } cases[] = {
        {"Cache-Control: public, max-age=86400", nullptr, {}},
        // Unchanged for ten days: fresh for one.
        {"Last-Modified: " + httpDate(now.addDays(-10)) + "\r\nDate: " + httpDate(now),
         nullptr,
         {}},
        {expired + "\r\nETag: \"v1\"", "if-none-match", "\"v1\""},
        {"Cache-Control: no-cache\r\nETag: \"v2\"", "if-none-match", "\"v2\""},
        {expired + "\r\nLast-Modified: Tue, 01 Jan 2019 00:00:00 GMT", "if-modified-since",
         "Tue, 01 Jan 2019 00:00:00 GMT"},
        // Not kept: asked for whole again.
        {"Cache-Control: no-store\r\nETag: \"v3\"", "if-none-match", {}},
    };
    fixture::LocalHttpServer origin;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].fields.toStdString());
        const QUrl url = origin.url(QString("/tile/%1.png").arg(i));
        origin.setReply(url.path(), tile(cases[i].fields));
        EXPECT_FALSE(loadTile(url).isNull());
        const qsizetype asked = origin.requests().size();
        origin.setReply(url.path(), cases[i].value.isEmpty() ? tile(cases[i].fields) : unchanged);
        EXPECT_FALSE(loadTile(url).isNull());
        EXPECT_EQ(origin.requests().size(), asked + (cases[i].askedWith ? 1 : 0));
        if (cases[i].askedWith)
            EXPECT_EQ(origin.requests().last().headers.value(cases[i].askedWith), cases[i].value);
    }

    // A stale tile stays while no answer comes, and goes once it is refused.
    const struct {
        Reply reply;
        bool shown;
    } steps[] = {{raw(""), false}, {unchanged, true}, {{.status = 404}, false}, {unchanged, false}};
    for (const auto &step : steps) {
        origin.setReply("/tile/2.png", step.reply);
        EXPECT_EQ(!loadTile(origin.url("/tile/2.png")).isNull(), step.shown) << step.reply.status;
    }
}
