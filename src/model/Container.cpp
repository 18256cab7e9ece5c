#include "model/Container.h"

#include "core/File.h"
#include "core/StringHelpers.h"
#include "platform/files/FileCoordinator.h"
#include "platform/files/FileManager.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <exception>
#include <filesystem>

namespace corvane {

namespace {

struct LocationEntry {
    Container::Location location;
    const char *rawValue;
    const char *relativePath;
};

constexpr std::array<LocationEntry, 6> kLocations{{
    {Container::Location::applicationSupport, "Application Support",
     "Library/Application Support/"},
    {Container::Location::caches, "Caches", "Library/Caches/"},
    {Container::Location::documents, "Documents", "Documents/"},
    {Container::Location::library, "Library", "Library/"},
    {Container::Location::tmp, "Temp", "tmp/"},
    {Container::Location::preferences, "User Defaults", "Library/Preferences/"},
}};

const LocationEntry &entry(Container::Location location)
{
    return kLocations[std::size_t(location)];
}

constexpr FileCoordinator::ReadingOptions kEraseReading =
    FileCoordinator::withoutChanges | FileCoordinator::immediatelyAvailableMetadataOnly;

QString pathOf(const QUrl &url)
{
    return url.toLocalFile();
}

} // namespace

const std::vector<Container::Location> &Container::allLocations()
{
    static const std::vector<Location> all = [] {
        std::vector<Location> result;
        for (const LocationEntry &location : kLocations)
            result.push_back(location.location);
        return result;
    }();
    return all;
}

QString Container::rawValue(Location location)
{
    return QString::fromLatin1(entry(location).rawValue);
}

std::optional<Container::Location> Container::locationFromRawValue(const QString &rawValue)
{
    for (const LocationEntry &location : kLocations)
        if (rawValue == QLatin1String(location.rawValue))
            return location.location;
    return std::nullopt;
}

const QStringList &Container::skippedNames()
{
    static const QStringList names{".DS_Store",
                                   ".com.apple.mobile_container_manager.metadata.plist"};
    return names;
}

const QStringList &Container::erasedTopLevelNames()
{
    static const QStringList names{"Library", "Documents"};
    return names;
}

const QStringList &Container::keptRelativePaths()
{
    static const QStringList paths{"Library/", "Library/Caches/",
                                   ".com.apple.mobile_container_manager.metadata.plist"};
    return paths;
}

bool Container::erases(const QString &identifier, const QString &relativePath)
{
    const QStringList components = relativePath.split('/', Qt::SkipEmptyParts);
    if (components.isEmpty() || skippedNames().contains(components.last()) ||
        keptRelativePaths().contains(relativePath))
        return false;
    return identifier != dataContainerIdentifier ||
           erasedTopLevelNames().contains(components.first());
}

Container::Container(QString bundle, QString identifier, QUrl url)
    : m_bundle(std::move(bundle)), m_identifier(std::move(identifier)), m_url(std::move(url))
{
}

bool Container::exists() const
{
    return QFileInfo::exists(pathOf(m_url));
}

void Container::open() const
{
    Workspace::shared()->showFolder(pathOf(m_url));
}

void Container::reveal() const
{
    Workspace::shared()->revealFile(pathOf(m_url));
}

QString Container::relativePath(Location location) const
{
    QString path = QString::fromLatin1(entry(location).relativePath);
    if (location == Location::preferences)
        path += m_bundle + ".plist";
    return path;
}

std::optional<QUrl> Container::urlForLocation(Location location) const
{
    const QString base = pathOf(m_url);
    if (base.isEmpty())
        return std::nullopt;
    const QUrl url =
        QUrl::fromLocalFile((base.endsWith('/') ? base : base + '/') + relativePath(location));
    if (!QFileInfo::exists(pathOf(url)))
        return std::nullopt;
    return url;
}

void Container::openLocation(Location location) const
{
    const auto url = urlForLocation(location);
    if (!url)
        return;
    const QString path = pathOf(*url);
    if (!path.endsWith('/') && !QFileInfo(path).suffix().isEmpty())
        Workspace::shared()->openUrl(*url);
    else
        Workspace::shared()->showFolder(path);
}

void Container::erase(FileManager &fileManager) const
{
    std::vector<File> collected;
    std::vector<std::filesystem::filesystem_error> unlisted;
    const auto included = [&](const QUrl &url) {
        return File::isIncluded(url, m_url, m_identifier, erasedTopLevelNames());
    };
    try {
        File::coordinator().coordinateReading(m_url, kEraseReading, [&](const QUrl &folder) {
            unlisted = File::enumerateContents(
                folder, skippedNames(), included, kEraseReading,
                [&](const std::filesystem::path &path, const QUrl &url, bool isDirectory,
                    const QDateTime &lastModified, std::optional<qint64> size, bool &) {
                    File::visit(path, url, isDirectory, lastModified, size, m_url, m_identifier,
                                [&](const File &file) {
                                    if (erases(m_identifier, file.relativePath))
                                        collected.push_back(file);
                                });
                },
                fileManager);
        });
    } catch (const std::exception &) {
        // What was gathered before the failure is still emptied.
    }

    // Every item is tried: one that cannot be removed costs itself, not the
    // rest, and the erase then reports the first such error.
    std::exception_ptr firstError;
    auto &coordinator = FileCoordinator::shared(FileCoordinators::container);
    for (const File &file : collected) {
        try {
            coordinator.coordinateWriting(file.url, true, [&](const QUrl &) {
                ignoringFileNotFound([&] { fileManager.removeItem(file.path); });
            });
        } catch (...) {
            if (!firstError)
                firstError = std::current_exception();
        }
    }
    if (firstError)
        std::rethrow_exception(firstError);

    // A folder whose contents could not be listed, and which is still there,
    // holds what this erase should have removed.
    for (const auto &error : unlisted) {
        const QUrl url = QUrl::fromLocalFile(displayPath(error.path1()));
        if (std::filesystem::exists(std::filesystem::symlink_status(error.path1())) &&
            (QDir::cleanPath(url.toLocalFile()) == QDir::cleanPath(pathOf(m_url)) || included(url)))
            throw error;
    }
}

} // namespace corvane
