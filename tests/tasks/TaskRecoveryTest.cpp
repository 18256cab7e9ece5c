#include "TaskTestSupport.h"
#include "fixtures/sim/ProcessWatch.h"
#include "tasks/TaskRecovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/wait.h>

using namespace corvane;
using namespace corvane::test;

namespace {

const QString kTask = "0F1E2D3C-4B5A-4968-8776-655443322110";
const QString kExport = "1F1E2D3C-4B5A-4968-8776-655443322110";
const QString kRunning = "2F1E2D3C-4B5A-4968-8776-655443322110";
const QString kKilled = "3F1E2D3C-4B5A-4968-8776-655443322110";

} // namespace

TEST(TaskRecovery, WhatCannotGoBackWholeStaysAndIsNamedAndLiveProgramsAreLeftAlone)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    const TaskJournal journal(root + "/state");
    auto alerts = std::make_shared<RecordingAlertPresenter>();
    AlertPresenter::setShared(alerts);

    // An import stopped while putting things back, with a file in the way of
    // one of them.
    const QString backup = root + "/.import-" + kTask + "/data";
    for (const QString &file : {backup + "/Documents/a.txt", backup + "/Library/Preferences/p",
                                root + "/data/Documents/a.txt", root + "/data/Library/x"})
        ASSERT_TRUE(writeFile(file, file.toUtf8()));
    TaskJournal::Entry import;
    import.kind = TaskJournal::Entry::Kind::importArchive;
    import.taskID = kTask;
    import.phase = TaskJournal::Entry::Phase::restoring;
    import.archive = nativeOf(root + "/A.xcappdata");
    import.containers = {{ "AppData", nativeOf(root + "/data"), nativeOf(backup) }};
    // An export stopped while the old archive stood aside.
    const QString staging = root + "/.export-" + kExport;
    ASSERT_TRUE(writeFile(staging + "/AppDataInfo.plist", "new"));
    ASSERT_TRUE(writeFile(staging + ".replaced/AppDataInfo.plist", "old"));
    TaskJournal::Entry exporting{TaskJournal::Entry::Kind::exportArchive, kExport};
    exporting.staging = nativeOf(staging);
    exporting.archive = nativeOf(root + "/A.xcappdata");
    // Written by an earlier program that had this one's process ID.
    for (auto *entry : {&import, &exporting}) {
        entry->processID = ::getpid();
        entry->processStart = 1;
        journal.write(*entry);
    }
    TaskJournal::Entry running{TaskJournal::Entry::Kind::exportArchive, kRunning};
    running.archive = nativeOf(root + "/B.xcappdata");
    running.staging = nativeOf(root + "/.export-" + kRunning);
    journal.write(running);
    // A program that was killed and is not reaped yet runs no more.
    const pid_t zombie = spawnZombie();
    ASSERT_GT(zombie, 0);
    TaskJournal::Entry killed{TaskJournal::Entry::Kind::exportArchive, kKilled, zombie,
                              fixture::watch::processStat(zombie)->startTime.toULongLong()};
    killed.archive = nativeOf(root + "/C.xcappdata");
    killed.staging = nativeOf(root + "/.export-" + kKilled);
    journal.write(killed);

    const QStringList kept = TaskRecovery::recover(journal);
    EXPECT_EQ(kept, QStringList{backup});
    EXPECT_EQ(readFile(root + "/data/Library/Preferences/p"),
              backup.toUtf8() + "/Library/Preferences/p");
    EXPECT_EQ(readFile(root + "/data/Documents/a.txt"), (root + "/data/Documents/a.txt").toUtf8());
    EXPECT_EQ(readFile(backup + "/Documents/a.txt"), (backup + "/Documents/a.txt").toUtf8());
    EXPECT_EQ(readFile(root + "/A.xcappdata/AppDataInfo.plist"), "old");
    EXPECT_EQ(hiddenEntries(root), QStringList({".import-" + kTask}));
    ASSERT_EQ(journal.entries().size(), 1u);
    EXPECT_EQ(journal.entries()[0].taskID, running.taskID);
    ::waitpid(zombie, nullptr, 0);

    TaskRecovery::reportKeptBackups(kept);
    ASSERT_TRUE(waitUntil([&] { return !alerts->presented.empty(); }));
    AlertPresenter::setShared(nullptr);
    EXPECT_EQ(alerts->presented[0].messageText, "Some application data could not be put back");
    EXPECT_TRUE(alerts->presented[0].informativeText.endsWith("\n\n" + backup));
}

namespace {

using Entry = TaskJournal::Entry;

// An import of kTask that reset the containers `folders` below `root` (the
// first the data container, then groups): each holds what the import copied
// in, unless `phase` says that is gone, and its backup what it held before.
Entry resetImport(const QString &root, const QStringList &folders, Entry::Phase phase)
{
    Entry entry{Entry::Kind::importArchive, kTask, ::getpid(), 1};
    entry.phase = phase;
    entry.archive = nativeOf(root + "/A.xcappdata");
    for (const QString &folder : folders) {
        const QString container = root + "/" + folder;
        const QString backup = QFileInfo(container).path() + "/.import-" + kTask + "/" +
                               QFileInfo(container).fileName();
        entry.containers.push_back({entry.containers.empty() ? "AppData" : "group.x",
                                    nativeOf(container), nativeOf(backup)});
        EXPECT_TRUE(writeFile(container + "/tmp/kept", "kept"));
        if (phase != Entry::Phase::restoring)
            EXPECT_TRUE(writeFile(container + "/Library/Preferences/p", "imported"));
        for (const QString &file : {"/Library/Preferences/p", "/Documents/d"})
            EXPECT_TRUE(writeFile(backup + file, "old " + folder.toUtf8()));
    }
    return entry;
}

} // namespace

TEST(TaskRecovery, EntriesNoTaskWouldWriteAreLeftAloneAndNothingOutsideChanges)
{
    QTemporaryDir dir;
    const QString root = dir.path() + "/root", hidden = root + "/.import-" + kTask;
    const TaskJournal journal(dir.path() + "/state");
    resetImport(root, {"data"}, Entry::Phase::copying);
    for (const QString &file : {"canary/Documents/c", "canary/Library/Preferences/c", "canary/f"})
        ASSERT_TRUE(writeFile(root + "/" + file, file.toUtf8()));
    ASSERT_TRUE(writeFile(dir.path() + "/victim.json", "victim"));
    const std::string before = snapshot(root);

    const auto import = [&](const char *phase, const QString &folder, const QString &backup,
                            const QJsonArray &made = {}) {
        const QJsonObject container{
            {"identifier", "group.x"}, {"folder", folder}, {"backup", backup}};
        return QJsonObject{{"task", kTask},
                           {"kind", "import"},
                           {"pid", qint64(::getpid())},
                           {"started", "1"},
                           {"phase", phase},
                           {"archive", root + "/A.xcappdata"},
                           {"containers", QJsonArray{container}},
                           {"created", made}};
    };
    const auto exporting = [&](const QString &task, const QString &staging) {
        return QJsonObject{{"task", task},
                           {"kind", "export"},
                           {"pid", qint64(::getpid())},
                           {"archive", root + "/A.xcappdata"},
                           {"staging", staging}};
    };
    QJsonArray many;
    for (int i = 0; i < 20000; ++i)
        many.append(root + "/canary/" + QString(50, 'x') + QString::number(i));
    const struct {
        const char *name;
        QString file;
        QJsonObject entry;
        // Whether it is taken, as a task could have written it.
        bool taken;
    } cases[] = {
        {"a container with no backup beside it", kTask,
         import("copying", root + "/canary", hidden + "/canary"), true},
        {"a container with another's backup", kTask,
         import("copying", root + "/canary", hidden + "/data"), false},
        {"a backup that ends in ..", kTask, import("discarding", root + "/data", hidden + "/.."),
         false},
        {"relative paths", kTask, import("copying", "data", ".import-" + kTask + "/data"), false},
        {"an item made elsewhere", kTask,
         import("copying", root + "/data", hidden + "/data", {root + "/canary"}), false},
        {"a task with a slash", "evil", exporting("../../victim", root + "/.export-x"), false},
        {"an export's hidden folder elsewhere", kTask, exporting(kTask, root + "/canary"), false},
        {"an entry over the size limit", kTask,
         import("copying", root + "/canary", hidden + "/canary", many), false},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.name);
        const QString path = journal.folder() + "/" + test.file + ".json";
        const QByteArray bytes = QJsonDocument(test.entry).toJson(QJsonDocument::Compact);
        ASSERT_TRUE(writeFile(path, bytes));
        EXPECT_EQ(TaskRecovery::recover(journal), QStringList());
        EXPECT_EQ(snapshot(root), before);
        EXPECT_EQ(readFile(dir.path() + "/victim.json"), "victim");
        EXPECT_EQ(readFile(path), test.taken ? QByteArray() : bytes);
        QFile::remove(path);
    }
}

// The first of two containers is not as the import left it: the roll-back
// and the recovery leave it alone, follow no link and still undo the second.
TEST(TaskRecovery, AContainerThatCannotGoBackWholeCostsOnlyItself)
{
    using Phase = Entry::Phase;
    const QString hidden = "a/.import-" + kTask;
    const struct {
        const char *name;
        Phase phase;
        // What takes the place of this path, a link to the canary or a file,
        // and whether the first container's backup then stays, named.
        QString path;
        bool link, kept;
    } cases[] = {
        {"something in the way", Phase::restoring, "a/data/Documents/d", false, true},
        {"a file in the container's place", Phase::copying, "a/data", false, true},
        {"a link in the container's place", Phase::copying, "a/data", true, true},
        {"a link in the hidden folder's place", Phase::copying, hidden, true, false},
        {"a link in the hidden folder's place, discarding", Phase::discarding, hidden, true, false},
    };
    for (const auto &test : cases) {
        for (const bool rollBack : {true, false}) {
            SCOPED_TRACE(std::string(test.name) + (rollBack ? ", roll-back" : ", recovery"));
            QTemporaryDir dir;
            const QString root = dir.path();
            const TaskJournal journal(root + "/state");
            Entry entry = resetImport(root, {"a/data", "b/group"}, test.phase);
            // What a link leads to, named as the first container's backup is.
            for (const QString &file : {"Documents/d", "Library/Preferences/p", "data/Documents/d"})
                ASSERT_TRUE(writeFile(root + "/canary/" + file, file.toUtf8()));
            const std::string canary = snapshot(root + "/canary");
            const QString obstacle = root + "/" + test.path;
            QDir(obstacle).removeRecursively();
            ASSERT_TRUE(test.link ? makeLink(root + "/canary", obstacle)
                                  : writeFile(obstacle, "in the way"));
            const std::string firstBackup = snapshot(root + "/a/.import-" + kTask);
            journal.write(entry);

            const QStringList kept =
                rollBack ? TaskRecovery::undo(entry, journal).kept : TaskRecovery::recover(journal);
            EXPECT_EQ(kept, test.kept ? QStringList{root + "/a/.import-" + kTask + "/data"}
                                      : QStringList());
            EXPECT_EQ(snapshot(root + "/canary"), canary);
            EXPECT_TRUE(holdsAll(firstBackup, snapshot(root + "/a/.import-" + kTask)));
            EXPECT_EQ(hiddenEntries(root + "/b"), QStringList());
            if (test.phase != Phase::discarding)
                EXPECT_EQ(readFile(root + "/b/group/Library/Preferences/p"), "old b/group");
            EXPECT_TRUE(rollBack || journal.entries().empty());
        }
    }
}

TEST(TaskRecovery, AnArchiveThatCannotGoBackKeepsItsEntryAndIsNamed)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    const TaskJournal journal(root + "/state");
    const QString staging = root + "/.export-" + kExport;
    ASSERT_TRUE(writeFile(staging + "/AppDataInfo.plist", "new"));
    ASSERT_TRUE(writeFile(staging + ".replaced/AppDataInfo.plist", "old"));
    // Something took the archive's place while the old one stood aside.
    ASSERT_TRUE(writeFile(root + "/A.xcappdata", "someone else's"));
    Entry exporting{Entry::Kind::exportArchive, kExport, ::getpid(), 1};
    exporting.staging = nativeOf(staging);
    exporting.archive = nativeOf(root + "/A.xcappdata");
    journal.write(exporting);

    const QStringList kept = TaskRecovery::recover(journal);
    EXPECT_EQ(kept, QStringList{staging + ".replaced"});
    EXPECT_EQ(readFile(root + "/A.xcappdata"), "someone else's");
    // The unfinished archive stays too, for the next start to tell.
    EXPECT_TRUE(QFile::exists(staging));
    ASSERT_EQ(journal.entries().size(), 1u);

    ASSERT_TRUE(QFile::remove(root + "/A.xcappdata"));
    EXPECT_EQ(TaskRecovery::recover(journal), QStringList());
    EXPECT_EQ(readFile(root + "/A.xcappdata/AppDataInfo.plist"), "old");
    EXPECT_EQ(hiddenEntries(root), QStringList());
    EXPECT_TRUE(journal.entries().empty());
}
