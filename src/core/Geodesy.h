#pragma once

#include <QGeoCoordinate>

namespace corvane {

// The initial great-circle bearing from `from` to `to`, in degrees from -180
// to 180 (0 north, 90 east).
double bearing(const QGeoCoordinate &from, const QGeoCoordinate &to);

} // namespace corvane
