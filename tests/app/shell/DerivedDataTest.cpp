#include "app/ShellTestSupport.h"
#include "app/shell/AppDelegate.h"
#include "app/shell/DerivedData.h"
#include "common/TestSupport.h"
#include "fixtures/FixtureTree.h"
#include "platform/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::fixture;
using corvane::test::offMain;

namespace {

// The fixture's `defaults` and home, with the Trash in the tree too.
class DerivedDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_home = qgetenv("HOME");
        m_dataHome = qgetenv("XDG_DATA_HOME");
        m_hadDataHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("HOME", tree.home().toUtf8());
        QDir().mkpath(tree.root() + "/xdg-data");
        qputenv("XDG_DATA_HOME", (tree.root() + "/xdg-data").toUtf8());
        paths = tree.paths();
        QDir().mkpath(DerivedData::defaultFolder(paths) + "/App-abc");
    }
    void TearDown() override
    {
        qputenv("HOME", m_home);
        if (m_hadDataHome)
            qputenv("XDG_DATA_HOME", m_dataHome);
        else
            qunsetenv("XDG_DATA_HOME");
    }

    void setCustomLocation(const QString &path)
    {
        const auto result =
            FixtureTree::run(tree.toolPath("defaults"),
                             {"write", "com.apple.dt.xcode", "IDECustomDerivedDataLocation", path});
        ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    }
    // Off the main thread, as the program trashes.
    void trash()
    {
        offMain([&] { DerivedData::moveToTrash(paths); });
    }
    bool defaultExists() const { return QFileInfo::exists(DerivedData::defaultFolder(paths)); }
    QStringList trashed() const
    {
        return QDir(tree.root() + "/xdg-data/Trash/files")
            .entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    }

    FixtureTree tree;
    SystemPaths paths;

private:
    QByteArray m_home;
    QByteArray m_dataHome;
    bool m_hadDataHome = false;
};

} // namespace

TEST_F(DerivedDataTest, AnExistingCustomFolderIsTheOnlyOneTrashed)
{
    const QString custom = tree.root() + "/CustomDerivedData";
    QDir().mkpath(custom + "/Build");
    setCustomLocation(custom);
    tree.clearLog();

    trash();
    EXPECT_FALSE(QFileInfo::exists(custom));
    EXPECT_TRUE(defaultExists());
    EXPECT_EQ(trashed(), QStringList{"CustomDerivedData"});
    const auto calls = tree.invocations();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].tool, "defaults");
    EXPECT_EQ(calls[0].arguments,
              (QStringList{"read", "com.apple.dt.xcode", "IDECustomDerivedDataLocation"}));
}

TEST_F(DerivedDataTest, WithoutAUsableCustomFolderTheDefaultIsTrashed)
{
    trash();
    EXPECT_FALSE(defaultExists());
    EXPECT_EQ(trashed(), QStringList{"DerivedData"});

    QDir().mkpath(DerivedData::defaultFolder(paths));
    setCustomLocation(tree.root() + "/Gone");
    trash();
    EXPECT_FALSE(defaultExists());

    // Nothing left anywhere: nothing happens and nothing breaks.
    trash();
    EXPECT_EQ(trashed().size(), 2);
}

TEST_F(DerivedDataTest, RefusedLocationsStayAndTheDefaultGoes)
{
    const QString marked = tree.root() + "/domain/default";
    QDir().mkpath(marked);
    const QString parentOfHome = QFileInfo(tree.home()).absolutePath();
    for (const QString &custom :
         {marked, tree.home(), tree.home() + "/.", parentOfHome, QString("relative/path")}) {
        QDir().mkpath(DerivedData::defaultFolder(paths));
        setCustomLocation(custom);
        EXPECT_FALSE(offMain([&] { return DerivedData::customFolder(paths); }))
            << custom.toStdString();
        trash();
        EXPECT_FALSE(defaultExists()) << custom.toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(marked));
    EXPECT_TRUE(QFileInfo::exists(tree.home() + "/Library/Preferences"));
}

TEST_F(DerivedDataTest, TheDelegateTrashesOffTheMainThread)
{
    SystemPaths::setCurrent(paths);
    AppDelegate::Environment environment;
    environment.statusItem = std::make_shared<RecordingStatusItem>();
    auto delegate = AppDelegate::make(environment);
    delegate->deleteDerivedDataHotKey();
    EXPECT_TRUE(test::waitUntil([&] { return !defaultExists(); }));
    SystemPaths::resetToEnvironment();
}

// Without ~/.local/share, Qt would drop the trash records in the working
// directory: the home trash is made instead, and without one nothing moves.
TEST_F(DerivedDataTest, TrashingLeavesTheWorkingDirectoryAlone)
{
    QTemporaryDir workingDirectory;
    struct Restore {
        QString path = QDir::currentPath();
        ~Restore() { QDir::setCurrent(path); }
    } restore;
    ASSERT_TRUE(QDir::setCurrent(workingDirectory.path()));
    const QString dataHome = tree.home() + "/.local/share";
    ASSERT_FALSE(QFileInfo::exists(dataHome));
    qunsetenv("XDG_DATA_HOME");

    offMain([&] { DerivedData::moveToTrash(paths); });
    EXPECT_FALSE(defaultExists());
    EXPECT_TRUE(QFileInfo::exists(dataHome + "/Trash/files/DerivedData"));
    EXPECT_TRUE(QFileInfo::exists(dataHome + "/Trash/info/DerivedData.trashinfo"));

    // A data folder that cannot be made: the folder stays where it is.
    QDir().mkpath(DerivedData::defaultFolder(paths));
    ASSERT_TRUE(test::writeFile(tree.root() + "/plain-file", "x"));
    qputenv("XDG_DATA_HOME", (tree.root() + "/plain-file/share").toUtf8());
    Log::Capture capture;
    offMain([&] { DerivedData::moveToTrash(paths); });
    EXPECT_TRUE(defaultExists());
    EXPECT_TRUE(capture.contains("there is no Trash folder"));

    EXPECT_TRUE(QDir(workingDirectory.path()).isEmpty());
}
