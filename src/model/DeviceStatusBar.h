#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

class StatusBarPreset;

// A clock text such as "9:41 AM" as simctl wants it ("09:41"); any other
// text unchanged.
QString statusBarTimeText(const QString &time);

// The "status_bar … override" arguments for the preset; the Xcode version
// (nothing when the toolset is gone) decides two variations.
QStringList statusBarOverrideArguments(const StatusBarPreset &preset, const QString &udid,
                                       const std::optional<QString> &xcodeVersion);

// The version, compared numerically, is the minimum or later.
bool xcodeIsAtLeast(const QString &version, const QString &minimum);

} // namespace corvane
