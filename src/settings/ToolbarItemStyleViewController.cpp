#include "settings/ToolbarItemStyleViewController.h"

#include "settings/SettingsPane.h"

#include <QAction>
#include <QActionGroup>
#include <QToolBar>

namespace corvane {

ToolbarItemStyleViewController::ToolbarItemStyleViewController(QToolBar *toolbar,
                                                               QList<SettingsPane *> panes,
                                                               QObject *parent)
    : QObject(parent), m_toolbar(toolbar), m_panes(std::move(panes)),
      m_group(new QActionGroup(this))
{
    m_group->setExclusive(true);
}

QStringList ToolbarItemStyleViewController::toolbarItemIdentifiers() const
{
    QStringList identifiers;
    for (const SettingsPane *pane : m_panes)
        identifiers << pane->paneIdentifier().rawValue;
    return identifiers;
}

QAction *ToolbarItemStyleViewController::toolbarItem(const QString &identifier)
{
    for (const SettingsPane *pane : std::as_const(m_panes)) {
        if (pane->paneIdentifier().rawValue != identifier)
            continue;
        auto *item = new QAction(pane->toolbarItemIcon(), pane->paneTitle(), m_group);
        item->setObjectName(identifier);
        item->setCheckable(true);
        connect(item, &QAction::triggered, this, [this, item] { toolbarItemSelected(item); });
        return item;
    }
    return nullptr;
}

void ToolbarItemStyleViewController::selectTab(int index)
{
    if (index < 0 || index >= m_panes.size())
        return;
    const QString identifier = m_panes[index]->paneIdentifier().rawValue;
    for (QAction *item : m_toolbar->actions()) {
        if (item->objectName() == identifier) {
            item->setChecked(true);
            return;
        }
    }
}

void ToolbarItemStyleViewController::toolbarItemSelected(QAction *item)
{
    int index = 0;
    for (int i = 0; i < m_panes.size(); ++i) {
        if (m_panes[i]->paneIdentifier().rawValue == item->objectName()) {
            index = i;
            break;
        }
    }
    activate(index);
}

} // namespace corvane
