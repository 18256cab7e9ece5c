#include "core/File.h"

#include "core/UrlHelpers.h"

#include <QFile>

#include <filesystem>
#include <sys/stat.h>

namespace corvane {

namespace fs = std::filesystem;

namespace {

QUrl entryUrl(const fs::path &path, bool isDirectory)
{
    QString text = QFile::decodeName(QByteArray::fromStdString(path.lexically_normal().native()));
    if (isDirectory && !text.endsWith('/'))
        text += '/';
    return QUrl::fromLocalFile(text);
}

QString pathOrPlain(const QUrl &url, const QUrl &base)
{
    if (auto relative = corvane::relativePath(url, base))
        return *relative;
    return url.toLocalFile();
}

} // namespace

FileCoordinator &File::coordinator()
{
    return FileCoordinator::shared(FileCoordinators::file);
}

std::vector<fs::filesystem_error>
File::enumerateContents(const QUrl &directory, const QStringList &skipNames,
                        const std::function<bool(const QUrl &)> &predicate,
                        FileCoordinator::ReadingOptions options, const EntryHandler &handler,
                        FileManager &fileManager)
{
    std::vector<fs::filesystem_error> unlisted;
    // Each level holds a folder's entries and the next one to visit, so that
    // a folder's contents come right after it and before its next sibling.
    struct Level {
        std::vector<fs::path> entries;
        std::size_t next = 0;
    };
    std::vector<Level> levels;
    const auto descend = [&](const fs::path &folder) {
        try {
            levels.push_back({fileManager.contentsOfDirectory(folder)});
        } catch (const fs::filesystem_error &error) {
            if (error.code() != std::errc::no_such_file_or_directory)
                unlisted.push_back(error);
        }
    };
    descend(fs::path(QFile::encodeName(directory.toLocalFile()).toStdString()));

    while (!levels.empty()) {
        Level &level = levels.back();
        if (level.next == level.entries.size()) {
            levels.pop_back();
            continue;
        }
        const fs::path path = level.entries[level.next++];
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            continue;
        const bool isDirectory = S_ISDIR(info.st_mode);
        const QString name = QFile::decodeName(QByteArray::fromStdString(path.filename()));
        const QUrl url = entryUrl(path, isDirectory);
        if (!skipNames.contains(name) && (!predicate || predicate(url))) {
            bool readable = false;
            QDateTime modified;
            std::optional<qint64> size;
            try {
                coordinator().coordinateReading(url, options, [&](const QUrl &) {
                    struct stat current {};
                    if (::lstat(path.c_str(), &current) != 0 ||
                        S_ISDIR(current.st_mode) != isDirectory)
                        return;
                    modified = QDateTime::fromMSecsSinceEpoch(
                        qint64(current.st_mtim.tv_sec) * 1000 + current.st_mtim.tv_nsec / 1000000,
                        Qt::UTC);
                    if (S_ISREG(current.st_mode))
                        size = qint64(current.st_size);
                    readable = true;
                });
            } catch (const FileCoordinationError &) {
                readable = false;
            }
            if (readable && modified.isValid()) {
                bool stop = false;
                handler(url, isDirectory, modified, size, stop);
                if (stop)
                    return unlisted;
            }
        }
        if (isDirectory)
            descend(path);
    }
    return unlisted;
}

void File::visit(const QUrl &url, bool isDirectory, const QDateTime &lastModified,
                 std::optional<qint64> size, const QUrl &base, const QString &containerIdentifier,
                 const Handler &handler)
{
    handler(
        File{url, pathOrPlain(url, base), containerIdentifier, isDirectory, lastModified, size});
}

void File::archiveContainerComponent(const QUrl &url, bool isDirectory,
                                     const QDateTime &lastModified, std::optional<qint64> size,
                                     const QUrl &base, const Handler &handler)
{
    const auto relative = corvane::relativePath(url, base);
    if (!relative)
        return;
    const QStringList components = relative->split('/', Qt::SkipEmptyParts);
    const auto container = std::find_if(components.begin(), components.end(), [](const QString &c) {
        return c == dataContainerIdentifier || c.startsWith("group.");
    });
    if (container == components.end() || container + 1 == components.end())
        return;
    QString path = QStringList(container + 1, components.end()).join('/');
    if (isDirectory)
        path += '/';
    handler(File{url.adjusted(QUrl::NormalizePathSegments), path, *container, isDirectory,
                 lastModified, size});
}

bool File::isIncluded(const QUrl &url, const QUrl &base, const QString &containerIdentifier,
                      const QStringList &topLevelNames)
{
    if (containerIdentifier != dataContainerIdentifier)
        return true;
    const QStringList components = pathOrPlain(url, base).split('/', Qt::SkipEmptyParts);
    return components.isEmpty() || topLevelNames.contains(components.first());
}

} // namespace corvane
