#include "core/ProcessRunner.h"

#include "platform/processes/ChildProcess.h"
#include "platform/Log.h"

#include <QStringDecoder>

#include <atomic>

namespace corvane {

namespace {

std::atomic<long long> g_toolTimeoutMs{10000};
// How long a late tool gets to end after SIGTERM.
constexpr std::chrono::milliseconds kTerminationGrace{500};

} // namespace

std::chrono::milliseconds toolProcessTimeout()
{
    return std::chrono::milliseconds(g_toolTimeoutMs.load());
}

void setToolProcessTimeout(std::chrono::milliseconds timeout)
{
    g_toolTimeoutMs.store(timeout.count());
}

std::optional<ChildProcess::CollectedOutput>
collectToolOutput(ChildProcess &process, std::optional<std::chrono::milliseconds> timeLimit)
{
    const auto limit = timeLimit.value_or(toolProcessTimeout());
    auto collected = process.collectOutput(ChildProcess::Clock::now() + limit);
    if (collected.finished)
        return collected;
    Log::process().error("%{PUBLIC}@ %{PUBLIC}@ took longer than %{PUBLIC}@ ms and was ended",
                         process.executablePath(), process.arguments().join(' '),
                         QString::number(limit.count()));
    process.terminate(kTerminationGrace);
    return std::nullopt;
}

bool awaitTool(ChildProcess &process)
{
    return collectToolOutput(process).has_value();
}

std::optional<QString> trimmedUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return std::move(text).trimmed();
}

std::optional<QString> runProcess(const QString &path, const QStringList &arguments,
                                  std::optional<std::chrono::milliseconds> timeLimit,
                                  bool *timedOut)
{
    if (timedOut)
        *timedOut = false;
    const Log log = Log::process();
    log.debug("%{PUBLIC}@ %{PUBLIC}@", path, arguments.join(' '));

    ChildProcess process;
    process.setExecutablePath(path);
    process.setArguments(arguments);
    process.setStandardOutput(ChildProcess::Channel::Pipe);
    try {
        process.launch();
    } catch (const LaunchError &error) {
        log.error("Error running process: %{PUBLIC}@", error.description());
        throw;
    }
    const auto collected = collectToolOutput(process, timeLimit);
    if (!collected) {
        if (timedOut)
            *timedOut = true;
        return std::nullopt;
    }
    return trimmedUtf8(collected->standardOutput);
}

} // namespace corvane
