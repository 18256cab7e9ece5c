#include "app/DeviceMenuFactory.h"

namespace corvane {

// Device rows have no submenu until the device menu exists.
MenuPtr makeDeviceMenu(const std::shared_ptr<Device> &, const std::shared_ptr<Toolset> &, bool,
                       bool)
{
    return nullptr;
}

} // namespace corvane
