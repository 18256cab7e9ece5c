#include "location/GPSWindow.h"

#include "location/GPSWindowController.h"

#include <QCloseEvent>
#include <QKeyEvent>

namespace corvane {

GPSWindow::GPSWindow(std::weak_ptr<GPSWindowController> controller)
    : m_controller(std::move(controller))
{
    setObjectName(QStringLiteral("GPSWindow"));
}

void GPSWindow::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    m_closing = true;
    if (auto controller = m_controller.lock())
        controller->windowWillClose();
    m_closing = false;
}

void GPSWindow::keyPressEvent(QKeyEvent *event)
{
    const auto controller = m_controller.lock();
    if (controller && controller->keyDown(*event))
        return;
    QMainWindow::keyPressEvent(event);
}

void GPSWindow::keyReleaseEvent(QKeyEvent *event)
{
    const auto controller = m_controller.lock();
    if (controller && controller->keyUp(*event))
        return;
    QMainWindow::keyReleaseEvent(event);
}

} // namespace corvane
