#include "platform/Loc.h"

#include <QCoreApplication>

namespace corvane {

QString loc(const char *text, const char *comment)
{
    Q_UNUSED(comment);
    return QCoreApplication::translate("Corvane", text);
}

} // namespace corvane
