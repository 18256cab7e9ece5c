#include "FixtureTestSupport.h"

#include "common/TestSupport.h"
#include "fixtures/sim/ProcessWatch.h"
#include "platform/ChildProcess.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

using namespace corvane;
using namespace corvane::fixture;
using namespace corvane::fixture::checks;
using namespace std::chrono_literals;

extern char **environ;

namespace {

// Set for the test process that the test of that name starts and kills.
constexpr char kKilledTestTree[] = "CORVANE_KILLED_TEST_TREE";

pid_t spawnTrue()
{
    pid_t pid = -1;
    char path[] = "/bin/true";
    char *argv[] = {path, nullptr};
    EXPECT_EQ(::posix_spawn(&pid, path, nullptr, nullptr, argv, environ), 0);
    return pid;
}

// The killed test process: it lays out devices in the tree, has their
// processes started in each way the fake starts them, says so, and waits.
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
    Fault hang;
    hang.hang = true;
    tree.setFault("list", hang);
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
    const pid_t zombie = spawnTrue();
    ASSERT_GT(zombie, 0);
    const QByteArray zombieToken = processWatchToken(zombie);
    ASSERT_TRUE(test::waitUntil([&] {
        const auto stat = watch::processStat(zombie);
        return stat && stat->state == 'Z';
    }));
    const pid_t reaped = spawnTrue();
    ASSERT_GT(reaped, 0);
    const QByteArray reapedToken = processWatchToken(reaped);
    ASSERT_EQ(::waitpid(reaped, nullptr, 0), reaped);
    ASSERT_FALSE(zombieToken.isEmpty() || reapedToken.isEmpty());
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

// A test process that is killed (as a CI timeout does) takes the fake's
// long-lived processes along, whoever started them: the test itself or the
// fake simctl, which has ended since. A tool of the test's that never
// answers goes too.
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

    const QList<TreeProcess> started = tree.processes();
    int stubs = 0;
    for (const TreeProcess &process : started)
        stubs += process.startedByFixture;
    // Two launchd_sim, the app and Simulator, and the hung simctl.
    EXPECT_EQ(stubs, 4);
    EXPECT_EQ(started.size(), 5);

    killed.kill();
    ASSERT_TRUE(killed.waitUntilExit(30s));
    EXPECT_TRUE(test::waitUntil([&] { return tree.processes().isEmpty(); }));
    // They came back to this process, which reaps them.
    for (const TreeProcess &process : started)
        ::waitpid(process.pid, nullptr, WNOHANG);
}
