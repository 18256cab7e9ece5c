#pragma once

#include <QDateTime>
#include <QGeoCoordinate>
#include <QGeoPositionInfo>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace corvane {

// Coordinates closer than the double epsilon in both latitude and longitude
// are the same place; a hash of whole micro-degrees goes with it.
bool coordinatesEqual(const QGeoCoordinate &a, const QGeoCoordinate &b);
std::size_t coordinateHash(const QGeoCoordinate &coordinate);

// One location fix. Negative course, speed or accuracies mark them invalid
// and are kept as they are.
struct Location {
    QGeoCoordinate coordinate;
    double altitude = 0;           // metres
    double course = -1;            // degrees
    double speed = -1;             // metres per second
    double horizontalAccuracy = 0; // metres
    double verticalAccuracy = -1;  // metres
    double timestamp = 0;          // seconds since 1970-01-01T00:00Z

    Location() = default;
    Location(double latitude, double longitude) : coordinate(latitude, longitude) {}

    // A fix known by its place alone, taken at `timestamp` (seconds since
    // 1970): no altitude, vertical accuracy, course or speed.
    static Location coordinateOnly(double latitude, double longitude, double timestamp);

    QDateTime dateTime() const;
    void setDateTime(const QDateTime &dateTime);

    // Attributes the fix lacks read as invalid (-1).
    static Location fromPositionInfo(const QGeoPositionInfo &info);
    QGeoPositionInfo toPositionInfo() const;

    // The seven stored values; the coordinate by coordinatesEqual, the
    // others exactly (so a NaN never equals anything).
    bool operator==(const Location &other) const;
    std::size_t hash() const;
};

// The largest route file read, GPX or CSV: real routes run to tens of
// megabytes, and reading one takes a few times its size in memory.
inline constexpr std::int64_t maximumRouteFileSize = std::int64_t(256) << 20;
// Why a route file past that size is refused, one sentence fit for an alert.
std::string routeFileTooLargeText();

inline std::size_t qHash(const Location &location, std::size_t seed = 0)
{
    return location.hash() ^ seed;
}

} // namespace corvane

template <> struct std::hash<corvane::Location> {
    std::size_t operator()(const corvane::Location &location) const { return location.hash(); }
};
