#include "platform/UserDefaults.h"

#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/SystemPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <vector>

namespace corvane {

namespace {

std::mutex g_standardMutex;
std::shared_ptr<UserDefaults> g_standard;

Log defaultsLog()
{
    return Log("defaults");
}

bool isNumber(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float: return true;
    default: return false;
    }
}

} // namespace

UserDefaults::UserDefaults(QString path, bool isSuite) : m_path(std::move(path)), m_isSuite(isSuite)
{
}

std::shared_ptr<UserDefaults> UserDefaults::standard()
{
    std::lock_guard lock(g_standardMutex);
    if (!g_standard)
        g_standard = withFile(SystemPaths::current().configDir + "/com.quendrith.corvane.conf");
    return g_standard;
}

void UserDefaults::setStandard(std::shared_ptr<UserDefaults> defaults)
{
    std::lock_guard lock(g_standardMutex);
    g_standard = std::move(defaults);
}

std::shared_ptr<UserDefaults> UserDefaults::withFile(const QString &iniPath)
{
    return std::shared_ptr<UserDefaults>(new UserDefaults(iniPath, false));
}

std::shared_ptr<UserDefaults> UserDefaults::suite(const QString &name)
{
    const QString path = SystemPaths::current().home + "/Library/Preferences/" + name + ".plist";
    return std::shared_ptr<UserDefaults>(new UserDefaults(path, true));
}

bool UserDefaults::toBoolean(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Bool: return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return value.toLongLong() != 0;
    case QMetaType::Double:
    case QMetaType::Float: return value.toDouble() != 0.0;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (text.compare("YES", Qt::CaseInsensitive) == 0 ||
            text.compare("true", Qt::CaseInsensitive) == 0)
            return true;
        bool ok = false;
        const double number = text.toDouble(&ok);
        return ok && number != 0.0;
    }
    default: return false;
    }
}

std::optional<QVariant> UserDefaults::storedValue(const QString &key) const
{
    if (m_isSuite) {
        const auto dictionary = PropertyList::readDictionary(m_path);
        if (!dictionary || !dictionary->contains(key))
            return std::nullopt;
        return dictionary->value(key);
    }
    // A fresh QSettings per access: the object is not thread-safe and posts
    // its own flushes to the thread that made it.
    QSettings settings(m_path, QSettings::IniFormat);
    if (!settings.contains(key))
        return std::nullopt;
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return std::nullopt;
    return value;
}

void UserDefaults::storeValue(const QString &key, const std::optional<QVariant> &value)
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    if (m_isSuite) {
        const bool exists = QFileInfo::exists(m_path);
        auto dictionary = PropertyList::readDictionary(m_path);
        if (exists && !dictionary) {
            // Never replace a file we cannot read with one that drops its keys.
            defaultsLog().error("Cannot read %{public}@; %{public}@ not written", m_path, key);
            return;
        }
        QVariantMap map = dictionary.value_or(QVariantMap());
        if (value)
            map.insert(key, *value);
        else
            map.remove(key);
        if (!PropertyList::writeFile(m_path, map, true))
            defaultsLog().error("Cannot write %{public}@", m_path);
        return;
    }
    QSettings settings(m_path, QSettings::IniFormat);
    if (value)
        settings.setValue(key, *value);
    else
        settings.remove(key);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        defaultsLog().error("Cannot write %{public}@", m_path);
}

std::optional<QVariant> UserDefaults::object(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    if (auto value = storedValue(key))
        return value;
    if (m_registered.contains(key))
        return m_registered.value(key);
    return std::nullopt;
}

std::optional<QString> UserDefaults::string(const QString &key) const
{
    const auto value = object(key);
    if (!value || (value->typeId() != QMetaType::QString && !isNumber(*value)))
        return std::nullopt;
    return value->toString();
}

bool UserDefaults::boolean(const QString &key) const
{
    const auto value = object(key);
    return value && toBoolean(*value);
}

std::optional<double> UserDefaults::doubleValue(const QString &key) const
{
    const auto value = object(key);
    if (!value)
        return std::nullopt;
    if (isNumber(*value) || value->typeId() == QMetaType::Bool)
        return value->toDouble();
    if (value->typeId() != QMetaType::QString)
        return std::nullopt;
    bool ok = false;
    const double number = value->toString().trimmed().toDouble(&ok);
    return ok ? std::optional<double>(number) : std::nullopt;
}

bool UserDefaults::hasStoredValue(const QString &key) const
{
    std::lock_guard lock(m_mutex);
    return storedValue(key).has_value();
}

void UserDefaults::set(const QString &key, const QVariant &value)
{
    {
        std::lock_guard lock(m_mutex);
        storeValue(key, value.isValid() ? std::optional<QVariant>(value) : std::nullopt);
        if (auto seen = m_seen.find(key); seen != m_seen.end())
            seen->second = storedValue(key);
    }
    notify(key);
}

void UserDefaults::remove(const QString &key)
{
    {
        std::lock_guard lock(m_mutex);
        storeValue(key, std::nullopt);
        if (auto seen = m_seen.find(key); seen != m_seen.end())
            seen->second = std::nullopt;
    }
    notify(key);
}

void UserDefaults::noticeOutsideChanges()
{
    QStringList changed;
    {
        std::lock_guard lock(m_mutex);
        for (auto &[key, seen] : m_seen) {
            auto current = storedValue(key);
            if (current != seen) {
                seen = std::move(current);
                changed << key;
            }
        }
    }
    for (const QString &key : changed)
        notify(key);
}

void UserDefaults::registerDefaults(const QVariantMap &defaults)
{
    std::lock_guard lock(m_mutex);
    m_registered.insert(defaults);
}

QVariantMap UserDefaults::registeredDefaults() const
{
    std::lock_guard lock(m_mutex);
    return m_registered;
}

UserDefaults::ObservationPtr UserDefaults::observe(const QString &key, Handler handler,
                                                   bool initial)
{
    auto shared = std::make_shared<Handler>(std::move(handler));
    quint64 id;
    {
        std::lock_guard lock(m_mutex);
        id = ++m_nextId;
        m_observers.emplace(id, Registration{key, shared});
        if (!m_seen.count(key))
            m_seen.emplace(key, storedValue(key));
    }
    if (initial)
        (*shared)(object(key));
    return std::make_shared<Observation>(weak_from_this(), id);
}

void UserDefaults::removeObservation(quint64 id)
{
    std::lock_guard lock(m_mutex);
    m_observers.erase(id);
}

void UserDefaults::notify(const QString &key)
{
    std::vector<std::shared_ptr<Handler>> handlers;
    {
        std::lock_guard lock(m_mutex);
        for (const auto &[id, registration] : m_observers)
            if (registration.key == key)
                handlers.push_back(registration.handler);
    }
    if (handlers.empty())
        return;
    const auto value = object(key);
    for (const auto &handler : handlers)
        (*handler)(value);
}

} // namespace corvane
