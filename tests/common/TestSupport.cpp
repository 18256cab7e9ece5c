#include "common/TestSupport.h"

#include "platform/queues/DispatchQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace corvane::test {

bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        else
            DispatchQueue::drainMain();
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void pumpFor(std::chrono::milliseconds duration)
{
    waitUntil([] { return false; }, duration);
}

bool waitForBackgroundWork(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // Work on a worker may wait for the main queue, so both are served in turn.
        const bool idle = DispatchQueue::waitUntilIdle(std::chrono::milliseconds(10));
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        // A worker that ends between the first look at the main queue and the
        // last look at the workers may have posted to main: look again.
        if (DispatchQueue::drainMain() == 0 && idle &&
            DispatchQueue::waitUntilIdle(std::chrono::milliseconds(0)) &&
            DispatchQueue::drainMain() == 0)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
}

QString randomText(std::mt19937 &random, const QStringList &pieces, int maxPieces)
{
    QString text;
    for (int count = int(random() % unsigned(maxPieces + 1)); count > 0; --count)
        text += pieces.at(int(random() % unsigned(pieces.size())));
    return text;
}

qint64 peakResidentBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

QString realWorldPath(const QString &relative)
{
    return QStringLiteral(CORVANE_REAL_WORLD_DIR) + "/" + relative;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

pid_t spawnZombie()
{
    char program[] = "/bin/true";
    char *argv[] = {program, nullptr};
    pid_t pid = -1;
    siginfo_t info{};
    if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0 ||
        ::waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0)
        return -1;
    return pid;
}

namespace {

// A process the program starts on another thread while the script is open for
// writing holds that descriptor until it runs its own program, and the kernel
// refuses to run a file open for writing ("Text file busy"). A read lease is
// granted only when no process has the file open for writing.
void waitUntilNoWriters(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::fcntl(fd, F_SETLEASE, F_RDLCK) != 0) {
        // Another error: no leases here, and nothing to wait for.
        if (errno != EAGAIN || std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    ::close(fd);
}

} // namespace

bool writeScript(const QString &path, const QString &body)
{
    // Written beside and moved into place: the old script may be running.
    const QString temporary = path + ".new";
    if (!writeFile(temporary, ("#!/bin/sh\n" + body + "\n").toUtf8()) ||
        !QFile::setPermissions(temporary, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadGroup | QFile::ExeGroup |
                                              QFile::ReadOther | QFile::ExeOther))
        return false;
    waitUntilNoWriters(temporary);
    return ::rename(QFile::encodeName(temporary).constData(),
                    QFile::encodeName(path).constData()) == 0;
}

} // namespace corvane::test
