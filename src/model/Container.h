#pragma once

#include "platform/Object.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <vector>

namespace corvane {

class FileManager;

// One data folder of an installed application: its data container (its
// sandbox) or one of its app-group containers. The three fields never change.
class Container : public Object {
public:
    // The identifier of the data container.
    static inline const QString dataContainerIdentifier = "AppData";

    // Raw values are the display texts.
    enum class Location { applicationSupport, caches, documents, library, tmp, preferences };
    static const std::vector<Location> &allLocations();
    static QString rawValue(Location location);
    static std::optional<Location> locationFromRawValue(const QString &rawValue);

    // Names an erase never touches, wherever they lie.
    static const QStringList &skippedNames();
    // The top-level folders of the data container that an erase empties.
    static const QStringList &erasedTopLevelNames();
    // Relative paths an erase keeps (folders end in "/").
    static const QStringList &keptRelativePaths();
    // Whether an erase of a container with this identifier removes the item
    // at the relative path (a folder's ending in "/"): not a skipped name nor
    // a kept path, and in the data container below an erased top-level name.
    static bool erases(const QString &identifier, const QString &relativePath);

    Container(QString bundle, QString identifier, QUrl url);

    // The identifier the preferences file is named after: the application's
    // bundle identifier, or the group's.
    QString bundle() const { return m_bundle; }
    QString identifier() const { return m_identifier; }
    QUrl url() const { return m_url; }
    bool isDataContainer() const { return m_identifier == dataContainerIdentifier; }

    // Whether something exists at the container's path.
    bool exists() const;
    // The container folder in the file manager.
    void open() const;
    // The container folder selected in its parent.
    void reveal() const;

    // The location's path inside the container, folders ending in "/".
    QString relativePath(Location location) const;
    // The location's URL when something exists there.
    std::optional<QUrl> urlForLocation(Location location) const;
    // Opens a file location with its application, a folder in the file
    // manager; a missing location does nothing.
    void openLocation(Location location) const;

    // Deletes the container's contents but the folders and files the
    // container manager expects: in the data container only what lies below
    // Library and Documents. Every item is tried; throws the first failure of
    // a removal (or its coordination), else the listing error of a folder
    // that could not be walked and is still there. Removals stay done.
    void erase(FileManager &fileManager) const;

private:
    const QString m_bundle;
    const QString m_identifier;
    const QUrl m_url;
};

using ContainerPtr = std::shared_ptr<Container>;

} // namespace corvane
