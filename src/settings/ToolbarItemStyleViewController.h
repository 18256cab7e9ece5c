#pragma once

#include "settings/SettingsStyleController.h"

#include <QList>
#include <QObject>

class QActionGroup;
class QToolBar;

namespace corvane {

class SettingsPane;

// One checkable toolbar item per pane, icon over title, only one checked.
class ToolbarItemStyleViewController : public QObject, public SettingsStyleController {
    Q_OBJECT
public:
    ToolbarItemStyleViewController(QToolBar *toolbar, QList<SettingsPane *> panes,
                                   QObject *parent = nullptr);

    bool keepsWindowCentered() const override { return false; }
    QStringList toolbarItemIdentifiers() const override;
    QAction *toolbarItem(const QString &identifier) override;
    void selectTab(int index) override;

    // The user chose `item`: its pane, or the first when none has its
    // identifier.
    void toolbarItemSelected(QAction *item);

private:
    QToolBar *m_toolbar;
    QList<SettingsPane *> m_panes;
    QActionGroup *m_group;
};

} // namespace corvane
