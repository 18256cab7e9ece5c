#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

// Runs a tool and returns its standard output, trimmed, once the tool closes
// it; nothing when the output is no UTF-8. Standard error is inherited and
// the exit status ignored. Throws LaunchError.
std::optional<QString> runProcess(const QString &path, const QStringList &arguments);

// UTF-8 text trimmed of whitespace and newlines, or nothing for bytes that
// are no UTF-8.
std::optional<QString> trimmedUtf8(const QByteArray &bytes);

} // namespace corvane
