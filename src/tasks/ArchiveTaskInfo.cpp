#include "tasks/ArchiveTask.h"

#include "model/Application.h"
#include "model/Container.h"
#include "platform/formats/PropertyList.h"
#include "platform/files/RegularFile.h"

#include <QLocale>
#include <QSet>
#include <QVariantMap>

#include <algorithm>

namespace corvane {

namespace {

const QString kApplicationName = "XCApplicationName";
const QString kBundleIdentifier = "CFBundleIdentifier";
const QString kMinimumOSVersion = "XCMinimumOSVersion";
const QString kExecutableVersion = "XCExecutableVersion";
const QString kExecutableName = "XCExecutableName";
const QString kDownloadDate = "XCDownloadDate";
const QString kGroupIdentifiers = "BNGroupIdentifiers";

// A description is a few hundred bytes; anything far larger is no description
// and is not read whole.
constexpr qint64 kMaxInfoSize = 1 << 20;

QString requiredString(const QVariantMap &dictionary, const QString &key)
{
    const auto it = dictionary.constFind(key);
    if (it == dictionary.constEnd())
        throw ArchiveInfoError(QStringLiteral("The key “%1” is missing.").arg(key));
    if (it->typeId() != QMetaType::QString)
        throw ArchiveInfoError(QStringLiteral("The value of “%1” is not a string.").arg(key));
    return it->toString();
}

QStringList optionalStrings(const QVariantMap &dictionary, const QString &key)
{
    const auto it = dictionary.constFind(key);
    if (it == dictionary.constEnd())
        return {};
    const auto notStrings = [&] {
        return ArchiveInfoError(
            QStringLiteral("The value of “%1” is not a list of strings.").arg(key));
    };
    if (it->typeId() != QMetaType::QVariantList)
        throw notStrings();
    QStringList strings;
    for (const QVariant &item : it->toList()) {
        if (item.typeId() != QMetaType::QString)
            throw notStrings();
        strings.append(item.toString());
    }
    return strings;
}

} // namespace

QString ArchiveTask::formatDate(const QDateTime &date)
{
    return QLocale::c().toString(date.toLocalTime(), dateFormat);
}

QDateTime ArchiveTask::parseDate(const QString &text)
{
    return QLocale::c().toDateTime(text, dateFormat);
}

ArchiveTaskInfo ArchiveTask::makeInfo(Application &application, const QDateTime &now)
{
    Q_ASSERT(application.identifier());
    QStringList groups;
    for (const auto &container : application.groupContainers())
        groups.append(container->identifier());
    return {application.title(),
            application.identifier().value_or(QString()),
            application.minimumOS(),
            application.build(),
            application.executable(),
            now,
            groups};
}

QByteArray ArchiveTask::encodeInfo(const ArchiveTaskInfo &info)
{
    const QVariantMap dictionary{
        {kApplicationName, info.applicationName},   {kBundleIdentifier, info.bundleIdentifier},
        {kMinimumOSVersion, info.minimumOSVersion}, {kExecutableVersion, info.executableVersion},
        {kExecutableName, info.executableName},     {kDownloadDate, formatDate(info.downloadDate)},
        {kGroupIdentifiers, info.groupIdentifiers}};
    QByteArray data = PropertyList::toBinary(dictionary);
    if (data.isEmpty())
        throw ArchiveInfoError("The archive description could not be encoded.");
    return data;
}

ArchiveTaskInfo ArchiveTask::decodeInfo(const QByteArray &data)
{
    const auto root = PropertyList::parse(data);
    if (!root)
        throw ArchiveInfoError("The data is not a property list.");
    if (root->typeId() != QMetaType::QVariantMap)
        throw ArchiveInfoError("The property list is not a dictionary.");
    const QVariantMap dictionary = root->toMap();

    ArchiveTaskInfo info;
    info.applicationName = requiredString(dictionary, kApplicationName);
    info.bundleIdentifier = requiredString(dictionary, kBundleIdentifier);
    info.minimumOSVersion = requiredString(dictionary, kMinimumOSVersion);
    info.executableVersion = requiredString(dictionary, kExecutableVersion);
    info.executableName = requiredString(dictionary, kExecutableName);
    const QString date = requiredString(dictionary, kDownloadDate);
    info.downloadDate = parseDate(date);
    if (!info.downloadDate.isValid())
        throw ArchiveInfoError(
            QStringLiteral("The value of “%1” is not a date in the form %2: “%3”.")
                .arg(kDownloadDate, dateFormat, date));
    info.groupIdentifiers = optionalStrings(dictionary, kGroupIdentifiers);
    return info;
}

std::optional<ArchiveTaskInfo> ArchiveTask::readInfo(const QUrl &url)
{
    // Only a regular file: opening a pipe left in an archive would hang.
    RegularFile file(url.toLocalFile());
    const auto bytes = file.readAll(kMaxInfoSize);
    try {
        if (file.error() == RegularFile::Error::tooLarge)
            throw ArchiveInfoError("The file is too large to be an archive description.");
        if (!bytes)
            return std::nullopt;
        return decodeInfo(*bytes);
    } catch (const ArchiveInfoError &error) {
        log().error("Error decoding archive property list info: %{PUBLIC}@", error.what());
        return std::nullopt;
    }
}

bool ArchiveTask::isValid(const ArchiveTaskInfo &info, Application &application)
{
    const auto identifier = application.identifier();
    if (!identifier || info.bundleIdentifier != *identifier)
        return false;
    if (info.groupIdentifiers.isEmpty())
        return true;
    QSet<QString> groups;
    for (const auto &container : application.groupContainers())
        groups.insert(container->identifier());
    return std::all_of(info.groupIdentifiers.begin(), info.groupIdentifiers.end(),
                       [&](const QString &group) { return groups.contains(group); });
}

} // namespace corvane
