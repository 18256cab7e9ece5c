#pragma once

#include "common/TestSupport.h"
#include "core/CorvaneSettings.h"
#include "location/LastLocationsStore.h"
#include "location/LocationSimulator.h"
#include "location/StepScheduler.h"
#include "platform/defaults/CloudKeyValueStore.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/files/SystemPaths.h"
#include "platform/defaults/UserDefaults.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <vector>

namespace corvane::test {

// Keeps the one pending step until the test fires it.
class FakeScheduler : public StepScheduler {
public:
    void schedule(double seconds, std::function<void()> work) override
    {
        delay = seconds;
        pending = std::move(work);
    }
    void cancel() override { pending = nullptr; }
    bool isPending() const override { return pending != nullptr; }
    bool fire()
    {
        auto work = std::move(pending);
        pending = nullptr;
        if (work)
            work();
        return bool(work);
    }
    std::optional<double> delay;
    std::function<void()> pending;
};

struct Sent {
    Location location;
    QStringList devices;
};

// Each notification of one engine, in order, as posted.
struct EngineNotifications {
    QStringList names;
    // The "location" of each currentLocationUpdate; nothing for the null one.
    std::vector<std::optional<Location>> updates;
    int count(const char *name) const { return int(names.count(QString(name))); }
};

// One engine with a fake clock, scheduler, sink and device source, a store
// and settings in a temporary folder.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        SystemPaths paths = SystemPaths::current();
        paths.applicationSupport = m_dir.filePath("support");
        paths.configDir = m_dir.filePath("config");
        paths.syncDir = m_dir.filePath("sync");
        SystemPaths::setCurrent(paths);
        CorvaneSettings::resetShared(
            UserDefaults::withFile(m_dir.filePath("defaults.conf")),
            std::make_shared<CloudKeyValueStore>(m_dir.filePath("kvs.json")));
        settings = CorvaneSettings::shared();
        settings->registerCommonSettings();
        storePath = LastLocationsStore::standardPath();
        setDevices({true, true, true, {"UDID-A", "UDID-B"}});
    }

    void TearDown() override
    {
        for (const auto &token : m_tokens)
            NotificationCenter::defaultCenter().removeObserver(token);
        if (store)
            store->waitForSaves();
        engine.reset();
        DispatchQueue::waitUntilIdle(std::chrono::seconds(10));
        CorvaneSettings::resetShared();
        SystemPaths::resetToEnvironment();
    }

    void setDevices(LocationSimulator::ToolsetDevices devices)
    {
        std::lock_guard lock(m_devicesMutex);
        m_devices = std::move(devices);
    }

    LocationSimulator::Environment environment()
    {
        LocationSimulator::Environment environment;
        environment.clock = [this] { return now; };
        environment.scheduler = scheduler;
        environment.sink = [this](const Location &location, const QStringList &devices) {
            sent.push_back({location, devices});
        };
        environment.devices = [this] {
            std::lock_guard lock(m_devicesMutex);
            return m_devices;
        };
        environment.store = store = std::make_shared<LastLocationsStore>(storePath);
        environment.settings = settings;
        return environment;
    }

    // Made, settled (devices known, nothing stored to load) and observed.
    void makeEngine()
    {
        engine = LocationSimulator::make(environment());
        ASSERT_TRUE(waitUntil([this] { return engine->isReady(); }));
        observe();
    }

    void observe()
    {
        for (const char *name :
             {LocationSimulator::locationsChange, LocationSimulator::currentLocationUpdate,
              LocationSimulator::statusChanged}) {
            m_tokens.push_back(NotificationCenter::defaultCenter().addObserver(
                name, engine, nullptr, [this](const Notification &notification) {
                    posted.names.append(notification.name);
                    if (notification.name == LocationSimulator::currentLocationUpdate) {
                        const QVariant value = notification.userInfo.value("location");
                        posted.updates.push_back(value.isValid()
                                                     ? std::optional(value.value<Location>())
                                                     : std::nullopt);
                    }
                }));
        }
    }

    // Points one minute apart from 2021-05-01T12:00:00Z, each with its own values.
    static std::vector<Location> route(int count, double start = 1619870400.0)
    {
        std::vector<Location> locations;
        for (int i = 0; i < count; ++i) {
            Location location(37.33 + i * 0.001, -122.01 - i * 0.001);
            location.altitude = 10 + i;
            location.horizontalAccuracy = 5;
            location.verticalAccuracy = 3;
            location.course = 90;
            location.speed = 1.5;
            location.timestamp = start + 60.0 * i;
            locations.push_back(location);
        }
        return locations;
    }

    static Location stamped(Location location, double timestamp)
    {
        location.timestamp = timestamp;
        return location;
    }

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    double now = 1700000000.5;
    std::shared_ptr<FakeScheduler> scheduler = std::make_shared<FakeScheduler>();
    std::vector<Sent> sent;
    EngineNotifications posted;
    std::shared_ptr<CorvaneSettings> settings;
    std::shared_ptr<LastLocationsStore> store;
    QString storePath;
    std::shared_ptr<LocationSimulator> engine;

private:
    QTemporaryDir m_dir;
    std::mutex m_devicesMutex;
    LocationSimulator::ToolsetDevices m_devices;
    std::vector<NotificationCenter::Token> m_tokens;
};

} // namespace corvane::test
