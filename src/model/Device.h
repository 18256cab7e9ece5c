#pragma once

#include "core/DirectoryMonitor.h"
#include "model/Runtime.h"
#include "platform/Object.h"

#include <QHashFunctions>
#include <QString>
#include <QStringView>
#include <QUrl>
#include <QUuid>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvane {

class Application;
class ChildProcess;
class StatusBarPreset;
class Toolset;

namespace Notifications {
// Posted by a device watcher on the main queue when the set of listed devices
// changed; the object is the watcher, the user info empty.
inline const QString deviceListDidChange = "com.quendrith.corvane.deviceListDidChange";
} // namespace Notifications

// One simulated device of an Xcode, made from a line of `simctl list`. The
// listing that made it refreshes its title, status and pairs on a background
// queue while menus read them, so those sit behind the device's mutex.
class Device : public Object, public DirectoryMonitorDelegate {
public:
    static constexpr const char *applicationListDidChange =
        "com.quendrith.corvane.device.applicationListDidChange";
    static constexpr const char *recordingDidChange =
        "com.quendrith.corvane.device.recordingdidchange";

    // An option set: a line whose state is neither gives the empty set.
    class Status {
    public:
        static const Status shutdown;
        static const Status booted;

        constexpr Status() = default;
        constexpr explicit Status(int rawValue) : m_rawValue(rawValue) {}

        constexpr int rawValue() const { return m_rawValue; }
        constexpr bool isEmpty() const { return m_rawValue == 0; }
        constexpr bool contains(Status member) const
        {
            return (m_rawValue & member.m_rawValue) == member.m_rawValue;
        }
        constexpr Status operator|(Status other) const
        {
            return Status(m_rawValue | other.m_rawValue);
        }
        constexpr bool operator==(const Status &) const = default;

    private:
        int m_rawValue = 0;
    };

    // Listed in this order; the first whose raw value occurs in the device
    // type wins.
    enum class Category { iPhone, iPad, Watch, TV, Vision, Unknown };
    static const std::vector<Category> &allCategories();
    static QString rawValue(Category category);
    static std::optional<Category> categoryFromRawValue(const QString &rawValue);

    enum class Appearance { light = 0, dark = 1 };
    static const std::vector<Appearance> &allAppearances();
    static int rawValue(Appearance appearance);
    static std::optional<Appearance> appearanceFromRawValue(int rawValue);

    enum class ContentSize {
        extraSmall = 0,
        small,
        medium,
        large,
        extraLarge,
        extraExtraLarge,
        extraExtraExtraLarge,
        accessibilityMedium,
        accessibilityLarge,
        accessibilityExtraLarge,
        accessibilityExtraExtraLarge,
        accessibilityExtraExtraExtraLarge,
    };
    static const std::vector<ContentSize> &allContentSizes();
    static int rawValue(ContentSize size);
    static std::optional<ContentSize> contentSizeFromRawValue(int rawValue);
    // The word simctl reads and prints.
    static QString text(ContentSize size);
    static QString menuTitle(ContentSize size);

    // The parts of a device line: the name, the upper-case UDID and the state
    // text, as views into the line.
    struct DeviceLineMatch {
        QStringView name;
        QStringView udid;
        QStringView state;
    };
    // Finds what the pattern (.*)\s+\((UDID)\)\s+\(([^\)]+)\) finds, in one
    // pass over the line (the pattern backtracks over the whole name):
    // the last UDID in parentheses after a blank that a blank and a state in
    // parentheses follow. The name keeps its own parentheses and any further
    // blanks; text after the state is ignored. Lines hold no line breaks.
    class DeviceLineExpression {
    public:
        std::optional<DeviceLineMatch> match(QStringView line) const;
    };
    static const DeviceLineExpression &deviceLineExpression();
    // The status a state text stands for.
    static Status statusFromStateText(QStringView state);

    // CoreSimulator's devices folder under the current home.
    static QString devicesFolder();

    // Nothing when the line is no device line or its UDID no UUID. The line
    // comes trimmed; the runtime is the heading it was listed under.
    static std::shared_ptr<Device> initFromListLine(const QString &line, const Runtime &runtime,
                                                    const std::shared_ptr<Toolset> &toolset);

    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    QUuid uuid() const { return m_uuid; }
    // Upper case, 36 characters: the device argument of simctl.
    QString udid() const { return m_udid; }
    Category category() const { return m_category; }
    // The "deviceType" of the device's device.plist, or "unknown".
    QString deviceIdentifier() const { return m_deviceIdentifier; }
    Runtime runtime() const { return m_runtime; }
    std::shared_ptr<Toolset> toolset() const { return m_toolset.lock(); }
    QUrl url() const { return m_url; }
    QUrl applicationDirectory() const { return m_applicationDirectory; }

    QString title() const;
    void setTitle(const QString &title);
    Status status() const;
    void setStatus(Status status);
    // UDIDs of the devices paired with this one.
    std::vector<QUuid> pairedTo() const;
    void setPairedTo(std::vector<QUuid> pairedTo);

    // "title - version".
    QString description() const;
    // The resource that stands for the device in menus.
    QString image() const;
    static QString imageName(Category category, const QString &deviceIdentifier);

    // Runtime system first, then the newer version, then the title.
    static bool comesBefore(const Device &a, const Device &b);
    static void sort(std::vector<std::shared_ptr<Device>> &devices);

    friend bool operator==(const Device &a, const Device &b) { return a.m_uuid == b.m_uuid; }
    friend bool operator<(const Device &a, const Device &b) { return comesBefore(a, b); }
    friend bool operator>(const Device &a, const Device &b) { return comesBefore(b, a); }
    friend bool operator<=(const Device &a, const Device &b) { return !comesBefore(b, a); }
    friend bool operator>=(const Device &a, const Device &b) { return !comesBefore(a, b); }

    // The device's actions, run on the caller's thread. Each simctl step is
    // skipped when the toolset has gone; a failing run is dropped (the runner
    // logs it). None reports failure to the caller.
    // Boots the device, then brings the Simulator to the front in any case.
    void launch();
    void shutdown();
    void erase();
    // Uninstalls every application in title order, shuts down and deletes.
    void delete_();
    void resetKeychain();
    // The device's pasteboard to the host's.
    void copy();
    // The host's pasteboard to the device's.
    void paste();
    void installFrom(const QUrl &url);
    void addMediaFrom(const QUrl &url);
    // light when it cannot be read.
    Appearance appearance() const;
    void setAppearance(Appearance appearance);
    // dark unless the device reads as dark.
    void toggleAppearance();
    // medium when it cannot be read.
    ContentSize contentSize() const;
    void setContentSize(ContentSize size);
    // Opens the URL on the device and puts it first among the recent URLs,
    // unless simctl refused it.
    void openWithUrl(const QUrl &url);
    // The device's data folder in the file manager.
    void showContents() const;
    void bringToFront() const;
    // Starts a task that fills the photo library with images for the search.
    void unsplashFor(const QString &searchString);
    // The most recent URLs kept.
    static constexpr int recentURLLimit = 5;
    // The word simctl reads and prints.
    static QString text(Appearance appearance);

    // Installed applications by bundle identifier.
    using ApplicationTable = std::map<QString, std::shared_ptr<Application>>;

    // The installed applications in title order.
    std::vector<std::shared_ptr<Application>> applications() const;
    ApplicationTable applicationTable() const;
    // Reads the bundles in the applications folder; identifiers in `reuse`
    // keep their objects, which follow a bundle that moved.
    ApplicationTable loadApplications(const ApplicationTable &reuse);
    // Scans again and posts applicationListDidChange when the list changed.
    void reloadApplications();
    // The watch of the applications folder, running while the device lives.
    std::shared_ptr<DirectoryMonitor> applicationWatcher() const;

    // A change of the applications folder rescans a second after the last.
    void
    directoryMonitorDidObserveChange(const std::shared_ptr<DirectoryMonitor> &monitor) override;
    // The debounce key of this object's rescans.
    QString applicationsDebounceKey() const;

    ~Device() override;

    // The status-bar override; both block while simctl runs, and ignore its
    // failures.
    void setStatusBarUsing(const StatusBarPreset &preset);
    void resetStatusBar();
    // Applies the preset chosen to go before every capture, if it still exists.
    void applyAutoAppliedStatusBar();

    // Captures into the save folder (or, for copyScreenshot, onto the
    // pasteboard); both block while simctl runs.
    void screenshot();
    void copyScreenshot();
    // Return at once; recordingDidChange tells when a recording starts and
    // ends.
    void startRecording();
    void stopRecording();
    // The simctl process recording this device, present from the start of a
    // recording until it has ended.
    std::shared_ptr<ChildProcess> recordingTask() const;
    bool isRecording() const { return recordingTask() != nullptr; }

    // The serial queue that makes recording processes.
    static const DispatchQueuePtr &recordingQueue();

private:
    void beginRecording();
    void recordingDidLaunch(const std::shared_ptr<ChildProcess> &process);
    static void interruptWhenReady(const std::shared_ptr<ChildProcess> &process, bool wait);
    static void recordingDidTerminate(const std::weak_ptr<Device> &device,
                                      const std::shared_ptr<ChildProcess> &process);
    void postRecordingDidChange();

    Device(QUuid uuid, QString title, Status status, Runtime runtime,
           std::weak_ptr<Toolset> toolset);
    // The first scan, then the watch; the last steps of creation.
    void startApplicationWatching();
    void applicationsDidChange(const ApplicationTable &old);
    static bool runtimeOrTitleBefore(const Runtime &ra, const QString &ta, const Runtime &rb,
                                     const QString &tb);

    const QUuid m_uuid;
    const QString m_udid;
    // Tells this object from others of the same UDID.
    const quint64 m_objectNumber;
    const Runtime m_runtime;
    const std::weak_ptr<Toolset> m_toolset;
    QUrl m_url;
    QUrl m_applicationDirectory;
    QString m_deviceIdentifier;
    Category m_category = Category::Unknown;

    mutable std::mutex m_mutex;
    QString m_title;
    Status m_status;
    std::vector<QUuid> m_pairedTo;
    std::shared_ptr<ChildProcess> m_recordingTask;
    // A stop that comes while a recording is being set up or launched is
    // kept here and sent once the process runs: interrupting needs a pid.
    bool m_recordingStarting = false;
    bool m_recordingLaunched = false;
    bool m_recordingStopRequested = false;
    ApplicationTable m_applications;

    // Rescans run one at a time, so that each starts from the last one's list.
    std::mutex m_reloadMutex;
    // Set once during creation, before the device is shared.
    std::shared_ptr<DirectoryMonitor> m_applicationWatcher;
};

inline constexpr Device::Status Device::Status::shutdown{1};
inline constexpr Device::Status Device::Status::booted{2};

using DevicePtr = std::shared_ptr<Device>;

inline size_t qHash(const Device &device, size_t seed = 0)
{
    return qHash(device.uuid(), seed);
}

} // namespace corvane

template <> struct std::hash<corvane::Device> {
    std::size_t operator()(const corvane::Device &device) const { return corvane::qHash(device); }
};
