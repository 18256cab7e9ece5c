#pragma once

#include "core/Observable.h"
#include "platform/Object.h"

#include <QByteArray>
#include <QGeoCoordinate>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

// A named coordinate the user sends to the simulators in one step. Setting
// the title, latitude or longitude posts didChange (object: the preset) on
// the setting thread, on every call; setting the identifier posts nothing.
class LocationPreset : public Object {
public:
    static constexpr const char *didChange = "com.quendrith.corvane.locationpreset.didChange";
    static constexpr double defaultLatitude = 37.33507030721554;
    static constexpr double defaultLongitude = -122.00915439213304;
    static constexpr const char *defaultTitle = "Untitled Preset";

    // A new identifier, the title and the default coordinate; posts nothing.
    static std::shared_ptr<LocationPreset> make(const QString &title);

    LocationPreset(const LocationPreset &) = delete;
    LocationPreset &operator=(const LocationPreset &) = delete;

    QString uniqueIdentifier() const { return m_uniqueIdentifier.get(); }
    void setUniqueIdentifier(const QString &value) { m_uniqueIdentifier.set(value); }
    QString title() const { return m_title.get(); }
    void setTitle(const QString &value);
    double latitude() const { return m_latitude.get(); }
    void setLatitude(double value);
    double longitude() const { return m_longitude.get(); }
    void setLongitude(double value);

    Observable<QString> &titleProperty() { return m_title; }
    Observable<double> &latitudeProperty() { return m_latitude; }
    Observable<double> &longitudeProperty() { return m_longitude; }

    // The pair as stored; invalid when either value lies off the globe.
    QGeoCoordinate coordinate() const;
    // "%.06f, %.06f" of latitude and longitude, whatever the locale.
    QString coordinateText() const;
    // A valid typed coordinate sets the latitude and then the longitude (two
    // posts); any other text changes nothing.
    void setCoordinateText(QStringView text);

    // Calls the handler after each set of the property or, for "coordinate"
    // and "coordinateText", of the latitude or longitude. Nothing for an
    // unknown name.
    ObserverPtr observe(const QString &propertyName, std::function<void()> handler);
    static QStringList keyPathsForValuesAffecting(const QString &propertyName);

    // The stored values, copied at once, for a save on another thread.
    struct Values {
        QString uniqueIdentifier;
        QString title;
        double latitude = defaultLatitude;
        double longitude = defaultLongitude;

        // One compact object with the four keys; nothing when a coordinate
        // value has no JSON form (not finite).
        std::optional<QByteArray> toJson() const;
    };
    Values values() const;

    // Leniently decoded: a key absent, null or of the wrong type takes its
    // default (a missing identifier a new one); only a value that is no
    // object fails.
    static std::shared_ptr<LocationPreset> fromJson(const QJsonValue &value);
    // Nothing when the text is no JSON array or an element is no object.
    static std::optional<std::vector<std::shared_ptr<LocationPreset>>>
    decodeList(const QByteArray &json);
    // Nothing when a value has no JSON form.
    static std::optional<QByteArray> encodeList(const std::vector<Values> &presets);

    // Same identifier; title and coordinate take no part.
    bool isEqual(const LocationPreset &other) const;
    // Stable, by title in code points of the canonically composed text.
    static void sortByTitle(std::vector<std::shared_ptr<LocationPreset>> &presets);

private:
    explicit LocationPreset(const QString &title);
    void postDidChange();
    ObserverPtr observeStored(const QString &propertyName, const std::function<void()> &handler);

    Observable<QString> m_uniqueIdentifier;
    Observable<QString> m_title;
    Observable<double> m_latitude{defaultLatitude};
    Observable<double> m_longitude{defaultLongitude};
};

using LocationPresetPtr = std::shared_ptr<LocationPreset>;

inline bool operator==(const LocationPreset &a, const LocationPreset &b)
{
    return a.isEqual(b);
}

} // namespace corvane
