#include "app/ShellTestSupport.h"
#include "common/TestSupport.h"
#include "fixtures/FixtureTree.h"
#include "platform/ChildProcess.h"

#include <QMap>
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

    QMap<QString, QString> environment;
    for (const QString &line : tree.environment())
        environment.insert(line.section('=', 0, 0), line.section('=', 1));
    const QString root = tree.root();
    environment.insert("CORVANE_CONFIG_DIR", root + "/config");
    environment.insert("CORVANE_SYNC_DIR", root + "/sync");
    environment.insert("HOME", tree.home());
    environment.insert("XDG_CONFIG_HOME", root + "/xdg/config");
    environment.insert("XDG_DATA_HOME", root + "/xdg/data");
    environment.insert("XDG_CACHE_HOME", root + "/xdg/cache");
    environment.insert("QT_QPA_PLATFORM", "offscreen");

    ChildProcess program;
    program.setExecutablePath(CORVANE_PROGRAM);
    program.setEnvironmentAdditions(environment);
    test::offMain([&] { program.launch(); });
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
