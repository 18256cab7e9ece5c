#pragma once

#include "core/Location.h"
#include "location/DrawMode.h"

#include <QGeoCoordinate>
#include <QPointF>

#include <functional>
#include <optional>
#include <vector>

namespace corvane {

// Turns a freehand stroke into a timed route travelled at the mode's speed.
// `points` are in the map's own coordinates and `toCoordinate` maps them to
// the globe. Stretches longer than the mode's step are resampled into steps
// of that length; each location heads for the next drawn point (the last
// heads north, 0) and is stamped from `start` (seconds since 1970) by the
// distance travelled. Altitude 0, accuracies 10 m, speed the mode's. A
// stroke of fewer than 3 points gives no route.
std::optional<std::vector<Location>>
routeFromStroke(const std::vector<QPointF> &points,
                const std::function<QGeoCoordinate(const QPointF &)> &toCoordinate, DrawMode mode,
                double start);

} // namespace corvane
