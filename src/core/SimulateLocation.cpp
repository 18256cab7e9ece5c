#include "core/SimulateLocation.h"

namespace corvane {

QVariantMap simulateLocationUserInfo(const Location &location, const QStringList &devices)
{
    return {
        {"simulateLocationLatitude", location.coordinate.latitude()},
        {"simulateLocationLongitude", location.coordinate.longitude()},
        {"simulateLocationAltitude", location.altitude},
        {"simulateLocationCourse", location.course},
        {"simulateLocationSpeed", location.speed},
        {"simulateLocationTimestamp", location.timestamp},
        {"simulateLocationHorizontalAccuracy", location.horizontalAccuracy},
        {"simulateLocationVerticalAccuracy", location.verticalAccuracy},
        {"simulateLocationDevices", devices},
    };
}

void simulateLocation(const Location &location, const QStringList &devices,
                      const std::shared_ptr<DistributedNotificationCenter> &center)
{
    if (center)
        center->post(Notifications::simulateLocation, QString(),
                     simulateLocationUserInfo(location, devices));
}

} // namespace corvane
