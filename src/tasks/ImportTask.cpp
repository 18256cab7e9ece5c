#include "tasks/ImportTask.h"

#include "model/Application.h"
#include "model/Container.h"
#include "platform/Loc.h"
#include "tasks/ContainerBackup.h"
#include "tasks/ItemMoves.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <filesystem>
#include <optional>

namespace corvane {

namespace fs = std::filesystem;

namespace {

// The first item on the way from the container folder to the destination
// that is not there yet: what a copy to the destination creates lies in it.
std::optional<QString> firstMissing(const QString &container, const QString &relativePath)
{
    QString path = container;
    if (!itemExists(path))
        return path;
    for (const QString &component : relativePath.split('/', Qt::SkipEmptyParts)) {
        path += '/' + component;
        if (!itemExists(path))
            return path;
    }
    return std::nullopt;
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
    return std::make_unique<ContainerBackup>("import-" + taskIDString(), urls);
}

void ImportTask::run(const QUrl &url)
{
    setLocalisedDetailDescription(loc("Opening archive…", ""));
    postDidUpdate();
    setUrl(url);
    application()->terminate();
    // Folders the user chose need no grant on this system.

    setLocalisedDetailDescription(loc("Validating archive…", ""));
    postDidUpdate();
    const QString archive = QDir::cleanPath(url.toLocalFile());
    const auto description = readInfo(QUrl::fromLocalFile(archive + '/' + infoFileName));
    if (!description || !isValid(*description, *application())) {
        setLocalisedDetailDescription(loc("Archive is not valid.", ""));
        postDidUpdate();
        setCancelled(true);
        postDidUpdate();
        return;
    }

    const std::vector<File> files =
        gatherFiles(url, archiveEntries(url), loc("Gathering files for import (%@)…", ""));
    const auto containers = containersOf(*application());
    const auto backup = makeBackup(containers);
    std::vector<QString> created;
    try {
        if (isCancelled())
            throw Cancelled();
        setLocalisedDetailDescription(loc("Resetting data containers…", ""));
        postDidUpdate();
        application()->resetContainers(*backup);
        copy(files, containers, created);
        if (isCancelled())
            throw Cancelled();
    } catch (const std::exception &error) {
        rollBack(*backup, created);
        finishFailed(loc("Data import cancelled.", ""), loc("Data import failed.", ""),
                     "Error importing archive: %{PUBLIC}@", error);
        return;
    }
    try {
        backup->discard();
    } catch (const std::exception &error) {
        log().error("Cannot remove the data the import replaced: %{public}@",
                    QString::fromLocal8Bit(error.what()));
    }
    finishCompleted(loc("Data import completed.", ""));
}

void ImportTask::copy(const std::vector<File> &files,
                      const std::vector<std::shared_ptr<Container>> &containers,
                      std::vector<QString> &created)
{
    for (const File &file : files) {
        if (isCancelled())
            throw Cancelled();
        const auto container =
            std::find_if(containers.begin(), containers.end(), [&](const auto &candidate) {
                return candidate->identifier() == file.containerIdentifier &&
                       (file.containerIdentifier == Container::dataContainerIdentifier ||
                        file.containerIdentifier.startsWith("group."));
            });
        if (container != containers.end()) {
            const QString folder = QDir::cleanPath((*container)->url().toLocalFile());
            setLocalisedDetailDescription(withEntryName(loc("Importing %@…", ""), file));
            postDidUpdate();
            if (auto missing = firstMissing(folder, file.relativePath))
                created.push_back(*missing);
            copyEntry(file, QUrl::fromLocalFile(folder + '/' + file.relativePath));
        }
        // An entry of a group the application lacks is passed over, and
        // counts as done so that the task can finish.
        addToCompletedCount();
        postDidUpdate();
    }
}

void ImportTask::rollBack(ContainerBackup &backup, const std::vector<QString> &created)
{
    for (auto path = created.rbegin(); path != created.rend(); ++path) {
        std::error_code error;
        fs::remove_all(nativePath(*path), error);
        if (error)
            log().error("Cannot remove %{public}@ after a failed import: %{public}@", *path,
                        QString::fromStdString(error.message()));
    }
    try {
        backup.restore();
    } catch (const std::exception &error) {
        log().error("Cannot put the application data back after a failed import, it is kept in "
                    "%{public}@: %{public}@",
                    backup.folders().join(", "), QString::fromLocal8Bit(error.what()));
    }
}

} // namespace corvane
