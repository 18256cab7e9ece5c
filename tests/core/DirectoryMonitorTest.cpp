#include "common/TestSupport.h"
#include "core/Debounce.h"
#include "core/DirectoryMonitor.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

struct CountingDelegate : DirectoryMonitorDelegate {
    std::atomic<int> calls{0};
    void directoryMonitorDidObserveChange(const DirectoryMonitorPtr &) override { ++calls; }
};

struct Watched {
    DirectoryMonitorPtr monitor;
    std::shared_ptr<CountingDelegate> delegate = std::make_shared<CountingDelegate>();

    explicit Watched(const QString &path) : monitor(DirectoryMonitor::make(path))
    {
        monitor->setDelegate(delegate);
        monitor->startMonitoring();
    }
    ~Watched() { monitor->stop(); }

    bool watches(const QString &path) const { return monitor->currentPath() == path; }
};

bool touch(const QString &path)
{
    return test::writeFile(path, "x");
}

// Settles a monitor after a restart: the debounced start has run.
bool waitForWatch(const Watched &watched, const QString &path)
{
    return test::waitUntil(
        [&] { return watched.watches(path) && !debounceIsPending(watched.monitor->restartKey()); });
}

} // namespace

TEST(DirectoryMonitor, WaitsOnTheAncestorAndComesCloserOneLevelAtATime)
{
    QTemporaryDir tmp;
    const QString root = tmp.path();
    const QString desired = root + "/b/c";
    Log::Capture log;
    Watched watched(desired);

    EXPECT_TRUE(watched.watches(root));
    EXPECT_TRUE(log.contains("Started monitoring " + root + " (best we can do waiting for /b/c)"));

    // An unrelated entry tells the delegate and leaves the watch where it is.
    ASSERT_TRUE(touch(root + "/unrelated"));
    ASSERT_TRUE(test::waitUntil([&] { return watched.delegate->calls >= 1; }));
    test::pumpFor(100ms);
    EXPECT_TRUE(watched.watches(root));
    EXPECT_FALSE(log.contains("Stopped monitoring"));

    const auto created = Clock::now();
    ASSERT_TRUE(QDir().mkdir(root + "/b"));
    ASSERT_TRUE(waitForWatch(watched, root + "/b"));
    EXPECT_GE(Clock::now() - created, 900ms);
    EXPECT_TRUE(log.contains("Directory we were waiting on (b) was created, restarting to find a "
                             "new root for " +
                             desired));
    EXPECT_TRUE(log.contains("Started monitoring " + root + "/b (best we can do waiting for /c)"));

    ASSERT_TRUE(QDir().mkdir(desired));
    ASSERT_TRUE(waitForWatch(watched, desired));
    EXPECT_TRUE(log.contains("Started monitoring " + desired));

    const int before = watched.delegate->calls;
    ASSERT_TRUE(touch(desired + "/file"));
    EXPECT_TRUE(test::waitUntil([&] { return watched.delegate->calls > before; }));
}

TEST(DirectoryMonitor, DeletedDirectoryRestartsOnTheAncestorWithOrWithoutDelegate)
{
    QTemporaryDir tmp;
    const QString desired = tmp.path() + "/watched";
    ASSERT_TRUE(QDir().mkdir(desired));
    Log::Capture log;
    Watched watched(desired);
    auto lonely = DirectoryMonitor::make(desired);
    lonely->startMonitoring();
    ASSERT_TRUE(watched.watches(desired));

    ASSERT_TRUE(QDir(desired).removeRecursively());
    ASSERT_TRUE(test::waitUntil([&] { return watched.delegate->calls >= 1; }));
    ASSERT_TRUE(test::waitUntil(
        [&] { return !lonely->isMonitoring() && !watched.monitor->isMonitoring(); }));
    EXPECT_TRUE(log.contains("Directory being monitor (" + desired +
                             ") was deleted, restarting to find a new root for " + desired));
    // The line follows the stop itself, so it may come a moment after the
    // monitors report they are stopped.
    EXPECT_TRUE(test::waitUntil([&] { return log.count("Stopped monitoring " + desired) == 2; }));

    ASSERT_TRUE(waitForWatch(watched, tmp.path()));
    EXPECT_TRUE(test::waitUntil([&] { return lonely->currentPath() == tmp.path(); }));
    lonely->stop();
}

TEST(DirectoryMonitor, ABurstOfCreationsGivesOneRestart)
{
    QTemporaryDir tmp;
    const QString desired = tmp.path() + "/awaited";
    Log::Capture log;
    Watched watched(desired);
    ASSERT_TRUE(watched.watches(tmp.path()));

    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(touch(tmp.path() + QString("/before-%1").arg(i)));
    ASSERT_TRUE(QDir().mkdir(desired));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(touch(tmp.path() + QString("/after-%1").arg(i)));

    ASSERT_TRUE(waitForWatch(watched, desired));
    test::pumpFor(200ms);
    EXPECT_EQ(log.count("Started monitoring"), 2);
    EXPECT_EQ(log.count("Stopped monitoring"), 1);
    EXPECT_EQ(log.count("was created"), 1);
}

TEST(DirectoryMonitor, ChildContentAndAttributeChangesAreNoDelivery)
{
    QTemporaryDir tmp;
    const QString file = tmp.path() + "/child";
    ASSERT_TRUE(touch(file));
    Watched watched(tmp.path());

    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(test::writeFile(file, QByteArray::number(i)));
    ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner));
    test::pumpFor(200ms);
    EXPECT_EQ(watched.delegate->calls, 0);

    ASSERT_TRUE(QFile::rename(file, file + "-renamed"));
    EXPECT_TRUE(test::waitUntil([&] { return watched.delegate->calls >= 1; }));
}

TEST(DirectoryMonitor, MonitorsOnOneDirectoryShareTheWatch)
{
    QTemporaryDir tmp;
    auto first = std::make_unique<Watched>(tmp.path());
    Watched second(tmp.path());

    ASSERT_TRUE(touch(tmp.path() + "/one"));
    ASSERT_TRUE(test::waitUntil([&] { return first->delegate->calls >= 1; }));
    ASSERT_TRUE(test::waitUntil([&] { return second.delegate->calls >= 1; }));

    // Stopping, then dropping, one monitor must not silence the other.
    first->monitor->stop();
    const int firstCalls = first->delegate->calls;
    const int secondCalls = second.delegate->calls;
    ASSERT_TRUE(touch(tmp.path() + "/two"));
    ASSERT_TRUE(test::waitUntil([&] { return second.delegate->calls > secondCalls; }));
    EXPECT_EQ(first->delegate->calls, firstCalls);

    first.reset();
    ASSERT_TRUE(touch(tmp.path() + "/three"));
    EXPECT_TRUE(test::waitUntil([&] { return second.delegate->calls > secondCalls + 1; }));
    EXPECT_TRUE(second.watches(tmp.path()));
}

TEST(DirectoryMonitor, DeletingAndRecreatingFiftyTimesNeverLeavesItStopped)
{
    QTemporaryDir tmp;
    const QString desired = tmp.path() + "/flapping";
    ASSERT_TRUE(QDir().mkdir(desired));
    Log::Capture log;
    Watched watched(desired);
    // The monitor still names the directory until it has seen the deletion.
    auto waitForRestart = [&] {
        return test::waitUntil([&] { return log.contains("Stopped monitoring"); }) &&
               waitForWatch(watched, desired);
    };

    // Recreated before the monitor looks: the old watch is gone all the same.
    ASSERT_TRUE(QDir().rmdir(desired));
    ASSERT_TRUE(QDir().mkdir(desired));
    ASSERT_TRUE(waitForRestart());
    ASSERT_TRUE(touch(desired + "/first"));
    ASSERT_TRUE(test::waitUntil([&] { return watched.delegate->calls >= 2; }));
    ASSERT_TRUE(QFile::remove(desired + "/first"));
    ASSERT_TRUE(test::waitUntil([&] { return watched.delegate->calls >= 3; }));

    log.clear();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(QDir().rmdir(desired));
        ASSERT_TRUE(QDir().mkdir(desired));
    }
    ASSERT_TRUE(waitForRestart());

    const int before = watched.delegate->calls;
    ASSERT_TRUE(touch(desired + "/alive"));
    EXPECT_TRUE(test::waitUntil([&] { return watched.delegate->calls > before; }));
}

TEST(DirectoryMonitor, DroppedMonitorStopsAndTheFileSystemRootCanBeWatched)
{
    QTemporaryDir tmp;
    Log::Capture log;
    {
        Watched watched(tmp.path());
        ASSERT_TRUE(watched.monitor->isMonitoring());
    }
    EXPECT_TRUE(log.contains("Stopped monitoring " + tmp.path()));

    auto monitor = DirectoryMonitor::make("/");
    EXPECT_EQ(monitor->desiredPath(), "/");
    monitor->startMonitoring();
    EXPECT_EQ(monitor->currentPath(), "/");
    monitor->stop();
    EXPECT_FALSE(monitor->isMonitoring());
}
