#include "tasks/TaskRecovery.h"

#include "core/File.h"
#include "tasks/ContainerClaims.h"
#include "model/Container.h"
#include "platform/queues/DispatchQueue.h"
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

// How putting a backup back went.
struct PutBack {
    // Something the import did not make stands where an item goes: that
    // item cannot go back.
    bool blocked = false;
    // A move or a removal failed: a later run may still manage it.
    bool failed = false;

    void add(const PutBack &other)
    {
        blocked = blocked || other.blocked;
        failed = failed || other.failed;
    }
};

// Moves what `from` holds back to the same place below `to`, going into
// folders that are on both sides; `from` goes once all of it is back.
PutBack putBack(const fs::path &from, const fs::path &to)
{
    PutBack result;
    if (!itemExists(from))
        return result;
    for (const fs::path &item : contentsOf(from)) {
        const fs::path target = to / item.filename();
        if (!itemExists(target)) {
            try {
                moveItem(item, target);
                log().info("Put back %{public}@", displayPath(target));
            } catch (const fs::filesystem_error &error) {
                log().error("Cannot put back %{public}@: %{public}@", displayPath(target),
                            QString::fromLocal8Bit(error.what()));
                result.failed = true;
            }
        } else if (isRealDirectory(item) && isRealDirectory(target)) {
            result.add(putBack(item, target));
        } else {
            log().error("Cannot put back %{public}@: something else is there", displayPath(target));
            result.blocked = true;
        }
    }
    if (!result.blocked && !result.failed && !removeEmptyFolder(from)) {
        log().error("Cannot remove %{public}@", displayPath(from));
        result.failed = true;
    }
    return result;
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
        outcome.waiting << displayPath(aside);
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
// or empties a container only while it is a real folder (or not there)
// reached from the devices folder through real folders only, and its backup
// a real folder in the task's real hidden folder, as the import left them: a
// link put in the place of either leads elsewhere. Once the task has noted
// beside the backup that it ended, the container is the user's again.
struct Place {
    const Entry::Container &container;
    bool hiddenIsOurs;
    bool backupIsOurs;
    bool folderIsOurs;
    bool ended;

    Place(const Entry::Container &container, const fs::path &devicesRoot)
        : container(container), hiddenIsOurs(isRealDirectory(container.backup.parent_path())),
          backupIsOurs(hiddenIsOurs && isRealDirectory(container.backup)),
          folderIsOurs(isPlainContainerFolder(container.folder, devicesRoot)),
          ended(hiddenIsOurs && TaskJournal::hasEnded(container.backup.parent_path()))
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

// What a record describes must be on disk before the record is.
void syncContainers(const std::vector<const Place *> &places)
{
    for (const Place *place : places)
        syncFileSystemOf(place->container.folder.parent_path());
}

bool isEmptyFolder(const fs::path &folder)
{
    std::error_code error;
    return fs::is_empty(folder, error) && !error;
}

// Removes the task's hidden folder beside the container once nothing is
// left in it; false when it stays empty, so that its entry stays to name it.
bool removeHidden(const Place &place)
{
    const fs::path hidden = place.container.backup.parent_path();
    if (removeEmptyFolder(hidden) || !isEmptyFolder(hidden))
        return true;
    log().error("Cannot remove %{public}@", displayPath(hidden));
    return false;
}

TaskRecovery::Outcome undoImport(Entry &entry, const TaskJournal &journal, TaskRecovery::By by)
{
    using Phase = Entry::Phase;
    TaskRecovery::Outcome outcome;
    std::vector<Place> places;
    for (const auto &container : entry.containers)
        places.emplace_back(container, journal.devicesRoot());

    if (entry.phase == Phase::discarding) {
        for (const Place &place : places) {
            if (!place.hiddenIsOurs) {
                if (itemExists(place.container.backup.parent_path()))
                    place.logLeftAlone(entry.taskID);
                continue;
            }
            try {
                removeLogged(place.container.backup, "Deleted the data the import replaced:");
            } catch (const std::exception &error) {
                // The entry stays, so that the data stays named.
                log().error("Cannot delete %{public}@: %{public}@",
                            displayPath(place.container.backup), describe(error));
                outcome.undeleted << displayPath(place.container.backup);
                outcome.finished = false;
            }
            if (!removeHidden(place))
                outcome.finished = false;
        }
        return outcome;
    }

    // Each container on its own: one that cannot be undone costs itself,
    // not the others.
    std::vector<const Place *> usable;
    for (const Place &place : places) {
        if (place.ended) {
            // What is in the container now may be what the user made since.
            if (place.backupIsOurs && !isEmptyFolder(place.container.backup)) {
                log().notice("The import of task %{public}@ had ended: %{public}@ is left as it "
                             "is and the data it replaced stays in %{public}@",
                             entry.taskID, displayPath(place.container.folder),
                             displayPath(place.container.backup));
                outcome.kept << displayPath(place.container.backup);
            } else if (place.backupIsOurs && !removeEmptyFolder(place.container.backup)) {
                outcome.finished = false;
            }
            continue;
        }
        const bool ours = place.folderIsOurs && place.backupIsOurs;
        const bool filled = entry.phase == Phase::copying || entry.phase == Phase::removing;
        if (!ours && (filled || itemExists(place.container.backup)))
            place.logLeftAlone(entry.taskID);
        if (ours)
            usable.push_back(&place);
        else if (place.backupIsOurs)
            outcome.kept << displayPath(place.container.backup);
    }
    const auto leaveForLater = [&](const char *step, const std::exception &error) {
        log().error("Cannot note that the import of task %{public}@ is %{public}@, so its "
                    "backups stay where they are: %{public}@",
                    entry.taskID, step, describe(error));
        for (const Place *place : usable)
            outcome.waiting << displayPath(place->container.backup);
        outcome.finished = false;
        return outcome;
    };
    // In place of a step the journal cannot note, the task notes beside the
    // backups that it has ended: then no start removes anything again.
    const auto markEnded = [&] { return by == TaskRecovery::By::task && journal.markEnded(entry); };

    bool marked = false;
    if (!usable.empty() && (entry.phase == Phase::copying || entry.phase == Phase::removing)) {
        try {
            if (entry.phase == Phase::copying)
                journal.writePhase(entry, Phase::removing);
        } catch (const std::exception &error) {
            if (!(marked = markEnded()))
                return leaveForLater("being undone", error);
        }
        bool removed = true;
        for (const Place *place : usable) {
            try {
                removeImported(*place, entry);
            } catch (const std::exception &error) {
                log().error("Cannot remove all the import copied into %{public}@: %{public}@",
                            displayPath(place->container.folder), describe(error));
                removed = false;
            }
        }
        if (!removed) {
            // Nothing goes back among what the import copied in: a later
            // start removes the rest first. Once the task has noted that it
            // ended, none will, and the backups stay as they are.
            for (const Place *place : usable)
                (marked ? outcome.kept : outcome.waiting) << displayPath(place->container.backup);
            outcome.finished = marked;
            return outcome;
        }
        // Once anything is back, a replay must not remove it again.
        try {
            syncContainers(usable);
            if (!marked)
                journal.writePhase(entry, Phase::restoring);
        } catch (const std::exception &error) {
            if (!(marked = markEnded()))
                return leaveForLater("putting its backups back", error);
        }
    }

    for (const Place *place : usable) {
        PutBack result;
        try {
            result = putBack(place->container.backup, place->container.folder);
        } catch (const std::exception &error) {
            log().error("Cannot put back %{public}@: %{public}@",
                        displayPath(place->container.folder), describe(error));
            result.failed = true;
        }
        // What failed to go back goes at a later start, unless none will
        // touch the container again.
        if (result.failed && !marked) {
            outcome.waiting << displayPath(place->container.backup);
            outcome.finished = false;
        } else if ((result.failed || result.blocked) && itemExists(place->container.backup)) {
            outcome.kept << displayPath(place->container.backup);
        }
    }
    try {
        syncContainers(usable);
    } catch (const std::exception &error) {
        log().error("%{public}@", describe(error));
        outcome.finished = false;
    }
    for (const Place &place : places)
        if (place.hiddenIsOurs && !removeHidden(place))
            outcome.finished = false;
    return outcome;
}

// An entry that is not as its task would have written it is left alone:
// nothing it names is taken for the task's own.
bool isFlawed(const Entry &entry, const TaskJournal &journal)
{
    const auto flaw = journal.flaw(entry);
    if (flaw)
        log().error("The journal entry of task %{public}@ names %{public}@, which the task would "
                    "not; it is left alone",
                    entry.taskID, *flaw);
    return flaw.has_value();
}

// What an entry's task held: the folders its undo may change.
std::vector<fs::path> foldersOf(const Entry &entry)
{
    if (entry.kind == Entry::Kind::exportArchive)
        return {entry.archive};
    std::vector<fs::path> folders;
    for (const auto &container : entry.containers)
        folders.push_back(container.folder);
    return folders;
}

bool overlaps(const std::vector<fs::path> &folders, const std::vector<fs::path> &others)
{
    return std::any_of(folders.begin(), folders.end(), [&](const fs::path &folder) {
        return std::any_of(others.begin(), others.end(), [&](const fs::path &other) {
            return isWithin(folder, other) || isWithin(other, folder);
        });
    });
}

QString sectioned(const QString &text, const QStringList &folders)
{
    return folders.isEmpty() ? QString() : text + "\n\n" + folders.join('\n');
}

} // namespace

void TaskRecovery::Outcome::add(const Outcome &other)
{
    kept << other.kept;
    waiting << other.waiting;
    undeleted << other.undeleted;
    finished = finished && other.finished;
}

bool TaskRecovery::Outcome::isEmpty() const
{
    return kept.isEmpty() && waiting.isEmpty() && undeleted.isEmpty();
}

TaskRecovery::Outcome TaskRecovery::undo(Entry &entry, const TaskJournal &journal, By by)
{
    if (isFlawed(entry, journal)) {
        Outcome outcome;
        outcome.finished = false;
        return outcome;
    }
    if (entry.kind == Entry::Kind::importArchive)
        return undoImport(entry, journal, by);
    return undoExport(entry);
}

bool TaskRecovery::forget(const Entry &entry, const TaskJournal &journal)
{
    if (!journal.remove(entry.taskID))
        return false;
    // Only now: a note that the task ended must outlive its entry.
    TaskJournal::clearEnded(entry);
    return true;
}

TaskRecovery::Outcome TaskRecovery::recover(const TaskJournal &journal)
{
    ContainerClaims claims;
    return recover(journal, claims);
}

TaskRecovery::Outcome TaskRecovery::recover(const TaskJournal &journal, ContainerClaims &claims)
{
    // A write cut short by a kill or a full disk left its scratch file.
    journal.sweepScratch();
    Outcome report;
    // Folders of newer entries that are not finished: an older entry of one
    // of them would undo what lies beneath the newer one's work.
    std::vector<fs::path> pending;
    for (Entry &entry : journal.entries()) {
        if (isFlawed(entry, journal))
            continue;
        const auto folders = foldersOf(entry);
        const auto claim = [&] {
            return claims.claim(folders, loc("Data an earlier task left is being put back.", ""));
        };
        if (overlaps(folders, pending)) {
            log().notice("Setting the entry of task %{public}@ aside until the newer one of its "
                         "folders is finished",
                         entry.taskID);
            if (auto held = claim(); std::holds_alternative<ContainerClaims::Claim>(held))
                claims.retain(std::move(std::get<ContainerClaims::Claim>(held)));
            continue;
        }
        pending.insert(pending.end(), folders.begin(), folders.end());
        if (TaskJournal::writerIsRunning(entry))
            continue;
        auto held = claim();
        if (!std::holds_alternative<ContainerClaims::Claim>(held)) {
            log().notice("Leaving the entry of task %{public}@ for later: another program holds "
                         "its folders",
                         entry.taskID);
            continue;
        }
        log().notice("Undoing the %{public}@ of task %{public}@, which was cut short",
                     entry.kind == Entry::Kind::importArchive ? "import" : "export", entry.taskID);
        const Outcome outcome = undo(entry, journal, By::start);
        report.add(outcome);
        if (outcome.finished && forget(entry, journal)) {
            pending.resize(pending.size() - folders.size());
            continue;
        }
        report.finished = false;
        // A later step touches nothing but the backups of a finished import.
        if (entry.phase != Entry::Phase::discarding)
            claims.retain(std::move(std::get<ContainerClaims::Claim>(held)));
    }
    return report;
}

void TaskRecovery::report(const Outcome &outcome)
{
    if (outcome.isEmpty())
        return;
    for (const QString &folder : outcome.kept)
        log().error("The application data in %{public}@ could not be put back; it is left there",
                    folder);
    for (const QString &folder : outcome.waiting + outcome.undeleted)
        log().error("The application data in %{public}@ waits for a later start", folder);
    DispatchQueue::main()->async([spec = alert(outcome)] { AlertPresenter::shared()->run(spec); });
}

AlertSpec TaskRecovery::alert(const Outcome &outcome)
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    spec.messageText = outcome.kept.isEmpty()
                           ? loc("Some application data waits for the next start", "")
                           : loc("Some application data could not be put back", "");
    const QStringList sections{
        sectioned(loc("An export or import that stopped before its end left data that could "
                      "not all be put back. It stays, and no start changes it, in:",
                      ""),
                  outcome.kept),
        sectioned(loc("An export or import stopped before its end, and it could not be undone "
                      "yet. Until the next start of Corvane puts it back, its application data "
                      "is left as it is and the data it replaced is kept in:",
                      ""),
                  outcome.waiting),
        sectioned(loc("An import replaced data that could not be deleted yet. The next start of "
                      "Corvane deletes it from:",
                      ""),
                  outcome.undeleted)};
    QStringList shown;
    for (const QString &section : sections)
        if (!section.isEmpty())
            shown << section;
    spec.informativeText = shown.join("\n\n");
    return spec;
}

} // namespace corvane
