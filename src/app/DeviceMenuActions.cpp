#include "app/DeviceMenuActions.h"

#include "app/CommandManager.h"
#include "app/DeviceMenu.h"
#include "core/Toolset.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "platform/AlertPresenter.h"
#include "platform/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/MenuItem.h"
#include "platform/OpenPanel.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

#include <QDir>

namespace corvane {

namespace DeviceMenuActions {

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

} // namespace DeviceMenuActions

using namespace DeviceMenuActions;

void DeviceMenu::registerActions()
{
    // Handlers run synchronously from perform, while the menu is alive.
    addAction("auto:", [this](const ObjectPtr &sender) { autoAction(sender); });
    addAction("launch:", [this](const ObjectPtr &sender) { launch(sender); });
    addAction("install:", [this](const ObjectPtr &sender) { install(sender); });
    addAction("addMedia:", [this](const ObjectPtr &sender) { addMedia(sender); });
    addAction("deviceData:", [this](const ObjectPtr &sender) { deviceData(sender); });
    addAction("eraseKeychain:", [this](const ObjectPtr &sender) { eraseKeychain(sender); });
    addAction("erase:", [this](const ObjectPtr &sender) { erase(sender); });
    addAction("delete:", [this](const ObjectPtr &sender) { deleteDevice(sender); });
    addAction("shutdown:", [this](const ObjectPtr &sender) { shutdown(sender); });
    registerCaptureActions();
}

bool DeviceMenu::simulatorRuns() const
{
    return simulatorRunsInSnapshot(*m_environment.activityMonitor, *m_device);
}

void DeviceMenu::autoAction(const ObjectPtr &)
{
    inBackground([device = m_device, toolset = m_toolset, monitor = m_environment.activityMonitor] {
        if (DeviceMenuActions::simulatorRuns(*monitor, *device))
            device->bringToFront();
        else
            bootFlow(device, toolset, *monitor);
    });
}

void DeviceMenu::launch(const ObjectPtr &)
{
    if (simulatorRuns())
        return;
    inBackground([device = m_device, toolset = m_toolset, monitor = m_environment.activityMonitor] {
        bootFlow(device, toolset, *monitor);
    });
}

void DeviceMenu::install(const ObjectPtr &)
{
    sendFile(true);
}

void DeviceMenu::addMedia(const ObjectPtr &)
{
    sendFile(false);
}

void DeviceMenu::sendFile(bool application)
{
    if (!simulatorRuns())
        return;
    OpenPanelSpec spec;
    spec.title = spec.prompt = application ? loc("Select Application", "SELECT_APPLICATION")
                                           : loc("Select Media", "SELECT_MEDIA");
    spec.allowedTypes =
        application ? QStringList{"app"} : QStringList{"public.movie", "public.image"};
    spec.canChooseFiles = true;
    spec.canChooseDirectories = false;
    spec.canCreateDirectories = false;
    spec.allowsMultipleSelection = false;
    spec.showsHiddenFiles = false;
    activateIfNeeded();
    const QStringList chosen = OpenPanel::shared()->runModal(spec);
    if (chosen.isEmpty() || chosen.constFirst().isEmpty())
        return;
    // Device::installFrom and addMediaFrom run through the device's own
    // toolset and do nothing once it has gone.
    inBackground([device = m_device, url = QUrl::fromLocalFile(chosen.constFirst()), application] {
        if (application)
            device->installFrom(url);
        else
            device->addMediaFrom(url);
    });
}

void DeviceMenu::deviceData(const ObjectPtr &)
{
    inBackground([device = m_device] { device->showContents(); });
}

void DeviceMenu::eraseKeychain(const ObjectPtr &sender)
{
    if (!confirm(eraseKeychainConfirmation()))
        return;
    inBackground(
        [device = m_device, commands = m_environment.commandManager, title = commandTitle(sender)] {
            performAndRecord(*commands, device, title, "resetKeychain", &Device::resetKeychain);
        });
}

void DeviceMenu::erase(const ObjectPtr &sender)
{
    if (!confirm(eraseConfirmation()))
        return;
    // The record repeats the erase alone, without the shutdown and boot.
    inBackground([device = m_device, commands = m_environment.commandManager,
                  monitor = m_environment.activityMonitor, title = commandTitle(sender)] {
        eraseFlow(device, *monitor);
        recordDeviceCommand(*commands, device, title, "erase", &Device::erase);
    });
}

void DeviceMenu::deleteDevice(const ObjectPtr &)
{
    if (!confirm(deleteConfirmation()))
        return;
    inBackground([device = m_device] { device->delete_(); });
}

void DeviceMenu::shutdown(const ObjectPtr &)
{
    if (!simulatorRuns())
        return;
    inBackground([device = m_device, monitor = m_environment.activityMonitor] {
        device->shutdown();
        forceFreshProcessCheck(*monitor);
    });
}

} // namespace corvane
