#include "common/TestSupport.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace corvane;

namespace {

QByteArray bigPayload()
{
    QByteArray bytes;
    for (int i = 0; bytes.size() < 300 * 1024; ++i)
        bytes += QByteArray::number(i) + ',';
    return bytes;
}

} // namespace

// Whatever step fails, the file keeps what it held (or stays missing), no new
// file is left beside it, and the failure is logged and reported.
TEST(AtomicFile, AFailingStepKeepsTheOldFileAndLeavesNothingBesideIt)
{
    using Step = AtomicFile::Step;
    const struct {
        const char *name;
        AtomicFile::Fault fault;
        QString reason;
    } cases[] = {
        {"create", {Step::create, 0, EACCES}, "Permission denied"},
        {"first write", {Step::write, 0, ENOSPC}, "No space left on device"},
        {"write after some bytes", {Step::write, 100 * 1024, ENOSPC}, "No space left on device"},
        {"sync", {Step::sync, 0, EIO}, "Input/output error"},
        {"close", {Step::close, 0, EDQUOT}, "Disk quota exceeded"},
        {"rename", {Step::rename, 0, EXDEV}, "Invalid cross-device link"},
    };
    for (const auto &each : cases) {
        for (const bool hadFile : {true, false}) {
            SCOPED_TRACE(std::string(each.name) + (hadFile ? ", over a file" : ", new file"));
            QTemporaryDir dir;
            const QString path = dir.filePath("store.json");
            if (hadFile)
                ASSERT_TRUE(test::writeFile(path, "[\"old\"]"));
            const QStringList before = test::folderEntries(dir.path());

            Log::Capture log;
            {
                test::SaveFault fault(each.fault);
                AtomicFile file(path);
                const bool saved =
                    file.open() && file.write(bigPayload()) && file.write("]") && file.commit();
                EXPECT_FALSE(saved);
                EXPECT_EQ(file.errorString(), each.reason);
            }
            EXPECT_EQ(test::folderEntries(dir.path()), before);
            EXPECT_EQ(QFileInfo::exists(path), hadFile);
            if (hadFile)
                EXPECT_EQ(test::readFile(path), "[\"old\"]");
            EXPECT_EQ(log.count("Cannot save " + path), 1);
            EXPECT_TRUE(AtomicFile::save(path, "[\"new\"]"));
            EXPECT_EQ(test::readFile(path), "[\"new\"]");
        }
    }
}

// The kernel itself refuses the bytes past a size limit, part-way through a
// write, as a full disk does.
TEST(AtomicFile, AWriteTheSystemCutsShortFailsTheSave)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("LastLocations.json");
    ASSERT_TRUE(test::writeFile(path, "old"));

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    AtomicFile file(path);
    const bool saved4k = file.open() && file.write(bigPayload()) && file.commit();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(saved4k);
    EXPECT_EQ(file.errorString(), "File too large");
    EXPECT_EQ(test::readFile(path), "old");
    EXPECT_EQ(test::folderEntries(dir.path()), QStringList{"LastLocations.json"});
}

TEST(AtomicFile, AReplacementKeepsLinksAndPermissionsAndLooksNewer)
{
    QTemporaryDir dir;
    // A link is followed: the file it names is replaced and the link stays.
    const QString target = dir.filePath("real.conf");
    const QString link = dir.filePath("link.conf");
    ASSERT_TRUE(test::writeFile(target, "old"));
    ASSERT_TRUE(QFile::link("real.conf", link));
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    ASSERT_TRUE(AtomicFile::save(link, "new"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(test::readFile(target), "new");
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);

    // Same size, written at once: the time still tells the two apart.
    for (int i = 0; i < 20; ++i) {
        const QDateTime before = QFileInfo(target).lastModified();
        ASSERT_TRUE(AtomicFile::save(target, QByteArray::number(i % 10)));
        EXPECT_GT(QFileInfo(target).lastModified(), before);
    }

    // A folder at the path is never replaced.
    const QString folder = dir.filePath("folder");
    ASSERT_TRUE(QDir().mkpath(folder + "/inside"));
    EXPECT_FALSE(AtomicFile::save(folder, "text"));
    EXPECT_TRUE(QFileInfo(folder + "/inside").isDir());
}
