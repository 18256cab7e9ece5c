#include "location/LocationSimulator.h"

#include "core/CorvaneSettings.h"
#include "core/SimulateLocation.h"
#include "core/Toolset.h"
#include "core/ToolsetManager.h"
#include "core/Uuid.h"
#include "location/LastLocationsStore.h"
#include "location/StepScheduler.h"
#include "model/Application.h"
#include "model/Device.h"
#include "model/DeviceWatcher.h"
#include "platform/Loc.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QSet>
#include <QVariant>

#include <chrono>
#include <cmath>
#include <mutex>

namespace corvane {

namespace {

std::mutex g_sharedMutex;
std::shared_ptr<LocationSimulator> g_shared;

double secondsSince1970()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// QDateTime counts whole milliseconds at best, so the fraction of a second
// travels beside it.
struct LocalMoment {
    QDateTime whole;
    double fraction = 0;
};

std::optional<LocalMoment> localMoment(double timestamp)
{
    const double whole = std::floor(timestamp);
    // Far beyond any calendar date (or not a number at all).
    if (!(std::fabs(whole) < 1e15))
        return std::nullopt;
    LocalMoment moment{QDateTime::fromSecsSinceEpoch(qint64(whole), Qt::LocalTime),
                       timestamp - whole};
    if (!moment.whole.isValid())
        return std::nullopt;
    return moment;
}

// The point's date or today's, with the point's time of day or the present
// one, read and put together in local time. Nothing where no such local time
// exists (inside a spring-forward gap).
std::optional<double> mixedTimestamp(double point, double now, bool takeTodaysDate,
                                     bool takePresentTime)
{
    const auto pointMoment = localMoment(point);
    const auto nowMoment = localMoment(now);
    if (!pointMoment || !nowMoment)
        return std::nullopt;
    const QDate date = (takeTodaysDate ? nowMoment : pointMoment)->whole.date();
    const LocalMoment &timeSource = takePresentTime ? *nowMoment : *pointMoment;
    const QDateTime mixed(date, timeSource.whole.time(), Qt::LocalTime);
    if (!mixed.isValid())
        return std::nullopt;
    return double(mixed.toSecsSinceEpoch()) + timeSource.fraction;
}

} // namespace

template <>
const std::vector<LocationSimulator::PlaybackStatus> &
LocationSimulator::allCases<LocationSimulator::PlaybackStatus>()
{
    static const std::vector<PlaybackStatus> cases{PlaybackStatus::stopped,
                                                   PlaybackStatus::playing};
    return cases;
}

template <>
const std::vector<LocationSimulator::PaceOptions> &
LocationSimulator::allCases<LocationSimulator::PaceOptions>()
{
    static const std::vector<PaceOptions> cases{PaceOptions::realtime, PaceOptions::fixed};
    return cases;
}

template <>
const std::vector<LocationSimulator::SpeedOptions> &
LocationSimulator::allCases<LocationSimulator::SpeedOptions>()
{
    static const std::vector<SpeedOptions> cases{
        SpeedOptions::sl05, SpeedOptions::normal, SpeedOptions::ff2,  SpeedOptions::ff5,
        SpeedOptions::ff10, SpeedOptions::ff50,   SpeedOptions::ff100};
    return cases;
}

template <>
const std::vector<LocationSimulator::TimestampDateModeOptions> &
LocationSimulator::allCases<LocationSimulator::TimestampDateModeOptions>()
{
    static const std::vector<TimestampDateModeOptions> cases{TimestampDateModeOptions::today,
                                                             TimestampDateModeOptions::original};
    return cases;
}

template <>
const std::vector<LocationSimulator::TimestampTimeModeOptions> &
LocationSimulator::allCases<LocationSimulator::TimestampTimeModeOptions>()
{
    static const std::vector<TimestampTimeModeOptions> cases{TimestampTimeModeOptions::now,
                                                             TimestampTimeModeOptions::original};
    return cases;
}

QString LocationSimulator::rawValue(PlaybackStatus status)
{
    return status == PlaybackStatus::playing ? "playing" : "stopped";
}

QString LocationSimulator::rawValue(PaceOptions pace)
{
    return pace == PaceOptions::fixed ? "fixed" : "realtime";
}

QString LocationSimulator::rawValue(SpeedOptions speed)
{
    switch (speed) {
    case SpeedOptions::sl05: return "sl05";
    case SpeedOptions::normal: return "normal";
    case SpeedOptions::ff2: return "ff2";
    case SpeedOptions::ff5: return "ff5";
    case SpeedOptions::ff10: return "ff10";
    case SpeedOptions::ff50: return "ff50";
    case SpeedOptions::ff100: return "ff100";
    }
    return "normal";
}

QString LocationSimulator::rawValue(TimestampDateModeOptions mode)
{
    return mode == TimestampDateModeOptions::original ? "original" : "today";
}

QString LocationSimulator::rawValue(TimestampTimeModeOptions mode)
{
    return mode == TimestampTimeModeOptions::original ? "original" : "now";
}

QString LocationSimulator::title(PlaybackStatus status)
{
    return status == PlaybackStatus::playing ? loc("Pause", "GPS_PAUSE_ITEM_TITLE")
                                             : loc("Play", "GPS_PLAY_ITEM_TITLE");
}

LocationSimulator::Environment LocationSimulator::Environment::standard()
{
    Environment environment;
    environment.clock = secondsSince1970;
    environment.scheduler = std::make_shared<TimerStepScheduler>();
    environment.sink = [](const Location &location, const QStringList &devices) {
        simulateLocation(location, devices);
    };
    environment.devices = currentToolsetDevices;
    environment.store = std::make_shared<LastLocationsStore>(LastLocationsStore::standardPath());
    environment.settings = CorvaneSettings::shared();
    return environment;
}

std::shared_ptr<LocationSimulator> LocationSimulator::shared()
{
    std::lock_guard lock(g_sharedMutex);
    if (!g_shared)
        g_shared = make(Environment::standard());
    return g_shared;
}

void LocationSimulator::setShared(std::shared_ptr<LocationSimulator> engine)
{
    std::shared_ptr<LocationSimulator> previous;
    std::lock_guard lock(g_sharedMutex);
    previous = std::exchange(g_shared, std::move(engine));
}

std::shared_ptr<LocationSimulator> LocationSimulator::make(Environment environment)
{
    std::shared_ptr<LocationSimulator> engine(new LocationSimulator(std::move(environment)));
    engine->start();
    return engine;
}

LocationSimulator::LocationSimulator(Environment environment)
    : m_environment(std::move(environment)),
      m_deviceQueue(DispatchQueue::makeSerial("com.quendrith.corvane.locations.devices")),
      m_locations(std::make_shared<const std::vector<Location>>()),
      m_devicesKnown(!m_environment.devices), m_lastLocationsLoaded(!m_environment.store)
{
}

LocationSimulator::~LocationSimulator()
{
    if (m_environment.scheduler)
        m_environment.scheduler->cancel();
}

LocationSimulator::ToolsetDevices LocationSimulator::currentToolsetDevices()
{
    ToolsetDevices result;
    const auto toolset = ToolsetManager::shared()->current();
    if (!toolset)
        return result;
    result.hasToolset = true;
    result.supportsAdditionalFields = toolset->supports(Toolset::Command::gpsFull);
    const auto watcher = std::dynamic_pointer_cast<DeviceWatcher>(toolset->deviceWatcher());
    if (!watcher)
        return result;
    result.hasDeviceWatcher = true;
    for (const auto &[uuid, device] : *watcher->all())
        result.udids.append(uuidString(uuid));
    return result;
}

void LocationSimulator::start()
{
    readSettings();
    observeToolset();
    queryDevices(DeviceQuery::construction);
    loadLastLocations();
}

// Unknown texts give the first case (normal for the speed); nothing is
// written back.
void LocationSimulator::readSettings()
{
    const auto &settings = m_environment.settings;
    if (!settings)
        return;
    m_timestampDateMode = settings->gpsTimestampsDateMode() == "original"
                              ? TimestampDateModeOptions::original
                              : TimestampDateModeOptions::today;
    m_timestampTimeMode = settings->gpsTimestampsTimeMode() == "original"
                              ? TimestampTimeModeOptions::original
                              : TimestampTimeModeOptions::now;
    m_pace = settings->gpsPace() == "fixed" ? PaceOptions::fixed : PaceOptions::realtime;
    m_speed = fromRawValue<SpeedOptions>(settings->gpsSpeed()).value_or(SpeedOptions::normal);
    m_autoRewindEnabled = settings->gpsAutoRewind();
}

void LocationSimulator::observeToolset()
{
    const auto weak = weakAs<LocationSimulator>();
    const auto main = DispatchQueue::main();
    m_observers.append(observeNotification(ToolsetManager::currentDidChange, main,
                                           [weak](const Notification &, const ObjectPtr &) {
                                               if (auto self = weak.lock())
                                                   self->queryDevices(DeviceQuery::toolsetChange);
                                           }));
    m_observers.append(observeNotification(
        Notifications::deviceListDidChange, main, [weak](const Notification &, const ObjectPtr &) {
            if (auto self = weak.lock())
                self->queryDevices(DeviceQuery::deviceListChange);
        }));
    m_observers.append(observeNotification(Application::applicationDidUpdate, main,
                                           [weak](const Notification &, const ObjectPtr &) {
                                               auto self = weak.lock();
                                               if (self && self->m_autoRewindEnabled)
                                                   self->restart();
                                           }));
}

// The toolset is asked on the engine's own serial queue (a first look may run
// simctl), and the answers are taken in on the main thread in the order asked.
void LocationSimulator::queryDevices(DeviceQuery reason)
{
    if (!m_environment.devices)
        return;
    m_deviceQueue->async(
        [source = m_environment.devices, weak = weakAs<LocationSimulator>(), reason] {
            const ToolsetDevices devices = source();
            DispatchQueue::main()->async([weak, devices, reason] {
                if (auto self = weak.lock())
                    self->takeDevices(devices, reason);
            });
        });
}

void LocationSimulator::takeDevices(const ToolsetDevices &devices, DeviceQuery reason)
{
    m_hasToolset = devices.hasToolset;
    switch (reason) {
    case DeviceQuery::construction:
        // Taken in as at construction: the options are not forced.
        m_devicesKnown = true;
        m_supportsAdditionalFields.set(devices.hasToolset && devices.supportsAdditionalFields);
        setActiveSimulators(devices.udids);
        break;
    case DeviceQuery::toolsetChange:
        setActiveSimulators(devices.udids);
        setSupportsAdditionalFields(devices.hasToolset && devices.supportsAdditionalFields);
        break;
    case DeviceQuery::deviceListChange:
        if (devices.hasToolset && devices.hasDeviceWatcher)
            setActiveSimulators(devices.udids);
        break;
    }
}

// Read and decoded in the background; taken in on the main thread unless a
// route was assigned meanwhile, which is newer than the stored one.
void LocationSimulator::loadLastLocations()
{
    const auto store = m_environment.store;
    if (!store)
        return;
    DispatchQueue::background()->async([store, weak = weakAs<LocationSimulator>()] {
        std::shared_ptr<const std::vector<Location>> loaded;
        if (auto locations = store->load())
            loaded = std::make_shared<const std::vector<Location>>(std::move(*locations));
        DispatchQueue::main()->async([weak, loaded] {
            auto self = weak.lock();
            if (!self)
                return;
            self->m_lastLocationsLoaded = true;
            if (loaded && !self->m_routeAssigned)
                self->assignLocations(loaded);
        });
    });
}

void LocationSimulator::useWithLocations(std::vector<Location> locations)
{
    if (playbackState() == PlaybackStatus::playing)
        setPlaybackState(PlaybackStatus::stopped);
    auto route = std::make_shared<const std::vector<Location>>(std::move(locations));
    if (*route != *m_locations && m_environment.store)
        m_environment.store->saveLater(route);
    m_routeAssigned = true;
    assignLocations(std::move(route));
}

void LocationSimulator::setLocations(std::vector<Location> locations)
{
    m_routeAssigned = true;
    assignLocations(std::make_shared<const std::vector<Location>>(std::move(locations)));
}

void LocationSimulator::assignLocations(std::shared_ptr<const std::vector<Location>> locations)
{
    if (*locations != *m_locations)
        setCurrentIndex(std::nullopt);
    m_locations = std::move(locations);
    if (!m_locations->empty())
        setCurrentIndex(0);
    setPlaybackEnabled(m_locations->size() >= 2);
    postNotification(locationsChange, shared_from_this());
}

void LocationSimulator::restart()
{
    const PlaybackStatus previous = playbackState();
    setPlaybackState(PlaybackStatus::stopped);
    if (m_locations->empty())
        return;
    setCurrentIndex(0);
    setPlaybackState(previous);
}

void LocationSimulator::toggle()
{
    if (!playbackEnabled())
        return;
    setPlaybackState(playbackState() == PlaybackStatus::playing ? PlaybackStatus::stopped
                                                                : PlaybackStatus::playing);
}

void LocationSimulator::advancePlaybackStep()
{
    scheduleNextStep();
}

void LocationSimulator::setCurrentIndex(std::optional<qsizetype> index)
{
    m_currentIndex = index;
    applyCurrentLocation();
}

void LocationSimulator::applyCurrentLocation()
{
    const qsizetype count = qsizetype(m_locations->size());
    if (!m_currentIndex || *m_currentIndex < 0 || *m_currentIndex >= count) {
        setCurrentLocation(std::nullopt);
        return;
    }
    const Location &point = (*m_locations)[size_t(*m_currentIndex)];
    const auto timestamp = sentTimestamp(point.timestamp, count);
    if (!timestamp) {
        Log::location().error("Couldn't build date");
        return;
    }
    Location sent = point;
    sent.timestamp = *timestamp;
    setCurrentLocation(sent);
}

std::optional<double> LocationSimulator::sentTimestamp(double pointTimestamp, qsizetype count) const
{
    const bool originalDate = m_timestampDateMode == TimestampDateModeOptions::original;
    const bool originalTime = m_timestampTimeMode == TimestampTimeModeOptions::original;
    if (originalDate && originalTime && count >= 2)
        return pointTimestamp;
    const double now = m_environment.clock ? m_environment.clock() : secondsSince1970();
    if ((!originalDate && !originalTime) || count <= 1)
        return now;
    return mixedTimestamp(pointTimestamp, now, !originalDate, !originalTime);
}

void LocationSimulator::setCurrentLocation(std::optional<Location> location)
{
    m_currentLocation = std::move(location);
    postNotification(
        currentLocationUpdate, shared_from_this(),
        {{"location", m_currentLocation ? QVariant::fromValue(*m_currentLocation) : QVariant()}});
    if (m_currentLocation && m_hasToolset && m_environment.sink)
        m_environment.sink(*m_currentLocation, m_activeSimulators);
}

void LocationSimulator::setPlaybackState(PlaybackStatus state)
{
    m_playbackState.store(state);
    postNotification(statusChanged, shared_from_this());
    if (state == PlaybackStatus::stopped) {
        if (m_environment.scheduler)
            m_environment.scheduler->cancel();
    } else {
        scheduleNextStep();
    }
}

void LocationSimulator::scheduleNextStep()
{
    if (m_environment.scheduler)
        m_environment.scheduler->cancel();
    if (!m_currentIndex)
        return;
    const qsizetype index = *m_currentIndex;
    const qsizetype count = qsizetype(m_locations->size());
    if (index + 1 < count) {
        setCurrentIndex(index + 1);
        if (index + 2 < count) {
            const auto &route = *m_locations;
            const double interval =
                m_pace == PaceOptions::realtime
                    ? route[size_t(index + 2)].timestamp - route[size_t(index + 1)].timestamp
                    : 5.0;
            if (m_environment.scheduler)
                m_environment.scheduler->schedule(interval / factor(m_speed),
                                                  [weak = weakAs<LocationSimulator>()] {
                                                      if (auto self = weak.lock())
                                                          self->advancePlaybackStep();
                                                  });
            return;
        }
    }
    // The end of the route: stop and show the first point again.
    setPlaybackState(PlaybackStatus::stopped);
    setCurrentIndex(0);
}

void LocationSimulator::setPace(PaceOptions pace)
{
    m_pace = pace;
    if (m_environment.settings)
        m_environment.settings->setGpsPace(rawValue(pace));
    if (playbackState() == PlaybackStatus::playing)
        scheduleNextStep();
}

void LocationSimulator::setSpeed(SpeedOptions speed)
{
    m_speed = speed;
    if (m_environment.settings)
        m_environment.settings->setGpsSpeed(rawValue(speed));
    if (playbackState() == PlaybackStatus::playing)
        scheduleNextStep();
}

void LocationSimulator::setTimestampDateMode(TimestampDateModeOptions mode)
{
    m_timestampDateMode = mode;
    if (m_environment.settings)
        m_environment.settings->setGpsTimestampsDateMode(rawValue(mode));
}

void LocationSimulator::setTimestampTimeMode(TimestampTimeModeOptions mode)
{
    m_timestampTimeMode = mode;
    if (m_environment.settings)
        m_environment.settings->setGpsTimestampsTimeMode(rawValue(mode));
}

void LocationSimulator::setAutoRewindEnabled(bool enabled)
{
    m_autoRewindEnabled = enabled;
    if (m_environment.settings)
        m_environment.settings->setGpsAutoRewind(enabled);
}

void LocationSimulator::setSupportsAdditionalFields(bool supported)
{
    m_supportsAdditionalFields.set(supported);
    if (supported)
        return;
    if (m_timestampDateMode == TimestampDateModeOptions::original)
        setTimestampDateMode(TimestampDateModeOptions::today);
    if (m_timestampTimeMode == TimestampTimeModeOptions::original)
        setTimestampTimeMode(TimestampTimeModeOptions::now);
}

void LocationSimulator::setActiveSimulators(QStringList udids)
{
    const QSet<QString> previous(m_activeSimulators.begin(), m_activeSimulators.end());
    QStringList added;
    for (const QString &udid : udids)
        if (!previous.contains(udid))
            added.append(udid);
    m_activeSimulators = std::move(udids);
    if (!added.isEmpty() && m_currentLocation && m_hasToolset && m_environment.sink)
        m_environment.sink(*m_currentLocation, added);
}

} // namespace corvane
