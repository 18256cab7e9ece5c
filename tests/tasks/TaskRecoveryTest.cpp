#include "TaskTestSupport.h"
#include "tasks/TaskRecovery.h"

using namespace corvane;
using namespace corvane::test;

namespace {

const QString kTask = "0F1E2D3C-4B5A-4968-8776-655443322110";
const QString kExport = "1F1E2D3C-4B5A-4968-8776-655443322110";

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
    TaskJournal::Entry running{TaskJournal::Entry::Kind::exportArchive, "running"};
    journal.write(running);

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

    TaskRecovery::reportKeptBackups(kept);
    ASSERT_TRUE(waitUntil([&] { return !alerts->presented.empty(); }));
    AlertPresenter::setShared(nullptr);
    EXPECT_EQ(alerts->presented[0].messageText, "Some application data could not be put back");
    EXPECT_TRUE(alerts->presented[0].informativeText.endsWith("\n\n" + backup));
}
