#include "model/StatusBarPreset.h"

#include "core/JsonStore.h"
#include "core/Observer.h"
#include "core/StringCompare.h"
#include "core/Uuid.h"

#include <algorithm>

namespace corvane {

namespace {

int indexIn(const QStringList &list, const QString &value)
{
    const int index = int(list.indexOf(value));
    return index < 0 ? 0 : index;
}

} // namespace

std::shared_ptr<StatusBarPreset> StatusBarPreset::make(const QString &title)
{
    return std::shared_ptr<StatusBarPreset>(new StatusBarPreset(title));
}

StatusBarPreset::StatusBarPreset(const QString &title)
    : m_uniqueIdentifier(newUuidString()), m_title(title)
{
}

void StatusBarPreset::postDidChange()
{
    postNotification(didChange, shared_from_this());
}

void StatusBarPreset::setTitle(const QString &value)
{
    m_title.set(value);
    postDidChange();
}

void StatusBarPreset::setTime(const QString &value)
{
    m_time.set(value);
    postDidChange();
}

void StatusBarPreset::setDataNetwork(const QString &value)
{
    m_dataNetwork.set(value);
    postDidChange();
}

void StatusBarPreset::setCarrierName(const QString &value)
{
    m_carrierName.set(value);
    postDidChange();
}

void StatusBarPreset::setWifiMode(const QString &value)
{
    m_wifiMode.set(value);
    postDidChange();
}

void StatusBarPreset::setWifiBars(qint64 value)
{
    m_wifiBars.set(value);
    postDidChange();
}

void StatusBarPreset::setCellularMode(const QString &value)
{
    m_cellularMode.set(value);
    postDidChange();
}

void StatusBarPreset::setCellularBars(qint64 value)
{
    m_cellularBars.set(value);
    postDidChange();
}

void StatusBarPreset::setBatteryState(const QString &value)
{
    m_batteryState.set(value);
    postDidChange();
}

void StatusBarPreset::setBatteryLevel(qint64 value)
{
    m_batteryLevel.set(value);
    postDidChange();
}

const QStringList &StatusBarPreset::dataNetworkValues()
{
    static const QStringList values{"lte+", "lte-a", "lte", "4g", "3g", "wifi"};
    return values;
}

const QStringList &StatusBarPreset::cellularModeValues()
{
    static const QStringList values{"active", "failed", "searching", "notSupported"};
    return values;
}

const QStringList &StatusBarPreset::batteryStateValues()
{
    static const QStringList values{"discharging", "charging"};
    return values;
}

const QStringList &StatusBarPreset::storedPropertyNames()
{
    static const QStringList names{"uniqueIdentifier", "title",        "time",
                                   "dataNetwork",      "carrierName",  "wifiMode",
                                   "wifiBars",         "cellularMode", "cellularBars",
                                   "batteryState",     "batteryLevel"};
    return names;
}

int StatusBarPreset::dataNetworkButtonIndex() const
{
    return indexIn(dataNetworkValues(), dataNetwork());
}

void StatusBarPreset::setDataNetworkButtonIndex(int index)
{
    if (index < 0 || index >= dataNetworkValues().size())
        return;
    setDataNetwork(dataNetworkValues().at(index));
    m_dataNetworkButtonIndexSet.notify();
}

int StatusBarPreset::carrierStatusIndex() const
{
    return indexIn(cellularModeValues(), cellularMode());
}

void StatusBarPreset::setCarrierStatusIndex(int index)
{
    if (index < 0 || index >= cellularModeValues().size())
        return;
    setCellularMode(cellularModeValues().at(index));
    m_carrierStatusIndexSet.notify();
}

int StatusBarPreset::batteryButtonIndex() const
{
    return indexIn(batteryStateValues(), batteryState());
}

void StatusBarPreset::setBatteryButtonIndex(int index)
{
    if (index < 0 || index >= batteryStateValues().size())
        return;
    setBatteryState(batteryStateValues().at(index));
    m_batteryButtonIndexSet.notify();
}

int StatusBarPreset::wifiButtonIndex() const
{
    return wifiMode() == "failed" ? 4 : int(wifiBars());
}

void StatusBarPreset::setWifiButtonIndex(int index)
{
    setWifiMode(index == 4 ? "failed" : "active");
    setWifiBars(index < 3 ? index : 3);
    m_wifiButtonIndexSet.notify();
}

bool StatusBarPreset::carrierBarsButtonEnabled() const
{
    return cellularMode() == "active";
}

qint64 StatusBarPreset::carrierBarsButtonIndex() const
{
    return carrierBarsButtonEnabled() ? cellularBars() : -1;
}

void StatusBarPreset::setCarrierBarsButtonIndex(qint64 index)
{
    if (index == -1)
        return;
    setCellularBars(index);
    m_carrierBarsButtonIndexSet.notify();
}

bool StatusBarPreset::carrierNameEnabled() const
{
    const QString mode = cellularMode();
    return mode == "active" || mode == "searching";
}

QStringList StatusBarPreset::keyPathsForValuesAffecting(const QString &propertyName)
{
    if (propertyName == "wifiButtonIndex")
        return {"wifiBars", "wifiMode"};
    if (propertyName == "carrierBarsButtonEnabled" || propertyName == "carrierNameEnabled")
        return {"cellularMode"};
    if (propertyName == "carrierBarsButtonIndex")
        return {"cellularBars", "cellularMode"};
    return {};
}

std::vector<ObserverPtr> StatusBarPreset::observeStored(const QString &propertyName,
                                                        const std::function<void()> &handler)
{
    const auto call = [handler](const auto &, const auto &) { handler(); };
    const std::map<QString, Observable<QString> *> texts{{"uniqueIdentifier", &m_uniqueIdentifier},
                                                         {"title", &m_title},
                                                         {"time", &m_time},
                                                         {"dataNetwork", &m_dataNetwork},
                                                         {"carrierName", &m_carrierName},
                                                         {"wifiMode", &m_wifiMode},
                                                         {"cellularMode", &m_cellularMode},
                                                         {"batteryState", &m_batteryState}};
    const std::map<QString, Observable<qint64> *> numbers{{"wifiBars", &m_wifiBars},
                                                          {"cellularBars", &m_cellularBars},
                                                          {"batteryLevel", &m_batteryLevel}};
    const std::map<QString, Observable<int> *> ownSetters{
        {"dataNetworkButtonIndex", &m_dataNetworkButtonIndexSet},
        {"carrierStatusIndex", &m_carrierStatusIndexSet},
        {"batteryButtonIndex", &m_batteryButtonIndexSet},
        {"wifiButtonIndex", &m_wifiButtonIndexSet},
        {"carrierBarsButtonIndex", &m_carrierBarsButtonIndexSet}};
    if (auto it = texts.find(propertyName); it != texts.end())
        return {it->second->observe(call)};
    if (auto it = numbers.find(propertyName); it != numbers.end())
        return {it->second->observe(call)};
    if (auto it = ownSetters.find(propertyName); it != ownSetters.end())
        return {it->second->observe(call)};
    return {};
}

ObserverPtr StatusBarPreset::observe(const QString &propertyName, std::function<void()> handler)
{
    std::vector<ObserverPtr> tokens = observeStored(propertyName, handler);
    for (const QString &dependency : keyPathsForValuesAffecting(propertyName)) {
        auto more = observeStored(dependency, handler);
        tokens.insert(tokens.end(), more.begin(), more.end());
    }
    if (tokens.empty())
        return nullptr;
    return std::make_shared<ObserverGroup>(std::move(tokens));
}

std::shared_ptr<StatusBarPreset> StatusBarPreset::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return nullptr;
    const QJsonObject object = value.toObject();
    auto preset = make("Keynote");
    // Stored directly: decoding is no edit and posts nothing.
    if (auto v = jsonString(object, "uniqueIdentifier"))
        preset->m_uniqueIdentifier.set(*v);
    if (auto v = jsonString(object, "title"))
        preset->m_title.set(*v);
    if (auto v = jsonString(object, "time"))
        preset->m_time.set(*v);
    if (auto v = jsonString(object, "dataNetwork"))
        preset->m_dataNetwork.set(*v);
    if (auto v = jsonString(object, "carrierName"))
        preset->m_carrierName.set(*v);
    if (auto v = jsonString(object, "wifiMode"))
        preset->m_wifiMode.set(*v);
    if (auto v = jsonInteger(object, "wifiBars"))
        preset->m_wifiBars.set(*v);
    if (auto v = jsonString(object, "cellularMode"))
        preset->m_cellularMode.set(*v);
    if (auto v = jsonInteger(object, "cellularBars"))
        preset->m_cellularBars.set(*v);
    if (auto v = jsonString(object, "batteryState"))
        preset->m_batteryState.set(*v);
    if (auto v = jsonInteger(object, "batteryLevel"))
        preset->m_batteryLevel.set(*v);
    return preset;
}

QByteArray StatusBarPreset::toJson() const
{
    return jsonObjectText(
        {jsonMember("uniqueIdentifier", uniqueIdentifier()), jsonMember("title", title()),
         jsonMember("time", time()), jsonMember("dataNetwork", dataNetwork()),
         jsonMember("carrierName", carrierName()), jsonMember("wifiMode", wifiMode()),
         jsonMember("wifiBars", wifiBars()), jsonMember("cellularMode", cellularMode()),
         jsonMember("cellularBars", cellularBars()), jsonMember("batteryState", batteryState()),
         jsonMember("batteryLevel", batteryLevel())});
}

std::optional<std::vector<std::shared_ptr<StatusBarPreset>>>
StatusBarPreset::decodeList(const QByteArray &json, int *skipped)
{
    // One element that cannot be read costs that element, not the list.
    int left = 0;
    auto presets = decodeJsonArray<std::shared_ptr<StatusBarPreset>>(json, fromJson, &left);
    if (skipped)
        *skipped = left;
    return presets;
}

QByteArray StatusBarPreset::encodeList(const std::vector<std::shared_ptr<StatusBarPreset>> &presets)
{
    return encodeJsonArray(presets, [](const auto &preset) { return preset->toJson(); });
}

bool StatusBarPreset::isEqual(const StatusBarPreset &other) const
{
    return uniqueIdentifier() == other.uniqueIdentifier();
}

bool StatusBarPreset::titleLess(const StatusBarPreset &a, const StatusBarPreset &b)
{
    return codePointLess(a.title(), b.title());
}

void StatusBarPreset::sortByTitle(std::vector<std::shared_ptr<StatusBarPreset>> &presets)
{
    std::stable_sort(presets.begin(), presets.end(),
                     [](const auto &a, const auto &b) { return titleLess(*a, *b); });
}

} // namespace corvane
