#include "common/TestSupport.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/ActivityMonitor.h"
#include "model/Application.h"
#include "model/Device.h"
#include "platform/Log.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <atomic>

using namespace corvane;
using namespace corvane::fixture;
using namespace corvane::test;
using namespace std::chrono_literals;

namespace {

class ApplicationScanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_xcode = m_tree.addXcode();
        m_tree.addRuntime("iOS", "17.5");
        m_udid = m_tree.addDevice({"iPhone 15", "iPhone 15", "iOS 17.5"});
        SystemPaths paths = m_tree.paths();
        // Counts its runs and lists no simulator.
        paths.ps = m_tree.root() + "/ps";
        ASSERT_TRUE(writeScript(paths.ps, "echo run >> '" + psLog() + "'\nexit 0"));
        SystemPaths::setCurrent(paths);
        m_toolset = Toolset::make(QUrl::fromLocalFile(m_xcode));
        ASSERT_TRUE(m_toolset);
    }
    void TearDown() override { SystemPaths::resetToEnvironment(); }

    QString psLog() const { return m_tree.root() + "/ps.log"; }
    int psRuns() const { return int(readFile(psLog()).count('\n')); }

    DevicePtr makeDevice(const QString &udid)
    {
        return Device::initFromListLine("iPhone 15 (" + udid + ") (Shutdown)",
                                        {Runtime::System::iOS, "17.5"}, m_toolset);
    }

    static AppSpec app(const QString &identifier, const QString &name)
    {
        AppSpec spec;
        spec.identifier = identifier;
        spec.name = name;
        return spec;
    }

    static QStringList identifiers(const DevicePtr &device)
    {
        QStringList result;
        for (const auto &application : device->applications())
            result << application->identifier().value_or("-");
        return result;
    }

    FixtureTree m_tree;
    QString m_xcode;
    QString m_udid;
    std::shared_ptr<Toolset> m_toolset;
};

} // namespace

TEST_F(ApplicationScanTest, FirstScanListsQualifyingBundlesInTitleOrder)
{
    m_tree.installApp(m_udid, app("com.example.ten", "App 10"));
    m_tree.installApp(m_udid, app("com.example.two", "App 2"));
    m_tree.installApp(m_udid, app("com.example.beta", "My App [Beta]"));
    AppSpec binary = app("com.example.binary", "Binary");
    binary.binaryInfoPlist = true;
    m_tree.installApp(m_udid, binary);
    // A bundle whose property lists lack an identifier.
    const QString bare = m_tree.devicesDir() + "/" + m_udid +
                         "/data/Containers/Bundle/Application/" +
                         QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + "/Bare.app";
    ASSERT_TRUE(writeFile(bare + "/Info.plist", "<?xml version=\"1.0\"?><plist><dict>"
                                                "<key>CFBundleName</key><string>Bare</string>"
                                                "</dict></plist>"));

    ActivityMonitor::shared()->markOutOfDate();
    const auto device = makeDevice(m_udid);
    ASSERT_TRUE(device);
    EXPECT_EQ(identifiers(device), QStringList({"com.example.two", "com.example.ten",
                                                "com.example.binary", "com.example.beta"}));
    // The scan of a shut-down device lists no processes itself and leaves
    // the monitor out of date for the next question.
    EXPECT_EQ(psRuns(), 0);
    EXPECT_EQ(ActivityMonitor::shared()->lastCheck(), ActivityMonitor::TimePoint());
    for (const auto &application : device->applications())
        EXPECT_EQ(application->device(), device);

    const auto empty = makeDevice("00000000-AAAA-4BBB-8CCC-DDDDDDDDDDDD");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->applications().empty());
}

TEST_F(ApplicationScanTest, FolderChangesRescanOnceAndKeepObjects)
{
    ASSERT_TRUE(m_tree.boot(m_udid));
    const AppInstall first = m_tree.installApp(m_udid, app("com.example.first", "First"));
    const auto device = makeDevice(m_udid);
    ASSERT_TRUE(device);
    ASSERT_EQ(device->applications().size(), 1u);
    const ApplicationPtr original = device->applications().front();

    std::atomic<int> posts{0};
    auto observer =
        observeNotification<Device>(Device::applicationListDidChange, device, nullptr,
                                    [&](const Notification &, const DevicePtr &) { ++posts; });
    Log::Capture log;

    // An install: one rescan a second after the folder settles.
    const QString staging = m_tree.root() + "/staging";
    const auto installed = Clock::now();
    ASSERT_EQ(m_tree
                  .simctl({"install", m_udid,
                           m_tree.makeAppBundle(staging, app("com.example.second", "Second"))})
                  .exitCode,
              0);
    // The line is logged after the post, on the rescan's thread.
    const QString changed = "Application list changed for iPhone 15 - 17.5";
    ASSERT_TRUE(waitUntil([&] { return posts.load() == 1 && log.count(changed) == 1; }));
    EXPECT_GE(Clock::now() - installed, 900ms);
    EXPECT_EQ(identifiers(device), QStringList({"com.example.first", "com.example.second"}));
    EXPECT_EQ(device->applications().front(), original);

    // A reinstall into a new folder: the same object at its new place, no post.
    std::atomic<int> moves{0};
    auto moveObserver = observeNotification<Application>(
        Application::applicationDidUpdate, original, nullptr,
        [&](const Notification &, const ApplicationPtr &) { ++moves; });
    ASSERT_EQ(m_tree
                  .simctl({"install", m_udid,
                           m_tree.makeAppBundle(staging + "2", app("com.example.first", "First"))})
                  .exitCode,
              0);
    ASSERT_TRUE(waitUntil([&] { return moves.load() == 1; }));
    EXPECT_TRUE(log.contains("Application com.example.first moved"));
    EXPECT_NE(original->uuid(), QUuid::fromString(first.bundleUuid));
    EXPECT_EQ(device->applications().front(), original);

    // An uninstall removes and posts.
    ASSERT_EQ(m_tree.simctl({"uninstall", m_udid, "com.example.second"}).exitCode, 0);
    ASSERT_TRUE(waitUntil([&] { return posts.load() == 2; }));
    EXPECT_EQ(identifiers(device), QStringList({"com.example.first"}));
    pumpFor(300ms);
    EXPECT_EQ(posts, 2);
    EXPECT_EQ(moves, 1);
}

// Menus can hold an older Device object of a UDID after an Xcode switch;
// with a debounce key per UDID one object's rescan cancelled the other's.
TEST_F(ApplicationScanTest, TwoObjectsOfOneDeviceBothRescan)
{
    ASSERT_TRUE(m_tree.boot(m_udid));
    const auto older = makeDevice(m_udid);
    const auto newer = makeDevice(m_udid);
    ASSERT_TRUE(older && newer);
    EXPECT_NE(older->applicationsDebounceKey(), newer->applicationsDebounceKey());
    m_tree.installApp(m_udid, app("com.example.late", "Late"));
    EXPECT_TRUE(waitUntil([&] {
        return identifiers(older) == QStringList{"com.example.late"} &&
               identifiers(newer) == QStringList{"com.example.late"};
    }));
}

TEST_F(ApplicationScanTest, ReleasingTheDeviceStopsItsWatch)
{
    auto device = makeDevice(m_udid);
    ASSERT_TRUE(device);
    const auto watcher = device->applicationWatcher();
    ASSERT_TRUE(watcher && watcher->isMonitoring());
    device.reset();
    EXPECT_FALSE(watcher->isMonitoring());
}
