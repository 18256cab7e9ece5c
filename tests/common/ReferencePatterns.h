#pragma once

#include "core/Uuid.h"
#include "model/ActivityMonitor.h"

#include <QRegularExpression>

#include <optional>

// The parsers' patterns as first written. They backtrack over long lines, so
// the parsers now match in one pass; tests and fuzzers compare the two on
// short lines, where the patterns are the reference.
namespace corvane::reference {

// A device line of `simctl list`: name, upper-case UDID, state.
inline const QRegularExpression &deviceLinePattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"((.*)\s+\(([A-F0-9]{8,8}-[A-F0-9]{4,4}-[A-F0-9]{4,4}-)"
                       R"([A-F0-9]{4,4}-[A-F0-9]{12,12})\)\s+\(([^\)]+)\))"),
        QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

// A simulated application's line of the process list: pid, tty, time, the
// executable path and, in it, the device and installation UUIDs.
inline const QRegularExpression &applicationProcessPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(
            R"(^\s*(\d+)\s+([^\s]+)\s+([^\s]+)\s+(\/.+\/Library\/Developer\/CoreSimulator\/)"
            R"(Devices\/([0-9A-Z\-]{36,36})\/data\/Containers\/Bundle\/Application\/)"
            R"(([0-9A-Z\-]{36,36})\/.*\.app\/.*)\s*$)"),
        QRegularExpression::MultilineOption);
    return pattern;
}

// What the application pattern finds, as the process record.
inline std::optional<ActivityMonitor::SimApplicationProcess> applicationProcess(const QString &line)
{
    const auto match = applicationProcessPattern().match(line);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const qlonglong pid = match.captured(1).toLongLong(&ok);
    const auto device = parseUuid(match.capturedView(5));
    const auto application = parseUuid(match.capturedView(6));
    if (!ok || pid > 2147483647 || !device || !application)
        return std::nullopt;
    return ActivityMonitor::SimApplicationProcess{
        std::int32_t(pid), QUrl::fromLocalFile(match.captured(4)), *device, *application};
}

} // namespace corvane::reference
