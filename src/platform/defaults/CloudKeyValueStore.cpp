#include "platform/defaults/CloudKeyValueStore.h"

#include "platform/files/AtomicFile.h"
#include "platform/Log.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SetAside.h"
#include "platform/files/SystemPaths.h"
#include "platform/defaults/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace corvane {

namespace {

std::mutex g_defaultMutex;
std::shared_ptr<CloudKeyValueStore> g_default;

Log syncLog()
{
    return Log("sync");
}

bool hasJsonForm(const QVariant &value, int depth = 0)
{
    if (depth > 64)
        return false;
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::QString:
    case QMetaType::QStringList: return true;
    case QMetaType::QVariantList:
        for (const QVariant &item : value.toList())
            if (!hasJsonForm(item, depth + 1))
                return false;
        return true;
    case QMetaType::QVariantMap:
        for (const QVariant &item : value.toMap())
            if (!hasJsonForm(item, depth + 1))
                return false;
        return true;
    default: return false;
    }
}

} // namespace

std::shared_ptr<CloudKeyValueStore> CloudKeyValueStore::defaultStore()
{
    std::lock_guard lock(g_defaultMutex);
    if (!g_default)
        g_default = std::make_shared<CloudKeyValueStore>(SystemPaths::current().syncDir +
                                                         "/KeyValueStore.json");
    return g_default;
}

void CloudKeyValueStore::setDefaultStore(std::shared_ptr<CloudKeyValueStore> store)
{
    std::lock_guard lock(g_defaultMutex);
    g_default = std::move(store);
}

CloudKeyValueStore::CloudKeyValueStore(QString path) : m_path(std::move(path))
{
}

std::optional<QVariant> CloudKeyValueStore::object(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    if (!m_loaded)
        synchronizeLocked();
    if (!m_values.contains(key))
        return std::nullopt;
    return m_values.value(key);
}

std::optional<QString> CloudKeyValueStore::string(const QString &key) const
{
    const auto value = object(key);
    if (!value || value->typeId() != QMetaType::QString)
        return std::nullopt;
    return value->toString();
}

bool CloudKeyValueStore::boolean(const QString &key) const
{
    const auto value = object(key);
    return value && UserDefaults::toBoolean(*value);
}

QVariantMap CloudKeyValueStore::dictionaryRepresentation() const
{
    std::lock_guard lock(m_mutex);
    if (!m_loaded)
        synchronizeLocked();
    return m_values;
}

void CloudKeyValueStore::set(const QString &key, const QVariant &value)
{
    if (!value.isValid()) {
        remove(key);
        return;
    }
    if (!hasJsonForm(value)) {
        syncLog().error("Not synced: %{public}@ holds a value of type %{public}@", key,
                        QString::fromLatin1(value.typeName()));
        return;
    }
    std::lock_guard lock(m_mutex);
    m_values.insert(key, value);
    m_pendingSets.insert(key, value);
    m_pendingRemovals.remove(key);
    synchronizeLocked();
}

void CloudKeyValueStore::remove(const QString &key)
{
    std::lock_guard lock(m_mutex);
    m_values.remove(key);
    m_pendingSets.remove(key);
    m_pendingRemovals.insert(key);
    synchronizeLocked();
}

bool CloudKeyValueStore::synchronize()
{
    std::lock_guard lock(m_mutex);
    return synchronizeLocked();
}

bool CloudKeyValueStore::synchronizeLocked() const
{
    QVariantMap onDisk;
    // A file a sync tool left cut short, or anything but a file, is kept
    // aside for the user once a write would replace it.
    bool unreadable = false;
    RegularFile file(m_path);
    if (file.error() != RegularFile::Error::missing) {
        const auto bytes = file.readAll(maxFileBytes);
        QJsonParseError error{};
        const QJsonDocument document =
            bytes ? QJsonDocument::fromJson(*bytes, &error) : QJsonDocument();
        if (bytes && error.error == QJsonParseError::NoError && document.isObject()) {
            onDisk = document.object().toVariantMap();
        } else {
            unreadable = true;
            // Keep what we know rather than lose every key to a damaged file.
            onDisk = m_values;
            syncLog().error("%{public}@ is no JSON object of at most %{public}@ MiB; keeping the "
                            "values known",
                            m_path, QString::number(maxFileBytes >> 20));
        }
    }
    m_loaded = true;
    for (const QString &key : std::as_const(m_pendingRemovals))
        onDisk.remove(key);
    onDisk.insert(m_pendingSets);
    m_values = onDisk;
    if (m_pendingSets.isEmpty() && m_pendingRemovals.isEmpty())
        return true;

    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (unreadable) {
        const SetAsideResult aside = setAside(m_path);
        if (!aside.cleared()) {
            syncLog().error("Cannot write %{public}@: what is there cannot be set aside", m_path);
            return false;
        }
        if (aside.outcome == SetAsideResult::Outcome::setAside)
            syncLog().error("%{public}@ set aside as %{public}@", m_path, aside.asidePath);
    }
    if (!AtomicFile::save(m_path, QJsonDocument(QJsonObject::fromVariantMap(m_values)).toJson())) {
        syncLog().error("Cannot write %{public}@", m_path);
        return false;
    }
    m_pendingSets.clear();
    m_pendingRemovals.clear();
    return true;
}

} // namespace corvane
