#include "platform/processes/ProcessRun.h"

#include <QFile>
#include <QList>

namespace corvane {

std::optional<ProcessRun> ProcessRun::of(qint64 pid)
{
    QFile file(QString("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray stat = file.read(4096);
    // The name in parentheses may hold anything; the state (field 3) and the
    // start (field 22) are the 1st and 20th after the last ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    bool ok = false;
    const quint64 start = fields.size() > 19 ? fields[19].toULongLong(&ok) : 0;
    if (!ok)
        return std::nullopt;
    return ProcessRun{start, fields[0] == "Z" || fields[0] == "X" || fields[0] == "x"};
}

} // namespace corvane
