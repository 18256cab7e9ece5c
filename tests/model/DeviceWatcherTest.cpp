#include "common/TestSupport.h"
#include "core/DeviceWatching.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/DeviceWatcher.h"
#include "platform/files/SystemPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>

using namespace corvane;
using namespace corvane::fixture;
using namespace std::chrono_literals;

namespace {

// Records every deviceListDidChange, delivered on the posting thread.
class PostRecorder {
public:
    PostRecorder()
    {
        m_token = observeNotification(
            Notifications::deviceListDidChange, nullptr,
            [this](const Notification &notification, const ObjectPtr &object) {
                std::lock_guard lock(m_mutex);
                ++m_count;
                m_onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
                m_userInfoEmpty = notification.userInfo.isEmpty();
                m_sender = object.get();
            });
    }
    ~PostRecorder() { m_token->invalidate(); }

    int count() const
    {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
    bool lastOnMainThread() const
    {
        std::lock_guard lock(m_mutex);
        return m_onMainThread;
    }
    bool lastUserInfoEmpty() const
    {
        std::lock_guard lock(m_mutex);
        return m_userInfoEmpty;
    }
    const Object *lastSender() const
    {
        std::lock_guard lock(m_mutex);
        return m_sender;
    }

private:
    std::shared_ptr<NotificationObserver> m_token;
    mutable std::mutex m_mutex;
    int m_count = 0;
    bool m_onMainThread = false;
    bool m_userInfoEmpty = false;
    const Object *m_sender = nullptr;
};

class DeviceWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths::setCurrent(m_tree.paths());
        m_tree.addRuntime("iOS", "17.5");
        m_tree.addRuntime("watchOS", "10.5");
        m_phone = m_tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.5"});
        m_pad = m_tree.addDevice({.name = "iPad Air (5th generation)", .runtime = "iOS 17.5"});
        m_watch =
            m_tree.addDevice({.name = "Apple Watch Series 9 (45mm)", .runtime = "watchOS 10.5"});
        m_tree.addPair(m_watch, m_phone);
        m_xcode = m_tree.addXcode();
        m_toolset = Toolset::make(QUrl::fromLocalFile(m_xcode));
        ASSERT_TRUE(m_toolset);
    }
    void TearDown() override
    {
        setToolProcessTimeout(10s);
        SystemPaths::resetToEnvironment();
    }

    int listRuns() const
    {
        int runs = 0;
        for (const Invocation &invocation : m_tree.invocations())
            runs += invocation.tool == "simctl" && invocation.arguments == QStringList{"list"};
        return runs;
    }

    // A folder entry that is no device: the folder changes, the devices do not.
    void addStrayEntry(const QString &name) { QDir().mkpath(m_tree.devicesDir() + "/" + name); }

    DevicePtr device(const DeviceWatcherPtr &watcher, const QString &udid) const
    {
        const auto all = watcher->all();
        const auto found = all->find(QUuid::fromString(udid));
        return found == all->end() ? nullptr : found->second;
    }

    FixtureTree m_tree;
    QString m_phone, m_pad, m_watch, m_xcode;
    std::shared_ptr<Toolset> m_toolset;
};

} // namespace

TEST_F(DeviceWatcherTest, CreationListsAtOnceAndPostsNothing)
{
    PostRecorder posts;
    auto watcher = DeviceWatcher::make(m_toolset);
    const auto all = watcher->all();
    ASSERT_EQ(all->size(), 3u);
    const auto phone = device(watcher, m_phone);
    ASSERT_TRUE(phone);
    EXPECT_EQ(phone->title(), "iPhone 15");
    EXPECT_EQ(phone->runtime(), Runtime(Runtime::System::iOS, "17.5"));
    EXPECT_EQ(phone->category(), Device::Category::iPhone);
    EXPECT_EQ(phone->toolset(), m_toolset);
    EXPECT_EQ(device(watcher, m_pad)->image(), ":/images/iPadButton.svg");
    EXPECT_EQ(phone->pairedTo(), std::vector<QUuid>{QUuid::fromString(m_watch)});
    EXPECT_EQ(listRuns(), 1);
    EXPECT_FALSE(watcher->identifier().isNull());
    EXPECT_NE(watcher->identifier(), DeviceWatcher::make(m_toolset)->identifier());

    m_toolset->setDeviceWatcher(watcher);
    EXPECT_EQ(m_toolset->deviceWatcher(), std::static_pointer_cast<DeviceWatching>(watcher));
    test::pumpFor(100ms);
    EXPECT_EQ(posts.count(), 0);
    EXPECT_EQ(all, watcher->all());
}

TEST_F(DeviceWatcherTest, RenamedAndBootedDevicesStayTheSameObjects)
{
    PostRecorder posts;
    auto watcher = DeviceWatcher::make(m_toolset);
    const auto phone = device(watcher, m_phone);
    ASSERT_TRUE(phone);

    auto changed = m_tree.device(m_phone);
    ASSERT_TRUE(changed);
    changed->name = "Renamed Phone";
    changed->state = DeviceState::Booted;
    ASSERT_TRUE(changed->write());
    addStrayEntry("Stray");

    ASSERT_TRUE(test::waitUntil([&] { return phone->title() == "Renamed Phone"; }));
    EXPECT_EQ(phone->status(), Device::Status::booted);
    EXPECT_EQ(device(watcher, m_phone), phone);
    test::pumpFor(100ms);
    EXPECT_EQ(posts.count(), 0);
}

TEST_F(DeviceWatcherTest, ADeletedDeviceIsAnnouncedOnceOnTheMainQueue)
{
    PostRecorder posts;
    auto watcher = DeviceWatcher::make(m_toolset);
    const auto phone = device(watcher, m_phone);
    m_tree.clearLog();

    ASSERT_EQ(m_tree.simctl({"delete", m_pad}).exitCode, 0);
    addStrayEntry("Stray");
    ASSERT_TRUE(test::waitUntil([&] { return posts.count() > 0; }));
    EXPECT_TRUE(posts.lastOnMainThread());
    EXPECT_TRUE(posts.lastUserInfoEmpty());
    EXPECT_EQ(posts.lastSender(), static_cast<const Object *>(watcher.get()));
    EXPECT_EQ(watcher->all()->size(), 2u);
    EXPECT_FALSE(device(watcher, m_pad));
    EXPECT_EQ(device(watcher, m_phone), phone);

    // Both folder events fell into one debounce window.
    test::pumpFor(1300ms);
    EXPECT_EQ(posts.count(), 1);
    EXPECT_EQ(listRuns(), 1);
}

TEST_F(DeviceWatcherTest, AnUnchangedFolderRunsNothing)
{
    auto watcher = DeviceWatcher::make(m_toolset);
    addStrayEntry("Stray");
    ASSERT_TRUE(test::waitUntil([&] { return listRuns() == 2; }));
    test::pumpFor(200ms);
    m_tree.clearLog();

    // A hidden entry, and a folder that comes and goes within the window.
    test::writeFile(m_tree.devicesDir() + "/.hidden", "x");
    addStrayEntry("Transient");
    QDir(m_tree.devicesDir() + "/Transient").removeRecursively();
    test::pumpFor(1500ms);
    EXPECT_EQ(listRuns(), 0);

    // Going away with a re-listing pending leaves nothing behind.
    addStrayEntry("Late");
    watcher.reset();
    test::pumpFor(1200ms);
    EXPECT_EQ(listRuns(), 0);
}

TEST_F(DeviceWatcherTest, ReListingsRebuildThePairs)
{
    auto watcher = DeviceWatcher::make(m_toolset);
    for (int i = 0; i < 2; ++i)
        DeviceWatcher::parseDeviceList(m_toolset, *watcher->all());
    addStrayEntry("Stray");
    ASSERT_TRUE(test::waitUntil([&] { return listRuns() == 4; }));
    test::pumpFor(100ms);

    const auto phone = device(watcher, m_phone);
    const auto watch = device(watcher, m_watch);
    EXPECT_EQ(phone->pairedTo(), std::vector<QUuid>{QUuid::fromString(m_watch)});
    EXPECT_EQ(watch->pairedTo(), std::vector<QUuid>{QUuid::fromString(m_phone)});
    EXPECT_TRUE(device(watcher, m_pad)->pairedTo().empty());
}

TEST_F(DeviceWatcherTest, AFailedListingIsAnEmptyParse)
{
    Fault broken;
    broken.stderrText = "CoreSimulatorService connection became invalid";
    m_tree.setFault("list", broken);
    EXPECT_TRUE(DeviceWatcher::parseDeviceList(m_toolset, {}).empty());
    EXPECT_FALSE(DeviceWatcher::listDevices(m_toolset, {}));

    m_tree.clearFaults();
    Fault garbage;
    garbage.nonUtf8 = true;
    m_tree.setFault("list", garbage);
    EXPECT_TRUE(DeviceWatcher::parseDeviceList(m_toolset, {}).empty());
    m_tree.clearFaults();

    // The listing runs, but a simctl that does not offer it gives nothing.
    auto limited = Toolset::make(
        QUrl::fromLocalFile(m_tree.addXcode({.name = "Limited.app", .subcommands = {"boot"}})));
    ASSERT_TRUE(limited);
    m_tree.clearLog();
    EXPECT_TRUE(DeviceWatcher::parseDeviceList(limited, {}).empty());
    EXPECT_EQ(listRuns(), 1);

    EXPECT_TRUE(DeviceWatcher::parseDeviceList(nullptr, {}).empty());
}

// One bad moment of simctl once emptied every menu until the folder changed
// again; the last good list now stays and the listing is tried again.
TEST_F(DeviceWatcherTest, AFailedListingKeepsTheLastGoodListAndTriesAgain)
{
    PostRecorder posts;
    auto watcher = DeviceWatcher::make(m_toolset);
    ASSERT_EQ(watcher->all()->size(), 3u);

    Fault broken;
    broken.stderrText = "CoreSimulatorService connection became invalid";
    m_tree.setFault("list", broken);
    ASSERT_EQ(m_tree.simctl({"delete", m_pad}).exitCode, 0);
    ASSERT_TRUE(test::waitUntil([&] { return listRuns() == 2; }));
    test::pumpFor(100ms);
    EXPECT_EQ(watcher->all()->size(), 3u);
    EXPECT_EQ(posts.count(), 0);

    // No further change of the folder: the retry shows the new list.
    m_tree.clearFaults();
    ASSERT_TRUE(test::waitUntil([&] { return watcher->all()->size() == 2; }));
    EXPECT_FALSE(device(watcher, m_pad));
    ASSERT_TRUE(test::waitUntil([&] { return posts.count() == 1; }));
}

TEST_F(DeviceWatcherTest, AHungListingIsEndedAndKeepsTheList)
{
    auto watcher = DeviceWatcher::make(m_toolset);
    ASSERT_EQ(watcher->all()->size(), 3u);
    m_tree.clearLog();

    // Long enough for the fake to start and log itself on a loaded machine.
    setToolProcessTimeout(3s);
    Fault hang;
    hang.hang = true;
    m_tree.setFault("list", hang);
    ASSERT_EQ(m_tree.simctl({"delete", m_pad}).exitCode, 0);
    qint64 pid = -1;
    ASSERT_TRUE(test::waitUntil([&] {
        for (const Invocation &invocation : m_tree.invocations())
            if (invocation.arguments == QStringList{"list"})
                pid = invocation.pid;
        return pid > 0;
    }));
    EXPECT_TRUE(test::waitUntil([&] { return ::kill(pid_t(pid), 0) == -1; }));
    EXPECT_EQ(watcher->all()->size(), 3u);

    // The retry gets time enough for a loaded machine.
    setToolProcessTimeout(10s);
    m_tree.clearFaults();
    ASSERT_TRUE(test::waitUntil([&] { return watcher->all()->size() == 2; }));
}

// The folder is watched before the first listing: a device made while that
// listing runs (it answers with the list from before) is listed next.
TEST_F(DeviceWatcherTest, ADeviceMadeDuringTheFirstListingIsListedNext)
{
    const QString before = m_tree.root() + "/before.txt";
    ASSERT_TRUE(test::writeFile(before, m_tree.simctl({"list"}).out));
    m_tree.setFault("list", {.delaySeconds = 2, .stdoutFile = before});
    const int runs = listRuns();
    DeviceWatcherPtr watcher;
    std::thread first([&] { watcher = DeviceWatcher::make(m_toolset); });
    ASSERT_TRUE(test::waitUntil([&] { return listRuns() > runs; }));
    const QString added = m_tree.addDevice({.name = "iPhone 15 Pro", .runtime = "iOS 17.5"});
    m_tree.clearFaults();
    first.join();
    ASSERT_TRUE(watcher);
    EXPECT_TRUE(test::waitUntil([&] { return device(watcher, added) != nullptr; }));
    EXPECT_EQ(watcher->all()->size(), 4u);
}

// Same count, another device: the set of UDIDs changed.
TEST_F(DeviceWatcherTest, AReplacedDeviceAtTheSameCountIsAnnounced)
{
    PostRecorder posts;
    auto watcher = DeviceWatcher::make(m_toolset);
    ASSERT_EQ(m_tree.simctl({"delete", m_pad}).exitCode, 0);
    const QString added = m_tree.addDevice({.name = "iPhone 15 Pro", .runtime = "iOS 17.5"});
    ASSERT_TRUE(test::waitUntil([&] { return posts.count() == 1; }));
    EXPECT_EQ(watcher->all()->size(), 3u);
    EXPECT_FALSE(device(watcher, m_pad));
    ASSERT_TRUE(device(watcher, added));
    EXPECT_EQ(device(watcher, added)->title(), "iPhone 15 Pro");
}

TEST_F(DeviceWatcherTest, RealWorldListingsThroughTheFake)
{
    const auto listWith = [&](const QString &file) {
        Fault fault;
        fault.stdoutFile = file;
        m_tree.setFault("list", fault);
        return DeviceWatcher::parseDeviceList(m_toolset, {});
    };
    const QDir dir(test::realWorldPath("simctl-list-text"));
    for (const QString &file : dir.entryList({"*.txt"}, QDir::Files))
        listWith(dir.filePath(file));

    const auto xcode7 = listWith(dir.filePath("openbakery__simctl-list-xcode7.txt"));
    ASSERT_EQ(xcode7.size(), 13u);
    std::map<QString, QStringList> partners;
    for (const auto &[id, device] : xcode7)
        for (const QUuid &partner : device->pairedTo())
            partners[device->title()].append(xcode7.at(partner)->title());
    EXPECT_EQ(partners["Apple Watch - 38mm"], QStringList{"iPhone 6"});
    EXPECT_EQ(partners["Apple Watch - 42mm"], QStringList{"iPhone 6 Plus"});

    EXPECT_EQ(listWith(dir.filePath("fastlane__DeviceManagerSimctlOutputXcode8.txt")).size(), 15u);
    EXPECT_EQ(listWith(dir.filePath("fastlane-scan__XcrunSimctlListDevicesOutput14.txt")).size(),
              80u);
    const auto unavailable =
        listWith(dir.filePath("fastlane__DeviceManagerSimctlOutputXcode10BootedUnavailable.txt"));
    EXPECT_EQ(unavailable.size(), 4u);
    for (const auto &[id, device] : unavailable)
        EXPECT_FALSE(device->status().contains(Device::Status::booted));
    const auto xcode11 = listWith(dir.filePath("openbakery__simctl-list-xcode11.txt"));
    EXPECT_EQ(
        xcode11.at(QUuid::fromString(QString("AD9C7873-8D90-4877-BD71-1BDD2904F913")))->title(),
        "iPhone Xʀ");
    EXPECT_TRUE(
        listWith(dir.filePath("fastlane-snapshot__xcrun-simctl-list-runtimes-Xcode8.txt")).empty());
    EXPECT_TRUE(
        listWith(dir.filePath("fastlane-snapshot__xcrun-simctl-list-runtimes-Xcode9.txt")).empty());

    // Empty headings do not stop the parse.
    const QString odd = m_tree.root() + "/odd-list.txt";
    test::writeFile(odd, "== ==\n-- --\n== Devices ==\n-- --\n"
                         "    Lost (5A1B2C3D-0000-4000-8000-00000000ABCD) (Shutdown)\n"
                         "-- iOS 17.5 --\n"
                         "    Kept (5A1B2C3D-0000-4000-8000-00000000ABCE) (Booted)\n");
    const auto parsed = listWith(odd);
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed.begin()->second->title(), "Kept");
}
