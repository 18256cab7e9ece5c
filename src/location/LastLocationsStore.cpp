#include "location/LastLocationsStore.h"

#include "platform/SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cmath>

namespace corvane {

namespace {

std::optional<double> number(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const double result = value.toDouble();
    if (!std::isfinite(result))
        return std::nullopt;
    return result;
}

std::optional<Location> decodeLocation(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue coordinate = object.value("cordinate");
    if (!coordinate.isObject())
        return std::nullopt;
    const auto latitude = number(coordinate.toObject(), "lat");
    const auto longitude = number(coordinate.toObject(), "lon");
    const auto altitude = number(object, "altitude");
    const auto horizontalAccuracy = number(object, "horizontalAccuracy");
    const auto verticalAccuracy = number(object, "verticalAccuracy");
    const auto speed = number(object, "speed");
    const auto course = number(object, "course");
    const auto timestamp = number(object, "timestamp");
    if (!latitude || !longitude || !altitude || !horizontalAccuracy || !verticalAccuracy ||
        !speed || !course || !timestamp)
        return std::nullopt;
    // Set one by one: the coordinate's constructor drops values out of range.
    Location location;
    location.coordinate.setLatitude(*latitude);
    location.coordinate.setLongitude(*longitude);
    location.altitude = *altitude;
    location.horizontalAccuracy = *horizontalAccuracy;
    location.verticalAccuracy = *verticalAccuracy;
    location.speed = *speed;
    location.course = *course;
    location.timestamp = *timestamp + LastLocationsStore::referenceDateOffset;
    return location;
}

bool writeRoute(const QString &path, const std::vector<Location> &locations)
{
    if (locations.empty()) {
        QFile::remove(path);
        return false;
    }
    const auto bytes = LastLocationsStore::encode(locations);
    if (!bytes)
        return false;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder))
        QDir().mkpath(folder);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size())
        return false;
    return file.commit();
}

} // namespace

LastLocationsStore::LastLocationsStore(QString path)
    : m_path(std::move(path)),
      m_queue(DispatchQueue::makeSerial("com.quendrith.corvane.locations.save"))
{
}

LastLocationsStore::~LastLocationsStore() = default;

QString LastLocationsStore::standardPath()
{
    return SystemPaths::current().programSupportDir() + '/' + fileName;
}

std::optional<QByteArray> LastLocationsStore::encode(const std::vector<Location> &locations)
{
    QJsonArray array;
    for (const Location &location : locations) {
        const double timestamp = location.timestamp - referenceDateOffset;
        const double values[] = {location.coordinate.latitude(),
                                 location.coordinate.longitude(),
                                 location.altitude,
                                 location.horizontalAccuracy,
                                 location.verticalAccuracy,
                                 location.speed,
                                 location.course,
                                 timestamp};
        for (double value : values)
            if (!std::isfinite(value))
                return std::nullopt;
        array.append(QJsonObject{
            {"cordinate", QJsonObject{{"lat", location.coordinate.latitude()},
                                      {"lon", location.coordinate.longitude()}}},
            {"altitude", location.altitude},
            {"horizontalAccuracy", location.horizontalAccuracy},
            {"verticalAccuracy", location.verticalAccuracy},
            {"speed", location.speed},
            {"course", location.course},
            {"timestamp", timestamp},
        });
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

std::optional<std::vector<Location>> LastLocationsStore::decode(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray array = document.array();
    std::vector<Location> locations;
    locations.reserve(size_t(array.size()));
    for (const QJsonValue &element : array) {
        auto location = decodeLocation(element);
        if (!location)
            return std::nullopt;
        locations.push_back(*location);
    }
    return locations;
}

std::optional<std::vector<Location>> LastLocationsStore::load() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return decode(bytes).value_or(std::vector<Location>());
}

bool LastLocationsStore::save(const std::vector<Location> &locations) const
{
    return writeRoute(m_path, locations);
}

void LastLocationsStore::saveLater(std::shared_ptr<const std::vector<Location>> locations)
{
    // The work needs nothing of the store, which may go first.
    m_queue->async(
        [path = m_path, locations = std::move(locations)] { writeRoute(path, *locations); });
}

void LastLocationsStore::waitForSaves()
{
    m_queue->sync([] {});
}

} // namespace corvane
