#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <stdexcept>

namespace corvane {

// The coordination could not be taken (the URL names no local file).
class FileCoordinationError : public std::runtime_error {
public:
    explicit FileCoordinationError(const QString &description)
        : std::runtime_error(description.toStdString())
    {
    }
};

// Runs file accesses under an in-process reader/writer lock per path, so that
// readers of an item share it and a writer has it alone. Every coordinator of
// the process shares the same locks. Linux has no system-wide coordination, so
// other processes are not held off.
class FileCoordinator {
public:
    enum ReadingOption : unsigned {
        withoutChanges = 1 << 0,
        resolvesSymbolicLink = 1 << 1,
        immediatelyAvailableMetadataOnly = 1 << 2,
        forUploading = 1 << 3,
    };
    using ReadingOptions = unsigned;
    using Accessor = std::function<void(const QUrl &url)>;

    explicit FileCoordinator(QString purposeIdentifier);
    FileCoordinator(const FileCoordinator &) = delete;
    FileCoordinator &operator=(const FileCoordinator &) = delete;

    // One coordinator per purpose, created on first use.
    static FileCoordinator &shared(const QString &purposeIdentifier);

    QString purposeIdentifier() const { return m_purposeIdentifier; }

    // Runs the accessor synchronously with the item's URL while holding the
    // item's read lock. Throws FileCoordinationError when the lock cannot be
    // taken; the accessor's own exceptions pass through.
    void coordinateReading(const QUrl &url, ReadingOptions options, const Accessor &accessor);
    // The same with the write lock.
    void coordinateWriting(const QUrl &url, bool forDeleting, const Accessor &accessor);
    // The same for an absolute local path, under the lock its file URL takes,
    // without making the URL: for copies that coordinate each item of a tree.
    void coordinateReadingPath(const QString &path, const std::function<void()> &accessor);
    void coordinateWritingPath(const QString &path, const std::function<void()> &accessor);

private:
    QString m_purposeIdentifier;
};

namespace FileCoordinators {
inline const QString file = "com.quendrith.corvane.file";
inline const QString application = "com.quendrith.corvane.application";
inline const QString container = "com.quendrith.corvane.container";
} // namespace FileCoordinators

} // namespace corvane
