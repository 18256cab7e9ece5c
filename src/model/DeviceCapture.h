#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

// "Simulator Screen Shot - <title> - <date>.<jpg|png>"; the title made fit
// for a file name. Any image format but "jpeg" is PNG.
QString screenshotFileName(const QString &title, const QString &dateText,
                           const QString &imageFormat);
// "Simulator Screen Recording - <title> - <date>.mp4".
QString recordingFileName(const QString &title, const QString &dateText);
QString imageFileExtension(const QString &imageFormat);

// "io <udid> screenshot [--mask=… --type=…] <path>"; the options from Xcode
// 11.4 on (nothing: the toolset is gone).
QStringList screenshotArguments(const QString &udid, const QString &targetPath,
                                const std::optional<QString> &xcodeVersion,
                                const QString &imageFormat, bool includeMask);
// "io <udid> recordVideo [--codec=…] --display=internal [--mask=…] <path>".
// Any video format but "hevc" is H.264.
QStringList recordingArguments(const QString &udid, const QString &targetPath,
                               const std::optional<QString> &xcodeVersion,
                               const QString &videoFormat, bool includeMask);

} // namespace corvane
