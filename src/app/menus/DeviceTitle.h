#pragma once

#include "model/Runtime.h"

#include <QString>

namespace corvane {

class Device;

// How menus name a device: a watch on a watchOS runtime whose title begins
// with "Apple Watch" is named by the rest of its title, which is what tells
// watches apart.
namespace DeviceTitle {

QString menuTitle(const QString &title, const Runtime &runtime);
QString menuTitle(const Device &device);
// "iPhone 15 (iOS 17.2)".
QString withRuntime(const Device &device);

} // namespace DeviceTitle
} // namespace corvane
