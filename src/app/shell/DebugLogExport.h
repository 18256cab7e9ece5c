#pragma once

#include "platform/Log.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

// The program's log entries as the export reads them back.
class LogStore {
public:
    struct Entry {
        LogEntry entry;
        QString subsystem;
    };
    // The entries from `since` on, oldest first, or why they cannot be read.
    struct Query {
        std::vector<Entry> entries;
        std::optional<QString> error;
    };

    virtual ~LogStore() = default;
    virtual Query entries(const QDateTime &since, const QString &subsystem) = 0;

    // The file the program logs to; nothing when it logs to none.
    static std::shared_ptr<LogStore> local();
};

// "Export Debug Logs…": the program's log since boot with a short header,
// written to the temporary folder on the user-initiated queue, then saved
// where the user chooses. Alerts and the save panel come on the main thread.
namespace DebugLogExport {

struct Environment {
    std::function<std::shared_ptr<LogStore>()> openStore;
    // The current Xcode as the toolset manager describes it; may run tools.
    std::function<QString()> toolsetDescription;
    std::function<QString()> kernelRelease;
    // Invalid: every entry the store keeps.
    std::function<QDateTime()> bootTime;
    // Where the file is written first; empty: the program's temporary folder.
    QString temporaryDir;

    // Empty fields get the program's own.
    Environment withDefaults() const;
};

// Main thread.
void begin(const Environment &environment = {});

// "OS: 6.1.0": the first three numbers of the kernel release, missing ones 0.
QString systemLine(const QString &kernelRelease);
// One exported entry, ending in a line break.
QString entryLine(const LogEntry &entry);
// Kept: an entry of the program above debug level, from `since` on.
bool isExported(const LogStore::Entry &entry, const QDateTime &since);
// The time of the latest boot, from /proc/stat; invalid when unknown.
QDateTime latestBoot();

// Moves the exported file to the place the user chose, over a file already
// there, across file systems too; a failure is logged. Any thread.
void moveExportedLog(const QString &temporaryPath, const QString &chosenPath);

} // namespace DebugLogExport
} // namespace corvane
