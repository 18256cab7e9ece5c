#include "model/DeviceStatusBar.h"

#include "core/CorvaneSettings.h"
#include "core/StringCompare.h"
#include "core/Toolset.h"
#include "model/Device.h"
#include "model/StatusBarPreset.h"
#include "model/StatusBarPresetRepository.h"

#include <QRegularExpression>

namespace corvane {

QString statusBarTimeText(const QString &time)
{
    static const QRegularExpression pattern("^([0-9]{1,2}):([0-9]{1,2})\\s*([AaPp][Mm])$");
    const QRegularExpressionMatch match = pattern.match(time);
    if (!match.hasMatch())
        return time;
    const int hour = match.captured(1).toInt();
    const int minute = match.captured(2).toInt();
    if (hour < 1 || hour > 12 || minute > 59)
        return time;
    const bool pm = match.captured(3).compare("pm", Qt::CaseInsensitive) == 0;
    const int hour24 = hour % 12 + (pm ? 12 : 0);
    return QStringLiteral("%1:%2").arg(hour24, 2, 10, QChar('0')).arg(minute, 2, 10, QChar('0'));
}

bool xcodeIsAtLeast(const QString &version, const QString &minimum)
{
    return numericCompare(version, minimum) != ComparisonResult::Ascending;
}

QStringList statusBarOverrideArguments(const StatusBarPreset &preset, const QString &udid,
                                       const std::optional<QString> &xcodeVersion)
{
    QString network = preset.dataNetwork();
    // Xcodes up to 15.3 know "notSupported" only as "hide".
    if (xcodeVersion && numericCompare(*xcodeVersion, u"15.3") != ComparisonResult::Descending &&
        network == "notSupported")
        network = "hide";
    network.remove(' ');

    QStringList arguments{"status_bar",
                          udid,
                          "override",
                          "--time",
                          statusBarTimeText(preset.time()),
                          "--dataNetwork",
                          network,
                          "--wifiMode",
                          preset.wifiMode(),
                          "--wifiBars",
                          QString::number(preset.wifiBars()),
                          "--cellularMode",
                          preset.cellularMode(),
                          "--cellularBars",
                          QString::number(preset.cellularBars()),
                          "--batteryState",
                          preset.batteryState(),
                          "--batteryLevel",
                          QString::number(preset.batteryLevel())};
    if (xcodeVersion && xcodeIsAtLeast(*xcodeVersion, "11.4"))
        arguments << "--operatorName" << QString(preset.carrierName()).replace('-', '_');
    return arguments;
}

void Device::setStatusBarUsing(const StatusBarPreset &preset)
{
    auto toolset = this->toolset();
    if (!toolset)
        return;
    try {
        toolset->run(statusBarOverrideArguments(preset, udid(), toolset->version()));
    } catch (const std::exception &) {
        // The runner has logged it; the status bar keeps what it showed.
    }
}

void Device::resetStatusBar()
{
    auto toolset = this->toolset();
    if (!toolset)
        return;
    try {
        toolset->run({"status_bar", udid(), "clear"});
    } catch (const std::exception &) {
    }
}

void Device::applyAutoAppliedStatusBar()
{
    const auto identifier = CorvaneSettings::shared()->autoAppliedStatusBar();
    if (!identifier)
        return;
    if (auto preset = StatusBarPresetRepository::shared()->presetWithIdentifier(*identifier))
        setStatusBarUsing(*preset);
}

} // namespace corvane
