#pragma once

#include <QGeoCoordinate>
#include <QPointF>

namespace corvane::map {

// The Web-Mercator world at zoom 0 is one 256-point tile; zoom z scales it by
// 2^z. World points below are in zoom-0 units: x from 0 at -180° eastwards,
// y from 0 at the north edge (85.0511°) to 256 at the south edge.
constexpr double tileSize = 256.0;
constexpr double maximumLatitude = 85.05112877980659;
// Ground metres per point at zoom 0 on the equator (2π × 6,378,137 / 256).
constexpr double equatorMetresPerPoint = 156543.03392804097;

double clampLatitude(double latitude);
// Into -180...180; 180 stays 180.
double normalizedLongitude(double longitude);

// Longitudes outside -180...180 give x outside 0...256, so a path across the
// antimeridian stays continuous.
QPointF worldPoint(double latitude, double longitude);
QPointF worldPoint(const QGeoCoordinate &coordinate);
// The coordinate at a world point, its longitude brought into -180...180.
QGeoCoordinate coordinateAt(const QPointF &world);

// The ground distance one point covers at `latitude` and `zoom`.
double metresPerPoint(double latitude, double zoom);

} // namespace corvane::map
