#pragma once

#include "platform/files/FileManager.h"

#include <QString>
#include <QUrl>

#include <filesystem>
#include <vector>

namespace corvane {

// Empties containers so that it can be undone: what an erase removes is moved
// into a backup folder beside its container (on the same file system, so
// moving is renaming), at the same relative path. TaskRecovery puts it back.
class ContainerBackup : public FileManager {
public:
    struct Folder {
        std::filesystem::path container;
        std::filesystem::path backup;
    };

    // The backup of each container goes where the import task's journal
    // entry says (TaskJournal::backupFolder), beside the container.
    ContainerBackup(const QString &taskID, const std::vector<QUrl> &containers);

    // Moves the item into the backup; an item outside the containers is
    // refused. Throws std::filesystem::filesystem_error, with
    // no_such_file_or_directory when nothing is there.
    void removeItem(const std::filesystem::path &path) override;

    // Makes each backup folder, and the hidden folder that holds it, before
    // anything is moved: recovery empties a container only while its backup
    // is there as a real folder. Throws std::filesystem::filesystem_error,
    // also when something else is in the way.
    void makeFolders() const;

    const std::vector<Folder> &folders() const { return m_folders; }

protected:
    virtual void move(const std::filesystem::path &from, const std::filesystem::path &to);

private:
    std::vector<Folder> m_folders;
};

} // namespace corvane
