#include "common/TestSupport.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/ScratchFiles.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A save killed part way leaves its scratch files beside its file (never in
// the temporary folder) and the file as it was; the next writer into that
// folder removes them.
TEST(AtomicFile, WhatAKilledSaveLeftIsGoneOnceTheNextSaveBegins)
{
    const struct {
        const char *name;
        const char *file;
        std::function<bool(const QString &path, const QByteArray &text)> save;
    } writers[] = {
        {"a file", "presets.json",
         [](const QString &path, const QByteArray &text) {
             return AtomicFile::save(path, text.repeated(100'000));
         }},
        {"settings", "com.quendrith.corvane.conf",
         [](const QString &path, const QByteArray &text) {
             return UserDefaults::withFile(path)->set("pace", text);
         }},
    };
    for (const auto &writer : writers) {
        SCOPED_TRACE(writer.name);
        QTemporaryDir dir;
        const QString folder = dir.filePath("store");
        const QString temporary = dir.filePath("tmp");
        ASSERT_TRUE(QDir().mkpath(folder) && QDir().mkpath(temporary));
        const QString path = folder + "/" + writer.file;
        ASSERT_TRUE(test::writeFile(path, "[General]\npace=old\n"));
        const QByteArray before = test::readFile(path);

        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            ::setenv("TMPDIR", QFile::encodeName(temporary).constData(), 1);
            // Held where the new file is written whole and not yet synced.
            const auto holdHere = [&] {
                ::write(ready[1], "x", 1);
                for (;;)
                    ::pause();
            };
            AtomicFile::setFaultForTesting(
                AtomicFile::Fault{AtomicFile::Step::sync, 0, 0, holdHere});
            writer.save(path, "new");
            ::_exit(1);
        }
        ::close(ready[1]);
        pollfd wait{ready[0], POLLIN, 0};
        char said = 0;
        const bool held = ::poll(&wait, 1, 60'000) == 1 && ::read(ready[0], &said, 1) == 1;
        ::close(ready[0]);
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        ASSERT_TRUE(held);
        EXPECT_GE(test::folderEntries(folder).size(), 2);
        EXPECT_EQ(test::readFile(path), before);

        EXPECT_TRUE(writer.save(path, "later"));
        EXPECT_EQ(test::folderEntries(folder), QStringList{writer.file});
        EXPECT_TRUE(test::folderEntries(temporary).isEmpty());
    }
}

// Only a regular file of the user's own under a scratch name whose run has
// ended is removed: a running program's, anything else under the name, and
// names not quite of the pattern stay.
TEST(AtomicFile, ASweepRemovesOnlyWhatEndedRunsLeft)
{
    QTemporaryDir dir;
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    // This run's own name, as a save makes it: ".presets.json.scratch-<pid>-<start>-<random>".
    const std::string own =
        QFileInfo(QString::fromStdString(ScratchFiles::nameBeside(folder + "/presets.json")))
            .fileName()
            .toStdString();
    const std::string prefix = own.substr(0, own.rfind(".scratch-") + 9);
    const std::string start =
        QString::fromStdString(own.substr(prefix.size())).split('-')[1].toStdString();
    const pid_t reaped = test::spawnZombie();
    ASSERT_GT(reaped, 0);
    ASSERT_EQ(::waitpid(reaped, nullptr, 0), reaped);
    const auto endedAs = [&](const char *random) {
        return prefix + std::to_string(reaped) + "-" + start + "-" + random;
    };
    const std::string ended = endedAs("AbC123");
    const std::string reused = prefix + std::to_string(::getpid()) + "-" +
                               std::to_string(std::stoull(start) + 1) + "-x1Y2z3";
    const auto file = [](const std::string &path) {
        return test::writeFile(QFile::decodeName(path.c_str()), "scratch");
    };
    const std::string canary = folder + "/canary";
    const struct {
        std::string name;
        std::function<bool(const std::string &path)> make;
        bool removed;
    } cases[] = {
        {ended, file, true},
        {ended + ".lock", file, true},
        {ended + ".Zq7W0e", file, true},
        {reused, file, true},
        {own, file, false},
        {endedAs("AbC12"), file, false},
        // Another user's.
        {endedAs("User00"),
         [&](const std::string &path) {
             return file(path) && (::geteuid() != 0 || ::chown(path.c_str(), 65534, 65534) == 0);
         },
         ::geteuid() != 0},
        {ended + ".other", file, false},
        {"presets.json.AbC123", file, false},
        {ended.substr(1), file, false},
        {endedAs("Link00"),
         [&](const std::string &path) { return ::symlink(canary.c_str(), path.c_str()) == 0; },
         false},
        {endedAs("Fold00"),
         [](const std::string &path) { return ::mkdir(path.c_str(), 0700) == 0; }, false},
        {endedAs("Pipe00"),
         [](const std::string &path) { return ::mkfifo(path.c_str(), 0600) == 0; }, false},
    };
    ASSERT_TRUE(test::writeFile(QFile::decodeName(canary.c_str()), "canary"));
    QStringList kept{"canary"};
    int removed = 0;
    for (const auto &row : cases) {
        ASSERT_TRUE(row.make(folder + "/" + row.name)) << row.name;
        if (row.removed)
            ++removed;
        else
            kept << QFile::decodeName(row.name.c_str());
    }
    EXPECT_EQ(ScratchFiles::sweep(folder), removed);
    kept.sort();
    EXPECT_EQ(test::folderEntries(dir.path()), kept);
    EXPECT_EQ(test::readFile(QFile::decodeName(canary.c_str())), "canary");
}
