#include "core/ProcessRunner.h"

#include "platform/ChildProcess.h"
#include "platform/Log.h"

#include <QStringDecoder>

namespace corvane {

std::optional<QString> trimmedUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return std::move(text).trimmed();
}

std::optional<QString> runProcess(const QString &path, const QStringList &arguments,
                                  std::optional<std::chrono::milliseconds> timeLimit)
{
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
    if (!timeLimit)
        return trimmedUtf8(process.readAllStandardOutput());

    const auto collected = process.collectOutput(ChildProcess::Clock::now() + *timeLimit);
    if (!collected.finished) {
        process.kill();
        log.error("%{PUBLIC}@ took longer than %{PUBLIC}@ ms and was ended", path,
                  QString::number(timeLimit->count()));
        return std::nullopt;
    }
    return trimmedUtf8(collected.standardOutput);
}

} // namespace corvane
