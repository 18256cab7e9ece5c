#include "app/shell/DebugLogExport.h"

#include "core/ToolsetManager.h"
#include "model/ScreenshotDateFormatter.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/PendingSaves.h"
#include "platform/queues/DispatchQueue.h"
#include "platform/Loc.h"
#include "platform/desktop/SavePanel.h"
#include "platform/files/SystemPaths.h"
#include "platform/desktop/Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QVersionNumber>

#include <filesystem>
#include <sys/utsname.h>
#include <system_error>

namespace corvane {

namespace {

constexpr qint64 kCopyChunk = 1 << 20;

// The log file the program writes, read back; every entry in it is the
// program's own.
class LogFileStore : public LogStore {
public:
    explicit LogFileStore(QString path) : m_path(std::move(path)) {}

    Query entries(const QDateTime &since, const QString &subsystem) override
    {
        Query query;
        const QFileInfo info(m_path);
        if (info.exists() && !info.isReadable()) {
            query.error = "The log file “" + m_path + "” cannot be read.";
            return query;
        }
        if (subsystem != Log::subsystem)
            return query;
        Log::readEntriesSince(since, [&](LogEntry &&entry) {
            query.entries.push_back({std::move(entry), Log::subsystem});
        });
        return query;
    }

private:
    QString m_path;
};

// The file in the temporary folder, or the alert that says why there is none.
struct Written {
    QString path;
    QString fileName;
    std::optional<AlertSpec> failure;
};

AlertSpec criticalAlert(const QString &message, const QString &informative)
{
    AlertSpec spec;
    spec.style = AlertSpec::Style::Critical;
    spec.messageText = message;
    spec.informativeText = informative;
    return spec;
}

Written writeExport(const DebugLogExport::Environment &environment)
{
    Written written;
    const auto store = environment.openStore();
    if (!store) {
        written.failure = criticalAlert({}, "Unable to gain access to the logs.");
        return written;
    }
    const QString name = "Corvane Debug " + ScreenshotDateFormatter::currentDateText();
    written.fileName = name + ".txt";
    // A file of its own: two exports within a second never write into one.
    QTemporaryFile file(QDir(environment.temporaryDir).filePath(name + "-XXXXXX.txt"));
    file.setAutoRemove(false);
    if (!file.open()) {
        written.failure = criticalAlert({}, "Unable to save log file.");
        return written;
    }
    written.path = file.fileName();
    file.write((DebugLogExport::systemLine(environment.kernelRelease()) + "\n").toUtf8());
    file.write((environment.toolsetDescription() + "\n").toUtf8());
    file.write("\n\nLogs--");

    const QDateTime since = environment.bootTime();
    const auto query = store->entries(since, Log::subsystem);
    if (query.error) {
        written.failure = criticalAlert("Unable to query the logs", *query.error);
        return written;
    }
    for (const auto &entry : query.entries)
        if (DebugLogExport::isExported(entry, since))
            file.write(DebugLogExport::entryLine(entry.entry).toUtf8());
    file.close();
    // A full disk must not hand the user a cut-off file as the export.
    if (file.error() != QFileDevice::NoError)
        written.failure = criticalAlert({}, "Unable to save log file.");
    return written;
}

void offerToSave(const Written &written)
{
    if (written.failure) {
        AlertPresenter::shared()->run(*written.failure);
        return;
    }
    SavePanelSpec spec;
    spec.title = loc("Save Logs", "LOG_SAVE_PANEL_TITLE");
    spec.prompt = loc("Save", "LOG_SAVE_PANEL_PROMPT");
    spec.identifier = QStringLiteral("SaveLogs");
    spec.proposedName = written.fileName;
    spec.canHideExtension = true;
    // A cancelled panel leaves the file in the temporary folder.
    SavePanel::shared()->begin(
        spec, [temporary = written.path](const std::optional<QString> &chosen) {
            if (!chosen || chosen->isEmpty())
                return;
            // Quitting waits for the copy, which a move across file systems is.
            DispatchQueue::userInitiated()->async(
                [temporary, chosen = *chosen, pending = PendingSaves::begin()] {
                    DebugLogExport::moveExportedLog(temporary, chosen);
                });
        });
    Workspace::shared()->activateIgnoringOtherApps();
}

std::filesystem::path filePath(const QString &path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// Copies beside the destination, then renames the copy over it; the error's
// description on failure.
std::optional<QString> copyOver(const QString &from, const QString &to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return source.errorString();
    AtomicFile target(to);
    if (!target.open())
        return target.errorString();
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(kCopyChunk);
        if (chunk.isEmpty() && source.error() != QFileDevice::NoError) {
            target.discard();
            return source.errorString();
        }
        if (!target.write(chunk))
            return target.errorString();
    }
    if (!target.commit())
        return target.errorString();
    source.close();
    QFile::remove(from);
    return std::nullopt;
}

QString unameRelease()
{
    struct utsname name {};
    return ::uname(&name) == 0 ? QString::fromLocal8Bit(name.release) : QString();
}

} // namespace

std::shared_ptr<LogStore> LogStore::local()
{
    const QString path = Log::filePath();
    if (path.isEmpty())
        return nullptr;
    return std::make_shared<LogFileStore>(path);
}

namespace DebugLogExport {

Environment Environment::withDefaults() const
{
    Environment environment = *this;
    if (!environment.openStore)
        environment.openStore = LogStore::local;
    if (!environment.toolsetDescription)
        environment.toolsetDescription = [] {
            return ToolsetManager::shared()->debugDescription();
        };
    if (!environment.kernelRelease)
        environment.kernelRelease = unameRelease;
    if (!environment.bootTime)
        environment.bootTime = latestBoot;
    if (environment.temporaryDir.isEmpty())
        environment.temporaryDir = SystemPaths::current().temporaryDir;
    return environment;
}

void begin(const Environment &environment)
{
    // The toolset's description asks xcode-select, and the log is a file:
    // neither is for the main thread.
    DispatchQueue::userInitiated()->async([environment = environment.withDefaults()] {
        Written written = writeExport(environment);
        DispatchQueue::main()->async([written = std::move(written)] { offerToSave(written); });
    });
}

QString systemLine(const QString &kernelRelease)
{
    const QVersionNumber version = QVersionNumber::fromString(kernelRelease);
    return QStringLiteral("OS: %1.%2.%3")
        .arg(version.segmentAt(0))
        .arg(version.segmentAt(1))
        .arg(version.segmentAt(2));
}

QString entryLine(const LogEntry &entry)
{
    return ScreenshotDateFormatter::string(entry.time) + ' ' + entry.processName + '[' +
           QString::number(entry.pid) + ':' + QString::number(entry.threadId) + "] [" +
           entry.category + "] " + entry.message + '\n';
}

bool isExported(const LogStore::Entry &entry, const QDateTime &since)
{
    return entry.subsystem == Log::subsystem && entry.entry.level != LogLevel::Debug &&
           (!since.isValid() || entry.entry.time >= since);
}

QDateTime latestBoot()
{
    // Files under /proc report no size: read to the end, never ask atEnd().
    QFile stat("/proc/stat");
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    for (const QByteArray &line : text.split('\n')) {
        if (!line.startsWith("btime "))
            continue;
        bool ok = false;
        const qint64 seconds = line.mid(6).trimmed().toLongLong(&ok);
        return ok ? QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC) : QDateTime();
    }
    return {};
}

void moveExportedLog(const QString &temporaryPath, const QString &chosenPath)
{
    // The user has agreed to replace a file already there: renaming over it
    // does, where a plain move would refuse.
    std::error_code error;
    std::filesystem::rename(filePath(temporaryPath), filePath(chosenPath), error);
    std::optional<QString> failure;
    if (error == std::errc::cross_device_link)
        failure = copyOver(temporaryPath, chosenPath);
    else if (error)
        failure = QString::fromStdString(error.message());
    if (failure)
        Log::general().error("Error moving logs %{PUBLIC}@", *failure);
}

} // namespace DebugLogExport
} // namespace corvane
