#include "common/TestSupport.h"
#include "core/File.h"
#include "platform/files/FileManager.h"
#include "core/FileNames.h"
#include "core/Glob.h"
#include "core/Mode.h"
#include "core/UrlHelpers.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace corvane;
using namespace corvane::test;

namespace {

const QDateTime someDate = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);

std::vector<File> archiveRecords(const QString &base, const QStringList &entries)
{
    std::vector<File> records;
    for (const QString &entry : entries) {
        const bool isDirectory = entry.endsWith('/');
        File::archiveContainerComponent(
            nativePath(base + "/" + entry), QUrl::fromLocalFile(base + "/" + entry), isDirectory,
            someDate, isDirectory ? std::nullopt : std::optional(3),
            QUrl::fromLocalFile(base + "/"), [&](const File &file) { records.push_back(file); });
    }
    return records;
}

} // namespace

TEST(File, ArchiveEntriesNameTheirContainer)
{
    const QString base = "/tmp/Foo.xcappdata";
    const auto records = archiveRecords(
        base, {"AppData/", "AppData/Documents/a.txt", "AppData/Library/", "AppDataInfo.plist",
               "other/x", "group.x/", "group.x/y/z.db", "deeper/group.y/w.db"});
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].relativePath, "Documents/a.txt");
    EXPECT_EQ(records[0].containerIdentifier, "AppData");
    EXPECT_EQ(records[0].size, 3);
    EXPECT_EQ(records[1].relativePath, "Library/");
    EXPECT_TRUE(records[1].isDirectory);
    EXPECT_EQ(records[2].relativePath, "y/z.db");
    EXPECT_EQ(records[2].containerIdentifier, "group.x");
    EXPECT_EQ(records[2].nativeRelativePath, "y/z.db");
    EXPECT_EQ(records[3].containerIdentifier, "group.y");
    EXPECT_EQ(records[3].relativePath, "w.db");

    // Not below the archive folder at all.
    bool called = false;
    File::archiveContainerComponent(
        "/tmp/Other/AppData/a", QUrl::fromLocalFile("/tmp/Other/AppData/a"), false, someDate, 1,
        QUrl::fromLocalFile(base), [&](const File &) { called = true; });
    EXPECT_FALSE(called);
}

TEST(File, DataContainerIncludesOnlyItsTopLevelNames)
{
    const QUrl base = QUrl::fromLocalFile("/c/data/");
    const QStringList names{"Library", "Documents"};
    auto included = [&](const QString &entry, const QString &container) {
        return File::isIncluded(QUrl::fromLocalFile("/c/data/" + entry), base, container, names);
    };
    EXPECT_TRUE(included("Library/", "AppData"));
    EXPECT_TRUE(included("Library/Caches/x", "AppData"));
    EXPECT_TRUE(included("Documents/a.txt", "AppData"));
    EXPECT_TRUE(included("", "AppData"));
    EXPECT_FALSE(included("tmp/a", "AppData"));
    EXPECT_FALSE(included("LibraryX/a", "AppData"));
    EXPECT_TRUE(included("tmp/a", "group.x"));
}

TEST(File, EnumerationReadsEveryEntryOnceWithoutFollowingLinks)
{
    QTemporaryDir dir;
    const QString root = dir.path() + "/data";
    ASSERT_TRUE(writeFile(root + "/Documents/a.txt", "hello"));
    ASSERT_TRUE(writeFile(root + "/Documents/.DS_Store", "x"));
    ASSERT_TRUE(writeFile(root + "/Library/Caches/.hidden", "12"));
    ASSERT_TRUE(writeFile(root + "/.com.apple.mobile_container_manager.metadata.plist", "x"));
    ASSERT_TRUE(writeFile(root + "/tmp/t", "x"));
    ASSERT_TRUE(writeFile(dir.path() + "/outside/secret", "x"));
    std::filesystem::create_directory_symlink((dir.path() + "/outside").toStdString(),
                                              (root + "/Documents/link").toStdString());

    const QUrl base = QUrl::fromLocalFile(root + "/");
    std::vector<File> files;
    File::enumerateContents(
        base, {".DS_Store", ".com.apple.mobile_container_manager.metadata.plist"},
        [&](const QUrl &url) {
            return File::isIncluded(url, base, "AppData", {"Library", "Documents"});
        },
        FileCoordinator::withoutChanges | FileCoordinator::immediatelyAvailableMetadataOnly,
        [&](const std::filesystem::path &path, const QUrl &url, bool isDirectory,
            const QDateTime &modified, std::optional<qint64> size, bool &) {
            File::visit(path, url, isDirectory, modified, size, base, "AppData",
                        [&](const File &file) { files.push_back(file); });
        });

    std::map<QString, File> byPath;
    for (const File &file : files)
        byPath[file.relativePath] = file;
    EXPECT_EQ(files.size(), byPath.size());
    QStringList paths;
    for (const auto &[path, file] : byPath)
        paths << path;
    EXPECT_EQ(paths, QStringList({"Documents/", "Documents/a.txt", "Documents/link", "Library/",
                                  "Library/Caches/", "Library/Caches/.hidden"}));
    EXPECT_TRUE(byPath["Library/"].isDirectory);
    EXPECT_FALSE(byPath["Library/"].size);
    EXPECT_EQ(byPath["Documents/a.txt"].size, 5);
    EXPECT_EQ(byPath["Documents/a.txt"].containerIdentifier, "AppData");
    EXPECT_EQ(byPath["Documents/a.txt"].nativeRelativePath, "Documents/a.txt");
    EXPECT_TRUE(byPath["Documents/a.txt"].lastModified.isValid());
    EXPECT_FALSE(byPath["Documents/link"].isDirectory);
    EXPECT_FALSE(byPath["Documents/link"].size);
    EXPECT_EQ(byPath["Library/Caches/.hidden"].size, 2);

    // A directory comes before its contents, and the stop flag ends the walk.
    int seen = 0;
    File::enumerateContents(base, {}, {}, 0,
                            [&](const std::filesystem::path &, const QUrl &, bool,
                                const QDateTime &, std::optional<qint64>,
                                bool &stop) { stop = ++seen == 2; });
    EXPECT_EQ(seen, 2);

    seen = 0;
    EXPECT_TRUE(
        File::enumerateContents(QUrl::fromLocalFile(dir.path() + "/missing"), {}, {}, 0,
                                [&](const std::filesystem::path &, const QUrl &, bool,
                                    const QDateTime &, std::optional<qint64>, bool &) { ++seen; })
            .empty());
    EXPECT_EQ(seen, 0);
}

namespace {

// Cannot list one folder, as for a user other than root without the right.
class UnlistableFolder : public FileManager {
public:
    explicit UnlistableFolder(std::filesystem::path folder) : m_folder(std::move(folder)) {}
    std::vector<std::filesystem::path>
    contentsOfDirectory(const std::filesystem::path &directory) override
    {
        if (directory == m_folder)
            throw std::filesystem::filesystem_error(
                "Cannot list", directory, std::make_error_code(std::errc::permission_denied));
        return FileManager::contentsOfDirectory(directory);
    }

private:
    std::filesystem::path m_folder;
};

} // namespace

// The walk once ended at the first folder it could not list.
TEST(FileEnumeration, AFolderThatCannotBeListedIsPassedOver)
{
    QTemporaryDir dir;
    for (const char *file : {"a/1", "b/c/2", "b/d/3", "e/4"})
        ASSERT_TRUE(writeFile(dir.path() + "/" + file, "x"));
    UnlistableFolder fileManager((dir.path() + "/b/c").toStdString());
    QStringList seen;
    const auto unlisted = File::enumerateContents(
        QUrl::fromLocalFile(dir.path()), {}, {}, 0,
        [&](const std::filesystem::path &, const QUrl &url, bool, const QDateTime &,
            std::optional<qint64>,
            bool &) { seen << url.toLocalFile().mid(dir.path().size() + 1); },
        fileManager);
    seen.sort();
    EXPECT_EQ(seen, QStringList({"a/", "a/1", "b/", "b/c/", "b/d/", "b/d/3", "e/", "e/4"}));
    ASSERT_EQ(unlisted.size(), 1u);
    EXPECT_EQ(unlisted.front().path1(), std::filesystem::path((dir.path() + "/b/c").toStdString()));
}

TEST(RelativePath, ComparesWholeComponents)
{
    auto url = [](const char *path) { return QUrl::fromLocalFile(path); };
    EXPECT_EQ(relativePath(url("/a/b/c/d"), url("/a/b")), "c/d");
    EXPECT_EQ(relativePath(url("/a/b/c/d"), url("/a/b/")), "c/d");
    EXPECT_EQ(relativePath(url("/a/b/c/"), url("/a/b/")), "c/");
    EXPECT_EQ(relativePath(url("/a/b/"), url("/a/b")), "");
    EXPECT_EQ(relativePath(url("/a/b/x/../c%20d"), url("/a/./b")), "c%20d");
    EXPECT_EQ(relativePath(url("/a/b/My App.app"), url("/a/b")), "My App.app");
    EXPECT_FALSE(relativePath(url("/a/bc/d"), url("/a/b")));
    EXPECT_FALSE(relativePath(url("/a"), url("/a/b")));
    EXPECT_FALSE(relativePath(QUrl("https://x/a/b"), url("/a")));
}

TEST(IsWithin, ComparesWholeComponentsNotText)
{
    const struct {
        const char *path;
        const char *folder;
        bool within;
    } cases[] = {
        {"/c/..notes", "/c", true},   {"/c/...", "/c", true}, {"/c/..notes/x", "/c", true},
        {"/c", "/c", true},           {"/c/", "/c", true},    {"/c/a/../b", "/c/b", true},
        {"/c/a/../b", "/c/a", false}, {"/c/..", "/c", false}, {"/c/../d", "/c", false},
        {"/cd", "/c", false},         {"/c", "/c/d", false},  {"c/x", "/c", false},
    };
    for (const auto &test : cases)
        EXPECT_EQ(isWithin(test.path, test.folder), test.within)
            << test.path << " in " << test.folder;
}

TEST(UrlWithQuery, AppendsEncodedPairsInKeyOrder)
{
    const auto url = urlWithQuery("https://api.example.com/search/photos",
                                  {{"query", "red fox & co"}, {"client_id", "k=1"}});
    ASSERT_TRUE(url);
    EXPECT_EQ(url->toString(QUrl::FullyEncoded),
              "https://api.example.com/search/photos?client_id=k=1&query=red%20fox%20&%20co");
    EXPECT_EQ(urlWithQuery("https://x/p?", {{"a", "1"}})->toString(), "https://x/p?a=1");
    EXPECT_EQ(urlWithQuery("https://x/p?q=1", {})->toString(), "https://x/p?q=1");
    EXPECT_EQ(
        urlWithQuery("photos", {{"a", "é"}}, QUrl("https://x/api/"))->toString(QUrl::FullyEncoded),
        "https://x/api/photos?a=%C3%A9");
    EXPECT_FALSE(urlWithQuery("http://[bad", {}));
}

TEST(Glob, MatchesSortedAndMarksDirectories)
{
    QTemporaryDir dir;
    const QString root = dir.path() + "/Apps [1] {x}";
    ASSERT_TRUE(writeFile(root + "/B/My App [Beta].app/Info.plist", "x"));
    ASSERT_TRUE(writeFile(root + "/A/Foo.app/Info.plist", "x"));
    ASSERT_TRUE(writeFile(root + "/A/Foo.app/A.plist", "x"));
    ASSERT_TRUE(writeFile(root + "/A/star*.app/Info.plist", "x"));

    const Glob apps(Glob::escape(root) + "/*/*.app");
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[0].toLocalFile(), root + "/A/Foo.app/");
    EXPECT_EQ(apps[1].toLocalFile(), root + "/A/star*.app/");
    EXPECT_EQ(apps[2].toLocalFile(), root + "/B/My App [Beta].app/");

    const Glob plists(Glob::escape(apps[2].toLocalFile()) + "*.plist");
    ASSERT_EQ(plists.size(), 1u);
    EXPECT_EQ(plists[0].toLocalFile(), root + "/B/My App [Beta].app/Info.plist");

    const Glob sorted(Glob::escape(root + "/A/Foo.app") + "/*.plist");
    ASSERT_EQ(sorted.size(), 2u);
    EXPECT_TRUE(sorted[0].toLocalFile().endsWith("/A.plist"));

    // Only the literal star matches once escaped.
    EXPECT_EQ(Glob(Glob::escape(root + "/A/star*.app")).size(), 1u);
    EXPECT_TRUE(Glob(root + "/none/*").empty());
    EXPECT_EQ(Glob::escape("a[b]*?{c}\\"), "a\\[b\\]\\*\\?\\{c\\}\\\\");
}

TEST(Mode, DescribesTypeAndPermissions)
{
    EXPECT_EQ(Mode(0).description(), "---------");
    EXPECT_EQ(Mode(040755).description(), "DRWXR-XR-X");
    EXPECT_EQ(Mode(0100644).description(), "-RW-R--R--");
    EXPECT_EQ(Mode(0120777).description(), "LRWXRWXRWX");
    EXPECT_EQ(Mode(060600).description(), "BRW-------");
    const Mode mode{Mode::directory, Mode::ownerRead, Mode::ownerExecute};
    EXPECT_EQ(mode.rawValue(), 040500);
    EXPECT_TRUE(mode.contains(Mode::ownerRead));
    EXPECT_FALSE(mode.contains(Mode::ownerWrite));
    EXPECT_EQ(mode - Mode::directory, Mode(0500));
}

TEST(SafeFileName, KeepsANameToOneComponent)
{
    EXPECT_EQ(safeFileName("iPhone 15 Pro"), "iPhone 15 Pro");
    EXPECT_EQ(safeFileName("a/b/../c"), "a-b-..-c");
    EXPECT_EQ(safeFileName(QString("a") + QChar(u'\0') + "b"), "a-b");
    EXPECT_EQ(safeFileName(".."), ".._");
    EXPECT_EQ(safeFileName(""), "_");
}
