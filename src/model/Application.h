#pragma once

#include "core/Observable.h"
#include "model/IconImage.h"
#include "platform/Object.h"

#include <QDateTime>
#include <QImage>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <QVariantMap>

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvane {

class Container;
class Device;
class FileCoordinator;
class FileManager;
class Toolset;

// One application installed on one simulated device, read from its ".app"
// bundle. The device's scan keeps one object per bundle identifier and hands
// it a new bundle location when the application is reinstalled elsewhere.
class Application : public Object {
public:
    static constexpr const char *applicationDidUpdate =
        "com.quendrith.corvane.applicationDidUpdate";

    // The application's own icon and the file it was read from: a loose icon
    // file of the bundle, or a cache file of a catalog icon.
    struct AppIcon {
        IconImage image;
        QUrl url;
    };

    // What marks a catalog icon's cache file in the temporary folder.
    static constexpr const char *iconCachePrefix = "CV-ICO-";

    enum class ExecutableType { app, clip };
    static const std::vector<ExecutableType> &allExecutableTypes();
    static QString rawValue(ExecutableType type);
    static std::optional<ExecutableType> executableTypeFromRawValue(const QString &rawValue);

    // Whether creation and moves ask the activity monitor themselves, or leave
    // it to a caller that asks once for a whole scan (processListAfterChanges).
    enum class SimulatorCheck { each, byCaller };

    // Nothing when the bundle's folder is no UUID or no "*.plist" in it has a
    // non-empty text "CFBundleIdentifier". A caller that already found the
    // bundle's Info dictionary passes it along.
    static std::shared_ptr<Application> make(const QUrl &url, const std::shared_ptr<Device> &device,
                                             const std::shared_ptr<Toolset> &toolset,
                                             SimulatorCheck check = SimulatorCheck::each,
                                             std::optional<QVariantMap> infoDictionary = {});

    Application(const Application &) = delete;
    Application &operator=(const Application &) = delete;

    // The coordinator of reads of application bundles.
    static FileCoordinator &fileCoordinator();

    // The first "*.plist" directly in the bundle, in glob order, that is a
    // dictionary with "CFBundleIdentifier"; empty when none is.
    static QVariantMap findInfoDictionary(const QUrl &bundle);

    // The bundle's creation date: its birth time where the file system keeps
    // one, else its modification time; now when it cannot be read.
    static QDateTime creationDate(const QUrl &bundle);

    // A device that changed its applications leaves the activity monitor out of
    // date unless its last snapshot shows the simulator running, so the next
    // question lists processes again. A gone device counts as not running.
    static void processListAfterChanges(const std::shared_ptr<Device> &device);

    std::shared_ptr<Device> device() const { return m_device.lock(); }
    std::shared_ptr<Toolset> toolset() const { return m_toolset.lock(); }
    QUuid uuid() const;
    QUrl url() const;
    QDateTime created() const;
    std::optional<QString> identifier() const;
    QVariantMap infoDictionary() const;
    std::optional<ExecutableType> executableType() const { return m_executableType; }
    QStringList schemes() const;
    // The stand-by icon's resource name, by the device's platform.
    QString osIcon() const { return m_osIcon; }
    // The stand-by icon rendered from that resource.
    IconImage osIconImage() const;
    // Absent when the lookup found no icon of the application's own.
    std::optional<AppIcon> appIcon() const;

    // Looks the icon up in the bundle: loose files that the Info dictionary
    // names, else the asset catalog. Applications of tvOS and visionOS, and
    // of a gone device, keep what they have.
    void loadIcons();
    // The icon to show, never empty: the own icon, looked up again when its
    // cache file was purged, else the stand-by icon.
    IconImage iconImage();
    // The widest representation of iconImage().
    QImage icon();
    // The icon in `size` points (twice the pixels), masked to the shape of
    // the device's platform; nothing when no picture can be made.
    std::optional<QImage> displayIcon(QSizeF size);

    QString title() const { return m_title.get(); }
    void setTitle(const QString &title) { m_title.set(title); }
    QString minimumOS() const { return m_minimumOS.get(); }
    void setMinimumOS(const QString &minimumOS) { m_minimumOS.set(minimumOS); }
    QString executable() const { return m_executable.get(); }
    void setExecutable(const QString &executable) { m_executable.set(executable); }
    QString version() const { return m_version.get(); }
    void setVersion(const QString &version) { m_version.set(version); }
    QString build() const { return m_build.get(); }
    void setBuild(const QString &build) { m_build.set(build); }

    // For observers of the five texts; every set notifies.
    Observable<QString> &titleProperty() { return m_title; }
    Observable<QString> &minimumOSProperty() { return m_minimumOS; }
    Observable<QString> &executableProperty() { return m_executable; }
    Observable<QString> &versionProperty() { return m_version; }
    Observable<QString> &buildProperty() { return m_build; }

    // Fills the identifier, the dictionary, the texts and the schemes; a
    // dictionary without a text "CFBundleIdentifier" changes nothing.
    void applyInfoDictionary(const QVariantMap &infoDictionary);
    // The "CFBundleURLSchemes" of every "CFBundleURLTypes" entry, in order.
    void loadSchemes();

    // The bundle now lies at `url`. A folder that is no UUID, or a bundle
    // without an Info dictionary, changes nothing; otherwise the bundle data
    // is read again, the container caches are dropped and
    // applicationDidUpdate is posted on the calling thread. True when the
    // application took the new location.
    bool updateURL(const QUrl &url, SimulatorCheck check = SimulatorCheck::each);

    // Containers listed on demand; absent until listed, and again after a move.
    std::shared_ptr<Container> cachedDataContainer() const;
    void setCachedDataContainer(std::shared_ptr<Container> container);
    std::optional<std::vector<std::shared_ptr<Container>>> cachedGroupContainers() const;
    void
    setCachedGroupContainers(std::optional<std::vector<std::shared_ptr<Container>>> containers);

    // Containers, listed by simctl on demand and kept (ApplicationContainers).
    // The data container is listed again once its folder has gone; groups
    // once. Without a device, a toolset that lists containers, a bundle
    // identifier, or for a framework, nothing is listed.
    void loadDataContainer();
    void loadGroupContainers();
    // Lists first; nothing and an empty list when there are none.
    std::shared_ptr<Container> dataContainer();
    std::vector<std::shared_ptr<Container>> groupContainers();

    // The verb and the service of `simctl privacy`.
    enum class Permission { grant, revoke, reset };
    static const std::vector<Permission> &allPermissions();
    static QString rawValue(Permission permission);
    static std::optional<Permission> permissionFromRawValue(const QString &rawValue);
    enum class PermissionScope {
        all,
        calendar,
        contactslimited,
        contacts,
        locationalways,
        location,
        photos,
        photosadd,
        medialibrary,
        microphone,
        motion,
        reminders,
        siri,
    };
    static const std::vector<PermissionScope> &allPermissionScopes();
    static QString rawValue(PermissionScope scope);
    static std::optional<PermissionScope> permissionScopeFromRawValue(const QString &rawValue);

    // The application's actions, run on the caller's thread
    // (ApplicationActions). simctl steps need the device, the toolset and a
    // bundle identifier; their output and failures are dropped.
    // Runs "<verb> <udid> <identifier>".
    void runCommand(const QString &verb);
    void launch();
    void terminate();
    // Quits a running instance first.
    void uninstall();
    // The bundle's executable selected in the file manager.
    void open();
    // The bundle folder selected in the file manager.
    void reveal();
    // Writes the payload to a new "<UUID>.apns" in the temporary folder, then
    // pushes it; the file stays.
    void sendPushWithPayload(const QString &payload);
    void setPermission(Permission permission, PermissionScope scope);
    // The scope as its raw value; any other text does nothing.
    void grantPermissionTo(const QString &scope);
    void revokePermissionTo(const QString &scope);
    void resetPermissionTo(const QString &scope);
    // Remove their two folders of the data container; failures are dropped.
    void eraseSavedState();
    void eraseLaunchStoryboard();
    // Empty the data container, then the groups; throw the first failure.
    void resetContainers(FileManager &fileManager);
    void eraseSandbox(FileManager &fileManager);
    // "<title> <yyyy-MM-dd HH.mm.ss>.xcappdata", fit to be a file name.
    QString exportName() const;
    // Exports next to the previous export, through the task service.
    void repeatExportDataWithPrevious(const QUrl &previous);
    void importDataFrom(const QUrl &url);

    // "Foo v1.2 (34) - iPhone 15 - 17.2"; without the device "Foo v1.2 (34)".
    QString description() const;
    QString descriptionText() const { return description(); }

    // Same bundle identifier on the same device (both gone counts as same).
    bool isEqual(const std::shared_ptr<Object> &other) const;
    std::size_t hash() const;

    friend bool operator==(const Application &a, const Application &b);
    // By title, in the Finder's order.
    friend bool operator<(const Application &a, const Application &b);
    friend bool operator>(const Application &a, const Application &b) { return b < a; }
    friend bool operator<=(const Application &a, const Application &b) { return !(b < a); }
    friend bool operator>=(const Application &a, const Application &b) { return !(a < b); }

private:
    Application() = default;
    void setAppIcon(std::optional<AppIcon> icon);

    std::weak_ptr<Device> m_device;
    std::weak_ptr<Toolset> m_toolset;
    std::optional<ExecutableType> m_executableType;
    QString m_osIcon;

    mutable std::mutex m_mutex;
    QUuid m_uuid;
    QUrl m_url;
    QDateTime m_created;
    std::optional<QString> m_identifier;
    QVariantMap m_infoDictionary;
    QStringList m_schemes;
    std::optional<AppIcon> m_appIcon;
    std::shared_ptr<Container> m_dataContainer;
    std::optional<std::vector<std::shared_ptr<Container>>> m_groupContainers;

    Observable<QString> m_title;
    Observable<QString> m_minimumOS;
    Observable<QString> m_executable;
    Observable<QString> m_version;
    Observable<QString> m_build;
};

using ApplicationPtr = std::shared_ptr<Application>;

size_t qHash(const Application &application, size_t seed = 0);

} // namespace corvane

template <> struct std::hash<corvane::Application> {
    std::size_t operator()(const corvane::Application &application) const
    {
        return application.hash();
    }
};
