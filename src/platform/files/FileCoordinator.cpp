#include "platform/files/FileCoordinator.h"

#include <QDir>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace corvane {

namespace {

// The lock of one path. A thread that holds it may take it again in either
// mode (an accessor that reads what it is writing), so nested coordination on
// one thread never deadlocks.
struct PathLock {
    std::condition_variable changed;
    std::map<std::thread::id, int> readers;
    std::thread::id writer;
    int writerDepth = 0;
    int users = 0;
};

class LockRegistry {
public:
    static LockRegistry &instance()
    {
        static LockRegistry registry;
        return registry;
    }

    void acquire(const QString &path, bool exclusive)
    {
        const auto self = std::this_thread::get_id();
        std::unique_lock guard(m_mutex);
        auto &lock = m_locks[path];
        ++lock.users;
        if (exclusive) {
            lock.changed.wait(guard, [&] {
                const bool writerFree = lock.writerDepth == 0 || lock.writer == self;
                const bool readersFree =
                    lock.readers.empty() || (lock.readers.size() == 1 && lock.readers.count(self));
                return writerFree && readersFree;
            });
            lock.writer = self;
            ++lock.writerDepth;
        } else {
            lock.changed.wait(guard, [&] { return lock.writerDepth == 0 || lock.writer == self; });
            ++lock.readers[self];
        }
    }

    void release(const QString &path, bool exclusive)
    {
        const auto self = std::this_thread::get_id();
        std::unique_lock guard(m_mutex);
        auto it = m_locks.find(path);
        if (it == m_locks.end())
            return;
        auto &lock = it->second;
        if (exclusive) {
            if (--lock.writerDepth == 0)
                lock.writer = {};
        } else if (auto reader = lock.readers.find(self);
                   reader != lock.readers.end() && --reader->second == 0) {
            lock.readers.erase(reader);
        }
        if (--lock.users == 0)
            m_locks.erase(it);
        else
            lock.changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::map<QString, PathLock> m_locks;
};

class Held {
public:
    Held(QString path, bool exclusive) : m_path(std::move(path)), m_exclusive(exclusive)
    {
        LockRegistry::instance().acquire(m_path, m_exclusive);
    }
    ~Held() { LockRegistry::instance().release(m_path, m_exclusive); }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;

private:
    QString m_path;
    bool m_exclusive;
};

// Local paths here are absolute when they begin at the root.
QString lockPath(const QString &path, const QString &shown)
{
    QString clean = QDir::cleanPath(path);
    if (!clean.startsWith(u'/'))
        throw FileCoordinationError("Not an absolute path: " + shown);
    return clean;
}

QString lockPath(const QUrl &url)
{
    if (!url.isLocalFile())
        throw FileCoordinationError("Not a file URL: " + url.toString());
    return lockPath(url.toLocalFile(), url.toString());
}

} // namespace

FileCoordinator::FileCoordinator(QString purposeIdentifier)
    : m_purposeIdentifier(std::move(purposeIdentifier))
{
}

FileCoordinator &FileCoordinator::shared(const QString &purposeIdentifier)
{
    static std::mutex mutex;
    static std::map<QString, std::unique_ptr<FileCoordinator>> coordinators;
    std::lock_guard guard(mutex);
    auto &coordinator = coordinators[purposeIdentifier];
    if (!coordinator)
        coordinator = std::make_unique<FileCoordinator>(purposeIdentifier);
    return *coordinator;
}

void FileCoordinator::coordinateReading(const QUrl &url, ReadingOptions, const Accessor &accessor)
{
    Held held(lockPath(url), false);
    accessor(url);
}

void FileCoordinator::coordinateWriting(const QUrl &url, bool, const Accessor &accessor)
{
    Held held(lockPath(url), true);
    accessor(url);
}

void FileCoordinator::coordinateReadingPath(const QString &path,
                                            const std::function<void()> &accessor)
{
    Held held(lockPath(path, path), false);
    accessor();
}

void FileCoordinator::coordinateWritingPath(const QString &path,
                                            const std::function<void()> &accessor)
{
    Held held(lockPath(path, path), true);
    accessor();
}

} // namespace corvane
