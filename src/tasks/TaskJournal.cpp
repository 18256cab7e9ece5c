#include "tasks/TaskJournal.h"

#include "core/File.h"
#include "platform/Log.h"
#include "platform/RegularFile.h"
#include "platform/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <stdexcept>

namespace corvane {

namespace fs = std::filesystem;

namespace {

constexpr qint64 kMaxEntrySize = 1 << 20;

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
const char *const kPhases[] = {"resetting", "copying", "restoring", "discarding"};

template <class Enum, size_t N>
std::optional<Enum> parseName(const QString &text, const char *const (&names)[N])
{
    for (size_t i = 0; i < N; ++i)
        if (text == QLatin1String(names[i]))
            return Enum(i);
    return std::nullopt;
}

// When the process started, in clock ticks after boot: with the process ID
// it names one run of a program, whatever reuses the ID later.
std::optional<quint64> processStart(qint64 pid)
{
    QFile file(QString("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray stat = file.read(4096);
    // The name in parentheses may hold anything; the fields follow the last ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    // Field 22 of the line, the 20th after the name.
    bool ok = false;
    const quint64 start = fields.size() > 19 ? fields[19].toULongLong(&ok) : 0;
    return ok ? std::optional(start) : std::nullopt;
}

QJsonObject toJson(const TaskJournal::Entry &entry)
{
    QJsonObject object{{"task", entry.taskID},
                       {"kind", kKinds[int(entry.kind)]},
                       {"pid", entry.processID},
                       {"started", QString::number(entry.processStart)},
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

TaskJournal::TaskJournal(const QString &stateFolder) : m_folder(stateFolder + "/tasks")
{
}

TaskJournal TaskJournal::current()
{
    return TaskJournal(SystemPaths::current().stateDir);
}

QString TaskJournal::pathOf(const QString &taskID) const
{
    return m_folder + '/' + taskID + ".json";
}

void TaskJournal::write(Entry &entry) const
{
    if (entry.processID == 0) {
        entry.processID = ::getpid();
        entry.processStart = processStart(entry.processID).value_or(0);
    }
    if (!QDir().mkpath(m_folder))
        throw std::runtime_error("Cannot create the task journal folder " + m_folder.toStdString());
    QSaveFile file(pathOf(entry.taskID));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(toJson(entry)).toJson(QJsonDocument::Compact)) < 0 ||
        !file.commit())
        throw std::runtime_error("Cannot write the task journal " + file.fileName().toStdString() +
                                 ": " + file.errorString().toStdString());
}

bool TaskJournal::remove(const QString &taskID) const
{
    QFile file(pathOf(taskID));
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
        if (entry)
            entries.push_back(*entry);
        else
            log().error("Cannot read the task journal %{public}@", path);
    }
    return entries;
}

bool TaskJournal::writerIsRunning(const Entry &entry)
{
    if (entry.processID <= 0)
        return false;
    if (const auto started = processStart(entry.processID))
        return *started == entry.processStart;
    // Without a process table to read, a live process with that ID counts.
    return ::kill(pid_t(entry.processID), 0) == 0 || errno == EPERM;
}

} // namespace corvane
