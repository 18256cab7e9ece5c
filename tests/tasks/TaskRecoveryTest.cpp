#include "TaskTestSupport.h"
#include "core/Uuid.h"
#include "fixtures/FixtureTree.h"
#include "fixtures/sim/ProcessWatch.h"
#include "platform/files/ScratchFiles.h"
#include "platform/processes/ChildProcess.h"
#include "platform/queues/DispatchQueue.h"
#include "tasks/ContainerClaims.h"
#include "tasks/ItemMoves.h"
#include "tasks/TaskRecovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QScopeGuard>

#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <cstdio>
#include <future>
#include <thread>

using namespace corvane;
using namespace corvane::test;

namespace {

const QString kTask = "0F1E2D3C-4B5A-4968-8776-655443322110";
const QString kExport = "1F1E2D3C-4B5A-4968-8776-655443322110";
const QString kRunning = "2F1E2D3C-4B5A-4968-8776-655443322110";
const QString kKilled = "3F1E2D3C-4B5A-4968-8776-655443322110";
const QString kEnded = "4F1E2D3C-4B5A-4968-8776-655443322110";

QString hiddenOf(const QString &container, const QString &task = kTask)
{
    return QFileInfo(container).path() + "/.import-" + task;
}

QString backupOf(const QString &container, const QString &task = kTask)
{
    return hiddenOf(container, task) + "/" + QFileInfo(container).fileName();
}

} // namespace

TEST(TaskRecovery, WhatCannotGoBackWholeStaysAndIsNamedAndLiveProgramsAreLeftAlone)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    const TaskJournal journal(root + "/state", root + "/devices");
    auto alerts = std::make_shared<RecordingAlertPresenter>();
    AlertPresenter::setShared(alerts);

    // An import stopped while putting things back, with a file in the way of
    // one of them.
    const QString data = simulatorContainer(root + "/devices", false);
    const QString backup = backupOf(data);
    for (const QString &file : {backup + "/Documents/a.txt", backup + "/Library/Preferences/p",
                                data + "/Documents/a.txt", data + "/Library/x"})
        ASSERT_TRUE(writeFile(file, file.toUtf8()));
    TaskJournal::Entry import;
    import.kind = TaskJournal::Entry::Kind::importArchive;
    import.taskID = kTask;
    import.phase = TaskJournal::Entry::Phase::restoring;
    import.archive = nativeOf(root + "/A.xcappdata");
    import.containers = {{ "AppData", nativeOf(data), nativeOf(backup) }};
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
    // An import whose task ended without finishing its entry, after which
    // the user went on using the application.
    const QString group = simulatorContainer(root + "/devices", true);
    for (const QString &file : {backupOf(group, kEnded) + "/Shared/old", group + "/Shared/later"})
        ASSERT_TRUE(writeFile(file, file.toUtf8()));
    TaskJournal::Entry ended{TaskJournal::Entry::Kind::importArchive, kEnded, ::getpid(), 1};
    ended.phase = TaskJournal::Entry::Phase::copying;
    ended.archive = import.archive;
    ended.containers = {{"group.x", nativeOf(group), nativeOf(backupOf(group, kEnded))}};
    journal.write(ended);
    ASSERT_TRUE(journal.markEnded(ended));
    const std::string used = snapshot(group);

    const auto outcome = TaskRecovery::recover(journal);
    QStringList kept = outcome.kept;
    kept.sort();
    EXPECT_EQ(kept, QStringList({backup, backupOf(group, kEnded)}));
    EXPECT_EQ(snapshot(group), used);
    EXPECT_EQ(readFile(backupOf(group, kEnded) + "/Shared/old"),
              (backupOf(group, kEnded) + "/Shared/old").toUtf8());
    EXPECT_EQ(QDir(hiddenOf(group, kEnded)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QFileInfo(group).fileName()});
    EXPECT_EQ(readFile(data + "/Library/Preferences/p"),
              backup.toUtf8() + "/Library/Preferences/p");
    EXPECT_EQ(readFile(data + "/Documents/a.txt"), (data + "/Documents/a.txt").toUtf8());
    EXPECT_EQ(readFile(backup + "/Documents/a.txt"), (backup + "/Documents/a.txt").toUtf8());
    EXPECT_EQ(readFile(root + "/A.xcappdata/AppDataInfo.plist"), "old");
    EXPECT_EQ(hiddenEntries(root), QStringList());
    EXPECT_EQ(hiddenEntries(QFileInfo(data).path()), QStringList({".import-" + kTask}));
    ASSERT_EQ(journal.entries().size(), 1u);
    EXPECT_EQ(journal.entries()[0].taskID, running.taskID);
    ::waitpid(zombie, nullptr, 0);

    TaskRecovery::report(outcome);
    ASSERT_TRUE(waitUntil([&] { return !alerts->presented.empty(); }));
    AlertPresenter::setShared(nullptr);
    EXPECT_EQ(alerts->presented[0].messageText, "Some application data could not be put back");
    EXPECT_TRUE(alerts->presented[0].informativeText.endsWith("\n\n" + outcome.kept.join('\n')));
}

namespace {

using Entry = TaskJournal::Entry;

// An import of `task` that reset the containers (the first the data
// container, then groups): each holds what the import copied in, unless
// `phase` says that is gone, and its backup what it held before.
Entry resetImport(const QStringList &containers, Entry::Phase phase, const QString &task = kTask)
{
    Entry entry{Entry::Kind::importArchive, task, ::getpid(), 1};
    entry.phase = phase;
    entry.archive = "/archives/A.xcappdata";
    for (const QString &container : containers) {
        const QString backup = backupOf(container, task);
        entry.containers.push_back({entry.containers.empty() ? "AppData" : "group.x",
                                    nativeOf(container), nativeOf(backup)});
        EXPECT_TRUE(writeFile(container + "/tmp/kept", "kept"));
        if (phase != Entry::Phase::restoring)
            EXPECT_TRUE(writeFile(container + "/Library/Preferences/p", "imported"));
        for (const QString &file : {"/Library/Preferences/p", "/Documents/d"})
            EXPECT_TRUE(
                writeFile(backup + file, "old " + QFileInfo(container).fileName().toUtf8()));
    }
    return entry;
}

} // namespace

TEST(TaskRecovery, EntriesNoTaskWouldWriteAreLeftAloneAndNothingOutsideChanges)
{
    QTemporaryDir dir;
    const QString root = dir.path() + "/root", devices = root + "/devices";
    const TaskJournal journal(dir.path() + "/state", devices);
    const QString data = simulatorContainer(devices, false);
    resetImport({data}, Entry::Phase::copying);
    // Folders whose contents an erase would take: a container beside it, one
    // in the home folder with a backup beside it, and one that a path with
    // ".." through a link reaches.
    const QString beside = simulatorContainer(devices, true, 1), home = root + "/home/Notes";
    const QString linked = QFileInfo(data).path() + "/link/../" + QFileInfo(beside).fileName();
    ASSERT_TRUE(makeLink(root + "/outside/sub", QFileInfo(data).path() + "/link"));
    for (const QString &folder : {beside, home, root + "/outside/" + QFileInfo(beside).fileName()})
        for (const QString &file : {"/Documents/c", "/Library/Preferences/c", "/f"})
            ASSERT_TRUE(writeFile(folder + file, file.toUtf8()));
    ASSERT_TRUE(QDir().mkpath(backupOf(home)) && QDir().mkpath(root + "/outside/sub") &&
                QDir().mkpath(backupOf(root + "/outside/" + QFileInfo(beside).fileName())));
    ASSERT_TRUE(writeFile(dir.path() + "/victim.json", "victim"));
    const std::string before = snapshot(root);

    const auto import = [&](const char *phase, const QString &folder, const QString &backup,
                            const QJsonArray &made = {}, const QString &identifier = "group.x") {
        const QJsonObject container{
            {"identifier", identifier}, {"folder", folder}, {"backup", backup}};
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
        many.append(beside + "/" + QString(50, 'x') + QString::number(i));
    const struct {
        const char *name;
        QString file;
        QJsonObject entry;
        // Whether it is taken, as a task could have written it.
        bool taken;
    } cases[] = {
        {"a container with no backup beside it", kTask, import("copying", beside, backupOf(beside)),
         true},
        {"a container with another's backup", kTask,
         import("copying", beside, backupOf(data), {}, "AppData"), false},
        {"a backup that ends in ..", kTask, import("discarding", data, hiddenOf(data) + "/.."),
         false},
        {"relative paths", kTask, import("copying", "data", ".import-" + kTask + "/data"), false},
        {"an item made elsewhere", kTask,
         import("copying", data, backupOf(data), {root + "/home"}, "AppData"), false},
        {"a task with a slash", "evil", exporting("../../victim", root + "/.export-x"), false},
        {"an export's hidden folder elsewhere", kTask, exporting(kTask, beside), false},
        {"an entry over the size limit", kTask, import("copying", beside, backupOf(beside), many),
         false},
        {"a folder outside the simulators", kTask, import("copying", home, backupOf(home)), false},
        {"a data container among the groups", kTask,
         import("copying", beside, backupOf(beside), {}, "AppData"), false},
        {"a container path that is not lexically normal", kTask,
         import("copying", linked, backupOf(linked), {}, "AppData"), false},
        {"a file not named after its task", kKilled,
         import("copying", data, backupOf(data), {}, "AppData"), false},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.name);
        const QString path = journal.folder() + "/" + test.file + ".json";
        const QByteArray bytes = QJsonDocument(test.entry).toJson(QJsonDocument::Compact);
        ASSERT_TRUE(writeFile(path, bytes));
        EXPECT_TRUE(TaskRecovery::recover(journal).isEmpty());
        EXPECT_EQ(snapshot(root), before);
        EXPECT_EQ(readFile(dir.path() + "/victim.json"), "victim");
        EXPECT_EQ(readFile(path), test.taken ? QByteArray() : bytes);
        QFile::remove(path);
    }
}

// Makes the file one that no one, root included, can remove, or removable
// again; false when the file system cannot.
bool setUndeletable(const QString &path, bool on)
{
    const int descriptor = ::open(nativeOf(path).c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    const bool done = descriptor >= 0 && ::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0 &&
                      (flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL,
                       ::ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0);
    ::close(descriptor);
    return done;
}

// The first of two containers is not as the import left it: the roll-back
// and the recovery leave it alone, follow no link and still undo the second.
TEST(TaskRecovery, AContainerThatCannotGoBackWholeCostsOnlyItself)
{
    using Phase = Entry::Phase;
    const struct {
        const char *name;
        Phase phase;
        // What takes the place of this path ("%data" is the first
        // container, "%hidden" its task's folder, "%backup" its backup), a
        // link to the canary, a file, or neither (one that cannot be
        // removed in the backup); whether the first container's backup then
        // stays, named; and whether the entry does.
        QString path;
        bool link, kept, stays = false;
    } cases[] = {
        {"something in the way", Phase::restoring, "%data/Documents/d", false, true},
        {"a file in the container's place", Phase::copying, "%data", false, true},
        {"a link in the container's place", Phase::copying, "%data", true, true},
        {"a link in the hidden folder's place", Phase::copying, "%hidden", true, false},
        {"a link in the hidden folder's place, discarding", Phase::discarding, "%hidden", true,
         false},
        {"a link in the place of a folder holding what the import made", Phase::copying,
         "%data/tmp", true, false},
        {"a backup that cannot be deleted, discarding", Phase::discarding, "%backup/Documents/d",
         false, true, true},
    };
    for (const auto &test : cases) {
        for (const bool rollBack : {true, false}) {
            SCOPED_TRACE(std::string(test.name) + (rollBack ? ", roll-back" : ", recovery"));
            QTemporaryDir dir;
            const QString root = dir.path(), devices = root + "/devices";
            const QString data = simulatorContainer(devices, false);
            const QString group = simulatorContainer(devices, true);
            const QString parent = QFileInfo(data).path();
            const TaskJournal journal(root + "/state", devices);
            Entry entry = resetImport({data, group}, test.phase);
            entry.created = {nativeOf(data + "/tmp/made")};
            // What a link leads to, named as the first container's items are.
            for (const QString &file : QStringList{"Documents/d", "Library/Preferences/p", "made/m",
                                                   QFileInfo(data).fileName()})
                ASSERT_TRUE(writeFile(root + "/canary/" + file, file.toUtf8()));
            const std::string canary = snapshot(root + "/canary");
            const QString obstacle = QString(test.path)
                                         .replace("%backup", backupOf(data))
                                         .replace("%hidden", hiddenOf(data))
                                         .replace("%data", data);
            const bool undeletable = test.path.startsWith("%backup");
            if (!undeletable) {
                QDir(obstacle).removeRecursively();
                ASSERT_TRUE(test.link ? makeLink(root + "/canary", obstacle)
                                      : writeFile(obstacle, "in the way"));
            }
            if (undeletable && !setUndeletable(obstacle, true)) {
                std::printf("[ SKIPPED  ] %s: no file can be made undeletable here\n", test.name);
                continue;
            }
            const auto removable = qScopeGuard([&] {
                if (undeletable)
                    setUndeletable(obstacle, false);
            });
            const std::string firstBackup = snapshot(hiddenOf(data));
            journal.write(entry);

            const auto outcome =
                rollBack ? TaskRecovery::undo(entry, journal) : TaskRecovery::recover(journal);
            EXPECT_EQ(outcome.kept + outcome.waiting + outcome.undeleted,
                      test.kept ? QStringList{backupOf(data)} : QStringList());
            EXPECT_EQ(snapshot(root + "/canary"), canary);
            EXPECT_TRUE(undeletable || holdsAll(firstBackup, snapshot(hiddenOf(data))));
            EXPECT_EQ(hiddenEntries(QFileInfo(group).path()), QStringList());
            if (test.phase != Phase::discarding)
                EXPECT_EQ(readFile(group + "/Library/Preferences/p"),
                          "old " + QFileInfo(group).fileName().toUtf8());
            EXPECT_EQ(outcome.finished, !test.stays);
            EXPECT_EQ(journal.entries().size(), size_t(rollBack || test.stays));
            EXPECT_TRUE(QFileInfo::exists(parent));
        }
    }
}

TEST(TaskRecovery, AnArchiveThatCannotGoBackKeepsItsEntryAndIsNamed)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    const TaskJournal journal(root + "/state", root + "/devices");
    const QString staging = root + "/.export-" + kExport;
    ASSERT_TRUE(writeFile(staging + "/AppDataInfo.plist", "new"));
    ASSERT_TRUE(writeFile(staging + ".replaced/AppDataInfo.plist", "old"));
    // Something took the archive's place while the old one stood aside.
    ASSERT_TRUE(writeFile(root + "/A.xcappdata", "someone else's"));
    Entry exporting{Entry::Kind::exportArchive, kExport, ::getpid(), 1};
    exporting.staging = nativeOf(staging);
    exporting.archive = nativeOf(root + "/A.xcappdata");
    journal.write(exporting);

    const auto outcome = TaskRecovery::recover(journal);
    EXPECT_EQ(outcome.waiting, QStringList{staging + ".replaced"});
    EXPECT_EQ(readFile(root + "/A.xcappdata"), "someone else's");
    // The unfinished archive stays too, for the next start to tell.
    EXPECT_TRUE(QFile::exists(staging));
    ASSERT_EQ(journal.entries().size(), 1u);

    ASSERT_TRUE(QFile::remove(root + "/A.xcappdata"));
    EXPECT_TRUE(TaskRecovery::recover(journal).isEmpty());
    EXPECT_EQ(readFile(root + "/A.xcappdata/AppDataInfo.plist"), "old");
    EXPECT_EQ(hiddenEntries(root), QStringList());
    EXPECT_TRUE(journal.entries().empty());
}

// Two imports of one container that both stopped before their end, as an
// earlier version could leave them: undone newest first, whatever their
// tasks are called and whatever the clock did between them, they give back
// what was there before the first. Entries of an earlier version have no
// sequence: they go by their stamps, and count as older than numbered ones.
TEST(TaskRecovery, EntriesOfOneContainerAreUndoneNewestFirst)
{
    const struct {
        const char *name;
        QString first, second;
        // The clock when each import wrote its entry.
        qint64 firstAt, secondAt;
        // How many of them, the first first, an earlier version wrote.
        int earlier;
    } cases[] = {
        {"the first task's name sorts first", kTask, kExport, 100, 200, 0},
        {"the second task's name sorts first", kExport, kTask, 100, 200, 0},
        {"the clock stepped back between them", kTask, kExport, 200, 100, 0},
        {"the clock stepped back after an earlier version's", kExport, kTask, 200, 100, 1},
        {"both of an earlier version", kExport, kTask, 100, 200, 2},
    };
    qint64 clock = 0;
    TaskJournal::setClock([&clock] { return clock; });
    const auto restoreClock = qScopeGuard([] { TaskJournal::setClock(nullptr); });
    for (const auto &test : cases) {
        SCOPED_TRACE(test.name);
        QTemporaryDir dir;
        const QString devices = dir.path() + "/devices";
        const QString data = simulatorContainer(devices, false);
        const TaskJournal journal(dir.path() + "/state", devices);
        const auto lay = [&](const QString &folder, const QByteArray &what) {
            for (const QString &file : QStringList{"/Library/Preferences/p", "/Documents/" + what})
                ASSERT_TRUE(writeFile(folder + file, what));
        };
        lay(data, "original");
        ASSERT_TRUE(writeFile(data + "/tmp/kept", "kept"));
        const std::string original = snapshot(data);
        // Each import moved what the erase takes into its backup, then
        // copied its archive in.
        for (const auto &[task, at, earlier] :
             {std::tuple(test.first, test.firstAt, 0 < test.earlier),
              std::tuple(test.second, test.secondAt, 1 < test.earlier)}) {
            clock = at;
            Entry entry{Entry::Kind::importArchive, task, ::getpid(), 1};
            entry.phase = Entry::Phase::copying;
            entry.archive = "/archives/A.xcappdata";
            entry.containers = {{"AppData", nativeOf(data), nativeOf(backupOf(data, task))}};
            // A phase is written without a sequence, as an earlier version wrote it.
            earlier ? journal.writePhase(entry, entry.phase) : journal.write(entry);
            ASSERT_TRUE(QDir().mkpath(backupOf(data, task)));
            for (const QString &top : {"Library", "Documents"})
                moveItem(nativeOf(data + "/" + top), nativeOf(backupOf(data, task) + "/" + top));
            lay(data, task.toUtf8());
        }
        TaskRecovery::recover(journal);
        EXPECT_EQ(snapshot(data), original);
        EXPECT_EQ(hiddenEntries(QFileInfo(data).path()), QStringList());
        EXPECT_TRUE(journal.entries().empty());
    }
}

// Entries written at once, from threads as from programs, each take a
// number of their own, above every earlier one; an entry of an earlier
// version stays unnumbered while it is replayed; a lock that is no file
// fails the write at once instead of holding it.
TEST(TaskJournal, EntriesWrittenAtOnceTakeNumbersOfTheirOwn)
{
    QTemporaryDir dir;
    const TaskJournal journal(dir.path() + "/state", dir.path() + "/devices");
    const auto exportEntry = [&] {
        Entry entry{Entry::Kind::exportArchive, newUuidString()};
        entry.archive = nativeOf(dir.path() + "/A.xcappdata");
        entry.staging = TaskJournal::stagingFolder(entry.archive, entry.taskID);
        return entry;
    };
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 8; ++thread)
        writers.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                Entry entry = exportEntry();
                journal.write(entry);
            }
        });
    for (std::thread &writer : writers)
        writer.join();
    const auto numbered = journal.entries();
    ASSERT_EQ(numbered.size(), 40u);
    for (size_t newest = 0; newest < numbered.size(); ++newest)
        EXPECT_EQ(numbered[newest].sequence, 40 - newest);

    // As read back, an entry of an earlier version has none.
    Entry replayed = exportEntry();
    journal.writePhase(replayed, Entry::Phase::restoring);
    EXPECT_EQ(journal.entries().back().sequence, 0u);

    const QString lock = journal.folder() + "/sequence.lock";
    ASSERT_TRUE(QFile::remove(lock));
    ASSERT_EQ(::mkfifo(QFile::encodeName(lock).constData(), 0600), 0);
    Entry refused = exportEntry();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(journal.write(refused), std::runtime_error);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

// The program's own start, with a well-formed entry that names a folder of
// the home folder as a group container, a backup beside it and all: the
// folder and the entry stay as they are.
TEST(TaskRecovery, AStartOfTheProgramLeavesAFolderOutsideTheSimulatorsAlone)
{
    fixture::FixtureTree tree;
    tree.selectXcode(tree.addXcode());
    const QString notes = tree.home() + "/Notes", backup = backupOf(notes);
    for (const QString &file : {notes + "/Documents/n", notes + "/Library/Preferences/p",
                                backup + "/Library/Preferences/p"})
        ASSERT_TRUE(writeFile(file, file.toUtf8()));
    const QString entry = tree.paths().stateDir + "/tasks/" + kTask + ".json";
    const QJsonObject container{{"identifier", "group.x"}, {"folder", notes}, {"backup", backup}};
    const QByteArray bytes = QJsonDocument(QJsonObject{{"task", kTask},
                                                       {"kind", "import"},
                                                       {"pid", 1},
                                                       {"started", "1"},
                                                       {"phase", "copying"},
                                                       {"archive", tree.home() + "/A.xcappdata"},
                                                       {"containers", QJsonArray{container}},
                                                       {"created", QJsonArray{}}})
                                 .toJson(QJsonDocument::Compact);
    ASSERT_TRUE(writeFile(entry, bytes));
    const auto folders = [&] { return snapshot(notes) + snapshot(hiddenOf(notes)); };
    const std::string before = folders();

    QMap<QString, QString> environment;
    for (const QString &line : tree.environment())
        environment.insert(line.section('=', 0, 0), line.section('=', 1));
    for (const char *folder : {"config", "sync"})
        environment.insert(QString("CORVANE_%1_DIR").arg(folder).toUpper(),
                           tree.root() + "/" + folder);
    environment.insert("XDG_RUNTIME_DIR", tree.root() + "/runtime");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    ChildProcess program;
    program.setExecutablePath(CORVANE_PROGRAM);
    program.setEnvironmentAdditions(environment);
    DispatchQueue::userInitiated()->sync([&] { program.launch(); });
    const QString log = tree.paths().programSupportDir() + "/Logs/Corvane.log";
    const bool recovered = waitUntil(
        [&] { return readFile(log).contains("The journal entry of task " + kTask.toUtf8()); },
        std::chrono::seconds(30));
    program.interrupt();
    if (!program.waitUntilExit(std::chrono::seconds(30)))
        program.kill();
    ASSERT_TRUE(recovered);
    EXPECT_EQ(folders(), before);
    EXPECT_EQ(readFile(entry), bytes);
}

// An import killed while copying, then a start whose undo fails at one call,
// each in turn, once or from then on as on a full disk: what it could not
// finish waits, held from other tasks, and nothing is kept for good; after
// the next start the containers are as before the import, with nothing of it.
TEST(TaskRecovery, AnUndoFailingAtAnyCallLeavesNoMixAfterTheNextStart)
{
    for (const bool onward : {false, true}) {
        for (int at = 1, calls = 0; calls >= at - 1; ++at) {
            SCOPED_TRACE((onward ? "failing from call " : "failing at call ") + std::to_string(at));
            QTemporaryDir dir;
            const QString devices = dir.path() + "/devices";
            const QString data = simulatorContainer(devices, false);
            const QString group = simulatorContainer(devices, true);
            const TaskJournal journal(dir.path() + "/state", devices);
            const QStringList erased{data + "/Documents", data + "/Library/Preferences",
                                     group + "/Shared"};
            for (int i = 0; i < 12; ++i)
                ASSERT_TRUE(
                    writeFile(erased[i % 3] + QString("/d%1/f%2").arg(i % 2).arg(i), "old"));
            ASSERT_TRUE(writeFile(data + "/tmp/kept", "kept"));
            const auto containers = [&] { return snapshot(data) + '\n' + snapshot(group); };
            const std::string original = containers();
            // The reset moved what the erase takes into the backups; a few
            // files of the archive were copied in before the kill.
            Entry entry = resetImport({}, Entry::Phase::copying);
            entry.containers = {{"AppData", nativeOf(data), nativeOf(backupOf(data))},
                                {"group.x", nativeOf(group), nativeOf(backupOf(group))}};
            entry.created = {nativeOf(data + "/tmp/made")};
            journal.write(entry);
            for (const QString &item : erased) {
                const QString container = item.startsWith(data) ? data : group;
                const QString aside = backupOf(container) + item.mid(container.size());
                ASSERT_TRUE(QDir().mkpath(QFileInfo(aside).path()));
                moveItem(nativeOf(item), nativeOf(aside));
                ASSERT_TRUE(writeFile(item + "/d0/f0", "archive"));
            }
            ASSERT_TRUE(writeFile(data + "/tmp/made/m", "archive"));
            {
                const FailingCalls failing(at, onward);
                ContainerClaims claims;
                const auto outcome = TaskRecovery::recover(journal, claims);
                calls = failing.calls();
                EXPECT_EQ(outcome.kept, QStringList());
                EXPECT_TRUE(outcome.waiting.isEmpty() ||
                            std::holds_alternative<ContainerClaims::Refusal>(
                                claims.claim({nativeOf(data)}, "another task")));
            }
            EXPECT_TRUE(TaskRecovery::recover(journal).finished);
            EXPECT_EQ(containers(), original);
            EXPECT_EQ(hiddenEntries(QFileInfo(data).path()) +
                          hiddenEntries(QFileInfo(group).path()),
                      QStringList());
            EXPECT_TRUE(journal.entries().empty());
        }
    }
}

// A lock another holds fails the write once the wait has passed, and nothing
// is lost: the entry there stays, the refused one is written once it is let go.
TEST(TaskJournal, AHeldLockFailsTheWriteWithinItsWait)
{
    QTemporaryDir dir;
    const TaskJournal journal(dir.path() + "/state", dir.path() + "/devices");
    Entry earlier = resetImport({}, Entry::Phase::copying, kExport),
          refused = resetImport({}, Entry::Phase::copying);
    journal.write(earlier);
    const int holder =
        ::open(QFile::encodeName(journal.folder() + "/sequence.lock").constData(), O_RDWR);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    TaskJournal::setLockWait(std::chrono::milliseconds(200));
    const auto restore = qScopeGuard([] { TaskJournal::setLockWait(std::nullopt); });
    const auto started = std::chrono::steady_clock::now();
    auto attempt = std::async(std::launch::async, [&] {
        EXPECT_THROW(journal.write(refused), std::runtime_error);
        return std::chrono::steady_clock::now() - started;
    });
    const bool ended = attempt.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    // Lets a write that would wait without end go on.
    ::close(holder);
    ASSERT_TRUE(ended);
    EXPECT_GE(attempt.get(), std::chrono::milliseconds(200));
    EXPECT_EQ(hiddenEntries(journal.folder()), QStringList());
    ASSERT_EQ(journal.entries().size(), 1u);
    EXPECT_EQ(journal.entries()[0].taskID, kExport);
    journal.write(refused);
    EXPECT_EQ(journal.entries().size(), 2u);
}

// A start removes the scratch files that writes of programs that ended left
// beside the entries, and none that this run writes.
TEST(TaskJournal, AStartSweepsTheScratchOfWritesCutShort)
{
    QTemporaryDir dir;
    const TaskJournal journal(dir.path() + "/state", dir.path() + "/devices");
    const QString writing = ScratchFiles::nameBeside(journal.folder() + "/" + kExport + ".json");
    ASSERT_TRUE(writeFile(writing, "{") &&
                writeFile(journal.folder() + "/." + kTask +
                              QString(".json.scratch-%1-1-AbCd12").arg(::getpid()),
                          "{\"task\":"));
    TaskRecovery::recover(journal);
    EXPECT_EQ(hiddenEntries(journal.folder()), QStringList{QFileInfo(writing).fileName()});
}
