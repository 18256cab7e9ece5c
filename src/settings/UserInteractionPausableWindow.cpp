#include "settings/UserInteractionPausableWindow.h"

#include <QWindow>

namespace corvane {

UserInteractionPausableWindow::UserInteractionPausableWindow(QWidget *parent) : QMainWindow(parent)
{
}

bool UserInteractionPausableWindow::isPausedEventType(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
    case QEvent::GestureOverride:
    case QEvent::ContextMenu: return true;
    default: return false;
    }
}

bool UserInteractionPausableWindow::event(QEvent *event)
{
    // Qt makes a new window handle when the window's flags change, so watch
    // whichever handle the window has each time it is shown.
    if (event->type() == QEvent::Show || event->type() == QEvent::WinIdChange)
        watchWindowHandle();
    return QMainWindow::event(event);
}

bool UserInteractionPausableWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Input reaches the window handle first, and from there whichever child
    // is under the pointer or has the focus: drop it here.
    if (!m_userInteractionEnabled && watched == windowHandle() && isPausedEventType(event->type()))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void UserInteractionPausableWindow::watchWindowHandle()
{
    if (QWindow *handle = windowHandle())
        handle->installEventFilter(this);
}

} // namespace corvane
