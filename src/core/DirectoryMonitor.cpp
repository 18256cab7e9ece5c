#include "core/DirectoryMonitor.h"

#include "core/Debounce.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace corvane {

// One inotify instance and one reader thread for every monitor: Linux allows
// only 128 instances per user by default, and there is one monitor per device.
// inotify hands out one descriptor per watched inode, so several monitors can
// share a descriptor; it is removed when the last of them stops.
class InotifyHub {
public:
    static InotifyHub &shared()
    {
        static auto *hub = new InotifyHub;
        return *hub;
    }

    // The descriptor, or -1 with `error` set.
    int addWatch(const QString &path, bool isDirectory, bool fileWrites,
                 const DirectoryMonitor *key, const std::weak_ptr<DirectoryMonitor> &monitor,
                 std::uint64_t generation, int &error)
    {
        std::lock_guard lock(m_mutex);
        if (m_fd < 0) {
            error = m_initError;
            return -1;
        }
        // Entries added, removed or renamed; the directory's own attributes
        // (children's are dropped by the reader); the directory deleted or
        // renamed. IN_UNMOUNT and IN_IGNORED come without asking. No IN_MODIFY:
        // rewriting a child is no write to the directory; a monitor that asks
        // for file writes hears a child closed after writing. Masks only grow
        // (IN_MASK_ADD), as monitors share the descriptor of one path.
        std::uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                             IN_DELETE_SELF | IN_MOVE_SELF | IN_MASK_ADD;
        if (fileWrites)
            mask |= IN_CLOSE_WRITE;
        if (isDirectory)
            mask |= IN_ONLYDIR;
        const int wd = inotify_add_watch(m_fd, QFile::encodeName(path).constData(), mask);
        if (wd < 0) {
            error = errno;
            return -1;
        }
        auto &watchers = m_watches[wd];
        std::erase_if(watchers, [key](const Watcher &w) { return w.key == key; });
        watchers.push_back({key, monitor, generation, fileWrites});
        return wd;
    }

    void removeWatch(int wd, const DirectoryMonitor *key)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_watches.find(wd);
        if (it == m_watches.end())
            return;
        std::erase_if(it->second, [key](const Watcher &w) { return w.key == key; });
        if (it->second.empty()) {
            inotify_rm_watch(m_fd, wd);
            m_watches.erase(it);
        }
    }

private:
    struct Watcher {
        const DirectoryMonitor *key;
        std::weak_ptr<DirectoryMonitor> monitor;
        std::uint64_t generation;
        bool fileWrites;
    };
    struct Pending {
        std::weak_ptr<DirectoryMonitor> monitor;
        DirectoryMonitor::Delivery delivery;
    };

    InotifyHub()
    {
        m_fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (m_fd < 0) {
            m_initError = errno;
            Log::filewatcher().error("Unable to create a file-system watch: %{PUBLIC}@",
                                     QString::fromLocal8Bit(std::strerror(m_initError)));
            return;
        }
        std::thread([this] { run(); }).detach();
    }

    void run()
    {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            pollfd fd{m_fd, POLLIN, 0};
            if (poll(&fd, 1, -1) < 0) {
                if (errno == EINTR)
                    continue;
                Log::filewatcher().error("Unable to wait for file-system events: %{PUBLIC}@",
                                         QString::fromLocal8Bit(std::strerror(errno)));
                return;
            }
            const ssize_t length = read(m_fd, buffer, sizeof buffer);
            if (length <= 0)
                continue;
            // One delivery per monitor for the whole batch.
            for (auto &pending : collect(buffer, length))
                if (auto monitor = pending.monitor.lock())
                    monitor->enqueue(pending.delivery);
        }
    }

    std::vector<Pending> collect(const char *buffer, ssize_t length)
    {
        std::vector<Pending> result;
        std::unordered_map<const DirectoryMonitor *, std::size_t> index;
        auto add = [&](const Watcher &watcher, bool watchLost) {
            auto [it, inserted] = index.try_emplace(watcher.key, result.size());
            if (inserted)
                result.push_back({watcher.monitor, {watcher.generation, watchLost}});
            else
                result[it->second].delivery.watchLost |= watchLost;
        };

        std::lock_guard lock(m_mutex);
        for (ssize_t offset = 0; offset + ssize_t(sizeof(inotify_event)) <= length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            offset += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: everybody looks again.
                for (const auto &[wd, watchers] : m_watches)
                    for (const auto &watcher : watchers)
                        add(watcher, false);
                continue;
            }
            auto it = m_watches.find(event->wd);
            if (it == m_watches.end())
                continue;
            const bool named = event->len > 0 && event->name[0] != '\0';
            const std::uint32_t lost = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;
            std::uint32_t relevant = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | lost;
            if (!named)
                relevant |= IN_ATTRIB;
            for (const auto &watcher : it->second)
                if (event->mask & (relevant | (watcher.fileWrites && named ? IN_CLOSE_WRITE : 0)))
                    add(watcher, event->mask & lost);
            // The kernel has dropped the watch; a later stop must not remove
            // a descriptor that may be handed out again.
            if (event->mask & IN_IGNORED)
                m_watches.erase(it);
        }
        return result;
    }

    std::mutex m_mutex;
    int m_fd = -1;
    int m_initError = 0;
    std::unordered_map<int, std::vector<Watcher>> m_watches;
};

namespace {

bool exists(const QString &path)
{
    return QFileInfo::exists(path);
}

std::optional<QString> parentPath(const QString &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0 || path == "/")
        return std::nullopt;
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

std::optional<QString> findRoot(const QString &desired)
{
    QString candidate = desired;
    for (;;) {
        if (exists(candidate))
            return candidate;
        const auto parent = parentPath(candidate);
        if (!parent)
            return std::nullopt;
        candidate = *parent;
    }
}

QString directoryPrefix(const QString &path)
{
    return path.endsWith('/') ? path : path + '/';
}

} // namespace

DirectoryMonitor::DirectoryMonitor(QString path, bool fileWrites)
    : m_desiredPath(std::move(path)), m_fileWrites(fileWrites)
{
}

std::shared_ptr<DirectoryMonitor> DirectoryMonitor::make(const QString &path, bool fileWrites)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return std::shared_ptr<DirectoryMonitor>(new DirectoryMonitor(absolute, fileWrites));
}

DirectoryMonitor::~DirectoryMonitor()
{
    const auto stopped = m_mutex.sync([&] { return stopLocked(); });
    if (stopped)
        Log::filewatcher().debug("Stopped monitoring %{PUBLIC}@", *stopped);
}

DispatchQueuePtr DirectoryMonitor::queue()
{
    static auto *queue = new DispatchQueuePtr(
        DispatchQueue::makeConcurrent("com.quendrith.corvane.directorymonitor"));
    return *queue;
}

void DirectoryMonitor::setDelegate(const std::weak_ptr<DirectoryMonitorDelegate> &delegate)
{
    m_mutex.sync([&] { m_delegate = delegate; });
}

std::optional<QString> DirectoryMonitor::currentPath() const
{
    return m_mutex.sync([&] { return m_currentPath; });
}

bool DirectoryMonitor::isMonitoring() const
{
    return m_mutex.sync([&] { return m_currentPath.has_value(); });
}

QString DirectoryMonitor::restartKey() const
{
    return "FileSystemWatcher" + QString::number(reinterpret_cast<quintptr>(this));
}

void DirectoryMonitor::startMonitoring()
{
    const auto log = Log::filewatcher();
    const std::weak_ptr<DirectoryMonitor> weak = weak_from_this();
    // Held across the watch's creation, so that no delivery for the new
    // descriptor is taken before the monitor knows it.
    m_mutex.sync([&] {
        if (m_currentPath || m_watchDescriptor != -1)
            return;
        m_restartPending = false;
        const auto root = findRoot(m_desiredPath);
        if (!root) {
            log.error("Unable to start monitoring %{PUBLIC}@, can't get an existing root node",
                      m_desiredPath);
            return;
        }
        if (*root == m_desiredPath)
            log.debug("Started monitoring %{PUBLIC}@", *root);
        else
            log.debug("Started monitoring %{PUBLIC}@ (best we can do waiting for %{PUBLIC}@)",
                      *root, QString(m_desiredPath).remove(*root));

        ++m_generation;
        int error = 0;
        // Writes of files matter only in the directory itself, not in the
        // ancestor watched until it exists.
        const int wd = InotifyHub::shared().addWatch(*root, QFileInfo(*root).isDir(),
                                                     m_fileWrites && *root == m_desiredPath, this,
                                                     weak, m_generation, error);
        if (wd < 0) {
            log.error("Unable to start monitoring %{PUBLIC}@: %{PUBLIC}@", *root,
                      QString::fromLocal8Bit(std::strerror(error)));
            return;
        }
        m_watchDescriptor = wd;
        m_currentPath = root;
    });
}

void DirectoryMonitor::stop()
{
    const auto stopped = m_mutex.sync([&] {
        m_restartPending = false;
        return stopLocked();
    });
    if (stopped)
        Log::filewatcher().debug("Stopped monitoring %{PUBLIC}@", *stopped);
}

std::optional<QString> DirectoryMonitor::stopLocked()
{
    if (m_watchDescriptor != -1)
        InotifyHub::shared().removeWatch(m_watchDescriptor, this);
    m_watchDescriptor = -1;
    m_pending.clear();
    return std::exchange(m_currentPath, std::nullopt);
}

void DirectoryMonitor::enqueue(const Delivery &delivery)
{
    const bool schedule = m_mutex.sync([&] {
        if (!m_currentPath || delivery.generation != m_generation)
            return false;
        m_pending.push_back(delivery);
        return !std::exchange(m_draining, true);
    });
    // One drain at a time per monitor: its deliveries never overlap, while
    // other monitors' run beside them on the concurrent queue.
    if (schedule)
        queue()->async([weak = weak_from_this()] {
            if (auto monitor = weak.lock())
                monitor->drainDeliveries();
        });
}

void DirectoryMonitor::drainDeliveries()
{
    for (;;) {
        const auto next = m_mutex.sync([&]() -> std::optional<Delivery> {
            if (m_pending.empty()) {
                m_draining = false;
                return std::nullopt;
            }
            const Delivery front = m_pending.front();
            m_pending.pop_front();
            return front;
        });
        if (!next)
            return;
        handle(*next);
    }
}

void DirectoryMonitor::handle(const Delivery &delivery)
{
    std::optional<QString> current;
    std::weak_ptr<DirectoryMonitorDelegate> delegate;
    m_mutex.sync([&] {
        if (delivery.generation != m_generation)
            return;
        current = m_currentPath;
        delegate = m_delegate;
    });
    if (!current)
        return;

    const auto log = Log::filewatcher();
    log.debug("Detected change in directory for %{PUBLIC}@", *current);
    if (auto target = delegate.lock())
        target->directoryMonitorDidObserveChange(shared_from_this());

    // A watch that the kernel dropped hears nothing more, even when a new
    // directory already stands at the same path.
    if (delivery.watchLost || !exists(*current)) {
        log.debug("Directory being monitor (%{PUBLIC}@) was deleted, restarting to find a new root "
                  "for %{PUBLIC}@",
                  *current, m_desiredPath);
        restart(delivery.generation);
        return;
    }
    if (*current == m_desiredPath)
        return;
    const QString prefix = directoryPrefix(*current);
    if (!m_desiredPath.startsWith(prefix))
        return;
    const QString childName = m_desiredPath.mid(prefix.size()).section('/', 0, 0);
    if (exists(prefix + childName)) {
        log.debug("Directory we were waiting on (%{PUBLIC}@) was created, restarting to find a new "
                  "root for %{PUBLIC}@",
                  childName, m_desiredPath);
        restart(delivery.generation);
    }
}

void DirectoryMonitor::restart(std::uint64_t generation)
{
    // The stop is synchronous, so the debounced start always finds the
    // monitor stopped.
    std::optional<QString> stopped;
    const bool restarting = m_mutex.sync([&] {
        if (generation != m_generation || !m_currentPath)
            return false;
        stopped = stopLocked();
        m_restartPending = true;
        return true;
    });
    if (!restarting)
        return;
    Log::filewatcher().debug("Stopped monitoring %{PUBLIC}@", stopped.value_or("Unknown"));
    debounce(DispatchQueue::background(), 1.0, restartKey(), [weak = weak_from_this()] {
        if (auto monitor = weak.lock())
            monitor->startAfterRestart();
    });
}

void DirectoryMonitor::startAfterRestart()
{
    if (m_mutex.sync([&] { return std::exchange(m_restartPending, false); }))
        startMonitoring();
}

} // namespace corvane
