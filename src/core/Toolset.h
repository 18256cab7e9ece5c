#pragma once

#include "core/DirectoryMonitor.h"
#include "core/ProcessRunner.h"
#include "platform/Object.h"
#include "platform/desktop/Workspace.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvane {

class ChildProcess;
class DeviceWatching;

// One installed Xcode: where its bundle and simctl lie, its version and
// build, and which simctl capabilities it offers. It watches its bundle and
// posts didBecomeInvalid when the bundle moves or changes its build.
class Toolset : public Object, public DirectoryMonitorDelegate {
public:
    static constexpr const char *didBecomeInvalid =
        "com.quendrith.corvane.toolset.didBecomeInvalid";

    // Raw values are the indexes; `delete_` stands for the "delete" case.
    enum class Command {
        deviceListing,
        delete_,
        boot,
        shutdown,
        appearance,
        statusBar,
        keychain,
        push,
        openURLs,
        screenshots,
        recording,
        addmedia,
        paste,
        copy,
        erase,
        touch,
        gps,
        gpsFull,
        privacy,
        containerListing,
        install,
        uninstall,
        launch,
        quit,
    };
    static const std::vector<Command> &allCommands();
    static int rawValue(Command command);
    static std::optional<Command> commandFromRawValue(int rawValue);
    // The usage-text word that proves the capability.
    static QString subcommand(Command command);

    enum class ImageFormats { png, jpeg };
    static const std::vector<ImageFormats> &allImageFormats();
    static QString rawValue(ImageFormats format);
    static std::optional<ImageFormats> imageFormatFromRawValue(const QString &rawValue);

    enum class VideoFormats { h264, hevc };
    static const std::vector<VideoFormats> &allVideoFormats();
    static QString rawValue(VideoFormats format);
    static std::optional<VideoFormats> videoFormatFromRawValue(const QString &rawValue);

    // Nothing when the bundle or its simctl is missing.
    static std::shared_ptr<Toolset> make(const QUrl &xcodePath);
    ~Toolset() override;

    QUrl xcodePath() const { return m_xcodePath; }
    QUrl simctlPath() const { return m_simctlPath; }
    QString version() const { return m_version; }
    QString build() const { return m_build; }

    // Read from simctl's usage text on first use and kept for the toolset's
    // life, also when that run failed (then empty).
    const std::vector<Command> &supportedCommands() const;
    bool supports(Command command) const;
    // The commands a usage text offers, in the order its lines name them.
    static std::vector<Command> parseSupportedCommands(const QString &usage);

    std::shared_ptr<DeviceWatching> deviceWatcher() const;
    void setDeviceWatcher(std::shared_ptr<DeviceWatching> watcher);

    // Runs simctl; nothing (after posting didBecomeInvalid) when it is gone.
    // Throws CorvaneError and LaunchError.
    std::optional<QString> run(const QStringList &arguments);
    // An unlaunched simctl process; posts didBecomeInvalid when simctl is gone.
    std::shared_ptr<ChildProcess> process(const QStringList &arguments);

    // This Xcode's running Simulator: the first process whose executable
    // lies inside its Simulator.app; nothing when none runs.
    std::optional<RunningApplication> simulatorApplication() const;
    // The path of this Xcode's Simulator.app bundle.
    QString simulatorBundlePath() const;

    QString description() const;
    std::size_t hash() const;

    // Newest version first; equal versions keep their order.
    static void sortNewestFirst(std::vector<std::shared_ptr<Toolset>> &toolsets);

    // Called on the monitor queue for every change of the bundle's folder.
    void
    directoryMonitorDidObserveChange(const std::shared_ptr<DirectoryMonitor> &monitor) override;

private:
    Toolset() = default;
    QString bundlePath() const;

    QUrl m_xcodePath;
    QUrl m_simctlPath;
    QString m_version;
    QString m_build;

    mutable std::once_flag m_commandsDetected;
    mutable std::vector<Command> m_supportedCommands;

    mutable std::mutex m_mutex;
    std::shared_ptr<DeviceWatching> m_deviceWatcher;

    // Set once by make(), before the toolset is shared.
    std::shared_ptr<DirectoryMonitor> m_monitor;

    friend bool operator==(const Toolset &a, const Toolset &b);
};

bool operator==(const Toolset &a, const Toolset &b);
// `a < b` when a's version is the newer one.
bool operator<(const Toolset &a, const Toolset &b);
inline bool operator>(const Toolset &a, const Toolset &b)
{
    return b < a;
}
inline bool operator<=(const Toolset &a, const Toolset &b)
{
    return !(b < a);
}
inline bool operator>=(const Toolset &a, const Toolset &b)
{
    return !(a < b);
}

// The "ProductBuildVersion" of an Xcode bundle's Contents/version.plist.
std::optional<QString> xcodeBuildVersion(const QUrl &xcodePath);

// A configured, unlaunched process for the tool; "simctl" goes in front of the
// arguments when the tool's path does not name it.
std::shared_ptr<ChildProcess> makeToolProcess(const QUrl &tool, const QStringList &arguments);

// Runs the tool and returns its trimmed output; nothing when the tool is
// missing or its output is no UTF-8. Throws CorvaneError (a usage text for a
// subcommand, or error output) and LaunchError.
std::optional<QString> runToolProcess(const QUrl &tool, const QStringList &arguments);

} // namespace corvane

template <> struct std::hash<corvane::Toolset> {
    std::size_t operator()(const corvane::Toolset &toolset) const { return toolset.hash(); }
};
