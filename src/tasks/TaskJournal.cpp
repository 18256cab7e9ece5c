#include "tasks/TaskJournal.h"

#include "core/File.h"
#include "core/JsonStore.h"
#include "core/Uuid.h"
#include "platform/Log.h"
#include "platform/processes/ProcessRun.h"
#include "platform/files/RegularFile.h"
#include "platform/files/ScratchFiles.h"
#include "platform/files/SystemPaths.h"
#include "tasks/ItemMoves.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

namespace corvane {

namespace fs = std::filesystem;

namespace {

constexpr qint64 kMaxEntrySize = 1 << 20;
// Beside the entries; held while an entry takes its sequence.
const char *const kLockName = "sequence.lock";
// The lock is held for one look at the folder and one write: a holder that
// keeps it longer is stuck.
constexpr std::chrono::milliseconds kLockWait = std::chrono::seconds(10);

Log log()
{
    return Log("archive");
}

// Paths keep their bytes: percent-encoded, with the separators left as they are.
QString encodePath(const fs::path &path)
{
    return QString::fromLatin1(QByteArray::fromStdString(path.native()).toPercentEncoding("/"));
}

fs::path decodePath(const QJsonValue &value)
{
    return QByteArray::fromPercentEncoding(value.toString().toLatin1()).toStdString();
}

const char *const kKinds[] = {"export", "import"};
const char *const kPhases[] = {"resetting", "copying", "removing", "restoring", "discarding"};
// Beside the backups in an import's hidden folder: a container's name is a UUID.
const char *const kEndedName = "ended";

template <class Enum, size_t N>
std::optional<Enum> parseName(const QString &text, const char *const (&names)[N])
{
    for (size_t i = 0; i < N; ++i)
        if (text == QLatin1String(names[i]))
            return Enum(i);
    return std::nullopt;
}

std::mutex hooksMutex;
TaskJournal::FailureHook failureHook;

bool failureInjected(TaskJournal::Step step, const TaskJournal::Entry *entry)
{
    std::lock_guard lock(hooksMutex);
    return failureHook && failureHook(step, entry);
}

TaskJournal::Clock testClock;
std::optional<std::chrono::milliseconds> testLockWait;

std::chrono::milliseconds lockWait()
{
    std::lock_guard lock(hooksMutex);
    return testLockWait.value_or(kLockWait);
}

qint64 now()
{
    {
        std::lock_guard lock(hooksMutex);
        if (testClock)
            return testClock();
    }
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Held by whoever numbers an entry, in this program or another: taken before
// the highest sequence is looked up and let go once the entry that takes the
// next one is written, so that no two entries share a number.
class SequenceLock {
public:
    explicit SequenceLock(const QString &folder)
    {
        const QString path = folder + '/' + kLockName;
        m_descriptor = RegularFile::openLock(path);
        if (m_descriptor < 0)
            throw std::runtime_error("Cannot open the task journal's lock " + path.toStdString());
        const auto deadline = std::chrono::steady_clock::now() + lockWait();
        while (::flock(m_descriptor, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() >= deadline) {
                ::close(m_descriptor);
                throw std::runtime_error("The task journal's lock " + path.toStdString() +
                                         " stays held");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~SequenceLock() { ::close(m_descriptor); }
    SequenceLock(const SequenceLock &) = delete;
    SequenceLock &operator=(const SequenceLock &) = delete;

private:
    int m_descriptor = -1;
};

// As the program itself spells a path: absolute, with a name, and nothing
// that a lexical clean-up would change ("//", ".", "..", a final "/").
bool isPlainAbsolute(const fs::path &path)
{
    return path.is_absolute() && path.has_filename() &&
           path.native() == path.lexically_normal().native();
}

QJsonObject toJson(const TaskJournal::Entry &entry)
{
    QJsonObject object{{"task", entry.taskID},
                       {"kind", kKinds[int(entry.kind)]},
                       {"pid", entry.processID},
                       {"started", QString::number(entry.processStart)},
                       {"first", QString::number(entry.firstWritten)},
                       {"sequence", QString::number(entry.sequence)},
                       {"archive", encodePath(entry.archive)}};
    if (entry.kind == TaskJournal::Entry::Kind::exportArchive) {
        object["staging"] = encodePath(entry.staging);
        return object;
    }
    object["phase"] = kPhases[int(entry.phase)];
    QJsonArray containers;
    for (const auto &container : entry.containers)
        containers.append(QJsonObject{{"identifier", container.identifier},
                                      {"folder", encodePath(container.folder)},
                                      {"backup", encodePath(container.backup)}});
    object["containers"] = containers;
    QJsonArray created;
    for (const auto &path : entry.created)
        created.append(encodePath(path));
    object["created"] = created;
    return object;
}

std::optional<TaskJournal::Entry> fromJson(const QJsonObject &object)
{
    using Entry = TaskJournal::Entry;
    Entry entry;
    const auto kind = parseName<Entry::Kind>(object["kind"].toString(), kKinds);
    const auto phase = parseName<Entry::Phase>(object["phase"].toString("resetting"), kPhases);
    if (!kind || !phase || !object["task"].isString())
        return std::nullopt;
    entry.kind = *kind;
    entry.phase = *phase;
    entry.taskID = object["task"].toString();
    entry.processID = object["pid"].toInteger();
    entry.processStart = object["started"].toString().toULongLong();
    entry.firstWritten = object["first"].toString().toLongLong();
    entry.sequence = object["sequence"].toString().toULongLong();
    entry.staging = decodePath(object["staging"]);
    entry.archive = decodePath(object["archive"]);
    for (const QJsonValue &value : object["containers"].toArray()) {
        const QJsonObject container = value.toObject();
        entry.containers.push_back({container["identifier"].toString(),
                                    decodePath(container["folder"]),
                                    decodePath(container["backup"])});
    }
    for (const QJsonValue &value : object["created"].toArray())
        entry.created.push_back(decodePath(value));
    return entry;
}

} // namespace

TaskJournal::TaskJournal(const QString &stateFolder, const QString &devicesRoot)
    : m_folder(stateFolder + "/tasks"), m_devicesRoot(nativePath(devicesRoot))
{
}

TaskJournal::TaskJournal(const QString &stateFolder)
    : TaskJournal(stateFolder, SystemPaths::current().coreSimulatorDevices())
{
}

TaskJournal TaskJournal::current()
{
    const SystemPaths paths = SystemPaths::current();
    return TaskJournal(paths.stateDir, paths.coreSimulatorDevices());
}

QString TaskJournal::pathOf(const QString &taskID) const
{
    return m_folder + '/' + taskID + ".json";
}

void TaskJournal::write(Entry &entry) const
{
    record(entry, true);
}

void TaskJournal::writePhase(Entry &entry, Entry::Phase phase) const
{
    const auto earlier = std::exchange(entry.phase, phase);
    try {
        // An entry of an earlier version keeps its place behind the numbered ones.
        record(entry, false);
    } catch (...) {
        entry.phase = earlier;
        throw;
    }
}

void TaskJournal::record(Entry &entry, bool numbered) const
{
    if (const auto problem = flaw(entry))
        throw std::runtime_error("Not a task journal entry: " + problem->toStdString());
    if (entry.processID == 0) {
        entry.processID = ::getpid();
        const auto state = ProcessRun::of(entry.processID);
        entry.processStart = state ? state->start : 0;
    }
    if (entry.firstWritten == 0)
        entry.firstWritten = now();
    if (entry.sequence != 0 || !numbered)
        return store(entry);
    // The lock lies beside the entries.
    if (!QDir().mkpath(m_folder))
        throw std::runtime_error("Cannot create the task journal folder " + m_folder.toStdString());
    const SequenceLock lock(m_folder);
    entry.sequence = nextSequence();
    try {
        store(entry);
    } catch (...) {
        entry.sequence = 0;
        throw;
    }
}

void TaskJournal::store(const Entry &entry) const
{
    const QString path = pathOf(entry.taskID);
    const QByteArray bytes = QJsonDocument(toJson(entry)).toJson(QJsonDocument::Compact);
    // What could not be read back would leave the next start nothing to undo.
    if (bytes.size() > kMaxEntrySize)
        throw std::runtime_error("The task journal " + path.toStdString() + " would be too large");
    if (failureInjected(Step::write, &entry))
        throw std::runtime_error("Cannot write the task journal " + path.toStdString());
    if (!QDir().mkpath(m_folder))
        throw std::runtime_error("Cannot create the task journal folder " + m_folder.toStdString());
    if (!writeFileAtomically(path, bytes))
        throw std::runtime_error("Cannot write the task journal " + path.toStdString());
}

quint64 TaskJournal::nextSequence() const
{
    quint64 highest = 0;
    const QDir folder(m_folder);
    // A file that cannot be read is never replayed, so its place does not matter.
    for (const QString &name : folder.entryList({"*.json"}, QDir::Files))
        if (const auto bytes = RegularFile::readWhole(folder.filePath(name), kMaxEntrySize))
            highest = std::max(
                highest,
                QJsonDocument::fromJson(*bytes).object()["sequence"].toString().toULongLong());
    return highest + 1;
}

bool TaskJournal::remove(const QString &taskID) const
{
    QFile file(pathOf(taskID));
    if (failureInjected(Step::remove, nullptr)) {
        log().error("Cannot remove the task journal %{public}@", file.fileName());
        return false;
    }
    if (file.remove() || !file.exists())
        return true;
    log().error("Cannot remove the task journal %{public}@: %{public}@", file.fileName(),
                file.errorString());
    return false;
}

std::vector<TaskJournal::Entry> TaskJournal::entries() const
{
    std::vector<Entry> entries;
    const QDir folder(m_folder);
    for (const QString &name : folder.entryList({"*.json"}, QDir::Files, QDir::Name)) {
        const QString path = folder.filePath(name);
        std::optional<Entry> entry;
        if (const auto bytes = RegularFile::readWhole(path, kMaxEntrySize)) {
            const QJsonDocument document = QJsonDocument::fromJson(*bytes);
            if (document.isObject())
                entry = fromJson(document.object());
        }
        // Removing it goes by its task, so the two must agree.
        if (entry && name == entry->taskID + ".json")
            entries.push_back(*entry);
        else
            log().error("Cannot read the task journal %{public}@", path);
    }
    // Undone in the reverse order of their making: an older entry for a
    // container undoes what was there before the newer one's task began.
    // The sequence says that order whatever the clock did; entries of an
    // earlier version, which have none, came before every numbered one.
    std::stable_sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if ((a.sequence == 0) != (b.sequence == 0))
            return a.sequence != 0;
        if (a.sequence != b.sequence)
            return a.sequence > b.sequence;
        return a.firstWritten > b.firstWritten;
    });
    return entries;
}

namespace {

std::vector<fs::path> hiddenFolders(const TaskJournal::Entry &entry)
{
    std::vector<fs::path> folders;
    for (const auto &container : entry.containers)
        if (std::find(folders.begin(), folders.end(), container.backup.parent_path()) ==
            folders.end())
            folders.push_back(container.backup.parent_path());
    return folders;
}

} // namespace

bool TaskJournal::markEnded(const Entry &entry) const
{
    bool marked = !failureInjected(Step::markEnded, &entry);
    for (const fs::path &hidden : hiddenFolders(entry)) {
        if (!marked)
            break;
        const int folder = ::open(hidden.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int note = folder < 0 ? -1
                                    : ::openat(folder, kEndedName,
                                               O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        marked = note >= 0 && ::close(note) == 0 && ::fsync(folder) == 0;
        if (folder >= 0)
            ::close(folder);
    }
    if (!marked)
        log().error("Cannot note beside the backups of task %{public}@ that it has ended",
                    entry.taskID);
    return marked;
}

bool TaskJournal::hasEnded(const fs::path &hiddenFolder)
{
    struct stat info {};
    return ::lstat((hiddenFolder / kEndedName).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void TaskJournal::clearEnded(const Entry &entry)
{
    for (const fs::path &hidden : hiddenFolders(entry)) {
        try {
            if (hasEnded(hidden))
                removeTree(hidden / kEndedName);
        } catch (const fs::filesystem_error &error) {
            log().error("%{public}@", QString::fromLocal8Bit(error.what()));
        }
        if (itemExists(hidden))
            removeEmptyFolder(hidden);
    }
}

bool TaskJournal::writerIsRunning(const Entry &entry)
{
    if (entry.processID <= 0)
        return false;
    if (const auto state = ProcessRun::of(entry.processID))
        return state->start == entry.processStart && !state->ended;
    // Without a process table to read, a live process with that ID counts.
    return ::kill(pid_t(entry.processID), 0) == 0 || errno == EPERM;
}

fs::path TaskJournal::stagingFolder(const fs::path &archive, const QString &taskID)
{
    return archive.parent_path() / (".export-" + taskID).toStdString();
}

fs::path TaskJournal::backupFolder(const fs::path &container, const QString &taskID)
{
    return container.parent_path() / (".import-" + taskID).toStdString() / container.filename();
}

namespace {

// "<root>/<UDID>/data/Containers/Data/Application/<UUID>" for the data
// container, ".../Shared/AppGroup/<UUID>" for a group's, as the simulators
// lay them out.
bool isSimulatorContainer(const fs::path &folder, const QString &identifier, const fs::path &root)
{
    if (!root.is_absolute() || !isWithin(folder, root))
        return false;
    std::vector<QString> names;
    for (const fs::path &name :
         folder.lexically_normal().lexically_relative(root.lexically_normal()))
        names.push_back(displayPath(name));
    const bool data = identifier == File::dataContainerIdentifier;
    return names.size() == 6 && parseUuid(names[0]) && names[1] == "data" &&
           names[2] == "Containers" && names[3] == (data ? "Data" : "Shared") &&
           names[4] == (data ? "Application" : "AppGroup") && parseUuid(names[5]);
}

} // namespace

std::optional<QString> TaskJournal::flaw(const Entry &entry) const
{
    const auto uuid = parseUuid(entry.taskID);
    if (!uuid || uuidString(*uuid) != entry.taskID)
        return "the task " + entry.taskID;
    const auto odd = [](const char *what, const fs::path &path) {
        return QString("the %1 %2").arg(what, displayPath(path));
    };
    if (!isPlainAbsolute(entry.archive))
        return odd("archive", entry.archive);
    if (entry.kind == Entry::Kind::exportArchive) {
        if (entry.staging.native() != stagingFolder(entry.archive, entry.taskID).native())
            return odd("hidden folder", entry.staging);
        return std::nullopt;
    }
    for (const auto &container : entry.containers) {
        if (container.identifier != File::dataContainerIdentifier &&
            (!container.identifier.startsWith("group.") || container.identifier.contains('/')))
            return "the container " + container.identifier;
        if (!isPlainAbsolute(container.folder))
            return odd("container folder", container.folder);
        if (!isSimulatorContainer(container.folder, container.identifier, m_devicesRoot))
            return odd("folder, no simulator's container,", container.folder);
        if (container.backup.native() != backupFolder(container.folder, entry.taskID).native())
            return odd("backup", container.backup);
    }
    for (const auto &path : entry.created)
        if (!isPlainAbsolute(path) ||
            std::none_of(entry.containers.begin(), entry.containers.end(),
                         [&](const auto &container) { return isWithin(path, container.folder); }))
            return odd("item", path);
    return std::nullopt;
}

void TaskJournal::setFailureHook(FailureHook hook)
{
    std::lock_guard lock(hooksMutex);
    failureHook = std::move(hook);
}

void TaskJournal::setLockWait(std::optional<std::chrono::milliseconds> wait)
{
    std::lock_guard lock(hooksMutex);
    testLockWait = wait;
}

void TaskJournal::sweepScratch() const
{
    ScratchFiles::sweepOnce(QFile::encodeName(m_folder).toStdString());
}

void TaskJournal::setClock(Clock newClock)
{
    std::lock_guard lock(hooksMutex);
    testClock = std::move(newClock);
}

} // namespace corvane
