#pragma once

#include "core/Observer.h"

#include <QObject>
#include <QString>

namespace corvane {

// What the main menu's playback and options items show while the GPS window
// is in front: the playback item's title and enabled state follow the
// location playback engine, the options item's title the window's sidebar.
// Main thread only; each property announces its changes.
class MainMenuUpdator : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool playbackMenuItemEnabled READ playbackMenuItemEnabled WRITE
                   setPlaybackMenuItemEnabled NOTIFY playbackMenuItemEnabledChanged)
    Q_PROPERTY(QString playbackMenuItemTitle READ playbackMenuItemTitle WRITE
                   setPlaybackMenuItemTitle NOTIFY playbackMenuItemTitleChanged)
    Q_PROPERTY(QString optionsMenuItemTitle READ optionsMenuItemTitle WRITE setOptionsMenuItemTitle
                   NOTIFY optionsMenuItemTitleChanged)

public:
    explicit MainMenuUpdator(QObject *parent = nullptr);
    ~MainMenuUpdator() override;

    bool playbackMenuItemEnabled() const { return m_playbackMenuItemEnabled; }
    void setPlaybackMenuItemEnabled(bool enabled);
    QString playbackMenuItemTitle() const { return m_playbackMenuItemTitle; }
    void setPlaybackMenuItemTitle(const QString &title);
    QString optionsMenuItemTitle() const { return m_optionsMenuItemTitle; }
    void setOptionsMenuItemTitle(const QString &title);

    // Set by the GPS window when it shows or hides its sidebar, which then
    // calls updateOptionsMenuItemTitle.
    bool sidebarIsHidden() const { return m_sidebarIsHidden; }
    void setSidebarIsHidden(bool hidden) { m_sidebarIsHidden = hidden; }
    void updateOptionsMenuItemTitle();

signals:
    void playbackMenuItemEnabledChanged(bool enabled);
    void playbackMenuItemTitleChanged(const QString &title);
    void optionsMenuItemTitleChanged(const QString &title);

private:
    ObserverCollection m_observers;
    bool m_playbackMenuItemEnabled = false;
    QString m_playbackMenuItemTitle;
    QString m_optionsMenuItemTitle;
    bool m_sidebarIsHidden = false;
};

} // namespace corvane
