#include "app/ShellTestSupport.h"
#include "common/TestSupport.h"
#include "fixtures/FixtureTree.h"
#include "platform/processes/ChildProcess.h"
#include "platform/files/ProgramLock.h"

#include <QDir>
#include <QMap>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include <chrono>

using namespace corvane;
using namespace corvane::fixture;
using namespace std::chrono_literals;

namespace {

bool invoked(const FixtureTree &tree, const QString &tool)
{
    for (const Invocation &invocation : tree.invocations())
        if (invocation.tool == tool)
            return true;
    return false;
}

// The program pointed at the tree, with its settings, data and log under
// `home`; the runtime folder, and so the lock, is the tree's.
QMap<QString, QString> programEnvironment(const FixtureTree &tree, const QString &home)
{
    QMap<QString, QString> environment;
    for (const QString &line : tree.environment())
        environment.insert(line.section('=', 0, 0), line.section('=', 1));
    environment.insert("CORVANE_CONFIG_DIR", home + "/config");
    environment.insert("CORVANE_SYNC_DIR", home + "/sync");
    environment.insert("HOME", home == tree.root() ? tree.home() : home);
    environment.insert("XDG_CONFIG_HOME", home + "/xdg/config");
    environment.insert("XDG_DATA_HOME", home + "/xdg/data");
    environment.insert("XDG_CACHE_HOME", home + "/xdg/cache");
    environment.insert("XDG_RUNTIME_DIR", tree.root() + "/runtime");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    if (home != tree.root()) {
        environment.insert("CORVANE_APP_SUPPORT", home + "/support");
        environment.insert("CORVANE_AUTOSTART_DIR", home + "/autostart");
    }
    return environment;
}

void start(ChildProcess &program, const QMap<QString, QString> &environment,
           ChildProcess::Channel standardError = ChildProcess::Channel::Inherit)
{
    program.setExecutablePath(CORVANE_PROGRAM);
    program.setEnvironmentAdditions(environment);
    program.setStandardError(standardError);
    test::offMain([&] { program.launch(); });
}

// The process the lock file names, or 0.
qint64 lockHolder(const FixtureTree &tree)
{
    return test::readFile(tree.root() + "/runtime/com.quendrith.corvane.lock")
        .split('\n')
        .value(0)
        .toLongLong();
}

} // namespace

// The first build of the root menu waits for a slow xcode-select; quitting
// then must not wait for it.
TEST(ProgramQuit, QuittingWhileTheFirstBuildIsHeldEndsTheProgramAtOnce)
{
    FixtureTree tree;
    tree.selectXcode(tree.addXcode());
    Fault slow;
    slow.delaySeconds = 3;
    tree.setFault("xcode-select", slow);

    ChildProcess program;
    start(program, programEnvironment(tree, tree.root()));
    ASSERT_TRUE(test::waitUntil([&] { return invoked(tree, "xcode-select"); }, 30s));

    const auto asked = std::chrono::steady_clock::now();
    program.interrupt();
    const bool ended = program.waitUntilExit(10s);
    if (!ended)
        program.kill();
    ASSERT_TRUE(ended);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    const auto termination = program.termination();
    ASSERT_TRUE(termination);
    EXPECT_EQ(termination->reason, ChildProcess::TerminationReason::Exit);
    EXPECT_EQ(termination->status, 0);
}

TEST(ProgramQuit, ASecondStartLeavesTheFirstAloneAndAKilledOnesLockIsTakenOver)
{
    FixtureTree tree;
    tree.selectXcode(tree.addXcode());
    const auto environment = programEnvironment(tree, tree.root());
    const QString log = tree.paths().programSupportDir() + "/Logs/Corvane.log";
    auto started = [&](int times) {
        return test::waitUntil(
            [&] { return test::readFile(log).count("Corvane starting") == times; }, 30s);
    };
    ChildProcess first, second, third;
    const auto stop = qScopeGuard([&] {
        for (ChildProcess *program : {&first, &third})
            if (program->isRunning())
                program->kill();
    });
    start(first, environment);
    ASSERT_TRUE(started(1));
    EXPECT_EQ(lockHolder(tree), first.processIdentifier());

    // Another home, the same session: it finds the first and writes nothing.
    const QString other = tree.root() + "/other";
    ASSERT_TRUE(QDir().mkpath(other));
    start(second, programEnvironment(tree, other), ChildProcess::Channel::Pipe);
    ASSERT_TRUE(second.waitUntilExit(30s));
    EXPECT_EQ(second.termination()->status, ProgramLock::refusedExitStatus);
    EXPECT_EQ(second.readAllStandardError(), QString("Corvane is already running (process %1).\n")
                                                 .arg(first.processIdentifier())
                                                 .toUtf8());
    EXPECT_TRUE(QDir(other).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_TRUE(first.isRunning());
    EXPECT_EQ(lockHolder(tree), first.processIdentifier());

    first.kill();
    ASSERT_TRUE(first.waitUntilExit(30s));
    // At once: the system may let the killed program's file lock go only a
    // moment after the reap, which a start then waits for.
    start(third, environment);
    ASSERT_TRUE(started(2));
    EXPECT_EQ(lockHolder(tree), third.processIdentifier());
    // It quits on SIGINT as from the menu, and lets the lock go.
    third.interrupt();
    ASSERT_TRUE(third.waitUntilExit(30s));
    EXPECT_EQ(third.termination()->status, 0);
    EXPECT_EQ(lockHolder(tree), 0);
}
