#include "MapTestSupport.h"

#include "location/MapProjection.h"

#include <QMouseEvent>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <cmath>

using namespace corvane;
using namespace corvane::test;

namespace {

const QGeoCoordinate cupertino(37.33507030721554, -122.00915439213304);

double zoomFromRegion(const MapView &map)
{
    return std::log2(360.0 * (map.width() / 256.0) / map.region().longitudeSpan);
}

} // namespace

TEST(MapViewProjection, CoordinatesSurviveTheRoundTripAtLowMiddleAndHighZoom)
{
    auto map = sizedMap();
    const QGeoCoordinate places[] = {cupertino,
                                     QGeoCoordinate(-33.8688, 151.2093),
                                     QGeoCoordinate(51.5007, -0.1246),
                                     QGeoCoordinate(0, 0),
                                     QGeoCoordinate(84.9, 179.95),
                                     QGeoCoordinate(-60.5, -179.9)};
    for (double zoom : {2.0, 10.0, 17.0}) {
        for (const QGeoCoordinate &place : places) {
            map->setCentre(place, zoom, false);
            for (const QPointF offset : {QPointF(0, 0), QPointF(150, -90), QPointF(-320, 240)}) {
                const QGeoCoordinate there = map->pointToCoordinate(QPointF(400, 300) + offset);
                const QGeoCoordinate back = map->pointToCoordinate(map->coordinateToPoint(there));
                EXPECT_NEAR(back.latitude(), there.latitude(), 1e-9) << zoom;
                EXPECT_NEAR(back.longitude(), there.longitude(), 1e-9) << zoom;
                const QPointF point = map->coordinateToPoint(there);
                EXPECT_NEAR(point.x(), 400 + offset.x(), 1e-6);
                EXPECT_NEAR(point.y(), 300 + offset.y(), 1e-6);
            }
        }
    }
}

TEST(MapViewProjection, LatitudesAreClampedAndLongitudesWrapped)
{
    auto map = sizedMap();
    map->setCentre(QGeoCoordinate(80, 10), 3, false);
    const QPointF pole = map->coordinateToPoint(QGeoCoordinate(89.9, 10));
    const QPointF edge = map->coordinateToPoint(QGeoCoordinate(map::maximumLatitude, 10));
    EXPECT_DOUBLE_EQ(pole.y(), edge.y());
    EXPECT_DOUBLE_EQ(map->pointToCoordinate({400, -5000}).latitude(), map::maximumLatitude);
    // The view does not scroll past the north edge of the world.
    EXPECT_GE(map->coordinateToPoint(QGeoCoordinate(map::maximumLatitude, 10)).y(), -1e-9);
    EXPECT_LT(map->centreCoordinate().latitude(), 80);

    // Longitudes past either edge come back from the other side.
    EXPECT_DOUBLE_EQ(map::normalizedLongitude(-190), 170);
    EXPECT_DOUBLE_EQ(map::normalizedLongitude(190), -170);
    EXPECT_NEAR(map::coordinateAt(map::worldPoint(10, -190)).longitude(), 170, 1e-9);

    map->setCentre(QGeoCoordinate(0, 0), 0, false);
    // A world shorter than the view sits in its middle.
    EXPECT_NEAR(map->coordinateToPoint(QGeoCoordinate(0, 0)).y(), 300, 1e-9);
}

TEST(MapViewRegion, TheZoomFollowsTheLongitudeSpanFormula)
{
    auto map = sizedMap();
    map->setCentre(cupertino, 7.3, false);
    EXPECT_NEAR(zoomFromRegion(*map), 7.3, 1e-9);
    EXPECT_NEAR(map->zoom(), 7.3, 1e-12);

    // A latitude span of 0 takes the zoom from the longitude span alone.
    map->setRegion({cupertino, 0, 1.5}, false);
    EXPECT_NEAR(map->region().longitudeSpan, 1.5, 1e-9);
    EXPECT_NEAR(map->zoom(), std::log2(360.0 * 800 / 256 / 1.5), 1e-9);
    EXPECT_NEAR(map->centreCoordinate().latitude(), cupertino.latitude(), 1e-9);
    EXPECT_NEAR(map->centreCoordinate().longitude(), cupertino.longitude(), 1e-9);

    // With both spans the view shows at least both; one of them exactly.
    map->setRegion({cupertino, 4.0, 0.5}, false);
    const auto shown = map->region();
    EXPECT_GE(shown.latitudeSpan, 4.0 - 1e-9);
    EXPECT_GE(shown.longitudeSpan, 0.5 - 1e-9);
    EXPECT_TRUE(std::fabs(shown.latitudeSpan - 4.0) < 1e-9 ||
                std::fabs(shown.longitudeSpan - 0.5) < 1e-9);

    // A latitude span alone works too.
    map->setRegion({cupertino, 2.0, 0}, false);
    EXPECT_NEAR(map->region().latitudeSpan, 2.0, 1e-9);
}

TEST(MapViewRegion, TheCameraShowsItsDistanceOverTheViewsHeight)
{
    auto map = sizedMap();
    map->setCamera(cupertino, 5000, false);
    EXPECT_NEAR(map::metresPerPoint(cupertino.latitude(), map->zoom()) * map->height(), 5000, 1e-6);
    EXPECT_NEAR(map->centreCoordinate().latitude(), cupertino.latitude(), 1e-9);
    EXPECT_NEAR(map->centreCoordinate().longitude(), cupertino.longitude(), 1e-9);
}

TEST(MapViewRegion, ShowRectPutsTheBoxInsideTheInsetsTouchingOneSide)
{
    auto map = sizedMap();
    const MapView::Insets insets{30, 20, 20, 20};
    // A wide box and a tall one: each must touch its own pair of sides.
    const std::vector<std::vector<QGeoCoordinate>> boxes = {
        {QGeoCoordinate(46.0, 13.9), QGeoCoordinate(45.7, 14.5), QGeoCoordinate(45.8, 14.1)},
        {QGeoCoordinate(40.0, -3.7), QGeoCoordinate(43.5, -3.6)}};
    for (const auto &box : boxes) {
        map->showRect(box, insets, false);
        double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
        for (const QGeoCoordinate &corner : box) {
            const QPointF point = map->coordinateToPoint(corner);
            left = std::min(left, point.x());
            right = std::max(right, point.x());
            top = std::min(top, point.y());
            bottom = std::max(bottom, point.y());
        }
        EXPECT_GE(left, 20 - 1e-6);
        EXPECT_LE(right, 800 - 20 + 1e-6);
        EXPECT_GE(top, 30 - 1e-6);
        EXPECT_LE(bottom, 600 - 20 + 1e-6);
        const bool touchesSides = std::fabs(left - 20) < 1e-6 && std::fabs(right - 780) < 1e-6;
        const bool touchesTopAndBottom =
            std::fabs(top - 30) < 1e-6 && std::fabs(bottom - 580) < 1e-6;
        EXPECT_TRUE(touchesSides != touchesTopAndBottom);
        // Centred in the inset area the other way.
        if (touchesSides)
            EXPECT_NEAR((top + bottom) / 2, 30 + (600 - 50) / 2.0, 1e-6);
        else
            EXPECT_NEAR((left + right) / 2, 400, 1e-6);
    }
}

TEST(MapViewRegion, MovesAskedForBeforeTheViewHasASizeWaitForIt)
{
    MapView map;
    map.setTileSources({}, {});
    map.resize(0, 0);
    map.setCamera(cupertino, 5000, false);
    map.resize(640, 480);
    map.show();
    ASSERT_TRUE(waitUntil([&] { return map.isVisible(); }));
    EXPECT_NEAR(map.centreCoordinate().latitude(), cupertino.latitude(), 1e-9);
    EXPECT_NEAR(map::metresPerPoint(cupertino.latitude(), map.zoom()) * 480, 5000, 1e-6);
}

TEST(MapViewRegion, AnAnimatedMoveEndsExactlyOnItsTarget)
{
    auto map = sizedMap();
    map->setCentre(cupertino, 10, false);
    int changes = 0;
    QObject::connect(map.get(), &MapView::regionChanged, [&] { ++changes; });
    const QGeoCoordinate target(37.5, -122.4);
    map->setCentre(target, 12, true);
    EXPECT_TRUE(map->isAnimating());
    EXPECT_NEAR(map->zoom(), 10, 1e-12);
    ASSERT_TRUE(waitUntil([&] { return !map->isAnimating(); }, std::chrono::seconds(10)));
    EXPECT_NEAR(map->centreCoordinate().latitude(), 37.5, 1e-9);
    EXPECT_NEAR(map->centreCoordinate().longitude(), -122.4, 1e-9);
    EXPECT_DOUBLE_EQ(map->zoom(), 12);
    EXPECT_GE(changes, 2);

    // Across the antimeridian the short way round, landing on the target.
    map->setCentre(QGeoCoordinate(0, 179), 4, false);
    map->setCentre(QGeoCoordinate(0, -179), 4, true);
    ASSERT_TRUE(waitUntil([&] { return !map->isAnimating(); }, std::chrono::seconds(10)));
    EXPECT_NEAR(map->centreCoordinate().longitude(), -179, 1e-9);
}

TEST(MapViewInput, DragPansAndTheWheelZoomsAroundThePointer)
{
    auto map = sizedMap();
    map->setCentre(cupertino, 12, false);
    const QGeoCoordinate grabbed = map->pointToCoordinate({400, 300});
    const auto mouse = [&](QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, map->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(map.get(), &event);
    };
    mouse(QEvent::MouseButtonPress, {400, 300}, Qt::LeftButton);
    mouse(QEvent::MouseMove, {430, 310}, Qt::LeftButton);
    mouse(QEvent::MouseMove, {450, 320}, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {450, 320}, Qt::NoButton);
    const QPointF now = map->coordinateToPoint(grabbed);
    EXPECT_NEAR(now.x(), 450, 1e-6);
    EXPECT_NEAR(now.y(), 320, 1e-6);

    const QPointF anchor(100, 120);
    const QGeoCoordinate under = map->pointToCoordinate(anchor);
    QWheelEvent wheel(anchor, map->mapToGlobal(anchor), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(map.get(), &wheel);
    EXPECT_NEAR(map->zoom(), 13, 1e-9);
    const QPointF after = map->coordinateToPoint(under);
    EXPECT_NEAR(after.x(), anchor.x(), 1e-6);
    EXPECT_NEAR(after.y(), anchor.y(), 1e-6);

    // Zoom stays within the map's range.
    QWheelEvent far(anchor, map->mapToGlobal(anchor), QPoint(), QPoint(0, 120 * 40), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(map.get(), &far);
    EXPECT_DOUBLE_EQ(map->zoom(), MapView::maximumZoom);
}
