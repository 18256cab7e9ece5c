#include "app/menus/DeviceActionSupport.h"

#include "app/menus/CommandManager.h"
#include "core/Toolset.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/Workspace.h"

#include <QDir>

namespace corvane {

namespace DeviceActionSupport {

bool simulatorRuns(ActivityMonitor &monitor, const Device &device)
{
    return monitor.simulatorProcess(device.uuid()).has_value();
}

bool simulatorRunsInSnapshot(ActivityMonitor &monitor, const Device &device)
{
    return monitor.latestSnapshot()->simulatorProcess(device.uuid()).has_value();
}

void inBackground(std::function<void()> work)
{
    DispatchQueue::userInitiated()->async(std::move(work));
}

void forceFreshProcessCheck(ActivityMonitor &monitor)
{
    monitor.markOutOfDate();
}

void activateIfNeeded()
{
    Workspace::shared()->activateIgnoringOtherApps();
}

QString commandTitle(const ObjectPtr &sender)
{
    return CommandManager::actionRecord(sender).title;
}

void recordDeviceCommand(CommandManager &commands, const std::shared_ptr<Device> &device,
                         const QString &title, const QString &selector, DeviceOperation operation)
{
    CommandManager::Command command;
    command.title = title;
    command.target = device;
    command.selector = selector;
    command.invoker = [operation](const ObjectPtr &target,
                                  const std::optional<CommandManager::Argument> &) {
        if (const auto device = std::dynamic_pointer_cast<Device>(target))
            ((*device).*operation)();
    };
    commands.recordCommand(std::move(command));
}

void recordDeviceCommand(CommandManager &commands, const std::shared_ptr<Device> &device,
                         const QString &title, const QString &selector,
                         CommandManager::Argument argument,
                         std::function<void(Device &, const CommandManager::Argument &)> operation)
{
    CommandManager::Command command;
    command.title = title;
    command.target = device;
    command.selector = selector;
    command.object = std::move(argument);
    command.invoker = [operation = std::move(operation)](
                          const ObjectPtr &target,
                          const std::optional<CommandManager::Argument> &argument) {
        if (const auto device = std::dynamic_pointer_cast<Device>(target); device && argument)
            operation(*device, *argument);
    };
    commands.recordCommand(std::move(command));
}

void performAndRecord(CommandManager &commands, const std::shared_ptr<Device> &device,
                      const QString &title, const QString &selector, DeviceOperation operation)
{
    ((*device).*operation)();
    recordDeviceCommand(commands, device, title, selector, operation);
}

void openSimulatorIfNeeded(const std::weak_ptr<Toolset> &toolset)
{
    if (const auto xcode = toolset.lock(); xcode && !xcode->simulatorApplication())
        Workspace::shared()->openApplication(QDir(xcode->xcodePath().toLocalFile())
                                                 .filePath("Contents/Developer/Applications/"
                                                           "Simulator.app"));
}

void bootFlow(const std::shared_ptr<Device> &device, const std::weak_ptr<Toolset> &toolset,
              ActivityMonitor &monitor)
{
    openSimulatorIfNeeded(toolset);
    device->launch();
    forceFreshProcessCheck(monitor);
}

void eraseFlow(const std::shared_ptr<Device> &device, ActivityMonitor &monitor)
{
    if (simulatorRuns(monitor, *device)) {
        device->shutdown();
        device->erase();
        device->launch();
    } else {
        device->erase();
    }
}

bool confirm(const Confirmation &confirmation)
{
    const auto defaults = UserDefaults::standard();
    if (defaults->boolean(confirmation.defaultsKey))
        return true;

    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    spec.cautionIcon = true;
    spec.messageText = confirmation.messageText;
    spec.informativeText = confirmation.informativeText;
    spec.showsSuppressionButton = true;
    // Return cancels: the confirming button has no key equivalent.
    spec.buttons = {{confirmation.confirmTitle, AlertSpec::KeyEquivalent::None},
                    {confirmation.cancelTitle, AlertSpec::KeyEquivalent::Return}};
    activateIfNeeded();
    const AlertResponse response = AlertPresenter::shared()->run(spec);
    if (response.buttonIndex != 0)
        return false;
    if (response.suppressed)
        defaults->set(confirmation.defaultsKey, true);
    return true;
}

Confirmation eraseKeychainConfirmation()
{
    return {loc("Are you sure you want to erase the keychain?", "ERASE_KEYCHAIN_ALERT_MESSAGE"),
            loc("All keychain values will be deleted.", "ERASE_KEYCHAIN_ALERT_INFO"),
            loc("Erase", "ERASE_BUTTON_TITLE"), loc("Don't Erase", "DONT_ERASE_BUTTON_TITLE"),
            QStringLiteral("EraseKeychainPrompt")};
}

Confirmation eraseConfirmation()
{
    return {loc("Are you sure you want to erase content and settings?", "ERASE_ALERT_MESSAGE"),
            loc("The device will be erased to its initial state.", "ERASE_ALERT_INFO"),
            loc("Erase", "ERASE_BUTTON_TITLE"), loc("Don't Erase", "DONT_ERASE_BUTTON_TITLE"),
            QStringLiteral("ErasePrompt")};
}

Confirmation deleteConfirmation()
{
    return {loc("Are you sure you want to delete this simulator?", "DELETE_SIM_ALERT_MESSAGE"),
            loc("The device and all installed apps will be deleted.", "DELETE_SIM_ALERT_INFO"),
            loc("Delete", "DELETE_BUTTON_TITLE"), loc("Don't Delete", "DONT_DELETE_BUTTON_TITLE"),
            QStringLiteral("DeleteSimPrompt")};
}

} // namespace DeviceActionSupport

} // namespace corvane
