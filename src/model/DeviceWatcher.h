#pragma once

#include "core/DeviceWatching.h"
#include "core/DirectoryMonitor.h"
#include "model/Device.h"
#include "platform/Object.h"

#include <QString>
#include <QStringList>
#include <QUuid>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace corvane {

class Toolset;

// The devices of one toolset, listed by `simctl list` and listed again when
// the entries of CoreSimulator's devices folder change. Devices that stay
// listed stay the same objects; a change of the set of devices is announced
// with Notifications::deviceListDidChange on the main queue.
class DeviceWatcher : public Object, public DeviceWatching, public DirectoryMonitorDelegate {
public:
    // QUuid's own order consults the variant on every comparison.
    struct UuidLess {
        bool operator()(const QUuid &a, const QUuid &b) const
        {
            if (a.data1 != b.data1)
                return a.data1 < b.data1;
            if (a.data2 != b.data2)
                return a.data2 < b.data2;
            if (a.data3 != b.data3)
                return a.data3 < b.data3;
            return std::memcmp(a.data4, b.data4, sizeof a.data4) < 0;
        }
    };
    using DeviceMap = std::map<QUuid, DevicePtr, UuidLess>;

    // Lists at once on the caller's thread, posting nothing, then watches.
    static std::shared_ptr<DeviceWatcher> make(const std::shared_ptr<Toolset> &toolset);
    ~DeviceWatcher() override;
    DeviceWatcher(const DeviceWatcher &) = delete;
    DeviceWatcher &operator=(const DeviceWatcher &) = delete;

    // Random per watcher; keeps its debounce key apart from other watchers'.
    QUuid identifier() const { return m_identifier; }
    std::shared_ptr<Toolset> toolset() const { return m_toolset.lock(); }

    // The current list by UDID; a snapshot that later listings never change.
    std::shared_ptr<const DeviceMap> all() const;

    // Runs `simctl list` and parses it; empty when simctl fails, prints
    // nothing or cannot list devices. Devices in `reuse` keep their objects.
    // Makes the toolset manager give each current toolset a DeviceWatcher.
    static void installAsToolsetWatcherFactory();

    static DeviceMap parseDeviceList(const std::shared_ptr<Toolset> &toolset,
                                     const DeviceMap &reuse);
    // As parseDeviceList, but nothing when the listing failed (simctl threw,
    // or gave no output) rather than an empty list.
    static std::optional<DeviceMap> listDevices(const std::shared_ptr<Toolset> &toolset,
                                                const DeviceMap &reuse);
    // The parse of a listing's text alone.
    static DeviceMap parseDeviceListText(const QString &text,
                                         const std::shared_ptr<Toolset> &toolset,
                                         const DeviceMap &reuse);
    static Device::Status parseDeviceStatus(const QString &line);

    // Called on the monitor queue; re-lists once per second of events.
    void
    directoryMonitorDidObserveChange(const std::shared_ptr<DirectoryMonitor> &monitor) override;

    // The debounce key of the re-listing.
    QString debounceKey() const;

private:
    DeviceWatcher(const std::shared_ptr<Toolset> &toolset);

    void deviceListMightHaveChanged();
    void updateDeviceList(DeviceMap devices);
    void scheduleRelisting(double seconds);
    void scheduleRetry();

    static constexpr double kFirstRetryDelay = 1.0;
    static constexpr double kLongestRetryDelay = 60.0;

    const std::weak_ptr<Toolset> m_toolset;
    const QUuid m_identifier;
    DirectoryMonitorPtr m_deviceChangeWatcher;

    mutable std::mutex m_mutex;
    std::shared_ptr<const DeviceMap> m_all;
    // The folder's entries when a listing last succeeded; nothing before
    // that and after a failed one, so that the next event lists again.
    std::optional<QStringList> m_lastContents;
    double m_retryDelay = kFirstRetryDelay;

    // Held for a whole re-listing, so that a slow one and the next cannot
    // interleave and leave the older result in place.
    std::mutex m_relistingMutex;
};

using DeviceWatcherPtr = std::shared_ptr<DeviceWatcher>;

} // namespace corvane
