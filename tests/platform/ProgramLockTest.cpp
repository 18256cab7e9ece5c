#include "common/TestSupport.h"
#include "platform/processes/ChildProcess.h"
#include "platform/files/ProgramLock.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace corvane;
using namespace std::chrono_literals;

// Runs `work` on a thread without root's way past file permissions, as a
// user's program runs: the tests run as root.
template <class Work> auto asAUserWould(Work work)
{
    decltype(work()) result{};
    std::thread([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        ASSERT_EQ(::syscall(SYS_capget, &header, caps), 0);
        caps[0].effective &=
            ~(1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH | 1u << CAP_FOWNER);
        ASSERT_EQ(::syscall(SYS_capset, &header, caps), 0); // this thread's alone
        result = work();
    }).join();
    return result;
}

// A lock file that names no process was cut short while it was written: it
// is taken over once it is old, never while it may still be being written.
// One named by a running program is held. One whose program has ended is
// taken over, also when the system lets the ended program's file lock go
// only a moment after its end, as it does for a program that was killed. The
// lock is tried as a user would, without root's way past permissions.
TEST(ProgramLock, AStaleLockIsTakenOverAndALiveOneIsLeftAlone)
{
    const auto naming = [](pid_t pid, const QByteArray &application) {
        return QByteArray::number(pid) + '\n' + application + "\n\n";
    };
    const QByteArray self =
        naming(::getpid(), QFileInfo("/proc/self/exe").symLinkTarget().toUtf8());
    // A process that has ended and been reaped.
    ChildProcess process;
    process.setExecutablePath("/bin/true");
    std::thread([&] { process.launch(); }).join();
    ASSERT_TRUE(process.waitUntilExit(30s));
    const QByteArray ended = naming(process.processIdentifier(), "corvane");
    using Outcome = ProgramLock::Outcome;
    const struct {
        const char *name;
        QByteArray content;
        mode_t mode;
        int secondsAgo;
        // How long the system holds the file lock of the program named.
        std::optional<std::chrono::milliseconds> lockedFor;
        Outcome outcome;
    } cases[] = {
        {"empty, a minute old", "", 0644, 60, {}, Outcome::Taken},
        {"empty, just written", "", 0644, 0, {}, Outcome::HeldElsewhere},
        {"no pid, a minute old", "corvane\n\n", 0644, 60, {}, Outcome::Taken},
        {"no pid, just written", "x\n", 0644, 1, {}, Outcome::HeldElsewhere},
        {"unreadable, a minute old", "", 0, 60, {}, Outcome::Taken},
        {"unreadable, just written", "", 0, 0, {}, Outcome::HeldElsewhere},
        {"a minute ahead of the clock", "", 0644, -60, {}, Outcome::Taken},
        {"a moment ahead of the clock", "", 0644, -2, {}, Outcome::HeldElsewhere},
        {"running", self, 0644, 0, 0ms, Outcome::HeldElsewhere},
        {"ended", ended, 0644, 0, 0ms, Outcome::Taken},
        {"ended, let go a moment later", ended, 0644, 0, 300ms, Outcome::Taken},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(ProgramLock::fileName);
        const QByteArray name = QFile::encodeName(path);
        ASSERT_TRUE(test::writeFile(path, row.content));
        ASSERT_EQ(::chmod(name.constData(), row.mode), 0);
        timespec at{}; // `secondsAgo` back, or ahead of the clock
        ::clock_gettime(CLOCK_REALTIME, &at);
        at.tv_sec -= row.secondsAgo;
        const timespec times[2] = {at, at};
        ASSERT_EQ(::utimensat(AT_FDCWD, name.constData(), times, 0), 0);
        std::thread letGo;
        if (row.lockedFor) {
            const int held = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(held, 0);
            ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
            letGo = std::thread([held, after = *row.lockedFor] {
                // The system's delay, not a wait for the lock: the start below
                // waits on its own.
                std::this_thread::sleep_for(after);
                ::close(held);
            });
            if (*row.lockedFor == 0ms)
                letGo.join();
        }

        ProgramLock lock(dir.path());
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(asAUserWould([&] { return lock.tryLock(); }), row.outcome);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
        if (letGo.joinable())
            letGo.join();
        const bool taken = row.outcome == Outcome::Taken;
        EXPECT_EQ(lock.holder(), taken ? 0 : row.content.split('\n')[0].toLongLong());
        ::chmod(name.constData(), 0600);
        if (taken)
            EXPECT_EQ(test::readFile(path).split('\n')[0].toLongLong(), ::getpid());
        else
            EXPECT_EQ(test::readFile(path), row.content);
    }
}
