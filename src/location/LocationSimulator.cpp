#include "location/LocationSimulator.h"

#include "core/Observer.h"
#include "platform/Loc.h"

namespace corvane {

std::shared_ptr<LocationSimulator> LocationSimulator::shared()
{
    static const std::shared_ptr<LocationSimulator> simulator(new LocationSimulator);
    return simulator;
}

LocationSimulator::PlaybackState LocationSimulator::playbackState() const
{
    std::lock_guard lock(m_mutex);
    return m_playbackState;
}

void LocationSimulator::setPlaybackState(PlaybackState state)
{
    {
        std::lock_guard lock(m_mutex);
        m_playbackState = state;
    }
    postNotification(statusChanged, shared_from_this());
}

QString LocationSimulator::title(PlaybackState state)
{
    return state == PlaybackState::playing ? loc("Pause", "GPS_PAUSE_ITEM_TITLE")
                                           : loc("Play", "GPS_PLAY_ITEM_TITLE");
}

} // namespace corvane
