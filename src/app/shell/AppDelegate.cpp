#include "app/shell/AppDelegate.h"

#include "app/menus/CommandManager.h"
#include "app/menus/root/DeviceRecordings.h"
#include "app/menus/root/RecordingDevices.h"
#include "app/menus/root/RootMenu.h"
#include "app/menus/root/RootPlaceholderMenu.h"
#include "app/menus/root/StatusMenuItems.h"
#include "app/qt/ImageCache.h"
#include "app/shell/Animator.h"
#include "app/shell/DebugLogExport.h"
#include "app/shell/DerivedData.h"
#include "app/shell/MainMenuUpdator.h"
#include "core/CorvaneSettings.h"
#include "core/DeviceWatching.h"
#include "core/Toolset.h"
#include "core/ToolsetManager.h"
#include "location/GPSWindowController.h"
#include "location/LocationSimulator.h"
#include "model/Device.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/notifications/DistributedNotificationCenter.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "platform/files/PendingSaves.h"
#include "platform/desktop/SettingsOpener.h"
#include "platform/desktop/Updater.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/Workspace.h"
#include "preferences/AboutWindowController.h"
#include "preferences/BuildConfig.h"
#include "preferences/CrashReporter.h"
#include "preferences/PreferencesWindow.h"
#include "settings/SettingsWindowController.h"
#include "shortcuts/ShortcutBinder.h"
#include "shortcuts/ShortcutValidator.h"
#include "tasks/FinishingWindow.h"
#include "tasks/TaskManager.h"
#include "tasks/TaskRecovery.h"
#include "tasks/TaskWindowController.h"

#include <QEventLoop>
#include <QTimer>

#include <mutex>

namespace corvane {

namespace {

const QString kDeleteDerivedDataKey = "DeleteDerivedData";
const QString kGlobalRedoKey = "GlobalRedo";
constexpr int kFrameCount = 24;
// How long quitting waits for tasks before it shows what it waits for.
constexpr auto kFinishingWindowDelay = std::chrono::milliseconds(250);

QString applicationTitle()
{
    return loc("Corvane", "APPLICATION_TITLE");
}

// Loaded when an animator is made, so that a tick only hands over an image.
std::vector<ImageRef> frames(const QString &prefix)
{
    std::vector<ImageRef> result;
    result.reserve(kFrameCount);
    for (int i = 1; i <= kFrameCount; ++i) {
        result.push_back(ImageRef::resource(prefix + "-" + QString::number(i)));
        ImageCache::shared().resolve(result.back());
    }
    return result;
}

// The program's menus as the shortcut recorder checks a new hot key against
// them: the status menu's fixed key equivalents and the GPS window's menu
// bar. The status menu's mirrors of the hot keys are left out: another hot
// key's combination is refused under that hot key's own name.
MenuPtr programMenus()
{
    auto status = std::make_shared<Menu>(applicationTitle());
    std::vector<MenuItemPtr> keyed;
    for (auto item : {StatusMenuItems::gpsItem(), StatusMenuItems::activityItem(),
                      StatusMenuItems::trashPreviewsItem(), StatusMenuItems::aboutItem(),
                      StatusMenuItems::preferencesItem(), StatusMenuItems::helpItem(),
                      StatusMenuItems::diagnosticsItem(), StatusMenuItems::quitItem()})
        if (!item->keyEquivalent().isEmpty())
            keyed.push_back(std::move(item));
    status->setItems(std::move(keyed));
    auto statusItem = MenuItem::make(status->title());
    statusItem->setSubmenu(status);
    auto gpsItem = MenuItem::make(loc("GPS Simulator…", "GPS_ITEM_TITLE"));
    gpsItem->setSubmenu(GPSWindowController::menuBarModel());
    auto menus = std::make_shared<Menu>();
    menus->setItems({statusItem, gpsItem});
    return menus;
}

} // namespace

std::shared_ptr<AppDelegate> AppDelegate::make(Environment environment)
{
    std::shared_ptr<AppDelegate> delegate(new AppDelegate(std::move(environment)));
    MenuHost::setCurrent(delegate);
    return delegate;
}

std::shared_ptr<AppDelegate> AppDelegate::current()
{
    return std::dynamic_pointer_cast<AppDelegate>(MenuHost::current());
}

AppDelegate::AppDelegate(Environment environment)
    : m_environment(std::move(environment)), m_updaterController(Updater::standard())
{
    auto &env = m_environment;
    m_statusItem = env.statusItem ? env.statusItem : std::make_shared<RecordingStatusItem>();
    if (!env.rootMenuFactory)
        env.rootMenuFactory = makeRootMenu;
    if (!env.recordingDevices)
        env.recordingDevices = std::make_shared<DeviceRecordings>();
    if (!env.commandManager)
        env.commandManager = CommandManager::shared();
    if (!env.modifiers)
        env.modifiers = ModifierSource::system();
    if (!env.makeSettingsWindow)
        env.makeSettingsWindow = [updater = m_updaterController] {
            return makePreferencesWindowController(updater);
        };
    if (!env.makeAboutWindow)
        env.makeAboutWindow = AboutWindowController::make;
    if (!env.taskWindow)
        env.taskWindow = [] { return TaskWindowController::shared(); };
    if (!env.makeFinishingWindow)
        env.makeFinishingWindow = [] {
            return std::make_shared<FinishingWindowController>(TaskManager::shared());
        };
    if (!env.recoverTasks)
        env.recoverTasks = [] {
            // What it leaves unfinished stays held from the tasks of this run.
            TaskRecovery::report(
                TaskRecovery::recover(TaskJournal::current(), TaskManager::shared()->claims()));
        };

    addAction("showPreferencesWithSender:",
              [this](const ObjectPtr &) { showPreferencesPane(std::nullopt); });
    addAction("showAbout:", [this](const ObjectPtr &) { showAboutWindow(); });
    // Windows below the shell (the GPS window's menus) open the settings here.
    SettingsOpener::setHandler([](const QString &pane) {
        if (auto delegate = AppDelegate::current())
            delegate->showPreferencesPane(Settings::PaneIdentifier{pane});
    });
    installGPSWindowHooks(env.commandManager);

    CorvaneSettings::shared()->registerCommonSettings();
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::installGPSWindowHooks(const std::shared_ptr<CommandManager> &commands)
{
    GPSWindowController::ShellHooks hooks;
    hooks.menuUpdator = []() -> QObject * {
        const auto delegate = AppDelegate::current();
        return delegate ? delegate->menuUpdator() : nullptr;
    };
    hooks.sidebarDidChange = [](bool hidden) {
        if (const auto delegate = AppDelegate::current()) {
            delegate->menuUpdator()->setSidebarIsHidden(hidden);
            delegate->menuUpdator()->updateOptionsMenuItemTitle();
        }
    };
    hooks.recordToggle =
        [weakCommands = std::weak_ptr(commands)](const QString &title,
                                                 const std::shared_ptr<LocationSimulator> &engine) {
            const auto history = weakCommands.lock();
            if (!history)
                return;
            CommandManager::Command command;
            command.title = title;
            command.target = engine;
            command.selector = QStringLiteral("toggle");
            command.invoker = [](const ObjectPtr &target, const auto &) {
                if (const auto live = std::dynamic_pointer_cast<LocationSimulator>(target))
                    live->toggle();
            };
            command.mainThreadOnly = true;
            history->recordCommand(std::move(command));
        };
    GPSWindowController::setShellHooks(std::move(hooks));
}

void AppDelegate::applicationWillFinishLaunching()
{
    postShouldKillLauncher();
}

void AppDelegate::applicationDidFinishLaunching()
{
    m_firstBuildPending = true;
    rebuildStatusMenu();
    m_statusItem->setIcon(ImageRef::resource("statusIcon"));
    m_statusItem->setVisible(true);
    registerObservers();
    prepareShortcutValidator();
    bindHotKeys();
    // The current-Xcode observer comes last, after the first build started.
    m_observers.append(observeNotification(
        ToolsetManager::currentDidChange, DispatchQueue::main(),
        [weak = weakAs<AppDelegate>()](const Notification &, const ObjectPtr &) {
            if (auto delegate = weak.lock())
                delegate->currentToolsetDidChange();
        }));
}

void AppDelegate::currentToolsetDidChange()
{
    // The first build is what makes the toolset manager, whose first choice is
    // announced while that build runs: the change is judged when it lands.
    if (m_firstBuildPending) {
        m_toolsetChangedDuringFirstBuild = true;
        return;
    }
    if (!statusMenuIsCurrent())
        rebuildStatusMenu();
}

bool AppDelegate::statusMenuIsCurrent() const
{
    if (!m_statusMenu || !m_statusMenuSource)
        return false;
    // A toolset that stops being current loses its watcher, and each choice
    // gives the chosen one a new watcher: the same pair means no change.
    const auto toolset = m_statusMenuSource->toolset.lock();
    const auto watcher = m_statusMenuSource->watcher.lock();
    return toolset && watcher && toolset->deviceWatcher() == watcher;
}

void AppDelegate::applicationWillTerminate()
{
    stopActivities();
    finishRunningTasks();
    finishPendingSaves();
}

void AppDelegate::postShouldKillLauncher()
{
    DistributedNotificationCenter::defaultCenter()->post(Notifications::shouldKillLauncher,
                                                         bundleIdentifier, {});
}

void AppDelegate::rebuildStatusMenu()
{
    m_statusMenu = nullptr;
    m_statusMenuSource.reset();
    m_statusItem->setMenu(
        RootPlaceholderMenu::make(applicationTitle(), true, m_environment.modifiers));
    // Only the newest build is installed: an older one that finishes later
    // would show the menu of an Xcode no longer current.
    const quint64 generation = ++m_buildGeneration;
    DispatchQueue::userInitiated()->async(
        [weak = weakAs<AppDelegate>(), factory = m_environment.rootMenuFactory, generation,
         recovery = m_recovery, recover = m_environment.recoverTasks] {
            // No menu offers an application whose data a killed task left
            // half replaced.
            std::call_once(*recovery, recover);
            MenuPtr menu = factory(applicationTitle());
            std::optional<MenuSource> source;
            if (const auto root = std::dynamic_pointer_cast<RootMenu>(menu)) {
                const auto toolset = root->toolset();
                source = MenuSource{toolset, toolset ? toolset->deviceWatcher() : nullptr};
            }
            // Moved, so that the menu also ends on main when it is not installed.
            DispatchQueue::main()->async([weak, menu = std::move(menu), generation, source] {
                if (auto delegate = weak.lock())
                    delegate->installStatusMenu(menu, generation, source);
            });
        });
}

void AppDelegate::installStatusMenu(const MenuPtr &menu, quint64 generation,
                                    const std::optional<MenuSource> &source)
{
    if (generation != m_buildGeneration)
        return;
    const bool changedWhileBuilding = std::exchange(m_firstBuildPending, false) &&
                                      std::exchange(m_toolsetChangedDuringFirstBuild, false);
    if (menu) {
        if (auto shown = m_statusItem->menu())
            shown->cancelTracking();
        m_statusMenu = menu;
        m_statusMenuSource = source;
        m_statusItem->setMenu(menu);
    }
    if (changedWhileBuilding && !statusMenuIsCurrent())
        rebuildStatusMenu();
}

void AppDelegate::registerObservers()
{
    const auto weak = weakAs<AppDelegate>();
    const auto main = DispatchQueue::main();
    m_observers.append(observeNotification(Device::recordingDidChange, main,
                                           [weak](const Notification &, const ObjectPtr &object) {
                                               if (auto delegate = weak.lock())
                                                   delegate->recordingDidChange(object);
                                           }));
    m_observers.append(observeNotification(LocationSimulator::statusChanged, main,
                                           [weak](const Notification &, const ObjectPtr &) {
                                               if (auto delegate = weak.lock())
                                                   delegate->updateStatusIcon();
                                           }));
    m_observers.append(observeNotification(TaskManager::didAddTask, main,
                                           [weak](const Notification &, const ObjectPtr &object) {
                                               auto delegate = weak.lock();
                                               if (delegate && object == TaskManager::shared())
                                                   delegate->taskWasAdded();
                                           }));
    // A removed task may have been the last unfinished one.
    for (const char *name : {TaskManager::didCompleteTask, TaskManager::didRemoveTask})
        m_observers.append(
            observeNotification(name, main, [weak](const Notification &, const ObjectPtr &object) {
                auto delegate = weak.lock();
                if (delegate && object == TaskManager::shared())
                    delegate->updateStatusIcon();
            }));
}

void AppDelegate::recordingDidChange(const ObjectPtr &object)
{
    const auto &devices = *m_environment.recordingDevices;
    if (!devices.isDevice(object))
        return;
    m_recordingDevice = devices.deviceToShow(object, m_recordingDevice.lock());
    updateStatusIcon();
}

void AppDelegate::taskWasAdded()
{
    showTaskWindow();
    updateStatusIcon();
}

void AppDelegate::showTaskWindow()
{
    Workspace::shared()->activateIgnoringOtherApps();
    m_environment.taskWindow()->showWindow();
}

void AppDelegate::updateStatusIcon()
{
    bool unfinishedTasks = m_finishingTasks;
    for (const auto &task : TaskManager::shared()->tasks())
        if (task->isActive())
            unfinishedTasks = true;
    const bool recording = m_recordingDevice.lock() != nullptr;
    const bool playing =
        LocationSimulator::shared()->playbackState() == LocationSimulator::PlaybackStatus::playing;

    if (!recording && !unfinishedTasks && !playing) {
        setStatusButtonImage(ImageRef::resource("statusIcon"));
        if (m_statusItemAnimator)
            m_statusItemAnimator->stop();
        m_statusItemAnimator.reset();
        return;
    }
    if (m_statusItemAnimator)
        return;
    const QString prefix = recording         ? "recordingIcon"
                           : unfinishedTasks ? "statusIcon"
                                             : "statusIcon-GPS";
    m_statusItemAnimator = std::make_unique<Animator>(frames(prefix), animationInterval);
    m_statusItemAnimator->start([weak = weakAs<AppDelegate>()](const ImageRef &frame) {
        if (auto delegate = weak.lock())
            delegate->setStatusButtonImage(frame);
    });
}

void AppDelegate::setStatusButtonImage(const ImageRef &image)
{
    m_statusItem->setIcon(image);
}

void AppDelegate::prepareShortcutValidator()
{
    const auto validator = ShortcutValidator::sharedValidator();
    validator->setMainMenu(programMenus());
    validator->setHotKeys(
        {{kGlobalRedoKey, loc("Quick Repeat", "REDO_ITEM_TITLE")},
         {kDeleteDerivedDataKey, loc("Trash Derived Data", "DELETE_DD_ITEM_TITLE")}});
}

void AppDelegate::bindHotKeys()
{
    auto binder = ShortcutBinder::sharedBinder();
    if (!binder)
        return;
    const auto weak = weakAs<AppDelegate>();
    binder->bindShortcutWithDefaultsKey(kDeleteDerivedDataKey, [weak] {
        if (auto delegate = weak.lock())
            delegate->deleteDerivedDataHotKey();
    });
    binder->bindShortcutWithDefaultsKey(kGlobalRedoKey, [weak] {
        if (auto delegate = weak.lock())
            delegate->redoHotKey();
    });
}

void AppDelegate::unbindHotKeys()
{
    auto binder = ShortcutBinder::sharedBinder();
    if (!binder)
        return;
    binder->breakBindingWithDefaultsKey(kGlobalRedoKey);
    binder->breakBindingWithDefaultsKey(kDeleteDerivedDataKey);
}

void AppDelegate::redoHotKey()
{
    const auto command = m_environment.commandManager->newestLiveCommand();
    if (!command)
        return;
    // Repeated commands may wait for simctl; only the flagged ones need main.
    CommandManager::repeat(*command);

    if (m_statusItem->isHighlighted())
        return;
    m_statusItem->setHighlighted(true);
    DispatchQueue::main()->asyncAfter(highlightDuration, [weak = weakAs<AppDelegate>()] {
        if (auto delegate = weak.lock())
            delegate->clearStatusButtonHighlight();
    });
}

void AppDelegate::deleteDerivedDataHotKey()
{
    deleteDerivedData();
}

void AppDelegate::deleteDerivedData()
{
    DispatchQueue::userInitiated()->async(
        [paths = SystemPaths::current()] { DerivedData::moveToTrash(paths); });
}

void AppDelegate::clearStatusButtonHighlight()
{
    m_statusItem->setHighlighted(false);
}

std::shared_ptr<SettingsWindowController> AppDelegate::preferencesWindowController()
{
    if (!m_preferencesWindowController)
        m_preferencesWindowController = m_environment.makeSettingsWindow();
    return m_preferencesWindowController;
}

std::shared_ptr<WindowController> AppDelegate::aboutWindowController()
{
    if (!m_aboutWindowController)
        m_aboutWindowController = m_environment.makeAboutWindow();
    return *m_aboutWindowController;
}

void AppDelegate::present(WindowController &controller)
{
    if (controller.hasWindow()) {
        controller.setStaysOnTop(true);
        controller.raise();
    }
    Workspace::shared()->activateIgnoringOtherApps();
    if (controller.hasWindow())
        controller.focusContent();
}

void AppDelegate::showPreferencesPane(const std::optional<Settings::PaneIdentifier> &pane)
{
    auto controller = preferencesWindowController();
    if (!controller)
        return;
    controller->showPane(pane);
    present(*controller);
}

void AppDelegate::showAboutWindow()
{
    auto controller = aboutWindowController();
    if (!controller) {
        Workspace::shared()->activateIgnoringOtherApps();
        return;
    }
    controller->showWindow();
    present(*controller);
}

std::shared_ptr<CrashReporter> AppDelegate::crashReporter()
{
    if (!m_crashReporter)
        m_crashReporter = std::make_shared<CrashReporter>(
            QUrl(QString::fromUtf8(build::crashReportUrl)),
            QUrl(QString::fromUtf8(build::privacyPolicyUrl)), UserDefaults::standard());
    return m_crashReporter;
}

void AppDelegate::exportDebugLogs()
{
    DebugLogExport::begin();
}

MainMenuUpdator *AppDelegate::menuUpdator()
{
    if (!m_menuUpdator)
        m_menuUpdator = std::make_unique<MainMenuUpdator>();
    return m_menuUpdator.get();
}

void AppDelegate::finishRunningTasks()
{
    const auto manager = TaskManager::shared();
    const auto running = manager->runningTasks();
    if (running.empty())
        return;
    Log::general().notice("Cancelling %{public}@ running task(s) before quitting",
                          qsizetype(running.size()));
    for (const auto &task : running)
        task->cancel();
    m_finishingTasks = true;
    updateStatusIcon();

    // The loop runs so that the icon moves; nothing the user does reaches it.
    // An alert a task puts up meanwhile runs its own loop, in which the timer
    // still fires: at the limit it is closed, so that it cannot hold the quit.
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + m_environment.taskQuitLimit;
    // The task window went with the quit: what is waited for is said here.
    std::shared_ptr<WindowController> finishing;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            AlertPresenter::shared()->closeOpenAlerts();
            loop.quit();
        } else if (manager->runningTasks().empty()) {
            loop.quit();
        } else if (!finishing && now >= started + kFinishingWindowDelay) {
            Log::general().notice("Quitting waits for %{public}@",
                                  FinishingWindow::tasksAndSteps(*manager, ": ").join("; "));
            finishing = m_environment.makeFinishingWindow();
            finishing->showWindow();
        }
    });
    poll.start(20);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    finishing.reset();
    m_finishingTasks = false;
    if (!manager->runningTasks().empty())
        Log::general().notice("Quitting with tasks still running; the next start undoes what "
                              "they leave");
}

void AppDelegate::finishPendingSaves()
{
    // Blocking, with no event loop, so that nothing new (an alert) can start
    // meanwhile and the limit is the clock's.
    if (PendingSaves::waitUntilDone(std::chrono::steady_clock::now() + m_environment.saveQuitLimit))
        return;
    Log::general().notice("Quitting with %{public}@ save(s) still being written; their files "
                          "keep what they held before",
                          PendingSaves::count());
}

void AppDelegate::stopActivities()
{
    for (const ObjectPtr &device :
         m_environment.recordingDevices->recordingDevices(m_recordingDevice.lock()))
        m_environment.recordingDevices->interruptRecording(device);
    LocationSimulator::shared()->setPlaybackState(LocationSimulator::PlaybackStatus::stopped);
}

} // namespace corvane
