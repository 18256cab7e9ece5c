#pragma once

#include "core/Observer.h"
#include "platform/BuildGenerations.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Object.h"

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvane {

// The running simulators and simulated applications, read from the process
// list and kept for two seconds, so that a whole menu update lists processes
// at most once.
//
// The main thread never waits for ps: menus read the last snapshot at once
// (latestSnapshot), which starts a listing on the background queue when it
// is stale, and update their marks when processesDidChange follows. The
// other questions list on the calling thread when stale and belong off the
// main thread. A listing that takes longer than listingTimeLimit is ended
// and the last snapshot stays.
class ActivityMonitor : public Object {
public:
    struct SimulatorProcess {
        std::int32_t pid = 0;
        QUuid deviceUUID;
        bool operator==(const SimulatorProcess &) const = default;
    };

    struct SimApplicationProcess {
        std::int32_t pid = 0;
        QUrl url;
        QUuid deviceUUID;
        // The bundle container folder the application was installed into.
        QUuid applicationUUID;
        bool operator==(const SimApplicationProcess &) const = default;
    };

    struct ProcessList {
        std::vector<SimApplicationProcess> applications;
        std::vector<SimulatorProcess> simulators;

        std::optional<SimulatorProcess> simulatorProcess(const QUuid &deviceUUID) const;
        std::optional<SimApplicationProcess> applicationProcess(const QUuid &applicationUUID) const;
        bool operator==(const ProcessList &) const = default;
    };
    // One reading of the process list; never changes once made.
    using Snapshot = std::shared_ptr<const ProcessList>;

    using TimePoint = std::chrono::system_clock::time_point;
    using ClockFunction = std::function<TimePoint()>;

    // Posted on the listing thread, with the monitor as object, when a
    // listing found other processes than the one before.
    static constexpr const char *processesDidChange =
        "com.quendrith.corvane.activitymonitor.processesDidChange";
    static constexpr std::chrono::milliseconds listingTimeLimit{2000};

    static std::shared_ptr<ActivityMonitor> shared();
    // A separate monitor, for tests; without a clock the system clock is used.
    static std::shared_ptr<ActivityMonitor> make(ClockFunction clock = {});

    // The last snapshot, at once, without listing on this thread; when it is
    // stale, a listing starts on the background queue (one at a time).
    Snapshot latestSnapshot();
    // The last snapshot as it is; starts nothing.
    Snapshot snapshot() const;
    // Runs the handler on the queue after each listing that changed the
    // processes, until the token is invalidated (an ObserverCollection does
    // that when it is dropped).
    std::shared_ptr<NotificationObserver> observeChanges(DispatchQueuePtr queue,
                                                         std::function<void()> handler);

    // The simulator of that device, listing first when the answer is stale.
    std::optional<SimulatorProcess> simulatorProcess(const QUuid &deviceUUID);
    // The application installed into that bundle folder, listing first when
    // the answer is stale.
    std::optional<SimApplicationProcess> applicationProcess(const QUuid &applicationUUID);

    // Lists when the last check lies more than two seconds back.
    void refreshIfStale();
    // Lists the processes again; a ps that fails, is late or prints no UTF-8
    // leaves the lists as they were.
    void refreshProcesses();
    // The next question lists the processes again, whatever the time.
    void markOutOfDate();

    std::vector<SimApplicationProcess> applicationProcesses() const;
    std::vector<SimulatorProcess> simulatorProcesses() const;
    TimePoint lastCheck() const;

    // The ps arguments that give pid, terminal, time and command columns.
    static QStringList psArguments();

    static std::optional<SimApplicationProcess> parseApplicationProcess(const QString &line);
    static std::optional<SimulatorProcess> parseSimulatorProcess(const QString &line);
    // Only lines naming CoreSimulator are tried.
    static ProcessList parseProcessList(const QString &output);

private:
    explicit ActivityMonitor(ClockFunction clock);

    bool isStale(TimePoint now) const;
    // Runs ps and, when it answered, replaces the snapshot.
    void readProcesses();
    // The background listing: again while answers were marked out of date
    // during a run.
    void listScheduled();

    const ClockFunction m_clock;

    mutable std::mutex m_mutex;
    Snapshot m_snapshot;
    TimePoint m_lastCheck;
    bool m_listingScheduled = false;
    BuildGenerations m_readings;
};

} // namespace corvane
