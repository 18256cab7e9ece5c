#include "common/TestSupport.h"
#include "core/Toolset.h"
#include "platform/Log.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/formats/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fcntl.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

class ToolsetBundleWatch : public ::testing::Test {
protected:
    void SetUp() override { m_path = makeXcode("Xcode.app", "15C500b"); }
    void TearDown() override { NotificationCenter::defaultCenter().removeObserver(m_token); }

    QString makeXcode(const QString &name, const char *build)
    {
        const QString bundle = m_dir.path() + "/" + name;
        QDir().mkpath(bundle + "/Contents/Developer/usr/bin");
        PropertyList::writeFile(bundle + "/Contents/Info.plist",
                                QVariantMap{{"CFBundleShortVersionString", "15.2"}});
        PropertyList::writeFile(bundle + "/Contents/version.plist",
                                QVariantMap{{"ProductBuildVersion", build}});
        test::writeScript(bundle + "/Contents/Developer/usr/bin/simctl", "echo");
        return bundle;
    }

    void makeToolset()
    {
        m_toolset = Toolset::make(QUrl::fromLocalFile(m_path));
        ASSERT_TRUE(m_toolset);
        m_token = NotificationCenter::defaultCenter().addObserver(
            Toolset::didBecomeInvalid, m_toolset, nullptr, [this](const Notification &) {
                if (!DirectoryMonitor::queue()->isCurrent())
                    ++m_offQueue;
                ++m_posts;
            });
    }

    // Swaps two folders in one step, so the bundle path never stands empty.
    static bool exchange(const QString &a, const QString &b)
    {
        return renameat2(AT_FDCWD, QFile::encodeName(a).constData(), AT_FDCWD,
                         QFile::encodeName(b).constData(), RENAME_EXCHANGE) == 0;
    }

    QString movedLine() const { return "Xcode at path " + m_path + " was moved on disk"; }

    QTemporaryDir m_dir;
    QString m_path;
    std::shared_ptr<Toolset> m_toolset;
    NotificationCenter::Token m_token;
    std::atomic<int> m_posts{0};
    std::atomic<int> m_offQueue{0};
};

} // namespace

TEST_F(ToolsetBundleWatch, RenamedBundlePostsOncePerDelivery)
{
    Log::Capture log;
    makeToolset();
    ASSERT_TRUE(QFile::rename(m_path, m_dir.path() + "/Xcode-old.app"));

    ASSERT_TRUE(test::waitUntil([&] { return m_posts >= 1; }));
    test::pumpFor(200ms);
    EXPECT_EQ(log.count(movedLine()), m_posts);
    EXPECT_EQ(log.count("Detected change in directory for " + m_path), m_posts);
    EXPECT_EQ(m_offQueue, 0);
    const auto entries = log.entries();
    const auto moved = std::find_if(entries.begin(), entries.end(),
                                    [&](const LogEntry &e) { return e.message == movedLine(); });
    ASSERT_NE(moved, entries.end());
    EXPECT_EQ(moved->category, "toolset");
    EXPECT_EQ(moved->level, LogLevel::Info);
    // The toolset keeps what it knew.
    EXPECT_EQ(m_toolset->build(), "15C500b");
}

TEST_F(ToolsetBundleWatch, ChangesThatKeepTheBuildPostNothing)
{
    const QString sameBuild = makeXcode("Copy.app", "15C500b");
    Log::Capture log;
    makeToolset();

    ASSERT_TRUE(test::writeFile(m_path + "/Extra", "x"));
    ASSERT_TRUE(QDir().mkdir(m_path + "/ExtraFolder"));
    ASSERT_TRUE(QFile::remove(m_path + "/Extra"));
    ASSERT_TRUE(test::waitUntil(
        [&] { return log.count("Detected change in directory for " + m_path) >= 1; }));
    // Another bundle of the same build in its place.
    ASSERT_TRUE(exchange(m_path, sameBuild));
    ASSERT_TRUE(test::waitUntil([&] { return log.contains("Stopped monitoring " + m_path); }));
    test::pumpFor(100ms);
    EXPECT_EQ(m_posts, 0);
    EXPECT_FALSE(log.contains("was moved on disk"));
}

TEST_F(ToolsetBundleWatch, BundleOfAnotherBuildAtThePathPosts)
{
    const QString otherBuild = makeXcode("Next.app", "15E204a");
    Log::Capture log;
    makeToolset();

    ASSERT_TRUE(exchange(m_path, otherBuild));
    ASSERT_TRUE(test::waitUntil([&] { return m_posts >= 1; }));
    EXPECT_TRUE(log.contains(movedLine()));
}

TEST_F(ToolsetBundleWatch, DroppedToolsetStopsItsWatch)
{
    Log::Capture log;
    makeToolset();
    EXPECT_TRUE(log.contains("Started monitoring " + m_path));
    m_toolset.reset();
    EXPECT_EQ(log.count("Stopped monitoring " + m_path), 1);
}
