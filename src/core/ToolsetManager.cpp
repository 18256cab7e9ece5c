#include "core/ToolsetManager.h"

#include "core/CorvaneSettings.h"
#include "core/DeviceWatching.h"
#include "core/ProcessRunner.h"
#include "core/Toolset.h"
#include "platform/Log.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <exception>
#include <filesystem>

namespace corvane {

namespace {

// Serialises builds of the shared manager. Recursive, so that an observer of
// the first selection may ask for the manager on the building thread.
std::recursive_mutex g_buildMutex;
// Guards the slot only briefly, so that existing() never waits for a build.
std::mutex g_slotMutex;
bool g_built = false;
// Never destroyed: the manager lives as long as the program, and its monitors
// must not stop while static state is torn down at exit.
std::shared_ptr<ToolsetManager> &sharedSlot()
{
    static auto *slot = new std::shared_ptr<ToolsetManager>;
    return *slot;
}

std::mutex g_factoryMutex;
ToolsetManager::DeviceWatcherFactory g_factory;

QString pathOf(const QUrl &url)
{
    QString path = url.toLocalFile();
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

bool sameToolsets(const std::vector<std::shared_ptr<Toolset>> &a,
                  const std::vector<std::shared_ptr<Toolset>> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto &x, const auto &y) { return *x == *y; });
}

std::shared_ptr<Toolset> findEqual(const std::vector<std::shared_ptr<Toolset>> &toolsets,
                                   const Toolset &toolset)
{
    for (const auto &candidate : toolsets)
        if (*candidate == toolset)
            return candidate;
    return nullptr;
}

QString resolvedPath(const QString &path);

// The toolset at `path`, compared as whole paths with links resolved: a
// substring test took /Applications/Xcode.app for ~/Applications/Xcode.app.
std::shared_ptr<Toolset> toolsetAt(const std::vector<std::shared_ptr<Toolset>> &toolsets,
                                   const QString &path)
{
    const QString wanted = QDir::cleanPath(resolvedPath(path));
    for (const auto &toolset : toolsets)
        if (QDir::cleanPath(resolvedPath(pathOf(toolset->xcodePath()))) == wanted)
            return toolset;
    return nullptr;
}

std::optional<QString> runXcodeSelect(const QStringList &arguments, bool *timedOut = nullptr)
{
    try {
        return runProcess(SystemPaths::current().xcodeSelect, arguments, {}, timedOut);
    } catch (const std::exception &) {
        // The runner has logged the launch failure.
        return std::nullopt;
    }
}

QString resolvedPath(const QString &path)
{
    std::error_code error;
    const auto resolved = std::filesystem::canonical(path.toStdString(), error);
    return error ? path : QString::fromStdString(resolved.string());
}

} // namespace

std::shared_ptr<ToolsetManager> ToolsetManager::shared()
{
    if (auto built = existing())
        return built;
    std::lock_guard build(g_buildMutex);
    std::shared_ptr<ToolsetManager> manager;
    {
        // Set while the building thread is inside start(): its observers get
        // the manager being built.
        std::lock_guard lock(g_slotMutex);
        manager = sharedSlot();
    }
    if (manager)
        return manager;
    manager.reset(new ToolsetManager);
    {
        std::lock_guard lock(g_slotMutex);
        sharedSlot() = manager;
    }
    manager->start();
    std::lock_guard lock(g_slotMutex);
    g_built = true;
    return manager;
}

std::shared_ptr<ToolsetManager> ToolsetManager::existing()
{
    std::lock_guard lock(g_slotMutex);
    return g_built ? sharedSlot() : nullptr;
}

void ToolsetManager::resetShared()
{
    std::shared_ptr<ToolsetManager> previous;
    {
        std::lock_guard build(g_buildMutex);
        std::lock_guard lock(g_slotMutex);
        previous = std::move(sharedSlot());
        sharedSlot() = nullptr;
        g_built = false;
    }
    if (previous)
        previous->stop();
}

void ToolsetManager::setDeviceWatcherFactory(DeviceWatcherFactory factory)
{
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

ToolsetManager::ToolsetManager() = default;

ToolsetManager::~ToolsetManager()
{
    stop();
}

void ToolsetManager::start()
{
    m_operationLock.sync([&] {
        {
            std::lock_guard lock(m_stateMutex);
            m_xcodeSelectDestination = readXcodeSelectLink();
        }
        m_monitor = DirectoryMonitor::make(SystemPaths::current().varDb);
        m_monitor->setDelegate(weak_from_this());

        reloadToolsets();
        std::shared_ptr<Toolset> chosen = current();
        std::shared_ptr<Toolset> selected = selectToolset();
        if (selected == chosen) {
            std::lock_guard lock(m_stateMutex);
            m_current = selected;
        } else {
            // Storing another choice silently would leave it without a device
            // watcher while the first keeps its own.
            setCurrent(selected);
        }

        std::weak_ptr<ToolsetManager> weakSelf = weak_from_this();
        m_observers.append(observeNotification<Toolset>(
            Toolset::didBecomeInvalid, nullptr, DispatchQueue::background(),
            [weakSelf](const Notification &, const std::shared_ptr<Toolset> &toolset) {
                if (auto self = weakSelf.lock())
                    self->handleInvalidToolset(toolset);
            }));
        m_monitor->startMonitoring();
    });
}

void ToolsetManager::stop()
{
    m_operationLock.sync([&] {
        if (m_monitor)
            m_monitor->stop();
        m_observers.removeAll();
    });
}

std::vector<std::shared_ptr<Toolset>> ToolsetManager::availableToolsets() const
{
    std::lock_guard lock(m_stateMutex);
    return m_availableToolsets;
}

std::shared_ptr<Toolset> ToolsetManager::current() const
{
    std::lock_guard lock(m_stateMutex);
    return m_current;
}

std::optional<QString> ToolsetManager::xcodeSelectDestination() const
{
    std::lock_guard lock(m_stateMutex);
    return m_xcodeSelectDestination;
}

std::vector<QUrl> ToolsetManager::installedXcodeURLs()
{
    const QDir folder(SystemPaths::current().applicationsDir);
    std::vector<QUrl> urls;
    if (!folder.exists())
        return urls;
    const QStringList names =
        folder.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QString &name : names) {
        if (name.startsWith('.') || !name.contains("Xcode"))
            continue;
        const QUrl url = QUrl::fromLocalFile(resolvedPath(folder.filePath(name)));
        if (std::find(urls.begin(), urls.end(), url) == urls.end())
            urls.push_back(url);
    }
    std::stable_sort(urls.begin(), urls.end(),
                     [](const QUrl &a, const QUrl &b) { return pathOf(a) < pathOf(b); });
    return urls;
}

std::optional<QUrl> ToolsetManager::systemSelectedXcodeURL(bool *timedOut)
{
    const auto output = runXcodeSelect({"-p"}, timedOut);
    if (!output || output->isEmpty() || !output->contains(".app"))
        return std::nullopt;
    QString path = QDir::cleanPath(*output);
    if (!QFileInfo::exists(path))
        return std::nullopt;
    while (!QFileInfo(path).fileName().toLower().contains(".app")) {
        const QString parent = QFileInfo(path).path();
        if (parent == path || QFileInfo(path).fileName().isEmpty())
            return std::nullopt;
        path = parent;
    }
    // Resolved as the applications folder's entries are, so that a linked
    // Xcode is listed and matched once.
    return QUrl::fromLocalFile(resolvedPath(path));
}

std::vector<std::shared_ptr<Toolset>> ToolsetManager::makeToolsets(const std::vector<QUrl> &urls)
{
    std::vector<std::shared_ptr<Toolset>> toolsets;
    for (const QUrl &url : urls)
        if (auto toolset = Toolset::make(url))
            toolsets.push_back(std::move(toolset));
    Toolset::sortNewestFirst(toolsets);
    return toolsets;
}

std::optional<QUrl> ToolsetManager::askXcodeSelect()
{
    if (m_xcodeSelectUnanswered)
        return std::nullopt;
    bool timedOut = false;
    auto url = systemSelectedXcodeURL(&timedOut);
    if (timedOut) {
        m_xcodeSelectUnanswered = true;
        Log::toolset().error("xcode-select did not answer within %{PUBLIC}@ seconds: no Xcode is "
                             "taken from it until the next change",
                             QString::number(toolProcessTimeout().count() / 1000.0));
    }
    return url;
}

void ToolsetManager::reloadToolsets()
{
    m_operationLock.sync([&] {
        // Every reload follows a change, and asks a tool that hung before
        // once more.
        m_xcodeSelectUnanswered = false;
        std::vector<QUrl> urls = installedXcodeURLs();
        QStringList paths;
        for (const QUrl &url : urls)
            paths << pathOf(url);
        if (const auto selected = askXcodeSelect()) {
            if (!paths.contains(pathOf(*selected))) {
                urls.push_back(*selected);
                paths << pathOf(*selected);
            }
        }

        const auto available = availableToolsets();
        QStringList knownPaths;
        for (const auto &toolset : available)
            knownPaths << pathOf(toolset->xcodePath());
        paths.sort();
        knownPaths.sort();
        if (paths == knownPaths)
            return;

        auto toolsets = makeToolsets(urls);
        if (sameToolsets(toolsets, available))
            return;
        // An Xcode that stays keeps its object, with its watcher and monitor.
        for (auto &toolset : toolsets)
            if (auto existing = findEqual(available, *toolset))
                toolset = existing;
        setAvailableToolsets(std::move(toolsets));
    });
}

void ToolsetManager::setAvailableToolsets(std::vector<std::shared_ptr<Toolset>> toolsets)
{
    m_operationLock.sync([&] {
        const Log log = Log::toolset();
        std::vector<std::shared_ptr<Toolset>> old;
        std::shared_ptr<Toolset> current;
        {
            std::lock_guard lock(m_stateMutex);
            old = std::exchange(m_availableToolsets, toolsets);
            current = m_current;
        }
        if (!sameToolsets(toolsets, old)) {
            log.info("List of available Xcodes changed");
            postNotification(availableToolsetsDidChange);
        }
        if (!current) {
            setCurrent(selectToolset());
        } else if (!findEqual(toolsets, *current)) {
            log.info("Trying to switch to Xcode that doesn't exist, auto-selecting");
            setCurrent(selectToolset());
        }
    });
}

std::shared_ptr<Toolset> ToolsetManager::selectToolset()
{
    return m_operationLock.sync([&]() -> std::shared_ptr<Toolset> {
        const Log log = Log::toolset();
        const auto settings = CorvaneSettings::shared();
        const auto toolsets = availableToolsets();

        if (const auto saved = settings->toolsPath()) {
            const QString path = pathOf(*saved);
            if (!path.isEmpty() && !QFileInfo::exists(path))
                settings->setToolsPath(std::nullopt);
        }

        const auto systemSelected = askXcodeSelect();
        const auto saved = settings->toolsPath();
        const std::optional<QString> savedPath =
            saved ? std::optional(pathOf(*saved)) : std::nullopt;
        const std::optional<QString> systemPath =
            systemSelected ? std::optional(pathOf(*systemSelected)) : std::nullopt;
        if (savedPath == systemPath)
            settings->setToolsPath(std::nullopt);

        if (const auto user = settings->toolsPath()) {
            const QString path = pathOf(*user);
            if (!path.isEmpty() && QFileInfo::exists(path)) {
                if (auto toolset = toolsetAt(toolsets, path)) {
                    log.debug("Trying to user user-selected Xcode");
                    return toolset;
                }
            }
        }

        if (systemPath) {
            // An xcode-select choice that made no toolset falls through, so
            // that a non-empty list always yields one.
            if (auto toolset = toolsetAt(toolsets, *systemPath)) {
                log.debug("Trying to user system-selected Xcode");
                return toolset;
            }
        }

        log.debug("No Xcode can be infered, using first in list");
        return toolsets.empty() ? nullptr : toolsets.front();
    });
}

void ToolsetManager::setCurrent(const std::shared_ptr<Toolset> &toolset)
{
    m_operationLock.sync([&] {
        std::shared_ptr<Toolset> previous;
        {
            std::lock_guard lock(m_stateMutex);
            previous = std::exchange(m_current, toolset);
        }
        if (previous)
            previous->setDeviceWatcher(nullptr);
        switchToCurrent();
    });
}

void ToolsetManager::switchToCurrent()
{
    const auto toolset = current();
    Log::toolset().debug("Switching Xcode to: %{PUBLIC}@",
                         toolset ? pathOf(toolset->xcodePath()) : QString("nil"));
    if (toolset) {
        DeviceWatcherFactory factory;
        {
            std::lock_guard lock(g_factoryMutex);
            factory = g_factory;
        }
        toolset->setDeviceWatcher(factory ? factory(toolset) : nullptr);
    }
    postNotification(currentDidChange);
}

std::optional<QString> ToolsetManager::readXcodeSelectLink()
{
    std::error_code error;
    const auto destination = std::filesystem::read_symlink(
        SystemPaths::current().xcodeSelectLink().toStdString(), error);
    if (error)
        return std::nullopt;
    return QString::fromStdString(destination.string());
}

void ToolsetManager::directoryMonitorDidObserveChange(const std::shared_ptr<DirectoryMonitor> &)
{
    xcodeSelectLinkDidChange();
}

void ToolsetManager::xcodeSelectLinkDidChange()
{
    m_operationLock.sync([&] {
        const auto destination = readXcodeSelectLink();
        if (!destination)
            return;
        {
            std::lock_guard lock(m_stateMutex);
            if (m_xcodeSelectDestination == destination)
                return;
            m_xcodeSelectDestination = destination;
        }
        reloadToolsets();
        setCurrent(selectToolset());
    });
}

void ToolsetManager::handleInvalidToolset(const std::shared_ptr<Toolset> &toolset)
{
    m_operationLock.sync([&] {
        if (!toolset || !findEqual(availableToolsets(), *toolset))
            return;
        Log::toolset().debug("Trying to use invalid Xcode, reloading");
        reloadToolsets();
    });
}

bool ToolsetManager::isCurrentSystemSelected() const
{
    const auto toolset = current();
    if (!toolset)
        return false;
    const auto system = systemSelectedXcodeURL();
    return system && pathOf(*system).contains(pathOf(toolset->xcodePath()));
}

QString ToolsetManager::debugDescription() const
{
    const auto toolset = current();
    const auto saved = CorvaneSettings::shared()->toolsPath();
    const auto system = systemSelectedXcodeURL();
    QStringList lines;
    lines << "Current toolset: " + (toolset ? toolset->description() : QString("None")) + " at " +
                 (toolset ? pathOf(toolset->xcodePath()) : QString("None"));
    lines << "Saved toolset: " + (saved ? pathOf(*saved) : QString("None"));
    lines << "Xcode-Select path: " + (system ? pathOf(*system) : QString("None"));
    lines << "Known:";
    for (const auto &available : availableToolsets())
        lines << "\t" + pathOf(available->xcodePath());
    if (const auto version = runXcodeSelect({"--version"}); version && !version->isEmpty())
        lines << *version;
    return lines.join('\n');
}

} // namespace corvane
