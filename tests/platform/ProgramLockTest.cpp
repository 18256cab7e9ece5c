#include "common/TestSupport.h"
#include "platform/ChildProcess.h"
#include "platform/ProgramLock.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

using Outcome = ProgramLock::Outcome;

// Dates a file `seconds` back (ahead of the clock when negative).
bool setAge(const QString &path, int seconds)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec -= seconds;
    const timespec times[2] = {now, now};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

qint64 namedProcess(const QString &lockPath)
{
    return test::readFile(lockPath).split('\n').value(0).toLongLong();
}

// The pid of a process that has ended and been reaped.
pid_t endedProcess()
{
    ChildProcess process;
    process.setExecutablePath("/bin/true");
    std::thread([&] { process.launch(); }).join();
    EXPECT_TRUE(process.waitUntilExit(30s));
    return process.processIdentifier();
}

} // namespace

// A lock file that names no process was cut short while it was written: it
// is taken over once it is old, never while it may still be being written.
TEST(ProgramLock, AFileThatNamesNoProcessIsTakenOverOnlyWhenOld)
{
    const struct {
        const char *name;
        QByteArray content;
        mode_t mode;
        int secondsAgo;
        Outcome outcome;
    } cases[] = {
        {"empty, a minute old", "", 0644, 60, Outcome::Taken},
        {"empty, just written", "", 0644, 0, Outcome::HeldElsewhere},
        {"no pid, a minute old", "corvane\n\n", 0644, 60, Outcome::Taken},
        {"no pid, just written", "x\n", 0644, 1, Outcome::HeldElsewhere},
        {"unreadable, a minute old", "", 0, 60, Outcome::Taken},
        {"unreadable, just written", "", 0, 0, Outcome::HeldElsewhere},
        {"a minute ahead of the clock", "", 0644, -60, Outcome::Taken},
        {"a moment ahead of the clock", "", 0644, -2, Outcome::HeldElsewhere},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(ProgramLock::fileName);
        ASSERT_TRUE(test::writeFile(path, row.content));
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), row.mode), 0);
        ASSERT_TRUE(setAge(path, row.secondsAgo));

        ProgramLock lock(dir.path());
        EXPECT_EQ(lock.tryLock(), row.outcome);
        EXPECT_EQ(lock.holder(), 0);
        if (row.outcome == Outcome::Taken) {
            EXPECT_EQ(namedProcess(path), ::getpid());
        } else {
            ::chmod(QFile::encodeName(path).constData(), 0600);
            EXPECT_EQ(test::readFile(path), row.content);
        }
    }
}

// A lock named by a running program is held. One whose program has ended is
// taken over, also when the system lets the ended program's file lock go
// only a moment after its end, as it does for a program that was killed.
TEST(ProgramLock, AnEndedProgramsLockIsTakenOverOnceTheSystemLetsItGo)
{
    const pid_t self = ::getpid();
    const pid_t ended = endedProcess();
    const QByteArray selfName = QFileInfo("/proc/self/exe").symLinkTarget().toUtf8();
    const struct {
        const char *name;
        pid_t holder;
        QByteArray application;
        std::chrono::milliseconds heldAfterEnd;
        Outcome outcome;
    } cases[] = {
        {"running", self, selfName, 0ms, Outcome::HeldElsewhere},
        {"ended", ended, "corvane", 0ms, Outcome::Taken},
        {"ended, let go a moment later", ended, "corvane", 300ms, Outcome::Taken},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(ProgramLock::fileName);
        ASSERT_TRUE(test::writeFile(path, QByteArray::number(row.holder) + '\n' + row.application +
                                              "\n\n"));
        const int held = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
        std::thread letGo([&] {
            // The system's delay, not a wait for the lock: the start below
            // waits on its own.
            std::this_thread::sleep_for(row.heldAfterEnd);
            ::close(held);
        });
        if (row.heldAfterEnd == 0ms)
            letGo.join();

        ProgramLock lock(dir.path());
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(lock.tryLock(), row.outcome);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
        if (letGo.joinable())
            letGo.join();
        EXPECT_EQ(lock.holder(), row.outcome == Outcome::Taken ? 0 : row.holder);
        EXPECT_EQ(namedProcess(path), row.outcome == Outcome::Taken ? self : row.holder);
    }
}
