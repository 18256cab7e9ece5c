#pragma once

#include "app/menus/MenuHost.h"
#include "app/menus/root/RootMenuFactory.h"
#include "core/Observer.h"
#include "platform/menus/ActionTarget.h"
#include "platform/ImageRef.h"
#include "platform/menus/Menu.h"
#include "platform/hotkeys/ModifierSource.h"
#include "platform/menus/StatusItem.h"
#include "platform/desktop/WindowController.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvane {

class Animator;
class CommandManager;
class CrashReporter;
class DeviceWatching;
class MainMenuUpdator;
class RecordingDevices;
class SettingsWindowController;
class Toolset;
class Updater;
namespace Settings {
struct PaneIdentifier;
}

// The program's start and its status item: puts the placeholder menu up at
// once and the root menu when it has been built off the main thread, drives
// the status icon, binds the two global hot keys, presents the settings and
// about windows, and stops recordings and location playback at quit. Used on
// the main thread unless a method says otherwise.
class AppDelegate : public ActionTarget, public MenuHost {
public:
    static constexpr const char *bundleIdentifier = "com.quendrith.corvane";
    static constexpr double animationInterval = 1.0 / 15.0;
    static constexpr double highlightDuration = 0.1;

    // What the delegate works with; empty fields get the program's own.
    struct Environment {
        std::shared_ptr<StatusItem> statusItem;
        RootMenuFactory rootMenuFactory;
        std::shared_ptr<RecordingDevices> recordingDevices;
        std::shared_ptr<CommandManager> commandManager;
        std::shared_ptr<ModifierSource> modifiers;
        std::function<std::shared_ptr<SettingsWindowController>()> makeSettingsWindow;
        std::function<std::shared_ptr<WindowController>()> makeAboutWindow;
        // The current task window (a fresh one after the last was closed).
        std::function<std::shared_ptr<WindowController>()> taskWindow;
        // Undoes what tasks of a killed program left; runs off the main
        // thread before the first root menu is built.
        std::function<void()> recoverTasks;
        // How long quitting waits for cancelled tasks to clean up.
        std::chrono::milliseconds taskQuitLimit = std::chrono::seconds(10);
        // What quitting shows, after a moment, of the tasks it waits for (a
        // quick clean-up shows none).
        std::function<std::shared_ptr<WindowController>()> makeFinishingWindow;
        // How long quitting then waits for the stores' pending saves.
        std::chrono::milliseconds saveQuitLimit = std::chrono::seconds(5);
    };

    // Registers the common settings; the newest delegate made becomes current()
    // and the menus' host.
    static std::shared_ptr<AppDelegate> make(Environment environment);
    // The application's delegate; the menus reach it as their host.
    static std::shared_ptr<AppDelegate> current();

    ~AppDelegate() override;

    // Before the event loop runs: tells the login-item launcher to quit.
    void applicationWillFinishLaunching();
    // On the first event-loop turn.
    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // The placeholder at once, then the newest requested build's root menu.
    void rebuildStatusMenu();
    std::shared_ptr<StatusItem> statusItem() const { return m_statusItem; }
    // The installed root menu; nothing while one is being built.
    MenuPtr statusMenu() const { return m_statusMenu; }

    void updateStatusIcon();
    void setStatusButtonImage(const ImageRef &image);
    ObjectPtr recordingDevice() const { return m_recordingDevice.lock(); }
    Animator *statusItemAnimator() const { return m_statusItemAnimator.get(); }

    // Hands the shortcut recorder's validator the program's menus and its
    // two hot keys, so that a new hot key repeats none of them.
    void prepareShortcutValidator();
    void bindHotKeys() override;
    void unbindHotKeys() override;
    // Performs the newest command whose target lives (on the user-initiated
    // queue unless it is main-thread only) and flashes the status item.
    void redoHotKey();
    void deleteDerivedDataHotKey();
    // On the user-initiated queue, as it waits for `defaults`.
    void deleteDerivedData() override;
    void clearStatusButtonHighlight();

    void showPreferencesPane(const std::optional<Settings::PaneIdentifier> &pane) override;
    void showAboutWindow() override;
    // Made on first use with the build's endpoint and privacy page; nothing
    // here starts a check.
    std::shared_ptr<CrashReporter> crashReporter();
    void showTaskWindow() override;
    // Writes the program's log since boot off the main thread, then asks
    // where to save it.
    void exportDebugLogs() override;
    // What the GPS window's main-menu items show; made on first read.
    MainMenuUpdator *menuUpdator();

    // The program's updater; none where the system's packages bring new
    // versions.
    std::shared_ptr<Updater> updaterController() const { return m_updaterController; }

    // Interrupts every recording and stops location playback.
    void stopActivities();
    // Cancels the running tasks and lets the event loop run (the status icon
    // busy, and after a moment a window naming what each task finishes)
    // until they have cleaned up or the limit has passed; what is still
    // running then is left to the next start's recovery. An alert still open
    // at the limit is closed.
    void finishRunningTasks();
    // Waits, up to the limit, for the saves the stores were asked for (the
    // last route, the presets), so that none asked for before quitting is
    // lost.
    void finishPendingSaves();

private:
    // What a root menu was built for.
    struct MenuSource {
        std::weak_ptr<Toolset> toolset;
        std::weak_ptr<DeviceWatching> watcher;
    };

    explicit AppDelegate(Environment environment);
    static void installGPSWindowHooks(const std::shared_ptr<CommandManager> &commands);

    void postShouldKillLauncher();
    void installStatusMenu(const MenuPtr &menu, quint64 generation,
                           const std::optional<MenuSource> &source);
    void currentToolsetDidChange();
    bool statusMenuIsCurrent() const;
    void registerObservers();
    void recordingDidChange(const ObjectPtr &object);
    void taskWasAdded();
    std::shared_ptr<SettingsWindowController> preferencesWindowController();
    std::shared_ptr<WindowController> aboutWindowController();
    void present(WindowController &controller);

    Environment m_environment;
    std::shared_ptr<StatusItem> m_statusItem;
    std::weak_ptr<Object> m_recordingDevice;
    MenuPtr m_statusMenu;
    std::optional<MenuSource> m_statusMenuSource;
    quint64 m_buildGeneration = 0;
    // The recovery runs once; every build waits for it.
    std::shared_ptr<std::once_flag> m_recovery = std::make_shared<std::once_flag>();
    bool m_finishingTasks = false;
    bool m_firstBuildPending = false;
    bool m_toolsetChangedDuringFirstBuild = false;
    std::shared_ptr<SettingsWindowController> m_preferencesWindowController;
    std::optional<std::shared_ptr<WindowController>> m_aboutWindowController;
    std::shared_ptr<CrashReporter> m_crashReporter;
    const std::shared_ptr<Updater> m_updaterController;
    ObserverCollection m_observers;
    std::unique_ptr<Animator> m_statusItemAnimator;
    std::unique_ptr<MainMenuUpdator> m_menuUpdator;
};

} // namespace corvane
