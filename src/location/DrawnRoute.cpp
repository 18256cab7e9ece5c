#include "location/DrawnRoute.h"

#include "core/Geodesy.h"

#include <cmath>

namespace corvane {

std::optional<std::vector<Location>>
routeFromStroke(const std::vector<QPointF> &points,
                const std::function<QGeoCoordinate(const QPointF &)> &toCoordinate, DrawMode mode,
                double start)
{
    if (points.size() < 3)
        return std::nullopt;
    const double speed = metresPerSecond(mode);
    const double step = stepMetres(mode);

    std::vector<QGeoCoordinate> drawn;
    drawn.reserve(points.size());
    for (const QPointF &point : points) {
        // A point the map cannot place has no distance to walk; skip it
        // rather than step an undefined number of times.
        const QGeoCoordinate coordinate = toCoordinate(point);
        if (std::isfinite(coordinate.latitude()) && std::isfinite(coordinate.longitude()))
            drawn.push_back(coordinate);
    }

    std::vector<Location> route;
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
        const double distance = distanceMetres(route.back().coordinate, here);
        if (distance <= step) {
            time += distance / speed;
            append(here, course);
            continue;
        }
        // Whole steps, then what is left; the last one ends on the drawn point.
        const double heading = bearing(drawn[i - 1], here);
        const auto wholeSteps = static_cast<long long>(std::floor(distance / step));
        const double remainder = distance - static_cast<double>(wholeSteps) * step;
        const auto walk = [&](double length) {
            time += length / speed;
            append(destination(route.back().coordinate, length, heading), course);
        };
        for (long long n = 0; n < wholeSteps; ++n)
            walk(step);
        if (remainder > 0)
            walk(remainder);
    }
    if (route.empty())
        return std::nullopt;
    return route;
}

} // namespace corvane
