#include "tasks/ContainerBackup.h"

#include "core/File.h"
#include "tasks/ItemMoves.h"
#include "tasks/TaskJournal.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

namespace corvane {

namespace fs = std::filesystem;

ContainerBackup::ContainerBackup(const QString &taskID, const std::vector<QUrl> &containers)
{
    for (const QUrl &url : containers) {
        const fs::path container = nativePath(url);
        m_folders.push_back({container, TaskJournal::backupFolder(container, taskID)});
    }
}

void ContainerBackup::makeFolders() const
{
    for (const Folder &folder : m_folders) {
        const fs::path hidden = folder.backup.parent_path();
        std::error_code error;
        fs::create_directories(hidden.parent_path(), error);
        if (error)
            throw fs::filesystem_error("cannot create folder", hidden.parent_path(), error);
        for (const fs::path &path : {hidden, folder.backup}) {
            if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
                throw fs::filesystem_error("cannot create backup folder", path,
                                           std::error_code(errno, std::generic_category()));
            if (!isRealDirectory(path))
                throw fs::filesystem_error("cannot create backup folder", path,
                                           std::make_error_code(std::errc::file_exists));
        }
    }
}

void ContainerBackup::removeItem(const fs::path &path)
{
    const Folder *folder = nullptr;
    fs::path relative;
    for (const Folder &candidate : m_folders) {
        if (path != candidate.container && isWithin(path, candidate.container)) {
            folder = &candidate;
            relative = path.lexically_relative(candidate.container);
        }
    }
    if (!folder)
        throw fs::filesystem_error("not inside a container", path,
                                   std::make_error_code(std::errc::invalid_argument));
    if (!itemExists(path))
        throw fs::filesystem_error("cannot remove", path,
                                   std::error_code(errno, std::generic_category()));

    const fs::path backup = folder->backup / relative;
    std::error_code error;
    fs::create_directories(backup.parent_path(), error);
    if (error)
        throw fs::filesystem_error("cannot create backup folder", backup, error);
    move(path, backup);
}

void ContainerBackup::move(const fs::path &from, const fs::path &to)
{
    moveItem(from, to);
}

} // namespace corvane
