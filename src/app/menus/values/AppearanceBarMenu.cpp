#include "app/menus/values/AppearanceBarMenu.h"

#include "app/menus/DeviceActionSupport.h"

namespace corvane {

QString AppearanceTraits::itemTitle(Value value)
{
    return value == Device::Appearance::dark ? QStringLiteral("Dark") : QStringLiteral("Light");
}

void AppearanceTraits::write(const std::shared_ptr<Device> &device, Value value,
                             CommandManager &commands)
{
    device->setAppearance(value);
    DeviceActionSupport::recordDeviceCommand(commands, device, QStringLiteral("Toggle Appearance"),
                                             QStringLiteral("toggleAppearance"),
                                             &Device::toggleAppearance);
}

template class ValueMenu<AppearanceTraits>;

} // namespace corvane
