#pragma once

#include "core/Location.h"
#include "platform/notifications/DistributedNotificationCenter.h"

#include <QStringList>
#include <QVariantMap>

#include <memory>

namespace corvane {

namespace Notifications {
inline const QString simulateLocation = "com.apple.iphonesimulator.simulateLocation";
}

// The user info the Simulator application reads: the location's values as
// they stand and the UDIDs of the devices that are to take it.
QVariantMap simulateLocationUserInfo(const Location &location, const QStringList &devices);

// Sends the location to those devices (an empty list is sent too).
void simulateLocation(const Location &location, const QStringList &devices,
                      const std::shared_ptr<DistributedNotificationCenter> &center =
                          DistributedNotificationCenter::defaultCenter());

} // namespace corvane
