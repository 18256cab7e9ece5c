#include "core/File.h"

#include "core/UrlHelpers.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include <filesystem>
#include <sys/stat.h>

namespace corvane {

namespace fs = std::filesystem;

namespace {

bool isPlainRelative(std::string_view text);

QUrl entryUrl(const fs::path &path, bool isDirectory)
{
    // A listed entry's path is mostly plain already.
    const std::string &native = path.native();
    const bool plain = native.size() > 1 && native.front() == '/' &&
                       isPlainRelative(std::string_view(native).substr(1));
    QString text = displayPath(plain ? path : path.lexically_normal());
    if (isDirectory && !text.endsWith('/'))
        text += '/';
    return QUrl::fromLocalFile(text);
}

fs::filesystem_error problem(const char *what, const fs::path &path, int error)
{
    return fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

QString pathOrPlain(const QUrl &url, const QUrl &base)
{
    if (auto relative = corvane::relativePath(url, base))
        return *relative;
    return url.toLocalFile();
}

// The folder of a base URL: the entries of one walk share it, so the last
// one is kept.
const fs::path &folderOf(const QUrl &base)
{
    thread_local QUrl lastBase;
    thread_local fs::path lastFolder;
    if (base != lastBase || lastFolder.empty()) {
        lastFolder = nativePath(base);
        lastBase = base;
    }
    return lastFolder;
}

// Whether the text is one or more plain names joined by "/".
bool isPlainRelative(std::string_view text)
{
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find('/', start), text.size());
        const std::string_view name = text.substr(start, end - start);
        if (name.empty() || name == "." || name == "..")
            return false;
        start = end + 1;
    }
    return true;
}

// `path` as lexically_relative() makes it from `folder`; a plain path that
// begins with the folder is cut without taking both apart.
fs::path relativeTo(const fs::path &path, const fs::path &folder)
{
    const std::string &whole = path.native();
    const std::string &start = folder.native();
    if (start.size() > 1 && start.back() != '/' && whole.size() > start.size() + 1 &&
        whole.compare(0, start.size(), start) == 0 && whole[start.size()] == '/' &&
        isPlainRelative(std::string_view(whole).substr(start.size() + 1)))
        return whole.substr(start.size() + 1);
    return path.lexically_relative(folder);
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
    std::vector<fs::filesystem_error> problems;
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
                problems.push_back(error);
        }
    };
    descend(nativePath(directory));

    while (!levels.empty()) {
        Level &level = levels.back();
        if (level.next == level.entries.size()) {
            levels.pop_back();
            continue;
        }
        const fs::path path = level.entries[level.next++];
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            // Gone since its folder was listed: nothing to miss.
            if (errno != ENOENT)
                problems.push_back(problem("cannot read attributes", path, errno));
            continue;
        }
        const bool isDirectory = S_ISDIR(info.st_mode);
        const QString name = displayPath(path.filename());
        const QUrl url = entryUrl(path, isDirectory);
        if (!skipNames.contains(name) && (!predicate || predicate(url))) {
            int error = 0;
            QDateTime modified;
            std::optional<qint64> size;
            try {
                coordinator().coordinateReading(url, options, [&](const QUrl &) {
                    struct stat current {};
                    if (::lstat(path.c_str(), &current) != 0)
                        error = errno;
                    else if (S_ISDIR(current.st_mode) != isDirectory)
                        error = EAGAIN;
                    modified = QDateTime::fromMSecsSinceEpoch(
                        qint64(current.st_mtim.tv_sec) * 1000 + current.st_mtim.tv_nsec / 1000000,
                        Qt::UTC);
                    if (S_ISREG(current.st_mode))
                        size = qint64(current.st_size);
                });
            } catch (const FileCoordinationError &) {
                error = EBUSY;
            }
            if (error == 0) {
                bool stop = false;
                handler(path, url, isDirectory, modified, size, stop);
                if (stop)
                    return problems;
            } else if (error != ENOENT) {
                problems.push_back(problem("cannot read entry", path, error));
            }
        }
        if (isDirectory)
            descend(path);
    }
    return problems;
}

void File::visit(const fs::path &path, const QUrl &url, bool isDirectory,
                 const QDateTime &lastModified, std::optional<qint64> size, const QUrl &base,
                 const QString &containerIdentifier, const Handler &handler)
{
    handler(File{url, pathOrPlain(url, base), containerIdentifier, isDirectory, lastModified, size,
                 path, relativeTo(path, folderOf(base))});
}

void File::archiveContainerComponent(const fs::path &path, const QUrl &url, bool isDirectory,
                                     const QDateTime &lastModified, std::optional<qint64> size,
                                     const QUrl &base, const Handler &handler)
{
    const fs::path below = relativeTo(path, folderOf(base));
    if (below.empty() || *below.begin() == "..")
        return;
    // The container's name is plain text; what follows it keeps its bytes.
    fs::path relative;
    QString container;
    // Mostly the container is the first of plain names.
    if (const std::string &text = below.native(); isPlainRelative(text)) {
        const size_t slash = text.find('/');
        const QString name = displayPath(text.substr(0, slash));
        if ((name == dataContainerIdentifier || name.startsWith("group.")) &&
            slash != std::string::npos) {
            QString shown = displayPath(text.substr(slash + 1));
            if (isDirectory)
                shown += '/';
            handler(File{url.adjusted(QUrl::NormalizePathSegments), shown, name, isDirectory,
                         lastModified, size, path, text.substr(slash + 1)});
            return;
        }
    }
    for (const fs::path &component : below) {
        if (!container.isEmpty()) {
            relative /= component;
            continue;
        }
        const QString name = displayPath(component);
        if (name == dataContainerIdentifier || name.startsWith("group."))
            container = name;
    }
    if (container.isEmpty() || relative.empty())
        return;
    QString text = displayPath(relative);
    if (isDirectory)
        text += '/';
    handler(File{url.adjusted(QUrl::NormalizePathSegments), text, container, isDirectory,
                 lastModified, size, path, relative});
}

fs::path nativePath(const QString &path)
{
    return QFile::encodeName(QDir::cleanPath(path)).toStdString();
}

fs::path nativePath(const QUrl &url)
{
    return nativePath(url.toLocalFile());
}

bool isWithin(const fs::path &path, const fs::path &folder)
{
    const fs::path relative = path.lexically_normal().lexically_relative(folder.lexically_normal());
    // By component: "..notes" is a name like any other.
    return !relative.empty() && *relative.begin() != "..";
}

QString displayPath(const fs::path &path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
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
