#pragma once

#include "core/DirectoryMonitor.h"
#include "core/Mutex.h"
#include "core/Observer.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvane {

class DeviceWatching;
class Toolset;

// The installed Xcodes and the one the program works with. The list follows
// the applications folder and xcode-select; the current toolset alone owns a
// device watcher.
//
// Reloads, selections and changes of the current toolset are serialised by one
// recursive lock, since notifications are posted synchronously and observers
// may call back in; readers take snapshots under a separate small lock, so
// they never wait for a reload.
class ToolsetManager : public DirectoryMonitorDelegate,
                       public std::enable_shared_from_this<ToolsetManager> {
public:
    static constexpr const char *availableToolsetsDidChange =
        "com.quendrith.corvane.toolsetmanager.availableToolsetsDidChange";
    static constexpr const char *currentDidChange =
        "com.quendrith.corvane.toolsetmanager.currentDidChange";

    using DeviceWatcherFactory =
        std::function<std::shared_ptr<DeviceWatching>(const std::shared_ptr<Toolset> &)>;

    // Built on first use, on the calling thread; the notifications of the
    // first selection are posted before it returns. Other threads asking
    // meanwhile wait for the build (Xcode discovery, the first listing).
    static std::shared_ptr<ToolsetManager> shared();
    // The shared manager once it is built; never waits for a build under
    // way. For work that must not wait on start-up, such as quitting.
    static std::shared_ptr<ToolsetManager> existing();
    // Tests: stops the shared manager; the next shared() builds a new one.
    static void resetShared();

    // Installed by the model at start-up; without one the current toolset
    // gets no device watcher.
    static void setDeviceWatcherFactory(DeviceWatcherFactory factory);

    ~ToolsetManager() override;

    // Newest version first.
    std::vector<std::shared_ptr<Toolset>> availableToolsets() const;
    std::shared_ptr<Toolset> current() const;
    std::optional<QString> xcodeSelectDestination() const;

    void reloadToolsets();
    // The toolset to use; leaves `current` alone but may clear the settings'
    // toolsPath.
    std::shared_ptr<Toolset> selectToolset();
    // Also for the same toolset: its watcher is replaced and the change posted.
    void setCurrent(const std::shared_ptr<Toolset> &toolset);

    bool isCurrentSystemSelected() const;
    QString debugDescription() const;

    // The Xcodes in the applications folder, links resolved, sorted by path.
    static std::vector<QUrl> installedXcodeURLs();
    // The Xcode bundle that xcode-select names, asked anew on every call;
    // `timedOut` tells a tool that did not answer within the tool deadline.
    static std::optional<QUrl> systemSelectedXcodeURL(bool *timedOut = nullptr);
    static std::vector<std::shared_ptr<Toolset>> makeToolsets(const std::vector<QUrl> &urls);

    void
    directoryMonitorDidObserveChange(const std::shared_ptr<DirectoryMonitor> &monitor) override;

private:
    ToolsetManager();
    void start();
    void stop();

    void setAvailableToolsets(std::vector<std::shared_ptr<Toolset>> toolsets);
    void switchToCurrent();
    void xcodeSelectLinkDidChange();
    void handleInvalidToolset(const std::shared_ptr<Toolset> &toolset);

    static std::optional<QString> readXcodeSelectLink();
    // systemSelectedXcodeURL, but once xcode-select has hung it is not asked
    // again before the next reload: a change of the link, an invalid
    // toolset or the General pane. Under the operation lock.
    std::optional<QUrl> askXcodeSelect();

    // Serialises every change of the list and of the current toolset.
    mutable PThreadMutex m_operationLock{PThreadMutexType::recursive};

    mutable std::mutex m_stateMutex;
    std::vector<std::shared_ptr<Toolset>> m_availableToolsets;
    std::shared_ptr<Toolset> m_current;
    std::optional<QString> m_xcodeSelectDestination;

    std::shared_ptr<DirectoryMonitor> m_monitor;
    ObserverCollection m_observers;
    // Under the operation lock.
    bool m_xcodeSelectUnanswered = false;
};

} // namespace corvane
