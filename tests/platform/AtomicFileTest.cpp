#include "common/TestSupport.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <sys/stat.h>

using namespace corvane;

static const QByteArray payload(300 << 10, 'x');

// Whatever step fails, the file keeps what it held (or stays missing), no new
// file is left beside it, and the failure is logged and reported.
TEST(AtomicFile, AFailingStepKeepsTheOldFileAndLeavesNothingBesideIt)
{
    using Step = AtomicFile::Step;
    const struct {
        const char *name;
        AtomicFile::Fault fault;
        QString reason;
        // Else the system itself cuts a write short past this size, as a full
        // disk does.
        rlim_t sizeLimit = 0;
    } cases[] = {
        {"create", {Step::create, 0, EACCES}, "Permission denied"},
        {"first write", {Step::write, 0, ENOSPC}, "No space left on device"},
        {"write after some bytes", {Step::write, 100 * 1024, ENOSPC}, "No space left on device"},
        {"sync", {Step::sync, 0, EIO}, "Input/output error"},
        {"close", {Step::close, 0, EDQUOT}, "Disk quota exceeded"},
        {"rename", {Step::rename, 0, EXDEV}, "Invalid cross-device link"},
        {"cut short by the system", {}, "File too large", 4096},
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
                std::optional<test::SaveFault> fault;
                std::optional<test::FileSizeLimit> limit;
                if (each.sizeLimit)
                    limit.emplace(each.sizeLimit);
                else
                    fault.emplace(each.fault);
                AtomicFile file(path);
                EXPECT_FALSE(file.open() && file.write(payload) && file.write("]") &&
                             file.commit());
                EXPECT_EQ(file.errorString(), each.reason);
            }
            EXPECT_EQ(test::folderEntries(dir.path()), before);
            if (hadFile)
                EXPECT_EQ(test::readFile(path), "[\"old\"]");
            EXPECT_EQ(log.count("Cannot save " + path), 1);
            EXPECT_TRUE(AtomicFile::save(path, "[\"new\"]"));
            EXPECT_EQ(test::readFile(path), "[\"new\"]");
        }
    }
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
