#include "core/Location.h"

#include <QTimeZone>

#include <cmath>

namespace corvane {

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
    return coordinate.latitude() == other.coordinate.latitude() &&
           coordinate.longitude() == other.coordinate.longitude() && altitude == other.altitude &&
           course == other.course && speed == other.speed &&
           horizontalAccuracy == other.horizontalAccuracy &&
           verticalAccuracy == other.verticalAccuracy && timestamp == other.timestamp;
}

} // namespace corvane
