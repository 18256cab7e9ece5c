#include "platform/formats/PropertyList.h"

#include "platform/files/AtomicFile.h"
#include "platform/formats/BinaryPropertyList.h"
#include "platform/files/RegularFile.h"
#include "platform/formats/XmlPropertyList.h"

#include <new>

namespace corvane::PropertyList {

std::optional<QVariant> parse(const QByteArray &bytes)
{
    // A tree too large for memory is no property list this program can use.
    try {
        if (bytes.startsWith("bplist00"))
            return parseBinary(bytes);
        return parseXml(bytes);
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

std::optional<QVariant> readFile(const QString &path)
{
    const auto bytes = RegularFile::readWhole(path, maxFileBytes);
    if (!bytes)
        return std::nullopt;
    return parse(*bytes);
}

std::optional<QVariantMap> readDictionary(const QString &path)
{
    auto value = readFile(path);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    return value->toMap();
}

QByteArray toXml(const QVariant &value)
{
    return encodeXml(value);
}

QByteArray toBinary(const QVariant &value)
{
    return encodeBinary(value);
}

bool writeFile(const QString &path, const QVariant &value, bool binary)
{
    const QByteArray bytes = binary ? toBinary(value) : toXml(value);
    if (bytes.isEmpty())
        return false;
    return AtomicFile::save(path, bytes);
}

} // namespace corvane::PropertyList
