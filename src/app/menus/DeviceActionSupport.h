#pragma once

#include "app/menus/CommandManager.h"
#include "platform/Object.h"

#include <QString>

#include <functional>
#include <memory>

namespace corvane {

class ActivityMonitor;
class Device;
class Toolset;

// What every menu's actions on a device share (the device menu's, an
// application's, the value menus'): the running-state guard, the move of the
// work off the main thread, the record behind "Quick Repeat", the boot and
// erase flows and the questions before destructive actions.
namespace DeviceActionSupport {

// Whether the device's simulator process runs; lists the processes on the
// calling thread when the monitor's last look is stale, so never on main.
bool simulatorRuns(ActivityMonitor &monitor, const Device &device);
// The same from the monitor's last snapshot, at once: the main thread's
// answer.
bool simulatorRunsInSnapshot(ActivityMonitor &monitor, const Device &device);

// One block on the user-initiated queue; nothing waits for it.
void inBackground(std::function<void()> work);

// The monitor's next question lists the processes again.
void forceFreshProcessCheck(ActivityMonitor &monitor);

// Brings the program to the front so that an alert or panel shows there.
void activateIfNeeded();

// The chosen item's title, or "Unknown" when the sender is no menu item; a
// repeat keeps its command's title.
QString commandTitle(const ObjectPtr &sender);

using DeviceOperation = void (Device::*)();

// Runs the operation on the calling thread, then records it for the device
// whether or not it succeeded.
void performAndRecord(CommandManager &commands, const std::shared_ptr<Device> &device,
                      const QString &title, const QString &selector, DeviceOperation operation);
// Records a command that repeats the operation on the device.
void recordDeviceCommand(CommandManager &commands, const std::shared_ptr<Device> &device,
                         const QString &title, const QString &selector, DeviceOperation operation);
// The same for an operation with one argument, which the command keeps.
void recordDeviceCommand(CommandManager &commands, const std::shared_ptr<Device> &device,
                         const QString &title, const QString &selector,
                         CommandManager::Argument argument,
                         std::function<void(Device &, const CommandManager::Argument &)> operation);

// Opens the Xcode's Simulator when it is not running.
void openSimulatorIfNeeded(const std::weak_ptr<Toolset> &toolset);
// Opens the Xcode's Simulator when it is not running, boots the device and
// looks at the processes afresh next time. Runs on the calling thread.
void bootFlow(const std::shared_ptr<Device> &device, const std::weak_ptr<Toolset> &toolset,
              ActivityMonitor &monitor);

// Shuts a running device down, erases it and boots it again; a device that
// is not running is only erased.
void eraseFlow(const std::shared_ptr<Device> &device, ActivityMonitor &monitor);

// A destructive action's question. "Do not ask again" stores true under the
// key in the standard user defaults; once true, nothing is asked.
struct Confirmation {
    QString messageText;
    QString informativeText;
    QString confirmTitle;
    QString cancelTitle;
    QString defaultsKey;
};

// On the main thread: whether to go on.
bool confirm(const Confirmation &confirmation);

Confirmation eraseKeychainConfirmation();
Confirmation eraseConfirmation();
Confirmation deleteConfirmation();

} // namespace DeviceActionSupport

} // namespace corvane
