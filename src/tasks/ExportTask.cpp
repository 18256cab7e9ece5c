#include "tasks/ExportTask.h"

#include "model/Application.h"
#include "model/Container.h"
#include "platform/FileCoordinator.h"
#include "platform/Loc.h"
#include "tasks/ItemMoves.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

QString ExportTask::stagingPath(const QString &target) const
{
    return QFileInfo(target).path() + "/.export-" + taskIDString();
}

void ExportTask::run(const std::vector<std::shared_ptr<Container>> &containers, const QUrl &url)
{
    setLocalisedDetailDescription(loc("Gathering files for export…", ""));
    postDidUpdate();
    setUrl(url);
    application()->terminate();
    // Folders the user chose need no grant on this system.

    const std::vector<File> files = gather(containers);
    const QString target = QDir::cleanPath(url.toLocalFile());
    const QString staging = stagingPath(target);
    bool staged = false;
    try {
        if (isCancelled())
            throw Cancelled();
        fileCoordinator().coordinateWriting(url, false, [&](const QUrl &) {
            fs::create_directories(nativePath(QFileInfo(target).path()));
            if (::mkdir(nativePath(staging).c_str(), 0777) != 0)
                throw fs::filesystem_error("cannot create archive folder", nativePath(staging),
                                           std::error_code(errno, std::generic_category()));
            staged = true;
        });
        write(files, staging);
        fileCoordinator().coordinateWriting(url, false, [&](const QUrl &) {
            if (isCancelled())
                throw Cancelled();
            if (const std::error_code error = replaceItem(staging, target))
                log().error("Cannot remove the replaced archive beside %{public}@: %{public}@",
                            target, QString::fromStdString(error.message()));
            staged = false;
        });
    } catch (const std::exception &error) {
        if (staged) {
            std::error_code ignored;
            fs::remove_all(nativePath(staging), ignored);
        }
        finishFailed(loc("Data export cancelled.", ""), loc("Data export failed.", ""),
                     "Error exporting archive: %{PUBLIC}@", error);
        return;
    }
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

void ExportTask::write(const std::vector<File> &files, const QString &staging)
{
    setLocalisedDetailDescription(loc("Writing archive info…", ""));
    postDidUpdate();
    const QString infoPath = staging + '/' + infoFileName;
    fileCoordinator().coordinateWriting(QUrl::fromLocalFile(infoPath), false, [&](const QUrl &) {
        QSaveFile file(infoPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(encodeInfo(info())) < 0 ||
            !file.commit())
            throw std::runtime_error("Cannot write " + infoPath.toStdString() + ": " +
                                     file.errorString().toStdString());
    });

    for (const File &file : files) {
        if (isCancelled())
            throw Cancelled();
        setLocalisedDetailDescription(withEntryName(loc("Exporting %@…", ""), file));
        postDidUpdate();
        copyEntry(file, QUrl::fromLocalFile(staging + '/' + file.containerIdentifier + '/' +
                                            file.relativePath));
        addToCompletedCount();
        postDidUpdate();
    }
}

} // namespace corvane
