#include "tasks/ExportTask.h"

#include "core/JsonStore.h"
#include "model/Application.h"
#include "model/Container.h"
#include "platform/files/FileCoordinator.h"
#include "platform/Loc.h"
#include "tasks/ItemMoves.h"
#include "tasks/TaskRecovery.h"

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

namespace corvane {

namespace fs = std::filesystem;

namespace {

// A name that cannot lead out of the archive folder.
bool isPlainName(const QString &name)
{
    return !name.isEmpty() && !name.contains('/') && name != "." && name != "..";
}

} // namespace

ExportTask::ExportTask(std::shared_ptr<Application> application)
    : ArchiveTask(std::move(application))
{
    setLocalisedDetailDescription(loc("Waiting to Start…", ""));
}

void ExportTask::run(const std::vector<std::shared_ptr<Container>> &containers, const QUrl &url)
{
    setLocalisedDetailDescription(loc("Gathering files for export…", ""));
    postDidUpdate();
    setUrl(url);
    application()->terminate();
    // Folders the user chose need no grant on this system.

    TaskJournal::Entry entry;
    entry.kind = TaskJournal::Entry::Kind::exportArchive;
    entry.taskID = taskIDString();
    entry.archive = nativePath(url);
    entry.staging = TaskJournal::stagingFolder(entry.archive, entry.taskID);
    bool journaled = false;
    try {
        const std::vector<File> files = gather(containers);
        if (isCancelled())
            throw Cancelled();
        // Noted before anything is made, so that a start after a kill finds it.
        journal().write(entry);
        journaled = true;
        fileCoordinator().coordinateWriting(url, false, [&](const QUrl &) {
            fs::create_directories(entry.staging.parent_path());
            if (::mkdir(entry.staging.c_str(), 0777) != 0)
                throw fs::filesystem_error("cannot create archive folder", entry.staging,
                                           std::error_code(errno, std::generic_category()));
        });
        write(files, entry.staging);
        // The new archive is whole on disk before it takes the old one's
        // place; until it does, a cancel leaves the old one.
        setLocalisedDetailDescription(loc("Saving the archive…", ""));
        postDidUpdate();
        syncFileSystemOf(entry.staging.parent_path());
        fileCoordinator().coordinateWriting(url, false, [&](const QUrl &) {
            if (isCancelled())
                throw Cancelled();
            setLocalisedDetailDescription(loc("Finishing the export…", ""));
            postDidUpdate();
            if (const std::error_code error = replaceItem(entry.staging, entry.archive)) {
                // The replaced archive waits in the hidden folder for the next
                // start to delete it.
                log().error("Cannot remove the replaced archive beside %{public}@: %{public}@",
                            displayPath(entry.archive), QString::fromStdString(error.message()));
                journaled = false;
            }
        });
    } catch (const std::exception &error) {
        if (journaled) {
            setLocalisedDetailDescription(loc("Removing the unfinished archive…", ""));
            postDidUpdate();
            const auto outcome = TaskRecovery::undo(entry, journal());
            TaskRecovery::report(outcome);
            // What could not be undone is left to the next start.
            if (!outcome.finished || !TaskRecovery::forget(entry, journal()))
                setLeftEntryUnfinished();
        }
        finishFailed(loc("Data export cancelled.", ""), loc("Data export failed.", ""),
                     "Error exporting archive: %{PUBLIC}@", error);
        return;
    }
    if (journaled)
        journal().remove(entry.taskID);
    finishCompleted(loc("Data export completed.", ""));
}

std::vector<File> ExportTask::gather(const std::vector<std::shared_ptr<Container>> &containers)
{
    std::vector<File> files;
    for (const auto &container : containers) {
        if (isCancelled())
            break;
        if (!isPlainName(container->identifier())) {
            log().error("Skipping a container with the identifier %{public}@",
                        container->identifier());
            continue;
        }
        auto gathered = gatherFiles(container->url(), containerEntries(*container),
                                    loc("Gathering files for export (%@)…", ""));
        files.insert(files.end(), std::make_move_iterator(gathered.begin()),
                     std::make_move_iterator(gathered.end()));
    }
    return files;
}

void ExportTask::write(const std::vector<File> &files, const fs::path &staging)
{
    setLocalisedDetailDescription(loc("Writing archive info…", ""));
    postDidUpdate();
    const QString infoPath = displayPath(staging / infoFileName);
    fileCoordinator().coordinateWriting(QUrl::fromLocalFile(infoPath), false, [&](const QUrl &) {
        if (!writeFileAtomically(infoPath, encodeInfo(info())))
            throw std::runtime_error("Cannot write " + infoPath.toStdString());
    });

    const QString exporting = loc("Exporting %@…", "");
    for (const File &file : files) {
        if (isCancelled())
            throw Cancelled();
        setLocalisedDetailDescription(withEntryName(exporting, file));
        postDidUpdate();
        copyEntry(file, staging / file.containerIdentifier.toStdString() / file.nativeRelativePath);
        addToCompletedCount();
        postDidUpdate();
    }
    applyFolderAttributes();
}

} // namespace corvane
