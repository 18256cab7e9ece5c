#include "tasks/ContainerClaims.h"

#include "core/File.h"
#include "platform/Log.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SystemPaths.h"

#include <QCryptographicHash>
#include <QDir>

#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

namespace corvane {

namespace fs = std::filesystem;

struct ContainerClaims::Claim::State {
    struct Entry {
        std::uint64_t id;
        std::vector<fs::path> folders;
        QString activity;
        // Retained: held for the rest of the run, with its locks.
        bool waiting = false;
        std::vector<int> locks;
    };

    ~State()
    {
        for (const Entry &entry : entries)
            for (int lock : entry.locks)
                ::close(lock);
    }

    mutable std::mutex mutex;
    std::uint64_t nextID = 1;
    std::vector<Entry> entries;
};

namespace {

// A folder by any of its names, or by the one it is given when the disk
// cannot tell (then two spellings of one folder may pass for two: the
// containers' own listing spells them alike).
fs::path resolved(const fs::path &folder)
{
    std::error_code error;
    const fs::path path = fs::weakly_canonical(folder, error);
    return error || path.empty() ? folder.lexically_normal() : path;
}

bool overlap(const fs::path &a, const fs::path &b)
{
    return isWithin(a, b) || isWithin(b, a);
}

void closeAll(const std::vector<int> &locks)
{
    for (int lock : locks)
        ::close(lock);
}

// Locks the folder for this claim: a descriptor holding the lock, -1 when
// another program holds it, -2 (logged) when there is no lock file to take.
int lockOne(const QString &lockFolder, const fs::path &folder)
{
    const QByteArray name = QCryptographicHash::hash(QByteArray::fromStdString(folder.native()),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .left(40);
    const QString path = lockFolder + '/' + QString::fromLatin1(name) + ".lock";
    const int descriptor = QDir().mkpath(lockFolder) ? RegularFile::openLock(path) : -1;
    if (descriptor < 0) {
        Log("archive").error("Cannot open the lock file %{public}@ of %{public}@: %{public}@", path,
                             displayPath(folder), QString::fromLocal8Bit(std::strerror(errno)));
        return -2;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0)
        return descriptor;
    ::close(descriptor);
    return -1;
}

} // namespace

ContainerClaims::Claim::Claim(std::weak_ptr<State> state, std::uint64_t id, std::vector<int> locks)
    : m_state(std::move(state)), m_id(id), m_locks(std::move(locks))
{
}

ContainerClaims::Claim::Claim(Claim &&other) noexcept
    : m_state(std::move(other.m_state)), m_id(std::exchange(other.m_id, 0)),
      m_locks(std::exchange(other.m_locks, {}))
{
}

ContainerClaims::Claim::~Claim()
{
    release();
}

void ContainerClaims::Claim::release()
{
    // Unlocked first: once the registry lets the folder go, it is free for all.
    closeAll(std::exchange(m_locks, {}));
    const auto state = m_state.lock();
    if (!state || m_id == 0)
        return;
    std::lock_guard lock(state->mutex);
    std::erase_if(state->entries, [&](const State::Entry &entry) { return entry.id == m_id; });
    m_id = 0;
}

ContainerClaims::ContainerClaims(QString lockFolder)
    : m_lockFolder(std::move(lockFolder)), m_state(std::make_shared<Claim::State>())
{
}

ContainerClaims::ContainerClaims() : ContainerClaims(QString())
{
}

ContainerClaims::~ContainerClaims() = default;

QString ContainerClaims::lockFolder() const
{
    return m_lockFolder.isEmpty() ? SystemPaths::current().stateDir + "/locks" : m_lockFolder;
}

std::variant<ContainerClaims::Claim, ContainerClaims::Refusal>
ContainerClaims::claim(const std::vector<fs::path> &folders, const QString &activity)
{
    // Resolving looks at the disk: done before the lock is taken.
    std::vector<fs::path> wanted;
    wanted.reserve(folders.size());
    for (const fs::path &folder : folders)
        wanted.push_back(resolved(folder));
    const QString locks = lockFolder();

    std::lock_guard lock(m_state->mutex);
    for (const auto &entry : m_state->entries)
        for (const fs::path &held : entry.folders)
            if (std::any_of(wanted.begin(), wanted.end(),
                            [&](const fs::path &folder) { return overlap(folder, held); }))
                return Refusal{entry.waiting ? Refusal::Reason::waiting : Refusal::Reason::running,
                               entry.activity};
    // Taken while the registry is locked, so that two tasks of this program
    // never see each other's lock as another program's.
    std::vector<int> taken;
    for (const fs::path &folder : wanted) {
        const int descriptor = lockOne(locks, folder);
        if (descriptor < 0) {
            closeAll(taken);
            return Refusal{
                descriptor == -1 ? Refusal::Reason::elsewhere : Refusal::Reason::unlockable, {}};
        }
        taken.push_back(descriptor);
    }
    const std::uint64_t id = m_state->nextID++;
    m_state->entries.push_back({id, std::move(wanted), activity, false, {}});
    return Claim(m_state, id, std::move(taken));
}

void ContainerClaims::retain(Claim &&claim)
{
    const auto state = claim.m_state.lock();
    if (!state || state != m_state || claim.m_id == 0)
        return;
    std::lock_guard lock(state->mutex);
    for (auto &entry : state->entries) {
        if (entry.id != claim.m_id)
            continue;
        entry.waiting = true;
        entry.locks = std::exchange(claim.m_locks, {});
        claim.m_id = 0;
        return;
    }
}

} // namespace corvane
