#pragma once

#include "core/Location.h"
#include "location/DrawMode.h"

#include <QGeoCoordinate>
#include <QPointF>

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace corvane {

// The most locations a drawn route may have: 800 km on foot, 1,600 km in the
// other modes. A stroke zoomed far out would otherwise ask for millions.
constexpr std::size_t maximumDrawnLocations = 200000;

// The globe coordinates of a stroke's points, in order. `points` are in the
// map's own coordinates and `toCoordinate` maps them to the globe; a point
// the map cannot place is skipped, and latitudes are clamped and longitudes
// wrapped into -90...90 and -180...180.
std::vector<QGeoCoordinate>
strokeCoordinates(const std::vector<QPointF> &points,
                  const std::function<QGeoCoordinate(const QPointF &)> &toCoordinate);

// How many locations `routeThrough` makes of `drawn` in `mode`, counted
// without making them.
std::size_t drawnLocationCount(const std::vector<QGeoCoordinate> &drawn, DrawMode mode);

// The timed route through the drawn coordinates, travelled at the mode's
// speed. A stretch longer than the mode's step is walked along its great
// circle in steps of that length, the last one shorter, so that every drawn
// coordinate is itself a location and consecutive locations are at most one
// step apart. Each location heads for the drawn coordinate after the one it
// leads to (the last heads north, 0) and is stamped from `start` (seconds
// since 1970) by the distance travelled. Altitude 0, accuracies 10 m, speed
// the mode's.
std::vector<Location> routeThrough(const std::vector<QGeoCoordinate> &drawn, DrawMode mode,
                                   double start);

// The three above in one: nothing for a stroke of fewer than 3 points, one
// whose points the map cannot place, or one that would need more than
// `maximumDrawnLocations`.
std::optional<std::vector<Location>>
routeFromStroke(const std::vector<QPointF> &points,
                const std::function<QGeoCoordinate(const QPointF &)> &toCoordinate, DrawMode mode,
                double start);

} // namespace corvane
