#include "platform/desktop/WindowPlacement.h"

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

SubmenuSpot besideParent(const QRect &parent, int top, const QSize &size, int overlap,
                         const QRect &available, bool leftward)
{
    const int rightX = parent.right() + 1 - overlap;
    const int leftX = parent.left() + overlap - size.width();
    const int roomRight = available.right() + 1 - rightX;
    const int roomLeft = parent.left() + overlap - available.left();
    const bool fitsRight = roomRight >= size.width();
    const bool fitsLeft = roomLeft >= size.width();
    bool left = leftward;
    if (left ? !fitsLeft : !fitsRight)
        left = (left ? fitsRight : fitsLeft) ? !left : roomLeft > roomRight;
    int x = left ? leftX : rightX;
    x = std::max(std::min(x, available.right() + 1 - size.width()), available.left());
    int y = std::min(top, available.bottom() + 1 - size.height());
    y = std::max(y, available.top());
    return {QPoint(x, y), left};
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
