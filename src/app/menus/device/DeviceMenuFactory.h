#pragma once

#include "platform/menus/Menu.h"

#include <functional>
#include <memory>

namespace corvane {

class Device;
class Toolset;

// Makes the submenu of a device row: the device's own menu, optionally with
// its applications' menus and its paired devices' menus. May run off the main
// thread; nothing when there is no device menu to offer.
using DeviceMenuFactory = std::function<MenuPtr(
    const std::shared_ptr<Device> &device, const std::shared_ptr<Toolset> &toolset,
    bool showsApplicationSubmenus, bool showsPairedDevicesSubmenus)>;

MenuPtr makeDeviceMenu(const std::shared_ptr<Device> &device,
                       const std::shared_ptr<Toolset> &toolset, bool showsApplicationSubmenus,
                       bool showsPairedDevicesSubmenus);

} // namespace corvane
