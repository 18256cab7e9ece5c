#include "model/InstalledRuntimes.h"

#include "platform/formats/PropertyList.h"
#include "platform/files/SystemPaths.h"

#include <QVariantList>
#include <QVariantMap>

namespace corvane {

namespace {

struct CoreSimulatorImage {
    QString uuid;
    QVariantMap path;
    QString build;
    QString platformIdentifier;
    QString bundleIdentifier;
};

bool isString(const QVariant &value)
{
    return value.typeId() == QMetaType::QString;
}

bool isMap(const QVariant &value)
{
    return value.typeId() == QMetaType::QVariantMap;
}

std::optional<QString> stringField(const QVariantMap &map, const QString &key)
{
    const auto it = map.find(key);
    if (it == map.end() || !isString(*it))
        return std::nullopt;
    return it->toString();
}

std::optional<CoreSimulatorImage> decodeImage(const QVariant &value)
{
    if (!isMap(value))
        return std::nullopt;
    const QVariantMap image = value.toMap();
    const auto uuid = stringField(image, "uuid");
    const auto path = image.value("path");
    const auto info = image.value("runtimeInfo");
    if (!uuid || !isMap(path) || !isMap(info))
        return std::nullopt;
    const QVariantMap pathMap = path.toMap();
    for (const auto &entry : pathMap)
        if (!isString(entry))
            return std::nullopt;
    const QVariantMap infoMap = info.toMap();
    const auto build = stringField(infoMap, "build");
    const auto platform = stringField(infoMap, "platformIdentifier");
    const auto bundle = stringField(infoMap, "bundleIdentifier");
    if (!build || !platform || !bundle)
        return std::nullopt;
    return CoreSimulatorImage{*uuid, pathMap, *build, *platform, *bundle};
}

// Every key is required: one incomplete image spoils the whole list.
std::optional<std::vector<CoreSimulatorImage>> decode(const QVariantMap &root)
{
    const QVariant images = root.value("images");
    if (images.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    std::vector<CoreSimulatorImage> result;
    for (const auto &value : images.toList()) {
        auto image = decodeImage(value);
        if (!image)
            return std::nullopt;
        result.push_back(std::move(*image));
    }
    return result;
}

} // namespace

std::vector<Runtime> installedRuntimes()
{
    const auto root = PropertyList::readDictionary(SystemPaths::current().coreSimulatorImages);
    if (!root)
        return {};
    const auto images = decode(*root);
    if (!images)
        return {};

    std::vector<Runtime> runtimes;
    for (const auto &image : *images) {
        QString identifier = image.bundleIdentifier;
        identifier.remove(QStringLiteral("com.apple.CoreSimulator.SimRuntime."));
        const qsizetype dash = identifier.indexOf('-');
        if (dash < 0)
            continue;
        const auto system = Runtime::systemFromName(identifier.left(dash));
        if (!system)
            continue;
        runtimes.emplace_back(*system, identifier.mid(dash + 1).replace('-', '.'));
    }
    return runtimes;
}

} // namespace corvane
