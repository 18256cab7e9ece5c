#include "core/CorvaneSettings.h"

#include "platform/Log.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFileInfo>

namespace corvane {

namespace {

std::mutex g_sharedMutex;
std::shared_ptr<CorvaneSettings> g_shared;

const QString kUnmappedKey = "--";
const QString kSyncPreferences = "syncPreferences";
const QString kSyncHasBeenOn = "iCloudSyncHasBeenOn";
const QString kURLSeparator = "||";

QString expandTilde(const QString &path)
{
    const QString home = SystemPaths::current().home;
    if (path == "~")
        return home;
    if (path.startsWith("~/"))
        return home + path.mid(1);
    return path;
}

} // namespace

std::shared_ptr<CorvaneSettings> CorvaneSettings::shared()
{
    std::lock_guard lock(g_sharedMutex);
    // Registered as it is made, so that no reader (a background reload racing
    // start-up or a test's tear-down) meets a store without its keys.
    if (!g_shared) {
        g_shared = make(UserDefaults::standard(), CloudKeyValueStore::defaultStore());
        g_shared->registerCommonSettings();
    }
    return g_shared;
}

void CorvaneSettings::resetShared(std::shared_ptr<UserDefaults> defaults,
                                  std::shared_ptr<CloudKeyValueStore> cloud)
{
    UserDefaults::setStandard(defaults);
    CloudKeyValueStore::setDefaultStore(cloud);
    std::shared_ptr<CorvaneSettings> fresh;
    if (defaults && cloud) {
        fresh = make(std::move(defaults), std::move(cloud));
        fresh->registerCommonSettings();
    }
    std::lock_guard lock(g_sharedMutex);
    g_shared = std::move(fresh);
}

CorvaneSettings::CorvaneSettings(std::shared_ptr<UserDefaults> defaults,
                                 std::shared_ptr<CloudKeyValueStore> cloud)
    : m_defaults(std::move(defaults)), m_cloud(std::move(cloud))
{
}

std::shared_ptr<CorvaneSettings> CorvaneSettings::make(std::shared_ptr<UserDefaults> defaults,
                                                       std::shared_ptr<CloudKeyValueStore> cloud)
{
    std::shared_ptr<CorvaneSettings> settings(
        new CorvaneSettings(std::move(defaults), std::move(cloud)));
    // syncPreferences has no mapping, yet its observers hear changes of its key too.
    settings->observeDefaultsKey(kUnmappedKey);
    if (!settings->m_defaults->isSuite()) {
        // Made now, so that the watch is on the folder itself from the start
        // rather than on an ancestor until the first write.
        const QString folder = QFileInfo(settings->m_defaults->filePath()).absolutePath();
        QDir().mkpath(folder);
        settings->m_fileMonitor = DirectoryMonitor::make(folder, true);
        settings->m_fileMonitor->setDelegate(settings);
        settings->m_fileMonitor->startMonitoring();
    }
    return settings;
}

CorvaneSettings::~CorvaneSettings()
{
    if (m_fileMonitor)
        m_fileMonitor->stop();
}

void CorvaneSettings::directoryMonitorDidObserveChange(const std::shared_ptr<DirectoryMonitor> &)
{
    m_defaults->noticeOutsideChanges();
}

QString CorvaneSettings::keyFromGetter(const QString &propertyName) const
{
    std::lock_guard lock(m_mutex);
    return m_propertyToKey.value(propertyName, kUnmappedKey);
}

QString CorvaneSettings::keyFromSetter(const QString &setterName) const
{
    QString name = setterName.mid(3);
    if (!name.isEmpty())
        name[0] = name[0].toLower();
    name.remove(':');
    QString key;
    {
        std::lock_guard lock(m_mutex);
        key = m_propertyToKey.value(name);
    }
    Q_ASSERT_X(!key.isEmpty(), "keyFromSetter", "key != NULL");
    if (key.isEmpty())
        Log::general().fault("No settings key for %{public}@", setterName);
    return key;
}

QString CorvaneSettings::setterFromKey(const QString &name)
{
    QString capitalized = name;
    if (!capitalized.isEmpty())
        capitalized[0] = capitalized[0].toUpper();
    return QStringLiteral("set%1:").arg(capitalized);
}

bool CorvaneSettings::shouldSyncForKey(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    return m_syncedKeys.contains(key);
}

QStringList CorvaneSettings::syncedKeys() const
{
    std::lock_guard lock(m_mutex);
    return m_syncedKeys;
}

void CorvaneSettings::registerCommonSettings()
{
    QMap<QString, QString> mappings;
    for (const char *name :
         {"recentURLs", "toolsPath", "savePath", "includeMaskInCaptures", "autoAppliedStatusBar",
          "imageFormat", "videoFormat", "gpsTimestampsDateMode", "gpsTimestampsTimeMode", "gpsPace",
          "gpsSpeed", "gpsAutoRewind"})
        mappings.insert(name, name);
    registerMappings(mappings);

    QStringList synced;
    for (const char *name :
         {"recentURLs", "savePath", "includeMaskInCaptures", "autoAppliedStatusBar", "imageFormat",
          "videoFormat", "gpsTimestampsDateMode", "gpsTimestampsTimeMode", "gpsPace", "gpsSpeed",
          "gpsAutoRewind"})
        synced << keyFromGetter(name);
    registerSyncedPreferenceKeys(synced);

    registerDefaults({
        {keyFromGetter(kSyncPreferences), true},
        {keyFromGetter("savePath"), QUrl::fromLocalFile(SystemPaths::current().home + "/Desktop")},
        {keyFromGetter("includeMaskInCaptures"), false},
        {keyFromGetter("imageFormat"), "png"},
        {keyFromGetter("videoFormat"), "h264"},
        {keyFromGetter("gpsAutoRewind"), false},
        {keyFromGetter("gpsTimestampsDateMode"), "today"},
        {keyFromGetter("gpsTimestampsTimeMode"), "now"},
        {keyFromGetter("gpsPace"), "realtime"},
        {keyFromGetter("gpsSpeed"), "normal"},
    });
}

void CorvaneSettings::registerMappings(const QMap<QString, QString> &propertyToKey)
{
    {
        std::lock_guard lock(m_mutex);
        for (auto it = propertyToKey.begin(); it != propertyToKey.end(); ++it) {
            m_propertyToKey.insert(it.key(), it.value());
            m_keyToProperty.insert(it.value(), it.key());
        }
    }
    // At once rather than later on a queue, so that no change slips by unheard.
    for (const QString &key : propertyToKey)
        observeDefaultsKey(key);
}

void CorvaneSettings::registerSyncedPreferenceKeys(const QStringList &keys)
{
    std::lock_guard lock(m_mutex);
    for (const QString &key : keys)
        if (!m_syncedKeys.contains(key))
            m_syncedKeys << key;
}

void CorvaneSettings::registerDefaults(const QVariantMap &defaults)
{
    m_defaults->registerDefaults(defaults);
}

void CorvaneSettings::observeDefaultsKey(const QString &key)
{
    std::weak_ptr<CorvaneSettings> weak = weak_from_this();
    // Held throughout, so that a key is bridged once; the user defaults never
    // call back while registering.
    std::lock_guard lock(m_mutex);
    if (m_defaultsObservations.count(key))
        return;
    m_defaultsObservations.emplace(
        key, m_defaults->observe(key, [weak, key](const std::optional<QVariant> &) {
            auto self = weak.lock();
            if (!self)
                return;
            QString property;
            {
                std::lock_guard lock(self->m_mutex);
                property =
                    key == kUnmappedKey ? kSyncPreferences : self->m_keyToProperty.value(key);
            }
            if (!property.isEmpty())
                self->propertyDidChange(property);
        }));
}

Observable<int> &CorvaneSettings::observable(const QString &propertyName)
{
    std::lock_guard lock(m_mutex);
    auto &slot = m_observables[propertyName];
    if (!slot)
        slot = std::make_unique<Observable<int>>(0);
    return *slot;
}

void CorvaneSettings::propertyDidChange(const QString &propertyName)
{
    observable(propertyName).notify();
}

ObserverPtr CorvaneSettings::observe(const QString &propertyName, std::function<void()> handler,
                                     bool initial)
{
    return observable(propertyName)
        .observe([handler = std::move(handler)](const int &, const int &) { handler(); }, initial);
}

void CorvaneSettings::saveBool(bool value, const QString &key)
{
    saveObject(QVariant(value), key);
}

void CorvaneSettings::saveObject(const std::optional<QVariant> &value, const QString &key)
{
    if (key.isEmpty())
        return;
    if (value)
        m_defaults->set(key, *value);
    else
        m_defaults->remove(key);
    if (syncPreferences() && shouldSyncForKey(key)) {
        if (value)
            m_cloud->set(key, *value);
        else
            m_cloud->remove(key);
    }
}

QString CorvaneSettings::text(const QString &propertyName) const
{
    return m_defaults->string(keyFromGetter(propertyName)).value_or(QString());
}

void CorvaneSettings::setText(const QString &setterName, const QString &value)
{
    saveObject(QVariant(value), keyFromSetter(setterName));
}

bool CorvaneSettings::flag(const QString &propertyName) const
{
    return m_defaults->boolean(keyFromGetter(propertyName));
}

void CorvaneSettings::setFlag(const QString &setterName, bool value)
{
    saveBool(value, keyFromSetter(setterName));
}

std::optional<QList<QUrl>> CorvaneSettings::recentURLs() const
{
    const auto stored = m_defaults->string(keyFromGetter("recentURLs"));
    if (!stored)
        return std::nullopt;
    QList<QUrl> urls;
    for (const QString &part : stored->split(kURLSeparator, Qt::SkipEmptyParts)) {
        const QUrl url(part, QUrl::StrictMode);
        if (url.isValid() && !url.isEmpty())
            urls.append(url);
    }
    if (urls.isEmpty())
        return std::nullopt;
    return urls;
}

void CorvaneSettings::setRecentURLs(const std::optional<QList<QUrl>> &urls)
{
    const QString key = keyFromSetter("setRecentURLs:");
    if (!urls) {
        saveObject(std::nullopt, key);
        return;
    }
    QStringList parts;
    for (const QUrl &url : *urls)
        parts << url.toString(QUrl::FullyEncoded);
    saveObject(QVariant(parts.join(kURLSeparator)), key);
}

std::optional<QUrl> CorvaneSettings::toolsPath() const
{
    const auto path = m_defaults->string(keyFromGetter("toolsPath"));
    if (!path)
        return std::nullopt;
    return QUrl::fromLocalFile(*path);
}

void CorvaneSettings::setToolsPath(const std::optional<QUrl> &url)
{
    const QString key = keyFromSetter("setToolsPath:");
    saveObject(url ? std::optional<QVariant>(url->toLocalFile()) : std::nullopt, key);
}

QUrl CorvaneSettings::savePath() const
{
    // Cleaned before "~" is expanded ("x/../~" is the home folder); a value
    // that is still relative would put captures in the working directory and
    // reads as the default, as an empty one does.
    const QString stored = m_defaults->string(keyFromGetter("savePath")).value_or(QString());
    const QString path = expandTilde(QDir::cleanPath(stored));
    if (stored.isEmpty() || !QDir::isAbsolutePath(path))
        return QUrl::fromLocalFile(QDir::cleanPath(expandTilde("~/Desktop")));
    return QUrl::fromLocalFile(QDir::cleanPath(path));
}

void CorvaneSettings::setSavePath(const QUrl &url)
{
    saveObject(QVariant(SystemPaths::current().abbreviatingHome(url.toLocalFile())),
               keyFromSetter("setSavePath:"));
}

bool CorvaneSettings::includeMaskInCaptures() const
{
    return flag("includeMaskInCaptures");
}

void CorvaneSettings::setIncludeMaskInCaptures(bool value)
{
    setFlag("setIncludeMaskInCaptures:", value);
}

std::optional<QString> CorvaneSettings::autoAppliedStatusBar() const
{
    return m_defaults->string(keyFromGetter("autoAppliedStatusBar"));
}

void CorvaneSettings::setAutoAppliedStatusBar(const std::optional<QString> &identifier)
{
    saveObject(identifier ? std::optional<QVariant>(*identifier) : std::nullopt,
               keyFromSetter("setAutoAppliedStatusBar:"));
}

QString CorvaneSettings::imageFormat() const
{
    return text("imageFormat");
}

void CorvaneSettings::setImageFormat(const QString &value)
{
    setText("setImageFormat:", value);
}

QString CorvaneSettings::videoFormat() const
{
    return text("videoFormat");
}

void CorvaneSettings::setVideoFormat(const QString &value)
{
    setText("setVideoFormat:", value);
}

QString CorvaneSettings::gpsTimestampsDateMode() const
{
    return text("gpsTimestampsDateMode");
}

void CorvaneSettings::setGpsTimestampsDateMode(const QString &value)
{
    setText("setGpsTimestampsDateMode:", value);
}

QString CorvaneSettings::gpsTimestampsTimeMode() const
{
    return text("gpsTimestampsTimeMode");
}

void CorvaneSettings::setGpsTimestampsTimeMode(const QString &value)
{
    setText("setGpsTimestampsTimeMode:", value);
}

QString CorvaneSettings::gpsPace() const
{
    return text("gpsPace");
}

void CorvaneSettings::setGpsPace(const QString &value)
{
    setText("setGpsPace:", value);
}

QString CorvaneSettings::gpsSpeed() const
{
    return text("gpsSpeed");
}

void CorvaneSettings::setGpsSpeed(const QString &value)
{
    setText("setGpsSpeed:", value);
}

bool CorvaneSettings::gpsAutoRewind() const
{
    return flag("gpsAutoRewind");
}

void CorvaneSettings::setGpsAutoRewind(bool value)
{
    setFlag("setGpsAutoRewind:", value);
}

bool CorvaneSettings::syncPreferences() const
{
    return m_defaults->boolean(keyFromGetter(kSyncPreferences));
}

// Stored where the getter reads it; never mirrored.
void CorvaneSettings::setSyncPreferences(bool value)
{
    m_defaults->set(kUnmappedKey, value);
}

bool CorvaneSettings::hasSyncedToiCloudBefore() const
{
    return m_cloud->boolean(kSyncHasBeenOn);
}

void CorvaneSettings::disableSync()
{
    setSyncPreferences(false);
}

void CorvaneSettings::resetSynedPreferences()
{
    for (const QString &key : syncedKeys())
        m_cloud->remove(key);
    m_cloud->synchronize();
}

void CorvaneSettings::enableSyncWithBehavior(int behavior)
{
    const QString includeMaskKey = keyFromGetter("includeMaskInCaptures");
    const QString autoRewindKey = keyFromGetter("gpsAutoRewind");
    if (behavior == 1) {
        for (const QString &key : syncedKeys()) {
            const auto value = m_defaults->object(key);
            // The registered save folder is a URL, which the cloud store cannot
            // hold; only a folder the user chose travels.
            if (!value || value->typeId() == QMetaType::QUrl)
                continue;
            // The INI file keeps booleans as text; the cloud store gets them typed.
            if (key == includeMaskKey || key == autoRewindKey)
                m_cloud->set(key, m_defaults->boolean(key));
            else
                m_cloud->set(key, *value);
        }
    } else if (behavior == 0) {
        // Each write reaches the property's observers through the bridge.
        for (const QString &key : syncedKeys()) {
            if (const auto value = m_cloud->object(key))
                m_defaults->set(key, *value);
        }
    }
    setSyncPreferences(true);
    m_cloud->set(kSyncHasBeenOn, true);
}

} // namespace corvane
