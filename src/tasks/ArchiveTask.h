#pragma once

#include "core/File.h"
#include "platform/Log.h"
#include "tasks/ArchiveTaskInfo.h"
#include "tasks/ItemLocation.h"
#include "tasks/Task.h"
#include "tasks/TaskJournal.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

namespace corvane {

class Application;
class Container;
class FileCoordinator;

// What the export and the import of an application data archive share. An
// archive is a folder "….xcappdata" holding "AppDataInfo.plist", a folder
// "AppData" with the data container's entries and one folder per app group,
// named by the group, with that group container's entries.
class ArchiveTask : public Task {
public:
    static constexpr const char *infoFileName = "AppDataInfo.plist";
    // Local time, whole seconds: "2024-03-01 09:05.07".
    static constexpr const char *dateFormat = "yyyy-MM-dd HH:mm.ss";
    static constexpr const char *coordinatorPurpose = "com.quendrith.corvane.taskmanager.task";

    // Looks at one enumerated entry and hands the record of an entry it
    // accepts to `accept`.
    using ContainerFilter = std::function<void(
        const std::filesystem::path &path, const QUrl &url, bool isDirectory,
        const QDateTime &lastModified, std::optional<qint64> size, const File::Handler &accept)>;

    // The application has a bundle identifier: the model lists no
    // application without one.
    explicit ArchiveTask(std::shared_ptr<Application> application);

    // The archive folder; none until the body starts.
    std::optional<QUrl> url() const;
    void setUrl(const QUrl &url);
    const std::shared_ptr<Application> &application() const { return m_application; }
    // Describes the application as it is when first asked (its group
    // containers listed first, which runs the simulator tool, so tasks made on
    // the main thread ask on the task queue), dated when the task was made.
    const ArchiveTaskInfo &info() const;
    FileCoordinator &fileCoordinator() const;
    // Where the task notes what it would leave behind; the state folder in
    // force when the task was made.
    const TaskJournal &journal() const { return m_journal; }

    // The data container (when there is one) followed by the group
    // containers; lists them when needed, which runs the simulator tool.
    static std::vector<std::shared_ptr<Container>> containersOf(Application &application);

    static ArchiveTaskInfo makeInfo(Application &application,
                                    const QDateTime &now = QDateTime::currentDateTime());
    // A binary property list.
    static QByteArray encodeInfo(const ArchiveTaskInfo &info);
    // Binary or XML; unknown keys are ignored, "BNGroupIdentifiers" may be
    // missing. Throws ArchiveInfoError when another key is missing, a value
    // has the wrong type or the date does not parse.
    static ArchiveTaskInfo decodeInfo(const QByteArray &data);
    // Nothing when there is no readable file at the URL; a file that does not
    // decode is logged too.
    static std::optional<ArchiveTaskInfo> readInfo(const QUrl &url);
    // Same bundle identifier, and every group the description names is one of
    // the application's (listed first when needed).
    static bool isValid(const ArchiveTaskInfo &info, Application &application);
    static QString formatDate(const QDateTime &date);
    // Invalid when the text is no date in the pattern.
    static QDateTime parseDate(const QString &text);

    // Shows the archive folder selected in its parent folder, once there is
    // one to inspect.
    void reveal() override;

    // Ends the task before it has touched anything: the text says why, and
    // the task ends cancelled.
    void refuse(const QString &text);
    // Ends the task because another task holds one of its containers; the
    // row and an alert show `title` ("“Demo” is already being exported."),
    // the alert also `advice`.
    void refuseWhileBusy(const QString &title, const QString &advice);

    // Whether the body left its journal entry for the next start to finish:
    // its folders must stay as they are until then.
    bool leftEntryUnfinished() const { return m_leftEntry; }

    // Collects the entries below `root` that the filter accepts, in
    // enumeration order, leaving out ".DS_Store" and the container manager's
    // metadata file: each one adds to totalCount and shows the progress text
    // with "%@" replaced by that count; a cancel ends the walk. Throws when a
    // folder cannot be listed or an entry cannot be read: what is there is
    // never left out unnoticed.
    std::vector<File> gatherFiles(const QUrl &root, const ContainerFilter &containerFilter,
                                  const QString &progressText);
    // Copies one gathered entry to `destination` (the same relative path
    // below the destination's folder) under file coordination: a directory,
    // or a file after creating its folder. Nothing below the two folders is
    // followed when it is a link. A socket, pipe or device, and a file that
    // is no longer there since it was gathered, are passed over and counted.
    // Throws what fails. Folders made here stay writable until
    // applyFolderAttributes().
    virtual void copyEntry(const File &file, const std::filesystem::path &destination);

    // Gives the folders the copies made their sources' permission bits and
    // times, the deepest first, once everything that goes inside is there;
    // ends the copying.
    void applyFolderAttributes();

    // The entries of a container that an export takes: everything of a
    // group container, and what lies below "Library" and "Documents" in the
    // data container.
    static ContainerFilter containerEntries(const Container &container);
    // The entries of the container folders of an archive.
    static ContainerFilter archiveEntries(const QUrl &archive);

    static Log log();

protected:
    // Thrown by a body that sees the task cancelled.
    class Cancelled : public std::runtime_error {
    public:
        Cancelled() : std::runtime_error("cancelled") {}
    };

    // The attributes a copy gives the folders it creates.
    virtual ItemLocation::Attributes itemAttributes(const ItemLocation &location) const;

    // The text with "%@" replaced by the entry's name.
    static QString withEntryName(const QString &text, const File &file);
    // Ends a task that did its work: one that found nothing to do counts as
    // one unit done, so that it shows as finished. Shows the text with what
    // was passed over, then whether the archive is there to inspect.
    void finishCompleted(const QString &text);
    void setLeftEntryUnfinished() { m_leftEntry = true; }

    // Ends a task that stopped: the cancelled text when the user cancelled,
    // else the failed text with a log line. The counts stay as they are.
    void finishFailed(const QString &cancelledText, const QString &failedText,
                      const char *logFormat, const std::exception &error);

private:
    // What copyEntry() passed over.
    struct PassedOver {
        std::int64_t specialFiles = 0;
        std::int64_t vanishedFiles = 0;
    };
    // The text, then what was passed over, if anything: "Data import
    // completed; 1 special file was not copied."
    QString withPassedOver(const QString &text) const;

    const std::shared_ptr<Application> m_application;
    const QDateTime m_created;
    const TaskJournal m_journal;
    std::atomic<bool> m_leftEntry{false};
    // Folders the copies made, with the attributes they get at the end.
    std::vector<std::pair<ItemLocation, ItemLocation::Attributes>> m_madeFolders;
    // Written and read by the body's thread.
    PassedOver m_passedOver;
    // The folders the last copies went through, until the copying ends.
    ItemLocation::OpenFolders m_openFolders;
    mutable std::once_flag m_infoOnce;
    mutable std::optional<ArchiveTaskInfo> m_info;
    mutable std::mutex m_urlMutex;
    std::optional<QUrl> m_url;
};

} // namespace corvane
