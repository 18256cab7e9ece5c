#include "platform/CloudKeyValueStore.h"

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/SystemPaths.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFile>
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
    QFile file(m_path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            syncLog().error("Cannot read %{public}@", m_path);
            return false;
        }
        QJsonParseError error{};
        const auto document = QJsonDocument::fromJson(file.readAll(), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            // Keep what we know rather than lose every key to a damaged file.
            syncLog().error("%{public}@ is no JSON object; rewriting it from memory", m_path);
            onDisk = m_values;
        } else {
            onDisk = document.object().toVariantMap();
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
    if (!AtomicFile::save(m_path, QJsonDocument(QJsonObject::fromVariantMap(m_values)).toJson())) {
        syncLog().error("Cannot write %{public}@", m_path);
        return false;
    }
    m_pendingSets.clear();
    m_pendingRemovals.clear();
    return true;
}

} // namespace corvane
