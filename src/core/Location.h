#pragma once

#include <QDateTime>
#include <QGeoCoordinate>
#include <QGeoPositionInfo>

namespace corvane {

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

    QDateTime dateTime() const;
    void setDateTime(const QDateTime &dateTime);

    // Attributes the fix lacks read as invalid (-1).
    static Location fromPositionInfo(const QGeoPositionInfo &info);
    QGeoPositionInfo toPositionInfo() const;

    bool operator==(const Location &other) const;
};

} // namespace corvane
