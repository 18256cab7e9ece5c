#pragma once

#include "app/menus/values/ValueMenu.h"
#include "model/Device.h"

#include <QString>

#include <memory>
#include <vector>

namespace corvane {

class CommandManager;

// The preferred content size (Dynamic Type) of a device.
struct ContentSizeTraits {
    using Value = Device::ContentSize;
    static constexpr const char *title = "Content Size";
    static constexpr const char *queueLabel = "com.quendrith.corvane.devicemenu.contentSize";
    static constexpr const char *debounceKeyPrefix = "ContentToggle";

    static const std::vector<Value> &values() { return Device::allContentSizes(); }
    static QString itemTitle(Value value) { return Device::menuTitle(value); }
    // Medium when simctl cannot tell.
    static Value read(const Device &device) { return device.contentSize(); }
    // Records nothing.
    static void write(const std::shared_ptr<Device> &device, Value value, CommandManager &);
};

using ContentSizeMenu = ValueMenu<ContentSizeTraits>;
extern template class ValueMenu<ContentSizeTraits>;

} // namespace corvane
