#include "model/DeviceCapture.h"

#include "core/FileNames.h"
#include "model/DeviceStatusBar.h"

namespace corvane {

namespace {

bool capturesHaveOptions(const std::optional<QString> &xcodeVersion)
{
    return xcodeVersion && xcodeIsAtLeast(*xcodeVersion, "11.4");
}

QString maskOption(bool includeMask)
{
    return includeMask ? "--mask=black" : "--mask=ignored";
}

} // namespace

QString imageFileExtension(const QString &imageFormat)
{
    return imageFormat == "jpeg" ? "jpg" : "png";
}

QString screenshotFileName(const QString &title, const QString &dateText,
                           const QString &imageFormat)
{
    return safeFileName("Simulator Screen Shot - " + title + " - " + dateText + "." +
                        imageFileExtension(imageFormat));
}

QString recordingFileName(const QString &title, const QString &dateText)
{
    return safeFileName("Simulator Screen Recording - " + title + " - " + dateText + ".mp4");
}

QStringList screenshotArguments(const QString &udid, const QString &targetPath,
                                const std::optional<QString> &xcodeVersion,
                                const QString &imageFormat, bool includeMask)
{
    QStringList arguments{"io", udid, "screenshot"};
    if (capturesHaveOptions(xcodeVersion))
        arguments << maskOption(includeMask)
                  << (imageFormat == "jpeg" ? "--type=jpeg" : "--type=png");
    return arguments << targetPath;
}

QStringList recordingArguments(const QString &udid, const QString &targetPath,
                               const std::optional<QString> &xcodeVersion,
                               const QString &videoFormat, bool includeMask)
{
    QStringList arguments{"io", udid, "recordVideo"};
    const bool options = capturesHaveOptions(xcodeVersion);
    if (options)
        arguments << (videoFormat == "hevc" ? "--codec=hevc" : "--codec=h264");
    arguments << "--display=internal";
    if (options)
        arguments << maskOption(includeMask);
    return arguments << targetPath;
}

} // namespace corvane
