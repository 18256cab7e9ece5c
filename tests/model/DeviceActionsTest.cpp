#include "common/StubTaskService.h"
#include "common/TestSupport.h"
#include "core/CorvaneSettings.h"
#include "core/Toolset.h"
#include "fixtures/FixtureTree.h"
#include "model/Device.h"
#include "model/SimulatorTouches.h"
#include "platform/defaults/CloudKeyValueStore.h"
#include "platform/Log.h"
#include "platform/files/SystemPaths.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/desktop/Workspace.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::fixture;

namespace {

class DeviceActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemPaths::setCurrent(m_tree.paths());
        m_tree.addRuntime("iOS", "17.5");
        m_udid = m_tree.addDevice({.name = "iPhone 15", .runtime = "iOS 17.5", .booted = true});
        m_toolset = Toolset::make(QUrl::fromLocalFile(m_tree.addXcode()));
        ASSERT_TRUE(m_toolset);
        m_device = makeDevice(m_toolset);
        ASSERT_TRUE(m_device);

        m_workspace = std::make_shared<RecordingWorkspace>();
        Workspace::setShared(m_workspace);
        CorvaneSettings::resetShared(
            UserDefaults::withFile(m_tree.root() + "/config/com.quendrith.corvane.conf"),
            std::make_shared<CloudKeyValueStore>(m_tree.root() + "/Sync/KeyValueStore.json"));
        CorvaneSettings::shared()->registerCommonSettings();
        m_tasks = std::make_shared<StubTaskService>();
        TaskService::setShared(m_tasks);
        m_toolset->supportedCommands();
        m_tree.clearLog();
    }
    void TearDown() override
    {
        TaskService::setShared(nullptr);
        CorvaneSettings::resetShared();
        Workspace::setShared(nullptr);
        SystemPaths::resetToEnvironment();
    }

    DevicePtr makeDevice(const std::shared_ptr<Toolset> &toolset) const
    {
        return Device::initFromListLine("iPhone 15 (" + m_udid + ") (Booted)",
                                        {Runtime::System::iOS, "17.5"}, toolset);
    }

    QList<QStringList> calls(const QString &tool = "simctl") const
    {
        QList<QStringList> list;
        for (const Invocation &invocation : m_tree.invocations())
            if (invocation.tool == tool)
                list.append(invocation.arguments);
        return list;
    }

    void printOnce(const QString &subcommand, const QByteArray &output)
    {
        const QString file = m_tree.root() + "/" + subcommand + ".out";
        ASSERT_TRUE(test::writeFile(file, output));
        m_tree.setFault(subcommand, {.stdoutFile = file});
    }

    QStringList recent() const
    {
        QStringList list;
        for (const QUrl &url : CorvaneSettings::shared()->recentURLs().value_or(QList<QUrl>()))
            list << url.toString();
        return list;
    }
    void setRecent(const QStringList &urls)
    {
        QList<QUrl> list;
        for (const QString &url : urls)
            list << QUrl(url);
        CorvaneSettings::shared()->setRecentURLs(list);
    }

    FixtureTree m_tree;
    QString m_udid;
    std::shared_ptr<Toolset> m_toolset;
    DevicePtr m_device;
    std::shared_ptr<RecordingWorkspace> m_workspace;
    std::shared_ptr<StubTaskService> m_tasks;
};

const RecordingWorkspace::Request kActivate{"activateSimulator", {}};

} // namespace

TEST_F(DeviceActionsTest, SimctlArgumentsOfTheSimpleActions)
{
    m_device->resetKeychain();
    m_device->copy();
    m_device->paste();
    m_device->installFrom(QUrl::fromLocalFile("/tmp/A B.app"));
    m_device->addMediaFrom(QUrl::fromLocalFile("/tmp/p.png"));
    m_device->setAppearance(Device::Appearance::dark);
    m_device->setContentSize(Device::ContentSize::accessibilityExtraLarge);
    EXPECT_EQ(m_tree.deviceExtras(m_udid).value("appearance"), "dark");
    m_device->shutdown();
    m_device->erase();
    const QList<QStringList> expected{
        {"keychain", m_udid, "reset"},
        {"pbsync", m_udid, "host"},
        {"pbsync", "host", m_udid},
        {"install", m_udid, "/tmp/A B.app"},
        {"addmedia", m_udid, "/tmp/p.png"},
        {"ui", m_udid, "appearance", "dark"},
        {"ui", m_udid, "content_size", "accessibility-extra-large"},
        {"shutdown", m_udid},
        {"erase", m_udid},
    };
    EXPECT_EQ(calls(), expected);
}

TEST_F(DeviceActionsTest, LaunchActivatesTheSimulatorWhateverBootDid)
{
    // Already booted: boot fails.
    m_device->launch();
    EXPECT_EQ(calls(), (QList<QStringList>{{"boot", m_udid}}));
    ASSERT_EQ(m_workspace->requests.size(), 1u);
    EXPECT_EQ(m_workspace->requests.back(), kActivate);

    auto orphan = makeDevice(nullptr);
    orphan->launch();
    EXPECT_EQ(calls().size(), 1);
    EXPECT_EQ(m_workspace->requests.size(), 2u);

    Log::Capture log;
    m_workspace->simulatorError = "{NSAppleScriptErrorNumber = -600}";
    m_device->bringToFront();
    EXPECT_TRUE(log.contains("Error bringing sim to front: {NSAppleScriptErrorNumber = -600}"));

    // Here no Simulator window exists, and the debug log says so.
    log.clear();
    Workspace::setShared(nullptr);
    m_device->bringToFront();
    const auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.front().level, LogLevel::Debug);
    EXPECT_EQ(entries.front().category, "device");
    EXPECT_EQ(entries.front().message, "There is no Simulator window to raise on this system");
}

TEST_F(DeviceActionsTest, DeleteUninstallsInTitleOrderThenShutsDownAndDeletes)
{
    m_tree.installApp(m_udid, {.identifier = "com.example.zed", .name = "Zed"});
    m_tree.installApp(m_udid, {.identifier = "com.example.alpha", .name = "alpha"});
    auto device = makeDevice(m_toolset);
    ASSERT_EQ(device->applications().size(), 2u);
    m_tree.clearLog();

    device->delete_();
    const QList<QStringList> expected{
        {"uninstall", m_udid, "com.example.alpha"},
        {"uninstall", m_udid, "com.example.zed"},
        {"shutdown", m_udid},
        {"delete", m_udid},
    };
    EXPECT_EQ(calls(), expected);
    EXPECT_FALSE(m_tree.device(m_udid));
}

TEST_F(DeviceActionsTest, ReadsAppearanceAndContentSize)
{
    EXPECT_EQ(m_device->appearance(), Device::Appearance::light);
    EXPECT_EQ(m_device->contentSize(), Device::ContentSize::medium);

    printOnce("ui", "DARK\n");
    EXPECT_EQ(m_device->appearance(), Device::Appearance::dark);
    printOnce("ui", "Dusk\n");
    EXPECT_EQ(m_device->appearance(), Device::Appearance::light);
    printOnce("ui", "ACCESSIBILITY-Large");
    EXPECT_EQ(m_device->contentSize(), Device::ContentSize::accessibilityLarge);
    printOnce("ui", "");
    EXPECT_EQ(m_device->contentSize(), Device::ContentSize::medium);
    m_tree.setFault("ui", {});

    EXPECT_EQ(makeDevice(nullptr)->appearance(), Device::Appearance::light);
    EXPECT_EQ(makeDevice(nullptr)->contentSize(), Device::ContentSize::medium);
}

TEST_F(DeviceActionsTest, ToggleFlipsTheAppearanceAndSetsDarkWhenUnreadable)
{
    m_device->toggleAppearance();
    EXPECT_EQ(m_tree.deviceExtras(m_udid).value("appearance"), "dark");
    m_device->toggleAppearance();
    EXPECT_EQ(m_tree.deviceExtras(m_udid).value("appearance"), "light");

    // A shut-down device answers no read.
    m_tree.shutdown(m_udid);
    m_tree.clearLog();
    m_device->toggleAppearance();
    EXPECT_EQ(calls(), (QList<QStringList>{{"ui", m_udid, "appearance"},
                                           {"ui", m_udid, "appearance", "dark"}}));
}

TEST_F(DeviceActionsTest, OpenedURLsAreRecordedNewestFirst)
{
    m_device->openWithUrl(QUrl("https://example.com/a"));
    EXPECT_EQ(calls(), (QList<QStringList>{{"openurl", m_udid, "https://example.com/a"}}));
    m_device->openWithUrl(QUrl("https://example.com/b"));
    m_device->openWithUrl(QUrl("https://example.com/a"));
    EXPECT_EQ(recent(), (QStringList{"https://example.com/a", "https://example.com/b"}));

    // Equality is exact text: another case is another URL.
    m_device->openWithUrl(QUrl("https://example.com/A"));
    EXPECT_EQ(recent().size(), 3);

    setRecent({"https://1.example", "https://2.example", "https://3.example", "https://4.example",
               "https://5.example"});
    m_device->openWithUrl(QUrl("https://6.example"));
    EXPECT_EQ(recent(), (QStringList{"https://6.example", "https://1.example", "https://2.example",
                                     "https://3.example", "https://4.example"}));

    setRecent({"https://1.example", "https://2.example", "https://3.example", "https://4.example",
               "https://5.example", "https://6.example", "https://7.example"});
    m_device->openWithUrl(QUrl("https://3.example"));
    EXPECT_EQ(recent(), (QStringList{"https://3.example", "https://1.example", "https://2.example",
                                     "https://4.example", "https://5.example"}));
}

TEST_F(DeviceActionsTest, AFailingOpenLeavesTheListAGoneToolsetStillRecords)
{
    setRecent({"https://1.example"});
    // No application handles the scheme: simctl fails.
    m_device->openWithUrl(QUrl("nothandled://x"));
    EXPECT_EQ(calls().size(), 1);
    EXPECT_EQ(recent(), QStringList{"https://1.example"});

    makeDevice(nullptr)->openWithUrl(QUrl("myapp://path"));
    EXPECT_EQ(calls().size(), 1);
    EXPECT_EQ(recent(), (QStringList{"myapp://path", "https://1.example"}));
}

TEST_F(DeviceActionsTest, ContentsUnsplashAndAGoneToolset)
{
    m_device->showContents();
    ASSERT_EQ(m_workspace->requests.size(), 1u);
    EXPECT_EQ(m_workspace->requests.back(),
              (RecordingWorkspace::Request{"showFolder", m_device->url().toLocalFile() + "/data"}));

    m_device->unsplashFor("mountains");
    const auto tasks = m_tasks->calls();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].operation, StubTaskService::Operation::unsplash);
    EXPECT_EQ(tasks[0].searchString, "mountains");
    EXPECT_EQ(tasks[0].device.lock(), m_device);

    auto orphan = makeDevice(nullptr);
    orphan->shutdown();
    orphan->erase();
    orphan->copy();
    orphan->setAppearance(Device::Appearance::dark);
    EXPECT_TRUE(calls().isEmpty());
}

TEST_F(DeviceActionsTest, TouchSwitchesRunTheDefaultsTool)
{
    EXPECT_FALSE(simulatorDefaults()->boolean(showSingleTouchesKey));
    EXPECT_FALSE(simulatorDefaults()->boolean(showPinchesKey));

    setShowSingleTouches(true);
    EXPECT_EQ(calls("defaults"), (QList<QStringList>{{"write", "com.apple.iphonesimulator",
                                                      "ShowSingleTouches", "1"}}));
    EXPECT_TRUE(simulatorDefaults()->boolean(showSingleTouchesKey));

    m_tree.clearLog();
    setShowPinches(false);
    EXPECT_EQ(calls("defaults"),
              (QList<QStringList>{{"write", "com.apple.iphonesimulator", "ShowPinches", "0"}}));
    EXPECT_TRUE(simulatorDefaults()->boolean(showSingleTouchesKey));
    EXPECT_FALSE(simulatorDefaults()->boolean(showPinchesKey));

    // A missing tool is no failure.
    SystemPaths paths = m_tree.paths();
    paths.defaults = m_tree.root() + "/no-such-defaults";
    SystemPaths::setCurrent(paths);
    setShowPinches(true);
}
