#include "platform/WindowPlacement.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace corvane::WindowPlacement {

QRect centredWithin(const QRect &available, const QSize &frameSize)
{
    const QSize size(std::min(frameSize.width(), available.width()),
                     std::min(frameSize.height(), available.height()));
    QRect frame(QPoint(), size);
    frame.moveCenter(available.center());
    return frame;
}

QRect pointerScreenArea()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return {};
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace corvane::WindowPlacement
