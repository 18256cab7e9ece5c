#include "common/TestSupport.h"
#include "core/CorvaneSettings.h"
#include "core/DeviceWatching.h"
#include "core/Observer.h"
#include "core/Toolset.h"
#include "core/ToolsetManager.h"
#include "platform/Log.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

struct FakeWatcher : DeviceWatching {
    std::weak_ptr<Toolset> toolset;
};

class ToolsetManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QDir().mkpath(apps());
        QDir().mkpath(root() + "/var/db");
        auto paths = SystemPaths::current();
        paths.applicationsDir = apps() + "/";
        paths.varDb = root() + "/var/db";
        paths.xcodeSelect = root() + "/bin/xcode-select";
        SystemPaths::setCurrent(paths);
        CorvaneSettings::resetShared(UserDefaults::withFile(root() + "/config/defaults.conf"),
                                     std::make_shared<CloudKeyValueStore>(root() + "/kvs.json"));
        CorvaneSettings::shared()->registerCommonSettings();

        ToolsetManager::setDeviceWatcherFactory([this](const std::shared_ptr<Toolset> &toolset) {
            auto watcher = std::make_shared<FakeWatcher>();
            watcher->toolset = toolset;
            std::lock_guard lock(m_mutex);
            m_watched.push_back(toolset);
            return watcher;
        });
        for (const char *name :
             {ToolsetManager::availableToolsetsDidChange, ToolsetManager::currentDidChange})
            m_tokens.push_back(observeNotification(
                name, nullptr, [this](const Notification &n, const ObjectPtr &) {
                    std::lock_guard lock(m_mutex);
                    m_posted << (n.name == ToolsetManager::currentDidChange ? "current"
                                                                            : "available");
                }));
    }

    void TearDown() override
    {
        for (auto &token : m_tokens)
            token->invalidate();
        ToolsetManager::resetShared();
        ToolsetManager::setDeviceWatcherFactory(nullptr);
        CorvaneSettings::resetShared();
        SystemPaths::resetToEnvironment();
    }

    QString root() const { return m_dir.path(); }
    QString apps() const { return root() + "/Applications"; }

    // An Xcode bundle with a simctl; a relative path goes into Applications.
    QString makeXcode(const QString &name, const QString &version = "15.0",
                      const QString &build = "15A240d")
    {
        const QString bundle = name.startsWith('/') ? name : apps() + "/" + name;
        QDir().mkpath(bundle + "/Contents/Developer/usr/bin");
        PropertyList::writeFile(bundle + "/Contents/Info.plist",
                                QVariantMap{{"CFBundleShortVersionString", version}});
        setBuild(bundle, build);
        test::writeScript(bundle + "/Contents/Developer/usr/bin/simctl", "echo");
        return bundle;
    }
    static void setBuild(const QString &bundle, const QString &build)
    {
        PropertyList::writeFile(bundle + "/Contents/version.plist",
                                QVariantMap{{"ProductBuildVersion", build}});
    }

    // xcode-select answers -p with `path` and --version with a fixed line.
    void setXcodeSelect(const QString &path)
    {
        test::writeFile(root() + "/selected", path.toUtf8());
        test::writeScript(root() + "/bin/xcode-select",
                          "[ \"$1\" = --version ] && { echo 'xcode-select version 2397.'; exit "
                          "0; }\ncat '" +
                              root() + "/selected'");
    }
    void setLink(const QString &destination)
    {
        const std::string link = (root() + "/var/db/xcode_select_link").toStdString();
        std::filesystem::remove(link);
        std::filesystem::create_symlink(destination.toStdString(), link);
    }

    QStringList posted()
    {
        std::lock_guard lock(m_mutex);
        return m_posted;
    }
    void clearPosted()
    {
        std::lock_guard lock(m_mutex);
        m_posted.clear();
        m_watched.clear();
    }
    std::vector<std::shared_ptr<Toolset>> watched()
    {
        std::lock_guard lock(m_mutex);
        return m_watched;
    }
    static QStringList paths(const std::vector<std::shared_ptr<Toolset>> &toolsets)
    {
        QStringList result;
        for (const auto &toolset : toolsets)
            result << toolset->xcodePath().toLocalFile();
        return result;
    }
    static QString currentPath()
    {
        auto current = ToolsetManager::shared()->current();
        return current ? current->xcodePath().toLocalFile() : QString();
    }

    QTemporaryDir m_dir;
    std::mutex m_mutex;
    QStringList m_posted;
    std::vector<std::shared_ptr<Toolset>> m_watched;
    std::vector<std::shared_ptr<NotificationObserver>> m_tokens;
};

} // namespace

TEST_F(ToolsetManagerTest, NothingInstalledGivesNothingAndPostsNothing)
{
    QDir(apps()).removeRecursively();
    auto manager = ToolsetManager::shared();
    EXPECT_TRUE(manager->availableToolsets().empty());
    EXPECT_FALSE(manager->current());
    EXPECT_FALSE(manager->isCurrentSystemSelected());
    EXPECT_TRUE(posted().isEmpty());
    EXPECT_TRUE(watched().empty());
    EXPECT_FALSE(manager->xcodeSelectDestination());
    EXPECT_TRUE(manager->debugDescription().startsWith(
        "Current toolset: None at None\nSaved toolset: None\nXcode-Select path: None\nKnown:"));
}

TEST_F(ToolsetManagerTest, DiscoversInstalledAndSelectedXcodes)
{
    makeXcode("Xcode-15.app", "15.0");
    QFile::link(apps() + "/Xcode-15.app", apps() + "/Xcode.app");
    makeXcode("Xcode-9.4.app", "9.4");
    makeXcode("xcode.app", "16.0");
    makeXcode(".Xcode-hidden.app", "16.0");
    makeXcode("Xcode-beta.app", "15.0", "15B5");
    const QString beta = makeXcode(root() + "/Other/Beta.app", "12.0");
    setXcodeSelect(beta + "/Contents/Developer");

    QStringList installed;
    for (const QUrl &url : ToolsetManager::installedXcodeURLs())
        installed << url.toLocalFile();
    EXPECT_EQ(installed, QStringList({apps() + "/Xcode-15.app", apps() + "/Xcode-9.4.app",
                                      apps() + "/Xcode-beta.app"}));
    EXPECT_EQ(ToolsetManager::systemSelectedXcodeURL(), QUrl::fromLocalFile(beta));

    auto manager = ToolsetManager::shared();
    // Equal versions keep path order; the xcode-select Xcode comes last among URLs.
    EXPECT_EQ(paths(manager->availableToolsets()),
              QStringList({apps() + "/Xcode-15.app", apps() + "/Xcode-beta.app", beta,
                           apps() + "/Xcode-9.4.app"}));
    EXPECT_EQ(currentPath(), beta);
    EXPECT_EQ(posted(), QStringList({"available", "current"}));
    ASSERT_EQ(watched().size(), 1u);
    EXPECT_EQ(watched()[0], manager->current());
    EXPECT_TRUE(manager->current()->deviceWatcher());
    EXPECT_TRUE(manager->isCurrentSystemSelected());

    const QString description = manager->debugDescription();
    EXPECT_TRUE(description.startsWith("Current toolset: Xcode 12.0 (15A240d) at " + beta +
                                       "\nSaved toolset: None\nXcode-Select path: " + beta +
                                       "\nKnown:\n\t" + apps() + "/Xcode-15.app\n"))
        << description.toStdString();
    EXPECT_TRUE(description.endsWith("\t" + apps() + "/Xcode-9.4.app\nxcode-select version 2397."));
}

TEST_F(ToolsetManagerTest, XcodeSelectAnswersThatNameNoXcode)
{
    makeXcode("Xcode.app");
    QDir().mkpath(root() + "/CommandLineTools/usr/bin");
    for (const QString &answer :
         {root() + "/CommandLineTools", root() + "/Gone.app/Contents/Developer", QString()}) {
        setXcodeSelect(answer);
        EXPECT_FALSE(ToolsetManager::systemSelectedXcodeURL()) << answer.toStdString();
    }
    // A bundle through a link is named by its real path, as the folder lists it.
    QFile::link(apps() + "/Xcode.app", root() + "/Linked.app");
    setXcodeSelect(root() + "/Linked.app/Contents/Developer");
    EXPECT_EQ(ToolsetManager::systemSelectedXcodeURL(), QUrl::fromLocalFile(apps() + "/Xcode.app"));
    EXPECT_EQ(ToolsetManager::shared()->availableToolsets().size(), 1u);
}

TEST_F(ToolsetManagerTest, SelectionFollowsUserChoiceThenXcodeSelectThenNewest)
{
    const QString newest = makeXcode("Xcode-16.app", "16.0");
    const QString xcode = makeXcode("Xcode.app", "15.0");
    auto settings = CorvaneSettings::shared();
    auto manager = ToolsetManager::shared();
    EXPECT_EQ(currentPath(), newest);

    // The user's choice is that Xcode itself, not one whose path contains it.
    settings->setToolsPath(QUrl::fromLocalFile(xcode));
    {
        Log::Capture log;
        EXPECT_EQ(manager->selectToolset()->xcodePath().toLocalFile(), xcode);
        EXPECT_TRUE(log.contains("Trying to user user-selected Xcode"));
    }
    const QString volume = root() + "/Volumes/Disk" + xcode;
    QDir().mkpath(volume);
    settings->setToolsPath(QUrl::fromLocalFile(volume));
    EXPECT_EQ(manager->selectToolset()->xcodePath().toLocalFile(), newest);

    // A choice equal to xcode-select's is given up.
    setXcodeSelect(xcode + "/Contents/Developer");
    settings->setToolsPath(QUrl::fromLocalFile(xcode));
    EXPECT_EQ(manager->selectToolset()->xcodePath().toLocalFile(), xcode);
    EXPECT_FALSE(settings->toolsPath());

    // A deleted choice is cleared and xcode-select decides.
    settings->setToolsPath(QUrl::fromLocalFile(root() + "/Deleted.app"));
    {
        Log::Capture log;
        EXPECT_EQ(manager->selectToolset()->xcodePath().toLocalFile(), xcode);
        EXPECT_TRUE(log.contains("Trying to user system-selected Xcode"));
    }
    EXPECT_FALSE(settings->toolsPath());

    // An xcode-select Xcode that makes no toolset still leaves a choice.
    QDir().mkpath(root() + "/Broken.app");
    setXcodeSelect(root() + "/Broken.app");
    {
        Log::Capture log;
        EXPECT_EQ(manager->selectToolset()->xcodePath().toLocalFile(), newest);
        EXPECT_TRUE(log.contains("No Xcode can be infered, using first in list"));
    }
}

// /Applications/Xcode.app is a substring of ~/Applications/Xcode.app: each
// must still be the one chosen, by xcode-select and by the user's choice.
TEST_F(ToolsetManagerTest, XcodesWhosePathsContainOneAnotherAreToldApart)
{
    const QString outer = makeXcode("Xcode.app", "16.0");
    const QString inner = makeXcode(root() + "/Users/u" + outer, "15.4");
    // Listed through a link in the Applications folder, at its real path.
    QFile::link(inner, apps() + "/Xcode-15.4.app");
    auto settings = CorvaneSettings::shared();
    auto manager = ToolsetManager::shared();
    ASSERT_EQ(manager->availableToolsets().size(), 2u);

    const auto chosen = [&] { return manager->selectToolset()->xcodePath().toLocalFile(); };
    setXcodeSelect(inner + "/Contents/Developer");
    EXPECT_EQ(chosen(), inner);
    setXcodeSelect(outer + "/Contents/Developer");
    EXPECT_EQ(chosen(), outer);

    settings->setToolsPath(QUrl::fromLocalFile(inner));
    EXPECT_EQ(chosen(), inner);
    settings->setToolsPath(QUrl::fromLocalFile(apps() + "/Xcode-15.4.app"));
    EXPECT_EQ(chosen(), inner);
    setXcodeSelect(inner + "/Contents/Developer");
    settings->setToolsPath(QUrl::fromLocalFile(outer));
    EXPECT_EQ(chosen(), outer);
}

TEST_F(ToolsetManagerTest, SystemSelectedXcodeWithASpaceInItsName)
{
    const QString spaced = makeXcode("Xcode 15.app", "15.0");
    const QString other = makeXcode("Xcode-16.app", "16.0");
    setXcodeSelect(spaced + "/Contents/Developer");
    auto manager = ToolsetManager::shared();
    EXPECT_EQ(currentPath(), spaced);
    EXPECT_TRUE(manager->isCurrentSystemSelected());

    // Picked by the user while xcode-select names it too.
    manager->setCurrent(manager->availableToolsets().front());
    EXPECT_EQ(currentPath(), other);
    EXPECT_FALSE(manager->isCurrentSystemSelected());
    CorvaneSettings::shared()->setToolsPath(QUrl::fromLocalFile(spaced));
    manager->setCurrent(manager->availableToolsets().back());
    EXPECT_TRUE(manager->isCurrentSystemSelected());
}

TEST_F(ToolsetManagerTest, SetCurrentMovesTheWatcherAndAlwaysPosts)
{
    makeXcode("Xcode-16.app", "16.0");
    makeXcode("Xcode.app", "15.0");
    auto manager = ToolsetManager::shared();
    auto first = manager->current();
    auto firstWatcher = first->deviceWatcher();
    clearPosted();

    manager->setCurrent(first);
    EXPECT_EQ(posted(), QStringList({"current"}));
    EXPECT_NE(first->deviceWatcher(), firstWatcher);
    EXPECT_EQ(watched().size(), 1u);

    auto second = manager->availableToolsets().back();
    {
        Log::Capture log;
        manager->setCurrent(second);
        EXPECT_TRUE(log.contains("Switching Xcode to: " + apps() + "/Xcode.app"));
    }
    EXPECT_FALSE(first->deviceWatcher());
    EXPECT_TRUE(second->deviceWatcher());

    Log::Capture log;
    manager->setCurrent(nullptr);
    EXPECT_TRUE(log.contains("Switching Xcode to: nil"));
    EXPECT_FALSE(second->deviceWatcher());
    EXPECT_EQ(posted(), QStringList({"current", "current", "current"}));
}

TEST_F(ToolsetManagerTest, ReloadsPostListChangesBeforeTheNewCurrent)
{
    const QString newest = makeXcode("Xcode-16.app", "16.0");
    const QString older = makeXcode("Xcode.app", "15.0");
    auto manager = ToolsetManager::shared();
    auto kept = manager->availableToolsets().back();
    clearPosted();

    // Same paths, another build: nothing changes.
    setBuild(newest, "16B1");
    manager->reloadToolsets();
    EXPECT_TRUE(posted().isEmpty());
    EXPECT_EQ(manager->current()->build(), "15A240d");

    // The bundle watch may start the reload first; either way it runs once.
    Log::Capture log;
    QDir(newest).removeRecursively();
    manager->reloadToolsets();
    EXPECT_EQ(posted(), QStringList({"available", "current"}));
    EXPECT_TRUE(log.contains("Trying to switch to Xcode that doesn't exist, auto-selecting"));
    EXPECT_EQ(currentPath(), older);
    // The Xcode that stayed keeps its object.
    EXPECT_EQ(manager->current(), kept);
}

TEST_F(ToolsetManagerTest, XcodeSelectLinkChangesReselect)
{
    const QString newest = makeXcode("Xcode-16.app", "16.0");
    const QString older = makeXcode("Xcode.app", "15.0");
    setLink(newest + "/Contents/Developer");
    auto manager = ToolsetManager::shared();
    EXPECT_EQ(manager->xcodeSelectDestination(), newest + "/Contents/Developer");
    clearPosted();

    // Another file in the folder, or the same link again: nothing.
    test::writeFile(root() + "/var/db/other", "x");
    manager->directoryMonitorDidObserveChange(nullptr);
    setLink(newest + "/Contents/Developer");
    manager->directoryMonitorDidObserveChange(nullptr);
    EXPECT_TRUE(posted().isEmpty());

    // xcode-select -s: the watched folder reports the new link.
    setXcodeSelect(older + "/Contents/Developer");
    setLink(older + "/Contents/Developer");
    EXPECT_TRUE(test::waitUntil([&] { return posted().contains("current"); }));
    EXPECT_EQ(currentPath(), older);
    EXPECT_EQ(manager->xcodeSelectDestination(), older + "/Contents/Developer");
}

TEST_F(ToolsetManagerTest, InvalidToolsetsReloadOnlyWhenListed)
{
    makeXcode("Xcode.app", "15.0");
    auto manager = ToolsetManager::shared();
    auto unlisted = Toolset::make(QUrl::fromLocalFile(makeXcode(root() + "/Elsewhere.app")));
    makeXcode("Xcode-16.app", "16.0");
    clearPosted();

    Log::Capture log;
    postNotification(Toolset::didBecomeInvalid, unlisted);
    postNotification(Toolset::didBecomeInvalid, manager->current());
    EXPECT_TRUE(test::waitUntil([&] { return manager->availableToolsets().size() == 2; }));
    test::pumpFor(100ms);
    EXPECT_EQ(log.count("Trying to use invalid Xcode, reloading"), 1);
    EXPECT_EQ(posted(), QStringList({"available"}));
}

TEST_F(ToolsetManagerTest, ConstructionHandsAChangedChoiceItsWatcher)
{
    const QString newest = makeXcode("Xcode-16.app", "16.0");
    const QString older = makeXcode("Xcode.app", "15.0");
    // The user picks another Xcode while the first selection is announced.
    auto token = observeNotification(
        ToolsetManager::currentDidChange, nullptr, [&](const Notification &, const ObjectPtr &) {
            CorvaneSettings::shared()->setToolsPath(QUrl::fromLocalFile(older));
        });
    auto manager = ToolsetManager::shared();
    token->invalidate();
    EXPECT_EQ(currentPath(), older);
    EXPECT_TRUE(manager->current()->deviceWatcher());
    EXPECT_FALSE(manager->availableToolsets().front()->deviceWatcher());
}

TEST_F(ToolsetManagerTest, ConcurrentReloadsKeepCurrentListed)
{
    makeXcode("Xcode.app", "15.0");
    const QString moving = makeXcode("Xcode-16.app", "16.0");
    auto manager = ToolsetManager::shared();
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            while (!done)
                manager->reloadToolsets();
        });
    for (int i = 0; i < 10; ++i) {
        QDir().rename(moving, moving + ".moved");
        std::this_thread::sleep_for(2ms);
        QDir().rename(moving + ".moved", moving);
        std::this_thread::sleep_for(2ms);
    }
    done = true;
    for (auto &thread : threads)
        thread.join();
    manager->reloadToolsets();
    auto current = manager->current();
    ASSERT_TRUE(current);
    const auto available = manager->availableToolsets();
    EXPECT_NE(std::find(available.begin(), available.end(), current), available.end());
    EXPECT_EQ(available.size(), 2u);
}
