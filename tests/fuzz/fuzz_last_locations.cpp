#include "FuzzSupport.h"
#include "core/LocationArrayJson.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace corvane;

namespace {

std::optional<double> number(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        return std::nullopt;
    return value.toDouble();
}

// The whole-document reader the last-locations store had before.
std::optional<std::vector<Location>> reference(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    std::vector<Location> locations;
    for (const QJsonValue &element : document.array()) {
        const QJsonObject object = element.toObject();
        const QJsonObject coordinate = object.value("cordinate").toObject();
        const auto values = {
            number(coordinate, "lat"),          number(coordinate, "lon"),
            number(object, "altitude"),         number(object, "horizontalAccuracy"),
            number(object, "verticalAccuracy"), number(object, "speed"),
            number(object, "course"),           number(object, "timestamp")};
        if (!element.isObject() || !object.value("cordinate").isObject())
            return std::nullopt;
        for (const auto &value : values)
            if (!value)
                return std::nullopt;
        Location location;
        location.coordinate.setLatitude(*number(coordinate, "lat"));
        location.coordinate.setLongitude(*number(coordinate, "lon"));
        location.altitude = *number(object, "altitude");
        location.horizontalAccuracy = *number(object, "horizontalAccuracy");
        location.verticalAccuracy = *number(object, "verticalAccuracy");
        location.speed = *number(object, "speed");
        location.course = *number(object, "course");
        location.timestamp = *number(object, "timestamp") + locationArrayReferenceDate;
        locations.push_back(location);
    }
    return locations;
}

std::optional<std::vector<Location>> decode(const QByteArray &json)
{
    qsizetype offset = 0;
    return readLocationArray([&](char *buffer, qint64 length) {
        // Small pieces, so that tokens are split between them.
        const qint64 count = std::min<qint64>({length, 7, json.size() - offset});
        std::memcpy(buffer, json.constData() + offset, size_t(count));
        offset += count;
        return count;
    });
}

} // namespace

// Any bytes: the piecewise reader and the document reader agree, and what
// was read is written and read back equal.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto decoded = decode(json);
    fuzz::check(decoded == reference(json));
    if (!decoded)
        return 0;
    QByteArray encoded;
    fuzz::check(writeLocationArray(*decoded, [&](const QByteArray &piece) {
        encoded += piece;
        return true;
    }));
    fuzz::check(decode(encoded) == decoded);
    return 0;
}
