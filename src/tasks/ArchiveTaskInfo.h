#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <stdexcept>

namespace corvane {

// The description of an application data archive, kept in the archive's
// "AppDataInfo.plist" (ArchiveTask reads and writes it).
struct ArchiveTaskInfo {
    QString applicationName;
    QString bundleIdentifier;
    QString minimumOSVersion;
    // The bundle's build, not its marketing version.
    QString executableVersion;
    QString executableName;
    QDateTime downloadDate;
    QStringList groupIdentifiers;

    friend bool operator==(const ArchiveTaskInfo &, const ArchiveTaskInfo &) = default;
};

// Why a description could not be decoded.
class ArchiveInfoError : public std::runtime_error {
public:
    explicit ArchiveInfoError(const QString &description)
        : std::runtime_error(description.toStdString())
    {
    }
};

} // namespace corvane
