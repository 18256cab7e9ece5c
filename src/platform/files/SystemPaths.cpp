#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QStandardPaths>

#include <mutex>
#include <optional>

namespace corvane {

namespace {

QString fromEnv(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

QString withoutTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// An XDG base folder, under the real home folder (not the one that stands in
// for the macOS home) when the variable is unset.
QString xdgFolder(const char *variable, const QString &fallback)
{
    const QString folder = qEnvironmentVariable(variable);
    // Relative values are invalid and to be ignored.
    if (!folder.isEmpty() && QDir::isAbsolutePath(folder))
        return withoutTrailingSlash(folder);
    return QDir::homePath() + '/' + fallback;
}

std::mutex g_mutex;
std::optional<SystemPaths> g_current;

} // namespace

SystemPaths SystemPaths::fromEnvironment()
{
    SystemPaths paths;
    paths.applicationsDir = fromEnv("CORVANE_APPLICATIONS_DIR", "/Applications/");
    paths.xcodeSelect = fromEnv("CORVANE_XCODE_SELECT", "/usr/bin/xcode-select");
    paths.varDb = withoutTrailingSlash(fromEnv("CORVANE_VAR_DB", "/var/db/"));
    paths.coreSimulatorImages =
        fromEnv("CORVANE_CORESIM_IMAGES", "/Library/Developer/CoreSimulator/images/images.plist");
    paths.ps = fromEnv("CORVANE_PS", "/bin/ps");
    paths.defaults = fromEnv("CORVANE_DEFAULTS", "/usr/bin/defaults");
    paths.open = fromEnv("CORVANE_OPEN", "/usr/bin/open");
    paths.home = withoutTrailingSlash(fromEnv("CORVANE_HOME", QDir::homePath()));
    paths.applicationSupport = withoutTrailingSlash(
        fromEnv("CORVANE_APP_SUPPORT",
                QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)));
    paths.temporaryDir = withoutTrailingSlash(fromEnv("CORVANE_TMPDIR", QDir::tempPath()));
    paths.configDir = withoutTrailingSlash(
        fromEnv("CORVANE_CONFIG_DIR",
                QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)));
    paths.syncDir =
        withoutTrailingSlash(fromEnv("CORVANE_SYNC_DIR", paths.programSupportDir() + "/Sync"));
    paths.autostartDir = withoutTrailingSlash(
        fromEnv("CORVANE_AUTOSTART_DIR", xdgFolder("XDG_CONFIG_HOME", ".config") + "/autostart"));
    paths.stateDir = withoutTrailingSlash(
        fromEnv("CORVANE_STATE_DIR", xdgFolder("XDG_STATE_HOME", ".local/state") + "/corvane"));
    return paths;
}

QString SystemPaths::abbreviatingHome(const QString &path) const
{
    if (home.isEmpty() || home == "/")
        return path;
    if (path == home)
        return "~";
    if (path.startsWith(home + "/"))
        return "~" + path.mid(home.size());
    return path;
}

SystemPaths SystemPaths::current()
{
    std::lock_guard lock(g_mutex);
    if (!g_current)
        g_current = fromEnvironment();
    return *g_current;
}

void SystemPaths::setCurrent(const SystemPaths &paths)
{
    std::lock_guard lock(g_mutex);
    g_current = paths;
}

void SystemPaths::resetToEnvironment()
{
    std::lock_guard lock(g_mutex);
    g_current = fromEnvironment();
}

} // namespace corvane
