#pragma once

#include "core/DirectoryMonitor.h"
#include "core/Observable.h"
#include "core/Observer.h"
#include "platform/defaults/CloudKeyValueStore.h"
#include "platform/defaults/UserDefaults.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvane {

// The user's settings. Each property reads and writes the user defaults under
// its key; writes of synced keys are mirrored to the cloud store while
// syncPreferences holds. Observers of a property hear every change of its
// user default, whoever made it, on the thread that made it.
class CorvaneSettings : public std::enable_shared_from_this<CorvaneSettings>,
                        public DirectoryMonitorDelegate {
public:
    static std::shared_ptr<CorvaneSettings> shared();
    // Tests: makes a fresh shared instance over these stores, which also
    // become the standard user defaults and the default cloud store; without
    // them, all three are made afresh from SystemPaths on next use.
    static void resetShared(std::shared_ptr<UserDefaults> defaults = nullptr,
                            std::shared_ptr<CloudKeyValueStore> cloud = nullptr);

    static std::shared_ptr<CorvaneSettings> make(std::shared_ptr<UserDefaults> defaults,
                                                 std::shared_ptr<CloudKeyValueStore> cloud);

    std::shared_ptr<UserDefaults> userDefaults() const { return m_defaults; }
    std::shared_ptr<CloudKeyValueStore> cloudStore() const { return m_cloud; }

    // The mapped key, or "--" when the property is not mapped.
    QString keyFromGetter(const QString &propertyName) const;
    // "setImageFormat:" gives the key of imageFormat; an unmapped property is a
    // programming error.
    QString keyFromSetter(const QString &setterName) const;
    static QString setterFromKey(const QString &name);
    bool shouldSyncForKey(const QString &key) const;
    QStringList syncedKeys() const;

    void registerCommonSettings();
    void registerMappings(const QMap<QString, QString> &propertyToKey);
    void registerSyncedPreferenceKeys(const QStringList &keys);
    void registerDefaults(const QVariantMap &defaults);

    void saveBool(bool value, const QString &key);
    // Nothing removes the key.
    void saveObject(const std::optional<QVariant> &value, const QString &key);

    // Called after each change of the property (with `initial`, once at once).
    ObserverPtr observe(const QString &propertyName, std::function<void()> handler,
                        bool initial = false);

    std::optional<QList<QUrl>> recentURLs() const;
    void setRecentURLs(const std::optional<QList<QUrl>> &urls);
    std::optional<QUrl> toolsPath() const;
    void setToolsPath(const std::optional<QUrl> &url);
    QUrl savePath() const;
    void setSavePath(const QUrl &url);
    bool includeMaskInCaptures() const;
    void setIncludeMaskInCaptures(bool value);
    std::optional<QString> autoAppliedStatusBar() const;
    void setAutoAppliedStatusBar(const std::optional<QString> &identifier);
    QString imageFormat() const;
    void setImageFormat(const QString &value);
    QString videoFormat() const;
    void setVideoFormat(const QString &value);
    QString gpsTimestampsDateMode() const;
    void setGpsTimestampsDateMode(const QString &value);
    QString gpsTimestampsTimeMode() const;
    void setGpsTimestampsTimeMode(const QString &value);
    QString gpsPace() const;
    void setGpsPace(const QString &value);
    QString gpsSpeed() const;
    void setGpsSpeed(const QString &value);
    bool gpsAutoRewind() const;
    void setGpsAutoRewind(bool value);
    bool syncPreferences() const;
    void setSyncPreferences(bool value);

    bool hasSyncedToiCloudBefore() const;
    void disableSync();
    void resetSynedPreferences();
    // 1 pushes the user defaults to the cloud store, 0 pulls them from it;
    // both then turn sync on.
    void enableSyncWithBehavior(int behavior);

    ~CorvaneSettings() override;

    // Called on the monitor queue when the settings file's folder changes:
    // an edit by another process reaches the observers of the keys it changed.
    void
    directoryMonitorDidObserveChange(const std::shared_ptr<DirectoryMonitor> &monitor) override;

private:
    CorvaneSettings(std::shared_ptr<UserDefaults> defaults,
                    std::shared_ptr<CloudKeyValueStore> cloud);

    QString text(const QString &propertyName) const;
    void setText(const QString &setterName, const QString &value);
    bool flag(const QString &propertyName) const;
    void setFlag(const QString &setterName, bool value);
    void observeDefaultsKey(const QString &key);
    void propertyDidChange(const QString &propertyName);
    Observable<int> &observable(const QString &propertyName);

    const std::shared_ptr<UserDefaults> m_defaults;
    const std::shared_ptr<CloudKeyValueStore> m_cloud;
    DirectoryMonitorPtr m_fileMonitor;

    mutable std::mutex m_mutex;
    QMap<QString, QString> m_propertyToKey;
    QMap<QString, QString> m_keyToProperty;
    QStringList m_syncedKeys;
    std::map<QString, UserDefaults::ObservationPtr> m_defaultsObservations;
    std::map<QString, std::unique_ptr<Observable<int>>> m_observables;
};

} // namespace corvane
