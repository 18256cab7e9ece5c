#include "platform/Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <vector>

namespace corvane {

QStringList Workspace::runningExecutablePaths()
{
    std::vector<qint64> pids;
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (isNumber)
            pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());

    QStringList paths;
    for (const qint64 pid : pids) {
        const QString folder = QStringLiteral("/proc/%1/").arg(pid);
        const QString executable = QFileInfo(folder + "exe").symLinkTarget();
        if (!executable.isEmpty())
            paths << executable;
        QFile cmdline(folder + "cmdline");
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = cmdline.read(4096);
        const QString first = QFile::decodeName(bytes.left(bytes.indexOf('\0')));
        if (first.startsWith('/') && first != executable)
            paths << first;
    }
    return paths;
}

} // namespace corvane
