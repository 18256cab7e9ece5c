#include "common/TestSupport.h"

#include "platform/DispatchQueue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/resource.h>

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

bool writeScript(const QString &path, const QString &body)
{
    if (!writeFile(path, ("#!/bin/sh\n" + body + "\n").toUtf8()))
        return false;
    return QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                           QFile::ExeOther);
}

} // namespace corvane::test
