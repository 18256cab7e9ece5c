#include "common/TestSupport.h"
#include "platform/processes/ChildProcess.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>
#include <unistd.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

// Children of this process that have ended but were not reaped.
int zombieChildren()
{
    int count = 0;
    const QString self = QString::number(getpid());
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(stat.readAll());
        const QStringList fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[0] == "Z" && fields[1] == self)
            ++count;
    }
    return count;
}

int openDescriptors()
{
    return int(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

} // namespace

TEST(ChildProcess, RunsWithArgumentsDirectoryEnvironmentAndPipes)
{
    QTemporaryDir dir;
    ChildProcess process;
    process.setExecutablePath("/bin/sh");
    process.setArguments({"-c",
                          "pwd; echo \"$CORVANE_CHILD_TEST\"; tr '\\0' ' ' < /proc/$$/cmdline; "
                          "echo; readlink /proc/$$/fd/0; echo oops >&2; exit 3"});
    process.setWorkingDirectory(dir.path());
    process.setEnvironmentAdditions({{"CORVANE_CHILD_TEST", "ünï"}});
    process.setStandardOutput(ChildProcess::Channel::Pipe);
    process.setStandardError(ChildProcess::Channel::Pipe);
    std::atomic<int> handled{0};
    std::atomic<int> status{-1};
    process.setTerminationHandler([&](const ChildProcess::Termination &termination) {
        status = termination.status;
        ++handled;
    });
    EXPECT_FALSE(process.isRunning());
    process.launch();

    const auto collected = process.collectOutput(ChildProcess::Clock::now() + 5s);
    EXPECT_TRUE(collected.finished);
    const QStringList lines = QString::fromUtf8(collected.standardOutput).split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(QFileInfo(lines[0]).canonicalFilePath(), QFileInfo(dir.path()).canonicalFilePath());
    EXPECT_EQ(lines[1], "ünï");
    EXPECT_TRUE(lines[2].startsWith("/bin/sh -c ")) << lines[2].toStdString();
    // A tool in a process group of its own must never read the terminal.
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[3], "/dev/null");
    EXPECT_EQ(collected.standardError, "oops\n");

    EXPECT_TRUE(process.waitUntilExit(5000ms));
    EXPECT_TRUE(test::waitUntil([&] { return handled.load() == 1; }));
    EXPECT_EQ(status.load(), 3);
    EXPECT_FALSE(process.isRunning());
    ASSERT_TRUE(process.termination());
    EXPECT_EQ(process.termination()->reason, ChildProcess::TerminationReason::Exit);
    EXPECT_THROW(process.launch(), LaunchError);
}

TEST(ChildProcess, MissingExecutableIsALaunchError)
{
    ChildProcess process;
    process.setExecutablePath("/nonexistent/corvane-tool");
    try {
        process.launch();
        FAIL() << "launched a missing tool";
    } catch (const LaunchError &error) {
        EXPECT_EQ(error.errorNumber(), ENOENT);
        EXPECT_TRUE(error.description().contains("/nonexistent/corvane-tool"));
    }
    EXPECT_FALSE(process.isRunning());
    EXPECT_FALSE(process.isLaunched());
    EXPECT_EQ(zombieChildren(), 0);
}

TEST(ChildProcess, InterruptEndsASleepingChildAndTheHandlerRunsOnce)
{
    ChildProcess process;
    process.setExecutablePath("/bin/sleep");
    process.setArguments({"30"});
    std::atomic<int> handled{0};
    process.setTerminationHandler([&](const ChildProcess::Termination &) { ++handled; });
    process.interrupt();
    process.launch();
    EXPECT_TRUE(process.isRunning());
    process.interrupt();
    EXPECT_TRUE(process.waitUntilExit(5000ms));
    ASSERT_TRUE(process.termination());
    EXPECT_EQ(process.termination()->reason, ChildProcess::TerminationReason::UncaughtSignal);
    EXPECT_EQ(process.termination()->status, SIGINT);
    // After the reap the pid may belong to someone else: nothing is sent.
    process.interrupt();
    test::pumpFor(50ms);
    EXPECT_EQ(handled.load(), 1);
}

TEST(ChildProcess, ManyShortRunsFromManyThreadsLeaveNoZombieOrDescriptor)
{
    const int descriptorsBefore = openDescriptors();
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                ChildProcess process;
                process.setExecutablePath("/bin/echo");
                process.setArguments({"hello"});
                process.setStandardOutput(ChildProcess::Channel::Pipe);
                process.launch();
                if (process.readAllStandardOutput() != "hello\n" || !process.waitUntilExit(5000ms))
                    ++failures;
            }
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(zombieChildren(), 0);
    EXPECT_TRUE(test::waitUntil([&] { return openDescriptors() <= descriptorsBefore; }))
        << openDescriptors() << " descriptors, " << descriptorsBefore << " before";
}

TEST(ChildProcess, CollectOutputStopsAtTheDeadlineWhileTheChildRuns)
{
    ChildProcess process;
    process.setExecutablePath("/bin/sh");
    process.setArguments({"-c", "echo started; exec sleep 30"});
    process.setStandardOutput(ChildProcess::Channel::Pipe);
    process.launch();
    const auto started = ChildProcess::Clock::now();
    const auto collected = process.collectOutput(started + 300ms);
    EXPECT_LT(ChildProcess::Clock::now() - started, 20s);
    EXPECT_FALSE(collected.finished);
    EXPECT_EQ(collected.standardOutput, "started\n");
    EXPECT_TRUE(process.isRunning());
    process.interrupt();
    EXPECT_TRUE(process.waitUntilExit(5000ms));
}

TEST(ChildProcess, ALaunchOnTheMainThreadIsReportedAndKillEndsALateChild)
{
    QStringList reported;
    ChildProcess::setMainThreadLaunchHandler(
        [&](const QString &path, const QStringList &arguments) {
            reported << path + " " + arguments.join(' ');
        });
    ChildProcess onMain;
    onMain.setExecutablePath("/bin/sleep");
    onMain.setArguments({"30"});
    onMain.launch();
    std::thread([] {
        ChildProcess elsewhere;
        elsewhere.setExecutablePath("/bin/true");
        elsewhere.launch();
        elsewhere.waitUntilExit(10s);
    }).join();
    ChildProcess::setMainThreadLaunchHandler({});
    EXPECT_EQ(reported, QStringList{"/bin/sleep 30"});

    onMain.kill();
    ASSERT_TRUE(onMain.waitUntilExit(10s));
    EXPECT_EQ(onMain.termination()->reason, ChildProcess::TerminationReason::UncaughtSignal);
    EXPECT_EQ(onMain.termination()->status, SIGKILL);
}

TEST(Workspace, ListsExecutablesAndAbsoluteFirstArguments)
{
    ChildProcess sleeper;
    sleeper.setExecutablePath("/bin/sleep");
    sleeper.setArguments({"30"});
    sleeper.launch();

    const QStringList paths = Workspace::runningExecutablePaths();
    EXPECT_TRUE(paths.contains(QFileInfo("/proc/self/exe").symLinkTarget()));
    EXPECT_TRUE(paths.contains("/bin/sleep"));
    EXPECT_TRUE(paths.contains(QFileInfo("/bin/sleep").canonicalFilePath()));

    sleeper.interrupt();
    EXPECT_TRUE(sleeper.waitUntilExit(5000ms));
}

TEST(Workspace, EndsAnApplicationByItsExecutableAndSeesWhenItIsGone)
{
    QTemporaryDir dir;
    const QString executable = dir.filePath("Simulator");
    ASSERT_TRUE(QFile::copy("/bin/sleep", executable));
    const QString path = QFileInfo(executable).canonicalFilePath();
    ChildProcess obliging;
    obliging.setExecutablePath(executable);
    obliging.setArguments({"30"});
    obliging.launch();
    // The same program, with SIGTERM ignored.
    ChildProcess stubborn;
    stubborn.setExecutablePath("/bin/sh");
    stubborn.setArguments({"-c", "trap '' TERM; exec '" + executable + "' 30"});
    stubborn.launch();
    ASSERT_TRUE(
        test::waitUntil([&] { return Workspace::runningExecutablePaths().count(path) == 2; }));

    Workspace workspace;
    EXPECT_TRUE(workspace.isApplicationRunning(path));
    EXPECT_TRUE(workspace.terminateApplication(path));
    ASSERT_TRUE(obliging.waitUntilExit(5000ms));
    EXPECT_EQ(obliging.termination()->status, SIGTERM);
    EXPECT_TRUE(workspace.isApplicationRunning(path));

    stubborn.kill();
    ASSERT_TRUE(stubborn.waitUntilExit(5000ms));
    EXPECT_TRUE(test::waitUntil([&] { return !workspace.isApplicationRunning(path); }));
    EXPECT_FALSE(workspace.terminateApplication(path));
}

TEST(ChildProcess, AHandlerHoldingItsProcessIsReleasedAfterTheRun)
{
    std::weak_ptr<ChildProcess> weak;
    std::atomic<bool> handled{false};
    {
        auto process = std::make_shared<ChildProcess>();
        weak = process;
        process->setExecutablePath("/bin/true");
        process->setTerminationHandler([process, &handled](const ChildProcess::Termination &) {
            handled = !process->isRunning();
        });
        process->launch();
    }
    EXPECT_TRUE(test::waitUntil([&] { return weak.expired(); }));
    EXPECT_TRUE(handled.load());
}
