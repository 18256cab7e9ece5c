#include "model/Application.h"

#include "core/File.h"
#include "core/FileNames.h"
#include "core/StringHelpers.h"
#include "core/TaskService.h"
#include "core/ProcessRunner.h"
#include "core/Toolset.h"
#include "core/Uuid.h"
#include "model/ActivityMonitor.h"
#include "model/Container.h"
#include "model/Device.h"
#include "model/ScreenshotDateFormatter.h"
#include "platform/files/AtomicFile.h"
#include "platform/processes/ChildProcess.h"
#include "platform/files/FileManager.h"
#include "platform/Log.h"
#include "platform/files/SystemPaths.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QFileInfo>

#include <array>
#include <exception>

namespace corvane {

namespace {

constexpr std::array<const char *, 3> kPermissions{"grant", "revoke", "reset"};
constexpr std::array<const char *, 13> kPermissionScopes{
    "all",    "calendar",   "contacts-limited", "contacts",   "location-always", "location",
    "photos", "photos-add", "media-library",    "microphone", "motion",          "reminders",
    "siri"};

// Runs "<verb> <udid> <identifier>" and the tail; nothing without the device,
// the toolset or a bundle identifier.
void runForApplication(const Application &application, const QString &verb,
                       const QStringList &tail = {})
{
    const auto device = application.device();
    if (!device)
        return;
    const auto toolset = application.toolset();
    const auto identifier = application.identifier();
    if (!toolset || !identifier)
        return;
    try {
        toolset->run(QStringList{verb, device->udid(), *identifier} + tail);
    } catch (const std::exception &) {
        // The runner has logged it; the menus show nothing.
    }
}

// Removes an item of the data container; failures are dropped.
void removeFromDataContainer(const Container &container, const QString &relativePath)
{
    const auto path = nativePath(container.url().toLocalFile() + '/' + relativePath);
    try {
        ignoringFileNotFound([&] { FileManager::defaultManager().removeItem(path); });
    } catch (const std::exception &) {
        // A cache that stays is no reason to stop.
    }
}

// "open -R" of an item in `folder`; where there is no such tool, the
// workspace reveals it.
void revealWithOpenTool(const QString &folder, const QString &name)
{
    const QString tool = SystemPaths::current().open;
    if (!QFileInfo(tool).isExecutable()) {
        Workspace::shared()->revealFile(QDir(folder).filePath(name));
        return;
    }
    ChildProcess process;
    process.setExecutablePath(tool);
    // "./": a name read from the bundle that begins with "-" is no option.
    process.setArguments({"-R", "./" + name});
    process.setWorkingDirectory(folder);
    try {
        process.launch();
    } catch (const std::exception &error) {
        Log::general().error("Could not run open: %{public}@", QString::fromUtf8(error.what()));
        return;
    }
    awaitTool(process);
}

} // namespace

const std::vector<Application::Permission> &Application::allPermissions()
{
    static const std::vector<Permission> all{Permission::grant, Permission::revoke,
                                             Permission::reset};
    return all;
}

QString Application::rawValue(Permission permission)
{
    return QString::fromLatin1(kPermissions[std::size_t(permission)]);
}

std::optional<Application::Permission> Application::permissionFromRawValue(const QString &rawValue)
{
    for (Permission permission : allPermissions())
        if (Application::rawValue(permission) == rawValue)
            return permission;
    return std::nullopt;
}

const std::vector<Application::PermissionScope> &Application::allPermissionScopes()
{
    static const std::vector<PermissionScope> all = [] {
        std::vector<PermissionScope> result;
        for (std::size_t i = 0; i < kPermissionScopes.size(); ++i)
            result.push_back(static_cast<PermissionScope>(i));
        return result;
    }();
    return all;
}

QString Application::rawValue(PermissionScope scope)
{
    return QString::fromLatin1(kPermissionScopes[std::size_t(scope)]);
}

std::optional<Application::PermissionScope>
Application::permissionScopeFromRawValue(const QString &rawValue)
{
    for (PermissionScope scope : allPermissionScopes())
        if (Application::rawValue(scope) == rawValue)
            return scope;
    return std::nullopt;
}

void Application::runCommand(const QString &verb)
{
    runForApplication(*this, verb);
}

void Application::launch()
{
    runCommand("launch");
}

void Application::terminate()
{
    runCommand("terminate");
}

void Application::uninstall()
{
    if (!device())
        return;
    const auto monitor = ActivityMonitor::shared();
    monitor->refreshIfStale();
    const QUuid bundleUuid = uuid();
    for (const auto &process : monitor->applicationProcesses()) {
        if (process.applicationUUID == bundleUuid) {
            terminate();
            break;
        }
    }
    runCommand("uninstall");
}

void Application::sendPushWithPayload(const QString &payload)
{
    const auto device = this->device();
    if (!device)
        return;
    const QString path =
        QDir(SystemPaths::current().temporaryDir).filePath(newUuidString() + ".apns");
    // Only for the tool, which reads it at once: no crash needs to find it.
    if (!AtomicFile::save(path, payload.toUtf8(), AtomicFile::Durability::unsynced))
        return;
    const auto toolset = this->toolset();
    const auto identifier = this->identifier();
    if (!toolset || !identifier)
        return;
    try {
        toolset->run({"push", device->udid(), *identifier, path});
    } catch (const std::exception &) {
        // The runner has logged it.
    }
}

void Application::setPermission(Permission permission, PermissionScope scope)
{
    const auto device = this->device();
    const auto toolset = this->toolset();
    const auto identifier = this->identifier();
    if (!device || !toolset || !identifier)
        return;
    try {
        toolset->run(
            {"privacy", device->udid(), rawValue(permission), rawValue(scope), *identifier});
    } catch (const std::exception &) {
        // The runner has logged it.
    }
}

void Application::grantPermissionTo(const QString &scope)
{
    if (const auto value = permissionScopeFromRawValue(scope))
        setPermission(Permission::grant, *value);
}

void Application::revokePermissionTo(const QString &scope)
{
    if (const auto value = permissionScopeFromRawValue(scope))
        setPermission(Permission::revoke, *value);
}

void Application::resetPermissionTo(const QString &scope)
{
    if (const auto value = permissionScopeFromRawValue(scope))
        setPermission(Permission::reset, *value);
}

void Application::open()
{
    const QString bundle = QDir::cleanPath(url().toLocalFile());
    if (bundle.isEmpty() || !QFileInfo::exists(bundle))
        return;
    // Only a plain name inside the bundle: "../x" or "/x" would reveal
    // something outside it.
    const QVariant executable = infoDictionary().value("CFBundleExecutable");
    const QString name = executable.typeId() == QMetaType::QString ? executable.toString() : "";
    if (!name.isEmpty() && !name.contains('/') && name != "." && name != ".." &&
        QFileInfo::exists(QDir(bundle).filePath(name))) {
        revealWithOpenTool(bundle, name);
        return;
    }
    const QStringList entries = QDir(bundle).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    if (!entries.isEmpty()) {
        revealWithOpenTool(bundle, entries.first());
        return;
    }
    const QFileInfo info(bundle);
    revealWithOpenTool(info.absolutePath(), info.fileName());
}

void Application::reveal()
{
    Workspace::shared()->revealFile(QDir::cleanPath(url().toLocalFile()));
}

void Application::eraseSavedState()
{
    if (const auto container = dataContainer()) {
        removeFromDataContainer(*container, "Library/Saved Application State/");
        removeFromDataContainer(*container, "Library/SplashBoard/");
    }
}

void Application::eraseLaunchStoryboard()
{
    if (const auto container = dataContainer()) {
        removeFromDataContainer(*container, "Library/Springboard/");
        removeFromDataContainer(*container, "Library/SplashBoard/");
    }
}

void Application::resetContainers(FileManager &fileManager)
{
    const auto groups = groupContainers();
    std::vector<std::shared_ptr<Container>> containers;
    if (auto data = dataContainer())
        containers.push_back(std::move(data));
    containers.insert(containers.end(), groups.begin(), groups.end());
    for (const auto &container : containers)
        container->erase(fileManager);
}

void Application::eraseSandbox(FileManager &fileManager)
{
    if (const auto container = dataContainer())
        container->erase(fileManager);
}

QString Application::exportName() const
{
    QString date = ScreenshotDateFormatter::currentDateText();
    date.replace(':', '.');
    return safeFileName(title() + ' ' + date + ".xcappdata");
}

void Application::repeatExportDataWithPrevious(const QUrl &previous)
{
    const QString folder = QFileInfo(QDir::cleanPath(previous.toLocalFile())).absolutePath();
    TaskService::shared()->exportData(sharedAs<Application>(),
                                      QUrl::fromLocalFile(QDir(folder).filePath(exportName())));
}

void Application::importDataFrom(const QUrl &url)
{
    TaskService::shared()->importData(sharedAs<Application>(), url);
}

} // namespace corvane
