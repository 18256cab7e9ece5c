#include "location/DrawnRoute.h"

#include "core/Geodesy.h"
#include "location/MapProjection.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// How a stretch between two drawn coordinates is walked: whole steps, then
// what is left; a stretch no longer than one step is one location.
struct Stretch {
    double distance;
    std::size_t wholeSteps = 0;
    double remainder = 0;

    Stretch(double length, double step) : distance(length)
    {
        if (distance <= step)
            return;
        wholeSteps = static_cast<std::size_t>(std::floor(distance / step));
        remainder = distance - static_cast<double>(wholeSteps) * step;
    }

    std::size_t locations() const
    {
        return wholeSteps == 0 ? 1 : wholeSteps + (remainder > 0 ? 1 : 0);
    }
};

} // namespace

std::vector<QGeoCoordinate>
strokeCoordinates(const std::vector<QPointF> &points,
                  const std::function<QGeoCoordinate(const QPointF &)> &toCoordinate)
{
    std::vector<QGeoCoordinate> drawn;
    drawn.reserve(points.size());
    for (const QPointF &point : points) {
        // A point the map cannot place has no distance to walk; skip it
        // rather than step an undefined number of times.
        const QGeoCoordinate coordinate = toCoordinate(point);
        if (!std::isfinite(coordinate.latitude()) || !std::isfinite(coordinate.longitude()))
            continue;
        QGeoCoordinate onGlobe;
        onGlobe.setLatitude(std::clamp(coordinate.latitude(), -90.0, 90.0));
        onGlobe.setLongitude(map::normalizedLongitude(coordinate.longitude()));
        drawn.push_back(onGlobe);
    }
    return drawn;
}

std::size_t drawnLocationCount(const std::vector<QGeoCoordinate> &drawn, DrawMode mode)
{
    if (drawn.empty())
        return 0;
    const double step = stepMetres(mode);
    std::size_t count = 1;
    for (std::size_t i = 1; i < drawn.size(); ++i)
        count += Stretch(distanceMetres(drawn[i - 1], drawn[i]), step).locations();
    return count;
}

std::vector<Location> routeThrough(const std::vector<QGeoCoordinate> &drawn, DrawMode mode,
                                   double start)
{
    const double speed = metresPerSecond(mode);
    const double step = stepMetres(mode);
    std::vector<Location> route;
    route.reserve(drawnLocationCount(drawn, mode));
    double time = start;
    const auto append = [&](const QGeoCoordinate &coordinate, double course) {
        Location location;
        location.coordinate = coordinate;
        location.altitude = 0;
        location.horizontalAccuracy = 10;
        location.verticalAccuracy = 10;
        location.course = course;
        location.speed = speed;
        location.timestamp = time;
        route.push_back(location);
    };

    for (std::size_t i = 0; i < drawn.size(); ++i) {
        const QGeoCoordinate &here = drawn[i];
        const double course = i + 1 < drawn.size() ? bearing(here, drawn[i + 1]) : 0.0;
        if (route.empty()) {
            append(here, course);
            continue;
        }
        // Every stretch starts on the drawn coordinate before it, which the
        // last one ended on.
        const QGeoCoordinate from = route.back().coordinate;
        const Stretch stretch(distanceMetres(from, here), step);
        for (std::size_t n = 1; n <= stretch.wholeSteps; ++n) {
            time += step / speed;
            const double travelled = static_cast<double>(n) * step;
            append(n == stretch.wholeSteps && stretch.remainder <= 0
                       ? here
                       : greatCirclePoint(from, here, travelled / stretch.distance),
                   course);
        }
        if (stretch.wholeSteps == 0 || stretch.remainder > 0) {
            time += (stretch.wholeSteps == 0 ? stretch.distance : stretch.remainder) / speed;
            append(here, course);
        }
    }
    return route;
}

std::optional<std::vector<Location>>
routeFromStroke(const std::vector<QPointF> &points,
                const std::function<QGeoCoordinate(const QPointF &)> &toCoordinate, DrawMode mode,
                double start)
{
    if (points.size() < 3)
        return std::nullopt;
    const std::vector<QGeoCoordinate> drawn = strokeCoordinates(points, toCoordinate);
    const std::size_t count = drawnLocationCount(drawn, mode);
    if (count == 0 || count > maximumDrawnLocations)
        return std::nullopt;
    return routeThrough(drawn, mode, start);
}

} // namespace corvane
