#pragma once

#include "core/Mutex.h"
#include "platform/queues/DispatchQueue.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

namespace corvane {

class DirectoryMonitor;

class DirectoryMonitorDelegate {
public:
    virtual ~DirectoryMonitorDelegate() = default;
    // Called on the monitor queue once per event delivery, before the monitor
    // decides whether to restart.
    virtual void
    directoryMonitorDidObserveChange(const std::shared_ptr<DirectoryMonitor> &monitor) = 0;
};

// Watches one directory that may not exist yet: until it does, the nearest
// existing ancestor is watched, and each creation of the next missing level
// restarts the watch one level closer, one second after the last change. A
// deleted directory restarts the watch from whatever ancestor remains.
class DirectoryMonitor : public std::enable_shared_from_this<DirectoryMonitor> {
public:
    // With `fileWrites`, a file of the directory closed after writing is a
    // change too (an edit in place creates, deletes and renames nothing).
    static std::shared_ptr<DirectoryMonitor> make(const QString &path, bool fileWrites = false);
    ~DirectoryMonitor();
    DirectoryMonitor(const DirectoryMonitor &) = delete;
    DirectoryMonitor &operator=(const DirectoryMonitor &) = delete;

    // The one concurrent queue every monitor delivers on.
    static DispatchQueuePtr queue();

    void setDelegate(const std::weak_ptr<DirectoryMonitorDelegate> &delegate);

    // Starts watching when stopped; does nothing otherwise.
    void startMonitoring();
    // Stops watching and drops a pending restart. Owners call it when they go.
    void stop();

    QString desiredPath() const { return m_desiredPath; }
    // The directory actually watched; nothing when stopped.
    std::optional<QString> currentPath() const;
    bool isMonitoring() const;

    // The debounce key of this monitor's restarts.
    QString restartKey() const;

private:
    friend class InotifyHub;
    struct Delivery {
        std::uint64_t generation = 0;
        // The watch itself is gone (deleted, moved, unmounted or revoked).
        bool watchLost = false;
    };

    DirectoryMonitor(QString path, bool fileWrites);

    void enqueue(const Delivery &delivery);
    void drainDeliveries();
    void handle(const Delivery &delivery);
    void restart(std::uint64_t generation);
    void startAfterRestart();
    // Called with the lock held; returns the path that was watched.
    std::optional<QString> stopLocked();

    const QString m_desiredPath;
    const bool m_fileWrites;

    mutable PThreadMutex m_mutex;
    std::weak_ptr<DirectoryMonitorDelegate> m_delegate;
    int m_watchDescriptor = -1;
    std::optional<QString> m_currentPath;
    // Bumped by every start, so that deliveries of an older watch are dropped.
    std::uint64_t m_generation = 0;
    bool m_restartPending = false;
    std::deque<Delivery> m_pending;
    bool m_draining = false;
};

using DirectoryMonitorPtr = std::shared_ptr<DirectoryMonitor>;

} // namespace corvane
