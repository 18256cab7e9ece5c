#pragma once

#include <QGeoCoordinate>

namespace corvane {

// Latitude within -90...90 and longitude within -180...180, both finite.
bool isValidCoordinate(double latitude, double longitude);

// The initial great-circle bearing from `from` to `to`, in degrees from -180
// to 180 (0 north, 90 east).
double bearing(const QGeoCoordinate &from, const QGeoCoordinate &to);

// The great-circle distance in metres between two coordinates (haversine
// on a sphere of the mean Earth radius, 6,371,008.8 m). Within about 0.5 %
// of the ellipsoidal distance, which is plenty for pacing a route.
double distanceMetres(const QGeoCoordinate &from, const QGeoCoordinate &to);

// The point reached from `from` after `metres` along the initial bearing
// `bearingDegrees` on a sphere of radius 6,371.01 km. The longitude is not
// wrapped into -180...180, so a path across the antimeridian stays
// continuous.
QGeoCoordinate destination(const QGeoCoordinate &from, double metres, double bearingDegrees);

// The point `fraction` (0...1) of the way from `from` to `to` along the
// shorter great circle: its distance from `from` is that fraction of the
// whole, whatever the length. The ends come back as given; the longitude
// lies within -180...180.
QGeoCoordinate greatCirclePoint(const QGeoCoordinate &from, const QGeoCoordinate &to,
                                double fraction);

} // namespace corvane
