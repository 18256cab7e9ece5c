#include "common/TestSupport.h"
#include "core/CorvaneSettings.h"
#include "platform/files/SystemPaths.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <QFile>

#include <atomic>
#include <cstdlib>
#include <thread>

using namespace corvane;

namespace {

class CorvaneSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        auto paths = SystemPaths::current();
        paths.home = m_dir.path() + "/home";
        SystemPaths::setCurrent(paths);
        m_defaults = UserDefaults::withFile(m_dir.path() + "/config/com.quendrith.corvane.conf");
        m_cloud = std::make_shared<CloudKeyValueStore>(m_dir.path() + "/Sync/KeyValueStore.json");
        m_settings = CorvaneSettings::make(m_defaults, m_cloud);
        m_settings->registerCommonSettings();
    }
    void TearDown() override { SystemPaths::resetToEnvironment(); }

    QString home() const { return m_dir.path() + "/home"; }

    void countChanges(const QString &property, std::vector<ObserverPtr> &tokens, int *count)
    {
        tokens.push_back(m_settings->observe(property, [count] { ++*count; }));
    }

    QTemporaryDir m_dir;
    std::shared_ptr<UserDefaults> m_defaults;
    std::shared_ptr<CloudKeyValueStore> m_cloud;
    std::shared_ptr<CorvaneSettings> m_settings;
};

} // namespace

TEST_F(CorvaneSettingsTest, AnEmptyStoreReadsTheRegisteredDefaults)
{
    EXPECT_EQ(m_settings->imageFormat(), "png");
    EXPECT_EQ(m_settings->videoFormat(), "h264");
    EXPECT_EQ(m_settings->gpsPace(), "realtime");
    EXPECT_EQ(m_settings->gpsSpeed(), "normal");
    EXPECT_EQ(m_settings->gpsTimestampsDateMode(), "today");
    EXPECT_EQ(m_settings->gpsTimestampsTimeMode(), "now");
    EXPECT_FALSE(m_settings->includeMaskInCaptures());
    EXPECT_FALSE(m_settings->gpsAutoRewind());
    EXPECT_TRUE(m_settings->syncPreferences());
    EXPECT_FALSE(m_settings->autoAppliedStatusBar());
    EXPECT_FALSE(m_settings->toolsPath());
    EXPECT_FALSE(m_settings->recentURLs());
    EXPECT_EQ(m_settings->savePath(), QUrl::fromLocalFile(home() + "/Desktop"));
    EXPECT_FALSE(m_settings->hasSyncedToiCloudBefore());
    EXPECT_EQ(m_defaults->registeredDefaults().size(), 10);
}

TEST_F(CorvaneSettingsTest, KeysMappingsAndSyncedKeys)
{
    EXPECT_EQ(m_settings->keyFromGetter("gpsPace"), "gpsPace");
    EXPECT_EQ(m_settings->keyFromGetter("syncPreferences"), "--");
    EXPECT_EQ(m_settings->keyFromGetter("nothing"), "--");
    EXPECT_EQ(m_settings->keyFromSetter("setGpsAutoRewind:"), "gpsAutoRewind");
    EXPECT_EQ(m_settings->keyFromSetter("setRecentURLs:"), "recentURLs");
    EXPECT_EQ(CorvaneSettings::setterFromKey("imageFormat"), "setImageFormat:");
    EXPECT_EQ(
        m_settings->syncedKeys(),
        (QStringList{"recentURLs", "savePath", "includeMaskInCaptures", "autoAppliedStatusBar",
                     "imageFormat", "videoFormat", "gpsTimestampsDateMode", "gpsTimestampsTimeMode",
                     "gpsPace", "gpsSpeed", "gpsAutoRewind"}));
    EXPECT_FALSE(m_settings->shouldSyncForKey("toolsPath"));
    EXPECT_FALSE(m_settings->shouldSyncForKey("--"));
#ifndef QT_NO_DEBUG
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(m_settings->keyFromSetter("setSyncPreferences:"), "key != NULL");
#endif
}

TEST_F(CorvaneSettingsTest, StoredFormsRoundTrip)
{
    m_settings->setRecentURLs(
        QList<QUrl>{QUrl("https://example.com/a?q=1"), QUrl("myapp://open/b")});
    EXPECT_EQ(m_defaults->string("recentURLs"), "https://example.com/a?q=1||myapp://open/b");
    EXPECT_EQ(m_settings->recentURLs(),
              (QList<QUrl>{QUrl("https://example.com/a?q=1"), QUrl("myapp://open/b")}));

    m_settings->setRecentURLs(QList<QUrl>{});
    EXPECT_EQ(m_defaults->string("recentURLs"), "");
    EXPECT_FALSE(m_settings->recentURLs());

    m_defaults->set("recentURLs", "https://ok.example||http://bad host/||||x://y%zz");
    EXPECT_EQ(m_settings->recentURLs(), (QList<QUrl>{QUrl("https://ok.example")}));

    m_settings->setSavePath(QUrl::fromLocalFile(home() + "/Pictures/Shots"));
    EXPECT_EQ(m_defaults->string("savePath"), "~/Pictures/Shots");
    EXPECT_EQ(m_settings->savePath(), QUrl::fromLocalFile(home() + "/Pictures/Shots"));
    m_settings->setSavePath(QUrl::fromLocalFile("/srv/shots"));
    EXPECT_EQ(m_defaults->string("savePath"), "/srv/shots");
    // A sibling of the home folder is no place inside it.
    m_settings->setSavePath(QUrl::fromLocalFile(home() + "2/x"));
    EXPECT_EQ(m_defaults->string("savePath"), home() + "2/x");
    EXPECT_EQ(m_settings->savePath(), QUrl::fromLocalFile(home() + "2/x"));

    // Stored paths are cleaned before "~" is expanded, and one that stays
    // relative (captures would land in the working directory) is the default.
    const QUrl desktop = QUrl::fromLocalFile(home() + "/Desktop");
    for (const char *relative : {"Desktop", "x/..", "./shots", "~user/shots"}) {
        m_defaults->set("savePath", relative);
        EXPECT_EQ(m_settings->savePath(), desktop) << relative;
    }
    m_defaults->set("savePath", "x/../~");
    EXPECT_EQ(m_settings->savePath(), QUrl::fromLocalFile(home()));
    m_defaults->set("savePath", "~/a/../Shots/");
    EXPECT_EQ(m_settings->savePath(), QUrl::fromLocalFile(home() + "/Shots"));

    m_settings->setToolsPath(QUrl::fromLocalFile("/Applications/Xcode.app"));
    EXPECT_EQ(m_defaults->string("toolsPath"), "/Applications/Xcode.app");
    EXPECT_EQ(m_settings->toolsPath(), QUrl::fromLocalFile("/Applications/Xcode.app"));
    m_settings->setToolsPath(std::nullopt);
    EXPECT_FALSE(m_defaults->hasStoredValue("toolsPath"));

    m_settings->setAutoAppliedStatusBar("PRESET-1");
    EXPECT_EQ(m_cloud->string("autoAppliedStatusBar"), "PRESET-1");
    m_settings->setAutoAppliedStatusBar(std::nullopt);
    EXPECT_FALSE(m_defaults->hasStoredValue("autoAppliedStatusBar"));
    EXPECT_FALSE(m_cloud->object("autoAppliedStatusBar"));

    m_settings->setGpsAutoRewind(true);
    auto reopened = CorvaneSettings::make(UserDefaults::withFile(m_defaults->filePath()), m_cloud);
    reopened->registerCommonSettings();
    EXPECT_TRUE(reopened->gpsAutoRewind());
}

TEST_F(CorvaneSettingsTest, SyncedWritesAreMirroredOnlyWhileSyncIsOn)
{
    m_settings->setToolsPath(QUrl::fromLocalFile("/Applications/Xcode.app"));
    EXPECT_FALSE(m_cloud->object("toolsPath"));
    EXPECT_FALSE(QFile::exists(m_cloud->filePath()));

    m_settings->setImageFormat("jpeg");
    EXPECT_EQ(m_defaults->string("imageFormat"), "jpeg");
    EXPECT_EQ(m_cloud->string("imageFormat"), "jpeg");
    m_settings->setIncludeMaskInCaptures(true);
    EXPECT_EQ(m_cloud->object("includeMaskInCaptures"), QVariant(true));

    m_settings->disableSync();
    EXPECT_FALSE(m_settings->syncPreferences());
    m_settings->setImageFormat("png");
    EXPECT_EQ(m_defaults->string("imageFormat"), "png");
    EXPECT_EQ(m_cloud->string("imageFormat"), "jpeg");

    m_settings->resetSynedPreferences();
    EXPECT_FALSE(m_cloud->object("imageFormat"));
    EXPECT_FALSE(m_cloud->object("includeMaskInCaptures"));
}

TEST_F(CorvaneSettingsTest, EnablingSyncPushesOrPulls)
{
    m_settings->disableSync();
    m_settings->setGpsPace("fixed");
    m_settings->setGpsAutoRewind(true);
    m_settings->enableSyncWithBehavior(1);
    EXPECT_EQ(m_cloud->string("gpsPace"), "fixed");
    EXPECT_EQ(m_cloud->object("gpsAutoRewind"), QVariant(true));
    EXPECT_EQ(m_cloud->string("imageFormat"), "png");
    EXPECT_FALSE(m_cloud->object("toolsPath"));
    EXPECT_FALSE(m_cloud->object("savePath"));
    EXPECT_TRUE(m_settings->syncPreferences());
    EXPECT_TRUE(m_settings->hasSyncedToiCloudBefore());

    m_settings->disableSync();
    m_cloud->set("gpsPace", "realtime");
    m_cloud->set("gpsSpeed", "ff10");
    m_cloud->set("gpsAutoRewind", false);
    std::vector<ObserverPtr> tokens;
    int pace = 0, speed = 0, rewind = 0, format = 0, sync = 0;
    countChanges("gpsPace", tokens, &pace);
    countChanges("gpsSpeed", tokens, &speed);
    countChanges("gpsAutoRewind", tokens, &rewind);
    countChanges("autoAppliedStatusBar", tokens, &format);
    countChanges("syncPreferences", tokens, &sync);
    m_settings->enableSyncWithBehavior(0);
    EXPECT_EQ(m_settings->gpsPace(), "realtime");
    EXPECT_EQ(m_settings->gpsSpeed(), "ff10");
    EXPECT_FALSE(m_settings->gpsAutoRewind());
    EXPECT_EQ(pace, 1);
    EXPECT_EQ(speed, 1);
    EXPECT_EQ(rewind, 1);
    EXPECT_EQ(format, 0);
    EXPECT_EQ(sync, 1);
    EXPECT_TRUE(m_settings->syncPreferences());
    EXPECT_TRUE(m_cloud->boolean("iCloudSyncHasBeenOn"));

    m_settings->enableSyncWithBehavior(7);
    EXPECT_TRUE(m_settings->syncPreferences());
    EXPECT_EQ(pace, 1);
}

TEST_F(CorvaneSettingsTest, ObserversHearEachChangeOfTheUserDefaultWhoeverMadeIt)
{
    int pace = 0;
    std::thread::id thread;
    auto token = m_settings->observe("gpsPace", [&] {
        ++pace;
        thread = std::this_thread::get_id();
    });
    m_defaults->set("gpsPace", "fixed");
    EXPECT_EQ(pace, 1);
    m_settings->setGpsPace("realtime");
    EXPECT_EQ(pace, 2);
    std::thread writer([&] { m_defaults->remove("gpsPace"); });
    const auto writerId = writer.get_id();
    writer.join();
    EXPECT_EQ(pace, 3);
    EXPECT_EQ(thread, writerId);

    m_settings->registerMappings({{"gpsPace", "gpsPace"}});
    m_defaults->set("gpsPace", "fixed");
    EXPECT_EQ(pace, 4);

    token->invalidate();
    m_defaults->set("gpsPace", "realtime");
    EXPECT_EQ(pace, 4);

    int initial = 0;
    auto withInitial = m_settings->observe(
        "savePath", [&] { ++initial; }, true);
    EXPECT_EQ(initial, 1);
}

// Another process editing the settings file reaches the observers of the
// keys it changed, once, whether it replaces the file or writes in place.
TEST_F(CorvaneSettingsTest, AnOutsideEditReachesTheObserversOfTheChangedKeys)
{
    std::atomic<int> pace = 0;
    std::atomic<int> format = 0;
    std::atomic<int> speed = 0;
    std::vector<ObserverPtr> tokens{m_settings->observe("gpsPace", [&] { ++pace; }),
                                    m_settings->observe("imageFormat", [&] { ++format; }),
                                    m_settings->observe("gpsSpeed", [&] { ++speed; })};
    m_settings->setGpsPace("realtime");
    m_settings->setGpsSpeed("normal");
    ASSERT_EQ(pace, 1);
    const QString file = m_defaults->filePath();
    ASSERT_TRUE(test::readFile(file).contains("gpsPace=realtime"));
    test::pumpFor(std::chrono::milliseconds(300));
    EXPECT_EQ(pace, 1);

    const auto shell = [](const QString &command) {
        return std::system(QFile::encodeName(command).constData()) == 0;
    };
    ASSERT_TRUE(shell("sed -i 's/gpsPace=realtime/gpsPace=fixed/' '" + file + "'"));
    ASSERT_TRUE(test::waitUntil([&] { return pace == 2; }));
    EXPECT_EQ(m_settings->gpsPace(), "fixed");
    ASSERT_TRUE(shell("printf 'imageFormat=jpeg\\n' >> '" + file + "'"));
    ASSERT_TRUE(test::waitUntil([&] { return format == 1; }));
    EXPECT_EQ(m_settings->imageFormat(), "jpeg");
    test::pumpFor(std::chrono::milliseconds(300));
    EXPECT_EQ(pace, 2);
    EXPECT_EQ(format, 1);
    EXPECT_EQ(speed, 1);
}

TEST_F(CorvaneSettingsTest, TheSharedStoreFollowsTheStandardUserDefaults)
{
    CorvaneSettings::resetShared(m_defaults, m_cloud);
    auto shared = CorvaneSettings::shared();
    shared->registerCommonSettings();
    int pace = 0;
    auto token = shared->observe("gpsPace", [&] { ++pace; });
    UserDefaults::standard()->set("gpsPace", "fixed");
    EXPECT_EQ(pace, 1);
    EXPECT_EQ(shared->gpsPace(), "fixed");
    EXPECT_EQ(CloudKeyValueStore::defaultStore(), m_cloud);
    CorvaneSettings::resetShared();
}
