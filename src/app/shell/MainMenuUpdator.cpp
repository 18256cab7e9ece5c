#include "app/shell/MainMenuUpdator.h"

#include "location/LocationSimulator.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"

#include <QPointer>

namespace corvane {

MainMenuUpdator::MainMenuUpdator(QObject *parent)
    : QObject(parent), m_playbackMenuItemEnabled(LocationSimulator::shared()->playbackEnabled()),
      m_playbackMenuItemTitle(
          LocationSimulator::title(LocationSimulator::shared()->playbackState())),
      m_optionsMenuItemTitle(loc("Hide Options", "GPS_HIDE_OPTIONS_ITEM_TITLE"))
{
    const QPointer<MainMenuUpdator> weak(this);
    // A route the engine already holds (one restored at launch) counts from
    // the start, not from its next change.
    m_observers.append(observeNotification(
        LocationSimulator::locationsChange, DispatchQueue::main(),
        [weak](const Notification &, const ObjectPtr &) {
            if (weak)
                weak->setPlaybackMenuItemEnabled(LocationSimulator::shared()->playbackEnabled());
        }));
    m_observers.append(
        observeNotification(LocationSimulator::statusChanged, DispatchQueue::main(),
                            [weak](const Notification &, const ObjectPtr &) {
                                if (weak)
                                    weak->setPlaybackMenuItemTitle(LocationSimulator::title(
                                        LocationSimulator::shared()->playbackState()));
                            }));
}

MainMenuUpdator::~MainMenuUpdator() = default;

void MainMenuUpdator::setPlaybackMenuItemEnabled(bool enabled)
{
    if (m_playbackMenuItemEnabled == enabled)
        return;
    m_playbackMenuItemEnabled = enabled;
    emit playbackMenuItemEnabledChanged(enabled);
}

void MainMenuUpdator::setPlaybackMenuItemTitle(const QString &title)
{
    if (m_playbackMenuItemTitle == title)
        return;
    m_playbackMenuItemTitle = title;
    emit playbackMenuItemTitleChanged(title);
}

void MainMenuUpdator::setOptionsMenuItemTitle(const QString &title)
{
    if (m_optionsMenuItemTitle == title)
        return;
    m_optionsMenuItemTitle = title;
    emit optionsMenuItemTitleChanged(title);
}

void MainMenuUpdator::updateOptionsMenuItemTitle()
{
    setOptionsMenuItemTitle(m_sidebarIsHidden ? loc("Show Options", "GPS_SHOW_OPTIONS_ITEM_TITLE")
                                              : loc("Hide Options", "GPS_HIDE_OPTIONS_ITEM_TITLE"));
}

} // namespace corvane
