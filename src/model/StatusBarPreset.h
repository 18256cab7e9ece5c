#pragma once

#include "core/Observable.h"
#include "platform/Object.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvane {

// A named set of status-bar override values. Every setter but that of the
// identifier posts didChange (object: the preset) on the setting thread, on
// every call, whether or not the value changed.
class StatusBarPreset : public Object {
public:
    static constexpr const char *didChange = "com.quendrith.corvane.statusbarpreset.didChange";

    static std::shared_ptr<StatusBarPreset> make(const QString &title);

    StatusBarPreset(const StatusBarPreset &) = delete;
    StatusBarPreset &operator=(const StatusBarPreset &) = delete;

    QString uniqueIdentifier() const { return m_uniqueIdentifier.get(); }
    void setUniqueIdentifier(const QString &value) { m_uniqueIdentifier.set(value); }
    QString title() const { return m_title.get(); }
    void setTitle(const QString &value);
    QString time() const { return m_time.get(); }
    void setTime(const QString &value);
    QString dataNetwork() const { return m_dataNetwork.get(); }
    void setDataNetwork(const QString &value);
    QString carrierName() const { return m_carrierName.get(); }
    void setCarrierName(const QString &value);
    QString wifiMode() const { return m_wifiMode.get(); }
    void setWifiMode(const QString &value);
    qint64 wifiBars() const { return m_wifiBars.get(); }
    void setWifiBars(qint64 value);
    QString cellularMode() const { return m_cellularMode.get(); }
    void setCellularMode(const QString &value);
    qint64 cellularBars() const { return m_cellularBars.get(); }
    void setCellularBars(qint64 value);
    QString batteryState() const { return m_batteryState.get(); }
    void setBatteryState(const QString &value);
    qint64 batteryLevel() const { return m_batteryLevel.get(); }
    void setBatteryLevel(qint64 value);

    // Positions of the settings pane's buttons. Writes outside the accepted
    // range are ignored.
    int dataNetworkButtonIndex() const;
    void setDataNetworkButtonIndex(int index);
    int carrierStatusIndex() const;
    void setCarrierStatusIndex(int index);
    int batteryButtonIndex() const;
    void setBatteryButtonIndex(int index);
    // 4 stands for a failed Wi-Fi.
    int wifiButtonIndex() const;
    void setWifiButtonIndex(int index);
    bool carrierBarsButtonEnabled() const;
    // -1 while the bars are disabled; writing -1 changes nothing.
    qint64 carrierBarsButtonIndex() const;
    void setCarrierBarsButtonIndex(qint64 index);
    bool carrierNameEnabled() const;

    static const QStringList &dataNetworkValues();
    static const QStringList &cellularModeValues();
    static const QStringList &batteryStateValues();
    // The stored properties, in the order of the JSON keys.
    static const QStringList &storedPropertyNames();
    // The properties a derived property is computed from.
    static QStringList keyPathsForValuesAffecting(const QString &propertyName);

    // Calls the handler after each set of the property, or, for a derived
    // property, of its own setter and of what it depends on. Nothing for an
    // unknown name.
    ObserverPtr observe(const QString &propertyName, std::function<void()> handler);

    // Leniently decoded: a key absent, null or of the wrong type keeps its
    // default; only a value that is no object fails.
    static std::shared_ptr<StatusBarPreset> fromJson(const QJsonValue &value);
    // One compact object with all eleven keys in their order.
    QByteArray toJson() const;
    // Nothing when the text is no JSON array. Elements that are no object are
    // left out and the rest kept; `skipped`, when given, counts them.
    static std::optional<std::vector<std::shared_ptr<StatusBarPreset>>>
    decodeList(const QByteArray &json, int *skipped = nullptr);
    static QByteArray encodeList(const std::vector<std::shared_ptr<StatusBarPreset>> &presets);

    // Same identifier.
    bool isEqual(const StatusBarPreset &other) const;
    // By title, in code points of the canonically composed text.
    static bool titleLess(const StatusBarPreset &a, const StatusBarPreset &b);
    static void sortByTitle(std::vector<std::shared_ptr<StatusBarPreset>> &presets);

private:
    explicit StatusBarPreset(const QString &title);
    void postDidChange();
    std::vector<ObserverPtr> observeStored(const QString &propertyName,
                                           const std::function<void()> &handler);

    Observable<QString> m_uniqueIdentifier;
    Observable<QString> m_title;
    Observable<QString> m_time{"9:41 AM"};
    Observable<QString> m_dataNetwork{"notSupported"};
    Observable<QString> m_carrierName{"Carrier"};
    Observable<QString> m_wifiMode{"active"};
    Observable<qint64> m_wifiBars{3};
    Observable<QString> m_cellularMode{"active"};
    Observable<qint64> m_cellularBars{4};
    Observable<QString> m_batteryState{"discharging"};
    Observable<qint64> m_batteryLevel{100};

    // Told when a derived property's own setter runs.
    Observable<int> m_dataNetworkButtonIndexSet;
    Observable<int> m_carrierStatusIndexSet;
    Observable<int> m_batteryButtonIndexSet;
    Observable<int> m_wifiButtonIndexSet;
    Observable<int> m_carrierBarsButtonIndexSet;
};

using StatusBarPresetPtr = std::shared_ptr<StatusBarPreset>;

inline bool operator==(const StatusBarPreset &a, const StatusBarPreset &b)
{
    return a.isEqual(b);
}
inline bool operator<(const StatusBarPreset &a, const StatusBarPreset &b)
{
    return StatusBarPreset::titleLess(a, b);
}
inline bool operator>(const StatusBarPreset &a, const StatusBarPreset &b)
{
    return StatusBarPreset::titleLess(b, a);
}
inline bool operator<=(const StatusBarPreset &a, const StatusBarPreset &b)
{
    return !StatusBarPreset::titleLess(b, a);
}
inline bool operator>=(const StatusBarPreset &a, const StatusBarPreset &b)
{
    return !StatusBarPreset::titleLess(a, b);
}

} // namespace corvane
