#include "tasks/ImportTask.h"

#include "model/Application.h"
#include "model/Container.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "tasks/ContainerBackup.h"
#include "tasks/ItemMoves.h"
#include "tasks/TaskRecovery.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <stdexcept>

namespace corvane {

namespace fs = std::filesystem;

namespace {

// The first item on the way from the container folder to a destination that
// is not there yet: what a copy to the destination creates lies in it.
// Entries come folder by folder, so the last folder's answer is kept: one
// look per entry instead of one per component.
class FirstMissing {
public:
    std::optional<fs::path> operator()(const fs::path &container, const fs::path &relative)
    {
        fs::path destination = container / relative;
        if (!destination.has_filename())
            destination = destination.parent_path();
        if (destination.native() == container.native())
            return itemExists(container) ? std::nullopt : std::optional(container);
        const fs::path folder = destination.parent_path();
        if (folder.native() != m_folder.native() || container.native() != m_container.native()) {
            m_container = container;
            m_folder = folder;
            m_missing = onTheWay(container, folder.lexically_relative(container));
        }
        if (m_missing)
            return m_missing;
        return itemExists(destination) ? std::nullopt : std::optional(destination);
    }

private:
    static std::optional<fs::path> onTheWay(const fs::path &container, const fs::path &relative)
    {
        // Mostly the folder is there (a folder is copied before what it holds).
        if (itemExists(container / relative))
            return std::nullopt;
        fs::path path = container;
        if (!itemExists(path))
            return path;
        for (const fs::path &component : relative) {
            if (component.empty() || component == ".")
                continue;
            path /= component;
            if (!itemExists(path))
                return path;
        }
        return std::nullopt;
    }

    fs::path m_container;
    fs::path m_folder;
    std::optional<fs::path> m_missing;
};

// The container an archive entry goes to, if the application has it.
std::shared_ptr<Container> containerFor(const File &file,
                                        const std::vector<std::shared_ptr<Container>> &containers)
{
    const auto container =
        std::find_if(containers.begin(), containers.end(), [&](const auto &candidate) {
            return candidate->identifier() == file.containerIdentifier &&
                   (file.containerIdentifier == Container::dataContainerIdentifier ||
                    file.containerIdentifier.startsWith("group."));
        });
    return container == containers.end() ? nullptr : *container;
}

// What copying the files makes outside what the reset's erase removes: the
// first missing item on the way to each destination. The reset changes
// none of it, so it is known before anything is touched, and a roll-back
// finds the rest by the erase's own rule.
std::vector<fs::path> madeBeyondTheReset(const std::vector<File> &files,
                                         const std::vector<std::shared_ptr<Container>> &containers)
{
    std::vector<fs::path> made;
    std::set<fs::path> noted;
    FirstMissing firstMissing;
    fs::path judged;
    std::shared_ptr<Container> last;
    fs::path folder;
    for (const File &file : files) {
        const auto container = containerFor(file, containers);
        if (!container)
            continue;
        if (container != last) {
            folder = nativePath(container->url());
            last = container;
        }
        const auto missing = firstMissing(folder, file.nativeRelativePath);
        // The entries of a missing folder all lead to it: it is judged once.
        if (!missing || missing->native() == judged.native())
            continue;
        judged = *missing;
        const fs::path relative = missing->lexically_relative(folder);
        const bool isFolder = file.isDirectory || relative != file.nativeRelativePath;
        if (*missing != folder && Container::erases(file.containerIdentifier,
                                                    displayPath(relative) + (isFolder ? "/" : "")))
            continue;
        bool inNoted = false;
        for (fs::path path = *missing; !inNoted; path = path.parent_path()) {
            inNoted = noted.count(path) > 0;
            if (path == folder || !path.has_relative_path())
                break;
        }
        if (!inNoted) {
            noted.insert(*missing);
            made.push_back(*missing);
        }
    }
    return made;
}

// Whether every container folder at the archive's top is a real folder: one
// that is a link (or a file) would be passed over by the gathering, which
// follows no link, and the reset would empty its container for nothing.
bool containerFoldersAreReal(const fs::path &archive)
{
    std::error_code error;
    for (fs::directory_iterator it(archive, error), end; !error && it != end; it.increment(error)) {
        const QString name = displayPath(it->path().filename());
        if ((name == File::dataContainerIdentifier || name.startsWith("group.")) &&
            !isRealDirectory(it->path())) {
            ArchiveTask::log().error("The archive %{public}@ holds %{public}@, which is no folder",
                                     displayPath(archive), name);
            return false;
        }
    }
    return !error;
}

// The first container that is no real folder reached from the devices folder
// through real folders, as recovery requires of what it changes.
std::optional<fs::path> linkedContainer(const std::vector<std::shared_ptr<Container>> &containers,
                                        const fs::path &devicesRoot)
{
    for (const auto &container : containers) {
        const fs::path folder = nativePath(container->url());
        if (!isPlainContainerFolder(folder, devicesRoot))
            return folder;
    }
    return std::nullopt;
}

AlertSpec linkedContainerAlert(const QString &folder)
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    spec.messageText = loc("The application's data is reached through a link", "");
    spec.informativeText =
        loc("“%1” is a link, or lies in a folder that is one, so replacing the data would change "
            "the files it leads to. Nothing was changed.",
            "")
            .arg(folder);
    return spec;
}

} // namespace

ImportTask::ImportTask(std::shared_ptr<Application> application)
    : ArchiveTask(std::move(application))
{
    setLocalisedDetailDescription(loc("Waiting to Start…", ""));
}

std::unique_ptr<ContainerBackup>
ImportTask::makeBackup(const std::vector<std::shared_ptr<Container>> &containers) const
{
    std::vector<QUrl> urls;
    for (const auto &container : containers)
        urls.push_back(container->url());
    return std::make_unique<ContainerBackup>(taskIDString(), urls);
}

std::optional<fs::path>
ImportTask::containerHolding(const fs::path &archive,
                             const std::vector<std::shared_ptr<Container>> &containers)
{
    // Compared as the disk resolves them, so that a link to either counts.
    // What cannot be resolved (a loop of links, a folder that cannot be
    // searched) might lie anywhere: it is not taken as lying elsewhere.
    const auto resolve = [](const fs::path &path) -> std::optional<fs::path> {
        std::error_code error;
        fs::path resolved = fs::weakly_canonical(path, error);
        if (!error && !resolved.empty())
            return resolved;
        log().error("Cannot tell where %{public}@ lies: %{public}@", displayPath(path),
                    QString::fromStdString(error.message()));
        return std::nullopt;
    };
    const auto resolved = resolve(archive);
    for (const auto &container : containers) {
        const fs::path given = nativePath(container->url());
        const auto folder = resolve(given);
        if (!resolved || !folder)
            return given;
        if (isWithin(*resolved, *folder) || isWithin(*folder, *resolved))
            return folder;
    }
    return std::nullopt;
}

AlertSpec ImportTask::archiveInsideAlert(const QString &archiveName)
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    spec.messageText = loc("The archive lies inside the application's data", "");
    spec.informativeText =
        loc("Replacing the data would empty the folder that holds “%1”. Move the archive "
            "elsewhere, then replace the data from there.",
            "")
            .arg(archiveName);
    return spec;
}

void ImportTask::run(const std::vector<std::shared_ptr<Container>> &containers, const QUrl &url)
{
    setLocalisedDetailDescription(loc("Opening archive…", ""));
    postDidUpdate();
    setUrl(url);
    // Folders the user chose need no grant on this system.

    // A refused archive leaves the application running.
    setLocalisedDetailDescription(loc("Validating archive…", ""));
    postDidUpdate();
    const fs::path archive = nativePath(url);
    const auto description = readInfo(QUrl::fromLocalFile(displayPath(archive / infoFileName)));
    if (!description || !isValid(*description, *application()) || !containerFoldersAreReal(archive))
        return refuse(loc("Archive is not valid.", ""));
    if (const auto holder = containerHolding(archive, containers)) {
        log().error("Refusing to import %{public}@: it may lie in %{public}@, which the import "
                    "empties",
                    displayPath(archive), displayPath(*holder));
        DispatchQueue::main()->async([spec = archiveInsideAlert(displayPath(archive.filename()))] {
            AlertPresenter::shared()->run(spec);
        });
        return refuse(loc("The archive lies inside the application's data.", ""));
    }
    // The reset and the copies go through the containers' paths: a link
    // there would have them empty and fill whatever it leads to.
    if (const auto linked = linkedContainer(containers, journal().devicesRoot())) {
        log().error(
            "Refusing to import into %{public}@: it is not a folder reached from %{public}@ "
            "through folders only",
            displayPath(*linked), displayPath(journal().devicesRoot()));
        DispatchQueue::main()->async([spec = linkedContainerAlert(displayPath(*linked))] {
            AlertPresenter::shared()->run(spec);
        });
        return refuse(loc("The application's data is reached through a link.", ""));
    }
    application()->terminate();

    const auto backup = makeBackup(containers);
    TaskJournal::Entry entry;
    entry.kind = TaskJournal::Entry::Kind::importArchive;
    entry.taskID = taskIDString();
    entry.archive = archive;
    for (size_t i = 0; i < containers.size(); ++i)
        entry.containers.push_back({containers[i]->identifier(), backup->folders()[i].container,
                                    backup->folders()[i].backup});
    bool journaled = false;
    try {
        const std::vector<File> files =
            gatherFiles(url, archiveEntries(url), loc("Gathering files for import (%@)…", ""));
        if (isCancelled())
            throw Cancelled();
        // Noted before anything is moved or made, so that a start after a
        // kill finds it; an entry that cannot be noted fails the import here.
        entry.created = madeBeyondTheReset(files, containers);
        journal().write(entry);
        journaled = true;
        backup->makeFolders();
        setLocalisedDetailDescription(loc("Resetting data containers…", ""));
        postDidUpdate();
        application()->resetContainers(*backup);
        syncContainers(containers);
        journal().writePhase(entry, TaskJournal::Entry::Phase::copying);
        copy(files, containers);
        applyFolderAttributes();
        if (isCancelled())
            throw Cancelled();
        // Until the import is noted as done, a cancel still puts everything
        // back, also while the copies are written out, which can take long.
        setLocalisedDetailDescription(loc("Saving the imported data…", ""));
        postDidUpdate();
        syncContainers(containers);
        if (isCancelled())
            throw Cancelled();
    } catch (const std::exception &error) {
        const QString later = journaled ? rollBack(entry) : QString();
        finishFailed(withNextStart(loc("Data import cancelled.", ""), later),
                     withNextStart(loc("Data import failed.", ""), later),
                     "Error importing archive: %{PUBLIC}@", error);
        return;
    }

    if (!discardBackups(entry)) {
        // The journal still says copying, so the next start puts the old data
        // back: the import must not be reported as done.
        finishFailed(loc("Data import cancelled.", ""),
                     withNextStart(loc("Data import failed.", ""), undoneAtNextStart()),
                     "Error importing archive: %{PUBLIC}@",
                     std::runtime_error("its completion cannot be noted"));
        return;
    }
    finishCompleted(loc("Data import completed.", ""));
}

QString ImportTask::undoneAtNextStart()
{
    return loc("The next start of Corvane removes what it copied in and puts back the data it "
               "replaced.",
               "");
}

QString ImportTask::withNextStart(const QString &text, const QString &later)
{
    return later.isEmpty() ? text : text + ' ' + later;
}

void ImportTask::syncContainers(const std::vector<std::shared_ptr<Container>> &containers)
{
    for (const auto &container : containers)
        syncFileSystemOf(nativePath(container->url()).parent_path());
}

bool ImportTask::discardBackups(TaskJournal::Entry &entry)
{
    using Phase = TaskJournal::Entry::Phase;
    // No longer stopped by a cancel: the import is as good as done.
    setLocalisedDetailDescription(loc("Finishing the import…", ""));
    postDidUpdate();
    // From here on a start after a kill finishes the import instead. Without
    // an entry there is nothing to finish or undo either; with a note beside
    // the backups that the task ended, no start undoes it.
    bool noted = true, removed = false, marked = false;
    try {
        journal().writePhase(entry, Phase::discarding);
    } catch (const std::exception &error) {
        log().error("%{public}@", QString::fromLocal8Bit(error.what()));
        noted = false;
        removed = journal().remove(entry.taskID);
        marked = !removed && journal().markEnded(entry);
    }
    if (!noted && !removed && !marked) {
        // The journal still says the import is copying, and a later start puts
        // these backups back: deleting them now would leave it nothing to put.
        log().error("Cannot note that the import of task %{public}@ is complete; the data it "
                    "replaced stays where it is",
                    entry.taskID);
        leaveEntry(TaskRecovery::Outcome{{}, backupsOf(entry), {}, false});
        return false;
    }
    TaskJournal::Entry finished = entry;
    finished.phase = Phase::discarding;
    auto outcome = TaskRecovery::undo(finished, journal());
    if (noted) {
        if (outcome.finished && TaskRecovery::forget(finished, journal()))
            TaskRecovery::report(outcome);
        else
            leaveEntry(outcome, Phase::discarding);
        return true;
    }
    // No entry says to delete what could not be deleted now: it stays for good.
    outcome.kept << std::exchange(outcome.undeleted, {});
    if (marked)
        leaveEntry(outcome);
    else
        TaskRecovery::report(outcome);
    return true;
}

QStringList ImportTask::backupsOf(const TaskJournal::Entry &entry)
{
    QStringList backups;
    for (const auto &container : entry.containers)
        if (itemExists(container.backup))
            backups << displayPath(container.backup);
    return backups;
}

void ImportTask::leaveEntry(const TaskRecovery::Outcome &outcome, TaskJournal::Entry::Phase phase)
{
    // A later step of a finished import touches nothing but its backups.
    if (phase != TaskJournal::Entry::Phase::discarding)
        setLeftEntryUnfinished();
    TaskRecovery::report(outcome);
}

void ImportTask::copy(const std::vector<File> &files,
                      const std::vector<std::shared_ptr<Container>> &containers)
{
    const QString importing = loc("Importing %@…", "");
    std::shared_ptr<Container> last;
    fs::path folder;
    for (const File &file : files) {
        if (isCancelled())
            throw Cancelled();
        if (const auto container = containerFor(file, containers)) {
            if (container != last) {
                folder = nativePath(container->url());
                last = container;
            }
            setLocalisedDetailDescription(withEntryName(importing, file));
            postDidUpdate();
            copyEntry(file, folder / file.nativeRelativePath);
        }
        // An entry of a group the application lacks is passed over, and
        // counts as done so that the task can finish.
        addToCompletedCount();
        postDidUpdate();
    }
}

QString ImportTask::rollBack(TaskJournal::Entry &entry)
{
    setLocalisedDetailDescription(loc("Putting back the replaced data…", ""));
    postDidUpdate();
    const auto outcome = TaskRecovery::undo(entry, journal());
    if (outcome.finished && TaskRecovery::forget(entry, journal())) {
        TaskRecovery::report(outcome);
        return {};
    }
    // What is not finished is left to the next start.
    leaveEntry(outcome, entry.phase);
    return outcome.waiting.isEmpty() ? QString() : undoneAtNextStart();
}

} // namespace corvane
