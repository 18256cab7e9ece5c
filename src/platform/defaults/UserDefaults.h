#pragma once

#include "platform/ScopedObservation.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace corvane {

// A defaults domain: the program's own settings in one INI file (through
// QSettings), or another program's preferences read from its property list.
// Values set here are found first, then the in-memory registration domain.
//
// The INI file is read as the program's other stores are: only a regular
// file within settingsFileMaxBytes is handed to QSettings; anything else at
// its path is set aside and the settings read as unset. A save replaces the
// file whole or not at all (AtomicFile): QSettings edits a copy beside it,
// which is read back and checked against what it was told before it takes
// the file's place. A file QSettings cannot read whole is set aside at the
// first save, and the keys it could read go on in a fresh one.
class UserDefaults : public std::enable_shared_from_this<UserDefaults> {
public:
    // No settings file comes near; a larger one is set aside unread.
    static constexpr qint64 settingsFileMaxBytes = 8 * 1024 * 1024;

    using Handler = std::function<void(const std::optional<QVariant> &newValue)>;

    // Ends its observation when invalidated or released.
    using Observation = ScopedObservation<UserDefaults>;
    using ObservationPtr = std::shared_ptr<Observation>;

    // The program's domain: "com.quendrith.corvane.conf" in SystemPaths' configDir.
    static std::shared_ptr<UserDefaults> standard();
    static void setStandard(std::shared_ptr<UserDefaults> defaults);

    // The program's domain kept in this INI file.
    static std::shared_ptr<UserDefaults> withFile(const QString &iniPath);

    // Another program's domain, "<home>/Library/Preferences/<name>.plist", read
    // afresh on every read because its owner changes it behind our back.
    static std::shared_ptr<UserDefaults> suite(const QString &name);

    QString filePath() const { return m_path; }
    bool isSuite() const { return m_isSuite; }

    // The stored value, else the registered one.
    std::optional<QVariant> object(const QString &key) const;
    // Texts, and numbers as text; nothing for other kinds.
    std::optional<QString> string(const QString &key) const;
    // Also true for "1", "YES", "true" (any case) and non-zero numbers.
    bool boolean(const QString &key) const;
    // Numbers, and texts that are numbers; nothing for other kinds. A stored
    // double reads back bit for bit.
    std::optional<double> doubleValue(const QString &key) const;
    bool hasStoredValue(const QString &key) const;

    // False, logged, when the value could not be saved: the file keeps what
    // it held. Removing a key that is not stored writes nothing. Observers
    // are told either way, with the stored value.
    bool set(const QString &key, const QVariant &value);
    bool remove(const QString &key);

    void registerDefaults(const QVariantMap &defaults);
    QVariantMap registeredDefaults() const;

    // Called on the writing thread after every set or remove of the key made
    // through this object; with `initial`, once at once with the current value.
    ObservationPtr observe(const QString &key, Handler handler, bool initial = false);

    // Reads the file again and calls, on this thread, the observers of each
    // observed key whose stored value changed since this object last saw it
    // (another process edited the file); nothing for unchanged keys.
    void noticeOutsideChanges();

    static bool toBoolean(const QVariant &value);

private:
    UserDefaults(QString path, bool isSuite);

    std::optional<QVariant> storedValue(const QString &key) const;
    bool storeValue(const QString &key, const std::optional<QVariant> &value);
    void notify(const QString &key);
    friend class ScopedObservation<UserDefaults>;
    void removeObservation(quint64 id);

    const QString m_path;
    const bool m_isSuite;

    mutable std::mutex m_mutex;
    QVariantMap m_registered;
    quint64 m_nextId = 0;
    struct Registration {
        QString key;
        std::shared_ptr<Handler> handler;
    };
    std::map<quint64, Registration> m_observers;
    // The stored value of each observed key as last seen, so that another
    // process's change can be told from ours and from a rewrite that keeps it.
    std::map<QString, std::optional<QVariant>> m_seen;
};

} // namespace corvane
