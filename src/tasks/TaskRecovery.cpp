#include "tasks/TaskRecovery.h"

#include "core/File.h"
#include "model/Container.h"
#include "platform/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "tasks/ItemMoves.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <exception>

namespace corvane {

namespace fs = std::filesystem;

namespace {

using Entry = TaskJournal::Entry;

Log log()
{
    return Log("archive");
}

// Only the task's own hidden folders are touched: a journal edited by hand
// cannot make a recovery delete anything else.
bool isTasksOwn(const fs::path &path, const char *kind, const QString &taskID)
{
    return path.filename() == fs::path(QString(".%1-%2").arg(kind, taskID).toStdString());
}

bool isRealDirectory(const fs::path &path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Whether the path lies in the folder without passing through a link: what
// is removed there is what the import made, never something a link leads to.
bool liesPlainlyIn(const fs::path &path, const fs::path &folder)
{
    if (!isWithin(path, folder))
        return false;
    fs::path walked = folder;
    for (const fs::path &component : path.lexically_relative(folder).parent_path()) {
        walked /= component;
        if (!isRealDirectory(walked))
            return false;
    }
    return true;
}

std::vector<fs::path> contentsOf(const fs::path &folder)
{
    std::vector<fs::path> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    if (error && error != std::errc::no_such_file_or_directory)
        throw fs::filesystem_error("cannot list", folder, error);
    return entries;
}

void removeLogged(const fs::path &path, const char *what)
{
    if (!itemExists(path))
        return;
    removeTree(path);
    log().info("%{public}@ %{public}@", what, displayPath(path));
}

// Removes from `folder` (a container, or a folder in it that the erase
// keeps) what the container's erase removes: after the reset, the import
// put all of it there.
void removeImported(const fs::path &folder, const QString &identifier, const QString &relative)
{
    for (const fs::path &path : contentsOf(folder)) {
        const bool isDirectory = isRealDirectory(path);
        const QString name = relative + displayPath(path.filename()) + (isDirectory ? "/" : "");
        if (Container::erases(identifier, name))
            removeLogged(path, "Removed what the import had copied in:");
        else if (isDirectory)
            removeImported(path, identifier, name);
    }
}

// Moves what `from` holds back to the same place below `to`, going into
// folders that are on both sides; true when all of it went back and `from`
// is gone.
bool putBack(const fs::path &from, const fs::path &to)
{
    if (!itemExists(from))
        return true;
    bool whole = true;
    for (const fs::path &item : contentsOf(from)) {
        const fs::path target = to / item.filename();
        if (!itemExists(target)) {
            try {
                moveItem(item, target);
                log().info("Put back %{public}@", displayPath(target));
            } catch (const fs::filesystem_error &error) {
                log().error("Cannot put back %{public}@: %{public}@", displayPath(target),
                            QString::fromLocal8Bit(error.what()));
                whole = false;
            }
        } else if (isRealDirectory(item) && isRealDirectory(target)) {
            whole = putBack(item, target) && whole;
        } else {
            log().error("Cannot put back %{public}@: something else is there", displayPath(target));
            whole = false;
        }
    }
    return whole && ::rmdir(from.c_str()) == 0;
}

void undoExport(const Entry &entry)
{
    if (!isTasksOwn(entry.staging, "export", entry.taskID)) {
        log().error("The journal of task %{public}@ names %{public}@, which is left alone",
                    entry.taskID, displayPath(entry.staging));
        return;
    }
    const fs::path aside = asidePath(entry.staging);
    if (!entry.archive.empty() && !itemExists(entry.archive) && itemExists(aside)) {
        moveItem(aside, entry.archive);
        log().info("Put the archive %{public}@ back", displayPath(entry.archive));
    }
    removeLogged(entry.staging, "Deleted the unfinished archive");
    removeLogged(aside, "Deleted the replaced archive");
}

QStringList undoImport(Entry &entry, const TaskJournal &journal)
{
    std::vector<Entry::Container> containers;
    for (const auto &container : entry.containers) {
        if (isTasksOwn(container.backup.parent_path(), "import", entry.taskID))
            containers.push_back(container);
        else
            log().error("The journal of task %{public}@ names %{public}@, which is left alone",
                        entry.taskID, displayPath(container.backup));
    }
    QStringList kept;
    try {
        if (entry.phase == Entry::Phase::copying) {
            for (const auto &container : containers)
                removeImported(container.folder, container.identifier, {});
            for (auto path = entry.created.rbegin(); path != entry.created.rend(); ++path)
                if (std::any_of(containers.begin(), containers.end(), [&](const auto &container) {
                        return liesPlainlyIn(*path, container.folder);
                    }))
                    removeLogged(*path, "Removed what the import had made:");
            entry.phase = Entry::Phase::restoring;
            try {
                journal.write(entry);
            } catch (const std::exception &error) {
                log().error("%{public}@", QString::fromLocal8Bit(error.what()));
            }
        }
        for (const auto &container : containers) {
            if (entry.phase == Entry::Phase::discarding)
                removeLogged(container.backup, "Deleted the data the import replaced:");
            else if (!putBack(container.backup, container.folder))
                kept << displayPath(container.backup);
        }
    } catch (const std::exception &error) {
        log().error("Cannot undo the import of task %{public}@: %{public}@", entry.taskID,
                    QString::fromLocal8Bit(error.what()));
        // Backups of a finished import are only in the way; the others hold
        // the user's data.
        for (const auto &container : containers)
            if (entry.phase != Entry::Phase::discarding && itemExists(container.backup) &&
                !kept.contains(displayPath(container.backup)))
                kept << displayPath(container.backup);
    }
    for (const auto &container : containers)
        ::rmdir(container.backup.parent_path().c_str());
    return kept;
}

} // namespace

QStringList TaskRecovery::undo(Entry &entry, const TaskJournal &journal)
{
    if (entry.kind == Entry::Kind::importArchive)
        return undoImport(entry, journal);
    try {
        undoExport(entry);
    } catch (const std::exception &error) {
        log().error("Cannot undo the export of task %{public}@: %{public}@", entry.taskID,
                    QString::fromLocal8Bit(error.what()));
    }
    return {};
}

QStringList TaskRecovery::recover(const TaskJournal &journal)
{
    QStringList kept;
    for (Entry &entry : journal.entries()) {
        if (TaskJournal::writerIsRunning(entry))
            continue;
        log().notice("Undoing the %{public}@ of task %{public}@, which was cut short",
                     entry.kind == Entry::Kind::importArchive ? "import" : "export", entry.taskID);
        kept << undo(entry, journal);
        journal.remove(entry.taskID);
    }
    return kept;
}

void TaskRecovery::reportKeptBackups(const QStringList &folders)
{
    if (folders.isEmpty())
        return;
    for (const QString &folder : folders)
        log().error("The application data in %{public}@ could not be put back whole; it is "
                    "left there",
                    folder);
    DispatchQueue::main()->async(
        [spec = keptBackupsAlert(folders)] { AlertPresenter::shared()->run(spec); });
}

AlertSpec TaskRecovery::keptBackupsAlert(const QStringList &folders)
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    spec.messageText = loc("Some application data could not be put back", "");
    spec.informativeText =
        loc("An import that was cut short replaced data that could not all be put back. "
            "Nothing was deleted: what is missing is kept in:",
            "") +
        "\n\n" + folders.join('\n');
    return spec;
}

} // namespace corvane
