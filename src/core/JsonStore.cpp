#include "core/JsonStore.h"

#include "platform/files/AtomicFile.h"
#include "platform/Log.h"
#include "platform/files/RegularFile.h"
#include "platform/files/SetAside.h"

namespace corvane {

std::optional<QString> jsonString(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// JSON numbers arrive as doubles.
std::optional<qint64> jsonInteger(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return std::nullopt;
    const qint64 a = value.toInteger(0);
    const qint64 b = value.toInteger(1);
    if (a != b)
        return std::nullopt;
    return a;
}

std::optional<double> jsonNumber(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return std::nullopt;
    return value.toDouble();
}

QByteArray jsonLiteral(const QJsonValue &value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray jsonMember(const char *key, const QJsonValue &value)
{
    return jsonLiteral(QString::fromUtf8(key)) + ':' + jsonLiteral(value);
}

QByteArray jsonObjectText(const QList<QByteArray> &members)
{
    return '{' + members.join(',') + '}';
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    return AtomicFile::save(path, bytes);
}

std::optional<QByteArray> readStoreFile(const QString &path, bool &unreadable)
{
    RegularFile file(path);
    if (file.error() == RegularFile::Error::missing)
        return std::nullopt;
    auto bytes = file.readAll(storeFileMaxBytes);
    if (!bytes) {
        unreadable = true;
        Log::general().error("%{PUBLIC}@", file.errorDescription(path, storeFileMaxBytes));
    }
    return bytes;
}

void logUnreadStore(const QString &path, int skipped)
{
    if (skipped < 0)
        Log::general().error("%{PUBLIC}@ holds no list of presets", path);
    else
        Log::general().error("Unreadable presets left out of %{PUBLIC}@: %{PUBLIC}@", path,
                             QString::number(skipped));
}

bool setAsideUnreadFile(const QString &path, bool &notReadWhole)
{
    if (!notReadWhole)
        return true;
    const SetAsideResult result = setAside(path);
    if (!result.cleared()) {
        Log::general().error("Cannot set %{PUBLIC}@ aside; presets not saved", path);
        return false;
    }
    if (result.outcome == SetAsideResult::Outcome::setAside)
        Log::general().info("Set %{PUBLIC}@ aside as %{PUBLIC}@, as it was not read whole", path,
                            result.asidePath);
    notReadWhole = false;
    return true;
}

} // namespace corvane
