#pragma once

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <optional>

namespace corvane {

// A file the program reads whole (a store, a route, a crash log), open for
// reading. Only a regular file, or a link to one, is opened, and without
// blocking: a named pipe or a device where a file belongs is an error at
// once, never a hang or an endless read.
class RegularFile {
public:
    enum class Error { none, missing, notRegular, cannotOpen, tooLarge, cannotRead };

    explicit RegularFile(const QString &path);
    explicit RegularFile(const std::filesystem::path &path);
    ~RegularFile();
    RegularFile(RegularFile &&other) noexcept;
    RegularFile &operator=(RegularFile &&other) noexcept;
    RegularFile(const RegularFile &) = delete;
    RegularFile &operator=(const RegularFile &) = delete;

    bool isOpen() const { return m_descriptor >= 0; }
    Error error() const { return m_error; }
    // The file's size when it was opened.
    qint64 size() const { return m_size; }
    // Hands the descriptor over to the caller, who closes it.
    int release();

    // Up to `length` bytes from the current position: the count read, 0 at
    // the end, -1 when the read failed (error() is then cannotRead).
    qint64 read(char *buffer, qint64 length);
    // The rest of the file; nothing when it holds more than `maxBytes`
    // (tooLarge) or a read failed.
    std::optional<QByteArray> readAll(qint64 maxBytes);

    // The whole file at `path`, at most `maxBytes`; nothing when it could
    // not be had.
    static std::optional<QByteArray> readWhole(const QString &path, qint64 maxBytes);
    // Opens the lock file at `path` for flock(), made when missing: never
    // through a link, and only a regular file, so that a pipe there cannot
    // block the open. A descriptor the caller closes, or -1 with errno set.
    static int openLock(const QString &path);

    // One sentence for a log line or an alert, such as
    // "/a/b.json could not be opened: it is no regular file."
    QString errorDescription(const QString &path, qint64 maxBytes = 0) const;
    static QString describe(Error error, const QString &path, qint64 maxBytes = 0,
                            int errorNumber = 0);

private:
    void open(const std::string &nativePath);
    void fail(Error error, int errorNumber);

    int m_descriptor = -1;
    Error m_error = Error::none;
    int m_errorNumber = 0;
    qint64 m_size = 0;
};

} // namespace corvane
