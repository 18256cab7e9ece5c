#include "app/shell/DerivedData.h"

#include "core/ProcessRunner.h"
#include "platform/processes/ChildProcess.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

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

// Qt falls back to the working directory when it cannot make the home trash
// (a home without ~/.local/share), which would leave trash records wherever the
// program was started: the home trash is made first, and without one nothing
// is moved.
void trash(const QString &path)
{
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString trashFolder = dataHome + "/Trash";
    if (!dataHome.isEmpty() && QDir().mkpath(dataHome) && !QFileInfo(trashFolder).isDir())
        QDir(dataHome).mkdir("Trash", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (dataHome.isEmpty() || !QFileInfo(trashFolder).isDir()) {
        Log::general().error("Cannot move \"%{public}@\" to the Trash: there is no Trash folder",
                             path);
        return;
    }
    if (!QFile::moveToTrash(path))
        Log::general().error("Cannot move \"%{public}@\" to the Trash", path);
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
        trash(*custom);
        return;
    }
    if (paths.home.isEmpty() || QDir::isRelativePath(paths.home))
        return;
    if (const QString folder = defaultFolder(paths); QFileInfo::exists(folder))
        trash(folder);
}

} // namespace corvane::DerivedData
