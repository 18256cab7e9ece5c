#pragma once

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QStringList>
#include <QWidgetAction>

#include <algorithm>

namespace corvane::test {

// What an open menu paints that none of its visible rows accounts for: the
// widget of a row that is gone, or of a hidden row, left where it was.
inline QStringList strayWidgets(QMenu *menu)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QStringList stray;
    const auto widgets = menu->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    const auto rows = menu->actions();
    const auto isWidgetRow = [](QAction *action) {
        return qobject_cast<QWidgetAction *>(action) != nullptr;
    };
    const auto widgetRows = std::count_if(rows.begin(), rows.end(), isWidgetRow);
    const auto shownRows = std::count_if(rows.begin(), rows.end(), [&](QAction *action) {
        return isWidgetRow(action) && action->isVisible();
    });
    const auto shownWidgets = std::count_if(widgets.begin(), widgets.end(),
                                            [](QWidget *widget) { return !widget->isHidden(); });
    if (widgets.size() != widgetRows)
        stray << QString("%1 widgets for %2 widget rows").arg(widgets.size()).arg(widgetRows);
    if (shownWidgets != shownRows)
        stray << QString("%1 widgets shown for %2 rows").arg(shownWidgets).arg(shownRows);
    for (QWidget *widget : widgets) {
        const bool onARow = std::any_of(rows.begin(), rows.end(), [&](QAction *action) {
            return action->isVisible() && menu->actionGeometry(action) == widget->geometry();
        });
        if (!widget->isHidden() && !onARow)
            stray << QString("a widget at y %1").arg(widget->y());
    }
    return stray;
}

} // namespace corvane::test
