#include "TaskTestSupport.h"
#include "tasks/ExportTask.h"
#include "tasks/ImportTask.h"
#include "tasks/ItemMoves.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>

#include <cstring>

using namespace corvane;
using namespace corvane::test;

namespace {

// While it lives, the calling thread lacks what lets root read and write past
// permission bits, so that files behave as they do for any other user.
class AsOrdinaryUser {
public:
    AsOrdinaryUser()
    {
        ::syscall(SYS_capget, &m_header, m_saved);
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, m_saved, sizeof reduced);
        for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
            reduced[capability / 32].effective &= ~(1u << (capability % 32));
        ::syscall(SYS_capset, &m_header, reduced);
    }
    ~AsOrdinaryUser() { ::syscall(SYS_capset, &m_header, m_saved); }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
};

blkcnt_t blocksOf(const QString &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(nativeOf(path).c_str(), &info), 0);
    return info.st_blocks;
}

// Removes each file whose name begins with "vanishes" just before copying
// it, as another program might.
template <class Base> class Vanishing : public Base {
public:
    using Base::Base;
    void copyEntry(const File &file, const std::filesystem::path &destination) override
    {
        if (file.path.filename().native().starts_with("vanishes"))
            ::unlink(file.path.c_str());
        Base::copyEntry(file, destination);
    }
};

// Tasks of an application with one group container, run on the test's own
// thread as an ordinary user.
class ArchiveFileKindsTest : public ApplicationFixture {
protected:
    void SetUp() override
    {
        ApplicationFixture::SetUp();
        application = makeApplication("com.example.foo", {"group.a"});
        application->setCachedDataContainer(nullptr);
        ASSERT_TRUE(writeFile(group("Shared/a.db"), "rows"));
    }
    // QTemporaryDir can remove neither a name that is not UTF-8 nor, for a
    // user other than root, what lies in a read-only folder.
    void TearDown() override
    {
        removeTree(nativeOf(m_dir.path()));
        ApplicationFixture::TearDown();
    }
    QString group(const QString &relative = {}) const
    {
        return QDir::cleanPath(groupFolder("group.a") + "/" + relative);
    }
    QString archive(const QString &relative = {}) const
    {
        return QDir::cleanPath(path("Foo.xcappdata/" + relative));
    }
    // The task's last text.
    template <class T> QString run(const std::function<void(T &)> &body)
    {
        const auto task = std::make_shared<T>(application);
        AsOrdinaryUser user;
        body(*task);
        return task->localisedDetailDescription().value_or("");
    }
    QString exportArchive()
    {
        return run<ExportTask>([&](ExportTask &task) {
            task.run(ArchiveTask::containersOf(*application), QUrl::fromLocalFile(archive()));
        });
    }
    QString importArchive()
    {
        return run<ImportTask>([&](ImportTask &task) {
            task.run(ArchiveTask::containersOf(*application), QUrl::fromLocalFile(archive()));
        });
    }

    ApplicationPtr application;
};

} // namespace

TEST_F(ArchiveFileKindsTest, OddNamesReadOnlyFoldersAndSparseFilesMakeTheRoundTrip)
{
    std::ofstream(nativeOf(group()) + "/\xff\xfe", std::ios::binary) << "not UTF-8";
    for (const char *file : {"ro/a", "ro/sub/b"})
        ASSERT_TRUE(writeFile(group(file), file));
    const int sparse = ::open(nativeOf(group("sparse.bin")).c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_EQ(::pwrite(sparse, "head", 4, 0), 4);
    ASSERT_EQ(::pwrite(sparse, "middle", 6, 32 << 20), 6);
    ASSERT_EQ(::ftruncate(sparse, 64 << 20), 0);
    ::close(sparse);
    for (const char *folder : {"ro/sub", "ro"})
        ASSERT_EQ(::chmod(nativeOf(group(folder)).c_str(), 0555), 0);
    const std::string original = snapshot(group());
    const blkcnt_t blocks = blocksOf(group("sparse.bin"));
    ASSERT_LT(blocks, 1024);

    EXPECT_EQ(exportArchive(), "Data export completed.");
    EXPECT_EQ(snapshot(archive("group.a")), original);
    EXPECT_LE(blocksOf(archive("group.a/sparse.bin")), blocks);

    // The reset moves the read-only folder aside and deletes it afterwards.
    ASSERT_TRUE(writeFile(group("Shared/a.db"), "changed"));
    ASSERT_TRUE(writeFile(group("other"), "other"));
    EXPECT_EQ(importArchive(), "Data import completed.");
    EXPECT_EQ(snapshot(group()), original);
    EXPECT_LE(blocksOf(group("sparse.bin")), blocks);
    EXPECT_EQ(hiddenEntries(path("groups")), QStringList());
}

// Only an entry that is no longer there may be passed over; one that is there
// but cannot be read fails the task, and an import puts everything back.
TEST_F(ArchiveFileKindsTest, WhatCannotBeReadFailsTheTaskAndChangesNothing)
{
    ASSERT_EQ(exportArchive(), "Data export completed.");
    struct Case {
        const char *name;
        QString item;
        bool isFolder;
        bool import;
    };
    const Case cases[] = {
        {"an unreadable file of the container", group("Shared/secret"), false, false},
        {"an unlistable folder of the container", group("closed"), true, false},
        {"an unreadable file of the archive", archive("group.a/Shared/secret"), false, true},
        {"an unlistable folder of the archive", archive("group.a/closed"), true, true},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        ASSERT_TRUE(writeFile(test.isFolder ? test.item + "/inside" : test.item, "x"));
        ASSERT_EQ(::chmod(nativeOf(test.item).c_str(), 0), 0);
        const std::string containers = snapshot(group());
        const std::string archived = snapshot(archive());
        EXPECT_EQ(test.import ? importArchive() : exportArchive(),
                  test.import ? "Data import failed." : "Data export failed.");
        EXPECT_EQ(snapshot(group()), containers);
        EXPECT_EQ(snapshot(archive()), archived);
        EXPECT_EQ(hiddenEntries(path("groups")) + hiddenEntries(m_dir.path()), QStringList());
        ASSERT_EQ(::chmod(nativeOf(test.item).c_str(), 0700), 0);
        ASSERT_TRUE(test.isFolder ? QDir(test.item).removeRecursively() : QFile::remove(test.item));
    }
}

// Sockets, pipes and devices are passed over, and so are files gone since
// they were gathered; the row and the log say how many.
TEST_F(ArchiveFileKindsTest, WhatIsNotCopiedIsCountedInTheRow)
{
    ASSERT_EQ(exportArchive(), "Data export completed.");
    const mode_t fifo = S_IFIFO, socket = S_IFSOCK, device = S_IFCHR, vanishing = S_IFREG;
    const struct {
        bool import;
        std::vector<mode_t> kinds;
        const char *text;
    } cases[] = {
        {false,
         {fifo, socket, vanishing},
         "Data export completed; 2 special files were not copied; 1 file vanished while copying "
         "and was not copied."},
        {true,
         {socket, fifo, vanishing, vanishing},
         "Data import completed; 2 special files were not copied; 2 files vanished while "
         "copying and were not copied."},
        // Last: only root makes device nodes.
        {false, {device}, "Data export completed; 1 special file was not copied."},
        {true, {device}, "Data import completed; 1 special file was not copied."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const QString folder = c.import ? archive("group.a/Shared") : group("Shared");
        QStringList made;
        for (const mode_t kind : c.kinds) {
            made << folder + (kind == vanishing ? "/vanishes" : "/special") +
                        QString::number(made.size());
            if (::mknod(nativeOf(made.last()).c_str(), kind | 0600, makedev(1, 3)) != 0)
                GTEST_SKIP() << "making a device node needs root";
        }
        Log::Capture log;
        const auto containers = ArchiveTask::containersOf(*application);
        const QUrl url = QUrl::fromLocalFile(archive());
        EXPECT_EQ(
            c.import
                ? run<Vanishing<ImportTask>>([&](ImportTask &task) { task.run(containers, url); })
                : run<Vanishing<ExportTask>>([&](ExportTask &task) { task.run(containers, url); }),
            c.text);
        EXPECT_TRUE(log.contains(c.text));
        // Nothing of them reached the other side; the rest did.
        const QString other = c.import ? group("Shared") : archive("group.a/Shared");
        EXPECT_EQ(QDir(other).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                  QStringList{"a.db"});
        for (const QString &item : made)
            ::unlink(nativeOf(item).c_str());
    }
}
