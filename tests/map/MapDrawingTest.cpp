#include "MapTestSupport.h"

#include "location/MapProjection.h"
#include "location/ScribbleView.h"
#include "location/WorldLand.h"

#include <QFile>
#include <QMouseEvent>
#include <gtest/gtest.h>

#include <cmath>

using namespace corvane;
using namespace corvane::test;

namespace {

QColor colourAt(MapView &map, const QImage &image, double latitude, double longitude)
{
    return pixel(image, map.coordinateToPoint(QGeoCoordinate(latitude, longitude)));
}

int countColour(const QImage &image, const QColor &colour, int tolerance = 0)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) <= tolerance &&
                std::abs(c.green() - colour.green()) <= tolerance &&
                std::abs(c.blue() - colour.blue()) <= tolerance)
                ++count;
        }
    return count;
}

} // namespace

TEST(MapDrawing, TheOfflineMapDrawsLandAndSeaInEachStylesPalette)
{
    auto map = sizedMap(900, 620);
    map->setCentre(QGeoCoordinate(50, 0), 1.6, false);
    QImage image = render(*map);
    const QColor sahara = colourAt(*map, image, 25, 10);
    const QColor mongolia = colourAt(*map, image, 46, 103);
    const QColor atlantic = colourAt(*map, image, 30, -40);
    const QColor pacific = colourAt(*map, image, 5, -140);
    EXPECT_EQ(sahara, mongolia);
    EXPECT_EQ(atlantic, pacific);
    EXPECT_NE(sahara, atlantic);

    // Far north, where a ring across the antimeridian once striped the sea
    // with land from one side of the world to the other.
    EXPECT_EQ(colourAt(*map, image, 66.8, -26), atlantic);  // Denmark Strait
    EXPECT_EQ(colourAt(*map, image, 70, 2), atlantic);      // Norwegian Sea
    EXPECT_EQ(colourAt(*map, image, 72, -165), atlantic);   // Chukchi Sea
    EXPECT_EQ(colourAt(*map, image, 66.5, 172), sahara);    // Chukotka, west of 180°
    EXPECT_EQ(colourAt(*map, image, 66.2, -172.5), sahara); // Chukotka, east of 180°
    EXPECT_EQ(colourAt(*map, image, 81, 10), atlantic);
    // Antarctica reaches the south edge of the map.
    map->setCentre(QGeoCoordinate(-75, 60), 2, false);
    image = render(*map);
    EXPECT_EQ(pixel(image, {450, 615}), sahara);

    map->setMapType(MapView::MapType::hybrid);
    const QImage dark = render(*map);
    EXPECT_NE(pixel(dark, {450, 615}), sahara);
}

TEST(MapDrawing, TheBundledLandIsWholeAndDamagedCopiesAreRefused)
{
    const WorldLand &land = WorldLand::bundled();
    ASSERT_FALSE(land.isEmpty());
    EXPECT_EQ(land.pointCount(), 60387);
    // Cut edges along the antimeridian are not drawn as coasts.
    int cutSegments = 0;
    for (const auto &ring : land.rings(WorldLand::fullDetailLevel))
        for (size_t i = 0; i + 1 < ring.points.size(); ++i)
            if (!ring.isCoast(i)) {
                ++cutSegments;
                EXPECT_TRUE(ring.points[i].x() == ring.points[i + 1].x() ||
                            ring.points[i].y() == ring.points[i + 1].y());
            }
    EXPECT_GT(cutSegments, 4);

    QFile file(":/map/land-50m.bin");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_FALSE(WorldLand::decode(QByteArray("CVLAND02") + bytes.mid(8)));
    EXPECT_FALSE(WorldLand::decode(bytes + QByteArray(1, '\0')));
    for (qsizetype cut : {qsizetype(0), qsizetype(12), qsizetype(44), qsizetype(45),
                          bytes.size() / 3, bytes.size() - 1})
        EXPECT_FALSE(WorldLand::decode(bytes.left(cut))) << cut;
    // A ring claiming more points than the file holds.
    QByteArray huge = bytes.left(44);
    huge.append("\xff\xff\xff\xff\x0f", 5);
    EXPECT_FALSE(WorldLand::decode(huge));
    // Any single damaged byte gives a land or nothing, never a crash.
    for (qsizetype at = 40; at < bytes.size(); at += bytes.size() / 97) {
        QByteArray damaged = bytes;
        damaged[at] = char(damaged[at] ^ 0x5a);
        (void)WorldLand::decode(damaged);
    }
}

TEST(MapDrawing, LongTracksAreThinnedPerZoomKeepingTheirEndsAndShape)
{
    std::vector<QGeoCoordinate> coordinates;
    for (int i = 0; i < 100000; ++i)
        coordinates.emplace_back(45.0 + i * 1e-5 + 1e-3 * std::sin(i * 0.003), 14.0 + i * 1e-5);
    const PolylineGeometry geometry(coordinates);
    ASSERT_EQ(geometry.size(), 100000);
    const auto &world = geometry.worldPoints();
    for (int level : {4, 10, 14}) {
        const auto &kept = geometry.simplified(level);
        const double point = 1.0 / std::exp2(level);
        EXPECT_EQ(kept.front(), world.front());
        EXPECT_EQ(kept.back(), world.back());
        // Every dropped point lies within a point of the line through the
        // kept ones around it.
        size_t k = 0;
        double farthest = 0;
        for (const QPointF &p : world) {
            if (p == kept[k])
                continue;
            if (k + 1 < kept.size() && p == kept[k + 1]) {
                ++k;
                continue;
            }
            const QPointF a = kept[k], b = kept[k + 1], ab = b - a;
            const double t =
                std::clamp(QPointF::dotProduct(p - a, ab) / QPointF::dotProduct(ab, ab), 0.0, 1.0);
            const QPointF off = p - (a + ab * t);
            farthest = std::max(farthest, std::hypot(off.x(), off.y()));
        }
        EXPECT_EQ(k + 1, kept.size()) << level;
        EXPECT_LE(farthest, point + 1e-12) << level;
        EXPECT_EQ(&geometry.simplified(level), &kept);
    }
    // Where the wave shows, its crests are kept.
    EXPECT_EQ(geometry.simplified(4).size(), 2u);
    EXPECT_GT(geometry.simplified(10).size(), 10u);
    EXPECT_LT(geometry.simplified(10).size(), 2000u);
    EXPECT_LT(geometry.simplified(10).size(), geometry.simplified(14).size());

    // A zig-zag whose every corner shows is drawn from all its points.
    std::vector<QGeoCoordinate> zigzag;
    for (int i = 0; i < 10; ++i)
        zigzag.emplace_back(45.0 + (i % 2) * 0.1, 14.0 + i * 0.1);
    const PolylineGeometry corners(zigzag);
    EXPECT_EQ(&corners.simplified(12), &corners.worldPoints());
    EXPECT_EQ(&corners.simplified(20), &corners.worldPoints());
    EXPECT_EQ(corners.simplified(2).size(), 2u);
}

TEST(MapDrawing, OverlaysAndAnnotationsAreDrawnWhereTheyBelong)
{
    auto map = sizedMap(400, 300);
    const QGeoCoordinate west(45.0, 13.99), east(45.0, 14.01);
    map->setCentre(QGeoCoordinate(45.0, 14.0), 14, false);
    auto geometry =
        std::make_shared<const PolylineGeometry>(std::vector<QGeoCoordinate>{west, east});
    map->addOverlay({"below", geometry, Qt::white, 9});
    map->addOverlay({"above", geometry, QColor(0, 0, 255), 3});
    QImage image = render(*map);
    const QPointF middle = map->coordinateToPoint(QGeoCoordinate(45.0, 14.0));
    EXPECT_EQ(pixel(image, middle), QColor(0, 0, 255));
    EXPECT_EQ(pixel(image, middle + QPointF(0, 3)), QColor(Qt::white));

    // A path that runs on past 180° stays one line across the antimeridian.
    map->removeAllOverlays();
    QGeoCoordinate beyond;
    beyond.setLatitude(10);
    beyond.setLongitude(180.02);
    map->addOverlay({"across",
                     std::make_shared<const PolylineGeometry>(
                         std::vector<QGeoCoordinate>{QGeoCoordinate(10, 179.98), beyond}),
                     QColor(255, 0, 0), 3});
    map->setCentre(QGeoCoordinate(10, -180), 14, false);
    image = render(*map);
    EXPECT_EQ(pixel(image, {200, 150}), QColor(255, 0, 0));

    map->removeAllOverlays();
    QImage dot(10, 10, QImage::Format_ARGB32_Premultiplied);
    dot.fill(QColor(0, 200, 0));
    auto pin = std::make_shared<MapAnnotation>("pin", QGeoCoordinate(10, -179.995), dot);
    map->addAnnotation(pin);
    image = render(*map);
    EXPECT_EQ(pixel(image, map->coordinateToPoint(pin->coordinate())), QColor(0, 200, 0));
    pin->setCoordinate(QGeoCoordinate(10, 179.995));
    image = render(*map);
    EXPECT_EQ(pixel(image, map->coordinateToPoint(pin->coordinate())), QColor(0, 200, 0));
    map->removeAnnotation(pin);
    EXPECT_TRUE(map->annotations().empty());
    image = render(*map);
    EXPECT_NE(pixel(image, map->coordinateToPoint(pin->coordinate())), QColor(0, 200, 0));
}

TEST(ScribbleViewTest, TheStrokeShowsInRedFromItsThirdPoint)
{
    ScribbleView view;
    view.resize(200, 200);
    view.show();
    const auto send = [&](QEvent::Type type, QPointF at) {
        QMouseEvent event(type, at, view.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
        return event.isAccepted();
    };
    EXPECT_TRUE(send(QEvent::MouseButtonPress, {20, 20}));
    send(QEvent::MouseMove, {100, 20});
    EXPECT_EQ(view.line().size(), 2u);
    EXPECT_EQ(countColour(renderAlone(view), QColor(255, 0, 0), 40), 0);
    send(QEvent::MouseMove, {100, 100});
    const QImage image = renderAlone(view);
    EXPECT_GT(countColour(image, QColor(255, 0, 0), 40), 100);
    EXPECT_EQ(pixel(image, {60, 20}).red(), 255);
    EXPECT_EQ(pixel(image, {100, 60}).red(), 255);
    // Transparent away from the stroke, so the map shows through.
    EXPECT_EQ(pixel(image, {20, 150}).alpha(), 0);
    EXPECT_EQ(view.line(), (std::vector<QPointF>{{20, 20}, {100, 20}, {100, 100}}));
}
