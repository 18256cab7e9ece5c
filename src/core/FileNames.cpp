#include "core/FileNames.h"

namespace corvane {

QString safeFileName(const QString &name)
{
    QString safe = name;
    safe.replace(QChar('/'), QChar('-'));
    safe.replace(QChar(u'\0'), QChar('-'));
    if (safe.isEmpty() || safe == "." || safe == "..")
        safe += '_';
    return safe;
}

} // namespace corvane
