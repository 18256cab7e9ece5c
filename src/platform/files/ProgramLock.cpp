#include "platform/files/ProgramLock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

// A lock file that names no process was cut short while it was written; one
// this old (or this far ahead of the clock) belongs to no program that is
// starting.
constexpr qint64 unreadableLockAgeMs = 10'000;

// The system may let the file lock of a program that was killed go only a
// moment after the program has been reaped; a start in that moment waits up
// to this long for it.
constexpr int endedHolderReleaseMs = 3'000;

bool isRunning(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

bool isPrivateFolder(const QByteArray &path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

} // namespace

QString ProgramLock::runtimeDir()
{
    const QString session = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!session.isEmpty() && QDir::isAbsolutePath(session)) {
        const QByteArray path = QFile::encodeName(session);
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
            return {};
        return session;
    }
    // Without a session folder, one of the user's own beside the temporary
    // files; a folder there that someone else could reach is not used.
    const QByteArray path =
        QFile::encodeName(QDir::tempPath() + "/corvane-" + QString::number(::getuid()));
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    return isPrivateFolder(path) ? QFile::decodeName(path) : QString();
}

ProgramLock::ProgramLock(QString directory)
    : m_path(directory.isEmpty() ? QString() : QDir(directory).filePath(fileName))
{
}

ProgramLock::~ProgramLock() = default;

ProgramLock::Outcome ProgramLock::tryLock()
{
    if (m_path.isEmpty())
        return Outcome::Unavailable;
    m_file = std::make_unique<QLockFile>(m_path);
    // Held for as long as the program runs: a lock is stale when its holder
    // is gone, never because of its age.
    m_file->setStaleLockTime(0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (m_file->tryLock(0))
            return Outcome::Taken;
        if (m_file->error() != QLockFile::LockFailedError)
            return Outcome::Unavailable;
        QString host, application;
        m_holder = 0;
        if (m_file->getLockInfo(&m_holder, &host, &application)) {
            if (isRunning(m_holder))
                return Outcome::HeldElsewhere;
            if (m_file->tryLock(endedHolderReleaseMs)) {
                m_holder = 0;
                return Outcome::Taken;
            }
            if (m_file->error() != QLockFile::LockFailedError)
                return Outcome::Unavailable;
            // Taken meanwhile by another start, or held by something else.
            if (!m_file->getLockInfo(&m_holder, &host, &application) || !isRunning(m_holder))
                m_holder = 0;
            return Outcome::HeldElsewhere;
        }
        const QDateTime modified = QFileInfo(m_path).lastModified();
        if (modified.isValid() &&
            std::abs(modified.msecsTo(QDateTime::currentDateTime())) < unreadableLockAgeMs)
            return Outcome::HeldElsewhere;
        // Also one that cannot be read or written: the folder is the user's own.
        ::fchmodat(AT_FDCWD, QFile::encodeName(m_path).constData(), 0600, AT_SYMLINK_NOFOLLOW);
        m_file->removeStaleLockFile();
    }
    return Outcome::HeldElsewhere;
}

void ProgramLock::release()
{
    m_file.reset();
}

} // namespace corvane
