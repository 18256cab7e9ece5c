#include "tasks/ClosableWindow.h"

#include "platform/desktop/WindowPlacement.h"

#include <QCloseEvent>

namespace corvane {

void ClosableWindow::dispose(ClosableWindow *window)
{
    if (!window)
        return;
    window->m_closeHandler = nullptr;
    if (window->m_closing)
        window->deleteLater();
    else
        delete window;
}

void ClosableWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    m_closing = true;
    // A copy: the handler may dispose of this window and so reset its own.
    if (const auto handler = m_closeHandler)
        handler();
    m_closing = false;
}

void ClosableWindowController::showWindow()
{
    if (!m_placed) {
        WindowPlacement::placeOnPointerScreen(*m_window);
        m_placed = true;
    }
    m_window->show();
    raise();
}

void ClosableWindowController::setStaysOnTop(bool staysOnTop)
{
    if (m_window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == staysOnTop)
        return;
    // Changing a window's flags hides it; show it again as it was.
    const bool shown = m_window->isVisible();
    m_window->setWindowFlag(Qt::WindowStaysOnTopHint, staysOnTop);
    if (shown)
        m_window->show();
}

void ClosableWindowController::raise()
{
    m_window->raise();
    m_window->activateWindow();
}

void ClosableWindowController::focusContent()
{
    m_window->setFocus();
}

} // namespace corvane
