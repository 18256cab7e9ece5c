#include "location/LocationPreset.h"

#include "core/JsonStore.h"
#include "core/Observer.h"
#include "core/StringCompare.h"
#include "core/Uuid.h"
#include "location/CoordinateText.h"

#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <map>

namespace corvane {

std::shared_ptr<LocationPreset> LocationPreset::make(const QString &title)
{
    return std::shared_ptr<LocationPreset>(new LocationPreset(title));
}

LocationPreset::LocationPreset(const QString &title)
    : m_uniqueIdentifier(newUuidString()), m_title(title)
{
}

void LocationPreset::postDidChange()
{
    postNotification(didChange, shared_from_this());
}

void LocationPreset::setTitle(const QString &value)
{
    m_title.set(value);
    postDidChange();
}

void LocationPreset::setLatitude(double value)
{
    m_latitude.set(value);
    postDidChange();
}

void LocationPreset::setLongitude(double value)
{
    m_longitude.set(value);
    postDidChange();
}

QGeoCoordinate LocationPreset::coordinate() const
{
    // One value at a time: the two-value constructor drops both when either
    // lies off the globe.
    QGeoCoordinate coordinate;
    coordinate.setLatitude(latitude());
    coordinate.setLongitude(longitude());
    return coordinate;
}

QString LocationPreset::coordinateText() const
{
    return QString::asprintf("%.06f, %.06f", latitude(), longitude());
}

void LocationPreset::setCoordinateText(QStringView text)
{
    const std::optional<QGeoCoordinate> coordinate = parseCoordinateText(text);
    if (!coordinate)
        return;
    setLatitude(coordinate->latitude());
    setLongitude(coordinate->longitude());
}

QStringList LocationPreset::keyPathsForValuesAffecting(const QString &propertyName)
{
    if (propertyName == "coordinate" || propertyName == "coordinateText")
        return {"latitude", "longitude"};
    return {};
}

ObserverPtr LocationPreset::observeStored(const QString &propertyName,
                                          const std::function<void()> &handler)
{
    const auto call = [handler](const auto &, const auto &) { handler(); };
    if (propertyName == "uniqueIdentifier")
        return m_uniqueIdentifier.observe(call);
    if (propertyName == "title")
        return m_title.observe(call);
    if (propertyName == "latitude")
        return m_latitude.observe(call);
    if (propertyName == "longitude")
        return m_longitude.observe(call);
    return nullptr;
}

ObserverPtr LocationPreset::observe(const QString &propertyName, std::function<void()> handler)
{
    std::vector<ObserverPtr> tokens;
    if (auto token = observeStored(propertyName, handler))
        tokens.push_back(std::move(token));
    for (const QString &dependency : keyPathsForValuesAffecting(propertyName))
        tokens.push_back(observeStored(dependency, handler));
    if (tokens.empty())
        return nullptr;
    return std::make_shared<ObserverGroup>(std::move(tokens));
}

LocationPreset::Values LocationPreset::values() const
{
    return {uniqueIdentifier(), title(), latitude(), longitude()};
}

std::optional<QByteArray> LocationPreset::Values::toJson() const
{
    // JSON has no form for these; the store then writes nothing.
    if (!std::isfinite(latitude) || !std::isfinite(longitude))
        return std::nullopt;
    return jsonObjectText({jsonMember("uniqueIdentifier", uniqueIdentifier),
                           jsonMember("title", title), jsonMember("latitude", latitude),
                           jsonMember("longitude", longitude)});
}

std::shared_ptr<LocationPreset> LocationPreset::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return nullptr;
    const QJsonObject object = value.toObject();
    auto preset = make(defaultTitle);
    // Stored directly: decoding is no edit and posts nothing.
    if (auto v = jsonString(object, "uniqueIdentifier"))
        preset->m_uniqueIdentifier.set(*v);
    if (auto v = jsonString(object, "title"))
        preset->m_title.set(*v);
    if (auto v = jsonNumber(object, "latitude"))
        preset->m_latitude.set(*v);
    if (auto v = jsonNumber(object, "longitude"))
        preset->m_longitude.set(*v);
    return preset;
}

std::optional<std::vector<std::shared_ptr<LocationPreset>>>
LocationPreset::decodeList(const QByteArray &json)
{
    return decodeJsonArray<std::shared_ptr<LocationPreset>>(json, fromJson);
}

std::optional<QByteArray> LocationPreset::encodeList(const std::vector<Values> &presets)
{
    std::vector<QByteArray> objects;
    objects.reserve(presets.size());
    for (const Values &preset : presets) {
        std::optional<QByteArray> object = preset.toJson();
        if (!object)
            return std::nullopt;
        objects.push_back(std::move(*object));
    }
    return encodeJsonArray(objects, [](const QByteArray &object) { return object; });
}

bool LocationPreset::isEqual(const LocationPreset &other) const
{
    return uniqueIdentifier() == other.uniqueIdentifier();
}

void LocationPreset::sortByTitle(std::vector<std::shared_ptr<LocationPreset>> &presets)
{
    std::stable_sort(presets.begin(), presets.end(), [](const auto &a, const auto &b) {
        return codePointLess(a->title(), b->title());
    });
}

} // namespace corvane
