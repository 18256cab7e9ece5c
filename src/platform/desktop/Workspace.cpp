#include "platform/desktop/Workspace.h"

#include "platform/desktop/AlertPresenter.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/Log.h"
#include "platform/formats/PropertyList.h"
#include "platform/desktop/RecentDocuments.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeDatabase>
#include <QProcess>
#include <QWindow>

#include <algorithm>
#include <mutex>
#include <vector>

#include <signal.h>
#include <unistd.h>

namespace corvane {

namespace {

struct ProcessImage {
    qint64 pid = 0;
    // /proc/<pid>/exe, and argv[0] when that is another absolute path.
    QStringList paths;
};

// Every process of /proc in pid order; one that ends meanwhile is skipped.
std::vector<ProcessImage> processImages()
{
    std::vector<qint64> pids;
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (isNumber)
            pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());

    std::vector<ProcessImage> images;
    for (const qint64 pid : pids) {
        ProcessImage image{pid, {}};
        const QString folder = QStringLiteral("/proc/%1/").arg(pid);
        const QString executable = QFileInfo(folder + "exe").symLinkTarget();
        if (!executable.isEmpty())
            image.paths << executable;
        QFile cmdline(folder + "cmdline");
        if (cmdline.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = cmdline.read(4096);
            const QString first = QFile::decodeName(bytes.left(bytes.indexOf('\0')));
            if (first.startsWith('/') && first != executable)
                image.paths << first;
        }
        if (!image.paths.isEmpty())
            images.push_back(std::move(image));
    }
    return images;
}

std::vector<qint64> processesRunning(const QString &executablePath)
{
    std::vector<qint64> pids;
    for (const ProcessImage &image : processImages())
        if (image.paths.contains(executablePath) && image.pid != ::getpid())
            pids.push_back(image.pid);
    return pids;
}

} // namespace

QStringList Workspace::runningExecutablePaths()
{
    QStringList paths;
    for (const ProcessImage &image : processImages())
        paths << image.paths;
    return paths;
}

bool Workspace::terminateApplication(const QString &executablePath)
{
    const auto pids = processesRunning(executablePath);
    for (const qint64 pid : pids)
        ::kill(pid_t(pid), SIGTERM);
    return !pids.empty();
}

bool Workspace::isApplicationRunning(const QString &executablePath)
{
    return !processesRunning(executablePath).empty();
}

bool RunningApplication::terminate() const
{
    return Workspace::shared()->terminateApplication(m_executablePath);
}

bool RunningApplication::isTerminated() const
{
    return !Workspace::shared()->isApplicationRunning(m_executablePath);
}

namespace {

std::mutex g_mutex;
std::shared_ptr<Workspace> g_shared;

// Asks the desktop's file manager over D-Bus; false when none answers.
bool callFileManager(const QString &method, const QString &path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                       QStringLiteral("org.freedesktop.FileManager1"), method);
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

enum class Unopened { WebPage, Link, File, Folder, RevealedFile };

// What the desktop could not do, said to the user rather than nothing. Any
// thread; the alert comes on the main thread.
void reportUnopened(Unopened what, const QString &item)
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Warning;
    switch (what) {
    case Unopened::WebPage:
        spec.messageText = loc("The web page could not be opened", "WORKSPACE_NO_BROWSER_TITLE");
        spec.informativeText =
            loc("No web browser is set up to open “%1”.", "WORKSPACE_NO_BROWSER_MESSAGE");
        break;
    case Unopened::Link:
    case Unopened::File:
        spec.messageText =
            what == Unopened::Link
                ? loc("The link could not be opened", "WORKSPACE_NO_LINK_HANDLER_TITLE")
                : loc("The file could not be opened", "WORKSPACE_NO_HANDLER_TITLE");
        spec.informativeText =
            loc("No application is set up to open “%1”.", "WORKSPACE_NO_HANDLER_MESSAGE");
        break;
    case Unopened::Folder:
        spec.messageText = loc("The folder could not be opened", "WORKSPACE_NO_FILE_MANAGER_TITLE");
        spec.informativeText =
            loc("No file manager is set up to open “%1”.", "WORKSPACE_NO_FILE_MANAGER_MESSAGE");
        break;
    case Unopened::RevealedFile:
        spec.messageText = loc("The file could not be shown", "WORKSPACE_NO_REVEAL_TITLE");
        spec.informativeText =
            loc("No file manager is set up to show “%1”.", "WORKSPACE_NO_REVEAL_MESSAGE");
        break;
    }
    spec.informativeText = spec.informativeText.arg(item);
    Log::general().error("%{public}@: %{public}@", spec.messageText, item);
    DispatchQueue::main()->async([spec] { AlertPresenter::shared()->run(spec); });
}

} // namespace

bool Workspace::openUrl(const QUrl &url)
{
    if (!url.isValid())
        return false;
    if (QDesktopServices::openUrl(url))
        return true;
    if (!url.isLocalFile())
        reportUnopened(url.scheme() == "http" || url.scheme() == "https" ? Unopened::WebPage
                                                                         : Unopened::Link,
                       url.toString());
    else
        reportUnopened(QFileInfo(url.toLocalFile()).isDir() ? Unopened::Folder : Unopened::File,
                       url.toLocalFile());
    return false;
}

QString Workspace::bundleExecutable(const QString &bundlePath)
{
    const QString contents = QDir(bundlePath).filePath(QStringLiteral("Contents"));
    QString name;
    if (auto info = PropertyList::readDictionary(contents + QStringLiteral("/Info.plist")))
        name = info->value(QStringLiteral("CFBundleExecutable")).toString();
    if (name.isEmpty())
        name = QFileInfo(bundlePath).completeBaseName();
    const QString executable = contents + QStringLiteral("/MacOS/") + name;
    const QFileInfo file(executable);
    return file.isFile() && file.isExecutable() ? executable : QString();
}

bool Workspace::openApplication(const QString &bundlePath)
{
    const QString executable = bundleExecutable(bundlePath);
    if (executable.isEmpty()) {
        Log::general().error("No executable in application bundle %{public}@", bundlePath);
        return false;
    }
    return QProcess::startDetached(executable, {}, QFileInfo(executable).absolutePath());
}

bool Workspace::revealFile(const QString &path)
{
    if (callFileManager(QStringLiteral("ShowItems"), path) ||
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath())))
        return true;
    reportUnopened(Unopened::RevealedFile, path);
    return false;
}

bool Workspace::showFolder(const QString &path)
{
    if (callFileManager(QStringLiteral("ShowFolders"), path) ||
        QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        return true;
    reportUnopened(Unopened::Folder, path);
    return false;
}

void Workspace::noteRecentDocument(const QUrl &url)
{
    if (!url.isLocalFile())
        return;
    const QString path = url.toLocalFile();
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    const QString program = QCoreApplication::applicationFilePath();
    RecentDocuments::add(path, type.name(),
                         {QCoreApplication::applicationName().isEmpty()
                              ? QFileInfo(program).fileName()
                              : QCoreApplication::applicationName(),
                          QStringLiteral("'%1 %u'").arg(program)});
}

void Workspace::activateIgnoringOtherApps()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->type() != Qt::Popup && window->type() != Qt::ToolTip) {
            window->raise();
            window->requestActivate();
        }
    }
}

std::optional<QString> Workspace::activateSimulator()
{
    // Simulator.app and its window exist only on macOS; say so rather than
    // nothing, so that "Launch" bringing nothing forward is explained.
    Log::device().debug("There is no Simulator window to raise on this system");
    return std::nullopt;
}

std::shared_ptr<Workspace> Workspace::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_shared)
        g_shared = std::make_shared<Workspace>();
    return g_shared;
}

void Workspace::setShared(std::shared_ptr<Workspace> workspace)
{
    std::lock_guard lock(g_mutex);
    g_shared = std::move(workspace);
}

bool RecordingWorkspace::openUrl(const QUrl &url)
{
    requests.push_back({QStringLiteral("openUrl"), url.toString()});
    return answer;
}

bool RecordingWorkspace::openApplication(const QString &bundlePath)
{
    requests.push_back({QStringLiteral("openApplication"), bundlePath});
    return answer;
}

bool RecordingWorkspace::revealFile(const QString &path)
{
    requests.push_back({QStringLiteral("revealFile"), path});
    return answer;
}

bool RecordingWorkspace::showFolder(const QString &path)
{
    requests.push_back({QStringLiteral("showFolder"), path});
    return answer;
}

void RecordingWorkspace::activateIgnoringOtherApps()
{
    requests.push_back({QStringLiteral("activate"), QString()});
}

void RecordingWorkspace::noteRecentDocument(const QUrl &url)
{
    requests.push_back({QStringLiteral("noteRecentDocument"), url.toLocalFile()});
}

std::optional<QString> RecordingWorkspace::activateSimulator()
{
    requests.push_back({QStringLiteral("activateSimulator"), QString()});
    return simulatorError;
}

bool RecordingWorkspace::terminateApplication(const QString &executablePath)
{
    requests.push_back({QStringLiteral("terminateApplication"), executablePath});
    return answer;
}

bool RecordingWorkspace::isApplicationRunning(const QString &)
{
    return false;
}

} // namespace corvane
