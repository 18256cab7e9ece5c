#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace corvane {

// Runs a tool and returns its standard output, trimmed, once the tool closes
// it; nothing when the output is no UTF-8. Standard error is inherited and
// the exit status ignored. Throws LaunchError.
//
// With a time limit, a tool still running when it passes is ended (SIGKILL)
// and gives nothing; a descendant still holding the output is not waited for.
std::optional<QString> runProcess(const QString &path, const QStringList &arguments,
                                  std::optional<std::chrono::milliseconds> timeLimit = {});

// UTF-8 text trimmed of whitespace and newlines, or nothing for bytes that
// are no UTF-8.
std::optional<QString> trimmedUtf8(const QByteArray &bytes);

} // namespace corvane
