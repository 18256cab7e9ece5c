#pragma once

#include "platform/processes/ChildProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace corvane {

// The deadline of every tool run, simctl's and the host tools' alike: 10
// seconds unless a test changes it.
std::chrono::milliseconds toolProcessTimeout();
void setToolProcessTimeout(std::chrono::milliseconds timeout);

// Runs a tool and returns its standard output, trimmed, once the tool closes
// it; nothing when the output is no UTF-8. Standard error is inherited and
// the exit status ignored. Throws LaunchError.
//
// A tool still running when its time limit (the tool deadline unless given)
// passes is ended as collectToolOutput ends it and gives nothing, with
// `timedOut` set; a descendant still holding the output is not waited for.
std::optional<QString> runProcess(const QString &path, const QStringList &arguments,
                                  std::optional<std::chrono::milliseconds> timeLimit = {},
                                  bool *timedOut = nullptr);

// Waits for a launched tool until its time limit (the tool deadline unless
// given), reading its pipes. One still running then is ended with every
// process it started that is still in its group (SIGTERM, then SIGKILL),
// logged, and gives nothing: what it printed so far is no answer.
std::optional<ChildProcess::CollectedOutput>
collectToolOutput(ChildProcess &process, std::optional<std::chrono::milliseconds> timeLimit = {});

// collectToolOutput, for a tool whose output is not wanted. False when it
// had to be ended.
bool awaitTool(ChildProcess &process);

// UTF-8 text trimmed of whitespace and newlines, or nothing for bytes that
// are no UTF-8.
std::optional<QString> trimmedUtf8(const QByteArray &bytes);

} // namespace corvane
