#include "location/GPSWindowController.h"

#include "location/GPSPlaybackOptionsViewController.h"
#include "location/GPSSplitView.h"
#include "location/GPSViewController.h"
#include "location/GPSWindow.h"
#include "location/GoToActions.h"
#include "location/LocationGoMenu.h"
#include "location/LocationSimulator.h"
#include "location/RouteOpener.h"
#include "location/URLDragView.h"
#include "platform/menus/ContextMenuPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/menus/KeyEquivalents.h"
#include "platform/Loc.h"
#include "platform/desktop/SettingsOpener.h"
#include "platform/desktop/WindowPlacement.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMetaProperty>
#include <QToolBar>
#include <QToolButton>

namespace corvane {

// Keeps the window's menu bar items showing the updator's values.
class MenuBarBinding : public QObject {
    Q_OBJECT
public:
    MenuBarBinding(QObject *updator, QAction *playback, QAction *options,
                   std::function<bool()> drawing)
        : QObject(playback), m_updator(updator), m_playback(playback), m_options(options),
          m_drawing(std::move(drawing))
    {
        for (const char *name :
             {"playbackMenuItemEnabled", "playbackMenuItemTitle", "optionsMenuItemTitle"}) {
            const QMetaObject *meta = updator->metaObject();
            const int index = meta->indexOfProperty(name);
            if (index < 0 || !meta->property(index).hasNotifySignal())
                continue;
            connect(updator, meta->property(index).notifySignal(), this,
                    metaObject()->method(metaObject()->indexOfSlot("refresh()")));
        }
        refresh();
    }

public slots:
    void refresh()
    {
        if (!m_updator)
            return;
        if (m_playback) {
            m_playback->setText(m_updator->property("playbackMenuItemTitle").toString());
            // As the toolbar's Play, the item rests while a route is drawn.
            m_playback->setEnabled(m_updator->property("playbackMenuItemEnabled").toBool() &&
                                   !m_drawing());
        }
        if (m_options)
            m_options->setText(m_updator->property("optionsMenuItemTitle").toString());
    }

private:
    QPointer<QObject> m_updator;
    QPointer<QAction> m_playback;
    QPointer<QAction> m_options;
    std::function<bool()> m_drawing;
};

namespace {

std::shared_ptr<GPSWindowController> &sharedController()
{
    static std::shared_ptr<GPSWindowController> controller;
    return controller;
}

GPSWindowController::ShellHooks &shellHooks()
{
    static GPSWindowController::ShellHooks hooks;
    return hooks;
}

bool g_sidebarIsHidden = false;

// Shows the shared controller as it is when asked.
class SharedWindowOpener : public WindowController {
public:
    void showWindow() override { GPSWindowController::shared()->showWindow(); }
    bool hasWindow() const override { return true; }
    void setStaysOnTop(bool staysOnTop) override
    {
        GPSWindowController::shared()->setStaysOnTop(staysOnTop);
    }
    void raise() override { GPSWindowController::shared()->raise(); }
    void focusContent() override { GPSWindowController::shared()->focusContent(); }
};

std::optional<GPSViewController::PanDirection> arrow(int key)
{
    switch (key) {
    case Qt::Key_Left: return GPSViewController::PanDirection::left;
    case Qt::Key_Right: return GPSViewController::PanDirection::right;
    case Qt::Key_Down: return GPSViewController::PanDirection::down;
    case Qt::Key_Up: return GPSViewController::PanDirection::up;
    default: return std::nullopt;
    }
}

} // namespace

void GPSWindowController::setShellHooks(ShellHooks hooks)
{
    shellHooks() = std::move(hooks);
}

std::shared_ptr<GPSWindowController> GPSWindowController::shared()
{
    auto &controller = sharedController();
    if (!controller) {
        controller = make();
        // The window goes before the application does.
        static bool once = [] {
            if (auto *app = QCoreApplication::instance())
                QObject::connect(app, &QCoreApplication::aboutToQuit,
                                 [] { sharedController().reset(); });
            return true;
        }();
        Q_UNUSED(once);
    }
    return controller;
}

void GPSWindowController::setShared(std::shared_ptr<GPSWindowController> controller)
{
    sharedController() = std::move(controller);
}

std::shared_ptr<WindowController> GPSWindowController::opener()
{
    return std::make_shared<SharedWindowOpener>();
}

bool GPSWindowController::sidebarIsHidden()
{
    return g_sidebarIsHidden;
}

void GPSWindowController::setSidebarIsHidden(bool hidden)
{
    g_sidebarIsHidden = hidden;
}

std::shared_ptr<GPSWindowController> GPSWindowController::make(Environment environment)
{
    std::shared_ptr<GPSWindowController> controller(
        new GPSWindowController(std::move(environment)));
    controller->windowDidLoad();
    return controller;
}

GPSWindowController::GPSWindowController(Environment environment)
    : m_environment(std::move(environment))
{
    if (!m_environment.engine)
        m_environment.engine = LocationSimulator::shared();
    m_goToActions = GoToActions::make();
    m_routeOpener = std::make_unique<RouteOpener>(m_environment.engine);
}

GPSWindowController::~GPSWindowController()
{
    m_observers.removeAll();
    if (m_goMenu)
        if (auto presenter = ContextMenuPresenter::shared())
            presenter->releaseAttachedMenu(m_goMenu);
    if (!m_window)
        return;
    if (m_window->isClosing())
        m_window->deleteLater();
    else
        delete m_window.data();
}

void GPSWindowController::windowDidLoad()
{
    const std::weak_ptr<GPSWindowController> weak = weak_from_this();
    m_window = new GPSWindow(weak);
    m_window->setWindowTitle(loc("GPS Simulator", "GPS_WINDOW_TITLE"));
    m_window->resize(960, 640);
    m_window->setMinimumSize(640, 420);

    GPSViewController::Environment paneEnvironment;
    paneEnvironment.engine = m_environment.engine;
    paneEnvironment.after = m_environment.after;
    auto *pane = new GPSViewController(paneEnvironment);
    auto *options = new GPSPlaybackOptionsViewController(m_environment.engine);
    auto *split = new GPSSplitView(pane, options, g_sidebarIsHidden);
    auto *dropView = new URLDragView([weak](const QUrl &url) {
        if (auto controller = weak.lock())
            controller->routeOpener().openRoute(url);
    });
    dropView->setContent(split);
    m_window->setCentralWidget(dropView);
    QObject::connect(pane, &GPSViewController::toolbarNeedsRevalidation, m_window, [weak] {
        if (auto controller = weak.lock())
            controller->revalidate();
    });

    m_toolbar = new QToolBar(m_window);
    m_toolbar->setObjectName(QString::fromLatin1(toolbarIdentifier));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar->setIconSize(QSize(18, 18));
    m_toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_window->addToolBar(Qt::TopToolBarArea, m_toolbar);

    const auto space = [this] {
        auto *spacer = new QWidget;
        spacer->setFixedWidth(16);
        m_toolbar->addWidget(spacer)->setObjectName(QString::fromLatin1(spaceItem));
    };
    const bool playing = engine().playbackState() == LocationSimulator::PlaybackStatus::playing;
    m_toolbar->addAction(item(restartItem));
    m_toolbar->addAction(item(playing ? pauseItem : playItem));
    keepPlaybackButtonWidth();
    space();
    auto *group = new QActionGroup(m_toolbar);
    group->setObjectName(QString::fromLatin1(editGroup));
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    for (const char *identifier : {loadItem, drawItem, goItem, clearItem}) {
        QAction *action = item(identifier);
        group->addAction(action);
        m_toolbar->addAction(action);
        if (auto *button = qobject_cast<QToolButton *>(m_toolbar->widgetForAction(action));
            button && action->menu())
            button->setPopupMode(QToolButton::InstantPopup);
    }
    space();
    m_toolbar->addAction(item(toggleItem));
    m_toolbar->addAction(item(optionsItem));
    revalidate();

    m_observers.append(observeNotification(LocationSimulator::statusChanged, DispatchQueue::main(),
                                           [weak](const Notification &, const ObjectPtr &) {
                                               if (auto controller = weak.lock()) {
                                                   controller->swapPlayPause();
                                                   controller->revalidate();
                                               }
                                           }));
    m_observers.append(observeNotification(LocationSimulator::locationsChange,
                                           DispatchQueue::main(),
                                           [weak](const Notification &, const ObjectPtr &) {
                                               if (auto controller = weak.lock())
                                                   controller->revalidate();
                                           }));
    buildMenuBar();
}

std::vector<GPSWindowController::KeyedAction> GPSWindowController::zoomActions()
{
    return {
        {loc("Show Whole Route", "GPS_ZOOM_DEFAULT_ITEM_TITLE"), QKeySequence(Qt::CTRL | Qt::Key_0),
         "zoomDefault", &GPSWindowController::zoomDefault},
        {loc("Zoom In", "GPS_ZOOM_IN_ITEM_TITLE"), QKeySequence::ZoomIn, "zoomIn",
         &GPSWindowController::zoomIn},
        {loc("Zoom Out", "GPS_ZOOM_OUT_ITEM_TITLE"), QKeySequence::ZoomOut, "zoomOut",
         &GPSWindowController::zoomOut},
    };
}

GPSWindowController::KeyedAction GPSWindowController::openDocumentAction()
{
    return {loc("Open…", "GPS_OPEN_DOCUMENT_ITEM_TITLE"), QKeySequence::Open, "openDocument",
            &GPSWindowController::openGPS};
}

MenuPtr GPSWindowController::menuBarModel()
{
    auto keyed = [](const KeyedAction &action) {
        auto item = MenuItem::make(action.title);
        if (const auto equivalent = action.keys.isEmpty()
                                        ? std::nullopt
                                        : KeyEquivalents::fromKeyCombination(action.keys[0])) {
            item->setKeyEquivalent(equivalent->key);
            item->setKeyEquivalentModifierMask(equivalent->modifiers);
        }
        return item;
    };
    auto view = std::make_shared<Menu>(loc("View", "GPS_VIEW_MENU_TITLE"));
    std::vector<MenuItemPtr> zooms;
    for (const KeyedAction &action : zoomActions())
        zooms.push_back(keyed(action));
    view->setItems(std::move(zooms));
    auto viewItem = MenuItem::make(view->title());
    viewItem->setSubmenu(view);
    auto bar = std::make_shared<Menu>();
    bar->setItems({viewItem, keyed(openDocumentAction())});
    return bar;
}

void GPSWindowController::buildMenuBar()
{
    const std::weak_ptr<GPSWindowController> weak = weak_from_this();
    const auto call = [weak](void (GPSWindowController::*action)()) {
        return [weak, action] {
            if (auto controller = weak.lock())
                ((*controller).*action)();
        };
    };
    QMenuBar *bar = m_window->menuBar();
    QMenu *playback = bar->addMenu(loc("Playback", "GPS_PLAYBACK_MENU_TITLE"));
    m_playbackMenuAction = playback->addAction(LocationSimulator::title(engine().playbackState()));
    m_playbackMenuAction->setObjectName(QStringLiteral("playbackMenuItem"));
    QObject::connect(m_playbackMenuAction, &QAction::triggered, m_window,
                     call(&GPSWindowController::togglePlayback));
    m_optionsMenuAction =
        playback->addAction(g_sidebarIsHidden ? loc("Show Options", "GPS_SHOW_OPTIONS_ITEM_TITLE")
                                              : loc("Hide Options", "GPS_HIDE_OPTIONS_ITEM_TITLE"));
    m_optionsMenuAction->setObjectName(QStringLiteral("optionsMenuItem"));
    QObject::connect(m_optionsMenuAction, &QAction::triggered, m_window,
                     call(&GPSWindowController::togglePlaybackOptions));

    QMenu *view = bar->addMenu(loc("View", "GPS_VIEW_MENU_TITLE"));
    for (const KeyedAction &keyed : zoomActions()) {
        QAction *zoomAction = view->addAction(keyed.title);
        zoomAction->setObjectName(QString::fromLatin1(keyed.name));
        zoomAction->setShortcut(keyed.keys);
        QObject::connect(zoomAction, &QAction::triggered, m_window, call(keyed.action));
    }
    // The program's File > Open reaches the window as its standard shortcut.
    const KeyedAction open = openDocumentAction();
    auto *openDocument = new QAction(open.title, m_window);
    openDocument->setObjectName(QString::fromLatin1(open.name));
    openDocument->setShortcut(open.keys);
    m_window->addAction(openDocument);
    QObject::connect(openDocument, &QAction::triggered, m_window, call(open.action));
    bindMenuBar();
}

void GPSWindowController::bindMenuBar()
{
    if (!shellHooks().menuUpdator)
        return;
    const std::weak_ptr<GPSWindowController> weak = weak_from_this();
    if (QObject *updator = shellHooks().menuUpdator())
        m_menuBarBinding =
            new MenuBarBinding(updator, m_playbackMenuAction, m_optionsMenuAction, [weak] {
                const auto controller = weak.lock();
                const auto *pane = controller ? controller->mapPane() : nullptr;
                return pane && pane->isDrawing();
            });
}

void GPSWindowController::refreshMenuBar()
{
    if (m_menuBarBinding)
        m_menuBarBinding->refresh();
}

void GPSWindowController::showWindow()
{
    // Where the user leaves it, it comes back; the first time, where the
    // pointer is.
    if (!m_placed) {
        WindowPlacement::placeOnPointerScreen(*m_window);
        m_placed = true;
    }
    m_window->show();
    raise();
}

void GPSWindowController::setStaysOnTop(bool staysOnTop)
{
    if (m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == staysOnTop)
        return;
    const bool shown = m_window->isVisible();
    m_window->setWindowFlag(Qt::WindowStaysOnTopHint, staysOnTop);
    if (shown)
        m_window->show();
}

void GPSWindowController::raise()
{
    m_window->raise();
    m_window->activateWindow();
}

void GPSWindowController::focusContent()
{
    if (auto *pane = mapPane())
        pane->setFocus();
}

GPSSplitView *GPSWindowController::splitView() const
{
    return m_window ? m_window->findChild<GPSSplitView *>() : nullptr;
}

GPSViewController *GPSWindowController::mapPane() const
{
    auto *split = splitView();
    return split ? split->mapPane() : nullptr;
}

GPSPlaybackOptionsViewController *GPSWindowController::optionsPane() const
{
    auto *split = splitView();
    return split ? qobject_cast<GPSPlaybackOptionsViewController *>(split->sidebar()) : nullptr;
}

void GPSWindowController::windowWillClose()
{
    if (sharedController().get() == this)
        sharedController().reset();
}

// Actions.

void GPSWindowController::openGPS()
{
    m_routeOpener->runOpenPanel();
}

void GPSWindowController::openRunPreset()
{
    m_routeOpener->openSample(RouteOpener::runSample);
}

void GPSWindowController::openBikePreset()
{
    m_routeOpener->openSample(RouteOpener::bikeSample);
}

void GPSWindowController::openDrivePreset()
{
    m_routeOpener->openSample(RouteOpener::driveSample);
}

void GPSWindowController::toggleMap()
{
    if (auto *pane = mapPane())
        pane->toggleMapStyle();
}

void GPSWindowController::togglePlaybackOptions()
{
    auto *split = splitView();
    if (!split)
        return;
    g_sidebarIsHidden = !g_sidebarIsHidden;
    if (shellHooks().sidebarDidChange)
        shellHooks().sidebarDidChange(g_sidebarIsHidden);
    split->setSidebarCollapsed(g_sidebarIsHidden);
}

void GPSWindowController::restart()
{
    LocationSimulator &engine = this->engine();
    const auto state = engine.playbackState();
    engine.setPlaybackState(LocationSimulator::PlaybackStatus::stopped);
    if (engine.locations().empty())
        return;
    engine.setCurrentIndex(0);
    engine.setPlaybackState(state);
}

void GPSWindowController::gotoLocationPreset(const ObjectPtr &sender)
{
    m_goToActions->gotoLocationPreset(sender);
}

void GPSWindowController::gotoManualCoordinate()
{
    m_goToActions->gotoManualCoordinate();
}

void GPSWindowController::gotoCurrentLocation()
{
    m_goToActions->gotoCurrentLocation();
}

void GPSWindowController::togglePlayback()
{
    LocationSimulator &engine = this->engine();
    if (engine.playbackEnabled())
        engine.setPlaybackState(engine.playbackState() == LocationSimulator::PlaybackStatus::playing
                                    ? LocationSimulator::PlaybackStatus::stopped
                                    : LocationSimulator::PlaybackStatus::playing);
    if (shellHooks().recordToggle)
        shellHooks().recordToggle(QString::fromLatin1(toggleCommandTitle), m_environment.engine);
}

void GPSWindowController::clearLocations()
{
    LocationSimulator &engine = this->engine();
    // An empty route cannot be paused any more, so playback stops first.
    if (engine.playbackState() == LocationSimulator::PlaybackStatus::playing)
        engine.setPlaybackState(LocationSimulator::PlaybackStatus::stopped);
    if (!engine.locations().empty())
        engine.setCurrentIndex(std::nullopt);
    engine.setLocations({});
}

void GPSWindowController::startDraw(std::optional<DrawMode> mode)
{
    if (auto *pane = mapPane())
        pane->beginDraw(mode.value_or(DrawMode::bike));
}

void GPSWindowController::managePresets()
{
    SettingsOpener::showPane(QStringLiteral("locations"));
}

void GPSWindowController::zoomDefault()
{
    if (auto *pane = mapPane())
        pane->zoomToRoute();
}

void GPSWindowController::zoomOut()
{
    if (auto *pane = mapPane())
        pane->zoomOut();
}

void GPSWindowController::zoomIn()
{
    if (auto *pane = mapPane())
        pane->zoomIn();
}

bool GPSWindowController::keyDown(const QKeyEvent &event)
{
    auto *pane = mapPane();
    return arrow(event.key()) && pane && !pane->isDrawing();
}

bool GPSWindowController::keyUp(const QKeyEvent &event)
{
    auto *pane = mapPane();
    const auto direction = arrow(event.key());
    if (!direction || !pane || pane->isDrawing())
        return false;
    // A held key repeats its press; the map moves once, when it is let go.
    if (!event.isAutoRepeat())
        pane->pan(*direction);
    return true;
}

} // namespace corvane

#include "GPSWindowController.moc"
