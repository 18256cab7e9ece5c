#include "FixtureTestSupport.h"

#include "common/TestSupport.h"
#include "fixtures/sim/ProcessWatch.h"
#include "platform/processes/ChildProcess.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <thread>

using namespace corvane;
using namespace corvane::fixture;
using namespace corvane::fixture::checks;
using namespace std::chrono_literals;

namespace {

// Set for the test process that the test of that name starts and kills.
constexpr char kKilledTestTree[] = "CORVANE_KILLED_TEST_TREE";

// The killed test process: starts the fake's processes each way the fake
// does, says so, and waits.
[[noreturn]] void startTheFakesProcessesAndWait(const QString &root)
{
    FixtureTree tree(root);
    const QString xcode = tree.addXcode();
    tree.selectXcode(xcode);
    tree.addRuntime("iOS", "17.5");
    const QString first = tree.addDevice({"iPhone 15", {}, "iOS 17.5", false, {}});
    const QString second = tree.addDevice({"iPhone 15 Pro", {}, "iOS 17.5", false, {}});
    tree.installApp(first, sampleApp());
    const bool started = tree.boot(first) && tree.simctl({"boot", second}).exitCode == 0 &&
                         tree.launchApp(first, sampleApp().identifier) > 0 &&
                         tree.startSimulatorApp(xcode) > 0;
    // And a tool that never answers, started from here.
    tree.setFault("list", {.hang = true});
    ChildProcess hung;
    hung.setExecutablePath(tree.simctlPath());
    hung.setArguments({"list"});
    std::thread([&] { hung.launch(); }).join();
    test::writeFile(root + "/started", started ? "yes" : "no");
    for (;;)
        ::pause();
}

} // namespace

TEST(FakeProcessWatch, AProcessHasEndedWhenGoneAZombieOrItsPidIsReused)
{
    const pid_t zombie = test::spawnZombie(), reaped = test::spawnZombie();
    const QByteArray zombieToken = processWatchToken(zombie),
                     reapedToken = processWatchToken(reaped);
    ASSERT_FALSE(zombieToken.isEmpty() || reapedToken.isEmpty());
    ASSERT_EQ(::waitpid(reaped, nullptr, 0), reaped);
    const QByteArray self = QByteArray::number(::getpid());

    const struct {
        const char *name;
        QByteArray token;
        bool ended;
    } cases[] = {
        {"this process", processWatchToken(::getpid()), false},
        {"a zombie", zombieToken, true},
        {"a reaped process", reapedToken, true},
        {"another start time", self + ":1", true},
        {"nothing", "", false},
        {"no start time", self + ":", false},
        {"no pid", ":1", false},
        {"no number", "abc:1", false},
        {"a group", "-1:1", false},
        {"three parts", self + ":1:2", false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(watchedProcessEnded(row.token), row.ended);
    }
    EXPECT_EQ(::waitpid(zombie, nullptr, 0), zombie);
}

// A killed test process (as at a CI timeout) takes along the fake's
// long-lived processes, whoever started them, and its own hung tool.
TEST(FakeProcessWatch, TheFakesProcessesEndWithAKilledTestProcess)
{
    const QString childRoot = qEnvironmentVariable(kKilledTestTree);
    if (!childRoot.isEmpty())
        startTheFakesProcessesAndWait(childRoot);

    FixtureTree tree;
    ChildProcess killed;
    killed.setExecutablePath(QFileInfo("/proc/self/exe").symLinkTarget());
    killed.setArguments(
        {"--gtest_filter=FakeProcessWatch.TheFakesProcessesEndWithAKilledTestProcess"});
    killed.setEnvironmentAdditions({{kKilledTestTree, tree.root()}});
    killed.setStandardOutput(ChildProcess::Channel::Pipe);
    killed.setStandardError(ChildProcess::Channel::Pipe);
    std::thread([&] { killed.launch(); }).join();
    const auto stop = qScopeGuard([&] {
        killed.kill();
        killed.waitUntilExit(30s);
    });
    const QString said = tree.root() + "/started";
    ASSERT_TRUE(test::waitUntil(
        [&] { return !test::readFile(said).isEmpty() || !killed.isRunning(); }, 60s));
    ASSERT_EQ(test::readFile(said), "yes");

    // Two launchd_sim, the app and Simulator, and the hung simctl.
    const QList<TreeProcess> started = tree.processes();
    EXPECT_EQ(std::ranges::count_if(started, &TreeProcess::startedByFixture), 4);
    EXPECT_EQ(started.size(), 5);

    killed.kill();
    ASSERT_TRUE(killed.waitUntilExit(30s));
    EXPECT_TRUE(test::waitUntil([&] { return tree.processes().isEmpty(); }));
    // They came back to this process, which reaps them.
    for (const TreeProcess &process : started)
        ::waitpid(process.pid, nullptr, WNOHANG);
}

// `make run` as the Makefile has it, with a stand-in for the program: the
// demo's processes end with the program and the recipe's shell killed at
// once, and a second run that the lock turns away leaves the first one's.
TEST(FakeProcessWatch, TheDemosProcessesEndWithTheProgramThatMakeRunShows)
{
    const QString make = QStandardPaths::findExecutable("make");
    ASSERT_FALSE(make.isEmpty());
    QTemporaryDir dir;
    const QString demo = dir.filePath("demo"), refused = dir.filePath("refused");
    ASSERT_TRUE(test::writeScript(refused, "exit 75"));
    const auto fakes = [&] {
        QList<pid_t> pids;
        for (const TreeProcess &process : treeProcesses(demo))
            if (process.startedByFixture)
                pids.append(process.pid);
        std::ranges::sort(pids);
        return pids;
    };
    const auto stop = qScopeGuard([&] { FixtureTree::stopProcesses(demo); });
    const auto makeRun = [&](ChildProcess &run, const QString &program) {
        run.setExecutablePath(make);
        run.setArguments({"-s", "-C", CORVANE_SOURCE_DIR, "-o", "build", "run", "DEMO=" + demo,
                          "FIXTURE=" CORVANE_FIXTURE_CLI, "DEMO_PROGRAM=" + program});
        run.setEnvironmentAdditions({{"MAKEFLAGS", ""}, {"MAKELEVEL", ""}});
        run.setStandardOutput(ChildProcess::Channel::Pipe);
        run.setStandardError(ChildProcess::Channel::Pipe);
        std::thread([&] { run.launch(); }).join();
    };

    ChildProcess first;
    makeRun(first, "sleep 600");
    // Two launchd_sim, an app and Simulator.
    ASSERT_TRUE(test::waitUntil([&] { return fakes().size() == 4 || !first.isRunning(); }, 120s));
    ASSERT_TRUE(first.isRunning());
    const QList<pid_t> started = fakes();

    ChildProcess second;
    makeRun(second, refused);
    ASSERT_TRUE(second.waitUntilExit(120s));
    EXPECT_NE(second.termination()->status, 0);
    // Had they watched the second run, they would end within a few polls.
    test::pumpFor(1s);
    EXPECT_EQ(fakes(), started);

    first.kill();
    ASSERT_TRUE(first.waitUntilExit(30s));
    EXPECT_TRUE(test::waitUntil([&] { return fakes().isEmpty(); }));
    for (const pid_t pid : started)
        ::waitpid(pid, nullptr, WNOHANG);
}
