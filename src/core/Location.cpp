#include "core/Location.h"

#include <QTimeZone>

#include <cfloat>
#include <cmath>
#include <cstdint>

namespace corvane {

namespace {

void combine(std::size_t &seed, std::size_t value)
{
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

// Whole micro-degrees; a value with no 64-bit integer form (NaN, infinite,
// far out of range) counts as 0 rather than being converted undefinedly.
std::int64_t microDegrees(double degrees)
{
    const double scaled = std::trunc(degrees * 1000000.0);
    if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18)
        return 0;
    return std::int64_t(scaled);
}

// -0 and 0 compare equal, so they must hash alike.
std::size_t valueHash(double value)
{
    return std::hash<double>()(value == 0.0 ? 0.0 : value);
}

} // namespace

bool coordinatesEqual(const QGeoCoordinate &a, const QGeoCoordinate &b)
{
    return std::fabs(a.latitude() - b.latitude()) <= DBL_EPSILON &&
           std::fabs(a.longitude() - b.longitude()) <= DBL_EPSILON;
}

std::size_t coordinateHash(const QGeoCoordinate &coordinate)
{
    std::size_t seed = 0;
    combine(seed, std::hash<std::int64_t>()(microDegrees(coordinate.latitude())));
    combine(seed, std::hash<std::int64_t>()(microDegrees(coordinate.longitude())));
    return seed;
}

Location Location::coordinateOnly(double latitude, double longitude, double timestamp)
{
    Location location(latitude, longitude);
    location.altitude = 0;
    location.horizontalAccuracy = 0;
    location.verticalAccuracy = -1;
    location.course = -1;
    location.speed = -1;
    location.timestamp = timestamp;
    return location;
}

QDateTime Location::dateTime() const
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(timestamp * 1000.0)),
                                          QTimeZone::utc());
}

void Location::setDateTime(const QDateTime &dateTime)
{
    timestamp = double(dateTime.toMSecsSinceEpoch()) / 1000.0;
}

Location Location::fromPositionInfo(const QGeoPositionInfo &info)
{
    Location location;
    const QGeoCoordinate coordinate = info.coordinate();
    location.coordinate = QGeoCoordinate(coordinate.latitude(), coordinate.longitude());
    location.altitude =
        coordinate.type() == QGeoCoordinate::Coordinate3D ? coordinate.altitude() : 0.0;
    const auto attribute = [&info](QGeoPositionInfo::Attribute which) {
        return info.hasAttribute(which) ? double(info.attribute(which)) : -1.0;
    };
    location.course = attribute(QGeoPositionInfo::Direction);
    location.speed = attribute(QGeoPositionInfo::GroundSpeed);
    location.horizontalAccuracy = attribute(QGeoPositionInfo::HorizontalAccuracy);
    location.verticalAccuracy = attribute(QGeoPositionInfo::VerticalAccuracy);
    if (info.timestamp().isValid())
        location.setDateTime(info.timestamp());
    return location;
}

QGeoPositionInfo Location::toPositionInfo() const
{
    QGeoPositionInfo info(QGeoCoordinate(coordinate.latitude(), coordinate.longitude(), altitude),
                          dateTime());
    info.setAttribute(QGeoPositionInfo::Direction, course);
    info.setAttribute(QGeoPositionInfo::GroundSpeed, speed);
    info.setAttribute(QGeoPositionInfo::HorizontalAccuracy, horizontalAccuracy);
    info.setAttribute(QGeoPositionInfo::VerticalAccuracy, verticalAccuracy);
    return info;
}

bool Location::operator==(const Location &other) const
{
    return coordinatesEqual(coordinate, other.coordinate) && altitude == other.altitude &&
           course == other.course && speed == other.speed &&
           horizontalAccuracy == other.horizontalAccuracy &&
           verticalAccuracy == other.verticalAccuracy && timestamp == other.timestamp;
}

std::size_t Location::hash() const
{
    std::size_t seed = coordinateHash(coordinate);
    for (double value : {altitude, horizontalAccuracy, verticalAccuracy, speed, course, timestamp})
        combine(seed, valueHash(value));
    return seed;
}

std::string routeFileTooLargeText()
{
    return "The file is too large to be a route: a route file may hold at most " +
           std::to_string(maximumRouteFileSize >> 20) + " MB.";
}

} // namespace corvane
