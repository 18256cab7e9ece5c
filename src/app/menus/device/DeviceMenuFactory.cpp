#include "app/menus/device/DeviceMenuFactory.h"

#include "app/menus/device/DeviceMenu.h"

namespace corvane {

MenuPtr makeDeviceMenu(const std::shared_ptr<Device> &device,
                       const std::shared_ptr<Toolset> &toolset, bool showsApplicationSubmenus,
                       bool showsPairedDevicesSubmenus)
{
    return DeviceMenu::make(device, toolset, showsApplicationSubmenus, showsPairedDevicesSubmenus);
}

} // namespace corvane
