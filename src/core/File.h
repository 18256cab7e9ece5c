#pragma once

#include "platform/FileCoordinator.h"
#include "platform/FileManager.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace corvane {

// One file or directory inside an application's container, or inside the
// container folders of a data archive. Relative paths never begin with "/",
// and a directory's ends in "/".
struct File {
    QUrl url;
    QString relativePath;
    // "AppData" for the data container, "group.…" for a group container.
    QString containerIdentifier;
    bool isDirectory = false;
    QDateTime lastModified;
    // Regular files only.
    std::optional<qint64> size;

    friend bool operator==(const File &, const File &) = default;

    static inline const QString dataContainerIdentifier = "AppData";

    // Receives an entry's URL (a directory's ends in "/"), its directory flag
    // (a link to a directory is none), modification date, size, and a flag
    // that ends the enumeration when set.
    using EntryHandler =
        std::function<void(const QUrl &url, bool isDirectory, const QDateTime &lastModified,
                           std::optional<qint64> size, bool &stop)>;
    using Handler = std::function<void(const File &file)>;

    // The coordinator of every coordinated access to container files.
    static FileCoordinator &coordinator();

    // Walks the directory in pre-order, hidden entries included and links not
    // followed, reading each entry under a coordinated read and listing
    // folders through the file manager. Entries named in `skipNames`,
    // rejected by `predicate` or whose metadata cannot be read are left out;
    // a folder that cannot be listed is passed over and the walk goes on.
    // Returns the listing errors of such folders (none for a missing root).
    static std::vector<std::filesystem::filesystem_error>
    enumerateContents(const QUrl &directory, const QStringList &skipNames,
                      const std::function<bool(const QUrl &)> &predicate,
                      FileCoordinator::ReadingOptions options, const EntryHandler &handler,
                      FileManager &fileManager = FileManager::defaultManager());

    // Hands the handler the record of an enumerated entry of a container.
    static void visit(const QUrl &url, bool isDirectory, const QDateTime &lastModified,
                      std::optional<qint64> size, const QUrl &base,
                      const QString &containerIdentifier, const Handler &handler);

    // Hands the handler the record of an entry below an archive folder
    // ("AppData/…" or "group.…/…"); skips the container folders themselves and
    // entries outside them.
    static void archiveContainerComponent(const QUrl &url, bool isDirectory,
                                          const QDateTime &lastModified, std::optional<qint64> size,
                                          const QUrl &base, const Handler &handler);

    // Whether an entry belongs to what a container's erase or export takes:
    // in the data container only what lies below the top-level names, in a
    // group container everything.
    static bool isIncluded(const QUrl &url, const QUrl &base, const QString &containerIdentifier,
                           const QStringList &topLevelNames);
};

} // namespace corvane
