#include "MapTestSupport.h"

#include "core/Geodesy.h"
#include "location/DrawnRoute.h"
#include "location/EngineTestSupport.h"
#include "location/GPSSplitView.h"
#include "location/GPSViewController.h"
#include "location/MapProjection.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/menus/ContextMenuPresenter.h"
#include "platform/menus/MenuItem.h"
#include "platform/desktop/SettingsOpener.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <gtest/gtest.h>

#include <array>
#include <cmath>

using namespace corvane;
using namespace corvane::test;

namespace {

struct Delayed {
    double seconds;
    std::function<void()> work;
};

void mouse(QWidget *target, QEvent::Type type, QPointF at, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : button;
    QMouseEvent event(type, at, target->mapToGlobal(at), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

class GPSPane : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        makeEngine();
        ContextMenuPresenter::setShared(menus);
    }

    void TearDown() override
    {
        pane.reset();
        ContextMenuPresenter::setShared(nullptr);
        SettingsOpener::setHandler(nullptr);
        EngineTest::TearDown();
    }

    void makePane(bool runInitialDisplay = true)
    {
        GPSViewController::Environment environment;
        environment.engine = engine;
        environment.after = [this](double seconds, std::function<void()> work) {
            delayed.push_back({seconds, std::move(work)});
        };
        environment.clock = [this] { return now; };
        pane = std::make_unique<GPSViewController>(environment);
        QObject::connect(pane.get(), &GPSViewController::toolbarNeedsRevalidation,
                         [this] { ++revalidations; });
        pane->resize(800, 600);
        pane->show();
        map = pane->mapView();
        map->setTileSources({}, {});
        if (runInitialDisplay) {
            EXPECT_EQ(delayed.size(), 1u);
            runDelayed();
        }
        settle();
        revalidations = 0;
    }

    // The engine's notifications reach the pane through the main queue.
    void settle()
    {
        QCoreApplication::processEvents();
        while (DispatchQueue::drainMain() > 0)
            QCoreApplication::processEvents();
    }

    void settleAnimation()
    {
        settle();
        ASSERT_TRUE(waitUntil([this] { return !map->isAnimating(); }, std::chrono::seconds(10)));
    }

    void runDelayed()
    {
        auto work = std::move(delayed);
        delayed.clear();
        for (auto &item : work)
            item.work();
    }

    void load(std::vector<Location> locations)
    {
        engine->useWithLocations(std::move(locations));
        settle();
    }

    double cameraMetres() const
    {
        return map::metresPerPoint(map->centreCoordinate().latitude(), map->zoom()) * map->height();
    }

    static void expectNear(const QGeoCoordinate &a, const QGeoCoordinate &b, double tolerance)
    {
        EXPECT_NEAR(a.latitude(), b.latitude(), tolerance);
        EXPECT_NEAR(a.longitude(), b.longitude(), tolerance);
    }

    std::unique_ptr<GPSViewController> pane;
    MapView *map = nullptr;
    std::vector<Delayed> delayed;
    int revalidations = 0;
    std::shared_ptr<RecordingContextMenuPresenter> menus =
        std::make_shared<RecordingContextMenuPresenter>();
};

} // namespace

TEST_F(GPSPane, TheRouteIsDrawnBorderFirstThenTrackAndFitted)
{
    makePane();
    const auto locations = route(5);
    load(locations);
    ASSERT_EQ(map->overlays().size(), 2u);
    const MapPolyline &border = map->overlays()[0];
    const MapPolyline &track = map->overlays()[1];
    EXPECT_EQ(border.title, "cv.border");
    EXPECT_EQ(border.color, QColor(Qt::white));
    EXPECT_EQ(border.lineWidth, 5.5);
    EXPECT_EQ(track.title, "cv.track");
    EXPECT_EQ(track.color, pane->palette().color(QPalette::Highlight));
    EXPECT_EQ(track.lineWidth, 3.0);
    EXPECT_EQ(border.geometry, track.geometry);
    EXPECT_EQ(track.geometry->coordinates().size(), 5u);
    EXPECT_EQ(revalidations, 1);
    settleAnimation();
    for (const Location &location : locations) {
        const QPointF point = map->coordinateToPoint(location.coordinate);
        EXPECT_GE(point.x(), 20 - 1e-6);
        EXPECT_LE(point.x(), 780 + 1e-6);
        EXPECT_GE(point.y(), 30 - 1e-6);
        EXPECT_LE(point.y(), 580 + 1e-6);
    }

    // One location: looked at from 5000 m.
    load({locations[2]});
    settleAnimation();
    expectNear(map->centreCoordinate(), locations[2].coordinate, 1e-9);
    EXPECT_NEAR(cameraMetres(), 5000, 1e-6);
    EXPECT_EQ(map->overlays()[1].geometry->size(), 1);

    // None: the view stays where it is.
    map->setCentre(QGeoCoordinate(48.2, 16.37), 9, false);
    load({});
    settleAnimation();
    expectNear(map->centreCoordinate(), QGeoCoordinate(48.2, 16.37), 1e-9);
    EXPECT_DOUBLE_EQ(map->zoom(), 9);
    EXPECT_EQ(map->overlays().size(), 2u);
    EXPECT_EQ(map->overlays()[1].geometry->size(), 0);
    EXPECT_EQ(revalidations, 3);
}

TEST_F(GPSPane, ARouteFarFromTheViewJumpsThereAndANearOneGlides)
{
    makePane();
    const QGeoCoordinate centre(46.05, 14.5);
    const auto routeFrom = [](const QGeoCoordinate &start) {
        return std::vector<Location>{Location(start.latitude(), start.longitude()),
                                     Location(start.latitude() + 0.01, start.longitude())};
    };
    map->setCentre(centre, 12, false);
    load(routeFrom(destination(centre, 40000, 90)));
    EXPECT_FALSE(map->isAnimating());

    map->setCentre(centre, 12, false);
    load(routeFrom(destination(centre, 10000, 90)));
    EXPECT_TRUE(map->isAnimating());
    settleAnimation();
}

TEST_F(GPSPane, ThePinFollowsTheEnginesCurrentLocation)
{
    makePane();
    EXPECT_TRUE(map->annotations().empty());
    const auto locations = route(3);
    load(locations);
    const auto pin = pane->currentLocationAnnotation();
    ASSERT_TRUE(pin);
    ASSERT_EQ(map->annotations().size(), 1u);
    EXPECT_EQ(map->annotations()[0], pin);
    EXPECT_EQ(pin->title(), "cv.current");
    EXPECT_FALSE(pin->image().isNull());
    expectNear(pin->coordinate(), locations[0].coordinate, 1e-12);

    engine->setCurrentIndex(2);
    settle();
    EXPECT_EQ(pane->currentLocationAnnotation(), pin);
    expectNear(pin->coordinate(), locations[2].coordinate, 1e-12);

    engine->setCurrentLocation(std::nullopt);
    settle();
    EXPECT_FALSE(pane->currentLocationAnnotation());
    EXPECT_TRUE(map->annotations().empty());

    // Any notification without a location removes the pin too.
    engine->setCurrentIndex(1);
    settle();
    ASSERT_TRUE(pane->currentLocationAnnotation());
    NotificationCenter::defaultCenter().post(LocationSimulator::currentLocationUpdate);
    settle();
    EXPECT_TRUE(map->annotations().empty());
}

TEST_F(GPSPane, TheFirstDisplayGoesToTheDefaultPlaceWithoutACurrentLocation)
{
    makePane(false);
    ASSERT_EQ(delayed.size(), 1u);
    EXPECT_DOUBLE_EQ(delayed[0].seconds, 0.1);
    runDelayed();
    expectNear(map->centreCoordinate(), GPSViewController::defaultCoordinate(), 1e-9);
    EXPECT_NEAR(cameraMetres(), 5000, 1e-6);
    EXPECT_FALSE(map->isAnimating());
    EXPECT_TRUE(map->annotations().empty());
    // Shown again later, it is not scheduled twice.
    pane->hide();
    pane->show();
    EXPECT_TRUE(delayed.empty());
}

TEST_F(GPSPane, TheFirstDisplayShowsTheRouteAndPinWhenThereIsACurrentLocation)
{
    const auto locations = route(4);
    engine->useWithLocations(locations);
    makePane();
    settleAnimation();
    ASSERT_TRUE(pane->currentLocationAnnotation());
    expectNear(pane->currentLocationAnnotation()->coordinate(), locations[0].coordinate, 1e-12);
    EXPECT_EQ(map->overlays()[1].geometry->size(), 4);
    for (const Location &location : locations) {
        const QPointF point = map->coordinateToPoint(location.coordinate);
        EXPECT_TRUE(QRectF(20, 30, 760, 550).adjusted(-1e-6, -1e-6, 1e-6, 1e-6).contains(point));
    }
}

TEST_F(GPSPane, DrawingRecordsAStrokeAndDoneTurnsItIntoTheRoute)
{
    makePane();
    const auto before = route(3);
    load(before);
    revalidations = 0;
    map->setCentre(QGeoCoordinate(46.0, 14.5), 17, false);

    pane->beginDraw(DrawMode::bike);
    ASSERT_TRUE(pane->isDrawing());
    EXPECT_EQ(pane->drawMode(), DrawMode::bike);
    ScribbleView *scribble = pane->captureView();
    ASSERT_TRUE(scribble);
    EXPECT_EQ(scribble->geometry(), map->geometry());
    EXPECT_TRUE(pane->drawInfo()->isVisible());
    EXPECT_EQ(revalidations, 1);

    const std::vector<QPointF> stroke = {{100, 300}, {140, 290}, {190, 300}, {260, 320}};
    mouse(scribble, QEvent::MouseButtonPress, stroke[0]);
    mouse(scribble, QEvent::MouseMove, stroke[1]);
    // A long press cannot start while drawing.
    EXPECT_TRUE(delayed.empty());

    // Another mode keeps the stroke.
    pane->beginDraw(DrawMode::walk);
    EXPECT_EQ(pane->captureView(), scribble);
    EXPECT_EQ(pane->drawMode(), DrawMode::walk);
    EXPECT_EQ(scribble->line().size(), 2u);
    EXPECT_EQ(revalidations, 2);
    mouse(scribble, QEvent::MouseMove, stroke[2]);
    mouse(scribble, QEvent::MouseMove, stroke[3]);
    mouse(scribble, QEvent::MouseButtonRelease, stroke[3]);

    const auto expected = routeFromStroke(
        stroke, [this](const QPointF &point) { return map->pointToCoordinate(point); },
        DrawMode::walk, now);
    ASSERT_TRUE(expected);
    pane->findChild<QPushButton *>("done")->click();
    EXPECT_EQ(engine->locations(), *expected);
    EXPECT_FALSE(pane->isDrawing());
    EXPECT_FALSE(pane->captureView());
    EXPECT_FALSE(pane->drawInfo()->isVisible());
    EXPECT_EQ(revalidations, 3);
    settle();
    EXPECT_EQ(map->overlays()[1].geometry->size(), qsizetype(expected->size()));
}

TEST_F(GPSPane, ShortStrokesAndCancelLeaveTheRouteAlone)
{
    makePane();
    const auto before = route(3);
    load(before);
    revalidations = 0;

    pane->beginDraw(DrawMode::drive);
    mouse(pane->captureView(), QEvent::MouseButtonPress, {100, 100});
    mouse(pane->captureView(), QEvent::MouseMove, {200, 100});
    pane->doneDraw();
    EXPECT_EQ(engine->locations(), before);
    EXPECT_FALSE(pane->isDrawing());
    EXPECT_EQ(revalidations, 2);

    pane->beginDraw(DrawMode::fly);
    for (QPointF point : {QPointF(10, 10), QPointF(50, 50), QPointF(90, 10), QPointF(130, 50)})
        mouse(pane->captureView(), QEvent::MouseMove, point);
    pane->findChild<QPushButton *>("cancel")->click();
    EXPECT_EQ(engine->locations(), before);
    EXPECT_FALSE(pane->isDrawing());
    EXPECT_FALSE(pane->drawInfo()->isVisible());
    EXPECT_EQ(revalidations, 4);

    // Without drawing, neither does anything.
    pane->doneDraw();
    pane->cancelDraw();
    EXPECT_EQ(revalidations, 4);
}

TEST_F(GPSPane, StrokesAcrossTheMapAreExactBoundedOrRefusedAtEveryZoom)
{
    // No store: the long routes need not be saved.
    auto environment = this->environment();
    environment.store = nullptr;
    engine = LocationSimulator::make(environment);
    auto alerts = std::make_shared<RecordingAlertPresenter>();
    AlertPresenter::setShared(alerts);
    makePane();
    const auto before = route(3);
    std::vector<QPointF> stroke;
    for (double x = 0; x < 800; x += 8)
        stroke.emplace_back(x, 300 + 20 * std::sin(x / 60));
    // Whether walking, biking, driving and flying fit under the cap across
    // the map at Cupertino's latitude.
    const std::pair<double, std::array<bool, 4>> rows[] = {
        {1, {}}, {2, {}}, {4, {}}, {6, {false, true, true, true}}, {10, {true, true, true, true}}};
    for (const auto &[zoom, fits] : rows) {
        for (const DrawMode mode : allDrawModes()) {
            SCOPED_TRACE(zoom * 10 + double(mode));
            load(before);
            map->setCentre(GPSViewController::defaultCoordinate(), zoom, false);
            std::vector<QGeoCoordinate> drawn;
            pane->beginDraw(mode);
            for (const QPointF &point : stroke) {
                mouse(pane->captureView(), QEvent::MouseMove, point);
                drawn.push_back(map->pointToCoordinate(point));
            }
            const std::size_t alerted = alerts->presented.size();
            pane->doneDraw();
            // Long strokes are walked off the main thread.
            EXPECT_EQ(engine->locations(), before);
            ASSERT_TRUE(waitForBackgroundWork());
            settle();
            const std::vector<Location> &locations = engine->locations();
            EXPECT_EQ(alerts->presented.size(), alerted + (fits[std::size_t(mode)] ? 0 : 1));
            if (!fits[std::size_t(mode)]) {
                EXPECT_EQ(locations, before);
                continue;
            }
            EXPECT_LE(locations.size(), maximumDrawnLocations);
            for (std::size_t i = 1; i < locations.size(); ++i)
                ASSERT_LE(distanceMetres(locations[i - 1].coordinate, locations[i].coordinate),
                          stepMetres(mode) + 1e-6);
            std::size_t at = 0;
            for (const QGeoCoordinate &coordinate : drawn) {
                while (at < locations.size() &&
                       distanceMetres(locations[at].coordinate, coordinate) > 1)
                    ++at;
                ASSERT_LT(at, locations.size()) << "a drawn point is missing";
            }
        }
    }
    AlertPresenter::setShared(nullptr);
}

TEST(GPSPaneAlert, TheTooLongAlertAdvisesAFasterModeOnlyWhereOneStepsFarther)
{
    // Walking steps 4 m and every other mode 8 m: only on foot does another
    // mode make the same stroke out of fewer locations.
    const std::pair<DrawMode, bool> rows[] = {{DrawMode::walk, true},
                                              {DrawMode::bike, false},
                                              {DrawMode::drive, false},
                                              {DrawMode::fly, false}};
    for (const auto &[mode, advisesFaster] : rows) {
        const AlertSpec alert = GPSViewController::longStrokeAlert(250000, mode);
        SCOPED_TRACE(alert.informativeText.toStdString());
        EXPECT_EQ(alert.messageText, "The Route Is Too Long");
        EXPECT_TRUE(alert.informativeText.startsWith("This drawing would need "));
        EXPECT_TRUE(alert.informativeText.endsWith(
            advisesFaster ? "Zoom in to draw a shorter route, or choose a faster mode."
                          : "Zoom in to draw a shorter route."));
    }
}

TEST_F(GPSPane, AHeldPressJumpsToThePressedPoint)
{
    makePane();
    map->setCentre(QGeoCoordinate(46.0, 14.5), 13, false);
    const QPointF at(300, 200);
    const QGeoCoordinate pressed = map->pointToCoordinate(at);
    mouse(map, QEvent::MouseButtonPress, at);
    ASSERT_EQ(delayed.size(), 1u);
    EXPECT_DOUBLE_EQ(delayed[0].seconds, 1.0);
    runDelayed();
    ASSERT_EQ(engine->locations().size(), 1u);
    EXPECT_EQ(engine->locations()[0],
              Location::coordinateOnly(pressed.latitude(), pressed.longitude(), now));
    mouse(map, QEvent::MouseButtonRelease, at);

    // A press that moves or ends first does nothing.
    const auto jumped = engine->locations();
    mouse(map, QEvent::MouseButtonPress, at);
    mouse(map, QEvent::MouseMove, at + QPointF(3, 0));
    runDelayed();
    mouse(map, QEvent::MouseButtonRelease, at + QPointF(3, 0));
    mouse(map, QEvent::MouseButtonPress, {500, 400});
    mouse(map, QEvent::MouseButtonRelease, {500, 400});
    runDelayed();
    EXPECT_EQ(engine->locations(), jumped);

    // The timer of a short press does not cut the next press short.
    mouse(map, QEvent::MouseButtonPress, {100, 100});
    mouse(map, QEvent::MouseButtonRelease, {100, 100});
    const QGeoCoordinate held = map->pointToCoordinate({120, 110});
    mouse(map, QEvent::MouseButtonPress, {120, 110});
    ASSERT_EQ(delayed.size(), 2u);
    delayed[0].work();
    EXPECT_EQ(engine->locations(), jumped);
    delayed[1].work();
    delayed.clear();
    ASSERT_EQ(engine->locations().size(), 1u);
    expectNear(engine->locations()[0].coordinate, held, 1e-12);
}

TEST_F(GPSPane, TheContextMenuOffersTheThreeActionsForThePointUnderThePointer)
{
    makePane();
    map->setCentre(QGeoCoordinate(37.5, -122.25), 14, false);
    mouse(map, QEvent::MouseButtonPress, {400, 300}, Qt::RightButton);
    ASSERT_EQ(menus->shown.size(), 1u);
    EXPECT_EQ(menus->shown[0].globalPosition, map->mapToGlobal(QPoint(400, 300)));
    const auto items = menus->shown[0].menu->items();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0]->title(), "Set Location");
    EXPECT_EQ(items[1]->title(), "Copy Coordinates");
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_EQ(items[3]->title(), "Manage Presets…");
    for (const auto &item : items)
        EXPECT_TRUE(item->keyEquivalent().isEmpty());
    const auto coordinate = items[0]->representedObject().as<QGeoCoordinate>();
    ASSERT_TRUE(coordinate);
    expectNear(*coordinate, QGeoCoordinate(37.5, -122.25), 1e-9);
    // The right press is the menu's, not the start of a long press.
    EXPECT_TRUE(delayed.empty());

    ASSERT_TRUE(items[1]->sendAction());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "37.500000, -122.250000");

    QStringList opened;
    SettingsOpener::setHandler([&](const QString &pane) { opened << pane; });
    ASSERT_TRUE(items[3]->sendAction());
    EXPECT_EQ(opened, QStringList{"locations"});

    ASSERT_TRUE(items[0]->sendAction());
    ASSERT_EQ(engine->locations().size(), 1u);
    EXPECT_EQ(engine->locations()[0],
              Location::coordinateOnly(coordinate->latitude(), coordinate->longitude(), now));

    GPSViewController::copyCoordinate(QGeoCoordinate(-33.8688197, 151.2092957));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "-33.868820, 151.209296");
}

TEST_F(GPSPane, NoContextMenuWhileDrawingOrOutsideTheMap)
{
    makePane();
    EXPECT_FALSE(pane->contextMenuAt({-2, 100}));
    EXPECT_FALSE(pane->contextMenuAt({100, 601}));
    pane->showContextMenu({805, 10}, QPoint());
    EXPECT_TRUE(menus->shown.empty());

    pane->beginDraw(DrawMode::walk);
    mouse(pane->captureView(), QEvent::MouseButtonPress, {400, 300}, Qt::RightButton);
    EXPECT_TRUE(menus->shown.empty());
    EXPECT_TRUE(pane->captureView()->line().empty());
    EXPECT_FALSE(pane->contextMenuAt({400, 300}));
    pane->cancelDraw();
    EXPECT_TRUE(pane->contextMenuAt({400, 300}));
}

TEST_F(GPSPane, ZoomStepsTwoLevelsWithinItsLimitsKeepingTheCentre)
{
    makePane();
    const QGeoCoordinate centre(46.05, 14.5);
    for (double zoom : {1.0, 0.5}) {
        map->setCentre(centre, zoom, false);
        pane->zoomOut();
        EXPECT_FALSE(map->isAnimating());
        EXPECT_DOUBLE_EQ(map->zoom(), zoom);
    }
    for (double zoom : {17.0, 18.5}) {
        map->setCentre(centre, zoom, false);
        pane->zoomIn();
        EXPECT_FALSE(map->isAnimating());
        EXPECT_DOUBLE_EQ(map->zoom(), zoom);
    }

    map->setCentre(centre, 10, false);
    EXPECT_NEAR(pane->zoomLevel(), 10, 1e-9);
    pane->zoomOut();
    settleAnimation();
    EXPECT_NEAR(map->region().longitudeSpan, 360.0 / 256 * 800 / 256, 1e-9);
    expectNear(map->centreCoordinate(), centre, 1e-9);

    map->setCentre(centre, 10, false);
    pane->zoomIn();
    settleAnimation();
    EXPECT_NEAR(map->region().longitudeSpan, 360.0 / 4096 * 800 / 256, 1e-12);
    expectNear(map->centreCoordinate(), centre, 1e-9);
}

TEST_F(GPSPane, PanningCentresThePointAFifthOfTheViewAway)
{
    makePane();
    map->setCentre(QGeoCoordinate(46.05, 14.5), 11, false);
    const QGeoCoordinate right = map->pointToCoordinate({0.9 * 800, 0.5 * 600});
    pane->pan(GPSViewController::PanDirection::right);
    settleAnimation();
    expectNear(map->centreCoordinate(), right, 1e-9);

    const QGeoCoordinate up = map->pointToCoordinate({0.5 * 800, 0.1 * 600});
    pane->pan(GPSViewController::PanDirection::up);
    settleAnimation();
    expectNear(map->centreCoordinate(), up, 1e-9);
}

TEST_F(GPSPane, TheStyleTogglesBetweenStandardAndHybrid)
{
    makePane();
    EXPECT_EQ(map->mapType(), MapView::MapType::standard);
    pane->toggleMapStyle();
    EXPECT_EQ(map->mapType(), MapView::MapType::hybrid);
    EXPECT_EQ(map->pointOfInterestFilter(), MapView::PointOfInterestFilter::excludingAll);
    pane->toggleMapStyle();
    EXPECT_EQ(map->mapType(), MapView::MapType::standard);
    EXPECT_EQ(map->pointOfInterestFilter(), MapView::PointOfInterestFilter::includingAll);
}

TEST_F(GPSPane, FittingTheRouteDependsOnHowManyPointsItHas)
{
    makePane();
    const QGeoCoordinate centre(48.2, 16.37);
    map->setCentre(centre, 9, false);
    pane->zoomToRoute();
    settleAnimation();
    expectNear(map->centreCoordinate(), centre, 1e-9);
    EXPECT_NEAR(cameraMetres(), 5000, 1e-6);

    const auto locations = route(6);
    load(locations);
    settleAnimation();
    map->setCentre(centre, 3, false);
    pane->zoomToRoute();
    EXPECT_TRUE(map->isAnimating());
    settleAnimation();
    const QPointF first = map->coordinateToPoint(locations.front().coordinate);
    const QPointF last = map->coordinateToPoint(locations.back().coordinate);
    EXPECT_TRUE(std::fabs(std::fabs(first.x() - last.x()) - 760) < 1e-6 ||
                std::fabs(std::fabs(first.y() - last.y()) - 550) < 1e-6);

    load({locations[1]});
    settleAnimation();
    map->setCentre(centre, 3, false);
    pane->zoomToRoute();
    settleAnimation();
    expectNear(map->centreCoordinate(), locations[1].coordinate, 1e-9);
    EXPECT_NEAR(cameraMetres(), 5000, 1e-6);
}

TEST_F(GPSPane, TheSplitViewStartsWithTheSidebarAsToldAndItsDividerStaysPut)
{
    makePane();
    auto *sidebar = new QWidget;
    sidebar->setMinimumWidth(220);
    GPSSplitView split(pane.release(), sidebar, true);
    EXPECT_EQ(split.mapPane(), map->parentWidget());
    split.resize(900, 500);
    split.show();
    EXPECT_TRUE(split.isSidebarCollapsed());
    EXPECT_FALSE(sidebar->isVisible());
    split.setSidebarCollapsed(false);
    EXPECT_TRUE(sidebar->isVisible());
    ASSERT_TRUE(waitUntil([&] { return sidebar->width() >= 220; }));

    const QList<int> sizes = split.sizes();
    QSplitterHandle *handle = split.handle(1);
    ASSERT_TRUE(handle);
    const QPointF middle(handle->width() / 2.0, handle->height() / 2.0);
    mouse(handle, QEvent::MouseButtonPress, middle);
    mouse(handle, QEvent::MouseMove, middle - QPointF(150, 0));
    mouse(handle, QEvent::MouseButtonRelease, middle - QPointF(150, 0));
    QCoreApplication::processEvents();
    EXPECT_EQ(split.sizes(), sizes);

    GPSSplitView open(nullptr, nullptr, false);
    EXPECT_FALSE(open.isSidebarCollapsed());
    EXPECT_TRUE(open.sidebar());
}
