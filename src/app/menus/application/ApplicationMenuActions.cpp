#include "app/menus/application/ApplicationMenu.h"

#include "app/menus/ApplicationCommands.h"
#include "app/menus/CommandManager.h"
#include "app/menus/DeviceActionSupport.h"
#include "app/menus/application/JSONPromptingAlert.h"
#include "core/TaskService.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/menus/MenuItem.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/desktop/SavePanel.h"
#include "platform/desktop/Workspace.h"

#include <QFileInfo>

#include <map>

namespace corvane {

namespace {

using namespace DeviceActionSupport;

const QString kArchiveExtension = QStringLiteral("xcappdata");

// Read and written on the main thread only.
QString &lastPayload()
{
    static QString payload;
    return payload;
}

// Opens the Xcode's Simulator when it is not running, then boots the device
// when there still is one.
void openSimulatorAndBoot(const std::shared_ptr<Application> &application,
                          const std::weak_ptr<Toolset> &toolset, ActivityMonitor &monitor)
{
    if (const auto device = application->device())
        bootFlow(device, toolset, monitor);
    else
        openSimulatorIfNeeded(toolset);
}

} // namespace

QString ApplicationMenu::lastPushPayload()
{
    return lastPayload();
}

void ApplicationMenu::setLastPushPayload(const QString &payload)
{
    lastPayload() = payload;
}

QString ApplicationMenu::archivePath(const QString &chosen)
{
    if (QFileInfo(chosen).suffix() == kArchiveExtension)
        return chosen;
    return chosen + '.' + kArchiveExtension;
}

bool ApplicationMenu::perform(const QString &selector, const ObjectPtr &sender)
{
    // One table for every menu: thousands of them are made with the root
    // menu, most never opened.
    using Action = void (ApplicationMenu::*)(const ObjectPtr &);
    static const std::map<QString, Action> actions{
        {"launch:", &ApplicationMenu::launch},
        {"quit:", &ApplicationMenu::quit},
        {"uninstall:", &ApplicationMenu::uninstall},
        {"open:", &ApplicationMenu::open},
        {"openContainer:", &ApplicationMenu::openContainer},
        {"openContainerShortcut:", &ApplicationMenu::openContainerShortcut},
        {"eraseState:", &ApplicationMenu::eraseState},
        {"eraseLaunchStoryboardCache:", &ApplicationMenu::eraseLaunchStoryboardCache},
        {"eraseData:", &ApplicationMenu::eraseData},
        {"push:", &ApplicationMenu::push},
        {"export:", &ApplicationMenu::exportData},
        {"replace:", &ApplicationMenu::replace},
        {"auto:", &ApplicationMenu::autoAction},
        {"boot:", &ApplicationMenu::boot},
    };
    const auto found = actions.find(selector);
    if (found == actions.end())
        return Menu::perform(selector, sender);
    (this->*found->second)(sender);
    return true;
}

bool ApplicationMenu::simulatorRuns() const
{
    const auto device = m_application->device();
    return device && simulatorRunsInSnapshot(*m_environment.activityMonitor, *device);
}

bool ApplicationMenu::applicationRuns() const
{
    return m_environment.activityMonitor->latestSnapshot()
        ->applicationProcess(m_application->uuid())
        .has_value();
}

void ApplicationMenu::performAndRecord(const ObjectPtr &sender, const QString &selector,
                                       Operation operation)
{
    inBackground([application = m_application, commands = m_environment.commandManager,
                  monitor = m_environment.activityMonitor,
                  action = CommandManager::actionRecord(sender), selector, operation] {
        ((*application).*operation)();
        ApplicationCommands::record(*commands, action, application, selector);
        forceFreshProcessCheck(*monitor);
    });
}

void ApplicationMenu::launch(const ObjectPtr &sender)
{
    if (!simulatorRuns() || applicationRuns())
        return;
    performAndRecord(sender, QStringLiteral("launch"), &Application::launch);
}

void ApplicationMenu::quit(const ObjectPtr &sender)
{
    if (!simulatorRuns() || !applicationRuns())
        return;
    performAndRecord(sender, QStringLiteral("terminate"), &Application::terminate);
}

void ApplicationMenu::eraseState(const ObjectPtr &sender)
{
    if (!simulatorRuns())
        return;
    performAndRecord(sender, QStringLiteral("eraseSavedState"), &Application::eraseSavedState);
}

void ApplicationMenu::eraseLaunchStoryboardCache(const ObjectPtr &sender)
{
    if (!simulatorRuns())
        return;
    performAndRecord(sender, QStringLiteral("eraseLaunchStoryboard"),
                     &Application::eraseLaunchStoryboard);
}

void ApplicationMenu::uninstall(const ObjectPtr &)
{
    if (!simulatorRuns())
        return;
    const auto device = m_application->device();
    Confirmation confirmation;
    confirmation.messageText = "Are you sure you want to remove " + m_application->title() +
                               " from " + (device ? device->title() : QStringLiteral("Unknown")) +
                               "?";
    confirmation.confirmTitle = loc("Uninstall", "UNINSTALL_BUTTON_TITLE");
    confirmation.cancelTitle = loc("Don't Uninstall", "DONT_UNINSTALL_BUTTON_TITLE");
    confirmation.defaultsKey = QStringLiteral("UninstallPrompt");
    if (!confirm(confirmation))
        return;
    inBackground([application = m_application] { application->uninstall(); });
}

void ApplicationMenu::open(const ObjectPtr &)
{
    inBackground([application = m_application] { application->open(); });
}

void ApplicationMenu::openContainer(const ObjectPtr &sender)
{
    std::shared_ptr<Container> group;
    if (const auto item = std::dynamic_pointer_cast<MenuItem>(sender))
        group = item->representedObject().as<Container>();
    inBackground([application = m_application, group] {
        const auto container = group ? group : application->dataContainer();
        if (container)
            container->open();
    });
}

void ApplicationMenu::openContainerShortcut(const ObjectPtr &sender)
{
    const auto item = std::dynamic_pointer_cast<MenuItem>(sender);
    const auto location = item ? item->representedObject().as<Container::Location>()
                               : std::optional<Container::Location>();
    if (!location)
        return;
    inBackground([application = m_application, location = *location] {
        if (const auto container = application->dataContainer())
            container->openLocation(location);
    });
}

void ApplicationMenu::eraseData(const ObjectPtr &sender)
{
    // Recorded whether or not there was a container to erase.
    inBackground([application = m_application, commands = m_environment.commandManager,
                  action = CommandManager::actionRecord(sender)] {
        ApplicationCommands::invoker(QStringLiteral("eraseSandboxWithFileManager:error:"))(
            application, std::nullopt);
        ApplicationCommands::record(*commands, action, application,
                                    QStringLiteral("eraseSandboxWithFileManager:error:"));
    });
}

void ApplicationMenu::push(const ObjectPtr &sender)
{
    if (!simulatorRuns())
        return;
    const AlertSpec spec = JSONPromptingAlert::spec(*m_application, lastPushPayload());
    activateIfNeeded();
    const AlertResponse response = AlertPresenter::shared()->run(spec);
    if (response.buttonIndex != 0 || !JSONPromptingAlert::canSend(response.text))
        return;
    setLastPushPayload(response.text);
    const QString payload = JSONPromptingAlert::payload(response.text);
    inBackground(
        [application = m_application, payload] { application->sendPushWithPayload(payload); });
    ApplicationCommands::record(*m_environment.commandManager, CommandManager::actionRecord(sender),
                                m_application, QStringLiteral("sendPushWithPayload:"), payload);
}

void ApplicationMenu::exportData(const ObjectPtr &sender)
{
    SavePanelSpec spec;
    spec.title = loc("Export Data Containers", "EXPORT_SAVE_PANEL_TITLE");
    spec.prompt = loc("Export", "EXPORT_SAVE_PANEL_PROMPT");
    spec.identifier = QStringLiteral("ExportData");
    spec.proposedName = m_application->exportName();
    spec.canHideExtension = true;
    const auto panel = SavePanel::shared();
    panel->begin(spec, [application = m_application, commands = m_environment.commandManager,
                        action = CommandManager::actionRecord(sender)](
                           const std::optional<QString> &chosen) {
        if (!chosen || chosen->isEmpty())
            return;
        const QUrl url = QUrl::fromLocalFile(archivePath(*chosen));
        inBackground([application, commands, action, url] {
            TaskService::shared()->exportData(application, url);
            ApplicationCommands::record(*commands, action, application,
                                        QStringLiteral("repeatExportDataWithPrevious:"), url);
        });
    });
    activateIfNeeded();
}

void ApplicationMenu::replace(const ObjectPtr &sender)
{
    OpenPanelSpec spec;
    spec.title = loc("Replace Data Containers", "REPLACE_OPEN_PANEL_TITLE");
    spec.prompt = loc("Import", "REPLACE_OPEN_PANEL_PROMPT");
    spec.identifier = QStringLiteral("ReplaceData");
    spec.allowedTypes = {kArchiveExtension};
    spec.canChooseFiles = true;
    spec.canChooseDirectories = false;
    spec.allowsMultipleSelection = false;
    const auto panel = OpenPanel::shared();
    panel->begin(spec, [application = m_application, commands = m_environment.commandManager,
                        action = CommandManager::actionRecord(sender)](const QStringList &chosen) {
        if (chosen.isEmpty() || chosen.constFirst().isEmpty())
            return;
        const QUrl url = QUrl::fromLocalFile(chosen.constFirst());
        inBackground([application, commands, action, url] {
            TaskService::shared()->importData(application, url);
            ApplicationCommands::record(*commands, action, application,
                                        QStringLiteral("importDataFrom:"), url);
        });
    });
    activateIfNeeded();
}

void ApplicationMenu::autoAction(const ObjectPtr &)
{
    inBackground([application = m_application, toolset = m_toolset,
                  monitor = m_environment.activityMonitor] {
        const auto device = application->device();
        if (device && DeviceActionSupport::simulatorRuns(*monitor, *device)) {
            if (monitor->applicationProcess(application->uuid())) {
                device->bringToFront();
            } else {
                application->launch();
                forceFreshProcessCheck(*monitor);
            }
            return;
        }
        openSimulatorAndBoot(application, toolset, *monitor);
    });
}

void ApplicationMenu::boot(const ObjectPtr &)
{
    inBackground([application = m_application, toolset = m_toolset,
                  monitor = m_environment.activityMonitor] {
        openSimulatorAndBoot(application, toolset, *monitor);
    });
}

} // namespace corvane
