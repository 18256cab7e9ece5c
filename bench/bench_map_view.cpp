#include "BenchApplication.h"

#include "location/GPSViewController.h"
#include "location/LocationSimulator.h"
#include "location/StepScheduler.h"

#include <QCoreApplication>
#include <QImage>
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace corvane;

namespace {

// A 100,000-point track, one point every 3 m or so, winding for about 300 km
// through the Alps.
std::vector<Location> makeTrack()
{
    std::vector<Location> track;
    track.reserve(100000);
    double latitude = 46.0, longitude = 8.0, heading = 0.6;
    for (int i = 0; i < 100000; ++i) {
        heading += 0.02 * std::sin(i / 700.0) + 0.004 * std::cos(i / 53.0);
        latitude += 2.7e-5 * std::cos(heading);
        longitude += 3.9e-5 * std::sin(heading);
        Location location(latitude, longitude);
        location.timestamp = 1700000000.0 + i;
        track.push_back(location);
    }
    return track;
}

struct World {
    std::shared_ptr<LocationSimulator> engine;
    std::unique_ptr<GPSViewController> pane;
};

World &world()
{
    static World *made = [] {
        bench::ensureApplication();
        qputenv("CORVANE_MAP_TILE_URL", "");
        auto *world = new World;
        LocationSimulator::Environment environment;
        environment.clock = [] { return 1700000000.0; };
        environment.scheduler = std::make_shared<TimerStepScheduler>();
        environment.sink = [](const Location &, const QStringList &) {};
        environment.devices = [] { return LocationSimulator::ToolsetDevices{}; };
        world->engine = LocationSimulator::make(environment);
        while (!world->engine->isReady())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        world->engine->useWithLocations(makeTrack());
        GPSViewController::Environment paneEnvironment;
        paneEnvironment.engine = world->engine;
        paneEnvironment.after = [](double, std::function<void()>) {};
        world->pane = std::make_unique<GPSViewController>(paneEnvironment);
        world->pane->resize(1200, 800);
        world->pane->show();
        QCoreApplication::processEvents();
        return world;
    }();
    return *made;
}

// Painting the map with the whole route on it while the view moves (a drag,
// an animation): land, graticule, both route overlays, the pin and the scale
// bar, all drawn afresh. The view is nudged by a point between paintings.
void BM_RepaintWholeRoute(benchmark::State &state)
{
    World &w = world();
    w.pane->updateRoute(false);
    MapView *map = w.pane->mapView();
    QImage image(map->size(), QImage::Format_ARGB32_Premultiplied);
    map->render(&image);
    const QGeoCoordinate centre = map->centreCoordinate();
    const QGeoCoordinate nudged =
        map->pointToCoordinate({map->width() / 2.0 + 1, map->height() / 2.0});
    bool flip = false;
    for (auto _ : state) {
        map->setCentre((flip = !flip) ? nudged : centre, map->zoom(), false);
        map->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["zoom"] = map->zoom();
    state.counters["drawnPoints"] =
        double(map->overlays()[0].geometry->simplified(int(std::ceil(map->zoom()))).size());
}
BENCHMARK(BM_RepaintWholeRoute)->Unit(benchmark::kMillisecond);

// The same with the view still, as when the pin moves during playback: the
// map under the pin is kept from the painting before.
void BM_RepaintWholeRouteViewStill(benchmark::State &state)
{
    World &w = world();
    w.pane->updateRoute(false);
    MapView *map = w.pane->mapView();
    QImage image(map->size(), QImage::Format_ARGB32_Premultiplied);
    map->render(&image);
    for (auto _ : state) {
        map->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_RepaintWholeRouteViewStill)->Unit(benchmark::kMillisecond);

// The first painting after a new route: the thinned copy for the zoom is made.
void BM_FirstPaintOfANewRoute(benchmark::State &state)
{
    World &w = world();
    MapView *map = w.pane->mapView();
    QImage image(map->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        state.PauseTiming();
        w.pane->updateRoute(false);
        state.ResumeTiming();
        map->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_FirstPaintOfANewRoute)->Unit(benchmark::kMillisecond);

// Replacing the overlays with the engine's 100,000 points and fitting the
// view to them.
void BM_UpdateRoute(benchmark::State &state)
{
    World &w = world();
    for (auto _ : state)
        w.pane->updateRoute(false);
}
BENCHMARK(BM_UpdateRoute)->Unit(benchmark::kMillisecond);

} // namespace
