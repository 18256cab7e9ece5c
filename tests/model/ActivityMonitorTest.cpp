#include "common/ReferencePatterns.h"
#include "common/TestSupport.h"
#include "core/Uuid.h"
#include "model/ActivityMonitor.h"
#include "fixtures/FixtureTree.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <QRegularExpression>

#include <chrono>
#include <random>
#include <thread>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

const QString kDevice = "5B8A2C2E-0A8D-4E5C-9D55-7B3C1C1C9A01";
const QString kApplication = "0F4E9A7B-7C1D-4B6E-8E27-2D9D1E4A3B02";

QString simulatorLine(const QString &pid, const QString &uuid)
{
    return "  " + pid +
           " ??  0:01.50 launchd_sim /Users/u/Library/Developer/CoreSimulator/Devices/" + uuid +
           "/data/var/run/launchd_bootstrap.plist";
}

QString applicationPath(const QString &device, const QString &application,
                        const QString &tail = "Foo.app/Foo")
{
    return "/Users/u/Library/Developer/CoreSimulator/Devices/" + device +
           "/data/Containers/Bundle/Application/" + application + "/" + tail;
}

class ActivityMonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedPaths = SystemPaths::current();
        SystemPaths paths = m_savedPaths;
        paths.ps = m_dir.path() + "/ps";
        SystemPaths::setCurrent(paths);
        m_monitor = ActivityMonitor::make([this] { return m_now; });
    }
    void TearDown() override { SystemPaths::setCurrent(m_savedPaths); }

    // A ps that counts its runs and prints the given lines.
    void setProcessList(const QStringList &lines)
    {
        test::writeFile(m_dir.path() + "/list", lines.join('\n').toUtf8());
        test::writeScript(m_dir.path() + "/ps", "echo run >> '" + m_dir.path() + "/runs'\ncat '" +
                                                    m_dir.path() + "/list'");
    }
    int runs() const { return test::readFile(m_dir.path() + "/runs").count("run\n"); }

    QTemporaryDir m_dir;
    SystemPaths m_savedPaths;
    ActivityMonitor::TimePoint m_now = ActivityMonitor::TimePoint() + std::chrono::hours(1000);
    std::shared_ptr<ActivityMonitor> m_monitor;
};

} // namespace

TEST(ActivityMonitorParsing, SimulatorLines)
{
    const auto process = ActivityMonitor::parseSimulatorProcess(simulatorLine("1234", kDevice));
    ASSERT_TRUE(process);
    EXPECT_EQ(process->pid, 1234);
    EXPECT_EQ(uuidString(process->deviceUUID), kDevice);

    EXPECT_FALSE(ActivityMonitor::parseSimulatorProcess(simulatorLine("1234", kDevice.toLower())));
    // 36 allowed characters that are no UUID.
    EXPECT_FALSE(ActivityMonitor::parseSimulatorProcess(
        simulatorLine("1234", "ZZZZZZZZ-0A8D-4E5C-9D55-7B3C1C1C9A01")));
    EXPECT_FALSE(ActivityMonitor::parseSimulatorProcess(simulatorLine("2147483648", kDevice)));
    EXPECT_EQ(ActivityMonitor::parseSimulatorProcess(simulatorLine("2147483647", kDevice))->pid,
              2147483647);
    // The Linux ps columns.
    EXPECT_TRUE(ActivityMonitor::parseSimulatorProcess(
        "4321 ?        00:00:00 launchd_sim /home/u/Library/Developer/CoreSimulator/Devices/" +
        kDevice + "/data/var/run/launchd_bootstrap.plist"));
    // An application line is no simulator.
    EXPECT_FALSE(ActivityMonitor::parseSimulatorProcess("1 ?? 0:00 " +
                                                        applicationPath(kDevice, kApplication)));
}

TEST(ActivityMonitorParsing, ApplicationLines)
{
    const QString path = applicationPath(kDevice, kApplication);
    const auto process = ActivityMonitor::parseApplicationProcess("  77 ??  0:00.10 " + path);
    ASSERT_TRUE(process);
    EXPECT_EQ(process->pid, 77);
    EXPECT_EQ(process->url, QUrl::fromLocalFile(path));
    EXPECT_EQ(uuidString(process->deviceUUID), kDevice);
    EXPECT_EQ(uuidString(process->applicationUUID), kApplication);

    EXPECT_TRUE(ActivityMonitor::parseApplicationProcess(
        "77 ?? 0:00 " + applicationPath(kDevice, kApplication, "Foo.app/")));
    EXPECT_FALSE(ActivityMonitor::parseApplicationProcess(
        "77 ?? 0:00 " + applicationPath(kDevice, kApplication, "Foo.app")));
    EXPECT_FALSE(ActivityMonitor::parseApplicationProcess(
        "77 ?? 0:00 " + applicationPath(kDevice.toLower(), kApplication)));
    EXPECT_FALSE(ActivityMonitor::parseApplicationProcess("2147483648 ?? 0:00 " + path));
    EXPECT_FALSE(ActivityMonitor::parseApplicationProcess("?? 0:00 " + path));
}

TEST(ActivityMonitorParsing, ApplicationLinesMatchAsTheExpressionDoes)
{
    const QStringList pieces{" ",
                             "\t",
                             "77",
                             "??",
                             "0:00.10",
                             "/",
                             "x",
                             "/Users/u",
                             "/Library/Developer/CoreSimulator/Devices/",
                             kDevice,
                             kApplication.toLower(),
                             "/data/Containers/Bundle/Application/",
                             ".app/",
                             ".app",
                             "Foo",
                             applicationPath(kDevice, kApplication, ""),
                             applicationPath(kDevice, kApplication, "Foo.app/"),
                             applicationPath(kDevice, kApplication.toLower(), "")};
    std::mt19937 random(2141);
    int matched = 0;
    for (int i = 0; i < 20000; ++i) {
        QString line = test::randomText(random, pieces, 8);
        if (i % 2)
            line = "  77 ??  0:00.10 " + line;
        const auto expected = reference::applicationProcess(line);
        matched += expected.has_value();
        ASSERT_EQ(ActivityMonitor::parseApplicationProcess(line), expected) << line.toStdString();
    }
    EXPECT_GT(matched, 500);
    // The last fragment that an ".app/" follows names the UUIDs.
    const QString other = "5B8A2C2E-0A8D-4E5C-9D55-7B3C1C1C9A99";
    for (const QString &line : {"1 ?? 0:00 " + applicationPath(kDevice, kApplication, "") +
                                    applicationPath(other, kApplication, "A.app/x"),
                                "1 ?? 0:00 " + applicationPath(kDevice, kApplication, "A.app/") +
                                    applicationPath(other, kApplication, "x")}) {
        EXPECT_EQ(ActivityMonitor::parseApplicationProcess(line),
                  reference::applicationProcess(line));
        ASSERT_TRUE(reference::applicationProcess(line));
    }
}

// Any process on the machine whose arguments repeat the folder fragment
// without ".app/" stalled every refresh (11 s at 1.2 MB).
TEST(ActivityMonitorParsing, LongLinesParseInOnePass)
{
    const QString fragment = applicationPath(kDevice, kApplication, "");
    const QString repeated = fragment.repeated((1 << 20) / fragment.size());
    for (const QString &line : {"77 ?? 0:00 " + repeated, "77 ?? 0:00 " + repeated + "A.app/A",
                                simulatorLine("1", kDevice) + repeated,
                                "1 ?? 0:00 launchd_sim " + repeated + simulatorLine("", kDevice)}) {
        const auto started = std::chrono::steady_clock::now();
        ActivityMonitor::parseProcessList(line);
        // Only a stall fails.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    }
    EXPECT_TRUE(ActivityMonitor::parseApplicationProcess("77 ?? 0:00 " + repeated + "A.app/A"));
}

TEST(ActivityMonitorParsing, ProcessListKeepsOrderAndSplitsAllNewlines)
{
    const QString other = "5B8A2C2E-0A8D-4E5C-9D55-7B3C1C1C9A99";
    const QString output = simulatorLine("1", kDevice) + "\r\n" + "2 ?? 0:00 " +
                           applicationPath(kDevice, kApplication) + "\n" + "3 ?? 0:00 /bin/zsh" +
                           QChar(0x2028) + simulatorLine("4", other);
    const auto list = ActivityMonitor::parseProcessList(output);
    ASSERT_EQ(list.simulators.size(), 2u);
    EXPECT_EQ(list.simulators[0].pid, 1);
    EXPECT_EQ(uuidString(list.simulators[1].deviceUUID), other);
    ASSERT_EQ(list.applications.size(), 1u);
    EXPECT_EQ(list.applications[0].pid, 2);
}

TEST_F(ActivityMonitorTest, AnswersStayFreshForTwoSeconds)
{
    setProcessList(
        {simulatorLine("1234", kDevice), "99 ?? 0:00 " + applicationPath(kDevice, kApplication)});
    const QUuid device = *parseUuid(kDevice);

    EXPECT_EQ(m_monitor->simulatorProcess(device)->pid, 1234);
    EXPECT_EQ(m_monitor->lastCheck(), m_now);
    m_now += 1500ms;
    EXPECT_EQ(m_monitor->applicationProcess(*parseUuid(kApplication))->pid, 99);
    EXPECT_EQ(runs(), 1);

    // Exactly two seconds after the check is still fresh.
    m_now += 500ms;
    m_monitor->simulatorProcess(device);
    EXPECT_EQ(runs(), 1);
    m_now += 1ms;
    m_monitor->simulatorProcess(device);
    EXPECT_EQ(runs(), 2);

    m_monitor->markOutOfDate();
    EXPECT_EQ(m_monitor->lastCheck(), ActivityMonitor::TimePoint());
    EXPECT_FALSE(m_monitor->simulatorProcess(*parseUuid(kApplication)));
    EXPECT_EQ(runs(), 3);
}

TEST_F(ActivityMonitorTest, FailingPsKeepsTheListsAndCountsAsACheck)
{
    setProcessList({simulatorLine("1234", kDevice)});
    m_monitor->refreshProcesses();
    ASSERT_EQ(m_monitor->simulatorProcesses().size(), 1u);

    QFile::remove(m_dir.path() + "/ps");
    m_now += 10s;
    EXPECT_TRUE(m_monitor->simulatorProcess(*parseUuid(kDevice)));
    EXPECT_EQ(m_monitor->lastCheck(), m_now);

    // Output that is no UTF-8 keeps them too.
    test::writeScript(m_dir.path() + "/ps", "printf '\\377\\376'");
    m_monitor->refreshProcesses();
    EXPECT_EQ(m_monitor->simulatorProcesses().size(), 1u);

    // An answer without CoreSimulator empties both.
    test::writeScript(m_dir.path() + "/ps", "echo '1 ?? 0:00 /sbin/launchd'");
    m_monitor->refreshProcesses();
    EXPECT_TRUE(m_monitor->simulatorProcesses().empty());
    EXPECT_TRUE(m_monitor->applicationProcesses().empty());
}

TEST_F(ActivityMonitorTest, ConcurrentQuestionsRunPsOnce)
{
    setProcessList({simulatorLine("1234", kDevice)});
    const QUuid device = *parseUuid(kDevice);
    std::vector<std::thread> threads;
    std::atomic<int> found{0};
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            for (int j = 0; j < 20; ++j)
                if (m_monitor->simulatorProcess(device))
                    ++found;
        });
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(runs(), 1);
    EXPECT_GT(found.load(), 0);
}

TEST_F(ActivityMonitorTest, TheLatestSnapshotComesAtOnceAndItsListingRunsElsewhere)
{
    // A ps that answers once the gate file exists.
    const QString gate = m_dir.path() + "/gate";
    test::writeFile(m_dir.path() + "/list", simulatorLine("1234", kDevice).toUtf8());
    test::writeScript(m_dir.path() + "/ps",
                      "echo run >> '" + m_dir.path() + "/runs'\nwhile [ ! -f '" + gate +
                          "' ]; do sleep 0.01; done\ncat '" + m_dir.path() + "/list'");
    std::atomic<int> changes{0};
    ObserverCollection observers;
    observers.append(m_monitor->observeChanges(DispatchQueue::background(), [&] { ++changes; }));

    const auto first = m_monitor->latestSnapshot();
    EXPECT_TRUE(first->simulators.empty());
    ASSERT_TRUE(test::waitUntil([&] { return runs() == 1; }));
    // Asked again while that listing waits: the same snapshot, no second ps.
    EXPECT_EQ(m_monitor->latestSnapshot(), first);
    test::writeFile(gate, "open");
    ASSERT_TRUE(test::waitUntil([&] { return changes == 1; }));
    const auto listed = m_monitor->latestSnapshot();
    ASSERT_TRUE(listed->simulatorProcess(*parseUuid(kDevice)));
    EXPECT_EQ(listed->simulatorProcess(*parseUuid(kDevice))->pid, 1234);
    EXPECT_EQ(runs(), 1);

    // Marked out of date while a listing runs: it lists again afterwards.
    // The same processes again tell nobody.
    QFile::remove(gate);
    m_monitor->markOutOfDate();
    m_monitor->latestSnapshot();
    ASSERT_TRUE(test::waitUntil([&] { return runs() == 2; }));
    m_monitor->markOutOfDate();
    test::writeFile(gate, "open");
    ASSERT_TRUE(test::waitUntil([&] { return runs() == 3; }));
    ASSERT_TRUE(DispatchQueue::waitUntilIdle(10s));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(m_monitor->latestSnapshot(), listed);
}

TEST_F(ActivityMonitorTest, AnEarlierListingThatEndsLaterNeverReplacesANewerList)
{
    // Each run reads the list and counts itself; the first then waits for
    // the gate before it answers.
    const QString dir = m_dir.path();
    test::writeFile(dir + "/list", simulatorLine("1234", kDevice).toUtf8());
    // The first run claims its place before it counts itself, so the second
    // can never take the waiting role.
    test::writeScript(dir + "/ps", "content=$(cat '" + dir + "/list')\nif mkdir '" + dir +
                                       "/first' 2>/dev/null; then\n  echo run >> '" + dir +
                                       "/runs'\n  while [ ! -f '" + dir +
                                       "/gate' ]; do sleep 0.01; done\nelse\n  echo run >> '" +
                                       dir + "/runs'\nfi\necho \"$content\"");
    m_monitor->latestSnapshot();
    ASSERT_TRUE(test::waitUntil([&] { return runs() == 1; }));

    test::writeFile(dir + "/list", simulatorLine("5678", kDevice).toUtf8());
    m_monitor->refreshProcesses();
    ASSERT_EQ(m_monitor->latestSnapshot()->simulatorProcess(*parseUuid(kDevice))->pid, 5678);
    test::writeFile(dir + "/gate", "open");
    ASSERT_TRUE(DispatchQueue::waitUntilIdle(10s));
    EXPECT_EQ(m_monitor->latestSnapshot()->simulatorProcess(*parseUuid(kDevice))->pid, 5678);
}

TEST_F(ActivityMonitorTest, ALateListingIsEndedAndTheLastSnapshotStays)
{
    setProcessList({simulatorLine("1234", kDevice)});
    m_monitor->refreshProcesses();
    const auto before = m_monitor->latestSnapshot();
    ASSERT_EQ(before->simulators.size(), 1u);

    const QString pidFile = m_dir.path() + "/pid";
    test::writeScript(m_dir.path() + "/ps", "echo $$ > '" + pidFile + "'\nexec sleep 30");
    const auto started = std::chrono::steady_clock::now();
    m_monitor->refreshProcesses();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_EQ(m_monitor->latestSnapshot(), before);
    const pid_t pid = test::readFile(pidFile).trimmed().toInt();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(test::waitUntil([&] { return ::kill(pid, 0) != 0; }));
}

// The simulated Xcode boots a device and launches an application; the real
// process list shows both.
TEST(ActivityMonitorSystem, RealPsFindsTheFakesSimulatorAndApplication)
{
    fixture::FixtureTree tree;
    tree.addXcode();
    tree.addRuntime("iOS", "17.5");
    const QString udid = tree.addDevice({"iPhone", "iPhone 15 Pro", "iOS 17.5"});
    fixture::AppSpec spec;
    spec.identifier = "com.example.sample";
    spec.name = "Sample";
    const fixture::AppInstall install = tree.installApp(udid, spec);
    ASSERT_TRUE(tree.boot(udid));
    const pid_t pid = tree.launchApp(udid, spec.identifier);
    ASSERT_GT(pid, 0);

    const SystemPaths saved = SystemPaths::current();
    SystemPaths::setCurrent(tree.paths());
    auto monitor = ActivityMonitor::make();
    monitor->refreshProcesses();
    SystemPaths::setCurrent(saved);

    const auto simulator = monitor->simulatorProcess(*parseUuid(udid));
    ASSERT_TRUE(simulator);
    EXPECT_GT(simulator->pid, 0);
    const auto application = monitor->applicationProcess(*parseUuid(install.bundleUuid));
    ASSERT_TRUE(application);
    EXPECT_EQ(application->pid, pid);
    EXPECT_EQ(uuidString(application->deviceUUID), udid);
    EXPECT_TRUE(application->url.toLocalFile().startsWith(install.bundlePath + "/"));
}
