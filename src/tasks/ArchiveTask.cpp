#include "tasks/ArchiveTask.h"

#include "model/Application.h"
#include "model/Container.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/files/FileCoordinator.h"
#include "platform/Loc.h"
#include "platform/desktop/Workspace.h"
#include "tasks/ItemMoves.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <exception>
#include <string>
#include <string_view>

namespace corvane {

namespace fs = std::filesystem;

namespace {

const QStringList kExportedTopLevelNames{"Library", "Documents"};

constexpr FileCoordinator::ReadingOptions kGatherReading =
    FileCoordinator::withoutChanges | FileCoordinator::immediatelyAvailableMetadataOnly;

// Reads one item and writes another under one coordination. The two locks
// are taken in path order, so that two copies running opposite ways (an
// export into an archive while it is imported) cannot hold one each.
void coordinate(FileCoordinator &coordinator, const ItemLocation &reading,
                const ItemLocation &writing, const std::function<void()> &accessor)
{
    const std::string readingPath = reading.native();
    const std::string writingPath = writing.native();
    const auto write = [&](auto &&next) {
        coordinator.coordinateWritingPath(displayPath(writingPath), next);
    };
    const auto read = [&](auto &&next) {
        coordinator.coordinateReadingPath(displayPath(readingPath), next);
    };
    if (readingPath <= writingPath)
        read([&] { write(accessor); });
    else
        write([&] { read(accessor); });
}

} // namespace

ArchiveTask::ArchiveTask(std::shared_ptr<Application> application)
    : m_application(std::move(application)), m_created(QDateTime::currentDateTime()),
      m_journal(TaskJournal::current())
{
    setLocalizedDescription(m_application->descriptionText());
    // No update is posted: nobody can be observing a task being made.
}

std::optional<QUrl> ArchiveTask::url() const
{
    std::lock_guard lock(m_urlMutex);
    return m_url;
}

void ArchiveTask::setUrl(const QUrl &url)
{
    std::lock_guard lock(m_urlMutex);
    m_url = url;
}

const ArchiveTaskInfo &ArchiveTask::info() const
{
    std::call_once(m_infoOnce, [this] { m_info = makeInfo(*m_application, m_created); });
    return *m_info;
}

std::vector<std::shared_ptr<Container>> ArchiveTask::containersOf(Application &application)
{
    std::vector<std::shared_ptr<Container>> containers = application.groupContainers();
    if (auto data = application.dataContainer())
        containers.insert(containers.begin(), std::move(data));
    return containers;
}

FileCoordinator &ArchiveTask::fileCoordinator() const
{
    return FileCoordinator::shared(coordinatorPurpose);
}

Log ArchiveTask::log()
{
    return Log("archive");
}

void ArchiveTask::reveal()
{
    const auto archive = url();
    if (!canInspect() || !archive)
        return;
    Workspace::shared()->revealFile(QDir::cleanPath(archive->toLocalFile()));
}

void ArchiveTask::refuse(const QString &text)
{
    setLocalisedDetailDescription(text);
    postDidUpdate();
    setCancelled(true);
    postDidUpdate();
}

void ArchiveTask::refuseWhileBusy(const QString &title, const QString &advice)
{
    log().notice("Not starting on %{public}@: %{public}@", localizedDescription().value_or(""),
                 title);
    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    spec.messageText = title;
    spec.informativeText = advice;
    DispatchQueue::main()->async([spec] { AlertPresenter::shared()->run(spec); });
    refuse(title);
}

std::vector<File> ArchiveTask::gatherFiles(const QUrl &root, const ContainerFilter &containerFilter,
                                           const QString &progressText)
{
    std::vector<File> files;
    const QLocale locale;
    const auto accept = [&](const File &file) {
        const std::int64_t count = addToTotalCount();
        postDidUpdate();
        setLocalisedDetailDescription(
            QString(progressText).replace("%@", locale.toString(qlonglong(count))));
        postDidUpdate();
        files.push_back(file);
    };
    std::vector<fs::filesystem_error> problems;
    File::coordinator().coordinateReading(root, kGatherReading, [&](const QUrl &folder) {
        // What never enters an archive is never taken out of one either.
        problems = File::enumerateContents(
            folder, Container::skippedNames(), nullptr, kGatherReading,
            [&](const fs::path &path, const QUrl &url, bool isDirectory,
                const QDateTime &lastModified, std::optional<qint64> size, bool &stop) {
                containerFilter(path, url, isDirectory, lastModified, size, accept);
                stop = isCancelled();
            });
    });
    // A copy that silently lacks what could not be read would pass for whole.
    if (!problems.empty())
        throw problems.front();
    return files;
}

void ArchiveTask::copyEntry(const File &file, const fs::path &destination)
{
    const ItemLocation source = ItemLocation::below(file.path, file.nativeRelativePath);
    const ItemLocation target = ItemLocation::below(destination, file.nativeRelativePath);
    auto &coordinator = fileCoordinator();

    if (file.isDirectory) {
        coordinate(coordinator, source, target, [&] {
            const auto attributes = itemAttributes(source);
            if (target.makeDirectory(&m_openFolders))
                m_madeFolders.emplace_back(target, attributes);
        });
        return;
    }

    const ItemLocation sourceFolder = source.parent();
    const ItemLocation targetFolder = target.parent();
    // A folder that this copy went through is there already.
    if (!targetFolder.isKeptIn(m_openFolders))
        coordinate(coordinator, sourceFolder, targetFolder, [&] {
            // Mostly the folder is there already: its source is only read for one made here.
            if (!targetFolder.makeDirectory(&m_openFolders))
                return;
            try {
                m_madeFolders.emplace_back(targetFolder, itemAttributes(sourceFolder));
            } catch (const std::exception &) {
                // The folder keeps the default attributes then.
            }
        });
    coordinate(coordinator, source, target, [&] {
        switch (source.copyItem(target, &m_openFolders)) {
        case ItemLocation::Copy::copied: break;
        case ItemLocation::Copy::special:
            ++m_passedOver.specialFiles;
            log().notice("Not copying %{public}@: it is a socket, a pipe or a device",
                         displayPath(source.path()));
            break;
        case ItemLocation::Copy::missing:
            // Passed over only when really gone: an entry that is there but
            // cannot be reached by its name is a failure, not a vanished file.
            if (itemExists(source.path()))
                throw fs::filesystem_error(
                    "item changed while it was copied", source.path(),
                    std::make_error_code(std::errc::resource_unavailable_try_again));
            ++m_passedOver.vanishedFiles;
            log().notice("Not copying %{public}@: it vanished since it was gathered",
                         displayPath(source.path()));
            break;
        }
    });
}

QString ArchiveTask::withPassedOver(const QString &text) const
{
    const QLocale locale;
    QStringList clauses;
    if (const auto count = m_passedOver.specialFiles; count == 1)
        clauses << loc("1 special file was not copied", "");
    else if (count > 1)
        clauses
            << loc("%1 special files were not copied", "").arg(locale.toString(qlonglong(count)));
    if (const auto count = m_passedOver.vanishedFiles; count == 1)
        clauses << loc("1 file vanished while copying and was not copied", "");
    else if (count > 1)
        clauses << loc("%1 files vanished while copying and were not copied", "")
                       .arg(locale.toString(qlonglong(count)));
    if (clauses.isEmpty())
        return text;
    QString sentence = text;
    if (sentence.endsWith('.'))
        sentence.chop(1);
    return loc("%1; %2.", "").arg(sentence, clauses.join("; "));
}

void ArchiveTask::applyFolderAttributes()
{
    m_openFolders.clear();
    for (auto folder = m_madeFolders.rbegin(); folder != m_madeFolders.rend(); ++folder)
        folder->first.applyAttributes(folder->second);
    m_madeFolders.clear();
}

QString ArchiveTask::withEntryName(const QString &text, const File &file)
{
    // The last component, without asking the disk.
    std::string_view path = file.path.native();
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    if (path.empty()) {
        const QString clean = QDir::cleanPath(file.url.toLocalFile());
        return QString(text).replace("%@", clean.mid(clean.lastIndexOf('/') + 1));
    }
    const std::string name(path.substr(path.rfind('/') + 1));
    return QString(text).replace("%@", displayPath(name));
}

void ArchiveTask::finishCompleted(const QString &text)
{
    if (totalCount() < 1) {
        setTotalCount(1);
        setCompletedCount(1);
    }
    setFinished(true);
    const QString shown = withPassedOver(text);
    if (shown != text)
        log().notice("%{public}@: %{public}@", localizedDescription().value_or(""), shown);
    setLocalisedDetailDescription(shown);
    postDidUpdate();
    const auto archive = url();
    setCanInspect(archive && QFileInfo::exists(archive->toLocalFile()));
    postDidUpdate();
}

void ArchiveTask::finishFailed(const QString &cancelledText, const QString &failedText,
                               const char *logFormat, const std::exception &error)
{
    m_openFolders.clear();
    if (isCancelled()) {
        setLocalisedDetailDescription(cancelledText);
    } else {
        log().error(logFormat, QString::fromLocal8Bit(error.what()));
        setFailed(true);
        setLocalisedDetailDescription(failedText);
    }
    postDidUpdate();
}

ItemLocation::Attributes ArchiveTask::itemAttributes(const ItemLocation &location) const
{
    return location.attributes();
}

ArchiveTask::ContainerFilter ArchiveTask::containerEntries(const Container &container)
{
    return
        [base = container.url(), identifier = container.identifier()](
            const fs::path &path, const QUrl &url, bool isDirectory, const QDateTime &lastModified,
            std::optional<qint64> size, const File::Handler &accept) {
            if (File::isIncluded(url, base, identifier, kExportedTopLevelNames))
                File::visit(path, url, isDirectory, lastModified, size, base, identifier, accept);
        };
}

ArchiveTask::ContainerFilter ArchiveTask::archiveEntries(const QUrl &archive)
{
    return [archive](const fs::path &path, const QUrl &url, bool isDirectory,
                     const QDateTime &lastModified, std::optional<qint64> size,
                     const File::Handler &accept) {
        File::archiveContainerComponent(path, url, isDirectory, lastModified, size, archive,
                                        accept);
    };
}

} // namespace corvane
