#include "TaskTestSupport.h"
#include "platform/desktop/Workspace.h"
#include "tasks/ArchiveTask.h"

#include <QFile>
#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

using namespace corvane;
using namespace corvane::test;

namespace {

namespace fs = std::filesystem;

constexpr time_t kPast = 1600000000;

// Refuses to read the attributes of the locations it is given.
class TestArchiveTask : public ArchiveTask {
public:
    using ArchiveTask::ArchiveTask;
    QStringList unreadable;

protected:
    ItemLocation::Attributes itemAttributes(const ItemLocation &location) const override
    {
        if (unreadable.contains(QString::fromStdString(location.path())))
            throw fs::filesystem_error("cannot read attributes",
                                       std::make_error_code(std::errc::permission_denied));
        return ArchiveTask::itemAttributes(location);
    }
};

struct stat lstatOf(const QString &path)
{
    struct stat info {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info;
}

void setTimes(const QString &path, time_t seconds)
{
    const timespec times[2] = {{seconds - 100, 0}, {seconds, 0}};
    ASSERT_EQ(
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

QString linkTarget(const QString &path)
{
    std::error_code error;
    return QString::fromStdString(fs::read_symlink(QFile::encodeName(path).toStdString(), error));
}

mode_t umaskNow()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

bool isLink(const QString &path)
{
    return S_ISLNK(lstatOf(path).st_mode);
}

class ArchiveFilesTest : public ApplicationFixture {
protected:
    void SetUp() override
    {
        ApplicationFixture::SetUp();
        task = std::make_shared<TestArchiveTask>(makeApplication());
        task->observeDidUpdate(nullptr, [this](const TaskPtr &updated) {
            ++updates;
            if (auto text = updated->localisedDetailDescription();
                text && (texts.isEmpty() || texts.last() != *text))
                texts << *text;
        });
    }

    // A gathered entry of the data container below "data".
    File entry(const QString &relative) const
    {
        const bool directory = relative.endsWith('/');
        return File{QUrl::fromLocalFile(path("data/" + relative)),
                    relative,
                    "AppData",
                    directory,
                    QDateTime::currentDateTimeUtc(),
                    std::nullopt,
                    nativePath(path("data/" + relative)),
                    nativePath(relative)};
    }
    std::filesystem::path archived(const QString &relative) const
    {
        return nativePath(path("Foo.xcappdata/AppData/" + relative));
    }
    void copy(const QString &relative) { task->copyEntry(entry(relative), archived(relative)); }

    std::vector<File> gatherData(const QString &progress = "Gathering (%@)")
    {
        Container container("com.example.foo", "AppData", QUrl::fromLocalFile(path("data")));
        return task->gatherFiles(container.url(), ArchiveTask::containerEntries(container),
                                 progress);
    }

    std::shared_ptr<TestArchiveTask> task;
    int updates = 0;
    QStringList texts;
};

std::set<QString> relativePaths(const std::vector<File> &files)
{
    std::set<QString> paths;
    for (const File &file : files)
        paths.insert(file.containerIdentifier + ":" + file.relativePath);
    return paths;
}

} // namespace

TEST_F(ArchiveFilesTest, GatheringSkipsMetadataAtAnyDepthAndCountsEachEntry)
{
    for (const char *file :
         {"data/Library/Preferences/x.plist", "data/Library/.DS_Store", "data/Documents/a.txt",
          "data/Documents/deep/.com.apple.mobile_container_manager.metadata.plist",
          "data/.com.apple.mobile_container_manager.metadata.plist", "data/tmp/t",
          "data/SystemData/s"})
        ASSERT_TRUE(writeFile(path(file), "x"));

    const auto files = gatherData();
    EXPECT_EQ(relativePaths(files),
              std::set<QString>({"AppData:Library/", "AppData:Library/Preferences/",
                                 "AppData:Library/Preferences/x.plist", "AppData:Documents/",
                                 "AppData:Documents/a.txt", "AppData:Documents/deep/"}));
    // A folder comes before what it holds.
    for (size_t i = 0; i < files.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(files[j].relativePath.startsWith(files[i].relativePath) &&
                         files[i].isDirectory);
    EXPECT_EQ(task->totalCount(), 6);
    EXPECT_EQ(updates, 12);
    EXPECT_EQ(texts, QStringList({"Gathering (1)", "Gathering (2)", "Gathering (3)",
                                  "Gathering (4)", "Gathering (5)", "Gathering (6)"}));

    // In an archive only what lies inside the container folders counts.
    for (const char *file :
         {"Foo.xcappdata/AppDataInfo.plist", "Foo.xcappdata/AppData/Library/x",
          "Foo.xcappdata/group.a/y", "Foo.xcappdata/.DS_Store", "Foo.xcappdata/other/z"})
        ASSERT_TRUE(writeFile(path(file), "x"));
    const QUrl archive = QUrl::fromLocalFile(path("Foo.xcappdata"));
    const auto archived = task->gatherFiles(archive, ArchiveTask::archiveEntries(archive), "%@");
    EXPECT_EQ(relativePaths(archived),
              std::set<QString>({"AppData:Library/", "AppData:Library/x", "group.a:y"}));
    EXPECT_EQ(task->totalCount(), 9);

    // A folder that cannot be walked gives nothing.
    EXPECT_TRUE(task->gatherFiles(QUrl::fromLocalFile(path("missing")),
                                  ArchiveTask::archiveEntries(archive), "%@")
                    .empty());
}

TEST_F(ArchiveFilesTest, CountsAreShownWithTheLocalesDigitGrouping)
{
    for (int i = 0; i < 1234; ++i)
        ASSERT_TRUE(writeFile(path("data/Documents/f" + QString::number(i)), {}));
    const QLocale previous;
    QLocale::setDefault(QLocale("en_US"));
    const auto files = gatherData("Gathering files for export (%@)…");
    QLocale::setDefault(previous);
    EXPECT_EQ(files.size(), 1235u);
    EXPECT_TRUE(texts.contains("Gathering files for export (1,234)…"));
    EXPECT_EQ(texts.last(), "Gathering files for export (1,235)…");
}

TEST_F(ArchiveFilesTest, ACancelStopsTheWalk)
{
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(writeFile(path("data/Documents/f" + QString::number(i)), {}));
    task->observeDidUpdate(nullptr, [](const TaskPtr &updated) {
        if (updated->totalCount() == 3 && !updated->isCancelled())
            updated->cancel();
    });
    EXPECT_EQ(gatherData().size(), 3u);
    EXPECT_EQ(task->totalCount(), 3);
}

TEST_F(ArchiveFilesTest, CopiesKeepPermissionsAndTimes)
{
    ASSERT_TRUE(QDir().mkpath(path("data/Library/Preferences")));
    ASSERT_EQ(::chmod(QFile::encodeName(path("data/Library")).constData(), 0750), 0);
    setTimes(path("data/Library"), kPast);
    QByteArray content(3 * 1024 * 1024 + 17, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = char(i * 7 % 251);
    ASSERT_TRUE(writeFile(path("data/Library/Preferences/x.plist"), content));
    ASSERT_EQ(
        ::chmod(QFile::encodeName(path("data/Library/Preferences/x.plist")).constData(), 0640), 0);
    setTimes(path("data/Library/Preferences/x.plist"), kPast + 60);
    ASSERT_EQ(::chmod(QFile::encodeName(path("data/Library/Preferences")).constData(), 0700), 0);
    setTimes(path("data/Library/Preferences"), kPast + 30);

    // A file's folder gets the source folder's attributes; folders get theirs
    // once what goes inside is there, so that their times stay too.
    copy("Library/");
    copy("Library/Preferences/x.plist");
    task->applyFolderAttributes();
    auto info = lstatOf(path("Foo.xcappdata/AppData/Library"));
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0750u);
    EXPECT_EQ(info.st_mtim.tv_sec, kPast);
    EXPECT_EQ(readFile(path("Foo.xcappdata/AppData/Library/Preferences/x.plist")), content);
    info = lstatOf(path("Foo.xcappdata/AppData/Library/Preferences/x.plist"));
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_mtim.tv_sec, kPast + 60);
    info = lstatOf(path("Foo.xcappdata/AppData/Library/Preferences"));
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    EXPECT_EQ(info.st_mtim.tv_sec, kPast + 30);
    // The missing folder above them keeps the default mode, not the first
    // entry's.
    EXPECT_EQ(lstatOf(path("Foo.xcappdata/AppData")).st_mode & 07777, 0777u & ~umaskNow());

    // An existing folder is fine; an existing file is not replaced.
    EXPECT_NO_THROW(copy("Library/"));
    try {
        copy("Library/Preferences/x.plist");
        ADD_FAILURE() << "an existing file was overwritten";
    } catch (const fs::filesystem_error &error) {
        EXPECT_EQ(error.code(), std::errc::file_exists);
    }
    EXPECT_EQ(readFile(path("Foo.xcappdata/AppData/Library/Preferences/x.plist")), content);
}

TEST_F(ArchiveFilesTest, OnlyAFoldersOwnAttributesAreRequired)
{
    ASSERT_TRUE(writeFile(path("data/Documents/a.txt"), "hello"));
    task->unreadable = {path("data/Documents")};
    copy("Documents/a.txt");
    EXPECT_EQ(readFile(path("Foo.xcappdata/AppData/Documents/a.txt")), "hello");

    EXPECT_THROW(copy("Documents/"), fs::filesystem_error);
}

TEST_F(ArchiveFilesTest, AVanishedSourceIsPassedOver)
{
    ASSERT_TRUE(QDir().mkpath(path("data/Documents")));
    EXPECT_NO_THROW(copy("Documents/gone.txt"));
    EXPECT_FALSE(QFileInfo::exists(path("Foo.xcappdata/AppData/Documents/gone.txt")));
    EXPECT_NO_THROW(copy("Documents/gone/deeper.txt"));
    EXPECT_FALSE(QFileInfo::exists(path("Foo.xcappdata/AppData/Documents/gone/deeper.txt")));
}

TEST_F(ArchiveFilesTest, LinksAreCopiedAsLinksAndNeverFollowed)
{
    ASSERT_TRUE(writeFile(path("outside/secret.txt"), "secret"));
    ASSERT_TRUE(QDir().mkpath(path("data/Documents")));
    ASSERT_TRUE(makeLink("/etc/hostname", path("data/Documents/host")));
    ASSERT_TRUE(makeLink("../../outside", path("data/Documents/folder")));
    // A pipe would hang whoever opened it to read.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("outside/pipe")).constData(), 0600), 0);
    ASSERT_TRUE(makeLink(path("outside/pipe"), path("data/Documents/pipe")));

    const auto files = gatherData();
    EXPECT_EQ(relativePaths(files),
              std::set<QString>({"AppData:Documents/", "AppData:Documents/host",
                                 "AppData:Documents/folder", "AppData:Documents/pipe"}));
    for (const File &file : files) {
        EXPECT_EQ(file.isDirectory, file.relativePath == "Documents/");
        task->copyEntry(file, archived(file.relativePath));
    }
    EXPECT_TRUE(isLink(path("Foo.xcappdata/AppData/Documents/host")));
    EXPECT_EQ(linkTarget(path("Foo.xcappdata/AppData/Documents/host")), "/etc/hostname");
    EXPECT_EQ(linkTarget(path("Foo.xcappdata/AppData/Documents/folder")), "../../outside");
    EXPECT_EQ(linkTarget(path("Foo.xcappdata/AppData/Documents/pipe")), path("outside/pipe"));
    EXPECT_EQ(lstatOf(path("outside/secret.txt")).st_size, 6);
}

TEST_F(ArchiveFilesTest, NothingIsWrittenOrReadThroughALinkBelowTheFolders)
{
    ASSERT_TRUE(writeFile(path("data/Library/Preferences/x.plist"), "prefs"));
    ASSERT_TRUE(writeFile(path("data/Documents/a.txt"), "hello"));
    ASSERT_TRUE(QDir().mkpath(path("outside")));
    ASSERT_TRUE(QDir().mkpath(path("Foo.xcappdata/AppData")));
    ASSERT_TRUE(makeLink(path("outside"), path("Foo.xcappdata/AppData/Library")));

    try {
        copy("Library/Preferences/x.plist");
        ADD_FAILURE() << "the copy went through a linked folder";
    } catch (const fs::filesystem_error &error) {
        EXPECT_EQ(error.code(), std::errc::too_many_symbolic_link_levels);
    }
    EXPECT_THROW(copy("Library/"), fs::filesystem_error);
    EXPECT_TRUE(QDir(path("outside")).isEmpty());

    // A link where the file goes is an existing item, and is left alone.
    ASSERT_TRUE(writeFile(path("outside/target"), "keep"));
    ASSERT_TRUE(QDir().mkpath(path("Foo.xcappdata/AppData/Documents")));
    ASSERT_TRUE(makeLink(path("outside/target"), path("Foo.xcappdata/AppData/Documents/a.txt")));
    EXPECT_THROW(copy("Documents/a.txt"), fs::filesystem_error);
    EXPECT_EQ(readFile(path("outside/target")), "keep");

    // A source folder swapped for a link since it was gathered is not read.
    ASSERT_TRUE(writeFile(path("elsewhere/a.txt"), "not mine"));
    ASSERT_TRUE(QDir(path("data/Documents")).removeRecursively());
    ASSERT_TRUE(makeLink(path("elsewhere"), path("data/Documents")));
    ASSERT_TRUE(QFile::remove(path("Foo.xcappdata/AppData/Documents/a.txt")));
    EXPECT_THROW(copy("Documents/a.txt"), fs::filesystem_error);
    EXPECT_FALSE(QFileInfo::exists(path("Foo.xcappdata/AppData/Documents/a.txt")));
}

// A copy keeps the folders it went through open for the next entries: a
// folder swapped for a link meanwhile, on either side, still leads nowhere
// else.
TEST_F(ArchiveFilesTest, AFolderSwappedForALinkBetweenEntriesIsNotFollowed)
{
    for (const char *file : {"a.txt", "b.txt", "c.txt"})
        ASSERT_TRUE(writeFile(path("data/Documents/") + file, "mine"));
    ASSERT_TRUE(writeFile(path("elsewhere/c.txt"), "not mine"));
    ASSERT_TRUE(QDir().mkpath(path("outside")));
    copy("Documents/");
    copy("Documents/a.txt");

    const auto swap = [&](const QString &folder, const QString &target) {
        ASSERT_EQ(::rename(nativeOf(folder).c_str(), nativeOf(folder + ".moved").c_str()), 0);
        ASSERT_TRUE(makeLink(target, folder));
    };
    swap(path("Foo.xcappdata/AppData/Documents"), path("outside"));
    try {
        copy("Documents/b.txt");
    } catch (const fs::filesystem_error &) {
    }
    EXPECT_TRUE(QDir(path("outside")).isEmpty());

    swap(path("data/Documents"), path("elsewhere"));
    try {
        copy("Documents/c.txt");
    } catch (const fs::filesystem_error &) {
    }
    for (const QString &copied :
         {path("Foo.xcappdata/AppData/Documents.moved/c.txt"), path("outside/c.txt")})
        EXPECT_NE(readFile(copied), "not mine") << copied.toStdString();
}

// A plain path is split as a string, any other one component by component:
// both give the same folder and item.
TEST(ItemLocation, AnEntryIsSplitBelowTheFolderItsPathEndsIn)
{
    struct Case {
        const char *path;
        const char *relative;
        const char *root;
        const char *item;
    };
    const Case cases[] = {
        {"/r/Documents/a.txt", "Documents/a.txt", "/r", "/r/Documents/a.txt"},
        {"/r/Documents/", "Documents/", "/r", "/r/Documents"},
        {"/r//Documents/a.txt", "Documents/a.txt", "/r", "/r/Documents/a.txt"},
        {"/r/./x/../Documents/a.txt", "Documents/a.txt", "/r", "/r/Documents/a.txt"},
        {"/r/Documents/a.txt", "Other/a.txt", "/r/Documents", "/r/Documents/a.txt"},
        {"/Documents/a.txt", "Documents/a.txt", "/", "/Documents/a.txt"},
        {"/r/a", "", "/r", "/r/a"},
    };
    for (const Case &c : cases) {
        const ItemLocation location = ItemLocation::below(c.path, c.relative);
        EXPECT_EQ(location.root(), c.root) << c.path << " " << c.relative;
        EXPECT_EQ(location.path(), c.item) << c.path << " " << c.relative;
        EXPECT_EQ(location.native(), c.item) << c.path;
    }
}

TEST_F(ArchiveFilesTest, RevealShowsTheArchiveInItsFolderOnceInspectable)
{
    auto workspace = std::make_shared<RecordingWorkspace>();
    Workspace::setShared(workspace);
    task->reveal();
    task->setUrl(QUrl::fromLocalFile(path("Foo.xcappdata/")));
    task->reveal();
    EXPECT_TRUE(workspace->requests.empty());

    task->setCanInspect(true);
    task->reveal();
    Workspace::setShared(nullptr);
    EXPECT_EQ(workspace->requests,
              std::vector<RecordingWorkspace::Request>({{"revealFile", path("Foo.xcappdata")}}));
    EXPECT_EQ(task->localizedDescription(), "Foo v1.2 (34) - iPhone 15 - 17.2");
}
