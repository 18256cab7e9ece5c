#include "tasks/TaskRecovery.h"

#include "core/File.h"
#include "model/Container.h"
#include "platform/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "tasks/ItemMoves.h"

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

QString describe(const std::exception &error)
{
    return QString::fromLocal8Bit(error.what());
}

// Puts an old archive that an export stepped aside back in its place, and
// deletes the unfinished one.
TaskRecovery::Outcome undoExport(const Entry &entry)
{
    TaskRecovery::Outcome outcome;
    const fs::path aside = asidePath(entry.staging);
    if (itemExists(aside)) {
        try {
            if (!itemExists(entry.archive)) {
                moveItem(aside, entry.archive);
                log().info("Put the archive %{public}@ back", displayPath(entry.archive));
            } else if (itemExists(entry.staging)) {
                // The new archive never took the old one's place: what is
                // there now is not the export's.
                log().error("Cannot put the archive %{public}@ back: something else is there",
                            displayPath(entry.archive));
            } else {
                removeLogged(aside, "Deleted the replaced archive");
            }
        } catch (const std::exception &error) {
            log().error("Cannot put the archive %{public}@ back: %{public}@",
                        displayPath(entry.archive), describe(error));
        }
    }
    if (itemExists(aside)) {
        // It may go back at a later start; until then it is named, and the
        // unfinished archive stays to show that it never took its place.
        outcome.kept << displayPath(aside);
        outcome.finished = false;
        return outcome;
    }
    try {
        removeLogged(entry.staging, "Deleted the unfinished archive");
    } catch (const std::exception &error) {
        log().error("Cannot delete the unfinished archive %{public}@: %{public}@",
                    displayPath(entry.staging), describe(error));
        outcome.finished = false;
    }
    return outcome;
}

// Where one container of an import and its backup stand. Recovery fills
// or empties a container only while it is a real folder (or not there), and
// its backup a real folder in the task's real hidden folder, as the import
// left them: a link put in the place of either leads elsewhere.
struct Place {
    const Entry::Container &container;
    bool hiddenIsOurs;
    bool backupIsOurs;
    bool folderIsOurs;

    explicit Place(const Entry::Container &container)
        : container(container), hiddenIsOurs(isRealDirectory(container.backup.parent_path())),
          backupIsOurs(hiddenIsOurs && isRealDirectory(container.backup)),
          folderIsOurs(!itemExists(container.folder) || isRealDirectory(container.folder))
    {
    }

    // Names what is left alone, and why.
    void logLeftAlone(const QString &taskID) const
    {
        const fs::path &odd = !hiddenIsOurs   ? container.backup.parent_path()
                              : !backupIsOurs ? container.backup
                                              : container.folder;
        log().error("The import of task %{public}@ left no folder of its own at %{public}@; "
                    "%{public}@ is left alone",
                    taskID, displayPath(odd), displayPath(container.folder));
    }
};

// Removes what the import copied into the container: by the erase's own
// rule, then each noted item the import made there.
void removeImported(const Place &place, const Entry &entry)
{
    const auto &container = place.container;
    removeImported(container.folder, container.identifier, {});
    for (auto path = entry.created.rbegin(); path != entry.created.rend(); ++path)
        if (liesPlainlyIn(*path, container.folder))
            removeLogged(*path, "Removed what the import had made:");
}

TaskRecovery::Outcome undoImport(Entry &entry, const TaskJournal &journal)
{
    TaskRecovery::Outcome outcome;
    std::vector<Place> places;
    for (const auto &container : entry.containers)
        places.emplace_back(container);

    if (entry.phase == Entry::Phase::discarding) {
        for (const Place &place : places) {
            if (!place.hiddenIsOurs) {
                if (itemExists(place.container.backup.parent_path()))
                    place.logLeftAlone(entry.taskID);
                continue;
            }
            try {
                removeLogged(place.container.backup, "Deleted the data the import replaced:");
            } catch (const std::exception &error) {
                log().error("Cannot delete %{public}@: %{public}@",
                            displayPath(place.container.backup), describe(error));
                outcome.finished = false;
            }
            ::rmdir(place.container.backup.parent_path().c_str());
        }
        return outcome;
    }

    // Each container on its own: one that cannot be undone costs itself,
    // not the others.
    std::vector<const Place *> usable;
    for (const Place &place : places) {
        const bool ours = place.folderIsOurs && place.backupIsOurs;
        if (!ours && (entry.phase == Entry::Phase::copying || itemExists(place.container.backup)))
            place.logLeftAlone(entry.taskID);
        if (ours)
            usable.push_back(&place);
        else if (place.backupIsOurs)
            outcome.kept << displayPath(place.container.backup);
    }

    if (entry.phase == Entry::Phase::copying) {
        for (const Place *place : usable) {
            try {
                removeImported(*place, entry);
            } catch (const std::exception &error) {
                log().error("Cannot remove all the import copied into %{public}@: %{public}@",
                            displayPath(place->container.folder), describe(error));
            }
        }
        // Once anything is back, a replay must not remove it again: without
        // that noted, the backups stay where they are.
        try {
            journal.writePhase(entry, Entry::Phase::restoring);
        } catch (const std::exception &error) {
            log().error("Cannot note that the import of task %{public}@ is being undone, so "
                        "its backups stay where they are: %{public}@",
                        entry.taskID, describe(error));
            for (const Place *place : usable)
                outcome.kept << displayPath(place->container.backup);
            outcome.finished = false;
            return outcome;
        }
    }

    for (const Place *place : usable) {
        bool whole = false;
        try {
            whole = putBack(place->container.backup, place->container.folder);
        } catch (const std::exception &error) {
            log().error("Cannot put back %{public}@: %{public}@",
                        displayPath(place->container.folder), describe(error));
        }
        if (!whole && itemExists(place->container.backup))
            outcome.kept << displayPath(place->container.backup);
    }
    for (const Place &place : places)
        if (place.hiddenIsOurs)
            ::rmdir(place.container.backup.parent_path().c_str());
    return outcome;
}

// An entry that is not as its task would have written it is left alone:
// nothing it names is taken for the task's own.
bool isFlawed(const Entry &entry)
{
    const auto flaw = TaskJournal::flaw(entry);
    if (flaw)
        log().error("The journal entry of task %{public}@ names %{public}@, which the task would "
                    "not; it is left alone",
                    entry.taskID, *flaw);
    return flaw.has_value();
}

} // namespace

TaskRecovery::Outcome TaskRecovery::undo(Entry &entry, const TaskJournal &journal)
{
    if (isFlawed(entry))
        return {{}, false};
    if (entry.kind == Entry::Kind::importArchive)
        return undoImport(entry, journal);
    return undoExport(entry);
}

QStringList TaskRecovery::recover(const TaskJournal &journal)
{
    QStringList kept;
    for (Entry &entry : journal.entries()) {
        if (isFlawed(entry) || TaskJournal::writerIsRunning(entry))
            continue;
        log().notice("Undoing the %{public}@ of task %{public}@, which was cut short",
                     entry.kind == Entry::Kind::importArchive ? "import" : "export", entry.taskID);
        const Outcome outcome = undo(entry, journal);
        kept << outcome.kept;
        if (outcome.finished)
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
        loc("An export or import that stopped before its end replaced data that could not all "
            "be put back. Nothing was deleted: what is missing is kept in:",
            "") +
        "\n\n" + folders.join('\n');
    return spec;
}

} // namespace corvane
