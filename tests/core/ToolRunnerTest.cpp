#include "common/TestSupport.h"
#include "core/CorvaneError.h"
#include "core/ProcessRunner.h"
#include "core/Toolset.h"
#include "platform/processes/ChildProcess.h"
#include "platform/Log.h"

#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

class ToolRunner : public ::testing::Test {
protected:
    void TearDown() override
    {
        setToolProcessTimeout(10s);
        // A process a tool left running goes with its test.
        bool valid = false;
        const pid_t pid = test::readFile(m_dir.path() + "/pid").trimmed().toInt(&valid);
        if (valid && pid > 0)
            ::kill(pid, SIGKILL);
    }

    // Shell text that records the pid of the last background job, or of the
    // shell itself, for the tear-down.
    QString recordPid(const QString &which = "$$") const
    {
        return "echo " + which + " > '" + m_dir.path() + "/pid'";
    }

    // A script tool named simctl that runs `body` with the arguments in $@.
    QUrl tool(const QString &body, const QString &name = "simctl")
    {
        const QString path = m_dir.path() + "/" + name;
        EXPECT_TRUE(test::writeScript(path, body));
        return QUrl::fromLocalFile(path);
    }

    QString errorOf(const QUrl &tool, const QStringList &arguments)
    {
        try {
            runToolProcess(tool, arguments);
        } catch (const CorvaneError &error) {
            EXPECT_EQ(error.code(), 1001);
            return error.description();
        }
        ADD_FAILURE() << "no error";
        return {};
    }

    QTemporaryDir m_dir;
};

// The names of the processes of a group that have not ended (zombies left out).
QStringList liveGroupMembers(pid_t group)
{
    QStringList names;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray stat = test::readFile("/proc/" + pid + "/stat");
        // After the name: the state, the parent, the group.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[2].toInt() == group && fields[0] != "Z" && fields[0] != "X")
            names << QString::fromUtf8(test::readFile("/proc/" + pid + "/comm").trimmed());
    }
    return names;
}

const QString kUsage = "printf 'usage: simctl [--set <path>] <subcommand> ...\\n"
                       "       simctl help [subcommand]\\nSubcommands:\\n\\tboot   Boot.\\n'";

} // namespace

TEST_F(ToolRunner, UsageTextIsAnErrorOnlyForASubcommand)
{
    const QUrl simctl = tool(kUsage);
    const auto usage = runToolProcess(simctl, {});
    ASSERT_TRUE(usage);
    EXPECT_TRUE(usage->startsWith("usage: simctl"));
    EXPECT_TRUE(usage->endsWith("Boot."));
    EXPECT_EQ(runToolProcess(simctl, {"help"}), usage);

    Log::Capture capture;
    EXPECT_EQ(errorOf(simctl, {"bogus", "x"}), "usage: simctl [--set <path>] <subcommand> ...");
    EXPECT_TRUE(capture.contains("Error running process " + simctl.toLocalFile() +
                                 " bogus x: usage: simctl [--set <path>]"));
}

TEST_F(ToolRunner, ErrorOutputDecides)
{
    EXPECT_EQ(errorOf(tool("echo useful; printf 'A\\nB\\n' >&2"), {"list"}), "A|B");
    EXPECT_EQ(runToolProcess(tool("echo fine; printf '\\n2024 Metal API Validation Enabled\\n\\n"
                                  "Metal API Validation again\\n' >&2"),
                             {"list"}),
              "fine");
    EXPECT_EQ(runToolProcess(tool("echo '  done  '; exit 3"), {"boot"}), "done");
    EXPECT_EQ(errorOf(tool("echo nope >&2; exit 0"), {"boot"}), "nope");
}

// Quitting an application that is not running, as every export and import
// does, is expected and logged for debugging only; any other complaint, of
// that command or another, is an error.
TEST_F(ToolRunner, OnlyQuittingWhatDoesNotRunIsNoErrorInTheLog)
{
    const QString nothing =
        "An error was encountered processing the command (domain=NSPOSIXErrorDomain, "
        "code=3):\nThe request to terminate \"com.example.demo\" failed. found "
        "nothing to terminate\nfound nothing to terminate";
    const struct {
        QString command;
        QString complaint;
        LogLevel level;
    } cases[] = {
        {"terminate", nothing, LogLevel::Debug},
        {"terminate", "Unable to lookup in current state: Shutdown", LogLevel::Error},
        {"launch", nothing, LogLevel::Error},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.command.toStdString() + " " + c.complaint.toStdString());
        const QUrl simctl = tool("printf '" + c.complaint + "\\n' >&2; exit 3");
        Log::Capture capture;
        EXPECT_FALSE(errorOf(simctl, {c.command, "UDID", "com.example.demo"}).isEmpty());
        std::vector<LogLevel> levels;
        for (const LogEntry &entry : capture.entries())
            if (entry.message.startsWith("Error running process"))
                levels.push_back(entry.level);
        EXPECT_EQ(levels, std::vector{c.level});
    }
}

TEST_F(ToolRunner, OutputThatIsNoUtf8GivesNothing)
{
    EXPECT_EQ(runToolProcess(tool("printf 'ok\\377\\376'"), {"list"}), std::nullopt);
    // Without an output, error output still decides.
    EXPECT_EQ(errorOf(tool("printf '\\377'; echo bad >&2"), {"list"}), "bad");
    // Error output that is no UTF-8 is ignored.
    EXPECT_EQ(runToolProcess(tool("echo out; printf '\\377' >&2"), {"list"}), "out");
}

TEST_F(ToolRunner, MissingToolGivesNothingAndOtherToolsGetSimctlInFront)
{
    EXPECT_EQ(runToolProcess(QUrl::fromLocalFile(m_dir.path() + "/simctl"), {"list"}),
              std::nullopt);

    const QUrl xcrun = tool("echo \"$@\"", "xcrun");
    EXPECT_EQ(runToolProcess(xcrun, {"list", "-j"}), "simctl list -j");
    EXPECT_EQ(makeToolProcess(xcrun, {"boot"})->arguments(), QStringList({"simctl", "boot"}));
    EXPECT_EQ(runToolProcess(tool("echo \"$@\""), {"list", "-j"}), "list -j");
}

TEST_F(ToolRunner, LaunchErrorsPassThroughAndAreLogged)
{
    const QUrl notExecutable = QUrl::fromLocalFile(m_dir.path() + "/simctl");
    ASSERT_TRUE(test::writeFile(notExecutable.toLocalFile(), "plain text"));
    Log::Capture capture;
    EXPECT_THROW(runToolProcess(notExecutable, {"list"}), LaunchError);
    EXPECT_TRUE(
        capture.contains("Error running process " + notExecutable.toLocalFile() + " list: "));
}

TEST_F(ToolRunner, LargeOutputReturnsAtOnceAndComplete)
{
    // Both pipes far beyond what a pipe holds.
    const QUrl simctl = tool("head -c 1048576 /dev/zero | tr '\\0' 'x'; "
                             "yes 'Metal API Validation Enabled' | head -n 20000 >&2");
    const auto started = std::chrono::steady_clock::now();
    const auto output = runToolProcess(simctl, {"list"});
    // Only a stall until the 10-second deadline fails; timings are benchmarks'.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    ASSERT_TRUE(output);
    EXPECT_EQ(output->size(), 1048576);
    EXPECT_EQ(output->count('x'), 1048576);
}

// A tool that stalls halfway is an error, never half an answer, and it is
// ended: SIGTERM, then SIGKILL for one that ignores it.
TEST_F(ToolRunner, AHungToolIsAnErrorAndIsEnded)
{
    setToolProcessTimeout(500ms);
    for (const QString &prelude : {QString(), QStringLiteral("trap '' TERM; ")}) {
        const QUrl simctl =
            tool(prelude + "echo partial; echo complaint >&2; " + recordPid() + "; exec sleep 60");
        Log::Capture capture;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(errorOf(simctl, {"list"}), "simctl list did not finish in 0.5 seconds");
        const auto elapsed = std::chrono::steady_clock::now() - started;
        EXPECT_GE(elapsed, 450ms);
        EXPECT_LT(elapsed, 30s);
        EXPECT_TRUE(
            capture.contains(simctl.toLocalFile() + " list took longer than 500 ms and was ended"));
        EXPECT_TRUE(capture.contains("Error running process " + simctl.toLocalFile() +
                                     " list: simctl list did not finish in 0.5 seconds"));
        const pid_t pid = test::readFile(m_dir.path() + "/pid").trimmed().toInt();
        ASSERT_GT(pid, 0);
        EXPECT_EQ(::kill(pid, 0), -1) << prelude.toStdString();
    }
}

// The host tools (xcode-select, defaults, open, ...) have the deadline too:
// one that never answers is ended and logged, whether its output is read or
// it is only waited for.
TEST_F(ToolRunner, AHostToolThatNeverAnswersIsEndedAtTheDeadline)
{
    setToolProcessTimeout(500ms);
    const QString path =
        tool("echo partial; " + recordPid() + "; exec sleep 60", "xcode-select").toLocalFile();
    const std::function<bool()> runs[] = {[&] {
                                              bool timedOut = false;
                                              return !runProcess(path, {"-p"}, {}, &timedOut) &&
                                                     timedOut;
                                          },
                                          [&] {
                                              ChildProcess process;
                                              process.setExecutablePath(path);
                                              process.setArguments({"-p"});
                                              process.launch();
                                              return !awaitTool(process);
                                          }};
    for (const auto &run : runs) {
        Log::Capture capture;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_TRUE(run());
        EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
        EXPECT_TRUE(capture.contains(path));
        EXPECT_TRUE(capture.contains("took longer than 500 ms and was ended"));
        const pid_t pid = test::readFile(m_dir.path() + "/pid").trimmed().toInt();
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(test::waitUntil([&] { return ::kill(pid, 0) == -1; }));
    }
}

// A tool ended at its deadline takes the processes it started along, also
// ones that ignore SIGTERM or outlive it.
TEST_F(ToolRunner, AToolEndedAtItsDeadlineTakesItsChildrenAlong)
{
    const struct {
        const char *name;
        QString body;
    } cases[] = {
        {"all end at SIGTERM", "sleep 60 & sleep 60 & wait"},
        {"all ignore SIGTERM", "trap '' TERM; sleep 60 & sleep 60 & wait"},
        {"the children ignore SIGTERM",
         "(trap '' TERM; exec sleep 60) & (trap '' TERM; exec sleep 60) & wait"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        ChildProcess process;
        process.setExecutablePath(tool(row.body, "xcode-select").toLocalFile());
        process.setStandardOutput(ChildProcess::Channel::Pipe);
        process.launch();
        const pid_t group = process.processIdentifier();
        ASSERT_TRUE(test::waitUntil([&] { return liveGroupMembers(group).count("sleep") == 2; }));

        EXPECT_FALSE(collectToolOutput(process, 10ms));
        ASSERT_TRUE(process.waitUntilExit(30s));
        EXPECT_TRUE(test::waitUntil([&] { return liveGroupMembers(group).isEmpty(); }))
            << liveGroupMembers(group).join(' ').toStdString();
        // Orphans that came back to this process, a reaper in some tests.
        while (::waitpid(-group, nullptr, WNOHANG) > 0) {
        }
    }
}

TEST_F(ToolRunner, ABackgroundGrandchildDoesNotHoldTheCall)
{
    setToolProcessTimeout(60s);
    const QUrl simctl = tool("echo listed; sleep 120 & " + recordPid("$!"));
    Log::Capture capture;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(runToolProcess(simctl, {"list"}), "listed");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
}

TEST(ProcessRunner, ReturnsTrimmedOutputAndPassesLaunchErrors)
{
    EXPECT_EQ(runProcess("/bin/echo", {"abc"}), "abc");
    EXPECT_EQ(runProcess("/bin/true", {}), QString(""));
    EXPECT_EQ(runProcess("/bin/sh", {"-c", "echo out; echo err >&2; exit 4"}), "out");
    EXPECT_EQ(runProcess("/bin/sh", {"-c", "printf '\\377'"}), std::nullopt);

    Log::Capture capture;
    EXPECT_THROW(runProcess("/nonexistent/tool", {"-p"}), LaunchError);
    EXPECT_TRUE(capture.contains("Error running process: "));
    EXPECT_TRUE(capture.contains("/nonexistent/tool -p"));
}
