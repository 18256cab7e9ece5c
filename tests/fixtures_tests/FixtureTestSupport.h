#pragma once

#include "fixtures/FixtureTree.h"

#include <QRegularExpression>
#include <QString>

namespace corvane::fixture::checks {

// The process-list expressions the activity monitor reads "ps" output with.
inline const QRegularExpression &simulatorLineExpression()
{
    static const QRegularExpression expression(
        R"(^\s*(\d+)\s+([^\s]+)\s+([^\s]+)\s+launchd_sim\s(\/.+\/Library\/Developer\/CoreSimulator\/Devices\/([0-9A-Z\-]{36,36})\/data\/var\/run\/launchd_bootstrap\.plist)\s*$)",
        QRegularExpression::MultilineOption);
    return expression;
}

inline const QRegularExpression &applicationLineExpression()
{
    static const QRegularExpression expression(
        R"(^\s*(\d+)\s+([^\s]+)\s+([^\s]+)\s+(\/.+\/Library\/Developer\/CoreSimulator\/Devices\/([0-9A-Z\-]{36,36})\/data\/Containers\/Bundle\/Application\/([0-9A-Z\-]{36,36})\/.*\.app\/.*)\s*$)",
        QRegularExpression::MultilineOption);
    return expression;
}

// Lines of the real "ps" that hold "CoreSimulator".
QStringList coreSimulatorProcessLines();

// A tree with one Xcode (selected), iOS 17.5 and one iPhone.
struct SmallTree {
    FixtureTree tree;
    QString xcode;
    QString udid;

    explicit SmallTree(bool booted = false, const XcodeSpec &spec = {});
    RunResult simctl(const QStringList &arguments) const { return tree.simctl(arguments); }
};

AppSpec sampleApp();

} // namespace corvane::fixture::checks
