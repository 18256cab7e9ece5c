#pragma once

#include "platform/desktop/AlertPresenter.h"
#include "tasks/ArchiveTask.h"
#include "tasks/TaskRecovery.h"

#include <memory>
#include <optional>
#include <vector>

namespace corvane {

class Container;
class ContainerBackup;

// Replaces an application's container contents with those of an archive.
// What the reset removes is kept aside until the import is done, and the
// journal says how far it got, so that a failure, a cancel or the next start
// after a kill puts the containers back as they were.
class ImportTask : public ArchiveTask {
public:
    explicit ImportTask(std::shared_ptr<Application> application);

    // The task's body, on the task queue, with the application's containers
    // as its caller listed (and holds) them.
    void run(const std::vector<std::shared_ptr<Container>> &containers, const QUrl &url);

    // The container folder the archive lies in (or that lies in the
    // archive), where the reset would empty the archive under the import. A
    // folder or archive whose place cannot be told counts as such a folder.
    static std::optional<std::filesystem::path>
    containerHolding(const std::filesystem::path &archive,
                     const std::vector<std::shared_ptr<Container>> &containers);
    static AlertSpec archiveInsideAlert(const QString &archiveName);

protected:
    // Where the reset moves what it removes.
    virtual std::unique_ptr<ContainerBackup>
    makeBackup(const std::vector<std::shared_ptr<Container>> &containers) const;

private:
    void copy(const std::vector<File> &files,
              const std::vector<std::shared_ptr<Container>> &containers);
    // Undoes the import; what the next start will do about what is left,
    // when it is more than forgetting the entry.
    QString rollBack(TaskJournal::Entry &entry);
    // Deletes the backups of a finished import, once that is noted. False
    // when it cannot be noted: the backups then stay for the next start.
    bool discardBackups(TaskJournal::Entry &entry);
    // Reports what is left, and keeps the containers from other tasks until
    // the next start unless only the backups of a finished import are left.
    void leaveEntry(const TaskRecovery::Outcome &outcome,
                    TaskJournal::Entry::Phase phase = TaskJournal::Entry::Phase::copying);
    static QStringList backupsOf(const TaskJournal::Entry &entry);
    static void syncContainers(const std::vector<std::shared_ptr<Container>> &containers);
    static QString undoneAtNextStart();
    static QString withNextStart(const QString &text, const QString &later);
};

} // namespace corvane
