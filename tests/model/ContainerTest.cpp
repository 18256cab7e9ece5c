#include "common/TestSupport.h"
#include "model/Container.h"
#include "platform/files/FileManager.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>

using namespace corvane;
using Location = Container::Location;

namespace {

// Removes like the default manager, but refuses the n-th removal.
class FailingFileManager : public FileManager {
public:
    explicit FailingFileManager(int failAt) : m_failAt(failAt) {}

    void removeItem(const std::filesystem::path &path) override
    {
        if (++calls == m_failAt) {
            refused = QString::fromStdString(path);
            throw std::filesystem::filesystem_error(
                "Refused", std::make_error_code(std::errc::permission_denied));
        }
        FileManager::removeItem(path);
        removed << QString::fromStdString(path);
    }

    int calls = 0;
    QStringList removed;
    QString refused;

private:
    int m_failAt;
};

// A folder the caller may not read: it cannot be listed, and neither it nor
// a folder holding it can be removed, as the file system behaves for a user
// other than root.
class LockedFolderFileManager : public FileManager {
public:
    explicit LockedFolderFileManager(QString locked) : m_locked(QDir::cleanPath(locked)) {}

    std::vector<std::filesystem::path>
    contentsOfDirectory(const std::filesystem::path &directory) override
    {
        if (QDir::cleanPath(QString::fromStdString(directory.string())) == m_locked)
            throw std::filesystem::filesystem_error(
                "Cannot list", directory, std::make_error_code(std::errc::permission_denied));
        return FileManager::contentsOfDirectory(directory);
    }

    void removeItem(const std::filesystem::path &item) override
    {
        const QString path = QDir::cleanPath(QString::fromStdString(item));
        if (path == m_locked || m_locked.startsWith(path + "/"))
            throw std::filesystem::filesystem_error(
                "Cannot remove", std::make_error_code(std::errc::permission_denied));
        FileManager::removeItem(item);
    }

private:
    QString m_locked;
};

class ContainerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_workspace = std::make_shared<RecordingWorkspace>();
        Workspace::setShared(m_workspace);
    }
    void TearDown() override { Workspace::setShared(nullptr); }

    QString path(const QString &relative) const { return m_dir.filePath(relative); }
    void touch(const QString &relative)
    {
        QDir().mkpath(QFileInfo(path(relative)).absolutePath());
        ASSERT_TRUE(test::writeFile(path(relative), "x"));
    }
    void mkdir(const QString &relative) { QDir().mkpath(path(relative)); }
    bool exists(const QString &relative) const { return QFileInfo::exists(path(relative)); }

    Container make(const QString &identifier, const QString &bundle = "com.example.demo") const
    {
        return Container(bundle, identifier, QUrl::fromLocalFile(m_dir.path()));
    }

    QTemporaryDir m_dir;
    std::shared_ptr<RecordingWorkspace> m_workspace;
};

} // namespace

TEST_F(ContainerTest, ErasingTheDataContainerKeepsWhatTheContainerManagerNeeds)
{
    touch("Documents/a.txt");
    touch("Library/Preferences/p.plist");
    touch("Library/Caches/c.bin");
    touch("tmp/t");
    touch(".DS_Store");
    touch("Library/.DS_Store");
    touch("Library/Caches/.DS_Store");
    touch(".com.apple.mobile_container_manager.metadata.plist");

    const Container container = make("AppData");
    EXPECT_TRUE(container.isDataContainer());
    container.erase(FileManager::defaultManager());

    EXPECT_TRUE(QFileInfo(path("Library")).isDir());
    EXPECT_TRUE(QFileInfo(path("Library/Caches")).isDir());
    EXPECT_TRUE(exists("tmp/t"));
    EXPECT_FALSE(exists("Documents"));
    EXPECT_FALSE(exists("Library/Preferences"));
    EXPECT_FALSE(exists("Library/Caches/c.bin"));
    EXPECT_TRUE(exists(".DS_Store"));
    EXPECT_TRUE(exists("Library/.DS_Store"));
    EXPECT_TRUE(exists("Library/Caches/.DS_Store"));
    EXPECT_TRUE(exists(".com.apple.mobile_container_manager.metadata.plist"));

    // Nothing left to delete is a success too.
    FailingFileManager untouched(1);
    container.erase(untouched);
    EXPECT_EQ(untouched.calls, 0);
}

TEST_F(ContainerTest, ErasingAGroupKeepsOnlyLibraryAndCaches)
{
    touch("Library/Preferences/x.plist");
    mkdir("Library/Caches");
    touch("Library/.DS_Store");
    touch("Shared/data.db");
    touch("top.txt");

    make("group.com.example.shared").erase(FileManager::defaultManager());

    QStringList left;
    for (const QFileInfo &info :
         QDir(m_dir.path()).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        left << info.fileName();
    EXPECT_EQ(left, QStringList{"Library"});
    EXPECT_EQ(
        QDir(path("Library")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        (QStringList{".DS_Store", "Caches"}));
}

TEST_F(ContainerTest, AFailedRemovalIsThrownAfterTheRestIsRemoved)
{
    touch("a.txt");
    touch("b.txt");
    touch("c.txt");

    FailingFileManager fileManager(2);
    EXPECT_THROW(make("group.g").erase(fileManager), std::filesystem::filesystem_error);
    EXPECT_EQ(fileManager.calls, 3);
    ASSERT_EQ(fileManager.removed.size(), 2);
    for (const QString &removed : fileManager.removed)
        EXPECT_FALSE(QFileInfo::exists(removed));
    EXPECT_TRUE(QFileInfo::exists(fileManager.refused));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files).size(), 1);

    // A missing folder is an empty container.
    const Container gone("b", "AppData", QUrl::fromLocalFile(path("nothing-here")));
    EXPECT_FALSE(gone.exists());
    EXPECT_NO_THROW(gone.erase(fileManager));
}

// The walk stopped at the first folder it could not list, and the erase
// then reported success with files left behind.
TEST_F(ContainerTest, AFolderThatCannotBeListedFailsTheEraseAndTheRestGoes)
{
    touch("Documents/a.txt");
    touch("Documents/Locked/secret.txt");
    touch("Documents/z.txt");
    touch("Library/Preferences/p.plist");
    touch("tmp/t");

    LockedFolderFileManager fileManager(path("Documents/Locked"));
    EXPECT_THROW(make("AppData").erase(fileManager), std::filesystem::filesystem_error);
    EXPECT_FALSE(exists("Documents/a.txt"));
    EXPECT_FALSE(exists("Documents/z.txt"));
    EXPECT_FALSE(exists("Library/Preferences"));
    EXPECT_TRUE(exists("Documents/Locked/secret.txt"));
    EXPECT_TRUE(exists("tmp/t"));

    // A container folder that cannot be listed at all is no success either,
    // while one outside what the erase empties is none of its business.
    LockedFolderFileManager lockedRoot(m_dir.path());
    EXPECT_THROW(make("group.g").erase(lockedRoot), std::filesystem::filesystem_error);
    touch("tmp/Locked/x");
    LockedFolderFileManager lockedTmp(path("tmp/Locked"));
    EXPECT_NO_THROW(make("AppData").erase(lockedTmp));
}

TEST_F(ContainerTest, LocationsAndTheirFolders)
{
    EXPECT_EQ(Container::locationFromRawValue("Temp"), Location::tmp);
    EXPECT_FALSE(Container::locationFromRawValue("tmp"));
    EXPECT_FALSE(Container::locationFromRawValue("temp"));
    for (Location location : Container::allLocations())
        EXPECT_EQ(Container::locationFromRawValue(Container::rawValue(location)), location);
    EXPECT_EQ(Container::rawValue(Location::preferences), "User Defaults");

    const Container container = make("AppData", "B");
    EXPECT_TRUE(container.exists());
    EXPECT_EQ(container.relativePath(Location::preferences), "Library/Preferences/B.plist");
    EXPECT_FALSE(container.urlForLocation(Location::preferences));
    container.openLocation(Location::preferences);
    EXPECT_TRUE(m_workspace->requests.empty());

    touch("Library/Preferences/B.plist");
    mkdir("Documents");
    EXPECT_EQ(container.urlForLocation(Location::preferences)->toLocalFile(),
              path("Library/Preferences/B.plist"));
    container.openLocation(Location::preferences);
    container.openLocation(Location::documents);
    container.open();
    container.reveal();
    const std::vector<RecordingWorkspace::Request> expected{
        {"openUrl", QUrl::fromLocalFile(path("Library/Preferences/B.plist")).toString()},
        {"showFolder", path("Documents/")},
        {"showFolder", m_dir.path()},
        {"revealFile", m_dir.path()},
    };
    EXPECT_EQ(m_workspace->requests, expected);
}
