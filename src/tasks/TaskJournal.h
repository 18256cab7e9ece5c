#pragma once

#include <QString>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace corvane {

// What each running export and import would leave behind if the program were
// cut off, one small file per task in the program's state folder, so that
// the next start can undo it. Each file is replaced in one step (written
// aside, synced, renamed), so it is always whole.
class TaskJournal {
public:
    struct Entry {
        enum class Kind { exportArchive, importArchive };
        // Where an import stands.
        enum class Phase {
            // Moving what the reset removes into the backups; nothing copied in.
            resetting,
            // The reset is done: whatever its erase would remove that is in a
            // container now came from the archive.
            copying,
            // Being undone: what the import copied in is being removed, and
            // nothing has gone back yet.
            removing,
            // What the import copied in is gone; the backups go back.
            restoring,
            // The import is complete; the backups only wait to be deleted.
            discarding,
        };
        struct Container {
            QString identifier;
            std::filesystem::path folder;
            // Where the reset moved the container's items, at the same paths.
            std::filesystem::path backup;
        };

        Kind kind = Kind::exportArchive;
        QString taskID;
        // The program that wrote the entry; write() sets this one when unset.
        qint64 processID = 0;
        quint64 processStart = 0;
        // When the task first wrote the entry (nanoseconds since the epoch);
        // write() sets it when unset. Entries of an earlier version are
        // ordered by it, as they carry no sequence.
        qint64 firstWritten = 0;
        // The entry's place among those of the journal, which orders the
        // entries of one container whatever the clock did: when first
        // written, one more than any other entry's. write() sets it when
        // unset; 0 in entries of an earlier version.
        quint64 sequence = 0;
        // An export's hidden folder, where the new archive is written before
        // it takes the archive's place; an import's archive.
        std::filesystem::path staging;
        std::filesystem::path archive;
        Phase phase = Phase::resetting;
        std::vector<Container> containers;
        // What the import made in a container outside what the reset erases.
        std::vector<std::filesystem::path> created;
    };

    // Entries are kept in `folder`/tasks, and name containers only below
    // `devicesRoot`, the simulators' devices folder.
    TaskJournal(const QString &stateFolder, const QString &devicesRoot);
    // For the devices folder of the paths in force.
    explicit TaskJournal(const QString &stateFolder);
    // The journal in the state folder, for the devices folder, of the paths
    // in force.
    static TaskJournal current();

    const QString &folder() const { return m_folder; }
    const std::filesystem::path &devicesRoot() const { return m_devicesRoot; }

    // Records the entry, in place of the task's earlier one. An entry
    // without a sequence is given the next one under a lock that every
    // program writing to the journal takes. Throws std::runtime_error when it
    // cannot be written, when it has a flaw, when it is too large to be read
    // back, or when the lock stays held.
    void write(Entry &entry) const;
    // Records the entry at the phase; when that fails, the entry keeps its
    // earlier phase and the error is thrown as by write().
    void writePhase(Entry &entry, Entry::Phase phase) const;
    // Removes the task's entry; false (logged) when it cannot be removed.
    bool remove(const QString &taskID) const;
    // Every readable entry, the newest first: by sequence, then those of an
    // earlier version (older than any with a sequence) by when they were
    // first written. Files that cannot be read, or are not named after their
    // task, are logged and left.
    std::vector<Entry> entries() const;
    // Removes what writes of programs that have ended left beside the
    // entries (ScratchFiles), once in a run.
    void sweepScratch() const;

    // Notes beside each of an import's backups that its task has ended
    // without finishing its entry: from then on the containers are the
    // user's again, and what lies in them is never taken for the import's.
    // False (logged) when any note cannot be made and synced.
    bool markEnded(const Entry &entry) const;
    static bool hasEnded(const std::filesystem::path &hiddenFolder);
    // Removes those notes and the hidden folders they leave empty, once the
    // entry is gone.
    static void clearEnded(const Entry &entry);

    // Whether the program that wrote the entry still runs (this one
    // included): its entries are not for the taking. A killed program that
    // is not reaped yet runs no more.
    static bool writerIsRunning(const Entry &entry);

    // Why the entry is not one a task of this program writes, or nothing:
    // the task identifier is an upper-case UUID, every path is absolute and
    // lexically normal, an export's hidden folder is the one stagingFolder()
    // names, an import's container is "AppData" in a simulator's
    // Data/Application folder or a group in its Shared/AppGroup folder below
    // the devices folder, its backup the one backupFolder() names, and what
    // it made lies in its containers.
    std::optional<QString> flaw(const Entry &entry) const;
    // ".export-<task>" beside the archive.
    static std::filesystem::path stagingFolder(const std::filesystem::path &archive,
                                               const QString &taskID);
    // "<container's parent>/.import-<task>/<container's name>".
    static std::filesystem::path backupFolder(const std::filesystem::path &container,
                                              const QString &taskID);

    // For tests: asked before every write, removal and note that a task
    // ended, with the entry; true makes that one fail as on a full disk.
    enum class Step { write, remove, markEnded };
    using FailureHook = std::function<bool(Step step, const Entry *entry)>;
    static void setFailureHook(FailureHook hook);
    // For tests: the wall clock that dates entries, in nanoseconds since the
    // epoch; none: the system's.
    using Clock = std::function<qint64()>;
    static void setClock(Clock clock);
    // For tests: how long a write waits for the lock while another holds
    // it; none: ten seconds.
    static void setLockWait(std::optional<std::chrono::milliseconds> wait);

private:
    QString pathOf(const QString &taskID) const;
    // Numbers an entry only when asked to: one replayed keeps its place.
    void record(Entry &entry, bool numbered) const;
    void store(const Entry &entry) const;
    // One more than the highest sequence of the entries there.
    quint64 nextSequence() const;

    QString m_folder;
    std::filesystem::path m_devicesRoot;
};

} // namespace corvane
