#include "app/DerivedData.h"

#include "core/ProcessRunner.h"
#include "platform/ChildProcess.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace corvane::DerivedData {

namespace {

QString resolved(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.exists() ? info.canonicalFilePath() : QString();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

// A folder another program's setting names is trashed only when losing it
// cannot take the user's files with it.
bool isSafeToTrash(const QString &path, const QString &home)
{
    if (path.isEmpty() || QDir::isRelativePath(path))
        return false;
    const QString target = resolved(path);
    if (target == "/")
        return false;
    if (home.isEmpty())
        return true;
    const QString homeFolder = resolved(home);
    return homeFolder != target && !homeFolder.startsWith(target + "/");
}

} // namespace

QString defaultFolder(const SystemPaths &paths)
{
    return paths.home + "/Library/Developer/Xcode/DerivedData";
}

std::optional<QString> customFolder(const SystemPaths &paths)
{
    std::optional<QString> reply;
    try {
        reply = runProcess(paths.defaults,
                           {"read", "com.apple.dt.xcode", "IDECustomDerivedDataLocation"});
    } catch (const LaunchError &error) {
        Log::general().error("Cannot read the derived-data location: %{public}@",
                             error.description());
        return std::nullopt;
    }
    if (!reply || reply->isEmpty() || reply->contains("domain/default"))
        return std::nullopt;
    if (!isSafeToTrash(*reply, paths.home)) {
        Log::general().notice("Ignoring the derived-data location \"%{public}@\"", *reply);
        return std::nullopt;
    }
    return reply;
}

void moveToTrash(const SystemPaths &paths)
{
    if (auto custom = customFolder(paths); custom && QFileInfo::exists(*custom)) {
        QFile::moveToTrash(*custom);
        return;
    }
    if (paths.home.isEmpty() || QDir::isRelativePath(paths.home))
        return;
    QFile::moveToTrash(defaultFolder(paths));
}

} // namespace corvane::DerivedData
