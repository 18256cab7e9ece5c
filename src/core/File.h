#pragma once

#include "platform/files/FileCoordinator.h"
#include "platform/files/FileManager.h"

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
    // The entry's absolute path, and its path below the container folder, as
    // the file system spells them: names need not be UTF-8, and neither a URL
    // nor a QString gives such a name back byte for byte.
    std::filesystem::path path;
    std::filesystem::path nativeRelativePath;

    friend bool operator==(const File &, const File &) = default;

    static inline const QString dataContainerIdentifier = "AppData";

    // Receives an entry's path, its URL (a directory's ends in "/"), its
    // directory flag (a link to a directory is none), modification date, size,
    // and a flag that ends the enumeration when set.
    using EntryHandler =
        std::function<void(const std::filesystem::path &path, const QUrl &url, bool isDirectory,
                           const QDateTime &lastModified, std::optional<qint64> size, bool &stop)>;
    using Handler = std::function<void(const File &file)>;

    // The coordinator of every coordinated access to container files.
    static FileCoordinator &coordinator();

    // Walks the directory in pre-order, hidden entries included and links not
    // followed, reading each entry under a coordinated read and listing
    // folders through the file manager. Entries named in `skipNames` or
    // rejected by `predicate` are left out, and so are entries that vanished
    // since their folder was listed. An entry whose metadata cannot be read,
    // or a folder that cannot be listed, is passed over and the walk goes on;
    // their errors are returned (none for a missing root).
    static std::vector<std::filesystem::filesystem_error>
    enumerateContents(const QUrl &directory, const QStringList &skipNames,
                      const std::function<bool(const QUrl &)> &predicate,
                      FileCoordinator::ReadingOptions options, const EntryHandler &handler,
                      FileManager &fileManager = FileManager::defaultManager());

    // Hands the handler the record of an enumerated entry of a container.
    static void visit(const std::filesystem::path &path, const QUrl &url, bool isDirectory,
                      const QDateTime &lastModified, std::optional<qint64> size, const QUrl &base,
                      const QString &containerIdentifier, const Handler &handler);

    // Hands the handler the record of an entry below an archive folder
    // ("AppData/…" or "group.…/…"); skips the container folders themselves and
    // entries outside them.
    static void archiveContainerComponent(const std::filesystem::path &path, const QUrl &url,
                                          bool isDirectory, const QDateTime &lastModified,
                                          std::optional<qint64> size, const QUrl &base,
                                          const Handler &handler);

    // Whether an entry belongs to what a container's erase or export takes:
    // in the data container only what lies below the top-level names, in a
    // group container everything.
    static bool isIncluded(const QUrl &url, const QUrl &base, const QString &containerIdentifier,
                           const QStringList &topLevelNames);
};

// The path of a local file as the file system spells it, cleaned.
std::filesystem::path nativePath(const QString &path);
std::filesystem::path nativePath(const QUrl &url);
// Whether the path is the folder or lies below it, compared by whole
// components without looking at the disk.
bool isWithin(const std::filesystem::path &path, const std::filesystem::path &folder);
// A native path for people and logs (names that are not UTF-8 get
// replacement characters).
QString displayPath(const std::filesystem::path &path);

} // namespace corvane
