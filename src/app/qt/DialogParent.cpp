#include "app/qt/DialogParent.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace corvane {

namespace {

bool canOwnDialogs(const QWidget *widget)
{
    return widget && widget->isVisible() &&
           (widget->windowType() == Qt::Window || widget->windowType() == Qt::Dialog);
}

} // namespace

QWidget *dialogParent(QWindow *window)
{
    if (window) {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (widget->windowHandle() == window && canOwnDialogs(widget))
                return widget;
    }
    QWidget *active = QApplication::activeWindow();
    return canOwnDialogs(active) ? active : nullptr;
}

} // namespace corvane
