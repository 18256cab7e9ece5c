// The GPS window's toolbar: its items, their menus and their validation.

#include "location/GPSViewController.h"
#include "location/GPSWindow.h"
#include "location/GPSWindowController.h"
#include "location/GoToActions.h"
#include "location/LocationGoMenu.h"
#include "location/LocationSimulator.h"
#include "platform/menus/ContextMenuPresenter.h"
#include "platform/Loc.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace corvane {

namespace {

QIcon symbolIcon(const QString &name)
{
    const QString path = QStringLiteral(":/symbols/%1.svg").arg(name);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

} // namespace

QAction *GPSWindowController::item(const QString &identifier)
{
    auto found = m_items.find(identifier);
    if (found != m_items.end() && found->second)
        return found->second;
    QAction *action = makeItem(identifier);
    if (action) {
        m_items[identifier] = action;
        // An item made after the last validation starts out right too.
        revalidate();
    }
    return action;
}

QAction *GPSWindowController::makeButtonItem(const QString &identifier, const char *label,
                                             const char *labelComment, const char *paletteLabel,
                                             const char *paletteComment, const char *tip,
                                             const char *tipComment, const QString &symbol,
                                             bool highPriority)
{
    auto *action = new QAction(loc(label, labelComment), m_window);
    action->setObjectName(identifier);
    action->setProperty("paletteLabel", loc(paletteLabel, paletteComment));
    action->setToolTip(loc(tip, tipComment));
    action->setIcon(symbolIcon(symbol));
    action->setPriority(highPriority ? QAction::HighPriority : QAction::LowPriority);
    return action;
}

QAction *GPSWindowController::makeItem(const QString &identifier)
{
    const std::weak_ptr<GPSWindowController> weak = weak_from_this();
    const auto bind = [&](QAction *action, auto member) {
        QObject::connect(action, &QAction::triggered, m_window, [weak, member] {
            if (auto controller = weak.lock())
                member(*controller);
        });
        return action;
    };
    const auto id = identifier.toLatin1();
    if (id == toggleItem)
        return bind(makeButtonItem(identifier, "Style", "GPS_STYLE_ITEM_TITLE", "Toggle Map Style",
                                   "GPS_STYLE_ITEM_LABEL", "Toggle Map Style", "GPS_STYLE_ITEM_TIP",
                                   "map", false),
                    [](GPSWindowController &c) { c.toggleMap(); });
    if (id == loadItem) {
        QAction *action = bind(makeButtonItem(identifier, "Open", "GPS_OPEN_ITEM_TITLE", "Open",
                                              "GPS_OPEN_ITEM_LABEL", "Open a Route",
                                              "GPS_OPEN_ITEM_TIP", "doc", true),
                               [](GPSWindowController &c) { c.openGPS(); });
        attachMenu(action, openMenu());
        return action;
    }
    if (id == drawItem) {
        QAction *action = bind(makeButtonItem(identifier, "Draw", "GPS_DRAW_ITEM_TITLE",
                                              "Draw a Route", "GPS_DRAW_ITEM_LABEL", "Draw a Route",
                                              "GPS_DRAW_ITEM_TIP", "scribble.variable", true),
                               [](GPSWindowController &c) { c.startDraw(std::nullopt); });
        attachMenu(action, drawMenu());
        return action;
    }
    if (id == playItem) {
        return bind(makeButtonItem(identifier, "Play", "GPS_PLAY_ITEM_TITLE", "Start GPS Playback",
                                   "GPS_PLAY_ITEM_LABEL", "Start GPS Playback", "GPS_PLAY_ITEM_TIP",
                                   "play", true),
                    [](GPSWindowController &c) { c.togglePlayback(); });
    }
    if (id == pauseItem) {
        return bind(makeButtonItem(identifier, "Pause", "GPS_PAUSE_ITEM_TITLE",
                                   "Pause GPS Playback", "GPS_PAUSE_ITEM_LABEL",
                                   "Pause GPS Playback", "GPS_PAUSE_ITEM_TIP", "playpause.fill",
                                   true),
                    [](GPSWindowController &c) { c.togglePlayback(); });
    }
    if (id == restartItem)
        return bind(makeButtonItem(identifier, "Rewind", "GPS_REWIND_ITEM_TITLE",
                                   "Rewind GPS Playback", "GPS_REWIND_ITEM_LABEL",
                                   "Rewind GPS Playback", "GPS_REWIND_ITEM_TIP", "backward.end.alt",
                                   false),
                    [](GPSWindowController &c) { c.restart(); });
    if (id == clearItem)
        return bind(makeButtonItem(identifier, "Clear", "GPS_CLEAR_ITEM_TITLE",
                                   "Remove All Locations", "GPS_CLEAR_ITEM_LABEL",
                                   "Remove All Locations", "GPS_CLEAR_ITEM_TIP", "trash", false),
                    [](GPSWindowController &c) { c.clearLocations(); });
    if (id == optionsItem)
        return bind(makeButtonItem(identifier, "Options", "GPS_OPTIONS_ITEM_TITLE",
                                   "GPS Playback Options", "GPS_OPTIONS_ITEM_LABEL",
                                   "GPS Playback Options", "GPS_OPTIONS_ITEM_TIP", "sidebar.right",
                                   false),
                    [](GPSWindowController &c) { c.togglePlaybackOptions(); });
    if (id == goItem) {
        QAction *action =
            bind(makeButtonItem(identifier, "Go", "GPS_GO_ITEM_TITLE", "Go To a Location",
                                "GPS_GO_ITEM_LABEL", "Go To a Location", "GPS_GO_ITEM_TIP",
                                "location", true),
                 [](GPSWindowController &c) { c.gotoCurrentLocation(); });
        // Where no renderer draws the model, the button keeps its fallback.
        if (auto presenter = ContextMenuPresenter::shared())
            attachMenu(action, presenter->attachedMenu(goMenu(), m_window));
        return action;
    }
    return nullptr;
}

void GPSWindowController::attachMenu(QAction *item, QMenu *menu)
{
    if (menu)
        item->setMenu(menu);
}

QMenu *GPSWindowController::openMenu()
{
    if (m_openMenu)
        return m_openMenu;
    const std::weak_ptr<GPSWindowController> weak = weak_from_this();
    m_openMenu = new QMenu(m_window);
    const auto add = [&](const QString &title, const QString &symbol,
                         void (GPSWindowController::*action)()) {
        QAction *entry = m_openMenu->addAction(symbolIcon(symbol), title);
        QObject::connect(entry, &QAction::triggered, m_openMenu, [weak, action] {
            if (auto controller = weak.lock())
                ((*controller).*action)();
        });
    };
    add(loc("Open GPX File", "GPS_OPEN_GPX_ITEM_TITLE"), "doc", &GPSWindowController::openGPS);
    m_openMenu->addSeparator();
    add(loc("City Run", "GPS_OPEN_CITYRUN_ITEM_TITLE"), "figure.walk",
        &GPSWindowController::openRunPreset);
    add(loc("City Bicycle Ride", "GPS_OPEN_CITYBIKE_ITEM_TITLE"), "bicycle",
        &GPSWindowController::openBikePreset);
    add(loc("Freeway Drive", "GPS_OPEN_DRIVE_ITEM_TITLE"), "car.fill",
        &GPSWindowController::openDrivePreset);
    return m_openMenu;
}

QMenu *GPSWindowController::drawMenu()
{
    if (m_drawMenu)
        return m_drawMenu;
    const std::weak_ptr<GPSWindowController> weak = weak_from_this();
    m_drawMenu = new QMenu(loc("Speed", "GPS_DRAW_MENU_TITLE"), m_window);
    for (DrawMode mode : allDrawModes()) {
        QAction *entry =
            m_drawMenu->addAction(symbolIcon(drawModeSymbol(mode)), drawModeTitle(mode));
        entry->setData(int(mode));
        QObject::connect(entry, &QAction::triggered, m_drawMenu, [weak, mode] {
            if (auto controller = weak.lock())
                controller->startDraw(mode);
        });
    }
    return m_drawMenu;
}

MenuPtr GPSWindowController::goMenu()
{
    if (!m_goMenu)
        m_goMenu = LocationGoMenu::make(QString(), m_goToActions);
    return m_goMenu;
}

QStringList GPSWindowController::toolbarItemIdentifiers() const
{
    QStringList identifiers;
    if (m_toolbar)
        for (QAction *action : m_toolbar->actions())
            identifiers.append(action->objectName());
    return identifiers;
}

void GPSWindowController::revalidate()
{
    auto *pane = mapPane();
    const bool drawing = pane && pane->isDrawing();
    const LocationSimulator &engine = this->engine();
    for (const auto &[identifier, action] : m_items) {
        if (!action)
            continue;
        bool enabled = true;
        if (drawing)
            enabled = false;
        else if (identifier == QLatin1String(clearItem))
            enabled = !engine.locations().empty();
        else if (identifier == QLatin1String(playItem) || identifier == QLatin1String(pauseItem) ||
                 identifier == QLatin1String(restartItem))
            enabled = engine.playbackEnabled();
        action->setEnabled(enabled);
    }
    refreshMenuBar();
}

void GPSWindowController::swapPlayPause()
{
    if (engine().playbackState() == LocationSimulator::PlaybackStatus::stopped)
        replaceItem(pauseItem, playItem);
    else
        replaceItem(playItem, pauseItem);
}

void GPSWindowController::replaceItem(const QString &from, const QString &to)
{
    if (!m_toolbar)
        return;
    const QList<QAction *> actions = m_toolbar->actions();
    const auto isFrom = [&](QAction *action) { return action->objectName() == from; };
    const auto at = std::find_if(actions.begin(), actions.end(), isFrom);
    if (at == actions.end())
        return;
    QAction *next = std::next(at) == actions.end() ? nullptr : *std::next(at);
    m_toolbar->removeAction(*at);
    if (toolbarItemIdentifiers().contains(to))
        return;
    m_toolbar->insertAction(next, item(to));
    keepPlaybackButtonWidth();
}

void GPSWindowController::keepPlaybackButtonWidth()
{
    if (!m_toolbar)
        return;
    // Play and Pause take the wider one's width, so that swapping them
    // moves nothing beside them.
    if (m_playbackButtonWidth == 0) {
        m_playbackButtonWidth = playbackButtonMinimumSize.width();
        for (const char *identifier : {playItem, pauseItem}) {
            QToolButton probe(m_toolbar);
            probe.setToolButtonStyle(m_toolbar->toolButtonStyle());
            probe.setIconSize(m_toolbar->iconSize());
            probe.setDefaultAction(item(identifier));
            m_playbackButtonWidth = std::max(m_playbackButtonWidth, probe.sizeHint().width());
        }
    }
    for (const char *identifier : {playItem, pauseItem})
        if (QWidget *button = m_toolbar->widgetForAction(item(identifier)))
            button->setMinimumSize(m_playbackButtonWidth, playbackButtonMinimumSize.height());
}

} // namespace corvane
