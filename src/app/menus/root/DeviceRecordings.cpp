#include "app/menus/root/DeviceRecordings.h"

#include "core/Toolset.h"
#include "core/ToolsetManager.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/processes/ChildProcess.h"

namespace corvane {

bool DeviceRecordings::isDevice(const ObjectPtr &object) const
{
    return std::dynamic_pointer_cast<Device>(object) != nullptr;
}

bool DeviceRecordings::isRecording(const ObjectPtr &object) const
{
    auto device = std::dynamic_pointer_cast<Device>(object);
    return device && device->isRecording();
}

std::vector<ObjectPtr> DeviceRecordings::listedDevices() const
{
    // Quitting asks this while start-up may still be finding the Xcodes:
    // without a manager there are no devices, and nothing records.
    const auto manager = ToolsetManager::existing();
    const auto toolset = manager ? manager->current() : nullptr;
    const auto watcher =
        toolset ? std::dynamic_pointer_cast<DeviceWatcher>(toolset->deviceWatcher()) : nullptr;
    std::vector<ObjectPtr> devices;
    if (!watcher)
        return devices;
    for (const auto &[uuid, device] : *watcher->all())
        devices.push_back(device);
    return devices;
}

void DeviceRecordings::interruptRecording(const ObjectPtr &object)
{
    auto device = std::dynamic_pointer_cast<Device>(object);
    if (auto task = device ? device->recordingTask() : nullptr)
        task->interrupt();
}

} // namespace corvane
