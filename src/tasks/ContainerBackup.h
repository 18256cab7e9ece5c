#pragma once

#include "platform/FileManager.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <vector>

namespace corvane {

// Empties containers so that it can be undone: what an erase removes is moved
// into a backup folder beside its container (on the same file system, so
// moving is renaming), at the same relative path. restore() puts it all back,
// discard() deletes it. A backup whose program was killed stays on disk.
class ContainerBackup : public FileManager {
public:
    // The backup of each container goes to ".<name>/<container folder>" in the
    // folder that holds the container.
    ContainerBackup(const QString &name, const std::vector<QUrl> &containers);

    // Moves the item into the backup; an item outside the containers is
    // refused. Throws std::filesystem::filesystem_error, with
    // no_such_file_or_directory when nothing is there.
    void removeItem(const QUrl &url) override;

    // Moves every item back, the last moved first, then deletes the backup
    // folders. Throws the first item that could not go back; what did not
    // stays in the backup.
    void restore();
    // Deletes the backup folders. Throws what cannot be deleted.
    void discard();

    // The backup folders that hold something.
    QStringList folders() const { return m_made; }

protected:
    virtual void move(const QString &from, const QString &to);

private:
    struct Folder {
        QString container;
        QString backup;
        QString root;
    };
    struct Moved {
        QString original;
        QString backup;
    };

    std::vector<Folder> m_folders;
    std::vector<Moved> m_moved;
    QStringList m_made;
};

} // namespace corvane
