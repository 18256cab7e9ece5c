#include "platform/desktop/PanelFolder.h"

#include "platform/defaults/UserDefaults.h"

#include <QDir>
#include <QFileInfo>

namespace corvane::PanelFolder {

namespace {

bool isFolder(const QString &path)
{
    return !path.isEmpty() && QDir::isAbsolutePath(path) && QFileInfo(path).isDir();
}

} // namespace

QString defaultsKey(const QString &identifier)
{
    return identifier + QStringLiteral("PanelFolder");
}

QString startFolder(const QString &directory, const QString &identifier)
{
    if (isFolder(directory))
        return QDir::cleanPath(directory);
    if (!identifier.isEmpty()) {
        // A folder kept by an earlier run may have gone, or the settings file
        // may have been edited by hand: only a folder that is there counts.
        const auto kept = UserDefaults::standard()->string(defaultsKey(identifier));
        if (kept && isFolder(*kept))
            return QDir::cleanPath(*kept);
    }
    return QDir::homePath();
}

void remember(const QString &identifier, const QString &chosenPath)
{
    if (identifier.isEmpty() || !QDir::isAbsolutePath(chosenPath))
        return;
    const QString folder = QFileInfo(QDir::cleanPath(chosenPath)).absolutePath();
    UserDefaults::standard()->set(defaultsKey(identifier), folder);
}

} // namespace corvane::PanelFolder
