#pragma once

#include "platform/Object.h"

#include <QString>

#include <memory>
#include <mutex>

namespace corvane {

// The shared location playback engine, as far as the status menu and the
// shell use it: its playback state and the notification of each set.
class LocationSimulator : public Object {
public:
    enum class PlaybackState { stopped, playing };

    static constexpr const char *statusChanged = "com.quendrith.corvane.locations.statuschanged";
    static constexpr const char *locationsChange =
        "com.quendrith.corvane.locations.locationschange";

    static std::shared_ptr<LocationSimulator> shared();

    PlaybackState playbackState() const;
    // Posts statusChanged on every set, also when the state stays the same.
    void setPlaybackState(PlaybackState state);

    // "Pause" while playing, "Play" while stopped.
    static QString title(PlaybackState state);

private:
    LocationSimulator() = default;

    mutable std::mutex m_mutex;
    PlaybackState m_playbackState = PlaybackState::stopped;
};

} // namespace corvane
