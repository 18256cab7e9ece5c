#pragma once

#include <QSet>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <optional>

namespace corvane {

// The synced key-value store: a JSON object in the sync folder, which a sync
// tool carries between machines. Writes go to the file at once, atomically,
// merged over whatever the file holds by then.
class CloudKeyValueStore {
public:
    // A larger file, one that is no JSON object, or anything but a file is
    // not read: the values known stay, and it is set aside before a write.
    static constexpr qint64 maxFileBytes = 8 * 1024 * 1024;

    // "KeyValueStore.json" in SystemPaths' syncDir.
    static std::shared_ptr<CloudKeyValueStore> defaultStore();
    static void setDefaultStore(std::shared_ptr<CloudKeyValueStore> store);

    explicit CloudKeyValueStore(QString path);

    QString filePath() const { return m_path; }

    std::optional<QVariant> object(const QString &key) const;
    std::optional<QString> string(const QString &key) const;
    bool boolean(const QString &key) const;
    QVariantMap dictionaryRepresentation() const;

    // Values without a JSON form (a URL, an image) are refused and logged.
    void set(const QString &key, const QVariant &value);
    void remove(const QString &key);

    // Re-reads the file and writes back changes not yet written; false when
    // the file cannot be written.
    bool synchronize();

private:
    bool synchronizeLocked() const;

    const QString m_path;
    mutable std::mutex m_mutex;
    // Loaded on first read, so readers of a const store see the file.
    mutable bool m_loaded = false;
    mutable QVariantMap m_values;
    mutable QVariantMap m_pendingSets;
    mutable QSet<QString> m_pendingRemovals;
};

} // namespace corvane
