#pragma once

#include "core/Location.h"
#include "core/Observable.h"
#include "core/Observer.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Object.h"

#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

class CorvaneSettings;
class LastLocationsStore;
class StepScheduler;

// The one location playback engine. It holds the loaded route and the point
// shown, sends every change of that point to the devices of the current Xcode
// and, while playing, advances one point per step after a delay worked out
// from the route's timestamps (pace realtime) or five seconds (pace fixed),
// divided by the speed factor. Sent timestamps may be rewritten to today's
// date and the present time; the route itself keeps its own.
//
// The engine's state belongs to the main thread: call its operations and
// setters there. playbackState() may be read from any thread. Construction may
// happen on any thread; it stores nothing back and sends nothing.
class LocationSimulator : public Object {
public:
    enum class PlaybackStatus { stopped, playing };
    enum class PaceOptions { realtime, fixed };
    enum class SpeedOptions { sl05, normal, ff2, ff5, ff10, ff50, ff100 };
    enum class TimestampDateModeOptions { today, original };
    enum class TimestampTimeModeOptions { now, original };

    // The raw values are the texts the settings store keeps.
    static QString rawValue(PlaybackStatus status);
    static QString rawValue(PaceOptions pace);
    static QString rawValue(SpeedOptions speed);
    static QString rawValue(TimestampDateModeOptions mode);
    static QString rawValue(TimestampTimeModeOptions mode);
    // Every case in order, which is also the order the choices are offered in.
    template <class E> static const std::vector<E> &allCases();
    template <class E> static std::optional<E> fromRawValue(const QString &raw)
    {
        for (E value : allCases<E>())
            if (rawValue(value) == raw)
                return value;
        return std::nullopt;
    }

    // The divisor of every delay, one per speed in case order.
    static constexpr std::array<double, 7> speedFactors{0.5, 1.0, 2.0, 5.0, 10.0, 50.0, 100.0};
    static double factor(SpeedOptions speed) { return speedFactors[size_t(speed)]; }

    // The title of the play/pause control: "Pause" while playing, else "Play".
    static QString title(PlaybackStatus status);

    // Posted on the default center with the engine as object.
    static constexpr const char *locationsChange =
        "com.quendrith.corvane.locations.locationschange";
    // User info "location": the Location just set, or an empty QVariant.
    static constexpr const char *currentLocationUpdate =
        "com.quendrith.corvane.locations.currentlocationupdate";
    static constexpr const char *statusChanged = "com.quendrith.corvane.locations.statuschanged";

    // What the engine needs to know of the current Xcode.
    struct ToolsetDevices {
        bool hasToolset = false;
        bool hasDeviceWatcher = false;
        bool supportsAdditionalFields = false;
        QStringList udids; // in the device list's order
    };

    // The engine's ties to the world; standard() gives the real ones.
    struct Environment {
        // Seconds since 1970-01-01T00:00Z.
        std::function<double()> clock;
        std::shared_ptr<StepScheduler> scheduler;
        // Sends one location to these devices.
        std::function<void(const Location &, const QStringList &)> sink;
        // Asked off the main thread: it may run tools.
        std::function<ToolsetDevices()> devices;
        // Nothing: no route is loaded at start or saved.
        std::shared_ptr<LastLocationsStore> store;
        std::shared_ptr<CorvaneSettings> settings;

        static Environment standard();
    };

    static std::shared_ptr<LocationSimulator> shared();
    // Tests: the engine shared() gives from now on; after nullptr the next
    // use makes a standard one again.
    static void setShared(std::shared_ptr<LocationSimulator> engine);
    static std::shared_ptr<LocationSimulator> make(Environment environment);
    ~LocationSimulator() override;
    LocationSimulator(const LocationSimulator &) = delete;
    LocationSimulator &operator=(const LocationSimulator &) = delete;

    // The current Xcode's devices and whether its simctl takes every field.
    static ToolsetDevices currentToolsetDevices();

    // Loads a route: stops playback, saves the route when it differs from the
    // one held, and assigns it.
    void useWithLocations(std::vector<Location> locations);
    // Back to the first point, keeping the playback state.
    void restart();
    // Play or pause; nothing while playback is not possible.
    void toggle();
    // One playback step: the next point, then the next step is scheduled.
    void advancePlaybackStep();

    const std::vector<Location> &locations() const { return *m_locations; }
    // Assigns a route (the current point is cleared when it differs, the
    // first point is shown); saves nothing.
    void setLocations(std::vector<Location> locations);

    std::optional<qsizetype> currentIndex() const { return m_currentIndex; }
    // Every set shows the point at that index.
    void setCurrentIndex(std::optional<qsizetype> index);

    std::optional<Location> currentLocation() const { return m_currentLocation; }
    // Posts currentLocationUpdate and, with a current Xcode, sends the point.
    void setCurrentLocation(std::optional<Location> location);

    PlaybackStatus playbackState() const { return m_playbackState.load(); }
    // Posts statusChanged on every set; stopping cancels the pending step,
    // playing runs one step at once.
    void setPlaybackState(PlaybackStatus state);

    // The option setters store their raw value in the settings; pace and
    // speed run one step at once while playing.
    PaceOptions pace() const { return m_pace; }
    void setPace(PaceOptions pace);
    SpeedOptions speed() const { return m_speed; }
    void setSpeed(SpeedOptions speed);
    TimestampDateModeOptions timestampDateMode() const { return m_timestampDateMode; }
    void setTimestampDateMode(TimestampDateModeOptions mode);
    TimestampTimeModeOptions timestampTimeMode() const { return m_timestampTimeMode; }
    void setTimestampTimeMode(TimestampTimeModeOptions mode);
    bool autoRewindEnabled() const { return m_autoRewindEnabled; }
    void setAutoRewindEnabled(bool enabled);

    // True exactly when the route has at least two points.
    bool playbackEnabled() const { return m_playbackEnabled.get(); }
    void setPlaybackEnabled(bool enabled) { m_playbackEnabled.set(enabled); }
    Observable<bool> &playbackEnabledProperty() { return m_playbackEnabled; }

    // Whether the current Xcode's simctl takes every field of a location;
    // false forces original timestamp modes back to today and now.
    bool supportsAdditionalFields() const { return m_supportsAdditionalFields.get(); }
    void setSupportsAdditionalFields(bool supported);
    Observable<bool> &supportsAdditionalFieldsProperty() { return m_supportsAdditionalFields; }

    // The UDIDs that receive each point; devices new to the list receive the
    // point shown at once.
    QStringList activeSimulators() const { return m_activeSimulators; }
    void setActiveSimulators(QStringList udids);

    // True once the first look at the current Xcode and the load of the last
    // route have both been taken in.
    bool isReady() const { return m_devicesKnown && m_lastLocationsLoaded; }

private:
    explicit LocationSimulator(Environment environment);
    void start();
    void readSettings();
    void observeToolset();
    void loadLastLocations();
    enum class DeviceQuery { construction, toolsetChange, deviceListChange };
    void queryDevices(DeviceQuery reason);
    void takeDevices(const ToolsetDevices &devices, DeviceQuery reason);

    void assignLocations(std::shared_ptr<const std::vector<Location>> locations);
    void applyCurrentLocation();
    void scheduleNextStep();
    std::optional<double> sentTimestamp(double pointTimestamp, qsizetype count) const;

    const Environment m_environment;
    const DispatchQueuePtr m_deviceQueue;

    std::shared_ptr<const std::vector<Location>> m_locations;
    std::optional<qsizetype> m_currentIndex;
    std::optional<Location> m_currentLocation;
    std::atomic<PlaybackStatus> m_playbackState{PlaybackStatus::stopped};
    PaceOptions m_pace = PaceOptions::realtime;
    SpeedOptions m_speed = SpeedOptions::normal;
    TimestampDateModeOptions m_timestampDateMode = TimestampDateModeOptions::today;
    TimestampTimeModeOptions m_timestampTimeMode = TimestampTimeModeOptions::now;
    bool m_autoRewindEnabled = true;
    Observable<bool> m_playbackEnabled{false};
    Observable<bool> m_supportsAdditionalFields{false};
    QStringList m_activeSimulators;
    bool m_hasToolset = false;

    bool m_routeAssigned = false;
    bool m_devicesKnown = false;
    bool m_lastLocationsLoaded = false;
    ObserverCollection m_observers;
};

template <>
const std::vector<LocationSimulator::PlaybackStatus> &
LocationSimulator::allCases<LocationSimulator::PlaybackStatus>();
template <>
const std::vector<LocationSimulator::PaceOptions> &
LocationSimulator::allCases<LocationSimulator::PaceOptions>();
template <>
const std::vector<LocationSimulator::SpeedOptions> &
LocationSimulator::allCases<LocationSimulator::SpeedOptions>();
template <>
const std::vector<LocationSimulator::TimestampDateModeOptions> &
LocationSimulator::allCases<LocationSimulator::TimestampDateModeOptions>();
template <>
const std::vector<LocationSimulator::TimestampTimeModeOptions> &
LocationSimulator::allCases<LocationSimulator::TimestampTimeModeOptions>();

} // namespace corvane
