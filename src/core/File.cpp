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

void File::enumerateContents(const QUrl &directory, const QStringList &skipNames,
                             const std::function<bool(const QUrl &)> &predicate,
                             FileCoordinator::ReadingOptions options, const EntryHandler &handler)
{
    std::error_code error;
    const fs::path root(QFile::encodeName(directory.toLocalFile()).toStdString());
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
    if (error)
        return;
    for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (error)
            return;
        const fs::path &path = it->path();
        const QString name = QFile::decodeName(QByteArray::fromStdString(path.filename()));
        if (skipNames.contains(name))
            continue;

        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0)
            continue;
        const bool isDirectory = S_ISDIR(info.st_mode);
        const QUrl url = entryUrl(path, isDirectory);
        if (predicate && !predicate(url))
            continue;

        bool readable = false;
        QDateTime modified;
        std::optional<qint64> size;
        try {
            coordinator().coordinateReading(url, options, [&](const QUrl &) {
                struct stat current {};
                if (::lstat(path.c_str(), &current) != 0 || S_ISDIR(current.st_mode) != isDirectory)
                    return;
                modified = QDateTime::fromMSecsSinceEpoch(qint64(current.st_mtim.tv_sec) * 1000 +
                                                              current.st_mtim.tv_nsec / 1000000,
                                                          Qt::UTC);
                if (S_ISREG(current.st_mode))
                    size = qint64(current.st_size);
                readable = true;
            });
        } catch (const FileCoordinationError &) {
            continue;
        }
        if (!readable || !modified.isValid())
            continue;

        bool stop = false;
        handler(url, isDirectory, modified, size, stop);
        if (stop)
            return;
    }
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
