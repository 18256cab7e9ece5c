#pragma once

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>

namespace corvane {

// A file the program saves, replaced whole or not at all. The bytes go to a
// new file beside it (a scratch name, ScratchFiles), which is synced, closed
// and renamed over it; then the folder is synced. The first save into a
// folder sweeps what killed programs' saves left there. Every write, sync,
// close and the rename is checked: on any failure (a full disk) the file
// stays as it was, the new one is removed, the failure is logged and the
// caller is told. A link at the path is followed, so that the file it names
// is the one replaced; an existing file's permissions are kept.
class AtomicFile {
public:
    // Where a test makes saves fail, as a full disk or a failing device would.
    enum class Step { create, write, sync, close, rename };
    struct Fault {
        Step step = Step::write;
        // For Step::write: how many bytes each new file takes before its
        // writes fail.
        qint64 afterBytes = 0;
        int error = ENOSPC;
        // When set, the step fails not: this is called there and the step
        // goes on (a test holds a save at that point).
        std::function<void()> hold;
    };

    // Scratch files that no crash needs to find whole may skip the syncs.
    enum class Durability { synced, unsynced };

    explicit AtomicFile(QString path, Durability durability = Durability::synced);
    // A file not committed is discarded.
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // Makes the new file beside the one it replaces.
    bool open();
    // All of the bytes, or false; after a failure only discard() is left.
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    // Puts the new file in place; false when the old one stays.
    bool commit();
    // Removes the new file; the old one stays.
    void discard();

    QString path() const { return m_path; }
    // Why it failed, as "No space left on device".
    QString errorString() const;

    // `bytes` as the whole of the file at `path`.
    static bool save(const QString &path, const QByteArray &bytes,
                     Durability durability = Durability::synced);

    // Tests: every save from now on fails at that step, until this is called
    // with nothing.
    static void setFaultForTesting(std::optional<Fault> fault);

private:
    bool fail(Step step, int error);
    bool flushBuffer();
    bool writeOut(const char *data, qint64 size);
    void closeDescriptor();

    const QString m_path;
    const Durability m_durability;
    std::string m_target;
    std::string m_temporary;
    int m_descriptor = -1;
    QByteArray m_buffer;
    qint64 m_written = 0;
    int m_error = 0;
    bool m_failed = false;
    bool m_committed = false;
    bool m_hadOldFile = false;
    long long m_oldModifiedNs = 0;
};

} // namespace corvane
