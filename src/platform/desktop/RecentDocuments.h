#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace corvane {

// The desktop's list of recently used files ("recently-used.xbel" under
// $XDG_DATA_HOME, else ~/.local/share), which file choosers and launchers
// show. Entries of other programs are kept as they are; the file is
// rewritten atomically, and one that does not parse is left alone.
class RecentDocuments {
public:
    struct Application {
        QString name;
        // The command line the desktop would run to open the file.
        QString exec;
    };

    static QString filePath();

    // Adds the file, or marks an entry already there as used now; our
    // application's use count grows by one. Returns false when the list
    // could not be read or written. Thread-safe within the process.
    static bool add(const QString &path, const QString &mimeType, const Application &application,
                    const QDateTime &now = QDateTime::currentDateTimeUtc());

    // The local files listed, in file order.
    static QStringList paths();
};

} // namespace corvane
