#pragma once

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
class ActivityMonitor {
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
    };

    using TimePoint = std::chrono::system_clock::time_point;
    using ClockFunction = std::function<TimePoint()>;

    static std::shared_ptr<ActivityMonitor> shared();
    // A separate monitor, for tests; without a clock the system clock is used.
    static std::shared_ptr<ActivityMonitor> make(ClockFunction clock = {});

    // The simulator of that device, refreshing first when the answer is stale.
    std::optional<SimulatorProcess> simulatorProcess(const QUuid &deviceUUID);
    // The application installed into that bundle folder, refreshing first when
    // the answer is stale.
    std::optional<SimApplicationProcess> applicationProcess(const QUuid &applicationUUID);

    // Refreshes when the last check lies more than two seconds back.
    void refreshIfStale();
    // Lists the processes again; a ps that fails or prints no UTF-8 leaves the
    // lists as they were.
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
    // Runs ps and, when it answered, replaces both lists.
    void readProcesses();

    const ClockFunction m_clock;

    mutable std::mutex m_mutex;
    std::vector<SimApplicationProcess> m_applicationProcesses;
    std::vector<SimulatorProcess> m_simulatorProcesses;
    TimePoint m_lastCheck;
};

} // namespace corvane
