#include "platform/files/AtomicFile.h"

#include "platform/Log.h"
#include "platform/files/ScratchFiles.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

constexpr qint64 kBufferSize = 64 * 1024;
// As many links as the system itself follows.
constexpr int kMaxLinks = 40;

std::mutex g_faultMutex;
std::optional<AtomicFile::Fault> g_fault;

// The fault a test set for the step; one that only holds the save there is
// waited on here and then gone on from.
std::optional<AtomicFile::Fault> faultAt(AtomicFile::Step step)
{
    std::optional<AtomicFile::Fault> fault;
    {
        std::lock_guard lock(g_faultMutex);
        if (g_fault && g_fault->step == step)
            fault = g_fault;
    }
    if (fault && fault->hold) {
        fault->hold();
        return std::nullopt;
    }
    return fault;
}

// fsync(2), where a test's fault at the sync stands in for it.
int syncDescriptor(int descriptor)
{
    if (const auto fault = faultAt(AtomicFile::Step::sync)) {
        errno = fault->error;
        return -1;
    }
    return ::fsync(descriptor);
}

const char *stepName(AtomicFile::Step step)
{
    switch (step) {
    case AtomicFile::Step::create: return "creating the new file";
    case AtomicFile::Step::write: return "writing";
    case AtomicFile::Step::sync: return "syncing";
    case AtomicFile::Step::close: return "closing";
    case AtomicFile::Step::rename: return "putting the new file in place";
    }
    return "";
}

// The file a chain of links ends at; the path itself when it is none.
std::string resolvedTarget(const std::string &path)
{
    namespace fs = std::filesystem;
    fs::path current = path;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(current, error)))
            break;
        const fs::path target = fs::read_symlink(current, error);
        if (error)
            break;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current.native();
}

std::string folderOf(const std::string &path)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.native();
}

long long modifiedNs(const struct stat &status)
{
    return static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
}

} // namespace

AtomicFile::AtomicFile(QString path, Durability durability)
    : m_path(std::move(path)), m_durability(durability)
{
}

AtomicFile::~AtomicFile()
{
    if (!m_committed)
        discard();
}

void AtomicFile::setFaultForTesting(std::optional<Fault> fault)
{
    std::lock_guard lock(g_faultMutex);
    g_fault = fault;
}

bool AtomicFile::save(const QString &path, const QByteArray &bytes, Durability durability)
{
    AtomicFile file(path, durability);
    return file.open() && file.write(bytes) && file.commit();
}

bool AtomicFile::open()
{
    if (m_descriptor >= 0 || m_failed || m_committed)
        return false;
    if (const auto fault = faultAt(Step::create))
        return fail(Step::create, fault->error);
    m_target = resolvedTarget(QFile::encodeName(m_path).toStdString());

    struct stat old {};
    mode_t mode = 0666;
    if (::stat(m_target.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode))
            return fail(Step::create, EISDIR);
        m_hadOldFile = true;
        m_oldModifiedNs = modifiedNs(old);
        // Private until it has the old file's permissions.
        if (S_ISREG(old.st_mode))
            mode = 0600;
    }

    const std::string folder = folderOf(m_target);
    ScratchFiles::sweepOnce(folder);
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && m_descriptor < 0 && error == EEXIST; ++attempt) {
        const std::string candidate = ScratchFiles::nameBeside(m_target);
        do {
            m_descriptor = ::open(candidate.c_str(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        } while (m_descriptor < 0 && errno == EINTR);
        if (m_descriptor >= 0)
            m_temporary = candidate;
        else
            error = errno;
    }
    if (m_descriptor < 0)
        return fail(Step::create, error);
    if (mode == 0600 && ::fchmod(m_descriptor, old.st_mode & 07777) != 0)
        return fail(Step::create, errno);
    return true;
}

bool AtomicFile::write(const char *data, qint64 size)
{
    if (m_descriptor < 0 || m_failed)
        return false;
    if (m_buffer.size() + size <= kBufferSize) {
        m_buffer.append(data, size);
        return true;
    }
    if (!flushBuffer())
        return false;
    if (size <= kBufferSize) {
        m_buffer.append(data, size);
        return true;
    }
    return writeOut(data, size);
}

bool AtomicFile::flushBuffer()
{
    if (m_buffer.isEmpty())
        return true;
    const bool written = writeOut(m_buffer.constData(), m_buffer.size());
    m_buffer.clear();
    return written;
}

bool AtomicFile::writeOut(const char *data, qint64 size)
{
    const auto fault = faultAt(Step::write);
    while (size > 0) {
        qint64 chunk = size;
        if (fault) {
            chunk = std::min(chunk, fault->afterBytes - m_written);
            if (chunk <= 0)
                return fail(Step::write, fault->error);
        }
        const ssize_t count = ::write(m_descriptor, data, size_t(chunk));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return fail(Step::write, errno);
        // Nothing taken and no error: the device is full.
        if (count == 0)
            return fail(Step::write, ENOSPC);
        data += count;
        size -= count;
        m_written += count;
    }
    return true;
}

bool AtomicFile::commit()
{
    if (m_descriptor < 0 || m_failed || !flushBuffer())
        return false;
    // Readers that judge a file by its size and time (QSettings does) must
    // see a change made within the same millisecond as the last one.
    struct stat status {};
    if (m_hadOldFile && ::fstat(m_descriptor, &status) == 0 &&
        modifiedNs(status) / 1000000 <= m_oldModifiedNs / 1000000) {
        const long long later = m_oldModifiedNs + 1000000;
        const struct timespec times[2] = {{0, UTIME_OMIT},
                                          {time_t(later / 1000000000), long(later % 1000000000)}};
        ::futimens(m_descriptor, times);
    }
    if (m_durability == Durability::synced && syncDescriptor(m_descriptor) != 0)
        return fail(Step::sync, errno);
    if (const auto fault = faultAt(Step::close))
        return fail(Step::close, fault->error);
    const int descriptor = std::exchange(m_descriptor, -1);
    if (::close(descriptor) != 0)
        return fail(Step::close, errno);
    if (const auto fault = faultAt(Step::rename))
        return fail(Step::rename, fault->error);
    if (::rename(m_temporary.c_str(), m_target.c_str()) != 0)
        return fail(Step::rename, errno);
    m_committed = true;
    m_temporary.clear();
    if (m_durability == Durability::unsynced)
        return true;

    // The rename itself lasts only once the folder is synced; the file is in
    // place either way, so a folder that cannot be synced is only noted.
    const std::string folder = folderOf(m_target);
    const int folderDescriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderDescriptor < 0 || (syncDescriptor(folderDescriptor) != 0 && errno != EINVAL)) {
        Log::general().notice("Saved %{public}@, but its folder could not be synced: %{public}@",
                              m_path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (folderDescriptor >= 0)
        ::close(folderDescriptor);
    return true;
}

void AtomicFile::discard()
{
    closeDescriptor();
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    m_buffer.clear();
}

void AtomicFile::closeDescriptor()
{
    if (m_descriptor >= 0)
        ::close(std::exchange(m_descriptor, -1));
}

bool AtomicFile::fail(Step step, int error)
{
    if (!m_failed) {
        m_failed = true;
        m_error = error;
        Log::general().error("Cannot save %{public}@ (%{public}@: %{public}@); the file there is "
                             "left as it was",
                             m_path, QString::fromLatin1(stepName(step)), errorString());
    }
    discard();
    return false;
}

QString AtomicFile::errorString() const
{
    return m_error ? QString::fromLocal8Bit(std::strerror(m_error)) : QString();
}

} // namespace corvane
