#include "platform/desktop/PanelFolder.h"

#include "platform/defaults/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <linux/magic.h>
#include <sys/vfs.h>

#include <array>
#endif

namespace corvane::PanelFolder {

namespace {

bool isFolder(const QString &path)
{
    return !path.isEmpty() && QDir::isAbsolutePath(path) && QFileInfo(path).isDir() &&
           !isPseudoPlace(path);
}

bool isBelowKernelFolder(const QString &path)
{
    for (const QString &folder :
         {QStringLiteral("/proc"), QStringLiteral("/sys"), QStringLiteral("/dev")})
        if (path == folder || path.startsWith(folder + u'/'))
            return true;
    return false;
}

bool isOnKernelFileSystem([[maybe_unused]] const QString &path)
{
#ifdef Q_OS_LINUX
    struct statfs info {};
    if (::statfs(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    // devtmpfs reports itself as tmpfs, which is also where users keep
    // files: /dev is caught by its path instead.
    static constexpr std::array<long, 15> kinds{PROC_SUPER_MAGIC,
                                                SYSFS_MAGIC,
                                                DEVPTS_SUPER_MAGIC,
                                                DEBUGFS_MAGIC,
                                                TRACEFS_MAGIC,
                                                SECURITYFS_MAGIC,
                                                CGROUP_SUPER_MAGIC,
                                                CGROUP2_SUPER_MAGIC,
                                                BPF_FS_MAGIC,
                                                PSTOREFS_MAGIC,
                                                EFIVARFS_MAGIC,
                                                BINFMTFS_MAGIC,
                                                0x19800202 /* mqueue */,
                                                0x62656570 /* configfs */,
                                                0x65735543 /* fusectl */};
    for (const long kind : kinds)
        if (long(info.f_type) == kind)
            return true;
#endif
    return false;
}

} // namespace

bool isPseudoPath(const QString &path)
{
    return !path.isEmpty() && QDir::isAbsolutePath(path) &&
           isBelowKernelFolder(QDir::cleanPath(path));
}

bool isPseudoPlace(const QString &path)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return false;
    const QString clean = QDir::cleanPath(path);
    if (isBelowKernelFolder(clean))
        return true;
    // A link elsewhere may lead there.
    const QString canonical = QFileInfo(clean).canonicalFilePath();
    if (!canonical.isEmpty() && isBelowKernelFolder(canonical))
        return true;
    return isOnKernelFileSystem(clean);
}

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
    if (isPseudoPlace(folder))
        return;
    UserDefaults::standard()->set(defaultsKey(identifier), folder);
}

} // namespace corvane::PanelFolder
