#pragma once

#include "app/menus/values/ValueMenu.h"
#include "model/Device.h"

#include <QString>

#include <memory>
#include <vector>

namespace corvane {

class CommandManager;

// The light or dark appearance of a device.
struct AppearanceTraits {
    using Value = Device::Appearance;
    static constexpr const char *title = "Appearance";
    static constexpr const char *queueLabel = "com.quendrith.corvane.devicemenu.appearance";
    static constexpr const char *debounceKeyPrefix = "DarkLightToggle";

    static const std::vector<Value> &values() { return Device::allAppearances(); }
    static QString itemTitle(Value value);
    // Light when simctl cannot tell.
    static Value read(const Device &device) { return device.appearance(); }
    // Records "Toggle Appearance", whose repeat switches the device to the
    // other appearance, whatever was chosen.
    static void write(const std::shared_ptr<Device> &device, Value value, CommandManager &commands);
};

using AppearanceBarMenu = ValueMenu<AppearanceTraits>;
extern template class ValueMenu<AppearanceTraits>;

} // namespace corvane
