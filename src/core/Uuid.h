#pragma once

#include <QString>
#include <QUuid>

#include <optional>

namespace corvane {

// 36 characters, upper case, as UDIDs and container folders are named.
QString uuidString(const QUuid &uuid);
QString newUuidString();
// Only the hyphenated 36-character form parses.
std::optional<QUuid> parseUuid(QStringView text);

} // namespace corvane
