#include "app/menus/DeviceActionSupport.h"
#include "app/menus/device/DeviceMenu.h"
#include "model/ActivityMonitor.h"
#include "model/Device.h"
#include "platform/Loc.h"
#include "platform/desktop/OpenPanel.h"

namespace corvane {

using namespace DeviceActionSupport;

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
        if (DeviceActionSupport::simulatorRuns(*monitor, *device))
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
    spec.identifier =
        application ? QStringLiteral("SelectApplication") : QStringLiteral("SelectMedia");
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
