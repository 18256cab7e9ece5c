#include "settings/SettingsWindowController.h"

#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/WindowPlacement.h"
#include "settings/SettingsPane.h"
#include "settings/SettingsTabViewController.h"
#include "settings/UserInteractionPausableWindow.h"

#include <QGuiApplication>
#include <QToolBar>

namespace corvane {

namespace {

QList<SettingsPane *> convert(const std::vector<const SettingsPaneConvertible *> &convertibles)
{
    QList<SettingsPane *> panes;
    for (const SettingsPaneConvertible *convertible : convertibles)
        panes << convertible->asSettingsPane();
    return panes;
}

} // namespace

SettingsWindowController::SettingsWindowController(const QList<SettingsPane *> &panes,
                                                   Settings::Style style, bool animated,
                                                   bool hidesToolbarForSingleItem)
    : m_tabViewController(new SettingsTabViewController),
      m_window(std::make_unique<UserInteractionPausableWindow>()),
      m_hidesToolbarForSingleItem(hidesToolbarForSingleItem)
{
    // Titled and closable: no minimizing, and the size follows the pane.
    m_window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint);
    m_window->setCentralWidget(m_tabViewController);
    m_tabViewController->setAnimated(animated);
    m_tabViewController->configure(panes, style);
    setHidesToolbarForSingleItem(hidesToolbarForSingleItem);

    m_window->installEventFilter(this);
    connect(m_tabViewController, &SettingsTabViewController::windowFrameSettled, this,
            &SettingsWindowController::saveFrame);
}

SettingsWindowController::SettingsWindowController(
    const std::vector<const SettingsPaneConvertible *> &panes, Settings::Style style, bool animated,
    bool hidesToolbarForSingleItem)
    : SettingsWindowController(convert(panes), style, animated, hidesToolbarForSingleItem)
{
}

SettingsWindowController::~SettingsWindowController()
{
    m_window->removeEventFilter(this);
    m_tabViewController->disconnect(this);
}

void SettingsWindowController::setHidesToolbarForSingleItem(bool hides)
{
    m_hidesToolbarForSingleItem = hides;
    const bool shown = !hides || m_tabViewController->panes().size() > 1;
    QToolBar *toolbar = m_tabViewController->toolbar();
    if (toolbar->isVisibleTo(m_window.get()) == shown)
        return;
    toolbar->setVisible(shown);
    // The pane keeps its size; the window takes the toolbar's height or gives it up.
    m_tabViewController->resizeWindowToActivePane();
}

bool SettingsWindowController::isAnimated() const
{
    return m_tabViewController->isAnimated();
}

void SettingsWindowController::setAnimated(bool animated)
{
    m_tabViewController->setAnimated(animated);
}

void SettingsWindowController::showPane(const std::optional<Settings::PaneIdentifier> &identifier)
{
    const QList<SettingsPane *> &panes = m_tabViewController->panes();
    if (panes.isEmpty())
        return;
    const bool wasVisible = m_window->isVisible();
    const std::optional<int> before = m_tabViewController->activeTab();
    if (identifier) {
        int index = 0;
        for (int i = 0; i < panes.size(); ++i) {
            if (panes[i]->paneIdentifier() == *identifier) {
                index = i;
                break;
            }
        }
        m_tabViewController->activateTab(index, false);
    } else if (!before) {
        m_tabViewController->activateTab(0, false);
    }
    // A window opening again on the pane it showed still refreshes that pane.
    if (!wasVisible && before && before == m_tabViewController->activeTab())
        m_tabViewController->reappear();

    // Shown again, it stays where it was closed, which is what is stored.
    if (!m_autosaves)
        placeWindow();
    m_window->show();
    raise();
}

void SettingsWindowController::setStaysOnTop(bool staysOnTop)
{
    if (m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == staysOnTop)
        return;
    // Changing the flags hides the window.
    const bool visible = m_window->isVisible();
    m_window->setWindowFlag(Qt::WindowStaysOnTopHint, staysOnTop);
    if (visible)
        m_window->show();
}

void SettingsWindowController::raise()
{
    m_window->raise();
    m_window->activateWindow();
}

void SettingsWindowController::focusContent()
{
    m_tabViewController->setFocus(Qt::OtherFocusReason);
}

bool SettingsWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window.get()) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Close: saveFrame(); break;
        default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void SettingsWindowController::placeWindow()
{
    // Only the place is restored: the size belongs to the pane shown. The
    // place is the frame's, as stored, so the title bar does not push the
    // window down at each start.
    if (const std::optional<QRect> stored = storedFrame())
        m_window->move(stored->topLeft());
    else
        WindowPlacement::placeOnPointerScreen(*m_window);
    m_autosaves = true;
    saveFrame();
}

void SettingsWindowController::saveFrame()
{
    if (!m_autosaves || m_tabViewController->isTransitioning())
        return;
    const QRect frame = m_window->frameGeometry();
    UserDefaults::standard()->set(Settings::frameAutosaveName, QStringLiteral("%1 %2 %3 %4")
                                                                   .arg(frame.x())
                                                                   .arg(frame.y())
                                                                   .arg(frame.width())
                                                                   .arg(frame.height()));
}

std::optional<QRect> SettingsWindowController::storedFrame() const
{
    const std::optional<QString> text =
        UserDefaults::standard()->string(Settings::frameAutosaveName);
    if (!text)
        return std::nullopt;
    const QStringList fields = text->split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() != 4)
        return std::nullopt;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = fields[i].toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    const QRect frame(values[0], values[1], values[2], values[3]);
    // A place on a screen that is gone would put the window out of reach.
    if (frame.width() <= 0 || frame.height() <= 0 || !QGuiApplication::screenAt(frame.topLeft()))
        return std::nullopt;
    return frame;
}

} // namespace corvane
