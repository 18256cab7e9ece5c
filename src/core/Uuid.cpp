#include "core/Uuid.h"

#include <QRegularExpression>

namespace corvane {

QString uuidString(const QUuid &uuid)
{
    return uuid.toString(QUuid::WithoutBraces).toUpper();
}

QString newUuidString()
{
    return uuidString(QUuid::createUuid());
}

std::optional<QUuid> parseUuid(QStringView text)
{
    static const QRegularExpression pattern(
        "^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$");
    if (!pattern.match(text.toString()).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

} // namespace corvane
