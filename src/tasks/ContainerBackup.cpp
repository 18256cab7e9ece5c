#include "tasks/ContainerBackup.h"

#include "tasks/ItemMoves.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <filesystem>
#include <optional>

namespace corvane {

namespace fs = std::filesystem;

ContainerBackup::ContainerBackup(const QString &name, const std::vector<QUrl> &containers)
{
    for (const QUrl &url : containers) {
        const QString container = QDir::cleanPath(url.toLocalFile());
        const QFileInfo info(container);
        const QString root = info.path() + "/." + name;
        m_folders.push_back({container, root + '/' + info.fileName(), root});
    }
}

void ContainerBackup::removeItem(const QUrl &url)
{
    const QString path = QDir::cleanPath(url.toLocalFile());
    const Folder *folder = nullptr;
    for (const Folder &candidate : m_folders)
        if (path.startsWith(candidate.container + '/'))
            folder = &candidate;
    if (!folder)
        throw fs::filesystem_error("not inside a container", nativePath(path),
                                   std::make_error_code(std::errc::invalid_argument));
    if (!itemExists(path))
        throw fs::filesystem_error("cannot remove", nativePath(path),
                                   std::error_code(errno, std::generic_category()));

    const QString backup = folder->backup + path.mid(folder->container.size());
    std::error_code error;
    fs::create_directories(nativePath(QFileInfo(backup).path()), error);
    if (error)
        throw fs::filesystem_error("cannot create backup folder", nativePath(backup), error);
    if (!m_made.contains(folder->root))
        m_made.append(folder->root);
    move(path, backup);
    m_moved.push_back({path, backup});
}

void ContainerBackup::restore()
{
    std::optional<fs::filesystem_error> first;
    std::vector<Moved> kept;
    for (auto moved = m_moved.rbegin(); moved != m_moved.rend(); ++moved) {
        try {
            move(moved->backup, moved->original);
        } catch (const fs::filesystem_error &error) {
            if (!first)
                first = error;
            kept.push_back(*moved);
        }
    }
    m_moved = std::move(kept);
    if (first)
        throw *first;
    discard();
}

void ContainerBackup::discard()
{
    for (const QString &root : m_made)
        fs::remove_all(nativePath(root));
    m_made.clear();
    m_moved.clear();
}

void ContainerBackup::move(const QString &from, const QString &to)
{
    moveItem(from, to);
}

} // namespace corvane
