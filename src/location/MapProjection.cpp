#include "location/MapProjection.h"

#include <algorithm>
#include <cmath>

namespace corvane::map {

namespace {

constexpr double pi = 3.141592653589793;

} // namespace

double clampLatitude(double latitude)
{
    return std::clamp(latitude, -maximumLatitude, maximumLatitude);
}

double normalizedLongitude(double longitude)
{
    if (longitude >= -180.0 && longitude <= 180.0)
        return longitude;
    const double wrapped = std::fmod(longitude + 180.0, 360.0);
    return (wrapped < 0 ? wrapped + 360.0 : wrapped) - 180.0;
}

QPointF worldPoint(double latitude, double longitude)
{
    const double phi = clampLatitude(latitude) * pi / 180.0;
    const double x = (longitude + 180.0) / 360.0 * tileSize;
    const double y = (1.0 - std::asinh(std::tan(phi)) / pi) / 2.0 * tileSize;
    return {x, y};
}

QPointF worldPoint(const QGeoCoordinate &coordinate)
{
    return worldPoint(coordinate.latitude(), coordinate.longitude());
}

QGeoCoordinate coordinateAt(const QPointF &world)
{
    const double longitude = normalizedLongitude(world.x() / tileSize * 360.0 - 180.0);
    const double latitude =
        std::atan(std::sinh(pi * (1.0 - 2.0 * world.y() / tileSize))) * 180.0 / pi;
    // The one-value setters keep values the pair constructor would refuse.
    QGeoCoordinate coordinate;
    coordinate.setLatitude(clampLatitude(latitude));
    coordinate.setLongitude(longitude);
    return coordinate;
}

double metresPerPoint(double latitude, double zoom)
{
    return equatorMetresPerPoint * std::cos(clampLatitude(latitude) * pi / 180.0) / std::exp2(zoom);
}

} // namespace corvane::map
