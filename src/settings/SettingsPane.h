#pragma once

#include "settings/Settings.h"

#include <QIcon>
#include <QWidget>

namespace corvane {

// One page of the settings window: a widget with the identifier, title and
// icon the window shows it by. The window takes ownership of its panes.
class SettingsPane : public QWidget {
    Q_OBJECT
public:
    SettingsPane(Settings::PaneIdentifier identifier, QString title, QIcon icon,
                 QWidget *parent = nullptr);

    const Settings::PaneIdentifier &paneIdentifier() const { return m_identifier; }
    const QString &paneTitle() const { return m_title; }
    const QIcon &toolbarItemIcon() const { return m_icon; }

    // Called each time the pane is about to be shown (it becomes the window's
    // pane, or the window opens on it), before the window takes its size:
    // the place to refresh what the pane shows.
    virtual void willAppear() {}

private:
    Settings::PaneIdentifier m_identifier;
    QString m_title;
    QIcon m_icon;
};

// Something that can make a settings pane of itself.
class SettingsPaneConvertible {
public:
    virtual ~SettingsPaneConvertible() = default;
    // A new pane, owned by the caller.
    virtual SettingsPane *asSettingsPane() const = 0;
};

} // namespace corvane
