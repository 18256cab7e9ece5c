#include "platform/defaults/UserDefaults.h"

#include "platform/files/AtomicFile.h"
#include "platform/Log.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/RegularFile.h"
#include "platform/files/ScratchFiles.h"
#include "platform/files/SetAside.h"
#include "platform/files/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>

#include <algorithm>
#include <cmath>
#include <sys/stat.h>
#include <vector>

namespace corvane {

namespace {

std::mutex g_standardMutex;
std::shared_ptr<UserDefaults> g_standard;

Log defaultsLog()
{
    return Log("defaults");
}

// Saves of INI files one at a time in the whole program, as two objects may
// name the same file.
std::mutex g_iniSaveMutex;

bool setAsideSettings(const QString &path, const QString &reason,
                      const QString &then = "the settings start afresh")
{
    const SetAsideResult result = setAside(path);
    if (!result.cleared()) {
        defaultsLog().error("%{public}@ %{public}@ and cannot be set aside; settings are neither "
                            "read from it nor saved",
                            path, reason);
        return false;
    }
    if (result.outcome == SetAsideResult::Outcome::setAside)
        defaultsLog().error("%{public}@ %{public}@; set aside as %{public}@, %{public}@", path,
                            reason, result.asidePath, then);
    return true;
}

// Only a regular file within the limit reaches QSettings, which would wait
// forever on a pipe and read a huge file whole. Looked at without opening it;
// false when something unfit stays in the way.
bool settingsFileFit(const QString &path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return true;
    if (!S_ISREG(status.st_mode))
        return setAsideSettings(path, "is no regular file");
    if (status.st_size > UserDefaults::settingsFileMaxBytes)
        return setAsideSettings(
            path,
            "is larger than " + QString::number(UserDefaults::settingsFileMaxBytes >> 20) + " MiB");
    return true;
}

// Equal values, where a NaN equals a NaN (it is stored as "nan").
bool sameValue(const QVariant &a, const QVariant &b)
{
    if (a.typeId() == QMetaType::QVariantList && b.typeId() == QMetaType::QVariantList) {
        const QVariantList first = a.toList(), second = b.toList();
        return first.size() == second.size() &&
               std::equal(first.cbegin(), first.cend(), second.cbegin(), sameValue);
    }
    if (a.typeId() == QMetaType::QVariantMap && b.typeId() == QMetaType::QVariantMap) {
        const QVariantMap first = a.toMap(), second = b.toMap();
        if (first.size() != second.size())
            return false;
        for (auto it = first.cbegin(); it != first.cend(); ++it)
            if (!second.contains(it.key()) || !sameValue(it.value(), second.value(it.key())))
                return false;
        return true;
    }
    const auto isNaN = [](const QVariant &value) {
        return (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) &&
               std::isnan(value.toDouble());
    };
    return a == b || (isNaN(a) && isNaN(b));
}

// A value as QSettings reads it back from its INI text (numbers and
// booleans as text, a one-element list as its element, an empty list as
// nothing) against the value it was given.
bool readsBackAs(const QVariant &readBack, const QVariant &given)
{
    if (sameValue(readBack, given))
        return true;
    if (!readBack.isValid())
        return (given.typeId() == QMetaType::QStringList ||
                given.typeId() == QMetaType::QVariantList) &&
               given.toList().isEmpty();
    QVariant converted = readBack;
    return converted.convert(given.metaType()) && sameValue(converted, given);
}

// Scratch copies beside the settings file, removed however the save ends,
// with the lock QSettings makes beside each. What a killed save left is
// swept by the first AtomicFile save into the folder, which makes the first.
class ScratchCopies {
public:
    explicit ScratchCopies(QString beside) : m_beside(std::move(beside)) {}
    ~ScratchCopies()
    {
        for (const QString &path : std::as_const(m_paths)) {
            QFile::remove(path);
            QFile::remove(path + ".lock");
        }
    }
    ScratchCopies(const ScratchCopies &) = delete;
    ScratchCopies &operator=(const ScratchCopies &) = delete;

    QString make() { return m_paths.emplace_back(ScratchFiles::nameBeside(m_beside)); }

private:
    const QString m_beside;
    QStringList m_paths;
};

// Sets or removes one key in the INI file: QSettings edits a copy beside it,
// the copy is read back by a fresh QSettings and checked to hold every key
// with its value, and only then replaces the file. (QSettings does not
// notice a write the system cut short, as on a full disk.)
bool saveIniValue(const QString &path, const QString &key, const std::optional<QVariant> &value)
{
    std::lock_guard lock(g_iniSaveMutex);
    auto failed = [&](const QString &reason) {
        defaultsLog().error("Cannot save %{public}@ in %{public}@: %{public}@", key, path, reason);
        return false;
    };
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return failed("its folder cannot be made");
    QByteArray old;
    RegularFile current(path);
    if (current.error() != RegularFile::Error::missing) {
        if (auto bytes = current.readAll(UserDefaults::settingsFileMaxBytes))
            old = std::move(*bytes);
        // Anything unfit (a pipe, a huge file) is never replaced by one that
        // lacks what it held.
        else if (!setAsideSettings(
                     path, "could not be read (" +
                               current.errorDescription(path, UserDefaults::settingsFileMaxBytes) +
                               ")"))
            return failed("the file could not be read");
    }
    // An editor's byte-order mark, which QSettings takes for a format error.
    if (old.startsWith("\xEF\xBB\xBF"))
        old.remove(0, 3);

    ScratchCopies scratch(path);
    QString editedPath;
    enum class Edit { written, unchanged, noCopy, notWritten, notInFormat };
    // The keys and values QSettings holds once it has written the change.
    QVariantMap expected;
    // What could be read of a file not in the format, for a fresh one.
    QVariantMap readable;
    // On a copy of the file, or (`afresh`) on an empty one given what could
    // be read. A new name each time, as QSettings keeps what it read of a path.
    const auto edit = [&](bool afresh) {
        editedPath = scratch.make();
        if (!AtomicFile::save(editedPath, afresh ? QByteArray() : old,
                              AtomicFile::Durability::unsynced))
            return Edit::noCopy;
        QSettings settings(editedPath, QSettings::IniFormat);
        // QSettings reads a part of the file only when asked for a key in it,
        // and only then tells of a line it could not read.
        const QStringList keys = settings.allKeys();
        const QSettings::Status status = settings.status();
        if (status == QSettings::AccessError)
            return Edit::notWritten;
        const bool inFormat = status == QSettings::NoError;
        if (!inFormat)
            for (const QString &each : keys)
                readable.insert(each, settings.value(each));
        for (auto it = readable.cbegin(); afresh && it != readable.cend(); ++it)
            settings.setValue(it.key(), it.value());
        if (value)
            settings.setValue(key, *value);
        else
            settings.remove(key);
        // Removing what is not there.
        if (!afresh && !value && settings.allKeys() == keys)
            return Edit::unchanged;
        // It would write over what it could not read.
        if (!inFormat)
            return Edit::notInFormat;
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return Edit::notWritten;
        for (const QString &each : settings.allKeys())
            expected.insert(each, settings.value(each));
        return Edit::written;
    };
    Edit edited = edit(false);
    const bool setAsideFirst = edited == Edit::notInFormat;
    if (setAsideFirst)
        edited = edit(true);
    if (edited == Edit::unchanged)
        return true;
    if (edited == Edit::noCopy)
        return failed("the scratch copy could not be written");
    if (edited != Edit::written)
        return failed("QSettings could not write its copy");
    // Moved to a name QSettings has not seen, so that it parses the text
    // afresh rather than answer from its cache.
    const QString check = scratch.make();
    if (!QFile::rename(editedPath, check))
        return failed("the edited copy could not be moved for its check");
    {
        QSettings settings(check, QSettings::IniFormat);
        const QStringList keys = settings.allKeys();
        bool whole = settings.status() == QSettings::NoError &&
                     QSet<QString>(keys.begin(), keys.end()) ==
                         QSet<QString>(expected.keyBegin(), expected.keyEnd());
        for (auto it = expected.cbegin(); whole && it != expected.cend(); ++it)
            whole = readsBackAs(settings.value(it.key()), it.value());
        if (!whole)
            return failed("the edited copy does not read back whole");
    }
    RegularFile edition(check);
    const auto bytes = edition.readAll(UserDefaults::settingsFileMaxBytes);
    if (!bytes)
        return failed(edition.error() == RegularFile::Error::tooLarge
                          ? "the settings would be larger than " +
                                QString::number(UserDefaults::settingsFileMaxBytes >> 20) + " MiB"
                          : "the edited copy could not be read back");
    if (setAsideFirst && !setAsideSettings(path, "is not in the settings format",
                                           "the settings that could be read are kept"))
        return failed("the file could not be read");
    return AtomicFile::save(path, *bytes) || failed("the file could not be replaced");
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
    if (!settingsFileFit(m_path))
        return std::nullopt;
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

bool UserDefaults::storeValue(const QString &key, const std::optional<QVariant> &value)
{
    if (!m_isSuite)
        return saveIniValue(m_path, key, value);
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    const bool exists = QFileInfo::exists(m_path);
    auto dictionary = PropertyList::readDictionary(m_path);
    if (exists && !dictionary) {
        // Never replace a file we cannot read with one that drops its keys.
        defaultsLog().error("Cannot read %{public}@; %{public}@ not written", m_path, key);
        return false;
    }
    QVariantMap map = dictionary.value_or(QVariantMap());
    if (value)
        map.insert(key, *value);
    else
        map.remove(key);
    if (!PropertyList::writeFile(m_path, map, true)) {
        defaultsLog().error("Cannot write %{public}@", m_path);
        return false;
    }
    return true;
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

bool UserDefaults::set(const QString &key, const QVariant &value)
{
    bool saved;
    {
        std::lock_guard lock(m_mutex);
        saved = storeValue(key, value.isValid() ? std::optional<QVariant>(value) : std::nullopt);
        if (auto seen = m_seen.find(key); seen != m_seen.end())
            seen->second = storedValue(key);
    }
    notify(key);
    return saved;
}

bool UserDefaults::remove(const QString &key)
{
    bool saved;
    {
        std::lock_guard lock(m_mutex);
        saved = storeValue(key, std::nullopt);
        if (auto seen = m_seen.find(key); seen != m_seen.end())
            seen->second = storedValue(key);
    }
    notify(key);
    return saved;
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
