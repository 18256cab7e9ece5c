#pragma once

#include "core/Observer.h"
#include "location/DrawMode.h"
#include "location/GPSWindow.h"
#include "platform/menus/Menu.h"
#include "platform/desktop/WindowController.h"

#include <QAction>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QToolBar>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QKeyEvent;
class QMenu;
class QObject;

namespace corvane {

class GPSPlaybackOptionsViewController;
class GPSSplitView;
class GPSViewController;
class GoToActions;
class LocationSimulator;
class MenuBarBinding;
class RouteOpener;

// The GPS window: loads, draws and plays routes into the simulators. It does
// no location work itself; its toolbar, menu bar and keys forward to the
// playback engine, the route opener, the go-to actions and the map pane, and
// its toolbar follows the engine. One shared controller at a time; closing
// its window lets it go, and the next request builds a new one. Main thread
// only.
class GPSWindowController : public WindowController,
                            public std::enable_shared_from_this<GPSWindowController> {
public:
    // Toolbar item identifiers.
    static constexpr const char *toggleItem = "ToggleItem";
    static constexpr const char *loadItem = "LoadItem";
    static constexpr const char *drawItem = "DrawItem";
    static constexpr const char *playItem = "PlayItem";
    static constexpr const char *pauseItem = "PauseItem";
    static constexpr const char *restartItem = "RestartItem";
    static constexpr const char *clearItem = "ClearItem";
    static constexpr const char *optionsItem = "SettingsItem";
    static constexpr const char *goItem = "GoItem";
    static constexpr const char *editGroup = "EditGroup";
    static constexpr const char *spaceItem = "SpaceItem";
    static constexpr const char *toolbarIdentifier = "LocationMainWindowToolbar";
    static constexpr const char *toggleCommandTitle = "Toggle GPS Playback";
    static constexpr QSize playbackButtonMinimumSize{45, 25};

    // What the application shell lends the window; installed once at start.
    struct ShellHooks {
        // The main menu's updator; the window's menu bar shows its
        // properties "playbackMenuItemEnabled", "playbackMenuItemTitle" and
        // "optionsMenuItemTitle" and follows their change signals.
        std::function<QObject *()> menuUpdator;
        // Hands the options flag to the updator and retitles its item.
        std::function<void(bool sidebarIsHidden)> sidebarDidChange;
        // Records a command for Quick Repeat that sends the engine its
        // toggle on the main thread.
        std::function<void(const QString &title, const std::shared_ptr<LocationSimulator> &engine)>
            recordToggle;
    };
    static void setShellHooks(ShellHooks hooks);

    struct Environment {
        // The shared engine when empty.
        std::shared_ptr<LocationSimulator> engine;
        // Handed to the map pane.
        std::function<void(double seconds, std::function<void()>)> after;
    };

    static std::shared_ptr<GPSWindowController> shared();
    // Tests: a controller with its own engine becomes the shared one.
    static void setShared(std::shared_ptr<GPSWindowController> controller);
    // Shows whatever controller is shared when asked, for the status menu.
    static std::shared_ptr<WindowController> opener();

    // Whether the playback options are collapsed, for every window of the
    // process; not saved.
    static bool sidebarIsHidden();
    static void setSidebarIsHidden(bool hidden);

    static std::shared_ptr<GPSWindowController> make(Environment environment = {});
    // The key equivalents of the window's menu bar and its own shortcuts,
    // whether or not a window exists: the shortcut recorder refuses them as
    // global hot keys.
    static MenuPtr menuBarModel();
    ~GPSWindowController() override;
    GPSWindowController(const GPSWindowController &) = delete;
    GPSWindowController &operator=(const GPSWindowController &) = delete;

    void showWindow() override;
    bool hasWindow() const override { return true; }
    void setStaysOnTop(bool staysOnTop) override;
    void raise() override;
    void focusContent() override;

    GPSWindow *window() const { return m_window; }
    GPSSplitView *splitView() const;
    GPSViewController *mapPane() const;
    GPSPlaybackOptionsViewController *optionsPane() const;
    QToolBar *toolbar() const { return m_toolbar; }
    RouteOpener &routeOpener() const { return *m_routeOpener; }
    std::shared_ptr<GoToActions> goToActions() const { return m_goToActions; }
    LocationSimulator &engine() const { return *m_environment.engine; }

    // The item of an identifier, made on first request; nullptr for an
    // unknown one (the group's items are the four actions it holds).
    QAction *item(const QString &identifier);
    // The identifiers of the toolbar's items, in order.
    QStringList toolbarItemIdentifiers() const;
    QMenu *openMenu();
    QMenu *drawMenu();
    MenuPtr goMenu();
    // The window's menu bar items for tests: the playback and options items.
    QAction *playbackMenuAction() const { return m_playbackMenuAction; }
    QAction *optionsMenuAction() const { return m_optionsMenuAction; }

    // Enables each item from the engine and the drawing state.
    void revalidate();

    // The window's actions.
    void openGPS();
    void openRunPreset();
    void openBikePreset();
    void openDrivePreset();
    void toggleMap();
    void togglePlaybackOptions();
    void restart();
    void gotoLocationPreset(const ObjectPtr &sender);
    void gotoManualCoordinate();
    void gotoCurrentLocation();
    void togglePlayback();
    void clearLocations();
    void startDraw(std::optional<DrawMode> mode);
    void managePresets();
    void zoomDefault();
    void zoomOut();
    void zoomIn();
    // Arrow keys; whether the key was taken.
    bool keyDown(const QKeyEvent &event);
    bool keyUp(const QKeyEvent &event);

    // Called by the window as it closes.
    void windowWillClose();

private:
    // A window action reached by a shortcut.
    struct KeyedAction {
        QString title;
        QKeySequence keys;
        const char *name;
        void (GPSWindowController::*action)();
    };
    static std::vector<KeyedAction> zoomActions();
    static KeyedAction openDocumentAction();

    explicit GPSWindowController(Environment environment);
    void windowDidLoad();
    void buildMenuBar();
    void bindMenuBar();
    QAction *makeItem(const QString &identifier);
    QAction *makeButtonItem(const QString &identifier, const char *label, const char *labelComment,
                            const char *paletteLabel, const char *paletteComment, const char *tip,
                            const char *tipComment, const QString &symbol, bool highPriority);
    void attachMenu(QAction *item, QMenu *menu);
    void swapPlayPause();
    void replaceItem(const QString &from, const QString &to);
    void keepPlaybackButtonWidth();
    void refreshMenuBar();

    Environment m_environment;
    ObserverCollection m_observers;
    QPointer<GPSWindow> m_window;
    bool m_placed = false;
    QPointer<QToolBar> m_toolbar;
    QPointer<QAction> m_playbackMenuAction;
    QPointer<QAction> m_optionsMenuAction;
    QPointer<MenuBarBinding> m_menuBarBinding;
    int m_playbackButtonWidth = 0;
    std::map<QString, QPointer<QAction>> m_items;
    QPointer<QMenu> m_openMenu;
    QPointer<QMenu> m_drawMenu;
    MenuPtr m_goMenu;
    std::shared_ptr<GoToActions> m_goToActions;
    std::unique_ptr<RouteOpener> m_routeOpener;
};

} // namespace corvane
