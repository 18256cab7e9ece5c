#include "common/TestSupport.h"
#include "platform/files/AtomicFile.h"
#include "platform/Log.h"
#include "platform/files/ScratchFiles.h"
#include "platform/defaults/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane;
using namespace std::chrono_literals;

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

// A save killed part way leaves the file as it was and its scratch files
// beside it, never in the temporary folder. The next save into the folder
// removes them and only them: a running program's scratch file, anything but
// a regular file under a scratch name, another user's and names not quite of
// the pattern stay.
TEST(AtomicFile, WhatAKilledSaveLeftIsGoneOnceTheNextSaveBegins)
{
    const std::pair<const char *, std::function<bool(const QString &path, const char *text)>>
        writers[] = {
            {"presets.json",
             [](const QString &path, const char *text) {
                 return AtomicFile::save(path, QByteArray(text).repeated(100'000));
             }},
            {"com.quendrith.corvane.conf",
             [](const QString &path, const char *text) {
                 return UserDefaults::withFile(path)->set("pace", text);
             }},
        };
    for (const auto &[file, save] : writers) {
        SCOPED_TRACE(file);
        QTemporaryDir dir;
        const QString folder = dir.filePath("store"), temporary = dir.filePath("tmp");
        const QString path = folder + "/" + file;
        ASSERT_TRUE(QDir().mkpath(temporary) && test::writeFile(path, "[General]\npace=old\n"));
        const QByteArray held = QFile::encodeName(dir.filePath("held"));
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("TMPDIR", QFile::encodeName(temporary).constData(), 1);
            // Held once the new file is written whole, before it is synced.
            const auto holdHere = [&] {
                ::close(::open(held.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
                for (;;)
                    ::pause();
            };
            AtomicFile::setFaultForTesting(
                AtomicFile::Fault{AtomicFile::Step::sync, 0, 0, holdHere});
            save(path, "new");
            ::_exit(1);
        }
        const bool reached = test::waitUntil([&] { return QFileInfo::exists(held); }, 60s);
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        ASSERT_TRUE(reached);
        EXPECT_EQ(test::readFile(path), "[General]\npace=old\n");
        const QStringList left = test::folderEntries(folder);
        ASSERT_GE(left.size(), 2);

        // Under the names of the killed run and of this one.
        const QString ended = folder + "/" + left[0], ours = ScratchFiles::nameBeside(path);
        QStringList reused = ours.split('-');
        reused[reused.size() - 2] = QString::number(reused[reused.size() - 2].toULongLong() + 1);
        const auto as = [&](const char *random) { return ended.chopped(6) + random; };
        const QStringList gone{ended + ".lock", ended + ".Zq7W0e", reused.join('-')};
        QStringList stay{ours, as("AbC12"), ended + ".other", path + ".AbC123", as("User00")};
        for (const QString &name : gone + stay)
            ASSERT_TRUE(test::writeFile(name, "scratch"));
        // Another user's, when this can make one.
        if (::chown(QFile::encodeName(as("User00")), 65534, 65534) != 0)
            stay.removeLast();
        stay << as("Link00") << as("Fold00") << as("Pipe00");
        ASSERT_TRUE(QFile::link(path, as("Link00")) && QDir().mkdir(as("Fold00")) &&
                    ::mkfifo(QFile::encodeName(as("Pipe00")), 0600) == 0);
        QStringList kept{file};
        for (const QString &name : stay)
            kept << QFileInfo(name).fileName();
        kept.sort();

        EXPECT_TRUE(save(path, "later"));
        EXPECT_EQ(test::folderEntries(folder), kept);
        EXPECT_TRUE(test::folderEntries(temporary).isEmpty());
    }
}
