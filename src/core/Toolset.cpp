#include "core/Toolset.h"

#include "core/CorvaneError.h"
#include "core/DeviceWatching.h"
#include "core/Observer.h"
#include "core/ProcessRunner.h"
#include "core/StringCompare.h"
#include "platform/processes/ChildProcess.h"
#include "platform/Log.h"
#include "platform/formats/PropertyList.h"
#include "platform/desktop/Workspace.h"

#include <QFileInfo>
#include <QHashFunctions>

#include <algorithm>

namespace corvane {

namespace {

constexpr const char *kSimctlComponent = "Contents/Developer/usr/bin/simctl";
constexpr const char *kSimulatorComponent = "Contents/Developer/Applications/Simulator.app";

// The path text of a file URL, without a trailing slash.
QString pathOf(const QUrl &url)
{
    QString path = url.toLocalFile();
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

QUrl appending(const QUrl &url, const QString &component)
{
    const QString base = pathOf(url);
    return QUrl::fromLocalFile(base == "/" ? base + component : base + '/' + component);
}

bool isNewline(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

QStringView trimSpacesAndTabs(QStringView line)
{
    const auto blank = [](QChar c) { return c == ' ' || c == '\t'; };
    while (!line.isEmpty() && blank(line.front()))
        line = line.mid(1);
    while (!line.isEmpty() && blank(line.back()))
        line.chop(1);
    return line;
}

// Quitting an application that is not running is how an export or an import
// makes sure it is not: the tool's complaint then is expected, no fault.
bool isExpectedComplaint(const QStringList &arguments, const QString &description)
{
    return arguments.value(0) == Toolset::subcommand(Toolset::Command::quit) &&
           description.contains(QLatin1String("found nothing to terminate"));
}

[[noreturn]] void failRun(const QUrl &tool, const QStringList &arguments, const CorvaneError &error)
{
    const QString format =
        QStringLiteral("Error running process %{PUBLIC}@ %{PUBLIC}@: %{PUBLIC}@");
    const QStringList values{tool.toLocalFile(), arguments.join(' '), error.description()};
    Log::toolset().write(isExpectedComplaint(arguments, error.description()) ? LogLevel::Debug
                                                                             : LogLevel::Error,
                         format, values);
    throw error;
}

} // namespace

const std::vector<Toolset::Command> &Toolset::allCommands()
{
    static const std::vector<Command> all = [] {
        std::vector<Command> result;
        for (int i = 0; i <= int(Command::quit); ++i)
            result.push_back(Command(i));
        return result;
    }();
    return all;
}

int Toolset::rawValue(Command command)
{
    return int(command);
}

std::optional<Toolset::Command> Toolset::commandFromRawValue(int rawValue)
{
    if (rawValue < 0 || rawValue > int(Command::quit))
        return std::nullopt;
    return Command(rawValue);
}

QString Toolset::subcommand(Command command)
{
    switch (command) {
    case Command::deviceListing: return "list";
    case Command::delete_: return "delete";
    case Command::boot: return "boot";
    case Command::shutdown: return "shutdown";
    case Command::appearance: return "ui";
    case Command::statusBar: return "status_bar";
    case Command::keychain: return "keychain";
    case Command::push: return "push";
    case Command::openURLs: return "openurl";
    case Command::screenshots:
    case Command::recording: return "io";
    case Command::addmedia: return "addmedia";
    case Command::paste:
    case Command::copy: return "pbsync";
    case Command::erase: return "erase";
    case Command::touch: return "";
    case Command::gps:
    case Command::gpsFull: return "-gps-";
    case Command::privacy: return "privacy";
    case Command::containerListing: return "get_app_container";
    case Command::install: return "install";
    case Command::uninstall: return "uninstall";
    case Command::launch: return "launch";
    case Command::quit: return "terminate";
    }
    return "";
}

const std::vector<Toolset::ImageFormats> &Toolset::allImageFormats()
{
    static const std::vector<ImageFormats> all{ImageFormats::png, ImageFormats::jpeg};
    return all;
}

QString Toolset::rawValue(ImageFormats format)
{
    return format == ImageFormats::png ? "png" : "jpeg";
}

std::optional<Toolset::ImageFormats> Toolset::imageFormatFromRawValue(const QString &rawValue)
{
    for (auto format : allImageFormats())
        if (Toolset::rawValue(format) == rawValue)
            return format;
    return std::nullopt;
}

const std::vector<Toolset::VideoFormats> &Toolset::allVideoFormats()
{
    static const std::vector<VideoFormats> all{VideoFormats::h264, VideoFormats::hevc};
    return all;
}

QString Toolset::rawValue(VideoFormats format)
{
    return format == VideoFormats::h264 ? "h264" : "hevc";
}

std::optional<Toolset::VideoFormats> Toolset::videoFormatFromRawValue(const QString &rawValue)
{
    for (auto format : allVideoFormats())
        if (Toolset::rawValue(format) == rawValue)
            return format;
    return std::nullopt;
}

std::shared_ptr<Toolset> Toolset::make(const QUrl &xcodePath)
{
    if (xcodePath.isEmpty() || !QFileInfo::exists(pathOf(xcodePath)))
        return nullptr;

    std::shared_ptr<Toolset> toolset(new Toolset);
    toolset->m_xcodePath = xcodePath;

    const auto info = PropertyList::readDictionary(pathOf(xcodePath) + "/Contents/Info.plist");
    const QVariant version = info ? info->value("CFBundleShortVersionString") : QVariant();
    toolset->m_version = version.typeId() == QMetaType::QString ? version.toString() : "Unknown";
    toolset->m_build = xcodeBuildVersion(xcodePath).value_or("Unknown");
    toolset->m_simctlPath = appending(xcodePath, kSimctlComponent);

    if (!QFileInfo::exists(pathOf(toolset->m_simctlPath)))
        return nullptr;

    toolset->m_monitor = DirectoryMonitor::make(toolset->bundlePath());
    toolset->m_monitor->setDelegate(toolset);
    toolset->m_monitor->startMonitoring();
    return toolset;
}

Toolset::~Toolset()
{
    if (m_monitor)
        m_monitor->stop();
}

void Toolset::directoryMonitorDidObserveChange(const std::shared_ptr<DirectoryMonitor> &)
{
    // Entries added or removed beside an unchanged build are no concern.
    if (xcodeBuildVersion(m_xcodePath) == m_build)
        return;
    Log::toolset().info("Xcode at path %@ was moved on disk", bundlePath());
    postNotification(didBecomeInvalid, shared_from_this());
}

QString Toolset::bundlePath() const
{
    return pathOf(m_xcodePath);
}

const std::vector<Toolset::Command> &Toolset::supportedCommands() const
{
    std::call_once(m_commandsDetected, [this] {
        try {
            if (const auto usage = runToolProcess(m_simctlPath, {}))
                m_supportedCommands = parseSupportedCommands(*usage);
        } catch (const std::exception &) {
            // Already logged by the runner; the toolset offers nothing then.
        }
    });
    return m_supportedCommands;
}

bool Toolset::supports(Command command) const
{
    const auto &commands = supportedCommands();
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

std::vector<Toolset::Command> Toolset::parseSupportedCommands(const QString &usage)
{
    std::vector<Command> result;
    std::vector<bool> found(allCommands().size(), false);
    const auto add = [&](Command command) {
        if (!found[std::size_t(rawValue(command))]) {
            found[std::size_t(rawValue(command))] = true;
            result.push_back(command);
        }
    };
    bool inSubcommands = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= usage.size(); ++i) {
        if (i < usage.size() && !isNewline(usage[i]))
            continue;
        const QStringView line = trimSpacesAndTabs(QStringView(usage).mid(start, i - start));
        start = i + 1;
        if (line == u"Subcommands:") {
            inSubcommands = true;
            continue;
        }
        if (!inSubcommands || line.isEmpty())
            continue;
        // Each command once, where its first line names it. The empty word
        // of `touch` names no subcommand: any subcommand line proves a simctl
        // whose Simulator takes the touch settings.
        for (Command command : allCommands())
            if (line.startsWith(subcommand(command)))
                add(command);
    }
    add(Command::gps);
    return result;
}

std::shared_ptr<DeviceWatching> Toolset::deviceWatcher() const
{
    std::lock_guard lock(m_mutex);
    return m_deviceWatcher;
}

void Toolset::setDeviceWatcher(std::shared_ptr<DeviceWatching> watcher)
{
    std::lock_guard lock(m_mutex);
    m_deviceWatcher = std::move(watcher);
}

std::optional<QString> Toolset::run(const QStringList &arguments)
{
    if (!QFileInfo::exists(pathOf(m_simctlPath))) {
        postNotification(didBecomeInvalid, shared_from_this());
        return std::nullopt;
    }
    return runToolProcess(m_simctlPath, arguments);
}

std::shared_ptr<ChildProcess> Toolset::process(const QStringList &arguments)
{
    if (!QFileInfo::exists(pathOf(m_simctlPath)))
        postNotification(didBecomeInvalid, shared_from_this());
    return makeToolProcess(m_simctlPath, arguments);
}

QString Toolset::simulatorBundlePath() const
{
    return pathOf(appending(m_xcodePath, kSimulatorComponent));
}

std::optional<RunningApplication> Toolset::simulatorApplication() const
{
    const QString simulator = simulatorBundlePath();
    for (const QString &path : Workspace::runningExecutablePaths())
        if (path.contains(simulator))
            return RunningApplication(path);
    return std::nullopt;
}

QString Toolset::description() const
{
    return "Xcode " + m_version + " (" + m_build + ")";
}

std::size_t Toolset::hash() const
{
    return qHashMulti(0, bundlePath(), m_build);
}

void Toolset::sortNewestFirst(std::vector<std::shared_ptr<Toolset>> &toolsets)
{
    std::stable_sort(toolsets.begin(), toolsets.end(),
                     [](const auto &a, const auto &b) { return *a < *b; });
}

bool operator==(const Toolset &a, const Toolset &b)
{
    return a.bundlePath() == b.bundlePath() && a.m_build == b.m_build;
}

bool operator<(const Toolset &a, const Toolset &b)
{
    return numericCompare(a.version(), b.version()) == ComparisonResult::Descending;
}

std::optional<QString> xcodeBuildVersion(const QUrl &xcodePath)
{
    const QString path = pathOf(xcodePath);
    if (xcodePath.isEmpty() || !QFileInfo::exists(path))
        return std::nullopt;
    const auto root = PropertyList::readDictionary(path + "/Contents/version.plist");
    if (!root)
        return std::nullopt;
    const QVariant build = root->value("ProductBuildVersion");
    if (build.typeId() != QMetaType::QString)
        return std::nullopt;
    return build.toString();
}

std::shared_ptr<ChildProcess> makeToolProcess(const QUrl &tool, const QStringList &arguments)
{
    Log::toolset().debug("[Process] %@", arguments.join(' '));
    auto process = std::make_shared<ChildProcess>();
    const QString path = tool.toLocalFile();
    process->setExecutablePath(path);
    process->setArguments(path.contains("simctl") ? arguments : QStringList{"simctl"} + arguments);
    return process;
}

std::optional<QString> runToolProcess(const QUrl &tool, const QStringList &arguments)
{
    const QString path = tool.toLocalFile();
    if (!QFileInfo::exists(path))
        return std::nullopt;

    auto process = makeToolProcess(tool, arguments);
    process->setStandardOutput(ChildProcess::Channel::Pipe);
    process->setStandardError(ChildProcess::Channel::Pipe);
    try {
        process->launch();
    } catch (const LaunchError &error) {
        Log::toolset().error("Error running process %{PUBLIC}@ %{PUBLIC}@: %{PUBLIC}@", path,
                             arguments.join(' '), error.description());
        throw;
    }

    // Both pipes are drained while waiting, so a chatty tool can end and a
    // hung one cannot keep us past the deadline. Half a device list from a
    // stalled tool would drop the other half: it is an error.
    const auto collected = collectToolOutput(*process);
    if (!collected) {
        const QString command = (QFileInfo(path).fileName() + ' ' + arguments.join(' ')).trimmed();
        failRun(tool, arguments,
                CorvaneError(command + " did not finish in " +
                             QString::number(toolProcessTimeout().count() / 1000.0) + " seconds"));
    }

    const auto output = trimmedUtf8(collected->standardOutput);
    if (output && output->contains("usage: simctl") && !arguments.isEmpty() &&
        arguments.first() != "help") {
        QString firstLine = "Unknown";
        for (const QString &line : output->split('\n', Qt::SkipEmptyParts)) {
            firstLine = line;
            break;
        }
        failRun(tool, arguments, CorvaneError(firstLine));
    }

    if (process->isRunning())
        return output;

    const auto errorText = trimmedUtf8(collected->standardError);
    if (!errorText)
        return output;
    QStringList lines;
    for (const QString &line : errorText->split('\n', Qt::SkipEmptyParts))
        if (!line.contains("Metal API Validation"))
            lines << line;
    if (lines.isEmpty())
        return output;
    failRun(tool, arguments, CorvaneError(lines.join('|')));
}

} // namespace corvane
